#pragma once
// Harness for the end-to-end worker tests on Linux: a TCP client on
// 127.0.0.1, the real vantrel binary started as a worker with the nine
// words, and transfers between the client and a pseudo-terminal board one
// way or both ways at once, so that a test is a call with its settings.

#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"
#include "support/board.h"
#include "support/deadline.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/names.h"
#include "support/reports.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

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
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace test {

using namespace support;

// The DTR changes of every worker started while it lives, logged to a file
// of its own.
struct DtrLog {
    TempDir dir;
    const std::string path = dir / "dtr.log";
    ScopedEnv env{"VANTREL_DTR_LOG", path};
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
        const Deadline deadline(timeout_ms);
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
            if (deadline.expired())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const std::string& data, int timeout_ms = 10000) { return write_all(fd_, data, timeout_ms); }

    // Exactly n bytes, or fewer when the time is up or the peer closed.
    std::string read(size_t n, int timeout_ms)
    {
        std::string out;
        const Deadline deadline(timeout_ms);
        char buffer[4096];
        while (out.size() < n) {
            ssize_t r = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
            if (r > 0) {
                out.append(buffer, static_cast<size_t>(r));
                continue;
            }
            if (r == 0 || (r < 0 && errno != EAGAIN))
                break;
            if (deadline.expired())
                break;
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, std::min(deadline.remaining_ms(), 50));
        }
        return out;
    }

    // True when the peer closes within the time (data before the close is
    // discarded).
    bool closed_by_peer(int timeout_ms)
    {
        const Deadline deadline(timeout_ms);
        char buffer[4096];
        for (;;) {
            ssize_t r = ::recv(fd_, buffer, sizeof buffer, 0);
            if (r == 0 || (r < 0 && errno != EAGAIN))
                return true;
            if (r > 0)
                continue;
            if (deadline.expired())
                return false;
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, std::min(deadline.remaining_ms(), 50));
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

    // Closes with a reset rather than an orderly end.
    void reset()
    {
        if (fd_ >= 0) {
            const linger now{1, 0};
            setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        close();
    }

private:
    int fd_ = -1;
};

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

// Context switches, voluntary and not, of every thread of a process so far
// (from /proc/PID/task/*/status); -1 when it cannot be read.
inline long long context_switches(uint32_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(tasks.c_str());
    if (!d)
        return -1;
    long long n = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::istringstream status(read_file(tasks + "/" + e->d_name + "/status"));
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                n += std::atoll(line.substr(line.find(':') + 1).c_str());
        }
    }
    closedir(d);
    return n;
}

// True once the process has ended: gone, or a zombie nobody reaped yet.
inline bool process_ended(uint32_t pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t close_paren = stat.rfind(')');
    return stat.empty() || (close_paren != std::string::npos && close_paren + 2 < stat.size()
                            && (stat[close_paren + 2] == 'Z' || stat[close_paren + 2] == 'X'));
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
        std::string line = quote(VANTREL_EXE) + " " + quote(event_name_) + " " + quote(o.tcp_port) + " "
                           + quote(o.serial_port) + " " + o.baud_rate + " " + o.flags + " " + std::to_string(o.dtro)
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

// Sends `up` from the client to the board and `down` from the board to the
// client at the same time (either may be empty), and checks that each side
// receives exactly what the other sent. For the first hold_ms neither side
// reads, so that both directions back up and the worker must keep what the
// other side cannot take yet. Lost bytes show as a stall: nothing moves for
// 15 s.
inline ::testing::AssertionResult transfer(Client& client, Board& board, const std::string& up,
                                           const std::string& down, int hold_ms = 0)
{
    std::string got_up, got_down;
    size_t sent_up = 0, sent_down = 0;
    const auto start = Clock::now();
    const Deadline deadline(180000);
    auto progress = Clock::now();
    size_t moved = 0;
    bool closed = false;
    char buffer[65536];
    while ((got_up.size() < up.size() || got_down.size() < down.size()) && !deadline.expired()) {
        const bool reading = ms_since(start) >= hold_ms;
        if (got_up.size() + got_down.size() + sent_up + sent_down != moved) {
            moved = got_up.size() + got_down.size() + sent_up + sent_down;
            progress = Clock::now();
        } else if (reading && ms_since(progress) > 15000) {
            break;
        }
        const short client_events = (reading ? POLLIN : 0) | (sent_up < up.size() ? POLLOUT : 0);
        const short board_events = (reading ? POLLIN : 0) | (sent_down < down.size() ? POLLOUT : 0);
        pollfd p[2] = {{client.fd(), client_events, 0}, {board.fd(), board_events, 0}};
        poll(p, 2, 50);
        if (p[0].revents & POLLOUT) {
            ssize_t w = ::send(client.fd(), up.data() + sent_up, std::min<size_t>(65536, up.size() - sent_up),
                               MSG_NOSIGNAL);
            if (w > 0)
                sent_up += static_cast<size_t>(w);
        }
        if (p[1].revents & POLLOUT) {
            ssize_t w = ::write(board.fd(), down.data() + sent_down, std::min<size_t>(4096, down.size() - sent_down));
            if (w > 0)
                sent_down += static_cast<size_t>(w);
        }
        if (p[0].revents & POLLIN) {
            ssize_t r = ::recv(client.fd(), buffer, sizeof buffer, 0);
            if (r > 0)
                got_down.append(buffer, static_cast<size_t>(r));
            else if (r == 0) {
                closed = true;
                break;
            }
        }
        if (p[1].revents & POLLIN) {
            ssize_t r = ::read(board.fd(), buffer, sizeof buffer);
            if (r > 0)
                got_up.append(buffer, static_cast<size_t>(r));
        }
    }
    if (got_up == up && got_down == down)
        return ::testing::AssertionSuccess();
    auto result = ::testing::AssertionFailure();
    result << "client to board: " << got_up.size() << " of " << up.size() << " bytes"
           << (up.compare(0, got_up.size(), got_up) == 0 ? "" : ", not those sent") << "; board to client: "
           << got_down.size() << " of " << down.size() << " bytes"
           << (down.compare(0, got_down.size(), got_down) == 0 ? "" : ", not those sent");
    if (closed)
        result << "; the worker closed the connection";
    return result;
}

} // namespace test
