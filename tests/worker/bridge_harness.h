#pragma once
// Harness for the end-to-end worker tests on Linux: a pseudo-terminal that
// stands in for the board, a TCP client on 127.0.0.1, and the real vantrel
// binary started as a worker with the nine words.

#include "port/process.h"
#include "port/report.h"
#include "test_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace test {

inline long long monotonic_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

inline int remaining(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The board: the master side of a pseudo-terminal in raw mode. Reads while
// nobody holds the other side answer EIO; they count as "nothing yet".
class Board {
public:
    Board()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0)
            return;
        slave_ = name;
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }
    ~Board()
    {
        if (master_ >= 0)
            close(master_);
    }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    bool valid() const { return master_ >= 0 && !slave_.empty(); }
    int fd() const { return master_; }
    const std::string& slave() const { return slave_; }

    // Exactly n bytes, or fewer when the time is up.
    std::string read(size_t n, int timeout_ms)
    {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        char buffer[4096];
        while (out.size() < n) {
            ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - out.size()));
            if (r > 0) {
                out.append(buffer, static_cast<size_t>(r));
                continue;
            }
            if (remaining(deadline) == 0)
                break;
            if (r < 0 && errno == EIO) {
                // Nobody holds the terminal: poll would answer at once.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            pollfd p{master_, POLLIN, 0};
            poll(&p, 1, std::min(remaining(deadline), 50));
        }
        return out;
    }

    bool write(const std::string& data, int timeout_ms)
    {
        size_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (done < data.size()) {
            ssize_t w = ::write(master_, data.data() + done, data.size() - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
                continue;
            }
            if (remaining(deadline) == 0)
                return false;
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, std::min(remaining(deadline), 50));
        }
        return true;
    }

    // True once nobody holds the terminal's other side (the worker closed it).
    bool hung_up() const
    {
        pollfd p{master_, POLLIN, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
    }

private:
    int master_ = -1;
    std::string slave_;
};

// A TCP client on 127.0.0.1.
class Client {
public:
    Client() = default;
    ~Client() { close(); }
    Client(Client&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Client& operator=(Client&& o) noexcept
    {
        std::swap(fd_, o.fd_);
        return *this;
    }

    // Connects, retrying while nobody listens yet.
    bool connect(uint16_t port, int timeout_ms)
    {
        close();
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                fcntl(fd, F_SETFL, O_NONBLOCK);
                fd_ = fd;
                return true;
            }
            ::close(fd);
            if (remaining(deadline) == 0)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const std::string& data, int timeout_ms = 10000)
    {
        size_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (done < data.size()) {
            ssize_t w = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (w > 0) {
                done += static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN)
                return false;
            if (remaining(deadline) == 0)
                return false;
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, std::min(remaining(deadline), 50));
        }
        return true;
    }

    // Exactly n bytes, or fewer when the time is up or the peer closed.
    std::string read(size_t n, int timeout_ms)
    {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        char buffer[4096];
        while (out.size() < n) {
            ssize_t r = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
            if (r > 0) {
                out.append(buffer, static_cast<size_t>(r));
                continue;
            }
            if (r == 0 || (r < 0 && errno != EAGAIN))
                break;
            if (remaining(deadline) == 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, std::min(remaining(deadline), 50));
        }
        return out;
    }

    // True when the peer closes within the time (data before the close is
    // discarded).
    bool closed_by_peer(int timeout_ms)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        char buffer[4096];
        for (;;) {
            ssize_t r = ::recv(fd_, buffer, sizeof buffer, 0);
            if (r == 0 || (r < 0 && errno != EAGAIN))
                return true;
            if (r > 0)
                continue;
            if (remaining(deadline) == 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, std::min(remaining(deadline), 50));
        }
    }

    // True when nothing arrives and the connection stays open for ms.
    bool quiet_for(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) == 0;
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

