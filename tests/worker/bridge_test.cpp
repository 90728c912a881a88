// The worker end to end on Linux: the real vantrel binary with eight
// arguments, a pseudo-terminal board behind the name COM5, TCP clients on
// 127.0.0.1, the stop event and the report endpoint of a manager.

#include "bridge_harness.h"

#include "support/device_map.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <csignal>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>

using namespace test;

namespace {

class Bridge : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.valid());
        // COM5 stands for the board's terminal.
        devices.map("COM5", board.slave());
        options.tcp_port = std::to_string(free_port());
    }

    uint16_t tcp() const { return static_cast<uint16_t>(std::stoi(options.tcp_port)); }

    // Connects a client that the worker serves: its first byte reaches the
    // board, so the port is open and set up.
    ::testing::AssertionResult serve(Client& c, uint16_t port)
    {
        if (!c.connect(port, 15000))
            return ::testing::AssertionFailure() << "no connection to port " << port;
        if (!c.send("!"))
            return ::testing::AssertionFailure() << "the first byte was not sent";
        const std::string got = board.read(1, 15000);
        if (got != "!")
            return ::testing::AssertionFailure() << "the board got \"" << got << "\" for the first byte";
        return ::testing::AssertionSuccess();
    }

    Client served_client()
    {
        Client c;
        EXPECT_TRUE(serve(c, tcp()));
        return c;
    }

    // A worker with these options serves one client: once the port is open
    // and set up, `served` runs, then `up` goes from the client to the board
    // and `down` the other way, both at once, and the worker ends at its
    // stop with code 0.
    void bridge(const WorkerOptions& o, const std::string& up, const std::string& down, int hold_ms = 0,
                const std::function<void()>& served = {})
    {
        Worker w;
        ASSERT_TRUE(w.start(o));
        Client client;
        ASSERT_TRUE(serve(client, static_cast<uint16_t>(std::stoi(o.tcp_port))));
        if (served)
            served();
        EXPECT_TRUE(transfer(client, board, up, down, hold_ms));
        EXPECT_GE(w.stop_and_time(10000), 0);
        EXPECT_EQ(w.exit_code(), 0);
    }

    ScopedEnv no_dtr_log{"VANTREL_DTR_LOG", std::nullopt};
    DeviceMap devices;
    Board board;
    WorkerOptions options;
    Worker worker;
};

std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 g(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(g());
    return s;
}

std::string all_byte_values()
{
    std::string s(256, '\0');
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<char>(i);
    return s;
}

// A socket of somebody else listening on all addresses, or !valid().
port::Socket listen_elsewhere()
{
    port::Socket s = port::Socket::stream();
    if (!s.valid() || !s.bind(0, 0) || !s.listen(4))
        return {};
    return s;
}

} // namespace

TEST_F(Bridge, PassesEveryByteValueBothWays)
{
    ASSERT_TRUE(worker.start(options));
    Client client;
    ASSERT_TRUE(client.connect(tcp(), 15000));
    const std::string values = all_byte_values();
    // Client to board first: once it arrives the port is open and set up.
    ASSERT_TRUE(transfer(client, board, values + values, ""));
    ASSERT_TRUE(transfer(client, board, "", values + values));
    // Line ends and flow-control characters too, one at a time.
    for (char c : std::string("\r\n\x11\x13\x03\x04\x1a\xff"))
        EXPECT_TRUE(transfer(client, board, "", std::string(1, c))) << static_cast<int>(c);
    EXPECT_EQ(worker.stop_and_time(10000) >= 0, true);
    EXPECT_EQ(worker.exit_code(), 0);
}

