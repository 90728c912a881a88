// Worker mode: the stop event opened by name, then the client loop with
// the other words of the command line.

#include "worker/worker.h"
#include "worker/worker_args.h"

int worker_main(int, char** argv)
{
    worker_args args = worker_read_args(argv);
    // An event that does not open leaves the worker without one: it then
    // ends at its first wait for a client.
    port::NamedEvent stop_event = port::NamedEvent::open(args.event_name);
    worker_client_loop(stop_event, args.tcp_port, args.serial_port, args.baud_rate, args.line_flags, args.dtro,
                       args.dtrc, args.report_target);
    return 0;
}
