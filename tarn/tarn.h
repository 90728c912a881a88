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

namespace port {
class WakeSet;
}

// Abort callback: nonzero asks every waiting tarn operation to give up
// with TARN_ERR_ABORTED.
using tarn_abort_fn = int (*)();

// Wake objects (port/wake.h): a caller may hand tarn_open objects to sleep
// on as well. Any of them signalled asks for the same as a nonzero answer
// of the callback, and is seen at once: a wait that it ends fails with
// TARN_ERR_ABORTED without waiting for the callback to agree. While every
// open descriptor with a callback also has wake objects, the waits sleep
// until the device or one of the objects is ready, and the callbacks are
// polled after each wake-up; otherwise the callbacks are polled at least
// every 50 ms.

// Calendar time in seconds and the milliseconds within that second.
struct tarn_time {
    int32_t seconds;
    int32_t milliseconds;
};

// The values of tarn_error. tarn_error_text() gives the text in quotes.
enum tarn_error_code : int {
    TARN_ERR_NONE = 0,             // nothing has failed yet (the initial value; not a code)
    TARN_ERR_BAUDRATE = 1,         // "illegal or unsupported baudrate": open with an empty parameter
    TARN_ERR_ABORTED = 2,          // "operation aborted": an abort callback answered nonzero
    TARN_ERR_PEER_CLOSED = 3,      // "connection closed by peer": a socket read saw an orderly close
    TARN_ERR_NO_DESCRIPTOR = 4,    // "no more tarn file descriptors": open with both slots in use
    TARN_ERR_FORMATTED = 5,        // the failure formatted its own text into the message buffer
    TARN_ERR_GET_TTY = 6,          // "can not get tty port attributes" (not raised)
    TARN_ERR_COMMUNICATION = 7,    // "communication error": a serial read, write or event wait failed
    TARN_ERR_NO_MEMORY = 8,        // "not enough memory": open could not copy the name or parameter
    TARN_ERR_UNSUPPORTED = 9,      // "unsupported operation": accept on a descriptor that is no socket
    TARN_ERR_PORT_OPEN = 10,       // "can not open port to execution environment": the device did not open
    TARN_ERR_PORT_NAME = 11,       // "illegal or unsupported port": open with an empty name
    TARN_ERR_SET_TTY = 12,         // "can not set tty port attributes": the serial set-up failed
    TARN_ERR_READ_TIMEOUT = 13,    // "read timed out" (not raised)
    TARN_ERR_GET_TERMINAL = 14,    // "can not get terminal attributes" (not raised)
    TARN_ERR_TRANSPARENCY = 15,    // "transparency mode requires a tty" (not raised)
    TARN_ERR_SET_TERMINAL = 16,    // "can not set terminal attributes" (not raised)
    TARN_ERR_NO_PWTCP = 17,        // "PWTCP not installed" (not raised)
    TARN_ERR_UNKNOWN_HOST = 18,    // "unknown host name": the host lookup found nothing
    TARN_ERR_UNKNOWN_SERVICE = 19, // "unknown TCP/IP service": the service lookup found nothing
    TARN_ERR_NO_SERVICES = 20,     // "services database not available" (not raised)
    TARN_ERR_NO_SOCKETS = 21,      // "no more sockets available" (not raised)
    TARN_ERR_NONBLOCKING = 22,     // "can not set socket in nonblocking mode"
    TARN_ERR_NODELAY = 23,         // "can not set TCP NODELAY option" (not raised: that failure formats its text)
    TARN_ERR_MESSAGE = 24,         // the message buffer, as TARN_ERR_FORMATTED (not raised)
    TARN_ERR_WINSOCK_RANGE = 25,   // "WINSOCK version out of range": the socket library refused version 1.1
    TARN_ERR_WINSOCK_OLD = 26,     // "WINSOCK version too old": the socket library offers less than 1.1
    TARN_ERR_NO_TCPIP = 27,        // "WINSOCK found but TCP/IP not enabled": the network subsystem is down
    TARN_ERR_LAST = TARN_ERR_NO_TCPIP, // the highest code with a text
};

// The process-wide error code, a tarn_error_code; the last failure wins.
extern std::atomic<int> tarn_error;

// Error texts.
const char* tarn_error_text();
const char* tarn_socket_error_text(int code);

// Opening by name. " server " listens on the TCP port or service given as
// parameter and returns with its first client; " servers " does the same
// with address reuse; a name with a baud rate opens a serial port with the
// serial_line_flags word (port::SERIAL_LINE_* of port/serial.h); anything
// else the parameter marks as a TCP service connects to that host.
// The wake objects, if any, stay the caller's and must outlive the
// descriptor.
int tarn_open(const char* name, const char* parameter, int flags, tarn_abort_fn abort_callback,
              const port::WakeSet* wake = nullptr);

// Data transfer on an open descriptor.
int tarn_read(int descriptor, void* buffer, int size, int minimum);
int tarn_read_full(int descriptor, void* buffer, int size);
int tarn_write(int descriptor, const void* buffer, int count);
void tarn_close(int descriptor);
// Nonzero when a callback answers nonzero or a wake object is signalled.
int tarn_poll_abort();

// Servers: drop the current client and wait for the next one. A client
// that already left without sending a byte is dropped unserved and the
// wait goes on. Each client gets Nagle off, keepalive and a bound on
// unacknowledged data (a client gone is let go within about a minute),
// each where the system takes it: a refused option refuses no client.
int tarn_accept(int descriptor);

// Serial ports: raise (on != 0) or drop the DTR line.
int tarn_set_dtr(int descriptor, int on);

// Time.
void tarn_now(tarn_time* t);
void tarn_time_add(tarn_time* t, int seconds, unsigned milliseconds);
bool tarn_time_passed(const tarn_time* t);
void tarn_pace();