TEST_F(Bridge, LineFlagsAreReadFromTheFifthWord)
{
    // The board's terminal shows the settings the worker gave it. A
    // pseudo-terminal may drop PARENB, so odd parity shows as PARODD.
    struct Case {
        const char* flags;
        tcflag_t cflag_set, cflag_clear, iflag_set, iflag_clear;
    } cases[] = {
        {"96", PARODD, CSTOPB | CRTSCTS, 0, IXON | IXOFF},                  // odd parity
        {"32", 0, PARODD | CSTOPB | CRTSCTS, 0, IXON | IXOFF},              // even parity
        {"227", PARODD | CSTOPB | CRTSCTS, 0, IXON | IXOFF, 0},             // 0xE3: all of them
        {"flow", 0, PARODD | CSTOPB | CRTSCTS, 0, IXON | IXOFF},            // no number: 0
        {"+129abc", CSTOPB, PARODD | CRTSCTS, IXON | IXOFF, 0},             // 0x81, read as atoi does
        {"16480", PARODD, CSTOPB | CRTSCTS, 0, IXON | IXOFF},               // 0x4060: a bit it does not know
    };
    for (const Case& c : cases) {
        // The opposite of what is expected beforehand, so that nothing
        // passes by being left as it was.
        termios before{};
        ASSERT_EQ(tcgetattr(board.fd(), &before), 0);
        before.c_cflag = (before.c_cflag | c.cflag_clear) & ~c.cflag_set;
        before.c_iflag = (before.c_iflag | c.iflag_clear) & ~c.iflag_set;
        ASSERT_EQ(tcsetattr(board.fd(), TCSANOW, &before), 0);

        SCOPED_TRACE(std::string("flags ") + c.flags);
        WorkerOptions o = options;
        o.tcp_port = std::to_string(free_port());
        o.flags = c.flags;
        bridge(o, "", "", 0, [&] {
            termios t{};
            ASSERT_EQ(tcgetattr(board.fd(), &t), 0);
            EXPECT_EQ(t.c_cflag & c.cflag_set, c.cflag_set);
            EXPECT_EQ(t.c_cflag & c.cflag_clear, 0u);
            EXPECT_EQ(t.c_iflag & c.iflag_set, c.iflag_set);
            EXPECT_EQ(t.c_iflag & c.iflag_clear, 0u);
            EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        });
    }
}

TEST_F(Bridge, MovesMegabytesBothWaysAtOnceWithoutLoss)
{
    // Neither side reads for the first second, so that both directions back
    // up: the worker must hold what the other side cannot take yet.
    bridge(options, random_bytes(4 << 20, 1), random_bytes(4 << 20, 2), 1000);
}

TEST_F(Bridge, MovesBlocksEachWayAndBothWaysAtOnceWithItsLineSettings)
{
    // Line settings a pseudo-terminal passes bytes through unchanged (no
    // Xon/Xoff, which would take its characters out of the stream).
    const struct {
        const char* baud_rate;
        const char* flags;
        size_t up, down;
    } cases[] = {
        {"115200", "0", 512 << 10, 0},      // client to board
        {"9600", "0", 0, 512 << 10},        // board to client
        {"19200", "0", 512 << 10, 512 << 10}, // both at once
        {"38400", "96", 256 << 10, 256 << 10}, // odd parity
        {"57600", "130", 256 << 10, 256 << 10}, // two stop bits, RTS/CTS
    };
    unsigned seed = 10;
    for (const auto& c : cases) {
        seed += 2;
        SCOPED_TRACE(std::string(c.baud_rate) + " baud, flags " + c.flags);
        WorkerOptions o = options;
        o.tcp_port = std::to_string(free_port());
        o.baud_rate = c.baud_rate;
        o.flags = c.flags;
        bridge(o, random_bytes(c.up, seed), random_bytes(c.down, seed + 1));
    }
}

TEST_F(Bridge, ServesOneClientAtATimeAndThenTheNext)
{
    ASSERT_TRUE(worker.start(options));
    Client first = served_client();

    // A second client is accepted by the system but waits.
    Client second;
    ASSERT_TRUE(second.connect(tcp(), 15000));
    ASSERT_TRUE(second.send("B"));
    ASSERT_TRUE(board.write("A", 5000));
    EXPECT_EQ(first.read(1, 5000), "A");
    EXPECT_TRUE(second.quiet_for(300)) << "the waiting client got data";
    EXPECT_EQ(board.read(1, 300), "") << "the waiting client's bytes reached the board";

    // The first leaves: the second is served, its early bytes included, at
    // once: a client that is waiting ends the wait for a quiet board
    // (500 ms) that the first one's end of stream would otherwise start.
    const long long left_at = monotonic_ms();
    first.close();
    EXPECT_EQ(board.read(1, 15000), "B");
    EXPECT_LT(monotonic_ms() - left_at, 450) << "the next client waited for the board's quiet time";
    ASSERT_TRUE(board.write("C", 5000));
    EXPECT_EQ(second.read(1, 5000), "C");

    // And after it, a third, the same way.
    second.close();
    Client third = served_client();
    ASSERT_TRUE(board.write("D", 5000));
    EXPECT_EQ(third.read(1, 5000), "D");
    EXPECT_TRUE(worker.running());
}

