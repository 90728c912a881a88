// RFC 2217 services end to end on Linux: the real vantrel binary as the
// worker with the protocol bit in its flags word, a pseudo-terminal board
// behind COM5, and a Telnet client of the test's own that checks every
// byte the worker sends. What a pseudo-terminal lacks (modem lines, line
// error counters) comes from serial_flags.c, preloaded into the worker.

#include "bridge_harness.h"
#include "telnet_client.h"

#include "manager/service_settings.h"
#include "support/device_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/ioctl.h>
#include <termios.h>

using namespace test;
using telnet::answer;
using telnet::bytes;
using telnet::option;
using telnet::sub;

namespace {

const std::string RFC2217_FLAGS = std::to_string(WORKER_PROTOCOL_RFC2217);

// The client's end of one connection, with what the worker sent so far.
struct TelnetClient {
    Client socket;
    telnet::Stream stream;

    // Reads until cond holds, at most timeout_ms; true when it held.
    template <typename Cond>
    bool read_until(Cond cond, int timeout_ms = 15000)
    {
        const Deadline deadline(timeout_ms);
        while (!cond()) {
            if (deadline.expired())
                return false;
            pollfd p{socket.fd(), POLLIN, 0};
            poll(&p, 1, std::min(deadline.remaining_ms(), 50));
            char buffer[8192];
            const ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
            if (n > 0)
                stream.feed(std::string(buffer, static_cast<size_t>(n)));
            else if (n == 0)
                return cond();
        }
        return true;
    }

    bool has_command(const std::string& command) const
    {
        return std::find(stream.commands.begin(), stream.commands.end(), command) != stream.commands.end();
    }

    // Sends a command and waits for its answer among the commands read.
    ::testing::AssertionResult ask(const std::string& command, const std::string& expected)
    {
        if (!socket.send(command))
            return ::testing::AssertionFailure() << "not sent";
        if (!read_until([&] { return has_command(expected); }))
            return ::testing::AssertionFailure() << "no answer among " << stream.commands.size() << " commands";
        return ::testing::AssertionSuccess();
    }
};

// An RFC 2217 service on COM5 and its clients.
class Rfc2217 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.valid());
        devices.map("COM5", board.slave());
        options.tcp_port = std::to_string(free_port());
        options.flags = RFC2217_FLAGS;
    }

    uint16_t tcp() const { return static_cast<uint16_t>(std::stoi(options.tcp_port)); }

    // Connects, takes the offers as a client of RFC 2217 does and waits for
    // the first modem state, which follows the agreement; the stream is
    // then cleared.
    ::testing::AssertionResult agree(TelnetClient& c)
    {
        if (!c.socket.connect(tcp(), 15000))
            return ::testing::AssertionFailure() << "no connection";
        if (!c.read_until([&] { return c.stream.commands.size() >= 5; }))
            return ::testing::AssertionFailure() << "no offers";
        std::string offered;
        for (const std::string& command : c.stream.commands)
            offered += command;
        if (offered != telnet::offers())
            return ::testing::AssertionFailure() << "other offers, " << offered.size() << " bytes";
        if (!c.socket.send(telnet::agreement()))
            return ::testing::AssertionFailure() << "agreement not sent";
        const auto modem_state = [&] {
            for (const std::string& command : c.stream.commands)
                if (command.compare(0, 4, bytes({TELNET_IAC, TELNET_SB, TELNET_OPT_COM_PORT, 107})) == 0)
                    return true;
            return false;
        };
        if (!c.read_until(modem_state))
            return ::testing::AssertionFailure() << "no modem state after the agreement";
        c.stream = {};
        return ::testing::AssertionSuccess();
    }

    ScopedEnv no_dtr_log{"VANTREL_DTR_LOG", std::nullopt};
    DeviceMap devices;
    Board board;
    WorkerOptions options;
    Worker worker;
};