// A TCP port that nobody uses right now.
inline uint16_t free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// True while some socket listens on the TCP port (from /proc/net/tcp*).
inline bool listening(uint16_t port)
{
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            char local[64] = {}, remote[64] = {};
            unsigned state = 0;
            if (std::sscanf(line.c_str(), "%*d: %63s %63s %x", local, remote, &state) != 3)
                continue;
            const char* colon = std::strrchr(local, ':');
            if (colon && std::strtoul(colon + 1, nullptr, 16) == port && state == 0x0A)
                return true;
        }
    }
    return false;
}

inline int count_entries(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

inline int open_fds(uint32_t pid) { return count_entries("/proc/" + std::to_string(pid) + "/fd"); }

// The relay's pump threads alive in a worker (they carry these names).
inline int pump_threads(uint32_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(tasks.c_str());
    if (!d)
        return -1;
    int n = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::string comm = read_file(tasks + "/" + e->d_name + "/comm");
        n += comm == "socket_pump\n" || comm == "serial_pump\n";
    }
    closedir(d);
    return n;
}

// CPU time (user + system) of a process in clock ticks.
inline long long cpu_ticks(uint32_t pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos)
        return -1;
    std::istringstream in(stat.substr(close_paren + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

struct WorkerOptions {
    std::string tcp_port;
    std::string serial_port = "COM5";
    std::string baud_rate = "19200";
    std::string flags = "0"; // as written on the command line
    int dtro = 0;
    int dtrc = 0;
    uintptr_t report_target = 0;
    bool create_event = true;
};

// The real vantrel started as a worker, with a stop event of its own.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { stop(); }

    bool start(const WorkerOptions& o)
    {
        event_name_ = unique_name("Stop");
        if (o.create_event)
            event_ = port::NamedEvent::create(event_name_);
        std::string line = q(VANTREL_EXE) + " " + q(event_name_) + " " + q(o.tcp_port) + " " + q(o.serial_port)
                           + " " + o.baud_rate + " " + o.flags + " " + std::to_string(o.dtro)
                           + " " + std::to_string(o.dtrc) + " " + std::to_string(o.report_target);
        return port::Process::start_hidden(line, process_);
    }

    port::Process& process() { return process_; }
    port::NamedEvent& event() { return event_; }
    uint32_t pid() const { return process_.id(); }

    bool running()
    {
        uint32_t code = 0;
        return process_.valid() && process_.exit_code(code) && code == port::STILL_ACTIVE_CODE;
    }

    // Signals the stop event and waits for the end; ms taken, or -1.
    long long stop_and_time(int timeout_ms)
    {
        auto start = Clock::now();
        event_.set();
        if (process_.wait(timeout_ms) != port::WaitResult::Ended)
            return -1;
        return ms_since(start);
    }

    // The exit code once it has ended, else -1.
    int exit_code()
    {
        uint32_t code = 0;
        if (!process_.exit_code(code) || code == port::STILL_ACTIVE_CODE)
            return -1;
        return static_cast<int>(code);
    }

    void stop()
    {
        if (!process_.valid())
            return;
        event_.set();
        if (process_.wait(5000) != port::WaitResult::Ended)
            process_.terminate(0);
        process_.close();
    }

private:
    std::string event_name_;
    port::NamedEvent event_;
    port::Process process_;
};

// Every report the receiver gets within the time.
inline std::vector<std::pair<uint32_t, std::string>> collect_reports(port::ReportReceiver& r, int timeout_ms)
{
    std::vector<std::pair<uint32_t, std::string>> got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (remaining(deadline) > 0) {
        pollfd p{r.fd(), POLLIN, 0};
        if (poll(&p, 1, std::min(remaining(deadline), 100)) > 0)
            r.dispatch([&](uint32_t pid, const char* text) {
                got.emplace_back(pid, text);
                return true;
            });
        if (!got.empty())
            break;
    }
    return got;
}

} // namespace test