namespace {

// The board stops the line with XOFF (the service uses Xon/Xoff), and the
// stop has taken effect: the terminal's packet mode reports it.
::testing::AssertionResult board_stops_the_line(Board& board)
{
    int on = 1;
    if (ioctl(board.fd(), TIOCPKT, &on) != 0)
        return ::testing::AssertionFailure() << "no packet mode";
    bool stopped = false;
    if (board.write("\x13")) {
        const Deadline deadline(15000);
        char packet[4096];
        while (!stopped && !deadline.expired()) {
            const ssize_t r = ::read(board.fd(), packet, sizeof packet);
            if (r > 0 && packet[0] != TIOCPKT_DATA)
                stopped = (packet[0] & TIOCPKT_STOP) != 0;
            else if (r <= 0) {
                pollfd p{board.fd(), POLLIN, 0};
                poll(&p, 1, 50);
            }
        }
    }
    int off = 0;
    ioctl(board.fd(), TIOCPKT, &off);
    return stopped ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "the line did not stop";
}

} // namespace

TEST_F(Bridge, AClientThatLeavesWhileFlowControlHoldsItsBytesIsNoticed)
{
    // The socket pump is inside a serial write that the board holds with
    // XOFF when the client ends; the next client, waiting meanwhile, gets
    // its DTR actions and is served.
    const struct {
        const char* how;
        std::function<void(Client&)> leave;
    } cases[] = {
        {"close", [](Client& c) { c.close(); }},
        {"reset", [](Client& c) { c.reset(); }},
        {"half-close", [](Client& c) { shutdown(c.fd(), SHUT_WR); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        DtrLog dtr;
        WorkerOptions o = options;
        o.tcp_port = std::to_string(free_port());
        o.baud_rate = "115200"; // the held block's time on the line: under a second
        o.flags = "1";          // Xon/Xoff
        o.dtro = 1;
        o.dtrc = 1;
        Worker w;
        ASSERT_TRUE(w.start(o));
        const uint16_t p = static_cast<uint16_t>(std::stoi(o.tcp_port));
        Client first;
        ASSERT_TRUE(serve(first, p));
        ASSERT_TRUE(board_stops_the_line(board));
        ASSERT_TRUE(first.send(std::string(64 * 1024, 'h'))); // held in the worker and the socket
        Client next;
        ASSERT_TRUE(next.connect(p, 15000));
        ASSERT_TRUE(next.send("N"));

        c.leave(first);
        // The next client's open: raised, dropped and raised again, after the
        // first one's open (the same three) and its close (dropped).
        ASSERT_TRUE(wait_until([&] { return read_dtr_log(dtr.path).size() >= 7; }, 20000)) << read_file(dtr.path);
        ASSERT_TRUE(board.write("M", 5000));
        EXPECT_EQ(next.read(1, 10000), "M");
        // The board lets the line go: the next client's byte arrives, and
        // nothing of the first one's after it.
        ASSERT_TRUE(board.write("\x11", 5000));
        EXPECT_EQ(board.read(1, 10000), "N");
        EXPECT_GE(w.stop_and_time(10000), 0);
        EXPECT_EQ(w.exit_code(), 0);
        EXPECT_EQ(board.read(1, 200), "") << "bytes of the first client came after the next one's";
    }
}

TEST_F(Bridge, AbsentSerialPortSendsTheErrorLineAndDrains)
{
    // COM6 names a device that does not exist.
    devices.map("COM6", devices.path("no-such-device"));
    options.serial_port = "COM6";
    ASSERT_TRUE(worker.start(options));
    const std::string line = "Error: can not open port to execution environment\n";

    Client first;
    ASSERT_TRUE(first.connect(tcp(), 15000));
    EXPECT_EQ(first.read(line.size(), 15000), line);
    // Stays connected while the client is quiet, and while it has sent less
    // than 256 bytes; the worker waits without burning the processor.
    const long long cpu_before = cpu_ticks(worker.pid());
    EXPECT_TRUE(first.quiet_for(1000));
    const long long cpu_used = cpu_ticks(worker.pid()) - cpu_before;
    EXPECT_LT(cpu_used, sysconf(_SC_CLK_TCK) / 4) << "the drain spins";
    ASSERT_TRUE(first.send(std::string(255, 'x')));
    EXPECT_TRUE(first.quiet_for(300));
    // The 256th byte ends it.
    ASSERT_TRUE(first.send("y"));
    EXPECT_TRUE(first.closed_by_peer(15000));

    // The next client gets the same; its close ends its turn.
    Client second;
    ASSERT_TRUE(second.connect(tcp(), 15000));
    EXPECT_EQ(second.read(line.size(), 15000), line);
    second.close();
    Client third;
    ASSERT_TRUE(third.connect(tcp(), 15000));
    EXPECT_EQ(third.read(line.size(), 15000), line);
    EXPECT_TRUE(worker.running());
    EXPECT_GE(worker.stop_and_time(10000), 0);
    EXPECT_EQ(worker.exit_code(), 0);
}

TEST_F(Bridge, ASerialNameThatMeansATcpClientDropsEachClient)
{
    // A host and a port number instead of a serial port and a baud rate: each
    // client makes the worker connect there, and the relay then ends at once
    // because the second device is no serial port.
    // The worker takes the number for a port, not a baud rate, above 2400
    // and when it is no multiple of 1200.
    const uint16_t target_port = free_port([](uint16_t p) { return p > 2400 && p % 1200 != 0; });
    ASSERT_NE(target_port, 0);
    port::Socket target = port::Socket::stream();
    ASSERT_TRUE(target.bind(loopback, target_port));
    ASSERT_TRUE(target.listen(4));
    options.serial_port = "127.0.0.1";
    options.baud_rate = std::to_string(target_port);
    ASSERT_TRUE(worker.start(options));

    for (int i = 0; i < 2; ++i) {
        Client client;
        ASSERT_TRUE(client.connect(tcp(), 15000));
        ASSERT_EQ(target.wait_readable(15000), 1) << "no outgoing connection for client " << i;
        port::Socket outgoing;
        EXPECT_TRUE(target.accept(outgoing));
        EXPECT_TRUE(client.closed_by_peer(15000)) << "client " << i << " was not dropped";
    }
    EXPECT_TRUE(worker.running());
}

TEST_F(Bridge, PortInUseSendsOneReportAndEnds)
{
    // Somebody else listens on the port.
    port::Socket taken = listen_elsewhere();
    ASSERT_TRUE(taken.valid());
    options.tcp_port = std::to_string(taken.local_port());

    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    options.report_target = receiver.target();
    ASSERT_TRUE(worker.start(options));
    auto reports = collect_reports(receiver, 15000);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, worker.pid());
    EXPECT_EQ(reports[0].second, "bind: Address already in use");
    EXPECT_EQ(worker.process().wait(15000), port::WaitResult::Ended);
    EXPECT_EQ(worker.exit_code(), 0);
    EXPECT_TRUE(collect_reports(receiver, 200).empty()) << "more than one report";
}

TEST_F(Bridge, ReportTargetZeroRunsAndEndsQuietly)
{
    port::Socket taken = listen_elsewhere();
    ASSERT_TRUE(taken.valid());
    WorkerOptions failing_options = options;
    failing_options.tcp_port = std::to_string(taken.local_port());
    Worker failing;
    ASSERT_TRUE(failing.start(failing_options));
    EXPECT_EQ(failing.process().wait(15000), port::WaitResult::Ended);
    EXPECT_EQ(failing.exit_code(), 0);
    taken.close();

    // And with a free port it bridges as usual (the fixture's target is 0).
    ASSERT_TRUE(worker.start(options));
    Client client = served_client();
    ASSERT_TRUE(board.write("ok", 5000));
    EXPECT_EQ(client.read(2, 5000), "ok");
}

TEST_F(Bridge, StopEndsTheWorkerSilentlyInEveryState)
{
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    options.report_target = receiver.target();

    // Waiting for its first client.
    {
        Worker w;
        WorkerOptions o = options;
        o.tcp_port = std::to_string(free_port());
        ASSERT_TRUE(w.start(o));
        const uint16_t p = static_cast<uint16_t>(std::stoi(o.tcp_port));
        ASSERT_TRUE(wait_until([&] { return listening(p); }, 15000));
        long long ms = w.stop_and_time(10000);
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, PROMPT_STOP_MS);
        EXPECT_EQ(w.exit_code(), 0);
        EXPECT_FALSE(listening(p));
    }
    // Serving a client whose bytes the board does not take: the socket pump
    // is held in a serial write.
    {
        ASSERT_TRUE(worker.start(options));
        Client client = served_client();
        (void)client.send(std::string(256 * 1024, 'z'), 2000); // the board takes none of it
        long long ms = worker.stop_and_time(10000);
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, PROMPT_STOP_MS);
        EXPECT_EQ(worker.exit_code(), 0);
        EXPECT_TRUE(client.closed_by_peer(5000));
    }
    // Draining a client after a failed serial open.
    {
        Worker w;
        WorkerOptions o = options;
        o.tcp_port = std::to_string(free_port());
        devices.map("COM7", devices.path("no-such-device"));
        o.serial_port = "COM7";
        ASSERT_TRUE(w.start(o));
        Client client;
        ASSERT_TRUE(client.connect(static_cast<uint16_t>(std::stoi(o.tcp_port)), 15000));
        EXPECT_EQ(client.read(7, 15000), "Error: ");
        long long ms = w.stop_and_time(10000);
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, PROMPT_STOP_MS);
        EXPECT_EQ(w.exit_code(), 0);
    }
    EXPECT_TRUE(collect_reports(receiver, 200).empty()) << "a stop must not report";
}

