// The Windows worker's serial path under Wine, from the Linux side. A
// pseudo-terminal held here is the board; a COM port of the Wine prefix (a
// dosdevices/comN link) leads to its other side. vantrel.exe runs as the
// worker with its eight words, started by wine_manager.exe, which stands in
// for the manager (the named stop event and the report window) and answers
// over its standard streams. Clients connect from here to 127.0.0.1. The
// terminal's termios shows what the worker's line settings became, as far
// as a pseudo-terminal keeps them; the DTR changes come from the serial
// layer's log (VANTREL_DTR_LOG), since a pseudo-terminal has no modem lines.
// For the same reason Wine's serial event wait fails on a pseudo-terminal
// at the first byte (its TIOCMGET answers ENOTTY), and the worker then
// goes on with reads that wait for data themselves: one test shows that
// under plain Wine. The others run the Wine processes with modem_lines.c
// preloaded, which answers the modem ioctls of a terminal without modem
// lines, so that they take the event wait that real ports take.
//
// Under Wine 8 a pending WaitCommEvent is not ended by CancelIoEx alone
// (its wait thread only notices a new event mask or a port event); the
// driver sets the event mask again before it cancels, which ends the wait
// there as on Windows, so a relay whose client has left ends without
// traffic from the board.
//
// The serial layer's line control is driven through wine_line_control.exe,
// one command at a time, with the terminal looked at after each. An RFC
// 2217 service is driven by pyserial's rfc2217:// handler, from the script
// the Linux tests run it with.
//
// The environment names the programs: VANTREL_WINE_RUN (the script that
// runs a Windows program under Wine), VANTREL_WINDOWS_EXE (vantrel.exe),
// VANTREL_WINE_MANAGER (wine_manager.exe) and VANTREL_WINE_LINE_CONTROL
// (wine_line_control.exe).

#include "support/board.h"
#include "support/child.h"
#include "support/deadline.h"
#include "support/files.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

using namespace support;

namespace {

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The prefix the Wine script uses, set for every child so that all of them
// share one Wine server.
std::string wine_prefix()
{
    std::string prefix = env("WINEPREFIX");
    if (prefix.empty()) {
        const std::string tmp = env("TMPDIR").empty() ? "/tmp" : env("TMPDIR");
        prefix = tmp + "/vantrel-wine-" + std::to_string(getuid());
        setenv("WINEPREFIX", prefix.c_str(), 1);
    }
    return prefix;
}

// A folder of this test's own, removed with what is in it.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (env("TMPDIR").empty() ? std::string("/tmp") : env("TMPDIR")) + "/wine-serial-XXXXXX";
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// COMn of the Wine prefix, pointing at a device from make() on while the
// object lives.
class ComLink {
public:
    // Takes a number that no link has now, among the tests that may run at
    // once.
    explicit ComLink(std::string device) : device_(std::move(device))
    {
        static int counter = 0;
        const std::string dir = wine_prefix() + "/dosdevices";
        for (int attempt = 0; attempt < 230; ++attempt) {
            const int n = 20 + static_cast<int>((getpid() * 7 + counter++) % 230);
            const std::string path = dir + "/com" + std::to_string(n);
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
                path_ = path;
                name_ = "COM" + std::to_string(n);
                return;
            }
        }
    }
    ~ComLink()
    {
        if (made_)
            unlink(path_.c_str());
    }
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

    const std::string& name() const { return name_; }
    bool make()
    {
        made_ = !path_.empty() && symlink(device_.c_str(), path_.c_str()) == 0;
        return made_;
    }

private:
    std::string device_;
    std::string path_;
    std::string name_;
    bool made_ = false;
};

// A Windows program under Wine, with its standard streams as pipes.
class WineProgram {
public:
    WineProgram() = default;
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;
    ~WineProgram() { finish(); }

