// TCP sockets (IPv4 and IPv6) on Linux: BSD sockets with errors in the
// Windows Sockets numbering, poll() waits beside wake objects, keepalive and
// the bound on unacknowledged data, and epoll watches of a connection's end.

#include "port/socket.h"
#include "port/posix/deadline.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace port {
namespace {

thread_local int last_error = 0;

// errno in the Windows Sockets numbering (10000 plus the BSD number the
// Windows table was made from).
int wsa_number(int e)
{
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054; // EPIPE: the peer is gone
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return e;
    }
}

bool fail()
{
    last_error = wsa_number(errno);
    return false;
}

int fail_int()
{
    last_error = wsa_number(errno);
    return -1;
}

// Errors with which Linux accept() passes on the trouble of one pending
// connection, already gone, rather than a fault of the listening socket;
// accept(2) tells to retry on them.
bool client_trouble(int e)
{
    switch (e) {
    case ECONNABORTED: case EPROTO: case ENOPROTOOPT: case EOPNOTSUPP:
    case ENETDOWN: case ENETUNREACH: case EHOSTDOWN: case EHOSTUNREACH:
#ifdef ENONET
    case ENONET:
#endif
        return true;
    default:
        return false;
    }
}

std::mutex library_lock;
int library_count = 0;

int wait_for(int fd, short events, int timeout_ms)
{
    pollfd p{fd, events, 0};
    int r = poll_until(&p, 1, Deadline(timeout_ms));
    if (r < 0)
        return fail_int();
    return r > 0 ? 1 : 0;
}

} // namespace

int socket_startup(SocketLibraryInfo& info)
{
    std::lock_guard lock(library_lock);
    ++library_count;
    info.major = 1;
    info.minor = 1;
    info.description = "BSD sockets";
    return 0;
}

void socket_cleanup()
{
    std::lock_guard lock(library_lock);
    if (library_count > 0)
        --library_count;
}

int socket_last_error() { return last_error; }
void socket_set_last_error(int code) { last_error = code; }