TEST_F(Bridge, WithoutItsStopEventTheWorkerEndsAtItsFirstWait)
{
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    options.report_target = receiver.target();
    options.create_event = false;
    ASSERT_TRUE(worker.start(options));
    EXPECT_EQ(worker.process().wait(5000), port::WaitResult::Ended);
    EXPECT_EQ(worker.exit_code(), 0);
    EXPECT_TRUE(collect_reports(receiver, 200).empty());
}

TEST_F(Bridge, DtrDropsForOneSecondAfterOpenAndBeforeClose)
{
    DtrLog dtr;
    const std::string& log = dtr.path;
    options.dtro = 1;
    options.dtrc = 1;
    ASSERT_TRUE(worker.start(options));
    Client client;
    ASSERT_TRUE(serve(client, tcp()));
    const long long relayed_at = monotonic_ms();

    client.close();
    ASSERT_TRUE(wait_until([&] { return board.hung_up(); }, 15000));
    const long long closed_at = monotonic_ms();

    const auto changes = read_dtr_log(log);
    // Raised by the open, dropped, raised, dropped before the close.
    ASSERT_EQ(changes.size(), 4u) << read_file(log);
    EXPECT_EQ(changes[0].level, 1);
    EXPECT_EQ(changes[1].level, 0);
    EXPECT_EQ(changes[2].level, 1);
    EXPECT_EQ(changes[3].level, 0);
    EXPECT_GE(changes[2].at_ms - changes[1].at_ms, 1000);
    EXPECT_LT(changes[2].at_ms - changes[1].at_ms, 4000);
    EXPECT_LE(changes[2].at_ms, relayed_at) << "a byte went through before DTR was up";
    EXPECT_GE(closed_at - changes[3].at_ms, 1000) << "the port closed before the hold ended";
}

