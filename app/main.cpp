// The program's entry: one executable that is a worker or the manager by
// its argument count.

#include "manager/program_options.h"
#include "ui/manager_startup.h"
#include "worker/worker.h"

// Nine arguments, the program path included, make a worker; any other
// count is the manager: the window, or what its options ask for
// (headless mode, the usage, the version).
int main(int argc, char** argv)
{
    if (argc == 9)
        return worker_main(argc, argv);
    const ProgramOptions options = parseProgramOptions(argc, argv);
    if (options.mode != ProgramOptions::Window)
        return runProgramOptions(options);
    return managerStartup(argc, argv);
}
