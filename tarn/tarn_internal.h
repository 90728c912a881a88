#pragma once
// The parts of tarn that the relay and the library's own tests use beside
// the public interface of tarn.h.

#include "port/serial.h"
#include "port/socket.h"
#include "tarn/tarn.h"

#include <cstdint>
#include <optional>

// The kind that tarn_open gives a device of this name and (non-empty)
// parameter: TARN_SOCKET or TARN_SERIAL.
int tarn_decide_kind(const char* name, const char* parameter);

// The slot's kind: TARN_FREE, TARN_SERIAL or TARN_SOCKET; TARN_FREE for a
// descriptor outside 0..1.
int tarn_slot_kind(int descriptor);

// The slot's single read and write attempt (read_fn / write_fn), without
// abort polling. Serial: the count read (0 when nothing is queued) or
// written, -1 with TARN_ERR_COMMUNICATION. Socket: the count, 0 when nothing
// can be moved now, -1 with TARN_ERR_PEER_CLOSED or TARN_ERR_FORMATTED
// ("recv: %s" / "send: %s").
// The descriptor must be open.
int tarn_slot_read(int descriptor, void* buffer, int size);
int tarn_slot_write(int descriptor, const void* buffer, int count);
// The same write, on a serial port ended early as well, with the count
// written so far (0 included), once an object of `interrupt` is signalled
// or timeout_ms (when 0 or more) have passed while the driver or flow
// control holds it. Other kinds ignore both.
int tarn_slot_write_watched(int descriptor, const void* buffer, int count, const port::WakeSet& interrupt,
                            int timeout_ms = -1);

// The descriptor's connected socket (a server's current client or a
// client's connection) for readiness waits; null when the descriptor is not
// a socket or has no connection.
port::Socket* tarn_slot_socket(int descriptor);
// A server descriptor's listening socket, where the next clients wait;
// null for any other descriptor.
port::Socket* tarn_slot_listener(int descriptor);
// Makes `client`, accepted from the server's listening socket by its
// caller, the one the next tarn_accept() of the server takes instead of
// waiting (a client that takes over). Nothing for another descriptor.
void tarn_slot_hand_over(int descriptor, port::Socket client);

// The address the servers opened from now on listen on: IPv4 or IPv6;
// the IPv4 "every interface" (0.0.0.0) until it is set.
void tarn_listen_on(const port::IpAddress& address);

// The descriptor's open serial port, for status fetches, the event mask
// and the cancellable event wait; null when the descriptor is not a serial
// port.
port::SerialPort* tarn_slot_serial(int descriptor);

// Formats a failure text into the message buffer and sets tarn_error to
// TARN_ERR_FORMATTED, both under one lock; a text longer than 255 bytes is cut.
void tarn_fail(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The lookups of the socket driver. Service: the TCP port in host order; a
// text beginning with 1-9 is a decimal number (above 65535 refused), any
// other a services database name with the fallbacks telnet = 23 and
// ftxp = 3010. Host: a text beginning with a digit is a dotted address of
// one to four parts, a.b.c.d, a.b (= a << 24 | b) or a (the whole address);
// any other is resolved. Both leave tarn_error set on failure.
std::optional<uint16_t> tarn_lookup_service(const char* text);
std::optional<uint32_t> tarn_lookup_host(const char* text);
