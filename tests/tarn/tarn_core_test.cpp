// The descriptor table, error codes and texts, read/write/close/abort
// semantics and the time functions.

#include "tarn_test_support.h"

#include "support/temp_dir.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace tarn_test;

namespace {

// Two connected client descriptors on one loopback listener, with the
// listener's ends of both connections.
struct TwoClients {
    port::Socket server = listener();
    port::Socket peer[2];
    int d[2] = {-1, -1};

    explicit TwoClients(tarn_abort_fn cb0 = nullptr, tarn_abort_fn cb1 = nullptr)
    {
        std::string p = std::to_string(server.local_port());
        tarn_abort_fn cbs[2] = {cb0, cb1};
        for (int i = 0; i < 2; ++i) {
            d[i] = tarn_open("127.0.0.1", p.c_str(), 0, cbs[i]);
            EXPECT_EQ(d[i], i) << tarn_error_text();
            EXPECT_EQ(server.wait_readable(10000), 1);
            EXPECT_TRUE(server.accept(peer[i]));
        }
    }
};

} // namespace

using TarnCore = TarnTest;

TEST_F(TarnCore, CodesHaveTheirFixedTexts)
{
    // The first and last codes, those the library raises most, and some
    // that it never raises but a caller may set.
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {TARN_ERR_BAUDRATE, "illegal or unsupported baudrate"},
        {TARN_ERR_ABORTED, "operation aborted"},
        {TARN_ERR_NO_DESCRIPTOR, "no more tarn file descriptors"},
        {TARN_ERR_COMMUNICATION, "communication error"},
        {TARN_ERR_READ_TIMEOUT, "read timed out"},
        {TARN_ERR_NO_PWTCP, "PWTCP not installed"},
        {TARN_ERR_NODELAY, "can not set TCP NODELAY option"},
        {TARN_ERR_NO_TCPIP, "WINSOCK found but TCP/IP not enabled"},
    };
    for (const auto& c : cases) {
        tarn_error = c.code;
        EXPECT_STREQ(tarn_error_text(), c.text) << c.code;
        EXPECT_EQ(tarn_error.load(), c.code) << "a fixed text leaves the code as it is";
    }
}

TEST_F(TarnCore, CodesOutsideTheTableAreFormattedIntoTheMessageBuffer)
{
    for (int code : {0, -3, 28, 1000}) {
        tarn_error = code;
        std::string first = tarn_error_text();
        EXPECT_EQ(first, "tarn error " + std::to_string(code));
        EXPECT_EQ(tarn_error.load(), TARN_ERR_FORMATTED);
        EXPECT_EQ(std::string(tarn_error_text()), first);
    }
}

TEST_F(TarnCore, FormattedFailuresUseTheMessageBufferAndAreCutToFit)
{
    tarn_fail("%s: %s", "bind", "Address already in use");
    EXPECT_EQ(tarn_error.load(), TARN_ERR_FORMATTED);
    EXPECT_STREQ(tarn_error_text(), "bind: Address already in use");
    tarn_error = TARN_ERR_MESSAGE;
    EXPECT_STREQ(tarn_error_text(), "bind: Address already in use");

    std::string long_text(600, 'x');
    tarn_fail("recv: %s", long_text.c_str());
    std::string got = tarn_error_text();
    EXPECT_EQ(got.size(), 255u);
    EXPECT_EQ(got.substr(0, 6), "recv: ");
}

TEST_F(TarnCore, ConcurrentFailuresLeaveOneWholeText)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::string text(100 + t * 30, static_cast<char>('a' + t));
            for (int i = 0; i < 2000; ++i) {
                tarn_fail("%s", text.c_str());
                tarn_error = TARN_ERR_COMMUNICATION;
                tarn_fail("%s", text.c_str());
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(tarn_error.load(), TARN_ERR_FORMATTED);
    std::string got = tarn_error_text();
    ASSERT_FALSE(got.empty());
    int t = got[0] - 'a';
    ASSERT_GE(t, 0);
    ASSERT_LT(t, 4);
    EXPECT_EQ(got, std::string(100 + t * 30, got[0]));
}

