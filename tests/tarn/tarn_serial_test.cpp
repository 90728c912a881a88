// The serial driver on pseudo-terminals standing in for boards: the test
// holds the master side, the library opens the slave through a device-map
// link named like a COM port.

#include "tarn_test_support.h"

#include "support/board.h"
#include "support/deadline.h"
#include "support/device_map.h"
#include "support/files.h"
#include "support/scoped_env.h"

// The kernel's termios2 carries any speed; <termios.h> is not used here.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace tarn_test;

namespace {

class TarnSerial : public TarnTest {
protected:
    void SetUp() override
    {
        TarnTest::SetUp();
        ASSERT_TRUE(board.valid());
        devices.map("com7", board.slave());
        // The board starts raw; a terminal nobody has set up is not, and
        // the open must leave none of that in place.
        termios2 cooked = settings();
        cooked.c_iflag |= ICRNL | IXON | IXOFF | ISTRIP;
        cooked.c_oflag |= OPOST;
        cooked.c_lflag |= ICANON | ECHO | ISIG;
        ASSERT_EQ(ioctl(board.fd(), TCSETS2, &cooked), 0);
    }

    // Termios of the slave, read through the master.
    termios2 settings() const
    {
        termios2 t{};
        EXPECT_EQ(ioctl(board.fd(), TCGETS2, &t), 0);
        return t;
    }

    // Whether the slave keeps a c_cflag bit set through the master.
    bool pty_keeps(tcflag_t bit) const
    {
        termios2 t = settings();
        termios2 changed = t;
        changed.c_cflag |= bit;
        EXPECT_EQ(ioctl(board.fd(), TCSETS2, &changed), 0);
        bool kept = (settings().c_cflag & bit) != 0;
        EXPECT_EQ(ioctl(board.fd(), TCSETS2, &t), 0);
        return kept;
    }

    // Waits until the slave has n bytes queued.
    bool queued(int d, uint32_t n) const
    {
        return support::wait_until([&] {
            port::SerialStatus st;
            return tarn_slot_serial(d)->fetch_status(st) && st.queued >= n;
        }, 10000);
    }

    support::ScopedEnv no_dtr_log{"VANTREL_DTR_LOG", std::nullopt};
    support::DeviceMap devices{false};
    support::Board board;
};

} // namespace

TEST_F(TarnSerial, DefaultLineSettings)
{
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0) << tarn_error_text();
    EXPECT_EQ(tarn_slot_kind(d), TARN_SERIAL);
    termios2 t = settings();
    EXPECT_EQ(t.c_ospeed, 9600u);
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(TarnSerial, FlagsWordAndBaudRates)
{
    struct Case {
        const char* baud;
        int flags;
        unsigned speed;
        tcflag_t cflag_set, cflag_clear, iflag_set, iflag_clear;
    } cases[] = {
        {"19200", port::SERIAL_LINE_PARITY | port::SERIAL_LINE_ODD, 19200, PARENB | PARODD, CSTOPB | CRTSCTS, 0,
         IXON | IXOFF},
        {"4800", port::SERIAL_LINE_PARITY, 4800, PARENB, PARODD | CSTOPB, 0, IXON | IXOFF},
        {"2400", port::SERIAL_LINE_ODD, 2400, 0, PARENB | PARODD, 0, 0},
        {"115200", port::SERIAL_LINE_TWO_STOP | port::SERIAL_LINE_RTSCTS | port::SERIAL_LINE_XONXOFF, 115200,
         CSTOPB | CRTSCTS, PARENB, IXON | IXOFF, 0},
        {"14400", port::SERIAL_LINE_RTSCTS, 14400, CRTSCTS, PARENB | CSTOPB, 0, IXON | IXOFF},
        {"230400", port::SERIAL_LINE_XONXOFF, 230400, 0, CRTSCTS | PARENB, IXON | IXOFF, 0},
        {"57600 baud", 0x1c, 57600, 0, PARENB | CSTOPB | CRTSCTS, 0, IXON | IXOFF}, // bits without a meaning
    };
    // A pseudo-terminal may drop PARENB whatever it is asked (no parity on a
    // line that does not exist); the test then cannot see that bit.
    bool keeps_parenb = pty_keeps(PARENB);
    for (const Case& c : cases) {
        int d = tarn_open("COM7", c.baud, c.flags, nullptr);
        ASSERT_EQ(d, 0) << c.baud << ": " << tarn_error_text();
        termios2 t = settings();
        EXPECT_EQ(t.c_ospeed, c.speed) << c.baud;
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << c.baud;
        tcflag_t mask = keeps_parenb ? ~tcflag_t(0) : ~tcflag_t(PARENB);
        EXPECT_EQ(t.c_cflag & c.cflag_set & mask, c.cflag_set & mask) << c.baud;
        EXPECT_EQ(t.c_cflag & c.cflag_clear & mask, 0u) << c.baud;
        EXPECT_EQ(t.c_iflag & c.iflag_set, c.iflag_set) << c.baud;
        EXPECT_EQ(t.c_iflag & c.iflag_clear, 0u) << c.baud;
        tarn_close(d);
    }
}