    // Runs the program with its arguments; true once it is started.
    bool run(const std::string& program, const std::vector<std::string>& words)
    {
        finish();
        buffer_.clear();
        eof_ = false;
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0)
            return false;
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            return false;
        }
        std::vector<std::string> args = {env("VANTREL_WINE_RUN"), program};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
        if (rc != 0) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    bool send_line(const std::string& line)
    {
        const std::string text = line + "\n";
        return to_ >= 0 && ::write(to_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // One line without its break; empty at the deadline or the end.
    std::string read_line(int timeout_ms)
    {
        const Deadline deadline(timeout_ms);
        for (;;) {
            const size_t at = buffer_.find('\n');
            if (at != std::string::npos) {
                std::string line = buffer_.substr(0, at);
                buffer_.erase(0, at + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            if (eof_ || deadline.expired())
                return {};
            pollfd p{from_, POLLIN, 0};
            if (poll(&p, 1, std::min(deadline.remaining_ms(), 100)) <= 0)
                continue;
            char chunk[512];
            const ssize_t n = ::read(from_, chunk, sizeof chunk);
            if (n > 0)
                buffer_.append(chunk, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                eof_ = true;
        }
    }

    bool ended() const { return eof_; }
    // After finish(): its exit code, -1 when it had to be killed.
    int exit_code() const { return exit_code_; }

    // Closes its input and waits for it, bounded.
    void finish()
    {
        if (to_ >= 0)
            close(to_);
        to_ = -1;
        if (pid_ > 0) {
            int status = 0;
            const bool ended = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 30000, 20);
            if (!ended) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
            exit_code_ = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
        }
        if (from_ >= 0)
            close(from_);
        from_ = -1;
    }

private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    std::string buffer_;
    bool eof_ = false;
    int exit_code_ = -1;
};

// The manager stand-in under Wine: it starts the worker, sets its stop
// event on "stop" and tells its reports and its end (closing its input
// stops the worker too).
class WineManager : public WineProgram {
public:
    // Starts it, and with it the worker; true once it says it has.
    bool start(const std::vector<std::string>& words)
    {
        std::vector<std::string> args = {env("VANTREL_WINDOWS_EXE")};
        args.insert(args.end(), words.begin(), words.end());
        return run(env("VANTREL_WINE_MANAGER"), args) && read_line(120000).rfind("started ", 0) == 0;
    }

    // Sets the worker's stop event.
    bool stop() { return send_line("stop"); }

    // The next client report, "<kind> <address> <port> <to board> <to
    // client> <reason>"; empty at the deadline.
    std::string client_report(int timeout_ms = 30000)
    {
        const Deadline deadline(timeout_ms);
        while (!deadline.expired()) {
            const std::string line = read_line(deadline.remaining_ms());
            if (line.rfind("client ", 0) == 0)
                return line.substr(7);
            if (line.empty() && ended())
                break;
        }
        return {};
    }

    // Waits for the worker's end: its reports and exit code.
    bool wait_end(int timeout_ms, std::vector<std::string>& reports, unsigned& code)
    {
        const Deadline deadline(timeout_ms);
        while (!deadline.expired()) {
            const std::string line = read_line(deadline.remaining_ms());
            if (line.rfind("report ", 0) == 0)
                reports.push_back(line.substr(7));
            else if (line.rfind("ended ", 0) == 0) {
                code = static_cast<unsigned>(std::stoul(line.substr(6)));
                return true;
            } else if (line.empty() && ended())
                return false;
        }
        return false;
    }
};

// A TCP client of 127.0.0.1.
class Client {
public:
    Client() = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() { close(); }

    // Connects, trying again while nobody listens yet: from the loopback
    // address `from` to 127.0.0.1, or over IPv6 to ::1.
    bool connect(uint16_t port, int timeout_ms, uint32_t from = INADDR_ANY, bool v6 = false)
    {
        return wait_until([&] {
            close();
            fd_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd_ < 0)
                return false;
            if (v6) {
                sockaddr_in6 addr{};
                addr.sin6_family = AF_INET6;
                addr.sin6_port = htons(port);
                addr.sin6_addr = in6addr_loopback;
                return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            }
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(from);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            return ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0
                   && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        }, timeout_ms, 50);
    }

    // This end's port.
    uint16_t local_port() const
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return 0;
        return ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(addr).sin6_port
                                                : reinterpret_cast<sockaddr_in&>(addr).sin_port);
    }

    bool send(const std::string& data, int timeout_ms = 20000)
    {
        size_t done = 0;
        const Deadline deadline(timeout_ms);
        while (done < data.size()) {
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, std::min(deadline.remaining_ms(), 100)) <= 0) {
                if (deadline.expired())
                    return false;
                continue;
            }
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
        }
        return true;
    }

    // Exactly n bytes, or fewer at the deadline or the connection's end.
    std::string recv(size_t n, int timeout_ms = 20000)
    {
        std::string out;
        const Deadline deadline(timeout_ms);
        char chunk[65536];
        while (out.size() < n && !deadline.expired()) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, std::min(deadline.remaining_ms(), 100)) <= 0)
                continue;
            const ssize_t got = ::recv(fd_, chunk, std::min(sizeof chunk, n - out.size()), MSG_DONTWAIT);
            if (got > 0)
                out.append(chunk, static_cast<size_t>(got));
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return out;
    }

    // True once the other side has closed the connection (or reset it);
    // what still arrives meanwhile is read and dropped.
    bool ended(int timeout_ms)
    {
        return wait_until([&] {
            char chunk[65536];
            for (int i = 0; i < 1024; ++i) {
                const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                    return true;
                if (got < 0)
                    return false;
            }
            return false;
        }, timeout_ms, 20);
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

uint16_t free_loopback_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
        && getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// True while some socket listens on the TCP port (from /proc/net/tcp).
bool listening(uint16_t port)
{
    std::istringstream table(read_file("/proc/net/tcp"));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        unsigned local_port = 0, state = 0;
        if (std::sscanf(line.c_str(), "%*d: %*x:%x %*x:%*x %x", &local_port, &state) == 2 && local_port == port
            && state == 0x0A)
            return true;
    }
    return false;
}

