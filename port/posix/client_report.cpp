// Client reports on Linux: the manager listens on an abstract Unix socket
// of sequenced packets named by its user id and a number (the number is
// the target); each worker connects once and writes one packet a report
// without waiting. The kernel tells the receiver who connected (its user
// and process), so a report counts only for the process that sent it.

#include "port/client_report.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace port {

namespace {

// Pending connections the receiver keeps before it takes them.
constexpr int LISTEN_BACKLOG = 64;
// What one dispatch() takes at most; the rest keeps the descriptor readable.
constexpr int DISPATCH_TURNS = 256;
// Room for reports a stalled manager has not read yet: some hundreds.
constexpr int SEND_BUFFER_BYTES = 256 * 1024;

socklen_t receiver_address(uintptr_t target, sockaddr_un& addr)
{
    const std::string name =
        "vantrel-clients-" + std::to_string(geteuid()) + "-" + std::to_string(static_cast<uint32_t>(target));
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

} // namespace

// ---------------------------------------------------------------------------
// Worker side.

struct ClientReportSender::State {
    int fd = -1;
};

ClientReportSender::ClientReportSender(uintptr_t target) : state_(std::make_shared<State>())
{
    if (target == 0)
        return;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    const int size = SEND_BUFFER_BYTES;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sockaddr_un addr{};
    const socklen_t length = receiver_address(target, addr);
    int rc = 0;
    do
        rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), length);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return;
    }
    state_->fd = fd;
}

ClientReportSender::~ClientReportSender()
{
    if (state_->fd >= 0)
        ::close(state_->fd);
}

bool ClientReportSender::reaches_receiver() const
{
    return state_->fd >= 0;
}

bool ClientReportSender::send(const ClientReport& report)
{
    if (state_->fd < 0)
        return false;
    const client_report_wire::Record record = client_report_wire::encode(report);
    for (;;) {
        const ssize_t n = ::send(state_->fd, &record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(sizeof record))
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// ---------------------------------------------------------------------------
// Manager side.

struct ClientReportReceiver::State {
    int listener = -1;
    int epoll = -1;
    uintptr_t target = 0;
    Handler handler;
    std::map<int, uint32_t> senders; // connection -> the process at its other end

    void drop(int fd)
    {
        epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        senders.erase(fd);
    }

    void take_connections()
    {
        for (int turn = 0; turn < LISTEN_BACKLOG; ++turn) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return;
            }
            ucred peer{};
            socklen_t length = sizeof peer;
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = fd;
            if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != geteuid()
                || peer.pid <= 0 || epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
                ::close(fd);
                continue;
            }
            senders[fd] = static_cast<uint32_t>(peer.pid);
        }
    }

    // The reports waiting on one connection; drops it once it has ended.
    int read_reports(int fd, int& turns)
    {
        int handled = 0;
        for (; turns > 0; --turns) {
            // One byte more than a record, to tell a longer packet.
            char record[sizeof(client_report_wire::Record) + 1];
            const ssize_t n = recv(fd, record, sizeof record, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return handled;
            if (n <= 0) {
                drop(fd);
                return handled;
            }
            ClientReport report;
            const auto sender = senders.find(fd);
            if (sender != senders.end() && client_report_wire::decode(record, static_cast<size_t>(n), report)) {
                ++handled;
                handler(sender->second, report);
            }
        }
        return handled;
    }
};

ClientReportReceiver::ClientReportReceiver() : state_(std::make_unique<State>()) {}

ClientReportReceiver::~ClientReportReceiver()
{
    for (const auto& [fd, pid] : state_->senders)
        ::close(fd);
    if (state_->epoll >= 0)
        ::close(state_->epoll);
    if (state_->listener >= 0)
        ::close(state_->listener);
}

bool ClientReportReceiver::open(Handler handler)
{
    if (state_->listener >= 0)
        return true;
    const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    // The number travels as 32 bits; the process id first, then random
    // numbers, as for the status report.
    std::random_device seed;
    std::mt19937 random(seed());
    uintptr_t candidate = static_cast<uintptr_t>(getpid());
    bool bound = false;
    for (int attempt = 0; listener >= 0 && ep >= 0 && attempt < 64 && !bound; ++attempt) {
        sockaddr_un addr{};
        const socklen_t length = receiver_address(candidate, addr);
        bound = bind(listener, reinterpret_cast<sockaddr*>(&addr), length) == 0;
        if (!bound && errno != EADDRINUSE)
            break;
        if (!bound)
            candidate = 1 + random() % 0x7ffffffeu;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    if (!bound || ::listen(listener, LISTEN_BACKLOG) != 0 || epoll_ctl(ep, EPOLL_CTL_ADD, listener, &event) != 0) {
        if (listener >= 0)
            ::close(listener);
        if (ep >= 0)
            ::close(ep);
        return false;
    }
    state_->listener = listener;
    state_->epoll = ep;
    state_->target = candidate;
    state_->handler = std::move(handler);
    return true;
}

uintptr_t ClientReportReceiver::target() const
{
    return state_->target;
}

int ClientReportReceiver::fd() const
{
    return state_->epoll;
}

int ClientReportReceiver::dispatch()
{
    State& s = *state_;
    if (s.epoll < 0)
        return 0;
    int handled = 0;
    int turns = DISPATCH_TURNS;
    epoll_event events[16];
    while (turns > 0) {
        const int ready = epoll_wait(s.epoll, events, 16, 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (int i = 0; i < ready && turns > 0; ++i) {
            if (events[i].data.fd == s.listener) {
                s.take_connections();
                --turns;
            } else {
                handled += s.read_reports(events[i].data.fd, turns);
            }
        }
    }
    return handled;
}

} // namespace port