TEST_F(TarnSerial, ABaudRateOfZeroOrBelowIsRefused)
{
    for (const char* baud : {"0", "0x100", "-9600"}) {
        EXPECT_EQ(tarn_open("COM7", baud, 0, nullptr), -1) << baud;
        EXPECT_EQ(tarn_error.load(), TARN_ERR_SET_TTY) << baud;
        EXPECT_STREQ(tarn_error_text(), "can not set tty port attributes");
        EXPECT_EQ(tarn_slot_kind(0), TARN_FREE);
    }
    // The refused open left the device free.
    EXPECT_EQ(tarn_open("COM7", "9600", 0, nullptr), 0) << tarn_error_text();
}

TEST_F(TarnSerial, BytesBothWaysUnchanged)
{
    int d = tarn_open("com7", "38400", 0, nullptr);
    ASSERT_EQ(d, 0) << tarn_error_text();
    char buf[512];
    EXPECT_EQ(tarn_read(d, buf, sizeof buf, 0), 0); // nothing queued

    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(tarn_write(d, all.data(), 256), 256);
    EXPECT_EQ(board.read(256, 10000), all);

    ASSERT_TRUE(board.write(all));
    ASSERT_TRUE(queued(d, 256));
    EXPECT_EQ(tarn_read(d, buf, sizeof buf, 0), 256);
    EXPECT_EQ(std::string(buf, 256), all);
    EXPECT_EQ(tarn_read(d, buf, sizeof buf, 0), 0);

    // A read takes only what fits.
    ASSERT_TRUE(board.write("0123456789"));
    ASSERT_TRUE(queued(d, 10));
    EXPECT_EQ(tarn_slot_read(d, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(tarn_read_full(d, buf, 6), 6);
    EXPECT_EQ(std::string(buf, 6), "456789");
}

TEST_F(TarnSerial, AbsentBusyAndOverlongPortsCannotBeOpened)
{
    devices.map("COM8", devices.path("no-such-device"));
    for (const char* name : {"COM8", "NOPE", "COM7/.."}) {
        EXPECT_EQ(tarn_open(name, "9600", 0, nullptr), -1) << name;
        EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN) << name;
        EXPECT_STREQ(tarn_error_text(), "can not open port to execution environment");
    }
    // Something that is no terminal is no serial port.
    ASSERT_TRUE(support::write_file(devices.path("plain"), "x"));
    devices.map("COM9", devices.path("plain"));
    EXPECT_EQ(tarn_open("COM9", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);

    std::string longest(251, 'c');
    std::string overlong(252, 'c');
    devices.map(longest, board.slave());
    EXPECT_EQ(tarn_open(overlong.c_str(), "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);
    int d = tarn_open(longest.c_str(), "9600", 0, nullptr);
    EXPECT_EQ(d, 0) << tarn_error_text();

    // Held: a second open of the same device fails, the first goes on.
    EXPECT_EQ(tarn_open("COM7", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);
    EXPECT_EQ(tarn_slot_kind(1), TARN_FREE);
    EXPECT_EQ(tarn_write(d, "x", 1), 1);
    EXPECT_EQ(board.read(1, 10000), "x");
    tarn_close(d);
    EXPECT_EQ(tarn_open("COM7", "9600", 0, nullptr), 0) << tarn_error_text();
}

TEST_F(TarnSerial, SocketOperationsOnASerialPortAndDtrOnASocket)
{
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0);
    EXPECT_EQ(tarn_accept(d), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_UNSUPPORTED);
    EXPECT_EQ(tarn_slot_socket(d), nullptr);

    port::Socket server = listener();
    int s = tarn_open("127.0.0.1", std::to_string(server.local_port()).c_str(), 0, nullptr);
    ASSERT_EQ(s, 1) << tarn_error_text();
    EXPECT_EQ(tarn_slot_serial(s), nullptr);
    tarn_error = TARN_ERR_NO_PWTCP;
    EXPECT_EQ(tarn_set_dtr(s, 1), -1);
    EXPECT_EQ(tarn_set_dtr(-1, 0), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_NO_PWTCP);
}

TEST_F(TarnSerial, DtrChangesAreLogged)
{
    const std::string log = devices.path("dtr.log");
    support::ScopedEnv dtr_log("VANTREL_DTR_LOG", log);
    long long before = support::monotonic_ms();
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0) << tarn_error_text();
    EXPECT_EQ(tarn_set_dtr(d, 0), 0);
    EXPECT_EQ(tarn_set_dtr(d, 1), 0);
    EXPECT_EQ(tarn_set_dtr(d, 0), 0);
    long long after = support::monotonic_ms();
    tarn_close(d);

    const auto changes = support::read_dtr_log(log);
    ASSERT_EQ(changes.size(), 4u);
    int expected[] = {1, 0, 1, 0};
    long long last = before;
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].level, expected[i]) << i;
        EXPECT_GE(changes[i].at_ms, last);
        EXPECT_LE(changes[i].at_ms, after);
        last = changes[i].at_ms;
    }
}

