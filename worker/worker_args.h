#pragma once
// The worker's eight words as the client loop takes them.

#include <cstdint>

struct worker_args {
    const char* event_name;
    const char* tcp_port;
    const char* serial_port;
    const char* baud_rate;
    int line_flags;
    int dtro;
    int dtrc;
    uintptr_t report_target;
};

// argv: the program path and the eight worker words (see worker.h); the
// numbers are read with atoi.
worker_args worker_read_args(char** argv);