// Low latency while a client is served: a USB adapter's driver keeps
// ASYNC_LOW_LATENCY, a pseudo-terminal has no such setting, so a preloaded
// stand-in (serial_flags.c) answers TIOCGSERIAL/TIOCSSERIAL for the worker
// and records the calls. The worker turns the flag on at open, leaves the
// driver's other flags alone, and puts back what it found at close.
TEST_F(Bridge, LowLatencyIsAskedForWhileAClientIsServed)
{
    const int other = ASYNC_SKIP_TEST | ASYNC_HUP_NOTIFY;
    const int low = static_cast<int>(ASYNC_LOW_LATENCY);
    struct Case {
        int found;
        std::vector<std::string> at_open, at_close;
    } cases[] = {
        {other, {"get " + std::to_string(other), "set " + std::to_string(other | low)},
         {"get " + std::to_string(other | low), "set " + std::to_string(other)}},
        {other | low, {"get " + std::to_string(other | low)}, {}}, // already low: nothing to put back
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("found " + std::to_string(c.found));
        TempDir dir;
        const std::string log = dir / "serial.log";
        const char* asan = std::getenv("ASAN_OPTIONS");
        // The stand-in comes before the address sanitizer's runtime.
        ScopedEnv asan_order{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"};
        ScopedEnv preload{"LD_PRELOAD", std::string(SERIAL_FLAGS_LIB)};
        ScopedEnv found{"VANTREL_SERIAL_FLAGS", std::to_string(c.found)};
        ScopedEnv record{"VANTREL_SERIAL_FLAGS_LOG", log};
        Worker w;
        ASSERT_TRUE(w.start(options));
        Client client;
        ASSERT_TRUE(serve(client, tcp()));
        auto calls = [&] {
            std::vector<std::string> lines;
            std::istringstream in(read_file(log));
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
            return lines;
        };
        EXPECT_EQ(calls(), c.at_open);
        client.close();
        ASSERT_TRUE(wait_until([&] { return board.hung_up(); }, 15000));
        std::vector<std::string> all = c.at_open;
        all.insert(all.end(), c.at_close.begin(), c.at_close.end());
        EXPECT_EQ(calls(), all);
        EXPECT_GE(w.stop_and_time(10000), 0);
    }
}

TEST_F(Bridge, ClientsThatLeftWhileAnotherWasServedNeverOpenThePort)
{
    DtrLog dtr;
    const std::string& log = dtr.path;
    options.dtro = 1;
    options.dtrc = 1;
    ASSERT_TRUE(worker.start(options));
    Client first;
    ASSERT_TRUE(serve(first, tcp()));

    // Five connect while the first is served and give up without a word;
    // then one that stays, its first byte sent early.
    for (int i = 0; i < 5; ++i) {
        Client gone;
        ASSERT_TRUE(gone.connect(tcp(), 15000)) << "client " << i;
    }
    Client next;
    ASSERT_TRUE(next.connect(tcp(), 15000));
    ASSERT_TRUE(next.send("N"));

    first.close();
    EXPECT_EQ(board.read(1, 15000), "N");
    // The port opened twice: for the first (raised by the open, dropped,
    // raised, dropped before the close) and for the next (raised, dropped,
    // raised). An open for a client that left would add its own changes.
    const auto changes = read_dtr_log(log);
    ASSERT_EQ(changes.size(), 7u) << read_file(log);
    for (size_t i = 0; i < changes.size(); ++i)
        EXPECT_EQ(changes[i].level, i % 4 == 0 || i % 4 == 2 ? 1 : 0) << "change " << i << "\n" << read_file(log);
    // The next client's open follows the first's close hold without a
    // further hold between.
    EXPECT_LT(changes[4].at_ms - changes[3].at_ms, 6000) << read_file(log);
    ASSERT_TRUE(board.write("M", 5000));
    EXPECT_EQ(next.read(1, 5000), "M");
    EXPECT_TRUE(worker.running());
}

TEST_F(Bridge, AClientThatSentAndLeftIsServedAndResetsEndNothing)
{
    // The hold before each close keeps the port open for a second after a
    // client's relay ends: the board reads the last bytes while it is open.
    options.dtrc = 1;
    ASSERT_TRUE(worker.start(options));
    ASSERT_TRUE(wait_until([&] { return listening(tcp()); }, 15000));
    // One that resets as soon as it is connected, with nobody served.
    Client early;
    ASSERT_TRUE(early.connect(tcp(), 15000));
    early.reset();

    Client first = served_client();
    // While it is served: one that resets, one that sends and leaves.
    Client reset;
    ASSERT_TRUE(reset.connect(tcp(), 15000));
    reset.reset();
    Client sender;
    ASSERT_TRUE(sender.connect(tcp(), 15000));
    const std::string words = "sent before leaving";
    ASSERT_TRUE(sender.send(words));
    sender.close();

    first.close();
    EXPECT_EQ(board.read(words.size(), 15000), words);
    // The service goes on.
    Client next = served_client();
    ASSERT_TRUE(board.write("M", 5000));
    EXPECT_EQ(next.read(1, 5000), "M");
    EXPECT_TRUE(worker.running());
}

TEST_F(Bridge, ConnectCyclesLeakNothing)
{
    ASSERT_TRUE(worker.start(options));
    const uint32_t pid = worker.pid();
    ASSERT_TRUE(wait_until([&] { return listening(tcp()); }, 15000));
    // Listening without a client: the state between clients too.
    const int fds_idle = open_fds(pid);
    ASSERT_GT(fds_idle, 0);
    EXPECT_EQ(pump_threads(pid), 0);
    {
        Client c = served_client();
        EXPECT_TRUE(wait_until([&] { return pump_threads(pid) == 2; }, 10000)) << "a relay runs two pumps";
    }

    // Each client connects once the one before has closed: enough cycles
    // that a descriptor or thread left per client would show.
    for (int i = 0; i < 60; ++i) {
        Client c;
        ASSERT_TRUE(c.connect(tcp(), 15000)) << "cycle " << i;
        ASSERT_TRUE(c.send(std::string(1, static_cast<char>(i))));
        ASSERT_EQ(board.read(1, 15000), std::string(1, static_cast<char>(i))) << "cycle " << i;
    }
    // After the last client: the pumps are gone, the descriptors as before.
    EXPECT_TRUE(wait_until([&] { return pump_threads(pid) == 0 && open_fds(pid) == fds_idle; }, 15000))
        << "pump threads " << pump_threads(pid) << ", descriptors " << open_fds(pid) << " (idle " << fds_idle
        << ")";
    EXPECT_GE(worker.stop_and_time(10000), 0);
    EXPECT_EQ(worker.exit_code(), 0);
}

TEST_F(Bridge, StartStopCyclesLeakNothing)
{
    const int own_fds = open_fds(port::current_process_id());
    std::vector<uint32_t> pids;
    for (int i = 0; i < 20; ++i) {
        Worker w;
        ASSERT_TRUE(w.start(options));
        pids.push_back(w.pid());
        {
            Client c;
            ASSERT_TRUE(serve(c, tcp())) << "cycle " << i;
            long long ms = w.stop_and_time(10000);
            ASSERT_GE(ms, 0) << "cycle " << i;
            EXPECT_EQ(w.exit_code(), 0);
        }
        w.stop();
        // The port is free again for the next worker.
        ASSERT_TRUE(wait_until([&] { return !listening(tcp()); }, 5000));
    }
    // No worker is left, not even as a zombie; no event or descriptor of
    // ours either.
    struct stat st {};
    for (uint32_t pid : pids)
        EXPECT_NE(stat(("/proc/" + std::to_string(pid)).c_str(), &st), 0) << pid;
    EXPECT_EQ(open_fds(port::current_process_id()), own_fds);
    const std::string stem = "event-VantrelTestStop" + std::to_string(port::current_process_id()) + "_";
    const char* tmp = getenv("TMPDIR");
    const std::string own_folder = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/vantrel-" + std::to_string(geteuid());
    for (std::string dir : {std::string(getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : ""),
                            std::string("/dev/shm"), std::string("/tmp"), own_folder}) {
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(dir.empty() ? "/nonexistent" : dir, ec))
            EXPECT_EQ(e.path().filename().string().find(stem), std::string::npos) << e.path();
    }
}

