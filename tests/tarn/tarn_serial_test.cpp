// The serial driver on pseudo-terminals standing in for boards: the test
// holds the master side, the library opens the slave through a device-map
// link named like a COM port.

#include "tarn_test_support.h"

#include "port/serial_names.h"

// The kernel's termios2 carries any speed; <termios.h> is not used here.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace tarn_test;
namespace fs = std::filesystem;

namespace {

long long monotonic_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class TarnSerial : public TarnTest {
protected:
    void SetUp() override
    {
        TarnTest::SetUp();
        char dir_template[] = "/tmp/tarn-devices-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        ASSERT_EQ(setenv("VANTREL_DEVICE_DIR", dir_.c_str(), 1), 0);
        unsetenv("VANTREL_DTR_LOG");
        master_ = make_pty("com7");
        ASSERT_GE(master_, 0);
    }
    void TearDown() override
    {
        TarnTest::TearDown();
        for (int fd : masters_)
            ::close(fd);
        unsetenv("VANTREL_DEVICE_DIR");
        unsetenv("VANTREL_DTR_LOG");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A pseudo-terminal whose slave the device map names `link`.
    int make_pty(const std::string& link)
    {
        int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
            return -1;
        masters_.push_back(fd);
        fs::create_symlink(ptsname(fd), dir_ + "/" + link);
        return fd;
    }

    // Termios of the slave, read through the master.
    termios2 settings() const
    {
        termios2 t{};
        EXPECT_EQ(ioctl(master_, TCGETS2, &t), 0);
        return t;
    }

    // Whether the slave keeps a c_cflag bit set through the master.
    bool pty_keeps(tcflag_t bit) const
    {
        termios2 t = settings();
        termios2 changed = t;
        changed.c_cflag |= bit;
        EXPECT_EQ(ioctl(master_, TCSETS2, &changed), 0);
        bool kept = (settings().c_cflag & bit) != 0;
        EXPECT_EQ(ioctl(master_, TCSETS2, &t), 0);
        return kept;
    }

    // What the board side receives within the deadline.
    std::string board_read(size_t n, int timeout_ms = 10000) const
    {
        std::string got;
        auto start = clock_type::now();
        while (got.size() < n && ms_since(start) < timeout_ms) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 100) != 1)
                continue;
            char buf[512];
            ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0)
                got.append(buf, r);
        }
        return got;
    }

    void board_write(const std::string& bytes) const
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until the slave has n bytes queued.
    bool queued(int d, uint32_t n) const
    {
        auto start = clock_type::now();
        while (ms_since(start) < 10000) {
            port::SerialStatus st;
            if (!tarn_slot_serial(d)->fetch_status(st))
                return false;
            if (st.queued >= n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::string dir_;
    int master_ = -1;
    std::vector<int> masters_;
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
    EXPECT_EQ(board_read(256), all);

    board_write(all);
    ASSERT_TRUE(queued(d, 256));
    EXPECT_EQ(tarn_read(d, buf, sizeof buf, 0), 256);
    EXPECT_EQ(std::string(buf, 256), all);
    EXPECT_EQ(tarn_read(d, buf, sizeof buf, 0), 0);

    // A read takes only what fits.
    board_write("0123456789");
    ASSERT_TRUE(queued(d, 10));
    EXPECT_EQ(tarn_slot_read(d, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(tarn_read_full(d, buf, 6), 6);
    EXPECT_EQ(std::string(buf, 6), "456789");
}

TEST_F(TarnSerial, AbsentBusyAndOverlongPortsCannotBeOpened)
{
    fs::create_symlink(dir_ + "/no-such-device", dir_ + "/COM8");
    for (const char* name : {"COM8", "NOPE", "COM7/.."}) {
        EXPECT_EQ(tarn_open(name, "9600", 0, nullptr), -1) << name;
        EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN) << name;
        EXPECT_STREQ(tarn_error_text(), "can not open port to execution environment");
    }
    // Something that is no terminal is no serial port.
    std::ofstream(dir_ + "/plain").put('x');
    fs::create_symlink(dir_ + "/plain", dir_ + "/COM9");
    EXPECT_EQ(tarn_open("COM9", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);

    std::string longest(251, 'c');
    std::string overlong(252, 'c');
    fs::create_symlink(ptsname(master_), dir_ + "/" + longest);
    EXPECT_EQ(tarn_open(overlong.c_str(), "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);
    int d = tarn_open(longest.c_str(), "9600", 0, nullptr);
    EXPECT_EQ(d, 0) << tarn_error_text();

    // Held: a second open of the same device fails, the first goes on.
    EXPECT_EQ(tarn_open("COM7", "9600", 0, nullptr), -1);
    EXPECT_EQ(tarn_error.load(), TARN_ERR_PORT_OPEN);
    EXPECT_EQ(tarn_slot_kind(1), TARN_FREE);
    EXPECT_EQ(tarn_write(d, "x", 1), 1);
    EXPECT_EQ(board_read(1), "x");
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
    std::string log = dir_ + "/dtr.log";
    ASSERT_EQ(setenv("VANTREL_DTR_LOG", log.c_str(), 1), 0);
    long long before = monotonic_ms();
    int d = tarn_open("COM7", "9600", 0, nullptr);
    ASSERT_EQ(d, 0) << tarn_error_text();
    EXPECT_EQ(tarn_set_dtr(d, 0), 0);
    EXPECT_EQ(tarn_set_dtr(d, 1), 0);
    EXPECT_EQ(tarn_set_dtr(d, 0), 0);
    long long after = monotonic_ms();
    tarn_close(d);

    std::ifstream in(log);
    std::vector<std::pair<long long, int>> lines;
    long long t;
    int v;
    while (in >> t >> v)
        lines.emplace_back(t, v);
    ASSERT_EQ(lines.size(), 4u);
    int expected[] = {1, 0, 1, 0};
    long long last = before;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].second, expected[i]) << i;
        EXPECT_GE(lines[i].first, last);
        EXPECT_LE(lines[i].first, after);
        last = lines[i].first;
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
    board_write("!");
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
    board_write("?");
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
    int pending = 0;
    while (ms_since(start) < 10000) {
        if (ioctl(master_, FIONREAD, &pending) == 0 && pending > 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
    ::close(master_);
    masters_.erase(masters_.begin());
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

TEST_F(TarnSerial, DeviceNames)
{
    // The device map first, in any letter case.
    EXPECT_EQ(port::serial_device_path("COM7"), dir_ + "/com7");
    EXPECT_EQ(port::serial_device_path("Com7"), dir_ + "/com7");
    // Then the built-in scheme.
    fs::create_directory(dir_ + "/empty");
    ASSERT_EQ(setenv("VANTREL_DEVICE_DIR", (dir_ + "/empty").c_str(), 1), 0);
    EXPECT_EQ(port::serial_device_path("COM1"), "/dev/ttyS0");
    EXPECT_EQ(port::serial_device_path("com32"), "/dev/ttyS31");
    EXPECT_EQ(port::serial_device_path("COM33"), "/dev/ttyUSB0");
    EXPECT_EQ(port::serial_device_path("COM64"), "/dev/ttyUSB31");
    EXPECT_EQ(port::serial_device_path("COM65"), "/dev/ttyACM0");
    EXPECT_EQ(port::serial_device_path("COM96"), "/dev/ttyACM31");
    for (const char* none : {"COM97", "COM256", "COM0", "COM03", "COM", "COM1x", "LPT1", "", "..", "a/b"})
        EXPECT_EQ(port::serial_device_path(none), "") << none;
    // Without a device-map folder of its own: "devices" in the
    // configuration folder.
    unsetenv("VANTREL_DEVICE_DIR");
    fs::create_directory(dir_ + "/devices");
    fs::create_symlink("/dev/null", dir_ + "/devices/COM200");
    ASSERT_EQ(setenv("VANTREL_CONFIG_DIR", dir_.c_str(), 1), 0);
    EXPECT_EQ(port::serial_device_path("com200"), dir_ + "/devices/COM200");
    unsetenv("VANTREL_CONFIG_DIR");
}
