#pragma once
// tarn: a small descriptor-based I/O library that gives serial ports and
// TCP sockets one interface. A device is opened by name and then named by
// a descriptor, 0 or 1, the index of a two-slot table. Every failing call
// returns -1 (or a null pointer) and sets the process-wide tarn_error,
// whose text tarn_error_text() gives. Nothing here throws, prints or ends
// the process.

#include <atomic>
#include <cstdint>

enum { TARN_FREE = 0, TARN_SERIAL = 1, TARN_SOCKET = 2 };

// Abort callback: nonzero asks every waiting tarn operation to give up
// with code 2 ("operation aborted").
using tarn_abort_fn = int (*)();

// Calendar time in seconds and the milliseconds within that second.
struct tarn_time {
    int32_t seconds;
    int32_t milliseconds;
};

// The process-wide error code, 1 to 27; the last failure wins.
extern std::atomic<int> tarn_error;

// Error texts.
const char* tarn_error_text();
const char* tarn_socket_error_text(int code);

// Opening by name. " server " listens on the TCP port or service given as
// parameter and returns with its first client; " servers " does the same
// with address reuse; a name with a baud rate opens a serial port with the
// serial_line_flags word; anything else the parameter marks as a TCP
// service connects to that host.
int tarn_open(const char* name, const char* parameter, int flags, tarn_abort_fn abort_callback);

// Data transfer on an open descriptor.
int tarn_read(int descriptor, void* buffer, int size, int minimum);
int tarn_read_full(int descriptor, void* buffer, int size);
int tarn_write(int descriptor, const void* buffer, int count);
void tarn_close(int descriptor);
int tarn_poll_abort();

// Servers: drop the current client and wait for the next one.
int tarn_accept(int descriptor);

// Serial ports: raise (on != 0) or drop the DTR line.
int tarn_set_dtr(int descriptor, int on);

// serial_line_flags bits.
enum : int {
    SERIAL_XONXOFF = 0x01,
    SERIAL_RTSCTS = 0x02,
    SERIAL_PARITY = 0x20,
    SERIAL_ODD = 0x40,
    SERIAL_TWO_STOP = 0x80,
};

// Time.
void tarn_now(tarn_time* t);
void tarn_time_add(tarn_time* t, int seconds, unsigned milliseconds);
bool tarn_time_passed(const tarn_time* t);
void tarn_pace();