TEST_F(TarnSerial, EventWaitWakesOnDataAndOnCancel)
{
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0);
    port::SerialPort* p = tarn_slot_serial(d);
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(p->set_event_mask(port::SERIAL_EV_RXCHAR | port::SERIAL_EV_ERR));

    port::SerialWait result = port::SerialWait::Failed;
    std::thread waiter([&] { result = p->wait_event(); });
    ASSERT_TRUE(board.write("!"));
    waiter.join();
    EXPECT_EQ(result, port::SerialWait::Event);
    port::SerialStatus st;
    ASSERT_TRUE(queued(d, 1));
    ASSERT_TRUE(p->fetch_status(st));
    EXPECT_EQ(st.errors, 0u); // a pseudo-terminal reports no line errors
    char c;
    EXPECT_EQ(tarn_slot_read(d, &c, 1), 1);

    // A cancel from another thread ends a pending wait, and every later
    // one, until resumed.
    auto start = clock_type::now();
    std::thread cancelled([&] { result = p->wait_event(); });
    p->cancel();
    cancelled.join();
    EXPECT_EQ(result, port::SerialWait::Cancelled);
    EXPECT_EQ(p->wait_event(), port::SerialWait::Cancelled);
    EXPECT_LT(ms_since(start), 5000);
    p->resume();
    ASSERT_TRUE(board.write("?"));
    EXPECT_EQ(p->wait_event(), port::SerialWait::Event);
}

TEST_F(TarnSerial, BlockedWriteEndsOnCancel)
{
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0);
    port::SerialPort* p = tarn_slot_serial(d);
    // Nobody reads the board side: the write fills the line and waits.
    std::vector<char> block(4 << 20, 'w');
    int written = 0;
    std::thread writer([&] { written = p->write(block.data(), static_cast<uint32_t>(block.size())); });
    // Wait until bytes reach the board side, then cancel.
    auto start = clock_type::now();
    EXPECT_TRUE(support::wait_until([&] { return board.pending() > 0; }, 10000));
    p->cancel();
    writer.join();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(block.size()));
    EXPECT_LT(ms_since(start), 10000);
}

TEST_F(TarnSerial, HangUpOfTheBoardSideFailsTheWait)
{
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0);
    port::SerialPort* p = tarn_slot_serial(d);
    ASSERT_TRUE(p->set_event_mask(port::SERIAL_EV_RXCHAR));
    board.close();
    EXPECT_EQ(p->wait_event(), port::SerialWait::Failed);
    EXPECT_EQ(tarn_write(d, "x", 1), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_COMMUNICATION);
    EXPECT_STREQ(tarn_error_text(), "communication error");
}

