#pragma once
// Helpers for the tarn tests: a fixture that starts the socket library for
// the test's own peer sockets and leaves no descriptor open, an abort
// callback that counts its calls, and loopback ports that tarn_open takes
// for TCP ports.

#include "port/socket.h"
#include "support/deadline.h"
#include "support/loopback.h"
#include "tarn/tarn_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace tarn_test {

using clock_type = support::Clock;
using support::connect_loopback;
using support::loopback;
using support::ms_since;
using support::recv_exactly;

// Abort callbacks with a shared call count and a threshold: the callback
// answers nonzero from call number `abort_from` on (0: never).
inline std::atomic<int> calls{0};
inline std::atomic<int> abort_from{0};
inline int counting_callback()
{
    int n = ++calls;
    int from = abort_from;
    return from > 0 && n >= from;
}
inline void reset_callback(int from)
{
    calls = 0;
    abort_from = from;
}

class TarnTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port::SocketLibraryInfo info;
        ASSERT_EQ(port::socket_startup(info), 0);
        tarn_error = TARN_ERR_NONE;
        reset_callback(0);
    }
    void TearDown() override
    {
        tarn_close(0);
        tarn_close(1);
        port::socket_cleanup();
    }
};

// Whether tarn_open takes this port number, as a parameter, for a TCP
// service rather than a baud rate.
inline bool tcp_like(uint16_t port) { return port > 2400 && port % 1200 != 0; }

// A listening socket on 127.0.0.1 with a port of the system's choice, one
// that tarn_open takes for a TCP port (not a multiple of 1200).
inline port::Socket listener(uint32_t address = loopback)
{
    port::Socket refused; // held, so that the next try gets another port
    for (int i = 0; i < 20; ++i) {
        port::Socket s = port::Socket::stream();
        EXPECT_TRUE(s.valid());
        EXPECT_TRUE(s.bind(address, 0));
        EXPECT_TRUE(s.listen(5));
        if (tcp_like(s.local_port()))
            return s;
        refused = std::move(s);
    }
    ADD_FAILURE() << "no port that reads as a TCP port";
    return {};
}

// A port that was free a moment ago and reads as a TCP port.
inline uint16_t free_port()
{
    uint16_t port = support::free_port(tcp_like);
    EXPECT_NE(port, 0) << "no port that reads as a TCP port";
    return port;
}

} // namespace tarn_test
