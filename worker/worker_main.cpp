#include "worker/worker.h"

int worker_main(int, char**)
{
    return 0;
}
