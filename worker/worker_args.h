#pragma once
// The worker's eight words as the client loop takes them.

#include <cstdint>

// The worker's own bits of the flags word, above the serial_line_flags
// bits of port/serial.h (the serial driver ignores them): the protocol on
// the connection (set: Telnet with the COM-PORT option; clear: the board's
// bytes as they are), and what a client that comes while another is served
// gets (neither busy bit: it waits in the listening socket's queue). A bit
// that means nothing here is ignored.
enum : uint32_t {
    WORKER_PROTOCOL_RFC2217 = 0x0100,
    WORKER_BUSY_REFUSE = 0x1000,    // one line "Busy: ..." and closed
    WORKER_BUSY_TAKE_OVER = 0x2000, // ends the served client's connection and is served
    WORKER_BUSY_MASK = WORKER_BUSY_REFUSE | WORKER_BUSY_TAKE_OVER,
};

// The worker's environment, as the manager sets it: the listen address
// (an address of port/ip_address.h or "localhost"; unset: every IPv4
// interface) and the allow list (unset: everybody). Where the worker
// reports its clients is port/client_report.h's CLIENT_REPORT_VARIABLE.
inline constexpr const char* WORKER_LISTEN_VARIABLE = "VANTREL_LISTEN";
inline constexpr const char* WORKER_ALLOW_VARIABLE = "VANTREL_ALLOW";

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