std::string all_byte_values()
{
    std::string s(256, '\0');
    for (int i = 0; i < 256; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(i);
    return s;
}

std::string be32(uint32_t v)
{
    return bytes({static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                  static_cast<int>(v & 0xFF)});
}

// The preloaded stand-in for what a pseudo-terminal lacks, with the files
// it reads its modem lines and error counters from.
struct DriverStandIn {
    TempDir dir;
    const std::string lines = dir / "modem";
    const std::string counters = dir / "icount";
    ScopedEnv asan_order{"ASAN_OPTIONS", std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "")
                                             + ":verify_asan_link_order=0"};
    ScopedEnv preload{"LD_PRELOAD", std::string(SERIAL_FLAGS_LIB)};
    ScopedEnv lines_env{"VANTREL_MODEM_LINES_FILE", lines};
    ScopedEnv counters_env{"VANTREL_ICOUNT_FILE", counters};

    explicit DriverStandIn(int modem_lines = 0) { set_lines(modem_lines); }
    void set_lines(int bits) { replace(lines, std::to_string(bits)); }
    void set_counters(const std::string& counts) { replace(counters, counts); }

private:
    // Whole at once: the stand-in may read the file at any moment.
    void replace(const std::string& path, const std::string& text)
    {
        ASSERT_TRUE(write_file(path + ".new", text));
        std::filesystem::rename(path + ".new", path);
    }
};

long long switches_while_idle(uint32_t pid, int ms)
{
    const long long before = context_switches(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return context_switches(pid) - before;
}

} // namespace

TEST_F(Rfc2217, OffersTelnetAndMovesEveryByteValueBothWays)
{
    ASSERT_TRUE(worker.start(options));
    TelnetClient c;
    ASSERT_TRUE(agree(c));
    const std::string values = all_byte_values() + all_byte_values();
    // Up: doubled IACs, sent a byte at a time for the first 300 so that an
    // IAC ends many a segment.
    const std::string up = telnet::escape(values);
    for (size_t i = 0; i < 300; ++i)
        ASSERT_TRUE(c.socket.send(up.substr(i, 1)));
    ASSERT_TRUE(c.socket.send(up.substr(300)));
    EXPECT_EQ(board.read(values.size(), 15000), values);
    // Down: every 0xFF comes doubled, nothing else is added.
    ASSERT_TRUE(board.write(values));
    ASSERT_TRUE(c.read_until([&] { return c.stream.data.size() >= values.size(); }));
    EXPECT_EQ(c.stream.data, values);
    EXPECT_TRUE(c.stream.commands.empty());
    EXPECT_GE(worker.stop_and_time(10000), 0);
    EXPECT_EQ(worker.exit_code(), 0);
}

