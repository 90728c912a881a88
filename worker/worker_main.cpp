#include "worker/worker.h"

#include <cstdlib>

int worker_main(int, char** argv)
{
    // An event that does not open leaves the worker without one: it then
    // ends at its first wait for a client.
    port::NamedEvent stop_event = port::NamedEvent::open(argv[1]);
    int line_flags = std::atoi(argv[5]);
    int dtro = std::atoi(argv[6]);
    int dtrc = std::atoi(argv[7]);
    // The receiver's number as the manager wrote it; sign-extended as a
    // window handle is.
    auto report_target = static_cast<uintptr_t>(static_cast<intptr_t>(std::atoi(argv[8])));
    worker_client_loop(stop_event, argv[2], argv[3], argv[4], line_flags, dtro, dtrc, report_target);
    return 0;
}
