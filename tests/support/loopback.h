#pragma once
// TCP on 127.0.0.1 through the port layer's sockets. On Windows the socket
// library must have been started (port::socket_startup) first.

#include "port/socket.h"

#include <cstdint>
#include <functional>
#include <string>

namespace support {

inline constexpr uint32_t loopback = 0x7F000001;

// A port that nobody used a moment ago, on every address; with
// `acceptable`, one that it accepts (0 when twenty tries found none).
uint16_t free_port(const std::function<bool(uint16_t)>& acceptable = {});

// Connects to 127.0.0.1:port, retrying while nobody listens yet, for at
// most timeout_ms; !valid() when it never got through.
port::Socket connect_loopback(uint16_t port, int timeout_ms = 10000);

// Exactly n bytes within timeout_ms; what arrived when the time is up or
// the peer closed first.
std::string recv_exactly(port::Socket& socket, size_t n, int timeout_ms = 10000);

} // namespace support
