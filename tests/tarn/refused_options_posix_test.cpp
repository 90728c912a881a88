// The server on Linux when the system refuses a client's socket options
// (Nagle off, keepalive, the retransmission bound): the client is served
// all the same. The refusal is made here, by a setsockopt() of this test
// program's own in front of the C library's, switched on per test.

#include "tarn_test_support.h"

#include <cerrno>
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

namespace {

std::atomic<bool> refusing{false};
std::atomic<int> refused{0};

bool per_client_option(int level, int name)
{
    if (level == SOL_SOCKET)
        return name == SO_KEEPALIVE;
    return level == IPPROTO_TCP
           && (name == TCP_NODELAY || name == TCP_KEEPIDLE || name == TCP_KEEPINTVL || name == TCP_KEEPCNT
               || name == TCP_USER_TIMEOUT);
}

} // namespace

extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t length)
{
    using call = int (*)(int, int, int, const void*, socklen_t);
    static const call next = reinterpret_cast<call>(dlsym(RTLD_NEXT, "setsockopt"));
    if (refusing && per_client_option(level, name)) {
        ++refused;
        errno = ENOPROTOOPT;
        return -1;
    }
    return next(fd, level, name, value, length);
}

using namespace tarn_test;

using TarnRefusedOptions = TarnTest;

TEST_F(TarnRefusedOptions, AClientIsServedWithoutTheOptionsTheSystemRefuses)
{
    const uint16_t port = free_port();
    reset_callback(400); // ends a wait that finds no client after about 20 s
    refusing = true;
    refused = 0;
    int d = -2;
    std::thread opener([&] { d = tarn_open(" server ", std::to_string(port).c_str(), 0, counting_callback); });
    port::Socket first = connect_loopback(port);
    opener.join();
    ASSERT_TRUE(first.valid());
    ASSERT_EQ(d, 0) << tarn_error_text();
    EXPECT_GT(refused.load(), 0) << "no option was tried";

    // Served both ways, and the next one too.
    ASSERT_EQ(first.send("up", 2), 2);
    char buf[2];
    EXPECT_EQ(tarn_read_full(d, buf, 2), 2);
    EXPECT_EQ(tarn_write(d, "down", 4), 4);
    EXPECT_EQ(recv_exactly(first, 4), "down");
    port::Socket second = connect_loopback(port);
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(tarn_accept(d), 0) << tarn_error_text();
    EXPECT_EQ(tarn_write(d, "next", 4), 4);
    EXPECT_EQ(recv_exactly(second, 4), "next");
    refusing = false;
}