TEST_F(TarnSerial, SerialAndSocketDescriptorsTogether)
{
    int d = tarn_open("COM7", "9600", 0, counting_callback);
    ASSERT_EQ(d, 0);
    port::Socket server = listener();
    int s = tarn_open("127.0.0.1", std::to_string(server.local_port()).c_str(), 0, counting_callback);
    ASSERT_EQ(s, 1);
    reset_callback(0);
    EXPECT_EQ(tarn_poll_abort(), 0);
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(tarn_open("COM7", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_NO_DESCRIPTOR);
}

TEST_F(TarnSerial, LineSettingsOneAtATime)
{
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0) << tarn_error_text();
    port::SerialPort* p = tarn_slot_serial(d);
    // What the terminal keeps of each change, seen through the board side,
    // and what the port reports in force. A pseudo-terminal keeps neither
    // a data size other than 8 nor PARENB: the port must say so (whether
    // it calls that change refused depends on the C library).
    constexpr int either = -1;
    struct Case {
        const char* what;
        std::function<bool()> change;
        int accepted;
        tcflag_t cflag_set, cflag_clear, iflag_set, iflag_clear;
        std::function<void(const port::SerialSettings&)> check;
    } cases[] = {
        {"57600", [&] { return p->set_baud_rate(57600); }, 1, 0, 0, 0, 0,
         [](const port::SerialSettings& s) { EXPECT_EQ(s.baud, 57600); }},
        {"250000 (no B constant)", [&] { return p->set_baud_rate(250000); }, 1, 0, 0, 0, 0,
         [](const port::SerialSettings& s) { EXPECT_EQ(s.baud, 250000); }},
        {"rate 0", [&] { return p->set_baud_rate(0); }, 0, 0, 0, 0, 0,
         [](const port::SerialSettings& s) { EXPECT_EQ(s.baud, 250000); }},
        {"two stop bits", [&] { return p->set_stop_bits(port::SerialStopBits::Two); }, 1, CSTOPB, 0, 0, 0,
         [](const port::SerialSettings& s) { EXPECT_EQ(s.stop_bits, port::SerialStopBits::Two); }},
        {"1.5 stop bits with 8 data bits", [&] { return p->set_stop_bits(port::SerialStopBits::OneAndHalf); }, 0,
         CSTOPB, 0, 0, 0, [](const port::SerialSettings& s) { EXPECT_EQ(s.stop_bits, port::SerialStopBits::Two); }},
        {"one stop bit", [&] { return p->set_stop_bits(port::SerialStopBits::One); }, 1, 0, CSTOPB, 0, 0,
         [](const port::SerialSettings& s) { EXPECT_EQ(s.stop_bits, port::SerialStopBits::One); }},
        {"7 data bits", [&] { return p->set_data_bits(7); }, either, 0, 0, 0, 0,
         [&](const port::SerialSettings& s) { EXPECT_EQ(s.data_bits, (settings().c_cflag & CSIZE) == CS7 ? 7 : 8); }},
        {"9 data bits", [&] { return p->set_data_bits(9); }, 0, 0, 0, 0, 0, {}},
        {"mark parity", [&] { return p->set_parity(port::SerialParity::Mark); }, either, PARODD | CMSPAR, 0, 0, 0,
         [&](const port::SerialSettings& s) {
             EXPECT_EQ(s.parity, pty_keeps(PARENB) ? port::SerialParity::Mark : port::SerialParity::None);
         }},
        {"even parity", [&] { return p->set_parity(port::SerialParity::Even); }, either, 0, PARODD | CMSPAR, 0, 0, {}},
        {"XON/XOFF out", [&] { return p->set_outbound_flow(port::SerialFlow::XonXoff); }, 1, 0, CRTSCTS, IXON,
         IXOFF, [](const port::SerialSettings& s) {
             EXPECT_EQ(s.outbound, port::SerialFlow::XonXoff);
             EXPECT_EQ(s.inbound, port::SerialFlow::None);
         }},
        {"XON/XOFF in", [&] { return p->set_inbound_flow(port::SerialFlow::XonXoff); }, 1, 0, CRTSCTS,
         IXON | IXOFF, 0, [](const port::SerialSettings& s) { EXPECT_EQ(s.inbound, port::SerialFlow::XonXoff); }},
        {"RTS/CTS out", [&] { return p->set_outbound_flow(port::SerialFlow::RtsCts); }, 1, CRTSCTS, 0, IXOFF, IXON,
         [](const port::SerialSettings& s) {
             EXPECT_EQ(s.outbound, port::SerialFlow::RtsCts);
             EXPECT_EQ(s.inbound, port::SerialFlow::RtsCts); // one handshake for both
         }},
        {"no flow in", [&] { return p->set_inbound_flow(port::SerialFlow::None); }, 1, 0, CRTSCTS, 0, IXON | IXOFF,
         [](const port::SerialSettings& s) {
             EXPECT_EQ(s.outbound, port::SerialFlow::None);
             EXPECT_EQ(s.inbound, port::SerialFlow::None);
         }},
    };
    for (const Case& c : cases) {
        const bool accepted = c.change();
        if (c.accepted != either) {
            EXPECT_EQ(accepted, c.accepted == 1) << c.what;
        }
        termios2 t = settings();
        EXPECT_EQ(t.c_cflag & c.cflag_set, c.cflag_set) << c.what;
        EXPECT_EQ(t.c_cflag & c.cflag_clear, 0u) << c.what;
        EXPECT_EQ(t.c_iflag & c.iflag_set, c.iflag_set) << c.what;
        EXPECT_EQ(t.c_iflag & c.iflag_clear, 0u) << c.what;
        port::SerialSettings now;
        ASSERT_TRUE(p->settings(now)) << c.what;
        EXPECT_EQ(static_cast<unsigned>(now.baud), t.c_ospeed) << c.what;
        if (c.check)
            c.check(now);
    }
    // Nothing else moved: raw bytes still pass unchanged.
    EXPECT_EQ(tarn_write(d, "\r\n\x11", 3), 3);
    EXPECT_EQ(board.read(3, 10000), "\r\n\x11");
}