TEST_F(TarnCore, SocketErrorTexts)
{
    EXPECT_STREQ(tarn_socket_error_text(10035), "Operation would block");
    EXPECT_STREQ(tarn_socket_error_text(10048), "Address already in use");
    EXPECT_STREQ(tarn_socket_error_text(10065), "No Route to Host");
    EXPECT_STREQ(tarn_socket_error_text(11004), "Valid name, no data record of requested type");
    EXPECT_STREQ(tarn_socket_error_text(0), "error 0");
    EXPECT_STREQ(tarn_socket_error_text(-12), "error -12");
    EXPECT_EQ(std::string(tarn_socket_error_text(10100)), std::string(std::strerror(10100)));
}

TEST_F(TarnCore, OpenRefusesEmptyNamesAndParametersWithoutTakingASlot)
{
    EXPECT_EQ(tarn_open("", "", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_NAME);
    EXPECT_EQ(tarn_open("", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_NAME);
    EXPECT_EQ(tarn_open("COM1", "", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_BAUDRATE);
    EXPECT_EQ(tarn_slot_kind(0), TARN_FREE);
    EXPECT_EQ(tarn_slot_kind(1), TARN_FREE);
}

TEST_F(TarnCore, KindDecision)
{
    struct Case {
        const char* name;
        const char* parameter;
        int kind;
    } cases[] = {
        {"COM1", "9600", TARN_SERIAL},     {"COM1", "2400", TARN_SERIAL},   {"COM1", "2401", TARN_SOCKET},
        {"COM1", "5000", TARN_SOCKET},     {"COM1", "4800", TARN_SERIAL},   {"COM1", "14400", TARN_SERIAL},
        {"COM1", "19200", TARN_SERIAL},    {"COM1", "38400", TARN_SERIAL},  {"COM1", "57600", TARN_SERIAL},
        {"COM1", "115200", TARN_SERIAL},   {"COM1", "23", TARN_SOCKET},     {"COM1", "telnet", TARN_SOCKET},
        {"COM1", "0x100", TARN_SERIAL},    {"COM1", "65535", TARN_SOCKET},  {"COM1", "65536", TARN_SERIAL},
        {" server ", "9600", TARN_SOCKET}, {" servers ", "9600", TARN_SERIAL}, {" servers ", "4001", TARN_SOCKET},
        {"COM1", " 23", TARN_SOCKET},      {"COM1", "-5", TARN_SERIAL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarn_decide_kind(c.name, c.parameter), c.kind) << c.name << " / " << c.parameter;

    // On Windows an existing directory names a socket target, unless the
    // name ends in a colon; elsewhere the file system is never asked.
    std::string dir = VANTREL_SOURCE_DIR;
#ifdef _WIN32
    EXPECT_EQ(tarn_decide_kind(dir.c_str(), "9600"), TARN_SOCKET);
#else
    EXPECT_EQ(tarn_decide_kind(dir.c_str(), "9600"), TARN_SERIAL);
#endif
    EXPECT_EQ(tarn_decide_kind((dir + ":").c_str(), "9600"), TARN_SERIAL);
}

#ifndef _WIN32
// A folder in the working folder named like the port leaves it a port.
TEST_F(TarnCore, AFolderNamedLikeThePortDoesNotMatter)
{
    support::TempDir work;
    std::filesystem::create_directory(work.path() / "COM5");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(work.path());
    ASSERT_TRUE(std::filesystem::is_directory("COM5"));
    const int with_folder = tarn_decide_kind("COM5", "9600");
    std::filesystem::current_path(before);
    EXPECT_EQ(with_folder, TARN_SERIAL);
    EXPECT_EQ(tarn_decide_kind("COM5", "9600"), TARN_SERIAL);
}
#endif

TEST_F(TarnCore, ServersWithABaudRateIsOpenedAsASerialPort)
{
    EXPECT_EQ(tarn_open(" servers ", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);
    EXPECT_EQ(tarn_slot_kind(0), TARN_FREE);
}

TEST_F(TarnCore, ReadSemantics)
{
    TwoClients c(counting_callback);
    reset_callback(0);
    char buf[16];

    // Size 0: nothing read, no poll.
    EXPECT_EQ(tarn_read(0, buf, 0, 5), 0);
    EXPECT_EQ(calls.load(), 0);
    // Minimum 0: one attempt, no poll; nothing there yet.
    EXPECT_EQ(tarn_read(0, buf, sizeof buf, 0), 0);
    EXPECT_EQ(calls.load(), 0);

    // tarn_read_full waits for the whole count.
    ASSERT_EQ(c.peer[0].send("abc", 3), 3);
    std::thread late([&] { c.peer[0].send("defgh", 5); });
    EXPECT_EQ(tarn_read_full(0, buf, 8), 8);
    late.join();
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");

    // An abort mid-way returns the partial count with TARN_ERR_ABORTED.
    ASSERT_EQ(c.peer[0].send("xyz", 3), 3);
    ASSERT_NE(tarn_slot_socket(0), nullptr);
    ASSERT_EQ(tarn_slot_socket(0)->wait_readable(10000), 1);
    reset_callback(2);
    EXPECT_EQ(tarn_read(0, buf, 10, 10), 3);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_ABORTED);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    // Nothing there and an abort at once: -1.
    reset_callback(1);
    EXPECT_EQ(tarn_read(0, buf, 10, 10), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_ABORTED);
}

TEST_F(TarnCore, PeerCloseIsCode3)
{
    TwoClients c;
    c.peer[1].close();
    char buf[8];
    EXPECT_EQ(tarn_read(1, buf, sizeof buf, 1), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PEER_CLOSED);
    EXPECT_STREQ(tarn_error_text(), "connection closed by peer");
}

TEST_F(TarnCore, WriteSemantics)
{
    TwoClients c(counting_callback);
    reset_callback(1);
    EXPECT_EQ(tarn_write(0, "ab", 0), 0);
    EXPECT_EQ(calls.load(), 0);

    // An abort already pending: nothing is written.
    EXPECT_EQ(tarn_write(0, "lost", 4), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_ABORTED);
    EXPECT_EQ(calls.load(), 1);

    reset_callback(0);
    EXPECT_EQ(tarn_write(0, "kept", 4), 4);
    EXPECT_EQ(recv_exactly(c.peer[0], 4), "kept");

    // A large block goes through whole while the peer drains it.
    std::string big(1 << 20, 'q');
    std::string received;
    std::thread drain([&] { received = recv_exactly(c.peer[0], big.size(), 30000); });
    EXPECT_EQ(tarn_write(0, big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    drain.join();
    EXPECT_EQ(received.size(), big.size());
}

TEST_F(TarnCore, SendToAClosedPeerFailsWithoutEndingTheProcess)
{
    TwoClients c;
    c.peer[0].close();
    std::string block(4096, 'z');
    int r = 0;
    for (int i = 0; i < 1000 && r >= 0; ++i)
        r = tarn_write(0, block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(r, -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_FORMATTED);
    EXPECT_EQ(std::string(tarn_error_text()).substr(0, 6), "send: ");
}

TEST_F(TarnCore, PollCallsEveryOccupiedSlot)
{
    {
        TwoClients c(counting_callback, counting_callback);
        reset_callback(0);
        EXPECT_EQ(tarn_poll_abort(), 0);
        EXPECT_EQ(calls.load(), 2);
        // No short cut after the first nonzero answer.
        reset_callback(1);
        EXPECT_NE(tarn_poll_abort(), 0);
        EXPECT_EQ(calls.load(), 2);

        // A third open changes neither open descriptor.
        EXPECT_EQ(tarn_open("127.0.0.1", std::to_string(c.server.local_port()).c_str(), 0, nullptr), -1);
        EXPECT_EQ(tarn_error.load(), TARN_ERR_NO_DESCRIPTOR);
        reset_callback(0);
        EXPECT_EQ(tarn_write(1, "ok", 2), 2);
        EXPECT_EQ(recv_exactly(c.peer[1], 2), "ok");
        EXPECT_EQ(tarn_slot_kind(0), TARN_SOCKET);

        tarn_close(0);
        reset_callback(0);
        EXPECT_EQ(tarn_poll_abort(), 0);
        EXPECT_EQ(calls.load(), 1);
        // Closing nothing does nothing.
        tarn_close(-1);
        tarn_close(2);
        tarn_close(0);
        EXPECT_EQ(tarn_slot_kind(1), TARN_SOCKET);
        tarn_close(1);
    }
    EXPECT_EQ(tarn_poll_abort(), 0);
}

TEST_F(TarnCore, TimeArithmetic)
{
    tarn_time t{100, 999};
    tarn_time_add(&t, 0, 1000);
    EXPECT_EQ(t.seconds, 101);
    EXPECT_EQ(t.milliseconds, 999);
    tarn_time_add(&t, 0, 1);
    EXPECT_EQ(t.seconds, 102);
    EXPECT_EQ(t.milliseconds, 0);
    tarn_time_add(&t, 3, 2500);
    EXPECT_EQ(t.seconds, 107);
    EXPECT_EQ(t.milliseconds, 500);

    tarn_time now;
    tarn_now(&now);
    EXPECT_GE(now.milliseconds, 0);
    EXPECT_LT(now.milliseconds, 1000);
    tarn_time later = now;
    tarn_time_add(&later, 5, 0);
    EXPECT_FALSE(tarn_time_passed(&later));
    tarn_time earlier{now.seconds - 1, now.milliseconds};
    EXPECT_TRUE(tarn_time_passed(&earlier));

    // A deadline 200 ms ahead passes after at least 200 ms.
    tarn_time deadline;
    tarn_now(&deadline);
    tarn_time_add(&deadline, 0, 200);
    auto start = clock_type::now();
    while (!tarn_time_passed(&deadline) && ms_since(start) < 10000)
        tarn_pace();
    EXPECT_TRUE(tarn_time_passed(&deadline));
    EXPECT_GE(ms_since(start), 199);
}

TEST_F(TarnCore, PaceSleepsInBursts)
{
    // Calls in quick succession are counted; one in 32 or so sleeps 50 ms.
    auto start = clock_type::now();
    long long longest = 0;
    for (int i = 0; i < 2000 && longest < 45 && ms_since(start) < 20000; ++i) {
        auto before = clock_type::now();
        tarn_pace();
        longest = std::max(longest, ms_since(before));
    }
    EXPECT_GE(longest, 45);
}

namespace {
std::atomic<long long> abort_after_ms{0};
clock_type::time_point abort_clock;
int timed_callback()
{
    ++calls;
    return ms_since(abort_clock) >= abort_after_ms;
}
} // namespace

TEST_F(TarnCore, WaitingTransfersPollInSlicesRatherThanSpin)
{
    // The callback gives up after 10 s at the latest: no wait here hangs.
    abort_clock = clock_type::now();
    abort_after_ms = 10000;
    TwoClients c(timed_callback);

    // A read waiting 300 ms for its data polls the callback a few times
    // per 50 ms slice, not on every turn of a busy loop.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.peer[0].send("late", 4);
    });
    char buf[4];
    calls = 0;
    EXPECT_EQ(tarn_read_full(0, buf, 4), 4);
    late.join();
    EXPECT_EQ(std::string(buf, 4), "late");
    EXPECT_GE(calls.load(), 2);
    EXPECT_LT(calls.load(), 100);

    // A write to a peer that takes nothing waits the same way until the
    // callback ends it.
    std::string block(16 << 20, 'b');
    calls = 0;
    abort_clock = clock_type::now();
    abort_after_ms = 300;
    int sent = tarn_write(0, block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(tarn_error.load(), TARN_ERR_ABORTED);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(block.size()));
    EXPECT_LT(calls.load(), 100);
}