TEST_F(Bridge, AnIdleWorkerDoesNotWakeUp)
{
    // With a manager to watch, as a worker of the manager runs.
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    options.report_target = receiver.target();
    ASSERT_TRUE(worker.start(options));
    const uint32_t pid = worker.pid();
    ASSERT_TRUE(wait_until([&] { return listening(tcp()); }, 15000));
    // A few stray switches are allowed; a sanitizer runtime's own thread
    // is not the worker's.
    constexpr long long bound = 5 + 3 * RUNTIME_WAKES_PER_SECOND;

    // Waiting for a client: the interval measured is idle time itself.
    long long before = context_switches(pid);
    ASSERT_GE(before, 0);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long long woken = context_switches(pid) - before;
    EXPECT_LE(woken, bound) << "context switches in 3 s without a client";

    // A client connected that sends nothing, a board that says nothing.
    Client client = served_client();
    ASSERT_TRUE(wait_until([&] { return pump_threads(pid) == 2; }, 10000));
    before = context_switches(pid);
    EXPECT_TRUE(client.quiet_for(3000));
    woken = context_switches(pid) - before;
    EXPECT_LE(woken, bound) << "context switches in 3 s with an idle client";

    // And it still wakes at once for a byte either way.
    ASSERT_TRUE(board.write("b", 5000));
    EXPECT_EQ(client.read(1, 5000), "b");
    ASSERT_TRUE(client.send("c"));
    EXPECT_EQ(board.read(1, 5000), "c");
    EXPECT_TRUE(collect_reports(receiver, 0).empty());
}

