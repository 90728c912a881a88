// The worker's status report on Linux.
//
// The manager binds a Unix datagram socket in the abstract namespace under
// a name made of its user id and a number; that number is the worker's
// eighth argument. A worker sends one datagram {process id, byte count,
// text with its terminating zero} from a socket of its own and waits,
// bounded, for the manager's acknowledgement, as a synchronous window
// message would. The receiver accepts a report only from its own user and
// only from the process whose id the report carries (the kernel vouches
// for the sender's credentials).

#include "port/report.h"
#include "port/posix/deadline.h"
#include "port/posix/report_datagram.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

// How long a worker waits for the manager to take its report.
constexpr int ACK_TIMEOUT_MS = 5000;
// Largest text a report carries (the worker's texts are below 256 bytes).
constexpr size_t MAX_TEXT = 4096;

using report_datagram::Header;

socklen_t endpoint_address(uintptr_t target, sockaddr_un& addr)
{
    // The low 32 bits: what the worker's command line carries (a worker
    // reads the number sign-extended, as a window handle).
    std::string name = "vantrel-report-" + std::to_string(geteuid()) + "-" +
                       std::to_string(static_cast<uint32_t>(target));
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// Polls fd for `events` until the deadline; true when ready. False once
// the deadline has passed, so that a send retried after it ends.
bool wait_for(int fd, short events, const Deadline& deadline)
{
    if (deadline.passed())
        return false;
    pollfd p{fd, events, 0};
    return poll_until(&p, 1, deadline) > 0 && (p.revents & events) != 0;
}

} // namespace

bool report_datagram::parse(const char* data, size_t size, bool truncated, uint32_t& process_id, const char*& text)
{
    Header header{};
    if (truncated || size < sizeof header + 1)
        return false;
    std::memcpy(&header, data, sizeof header);
    const size_t text_size = size - sizeof header;
    if (header.byte_count != text_size || data[size - 1] != '\0')
        return false;
    process_id = header.process_id;
    text = data + sizeof header;
    return true;
}

void send_report(uintptr_t target, uint32_t process_id, const char* text)
{
    if (target == 0 || text == nullptr)
        return;
    size_t length = strnlen(text, MAX_TEXT - 1);
    std::vector<char> message(sizeof(Header) + length + 1);
    Header header{process_id, static_cast<uint32_t>(length + 1)};
    std::memcpy(message.data(), &header, sizeof header);
    std::memcpy(message.data() + sizeof header, text, length);
    message.back() = '\0';

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    // An address of our own (autobind) for the acknowledgement; connecting
    // lets only the manager's endpoint answer.
    sa_family_t family = AF_UNIX;
    sockaddr_un manager{};
    socklen_t manager_len = endpoint_address(target, manager);
    if (bind(fd, reinterpret_cast<sockaddr*>(&family), sizeof family) != 0
        || connect(fd, reinterpret_cast<sockaddr*>(&manager), manager_len) != 0) {
        ::close(fd);
        return;
    }
    const Deadline deadline(ACK_TIMEOUT_MS);
    for (;;) {
        ssize_t n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(message.size()))
            break;
        if (n < 0 && errno == EINTR)
            continue;
        // A full queue at the manager: wait for room, bounded.
        if (n < 0 && errno == EAGAIN && wait_for(fd, POLLOUT, deadline))
            continue;
        ::close(fd);
        return;
    }
    char ack[sizeof(Header)];
    while (wait_for(fd, POLLIN, deadline)) {
        ssize_t n = ::recv(fd, ack, sizeof ack, 0);
        if (n >= 0 || errno != EINTR)
            break;
    }
    ::close(fd);
}

bool read_report(uintptr_t, intptr_t, uint32_t&, std::string&)
{
    return false; // reports come as datagrams here (ReportReceiver)
}

bool report_target_present(uintptr_t target)
{
    if (target == 0)
        return false;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un manager{};
    socklen_t manager_len = endpoint_address(target, manager);
    // A name that nobody has bound refuses the connection.
    bool present = connect(fd, reinterpret_cast<sockaddr*>(&manager), manager_len) == 0;
    ::close(fd);
    return present;
}

struct ReportReceiver::State {
    int fd = -1;          // the bound datagram socket
    uintptr_t target = 0; // the number in its name
};

ReportReceiver::ReportReceiver() : state_(std::make_unique<State>()) {}

ReportReceiver::~ReportReceiver()
{
    if (state_->fd >= 0)
        ::close(state_->fd);
}

uintptr_t ReportReceiver::target() const
{
    return state_->target;
}

int ReportReceiver::fd() const
{
    return state_->fd;
}

bool ReportReceiver::open()
{
    if (state_->fd >= 0)
        return true;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        ::close(fd);
        return false;
    }
    // The number travels as 32 bits; 1 .. INT32_MAX keeps it one that
    // sign extension leaves alone. The process id is the first choice,
    // then random numbers.
    std::random_device seed;
    std::mt19937 random(seed());
    uintptr_t candidate = static_cast<uintptr_t>(getpid());
    for (int attempt = 0; attempt < 64; ++attempt) {
        sockaddr_un addr{};
        socklen_t len = endpoint_address(candidate, addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
            state_->fd = fd;
            state_->target = candidate;
            return true;
        }
        if (errno != EADDRINUSE)
            break;
        candidate = 1 + random() % 0x7ffffffeu;
    }
    ::close(fd);
    return false;
}

int ReportReceiver::dispatch(const std::function<bool(uint32_t process_id, const char* text)>& handler)
{
    const int fd = state_->fd;
    if (fd < 0)
        return 0;
    int handled = 0;
    std::vector<char> buffer(sizeof(Header) + MAX_TEXT + 1);
    // Bounded: what arrives meanwhile keeps the descriptor readable for the
    // next call.
    for (int turn = 0; turn < 256; ++turn) {
        sockaddr_un from{};
        iovec io{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        bool have_sender = false;
        ucred sender{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
                std::memcpy(&sender, CMSG_DATA(c), sizeof sender);
                have_sender = true;
            }
        }
        uint32_t process_id = 0;
        const char* text = nullptr;
        if (!have_sender
            || !report_datagram::parse(buffer.data(), static_cast<size_t>(n), (msg.msg_flags & MSG_TRUNC) != 0,
                                       process_id, text))
            continue;
        // A report speaks only for the process that sent it.
        if (sender.uid != geteuid() || sender.pid <= 0 || static_cast<uint32_t>(sender.pid) != process_id)
            continue;
        bool result = handler(process_id, text);
        ++handled;
        if (msg.msg_namelen > sizeof(sa_family_t)) {
            Header ack{process_id, result ? 1u : 0u};
            ::sendto(fd, &ack, sizeof ack, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
                     msg.msg_namelen);
        }
    }
    return handled;
}

} // namespace port