// Bytes that do not repeat within a pty's or a socket's buffer.
std::string pattern(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    uint32_t x = seed;
    for (char& c : out) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

std::string all_byte_values()
{
    std::string out(256, '\0');
    for (int i = 0; i < 256; ++i)
        out[static_cast<size_t>(i)] = static_cast<char>(i);
    return out;
}

// The first place two strings differ, for a readable failure.
std::string first_difference(const std::string& want, const std::string& got)
{
    size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i])
        ++i;
    return "sizes " + std::to_string(want.size()) + "/" + std::to_string(got.size()) + ", first difference at "
           + std::to_string(i);
}

class WineSerial : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(env("VANTREL_WINE_RUN").empty());
        ASSERT_FALSE(env("VANTREL_WINDOWS_EXE").empty());
        ASSERT_FALSE(env("VANTREL_WINE_MANAGER").empty());
        ASSERT_TRUE(board.valid());
        wine_prefix();
    }

    // Starts the worker for the board's COM port, listening on tcp.
    void start(int flags, const std::string& baud = "19200", int dtro = 0, int dtrc = 0)
    {
        tcp = free_loopback_port();
        ASSERT_NE(tcp, 0);
        link = std::make_unique<ComLink>(board.slave());
        ASSERT_FALSE(link->name().empty());
        const std::string event = "VantrelWineSerial" + std::to_string(getpid()) + "_" + std::to_string(++events);
        ASSERT_TRUE(manager.start({event, std::to_string(tcp), link->name(), baud, std::to_string(flags),
                                   std::to_string(dtro), std::to_string(dtrc)}));
        // The prefix exists now; the worker opens the port only once a
        // client has come.
        ASSERT_TRUE(link->make()) << link->name();
    }

    // One message each way; true when both arrive intact.
    void round_trip(Client& client, const std::string& tag)
    {
        ASSERT_TRUE(client.send(tag));
        EXPECT_EQ(board.read(tag.size(), 30000), tag) << "client to board";
        const std::string back = tag + " back";
        ASSERT_TRUE(board.write(back, 30000));
        EXPECT_EQ(client.recv(back.size(), 30000), back) << "board to client";
    }

    // Stops the worker: it must end at once, silently, with code 0.
    void stop_silently()
    {
        ASSERT_TRUE(manager.stop());
        std::vector<std::string> reports;
        unsigned code = 1;
        ASSERT_TRUE(manager.wait_end(20000, reports, code)) << "the worker did not end";
        EXPECT_TRUE(reports.empty()) << "a stop must not report: " << reports.front();
        EXPECT_EQ(code, 0u);
    }

    Board board;
    WineManager manager;
    std::unique_ptr<ComLink> link;
    uint16_t tcp = 0;
    int events = 0;
    // Always on: the DTR changes are recorded, not made.
    ScratchDir logs;
    const std::string dtr_log_path = logs / "dtr.log";
    ScopedEnv dtr_log{"VANTREL_DTR_LOG", dtr_log_path};
    ScopedEnv modem_lines{"LD_PRELOAD", std::string(MODEM_LINES_LIB)};
};

} // namespace

