// The worker's command line: its eight words as the client loop takes
// them.

#include "worker/worker_args.h"

#include <cstdlib>

uintptr_t worker_report_target(const char* word)
{
    // The manager writes the 32-bit value unsigned; a window handle is
    // that value sign-extended.
    const auto value = static_cast<uint32_t>(std::strtoul(word, nullptr, 10));
    return static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

worker_args worker_read_args(char** argv)
{
    worker_args args{};
    args.event_name = argv[1];
    args.tcp_port = argv[2];
    args.serial_port = argv[3];
    args.baud_rate = argv[4];
    args.line_flags = std::atoi(argv[5]);
    args.dtro = std::atoi(argv[6]);
    args.dtrc = std::atoi(argv[7]);
    args.report_target = worker_report_target(argv[8]);
    return args;
}
