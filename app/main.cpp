#include "ui/manager_startup.h"
#include "worker/worker.h"

// Nine arguments, the program path included, make a worker; any other
// count is the manager.
int main(int argc, char** argv)
{
    if (argc == 9)
        return worker_main(argc, argv);
    managerStartup(argc, argv);
    return 0;
}