bool lookup_service(const char* name, uint16_t& port)
{
    servent entry{};
    servent* found = nullptr;
    std::vector<char> buffer(1024);
    int r;
    while ((r = getservbyname_r(name, "tcp", &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (r != 0 || !found) {
        last_error = SOCKET_ERR_NO_DATA;
        return false;
    }
    port = ntohs(static_cast<uint16_t>(found->s_port));
    return true;
}

bool lookup_host(const char* name, uint32_t& address)
{
    hostent entry{};
    hostent* found = nullptr;
    int herr = 0;
    std::vector<char> buffer(2048);
    int r;
    while ((r = gethostbyname_r(name, &entry, buffer.data(), buffer.size(), &found, &herr)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (r != 0 || !found) {
        switch (herr) {
        case HOST_NOT_FOUND: last_error = SOCKET_ERR_HOST_NOT_FOUND; break;
        case TRY_AGAIN: last_error = SOCKET_ERR_TRY_AGAIN; break;
        case NO_RECOVERY: last_error = SOCKET_ERR_NO_RECOVERY; break;
        default: last_error = SOCKET_ERR_NO_DATA; break;
        }
        return false;
    }
    if (found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list[0]) {
        last_error = SOCKET_ERR_NO_DATA;
        return false;
    }
    in_addr a;
    std::memcpy(&a, found->h_addr_list[0], 4);
    address = ntohl(a.s_addr);
    return true;
}

Socket::~Socket() { close(); }

Socket Socket::stream()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail();
    return Socket(fd);
}

bool Socket::set_nonblocking(bool on)
{
    int flags = ::fcntl(handle_, F_GETFL);
    if (flags < 0)
        return fail();
    flags = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return ::fcntl(handle_, F_SETFL, flags) == 0 || fail();
}

bool Socket::set_nodelay(bool on)
{
    int v = on ? 1 : 0;
    return ::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0 || fail();
}

bool Socket::set_keepalive(int idle_s, int interval_s, int count)
{
    const int on = 1;
    return (::setsockopt(handle_, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) == 0
            && ::setsockopt(handle_, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s) == 0
            && ::setsockopt(handle_, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0
            && ::setsockopt(handle_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0)
           || fail();
}

bool Socket::keepalive(Keepalive& out) const
{
    auto read = [this](int level, int name, int& value) {
        socklen_t len = sizeof value;
        return ::getsockopt(handle_, level, name, &value, &len) == 0;
    };
    int on = 0;
    if (!read(SOL_SOCKET, SO_KEEPALIVE, on))
        return fail();
    out = Keepalive{};
    out.on = on != 0;
    if (!read(IPPROTO_TCP, TCP_KEEPIDLE, out.idle_s))
        out.idle_s = -1;
    if (!read(IPPROTO_TCP, TCP_KEEPINTVL, out.interval_s))
        out.interval_s = -1;
    if (!read(IPPROTO_TCP, TCP_KEEPCNT, out.count))
        out.count = -1;
    return true;
}

bool Socket::set_user_timeout(int timeout_ms)
{
    const unsigned value = timeout_ms > 0 ? static_cast<unsigned>(timeout_ms) : 0;
    return ::setsockopt(handle_, IPPROTO_TCP, TCP_USER_TIMEOUT, &value, sizeof value) == 0 || fail();
}

int Socket::user_timeout_ms() const
{
    unsigned value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(handle_, IPPROTO_TCP, TCP_USER_TIMEOUT, &value, &len) != 0)
        return -1;
    return static_cast<int>(value);
}

bool Socket::set_reuse_address(bool on)
{
    int v = on ? 1 : 0;
    return ::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0 || fail();
}

bool Socket::bind(uint32_t address, uint16_t port)
{
    // Windows lets a new socket bind a port whose closed connections still
    // linger; on this system that takes SO_REUSEADDR, which still refuses a
    // port on which another socket listens.
    set_reuse_address(true);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return ::bind(handle_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || fail();
}

bool Socket::listen(int backlog) { return ::listen(handle_, backlog) == 0 || fail(); }

uint16_t Socket::local_port() const
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

bool Socket::accept(Socket& out)
{
    int flags = ::fcntl(handle_, F_GETFL);
    if (flags < 0)
        return fail();
    // Windows hands the accepted socket the listener's blocking mode.
    int mode = SOCK_CLOEXEC | ((flags & O_NONBLOCK) ? SOCK_NONBLOCK : 0);
    int fd;
    while ((fd = ::accept4(handle_, nullptr, nullptr, mode)) < 0 && errno == EINTR) {
    }
    if (fd < 0) {
        if (!client_trouble(errno))
            return fail();
        last_error = SOCKET_ERR_CONNECTION_ABORTED;
        return false;
    }
    out = Socket(fd);
    return true;
}

bool Socket::connect(uint32_t address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return ::connect(handle_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || fail();
}

int Socket::wait_readable(int timeout_ms) const { return wait_for(handle_, POLLIN, timeout_ms); }

int Socket::wait_writable(int timeout_ms) const { return wait_for(handle_, POLLOUT, timeout_ms); }

namespace {

// One poll() over the socket and the wake objects.
int wait_for(int fd, short events, int timeout_ms, const WakeSet& wake)
{
    pollfd p[1 + WakeSet::CAPACITY];
    p[0] = {fd, events, 0};
    for (int i = 0; i < wake.size(); ++i)
        p[1 + i] = {static_cast<int>(wake[i]), POLLIN, 0};
    int r = poll_until(p, static_cast<nfds_t>(1 + wake.size()), Deadline(timeout_ms));
    if (r < 0)
        return fail_int();
    if (r == 0)
        return 0;
    for (int i = 0; i < wake.size(); ++i) {
        if (p[1 + i].revents)
            return SOCKET_WOKEN;
    }
    return 1;
}

} // namespace

int Socket::wait_readable(int timeout_ms, const WakeSet& wake) const
{
    return wait_for(static_cast<int>(handle_), POLLIN, timeout_ms, wake);
}

int Socket::wait_writable(int timeout_ms, const WakeSet& wake) const
{
    return wait_for(static_cast<int>(handle_), POLLOUT, timeout_ms, wake);
}

int Socket::pending_error() const
{
    int e = 0;
    socklen_t len = sizeof e;
    if (::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &e, &len) != 0)
        return wsa_number(errno);
    return e ? wsa_number(e) : 0;
}

bool Socket::peer_gone() const
{
    char c;
    ssize_t n;
    while ((n = ::recv(handle_, &c, 1, MSG_PEEK | MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (n > 0)
        return false;
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

int Socket::recv(void* buffer, int size)
{
    ssize_t n;
    while ((n = ::recv(handle_, buffer, size > 0 ? size : 0, 0)) < 0 && errno == EINTR) {
    }
    return n >= 0 ? static_cast<int>(n) : fail_int();
}

int Socket::send(const void* buffer, int count)
{
    ssize_t n;
    while ((n = ::send(handle_, buffer, count > 0 ? count : 0, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n >= 0 ? static_cast<int>(n) : fail_int();
}

SocketWatch::SocketWatch(const Socket& socket, Condition condition)
    : socket_(socket.native()), condition_(condition)
{
    if (socket_ < 0)
        return;
    if (condition_ == Condition::Readable) {
        handle_ = socket_; // a socket polls readable itself
        return;
    }
    // Errors and hang-ups are always reported; the end of the peer's
    // sending side only when asked for.
    const int fd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event watched{};
    watched.events = condition_ == Condition::Ended ? static_cast<uint32_t>(EPOLLRDHUP) : 0u;
    if (fd >= 0 && ::epoll_ctl(fd, EPOLL_CTL_ADD, static_cast<int>(socket_), &watched) == 0) {
        handle_ = fd;
    } else if (fd >= 0) {
        ::close(fd);
    }
}

SocketWatch::~SocketWatch()
{
    if (handle_ >= 0 && handle_ != socket_)
        ::close(static_cast<int>(handle_));
}

void SocketWatch::arm() {}

void Socket::close_with_reset()
{
    if (handle_ != -1) {
        const linger now{1, 0};
        ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    close();
}

void Socket::close()
{
    if (handle_ != -1) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

// ---------------------------------------------------------------------------
// IPv4 and IPv6 alike.

namespace {

// The address of a socket of either family as the system writes it.
socklen_t to_sockaddr(const IpAddress& address, uint16_t port, sockaddr_storage& out)
{
    out = {};
    if (address.v6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(out);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        std::memcpy(&a.sin6_addr, address.bytes.data(), 16);
        return sizeof a;
    }
    auto& a = reinterpret_cast<sockaddr_in&>(out);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    std::memcpy(&a.sin_addr, address.bytes.data(), 4);
    return sizeof a;
}

bool from_sockaddr(const sockaddr_storage& in, IpAddress& address, uint16_t& port)
{
    address = {};
    if (in.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(in);
        address.v6 = true;
        std::memcpy(address.bytes.data(), &a.sin6_addr, 16);
        port = ntohs(a.sin6_port);
        return true;
    }
    if (in.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(in);
        std::memcpy(address.bytes.data(), &a.sin_addr, 4);
        port = ntohs(a.sin_port);
        return true;
    }
    last_error = wsa_number(EAFNOSUPPORT);
    return false;
}

bool is_unspecified(const IpAddress& address)
{
    return std::all_of(address.bytes.begin(), address.bytes.end(), [](uint8_t b) { return b == 0; });
}

} // namespace

Socket Socket::stream_for(const IpAddress& address)
{
    int fd = ::socket(address.v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail();
    return Socket(fd);
}

bool Socket::bind_address(const IpAddress& address, uint16_t port)
{
    set_reuse_address(true); // as bind() does
    if (address.v6) {
        const int only = is_unspecified(address) ? 0 : 1;
        if (::setsockopt(handle_, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0)
            return fail();
    }
    sockaddr_storage a{};
    const socklen_t length = to_sockaddr(address, port, a);
    return ::bind(handle_, reinterpret_cast<sockaddr*>(&a), length) == 0 || fail();
}

bool Socket::peer_address(IpAddress& address, uint16_t& port) const
{
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    if (::getpeername(handle_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return fail();
    return from_sockaddr(a, address, port);
}

bool Socket::local_address(IpAddress& address, uint16_t& port) const
{
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return fail();
    return from_sockaddr(a, address, port);
}

bool Socket::shutdown_send()
{
    return ::shutdown(handle_, SHUT_WR) == 0 || fail();
}

} // namespace port