TEST_F(Bridge, AHalfClosedClientGetsTheBoardsLateAnswer)
{
    ASSERT_TRUE(worker.start(options));
    Client client = served_client();
    ASSERT_TRUE(client.send("request"));
    EXPECT_EQ(board.read(7, 15000), "request");
    ASSERT_EQ(shutdown(client.fd(), SHUT_WR), 0);
    // The board takes its time; the connection stays open meanwhile.
    EXPECT_TRUE(client.quiet_for(300)) << "the connection ended before the answer";
    ASSERT_TRUE(board.write("reply", 5000));
    EXPECT_EQ(client.read(5, 5000), "reply");
    // Once the board is quiet the connection ends, and the next client is
    // served.
    EXPECT_TRUE(client.closed_by_peer(10000));
    Client next = served_client();
    ASSERT_TRUE(board.write("n", 5000));
    EXPECT_EQ(next.read(1, 5000), "n");
}

TEST_F(Bridge, AHalfClosedClientThatReadsSlowlyGetsTheWholeAnswer)
{
    ASSERT_TRUE(worker.start(options));
    // More than the socket buffers hold, so the worker's writes wait for a
    // client that reads nothing for longer than the board's quiet time (and
    // little enough to pass well within the connection's last 5 s). Made
    // before the half-close, which starts the quiet time.
    const std::string answer = random_bytes(4 << 20, 7);
    Client client = served_client();
    ASSERT_EQ(shutdown(client.fd(), SHUT_WR), 0);
    std::thread writer([&] { EXPECT_TRUE(board.write(answer, 20000)); });
    pollfd none{-1, 0, 0};
    poll(&none, 1, 1500); // the client is busy elsewhere
    const std::string received = client.read(answer.size(), 20000);
    EXPECT_EQ(received.size(), answer.size());
    EXPECT_TRUE(received == answer) << "the answer arrived changed";
    writer.join();
}