TEST_F(TarnSerial, ControlLinesPurgeAndModemStatus)
{
    const std::string log = devices.path("lines.log");
    support::ScopedEnv line_log("VANTREL_DTR_LOG", log);
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0) << tarn_error_text();
    port::SerialPort* p = tarn_slot_serial(d);
    EXPECT_TRUE(p->set_rts(false));
    EXPECT_TRUE(p->set_break(true));
    port::SerialControl lines;
    ASSERT_TRUE(p->control_lines(lines));
    EXPECT_TRUE(lines.dtr);
    EXPECT_FALSE(lines.rts);
    EXPECT_TRUE(lines.break_on);
    EXPECT_TRUE(p->set_break(false));
    EXPECT_TRUE(p->set_rts(true));
    EXPECT_EQ(tarn_set_dtr(d, 0), 0);
    ASSERT_TRUE(p->control_lines(lines));
    EXPECT_FALSE(lines.dtr);
    EXPECT_TRUE(lines.rts);
    EXPECT_FALSE(lines.break_on);

    const auto changes = support::read_line_log(log);
    const std::vector<std::pair<std::string, int>> expected = {{"DTR", 1}, {"RTS", 0}, {"BREAK", 1},
                                                               {"BREAK", 0}, {"RTS", 1}, {"DTR", 0}};
    ASSERT_EQ(changes.size(), expected.size()) << support::read_file(log);
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].line, expected[i].first) << i;
        EXPECT_EQ(changes[i].level, expected[i].second) << i;
    }
    EXPECT_EQ(support::read_dtr_log(log).size(), 2u) << "the DTR lines alone";

    // A pseudo-terminal has no modem lines: none is up.
    uint32_t modem = 0xffff;
    EXPECT_TRUE(p->modem_lines(modem));
    EXPECT_EQ(modem, 0u);

    // Input purged: what the board sent is gone, what it sends next comes.
    ASSERT_TRUE(board.write("old"));
    ASSERT_TRUE(queued(d, 3));
    EXPECT_TRUE(p->purge(true, false));
    port::SerialStatus st;
    ASSERT_TRUE(p->fetch_status(st));
    EXPECT_EQ(st.queued, 0u);
    ASSERT_TRUE(board.write("new"));
    ASSERT_TRUE(queued(d, 3));
    char buf[8];
    EXPECT_EQ(tarn_read(d, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "new");
    // Output: a pseudo-terminal hands written bytes to the other side at
    // once, so nothing is left to purge; the line goes on.
    EXPECT_TRUE(p->purge(false, true));
    EXPECT_TRUE(p->purge(true, true));
    EXPECT_EQ(tarn_write(d, "kept", 4), 4);
    EXPECT_EQ(board.read(4, 10000), "kept");
}