// Negotiation storms, truncated, broken and oversized subnegotiations,
// unknown commands and values out of range: each gets its answer (or
// none) and the relay goes on. After each case a DTR query marks the end
// of what the case is answered with.
TEST_F(Rfc2217, BadInputGetsItsDefinedAnswerAndTheRelayGoesOn)
{
    std::string storm, storm_answers;
    for (int i = 0; i < 400; ++i) {
        storm += option(TELNET_DO, 200) + option(TELNET_DONT, 200) + option(TELNET_WILL, 201)
                 + option(TELNET_WONT, 201) + option(TELNET_DO, TELNET_OPT_BINARY) + option(TELNET_WILL, TELNET_OPT_SGA);
        storm_answers += option(TELNET_WONT, 200) + option(TELNET_DONT, 201);
        if (i == 0)
            storm_answers += option(TELNET_DO, TELNET_OPT_SGA); // the client's SGA, once
    }
    const std::string long_value(300, 'A');
    const struct Case {
        const char* what;
        std::string sent;
        std::string answers; // in this order, then the probe's
        std::string board;
    } cases[] = {
        {"negotiation storm", storm, storm_answers, ""},
        {"baud rate of two bytes", sub(COM_PORT_SET_BAUDRATE, bytes({0, 1})), answer(COM_PORT_SET_BAUDRATE, be32(19200)), ""},
        {"no command", bytes({TELNET_IAC, TELNET_SB, TELNET_OPT_COM_PORT, TELNET_IAC, TELNET_SE}), "", ""},
        {"broken by a command", "a" + bytes({TELNET_IAC, TELNET_SB, TELNET_OPT_COM_PORT, COM_PORT_SET_CONTROL, 9,
                                             TELNET_IAC, TELNET_WILL, 99}) + "b",
         option(TELNET_DONT, 99), "ab"},
        {"oversized", "c" + sub(COM_PORT_SET_CONTROL, long_value) + "d", "", "cd"},
        {"unknown and server codes", sub(50, 1) + sub(COM_PORT_SET_CONTROL + COM_PORT_SERVER_OFFSET, 9)
                                         + bytes({TELNET_IAC, TELNET_SB, 99, 1, 2, TELNET_IAC, TELNET_SE}),
         "", ""},
        {"plain commands", "e" + bytes({TELNET_IAC, TELNET_NOP, TELNET_IAC, 246, TELNET_IAC, 243, TELNET_IAC, TELNET_SE}) + "f",
         "", "ef"},
        {"out of range", sub(COM_PORT_SET_DATASIZE, 9) + sub(COM_PORT_SET_PARITY, 6) + sub(COM_PORT_SET_STOPSIZE, 4)
                             + sub(COM_PORT_SET_CONTROL, 20) + sub(COM_PORT_PURGE_DATA, 4) + sub(COM_PORT_SET_BAUDRATE, be32(0)),
         answer(COM_PORT_SET_DATASIZE, 8) + answer(COM_PORT_SET_PARITY, 1) + answer(COM_PORT_SET_STOPSIZE, 1)
             + answer(COM_PORT_SET_CONTROL, COM_CONTROL_FLOW_NONE) + answer(COM_PORT_PURGE_DATA, 0)
             + answer(COM_PORT_SET_BAUDRATE, be32(19200)),
         ""},
    };
    const std::string probe = sub(COM_PORT_SET_CONTROL, COM_CONTROL_DTR_QUERY);
    const std::string probe_answer = answer(COM_PORT_SET_CONTROL, COM_CONTROL_DTR_ON);
    ASSERT_TRUE(worker.start(options));
    TelnetClient c;
    ASSERT_TRUE(agree(c));
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        c.stream = {};
        ASSERT_TRUE(c.ask(k.sent + probe, probe_answer));
        std::string got;
        for (const std::string& command : c.stream.commands)
            got += command;
        EXPECT_EQ(got, k.answers + probe_answer);
        EXPECT_EQ(board.read(k.board.size(), 5000), k.board);
        ASSERT_TRUE(transfer(c.socket, board, "up", "")) << "the relay goes on";
    }
    EXPECT_EQ(board.pending(), 0u);
    EXPECT_TRUE(worker.running());
}