TEST_F(WineSerial, LineSettingsFollowTheFlagsWord)
{
    struct Case {
        int flags;
        const char* baud;
        speed_t speed;
        tcflag_t cflag_set, cflag_clear, iflag_set, iflag_clear;
    };
    // A pseudo-terminal may drop PARENB: odd parity shows as PARODD.
    const Case cases[] = {
        {0x00, "9600", B9600, 0, PARODD | CSTOPB | CRTSCTS, 0, IXON | IXOFF},
        {0x60, "19200", B19200, PARODD, CSTOPB | CRTSCTS, 0, IXON | IXOFF},
        {0x83, "38400", B38400, CSTOPB | CRTSCTS, PARODD, IXON | IXOFF, 0},
        {0xE2, "115200", B115200, PARODD | CSTOPB | CRTSCTS, 0, 0, IXON | IXOFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.flags));
        ASSERT_NO_FATAL_FAILURE(start(c.flags, c.baud));
        {
            Client client;
            ASSERT_TRUE(client.connect(tcp, 60000));
            // Through in both directions: the port is open and set.
            ASSERT_NO_FATAL_FAILURE(round_trip(client, "settings"));
            termios t{};
            ASSERT_EQ(tcgetattr(board.fd(), &t), 0);
            EXPECT_EQ(cfgetospeed(&t), c.speed);
            EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
            EXPECT_EQ(t.c_cflag & c.cflag_set, c.cflag_set);
            EXPECT_EQ(t.c_cflag & c.cflag_clear, 0u);
            EXPECT_EQ(t.c_iflag & c.iflag_set, c.iflag_set);
            EXPECT_EQ(t.c_iflag & c.iflag_clear, 0u);
        }
        // Ending the relay without traffic is what Wine cannot do (see the
        // top): the manager's end ends this worker.
        manager.finish();
        link.reset();
    }
}

TEST_F(WineSerial, EveryByteValueAndFourMiBEachWayAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(start(0, "115200"));
    Client client;
    ASSERT_TRUE(client.connect(tcp, 60000));

    const std::string bytes = all_byte_values();
    ASSERT_TRUE(client.send(bytes));
    EXPECT_EQ(board.read(bytes.size(), 30000), bytes);
    ASSERT_TRUE(board.write(bytes));
    EXPECT_EQ(client.recv(bytes.size(), 30000), bytes);

    const size_t size = 4u << 20;
    const std::string up = pattern(size, 1), down = pattern(size, 2);
    std::string got_down;
    std::atomic<bool> sent_up{false}, sent_down{false};
    std::thread to_board([&] { sent_up = client.send(up, 300000); });
    std::thread from_board([&] { sent_down = board.write(down, 300000); });
    std::thread to_client([&] { got_down = client.recv(size, 300000); });
    const std::string got_up = board.read(size, 300000);
    to_board.join();
    from_board.join();
    to_client.join();
    EXPECT_TRUE(sent_up);
    EXPECT_TRUE(sent_down);
    EXPECT_TRUE(got_up == up) << "client to board: " << first_difference(up, got_up);
    EXPECT_TRUE(got_down == down) << "board to client: " << first_difference(down, got_down);
}

TEST_F(WineSerial, DtrDropsForOneSecondAfterOpen)
{
    const std::string& log = dtr_log_path;
    ASSERT_NO_FATAL_FAILURE(start(0, "19200", 1, 0));
    Client client;
    ASSERT_TRUE(client.connect(tcp, 60000));
    ASSERT_NO_FATAL_FAILURE(round_trip(client, "dtr"));
    const auto changes = read_dtr_log(log);
    // Raised by the open, dropped, raised before the relay.
    ASSERT_EQ(changes.size(), 3u) << read_file(log);
    EXPECT_EQ(changes[0].level, 1);
    EXPECT_EQ(changes[1].level, 0);
    EXPECT_EQ(changes[2].level, 1);
    EXPECT_GE(changes[2].at_ms - changes[1].at_ms, 1000);
    EXPECT_LT(changes[2].at_ms - changes[1].at_ms, 4000);
}