TEST_F(Bridge, AHalfClosedClientIsEndedEvenWhileTheBoardKeepsTalking)
{
    ASSERT_TRUE(worker.start(options));
    Client client = served_client();
    ASSERT_EQ(shutdown(client.fd(), SHUT_WR), 0);
    const auto closed_at = Clock::now();
    // The board sends a byte about every 100 ms and never falls quiet.
    size_t received = 0;
    bool ended = false;
    const Deadline deadline(20000);
    while (!ended && !deadline.expired()) {
        ASSERT_TRUE(board.write("x", 5000));
        pollfd p{client.fd(), POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        ssize_t r = ::recv(client.fd(), buffer, sizeof buffer, 0);
        if (r > 0)
            received += static_cast<size_t>(r);
        else if (r == 0 || errno != EAGAIN)
            ended = true;
    }
    EXPECT_TRUE(ended) << "the connection did not end";
    // Well past the quiet time the board's bytes still came through.
    EXPECT_GE(ms_since(closed_at), 1000);
    EXPECT_GE(received, 8u);
    EXPECT_TRUE(worker.running());
}

TEST_F(Bridge, AWorkerEndsWithItsKilledManagerAndHoldsDtrFirst)
{
    TempDir dir;
    const std::string pid_file = dir / "worker.pid";
    DtrLog dtr;
    const std::string& log = dtr.path;
    port::Process manager;
    ASSERT_TRUE(port::Process::start_hidden(quote(MANAGER_HELPER) + " VantrelTestManager " + quote(pid_file) + " "
                                                + options.tcp_port + " COM5 19200 0 0 1",
                                            manager));
    uint32_t pid = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            pid = static_cast<uint32_t>(std::atoll(read_file(pid_file).c_str()));
            return pid != 0;
        },
        15000));
    Client client;
    ASSERT_TRUE(serve(client, tcp()));

    ASSERT_EQ(kill(static_cast<pid_t>(manager.id()), SIGKILL), 0);
    ASSERT_EQ(manager.wait(10000), port::WaitResult::Ended);
    // The worker drops DTR, holds it for its second, closes the port, and
    // ends: the client is let go and the TCP port is free again.
    EXPECT_TRUE(client.closed_by_peer(10000));
    ASSERT_TRUE(wait_until([&] { return board.hung_up(); }, 10000));
    const long long port_closed_at = monotonic_ms();
    EXPECT_TRUE(wait_until([&] { return process_ended(pid); }, 10000)) << "the worker outlived its manager";
    EXPECT_TRUE(wait_until([&] { return !listening(tcp()); }, 5000));
    const auto changes = read_dtr_log(log);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back().level, 0);
    EXPECT_GE(port_closed_at - changes.back().at_ms, 1000) << "the port closed before the hold ended";

    // The stop event the killed manager left behind goes at the next
    // manager's start; one of a running manager stays.
    const std::string left = "VantrelTestManager" + std::to_string(manager.id()) + "_1";
    EXPECT_TRUE(port::NamedEvent::open(left).valid());
    const std::string live = "VantrelTestManager" + std::to_string(port::current_process_id()) + "_1";
    port::NamedEvent own = port::NamedEvent::create(live);
    ASSERT_TRUE(own.valid());
    port::remove_abandoned_events("VantrelTestManager");
    EXPECT_FALSE(port::NamedEvent::open(left).valid());
    EXPECT_TRUE(port::NamedEvent::open(live).valid());
}

TEST_F(Bridge, AWorkerWhoseManagerIsGoneAlreadyEndsQuietly)
{
    uintptr_t target = 0;
    {
        port::ReportReceiver gone;
        ASSERT_TRUE(gone.open());
        target = gone.target();
    }
    options.report_target = target;
    ASSERT_TRUE(worker.start(options));
    EXPECT_EQ(worker.process().wait(5000), port::WaitResult::Ended);
    EXPECT_EQ(worker.exit_code(), 0);
}