// Client 1 changes the line, DTR, RTS and the break and leaves with the
// break on; client 2 finds the service's own settings. DTRO and DTRC hold
// DTR low around each client as they do for a raw service.
TEST_F(Rfc2217, AClientsLineSettingsLastForItsConnection)
{
    DtrLog dtr;
    options.baud_rate = "19200";
    options.dtro = 1;
    options.dtrc = 1;
    ASSERT_TRUE(worker.start(options));
    {
        TelnetClient first;
        ASSERT_TRUE(agree(first));
        const struct {
            std::string command, answer;
        } steps[] = {
            {sub(COM_PORT_SET_BAUDRATE, be32(57600)), answer(COM_PORT_SET_BAUDRATE, be32(57600))},
            {sub(COM_PORT_SET_STOPSIZE, 2), answer(COM_PORT_SET_STOPSIZE, 2)},
            {sub(COM_PORT_SET_CONTROL, COM_CONTROL_DTR_OFF), answer(COM_PORT_SET_CONTROL, COM_CONTROL_DTR_OFF)},
            {sub(COM_PORT_SET_CONTROL, COM_CONTROL_DTR_ON), answer(COM_PORT_SET_CONTROL, COM_CONTROL_DTR_ON)},
            {sub(COM_PORT_SET_CONTROL, COM_CONTROL_RTS_OFF), answer(COM_PORT_SET_CONTROL, COM_CONTROL_RTS_OFF)},
            {sub(COM_PORT_SET_CONTROL, COM_CONTROL_BREAK_ON), answer(COM_PORT_SET_CONTROL, COM_CONTROL_BREAK_ON)},
        };
        for (const auto& step : steps)
            ASSERT_TRUE(first.ask(step.command, step.answer));
        termios t{};
        ASSERT_EQ(tcgetattr(board.fd(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
        EXPECT_TRUE(t.c_cflag & CSTOPB);
    }
    TelnetClient second;
    ASSERT_TRUE(agree(second));
    ASSERT_TRUE(transfer(second.socket, board, "second", ""));
    termios t{};
    ASSERT_EQ(tcgetattr(board.fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    ASSERT_GE(worker.stop_and_time(10000), 0);

    const std::vector<LineChange> changes = read_line_log(dtr.path);
    std::vector<std::string> seen;
    for (const LineChange& change : changes)
        seen.push_back(std::to_string(change.level) + (change.line == "DTR" ? "" : " " + change.line));
    const std::vector<std::string> expected = {
        "1", "0", "1",                                  // client 1: the open, DTRO's hold
        "0", "1", "0 RTS", "1 BREAK", "0 BREAK", "0",   // its changes, its break taken off, DTRC's hold
        "1", "0", "1", "0",                             // client 2: open, DTRO, DTRC at the stop
    };
    ASSERT_EQ(seen, expected) << read_file(dtr.path);
    for (size_t hold : {size_t{1}, size_t{10}})
        EXPECT_GE(changes[hold + 1].at_ms - changes[hold].at_ms, 1000) << "DTRO's hold " << hold;
}

// A break or a line error from the board: told to an RFC 2217 client as
// NOTIFY-LINESTATE (under its mask) while the relay goes on, where it ends
// a raw relay as it always has.
TEST_F(Rfc2217, ABreakFromTheBoardIsNewsForTheClientAndTheEndOfARawRelay)
{
    DriverStandIn driver;
    for (bool rfc2217 : {false, true}) {
        SCOPED_TRACE(rfc2217 ? "RFC 2217" : "raw");
        driver.set_counters("0 0 0 0 0");
        WorkerOptions o = options;
        o.tcp_port = std::to_string(free_port());
        o.flags = rfc2217 ? RFC2217_FLAGS : "0";
        options.tcp_port = o.tcp_port;
        Worker w;
        ASSERT_TRUE(w.start(o));
        TelnetClient c;
        if (rfc2217) {
            ASSERT_TRUE(agree(c));
            ASSERT_TRUE(c.ask(sub(COM_PORT_SET_LINESTATE_MASK, 0x1E), answer(COM_PORT_SET_LINESTATE_MASK, 0x1E)));
        } else {
            ASSERT_TRUE(c.socket.connect(tcp(), 15000));
        }
        ASSERT_TRUE(transfer(c.socket, board, "open", ""));
        // A break comes with a NUL byte.
        driver.set_counters("1 0 0 0 0");
        ASSERT_TRUE(board.write(std::string(1, '\0')));
        if (!rfc2217) {
            EXPECT_TRUE(c.socket.closed_by_peer(15000));
            continue;
        }
        ASSERT_TRUE(c.read_until([&] { return c.has_command(answer(COM_PORT_NOTIFY_LINESTATE, COM_LINE_BREAK)); }));
        driver.set_counters("1 1 1 1 0");
        ASSERT_TRUE(board.write("x"));
        ASSERT_TRUE(c.read_until([&] {
            return c.has_command(answer(COM_PORT_NOTIFY_LINESTATE, COM_LINE_FRAMING | COM_LINE_OVERRUN | COM_LINE_PARITY));
        }));
        ASSERT_TRUE(c.read_until([&] { return c.stream.data.size() >= 2; }));
        EXPECT_EQ(c.stream.data, std::string("\0x", 2));
        ASSERT_TRUE(transfer(c.socket, board, "after", "")) << "the relay goes on";
    }
}

// Modem lines where the device has them: the first state after the
// agreement, a change told as it happens. The port has no event for them,
// so they are asked for, but only while the client's mask lets a change
// through; a pseudo-terminal without them is never asked.
TEST_F(Rfc2217, ModemLineChangesAreToldAndAskedForOnlyWhileWanted)
{
    constexpr long long bound = 5 + 2 * RUNTIME_WAKES_PER_SECOND;
    {
        SCOPED_TRACE("no modem lines");
        ASSERT_TRUE(worker.start(options));
        TelnetClient c;
        ASSERT_TRUE(agree(c));
        EXPECT_LE(switches_while_idle(worker.pid(), 2000), bound);
        worker.stop();
    }
    DriverStandIn driver(TIOCM_CTS | TIOCM_CAR);
    options.tcp_port = std::to_string(free_port());
    Worker w;
    ASSERT_TRUE(w.start(options));
    TelnetClient c;
    ASSERT_TRUE(c.socket.connect(tcp(), 15000));
    ASSERT_TRUE(c.ask(telnet::agreement(), answer(COM_PORT_NOTIFY_MODEMSTATE, COM_MODEM_CTS | COM_MODEM_CD)));
    driver.set_lines(TIOCM_CTS | TIOCM_DSR);
    ASSERT_TRUE(c.read_until([&] {
        return c.has_command(answer(COM_PORT_NOTIFY_MODEMSTATE, COM_MODEM_CTS | COM_MODEM_DSR | COM_MODEM_DELTA_DSR
                                                                    | COM_MODEM_DELTA_CD));
    }));
    ASSERT_TRUE(c.ask(sub(COM_PORT_SET_MODEMSTATE_MASK, 0), answer(COM_PORT_SET_MODEMSTATE_MASK, 0)));
    EXPECT_LE(switches_while_idle(w.pid(), 2000), bound) << "asked with a mask of 0";
    ASSERT_TRUE(c.ask(sub(COM_PORT_SET_MODEMSTATE_MASK, 0xFF), answer(COM_PORT_SET_MODEMSTATE_MASK, 0xFF)));
    driver.set_lines(TIOCM_RNG);
    ASSERT_TRUE(c.read_until([&] {
        return c.has_command(answer(COM_PORT_NOTIFY_MODEMSTATE, COM_MODEM_RI | COM_MODEM_DELTA_CTS | COM_MODEM_DELTA_DSR));
    }));
}

// FLOWCONTROL-SUSPEND holds the board's data; RESUME lets it go.
TEST_F(Rfc2217, SuspendedDataWaitsForTheResume)
{
    ASSERT_TRUE(worker.start(options));
    TelnetClient c;
    ASSERT_TRUE(agree(c));
    ASSERT_TRUE(c.ask(sub(COM_PORT_FLOWCONTROL_SUSPEND), answer(COM_PORT_FLOWCONTROL_SUSPEND)));
    ASSERT_TRUE(board.write("held"));
    EXPECT_FALSE(c.read_until([&] { return !c.stream.data.empty(); }, 500)) << "data came while suspended";
    ASSERT_TRUE(c.ask(sub(COM_PORT_FLOWCONTROL_RESUME), answer(COM_PORT_FLOWCONTROL_RESUME)));
    ASSERT_TRUE(c.read_until([&] { return c.stream.data.size() >= 4; }));
    EXPECT_EQ(c.stream.data, "held");
}