TEST_F(WineSerial, DtrDropsForOneSecondAfterOpenAndBeforeClose)
{
    const std::string& log = dtr_log_path;
    ASSERT_NO_FATAL_FAILURE(start(0, "19200", 1, 1));
    {
        Client client;
        ASSERT_TRUE(client.connect(tcp, 60000));
        ASSERT_NO_FATAL_FAILURE(round_trip(client, "dtr"));
    }
    // The port closes after the hold that follows the client's leaving.
    ASSERT_TRUE(wait_until([&] { return board.hung_up(); }, 30000)) << "the port stayed open";
    const auto changes = read_dtr_log(log);
    // Raised by the open, dropped, raised, dropped before the close.
    ASSERT_EQ(changes.size(), 4u) << read_file(log);
    EXPECT_EQ(changes[0].level, 1);
    EXPECT_EQ(changes[1].level, 0);
    EXPECT_EQ(changes[2].level, 1);
    EXPECT_EQ(changes[3].level, 0);
    EXPECT_GE(changes[2].at_ms - changes[1].at_ms, 1000);
    EXPECT_LT(changes[2].at_ms - changes[1].at_ms, 4000);
    stop_silently();
}

TEST_F(WineSerial, StopDuringATransferEndsTheWorkerSilently)
{
    ASSERT_NO_FATAL_FAILURE(start(0, "115200"));
    Client client;
    ASSERT_TRUE(client.connect(tcp, 60000));
    ASSERT_NO_FATAL_FAILURE(round_trip(client, "before"));

    // Both ways at once, until the stop ends the connection.
    std::atomic<bool> done{false};
    std::thread sender([&] {
        const std::string chunk = pattern(64 * 1024, 3);
        for (int i = 0; i < 4096 && !done; ++i)
            if (!client.send(chunk, 5000))
                break;
    });
    std::thread feeder([&] {
        const std::string chunk = pattern(16 * 1024, 4);
        for (int i = 0; i < 16384 && !done; ++i)
            if (!board.write(chunk, 200) && board.hung_up())
                break;
    });
    const std::string flowing = board.read(256 * 1024, 60000);
    EXPECT_EQ(flowing.size(), 256u * 1024u) << "the transfer did not run";
    stop_silently();
    EXPECT_TRUE(client.ended(20000)) << "the client was not let go";
    EXPECT_TRUE(wait_until([&] { return board.hung_up(); }, 20000)) << "the port stayed open";
    done = true;
    sender.join();
    feeder.join();
}

// Without modem_lines.c, as under plain Wine: the serial event wait fails
// on the terminal at its first byte, and the worker goes on with reads
// that wait for data themselves.
TEST_F(WineSerial, RelaysWithoutModemLinesWithReadsThatWait)
{
    ScopedEnv plain_wine{"LD_PRELOAD", std::nullopt};
    ASSERT_NO_FATAL_FAILURE(start(0, "19200"));
    {
        Client first;
        ASSERT_TRUE(first.connect(tcp, 60000));
        ASSERT_NO_FATAL_FAILURE(round_trip(first, "first"));
        // Longer than one such read waits: the quiet line keeps the client.
        EXPECT_EQ(first.recv(1, 2500), "");
        ASSERT_NO_FATAL_FAILURE(round_trip(first, "again"));
    }
    // The relay's end ends the read that waits as well: the next client is
    // served.
    Client second;
    ASSERT_TRUE(second.connect(tcp, 60000));
    ASSERT_NO_FATAL_FAILURE(round_trip(second, "second"));
    second.close();
    stop_silently();
}

TEST_F(WineSerial, NextClientIsServedAfterADisconnect)
{
    ASSERT_NO_FATAL_FAILURE(start(0, "19200"));
    {
        Client first;
        ASSERT_TRUE(first.connect(tcp, 60000));
        ASSERT_NO_FATAL_FAILURE(round_trip(first, "first"));
    }
    Client second;
    ASSERT_TRUE(second.connect(tcp, 60000));
    ASSERT_NO_FATAL_FAILURE(round_trip(second, "second"));
    second.close();
    stop_silently();
}

