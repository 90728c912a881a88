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
// numbers are read with atoi, the report target with
// worker_report_target().
worker_args worker_read_args(char** argv);

// The eighth word: an unsigned decimal of 32 bits (strtoul), sign-extended
// as a 32-bit window handle is, so that 4294967295 becomes all ones.
uintptr_t worker_report_target(const char* word);