// The serial layer's line control through Wine's serial driver, without the
// test log, so that every call reaches Wine: the terminal's termios shows
// what it kept of each setting, the preload's log what Wine asked of the
// modem lines and the break. Wine has no rate without a B constant (it sets
// 38400 and reports that), and a pseudo-terminal keeps no data size but 8
// and no PARENB (the C library calls a change of the data size refused);
// the serial layer reports what is in force.
TEST_F(WineSerial, LineControlOneSettingAtATime)
{
    ScopedEnv lines_made{"VANTREL_DTR_LOG", std::nullopt};
    const std::string modem_log = logs / "modem.log";
    ScopedEnv modem_changes{"VANTREL_MODEM_LINES_LOG", modem_log};
    ASSERT_FALSE(env("VANTREL_WINE_LINE_CONTROL").empty());
    link = std::make_unique<ComLink>(board.slave());
    ASSERT_TRUE(link->make()) << link->name();
    WineProgram control;
    ASSERT_TRUE(control.run(env("VANTREL_WINE_LINE_CONTROL"), {link->name()}));
    ASSERT_EQ(control.read_line(120000), "open");
    auto ask = [&](const std::string& command) {
        return control.send_line(command) ? control.read_line(30000) : std::string("(not sent)");
    };

    struct Case {
        const char* command;
        const char* answer;
        speed_t speed;
        tcflag_t cflag_set, cflag_clear, iflag_set, iflag_clear;
        const char* settings;
    };
    const Case cases[] = {
        {"baud 57600", "ok", B57600, 0, 0, 0, 0, "settings 57600 8 none 1 none none"},
        {"baud 250000", "ok", B38400, 0, 0, 0, 0, "settings 38400 8 none 1 none none"},
        {"baud 115200", "ok", B115200, 0, 0, 0, 0, "settings 115200 8 none 1 none none"},
        {"stop 2", "ok", B115200, CSTOPB, 0, 0, 0, "settings 115200 8 none 2 none none"},
        {"stop 1", "ok", B115200, 0, CSTOPB, 0, 0, "settings 115200 8 none 1 none none"},
        {"bits 7", "refused", B115200, CS8, 0, 0, 0, "settings 115200 8 none 1 none none"},
        {"parity mark", "ok", B115200, CMSPAR | PARODD, 0, 0, 0, "settings 115200 8 none 1 none none"},
        {"parity none", "ok", B115200, 0, CMSPAR | PARODD | PARENB, 0, 0, "settings 115200 8 none 1 none none"},
        {"out rts", "ok", B115200, CRTSCTS, 0, 0, IXON, "settings 115200 8 none 1 rts none"},
        {"out xon", "ok", B115200, 0, CRTSCTS, IXON, 0, "settings 115200 8 none 1 xon none"},
        {"in xon", "ok", B115200, 0, CRTSCTS, IXON | IXOFF, 0, "settings 115200 8 none 1 xon xon"},
        {"out none", "ok", B115200, 0, CRTSCTS, IXOFF, IXON, "settings 115200 8 none 1 none xon"},
        {"in none", "ok", B115200, 0, CRTSCTS, 0, IXON | IXOFF, "settings 115200 8 none 1 none none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(ask(c.command), c.answer);
        termios t{};
        ASSERT_EQ(tcgetattr(board.fd(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & c.cflag_set, c.cflag_set);
        EXPECT_EQ(t.c_cflag & c.cflag_clear, 0u);
        EXPECT_EQ(t.c_iflag & c.iflag_set, c.iflag_set);
        EXPECT_EQ(t.c_iflag & c.iflag_clear, 0u);
        EXPECT_EQ(ask("settings"), c.settings);
    }

    EXPECT_EQ(ask("rts 0"), "ok");
    EXPECT_EQ(ask("control"), "control 1 0 0");
    EXPECT_EQ(ask("break 1"), "ok");
    EXPECT_EQ(ask("control"), "control 1 0 1");
    EXPECT_EQ(ask("break 0"), "ok");
    EXPECT_EQ(ask("rts 1"), "ok");
    EXPECT_EQ(ask("control"), "control 1 1 0");
    EXPECT_EQ(ask("modem"), "modem b0"); // CTS, DSR and CD, as the preload reports them
    EXPECT_EQ(ask("purge both"), "ok");
    control.finish();

    // Wine sets the modem lines with TIOCMSET: RTS was off while the break
    // went on and off, and on again at the end.
    std::vector<std::pair<std::string, int>> calls;
    std::istringstream in(read_file(modem_log));
    for (std::string name; in >> name;) {
        int bits = 0;
        in >> bits;
        calls.emplace_back(name, bits);
    }
    int last_set = -1, set_at_break_on = -1, set_at_break_off = -1;
    bool break_on = false, break_off = false;
    for (const auto& [name, bits] : calls) {
        if (name == "set" || name == "bis" || name == "bic") {
            last_set = name == "bic" ? (last_set & ~bits) : name == "bis" ? (last_set | bits) : bits;
        } else if (name == "sbrk" && !break_on) {
            break_on = true;
            set_at_break_on = last_set;
        } else if (name == "cbrk" && break_on && !break_off) {
            break_off = true;
            set_at_break_off = last_set;
        }
    }
    const std::string log_text = read_file(modem_log);
    ASSERT_TRUE(break_on && break_off) << log_text;
    EXPECT_FALSE(set_at_break_on & TIOCM_RTS) << log_text;
    EXPECT_FALSE(set_at_break_off & TIOCM_RTS) << log_text;
    EXPECT_TRUE(last_set & TIOCM_RTS) << log_text;
    EXPECT_TRUE(last_set & TIOCM_DTR) << log_text;
}

// Sharing a board under Wine: Refuse tells a second client who holds the
// board, the holder going on untouched; Take over ends the holder's
// connection with the DTR hold before the close and serves the newcomer;
// and what the manager hears of each (the client reports).
TEST_F(WineSerial, ASecondClientIsRefusedOrTakesOver)
{
    for (const int busy : {0x1000, 0x2000}) {
        SCOPED_TRACE(busy);
        start(busy, "19200", 0, 1);
        Client holder;
        ASSERT_TRUE(holder.connect(tcp, 60000));
        round_trip(holder, "first");
        const std::string holderPort = std::to_string(holder.local_port());
        EXPECT_EQ(manager.client_report(), "served 127.0.0.1 " + holderPort + " 0 0 none");

        Client second;
        ASSERT_TRUE(second.connect(tcp, 30000));
        const std::string secondPort = std::to_string(second.local_port());
        if (busy == 0x1000) {
            const std::string line = second.recv(200, 30000);
            EXPECT_EQ(line.rfind("Busy: held by 127.0.0.1 since ", 0), 0u) << line;
            EXPECT_EQ(line.find("\r\n"), line.size() - 2) << line;
            EXPECT_TRUE(second.ended(10000));
            EXPECT_EQ(manager.client_report(), "refused 127.0.0.1 " + secondPort + " 0 0 busy");
            round_trip(holder, "still");
        } else {
            EXPECT_TRUE(holder.ended(30000)) << "the holder's connection ended";
            EXPECT_EQ(manager.client_report(), "left 127.0.0.1 " + holderPort + " 5 10 taken-over");
            EXPECT_EQ(manager.client_report(), "served 127.0.0.1 " + secondPort + " 0 0 none");
            round_trip(second, "taken");
            // DTR dropped for its second before the close, raised by the
            // newcomer's open.
            const auto changes = read_dtr_log(dtr_log_path);
            ASSERT_GE(changes.size(), 3u) << read_file(dtr_log_path);
            EXPECT_EQ(changes[1].level, 0);
            EXPECT_EQ(changes[2].level, 1);
            EXPECT_GE(changes[2].at_ms - changes[1].at_ms, 1000);
        }
        stop_silently();
        std::remove(dtr_log_path.c_str());
    }
}

// The allow list with clients from 127.0.0.1 and 127.0.0.2 and over IPv6,
// on a worker that listens on every interface of both families (::).
TEST_F(WineSerial, TheAllowListAndAnIPv6ListenAddress)
{
    ScopedEnv allow{"VANTREL_ALLOW", "127.0.0.2, ::1"};
    ScopedEnv listen{"VANTREL_LISTEN", "::"};
    start(0);
    Client outside;
    ASSERT_TRUE(outside.connect(tcp, 60000, 0x7F000001));
    EXPECT_TRUE(outside.ended(30000)) << "closed at once";
    EXPECT_EQ(outside.recv(1, 100), "");
    EXPECT_EQ(manager.client_report(), "refused 127.0.0.1 " + std::to_string(outside.local_port()) + " 0 0 not-allowed");
    EXPECT_FALSE(file_text(dtr_log_path)) << "the serial port was never opened";

    Client inside;
    ASSERT_TRUE(inside.connect(tcp, 30000, 0x7F000002));
    round_trip(inside, "v4");
    EXPECT_EQ(manager.client_report(), "served 127.0.0.2 " + std::to_string(inside.local_port()) + " 0 0 none");
    inside.close();
    EXPECT_EQ(manager.client_report().rfind("left 127.0.0.2 ", 0), 0u);

    Client v6;
    ASSERT_TRUE(v6.connect(tcp, 30000, 0, true));
    round_trip(v6, "v6");
    EXPECT_EQ(manager.client_report(), "served ::1 " + std::to_string(v6.local_port()) + " 0 0 none");
    stop_silently();
}

// A listen address that is not the machine's: the bind error, reported.
TEST_F(WineSerial, AForeignListenAddressIsTheBindError)
{
    ScopedEnv listen{"VANTREL_LISTEN", "192.0.2.1"};
    start(0);
    std::vector<std::string> reports;
    unsigned code = 1;
    ASSERT_TRUE(manager.wait_end(60000, reports, code));
    EXPECT_EQ(reports, std::vector<std::string>{"bind: Can't assign requested address"});
    EXPECT_EQ(code, 0u);
}

// The two commands for a server under Wine: --ports names each COM port
// present with its device path (Wine's own COM ports: it does not count a
// pseudo-terminal behind a COM link as present); --status finds no
// headless manager (Windows has none) and says so.
TEST_F(WineSerial, PortsAndStatusCommands)
{
    WineProgram ports;
    ASSERT_TRUE(ports.run(env("VANTREL_WINDOWS_EXE"), {"--ports"}));
    int listed = 0;
    for (std::string line = ports.read_line(60000); !line.empty(); line = ports.read_line(30000), ++listed) {
        const std::string name = line.substr(0, line.find(' '));
        EXPECT_EQ(line, name + " -> \\\\.\\" + name);
    }
    EXPECT_GT(listed, 0);

    ports.finish();
    EXPECT_EQ(ports.exit_code(), 0);

    WineProgram status;
    ASSERT_TRUE(status.run(env("VANTREL_WINDOWS_EXE"), {"--status"}));
    EXPECT_EQ(status.read_line(60000), "") << "nothing on standard output";
    status.finish();
    EXPECT_EQ(status.exit_code(), 1);
}

// RFC 2217 through the Win32 serial driver: pyserial sets the line, DTR,
// RTS and the break (recorded by the test log), purges and moves every
// byte value both ways, as on Linux, as far as Wine lets it. Wine takes no
// rate without a B constant (250000 becomes 38400, which the answer says
// and pyserial refuses). With modem_lines.c CTS, DSR and CD read as up and
// the serial pump waits for the port's events; under plain Wine the
// driver has no modem status (the lines read as down, and the pump falls
// back to reads that wait).
TEST_F(WineSerial, Rfc2217ClientSetsTheLineThroughTheWin32Driver)
{
    constexpr int WORKER_PROTOCOL_RFC2217 = 0x0100;
    for (bool plain_wine : {false, true}) {
        SCOPED_TRACE(plain_wine ? "plain Wine" : "with modem lines");
        std::optional<ScopedEnv> no_preload;
        if (plain_wine)
            no_preload.emplace("LD_PRELOAD", std::nullopt);
        ASSERT_NO_FATAL_FAILURE(start(WORKER_PROTOCOL_RFC2217, "19200"));
        ASSERT_TRUE(wait_until([&] { return listening(tcp); }, 60000));
        // The board's descriptor is inherited by the script alone.
        fcntl(board.fd(), F_SETFD, 0);
        Child script("/usr/bin/python3",
                     {std::string(CLIENTS_DIR) + "pyserial_client.py", std::to_string(tcp), std::to_string(board.fd()),
                      dtr_log_path, "--modem-lines", plain_wine ? "0,0,0" : "1,1,1", "--refused-baud", "250000"},
                     {{"LD_PRELOAD", std::nullopt}});
        fcntl(board.fd(), F_SETFD, FD_CLOEXEC);
        const int code = script.exitCode(180000);
        EXPECT_EQ(code, 0) << script.out() << script.err();
        manager.finish();
        link.reset();
    }
}
