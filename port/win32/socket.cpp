// TCP sockets (IPv4 and IPv6) on Windows: Windows Sockets, readiness waits
// beside wake objects (WSAEventSelect), keepalive and the retransmission
// bound.

#include "port/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <algorithm>

namespace port {
namespace {

SOCKET s(intptr_t handle) { return static_cast<SOCKET>(handle); }

// IPPROTO_TCP options of Windows 10 (idle seconds, probe count, probe
// interval), which older headers lack.
constexpr int tcp_keepidle = 3;
constexpr int tcp_keepcnt = 16;
constexpr int tcp_keepintvl = 17;
// The retransmission limit in seconds (TCP_MAXRT, from Windows Vista on).
constexpr int tcp_maxrt = 5;

bool get_dword(intptr_t handle, int level, int name, DWORD& value)
{
    value = 0;
    int len = sizeof value;
    return ::getsockopt(s(handle), level, name, reinterpret_cast<char*>(&value), &len) == 0;
}

int wait_for(intptr_t handle, bool write, int timeout_ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s(handle), &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s(handle), &failed);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    // A failed connection attempt shows in the exception set.
    int r = ::select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr,
                     timeout_ms < 0 ? nullptr : &tv);
    if (r == SOCKET_ERROR)
        return -1;
    return r > 0 ? 1 : 0;
}

} // namespace

int socket_startup(SocketLibraryInfo& info)
{
    WSADATA data{};
    int r = WSAStartup(MAKEWORD(1, 1), &data);
    if (r != 0)
        return r;
    info.major = LOBYTE(data.wVersion);
    info.minor = HIBYTE(data.wVersion);
    info.description = data.szDescription;
    return 0;
}

void socket_cleanup() { WSACleanup(); }

int socket_last_error() { return WSAGetLastError(); }
void socket_set_last_error(int code) { WSASetLastError(code); }

bool lookup_service(const char* name, uint16_t& port)
{
    const servent* found = ::getservbyname(name, "tcp");
    if (!found) {
        if (WSAGetLastError() == 0)
            WSASetLastError(WSANO_DATA);
        return false;
    }
    port = ntohs(static_cast<u_short>(found->s_port));
    return true;
}

bool lookup_host(const char* name, uint32_t& address)
{
    const hostent* found = ::gethostbyname(name);
    if (!found) {
        if (WSAGetLastError() == 0)
            WSASetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    if (found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list[0]) {
        WSASetLastError(WSANO_DATA);
        return false;
    }
    in_addr a;
    memcpy(&a, found->h_addr_list[0], 4);
    address = ntohl(a.s_addr);
    return true;
}

Socket::~Socket() { close(); }

Socket Socket::stream()
{
    SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
    return Socket(fd == INVALID_SOCKET ? -1 : static_cast<intptr_t>(fd));
}

bool Socket::set_nonblocking(bool on)
{
    u_long v = on ? 1 : 0;
    return ::ioctlsocket(s(handle_), FIONBIO, &v) == 0;
}

bool Socket::set_nodelay(bool on)
{
    int v = on ? 1 : 0;
    return ::setsockopt(s(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

bool Socket::set_keepalive(int idle_s, int interval_s, int count)
{
    const DWORD on = 1;
    if (::setsockopt(s(handle_), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return false;
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<u_long>(idle_s) * 1000;
    values.keepaliveinterval = static_cast<u_long>(interval_s) * 1000;
    DWORD returned = 0;
    if (::WSAIoctl(s(handle_), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr)
        != 0)
        return false;
    // The count only where the system lets it be set; elsewhere it stays
    // at the system's own.
    const DWORD probes = static_cast<DWORD>(count);
    const int saved = WSAGetLastError();
    ::setsockopt(s(handle_), IPPROTO_TCP, tcp_keepcnt, reinterpret_cast<const char*>(&probes), sizeof probes);
    WSASetLastError(saved);
    return true;
}

bool Socket::keepalive(Keepalive& out) const
{
    DWORD value = 0;
    if (!get_dword(handle_, SOL_SOCKET, SO_KEEPALIVE, value))
        return false;
    out = Keepalive{};
    out.on = value != 0;
    out.idle_s = get_dword(handle_, IPPROTO_TCP, tcp_keepidle, value) ? static_cast<int>(value) : -1;
    out.interval_s = get_dword(handle_, IPPROTO_TCP, tcp_keepintvl, value) ? static_cast<int>(value) : -1;
    out.count = get_dword(handle_, IPPROTO_TCP, tcp_keepcnt, value) ? static_cast<int>(value) : -1;
    return true;
}

bool Socket::set_user_timeout(int timeout_ms)
{
    // Whole seconds, rounded up so that a bound is never shorter than asked.
    const DWORD seconds = timeout_ms > 0 ? static_cast<DWORD>((timeout_ms + 999) / 1000) : 0;
    return ::setsockopt(s(handle_), IPPROTO_TCP, tcp_maxrt, reinterpret_cast<const char*>(&seconds), sizeof seconds)
           == 0;
}

int Socket::user_timeout_ms() const
{
    DWORD seconds = 0;
    if (!get_dword(handle_, IPPROTO_TCP, tcp_maxrt, seconds))
        return -1;
    return seconds == static_cast<DWORD>(-1) ? 0 : static_cast<int>(seconds * 1000);
}

bool Socket::set_reuse_address(bool on)
{
    int v = on ? 1 : 0;
    return ::setsockopt(s(handle_), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

bool Socket::bind(uint32_t address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return ::bind(s(handle_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool Socket::listen(int backlog) { return ::listen(s(handle_), backlog) == 0; }

uint16_t Socket::local_port() const
{
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(s(handle_), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

bool Socket::accept(Socket& out)
{
    SOCKET fd = ::accept(s(handle_), nullptr, nullptr);
    if (fd == INVALID_SOCKET)
        return false;
    out = Socket(static_cast<intptr_t>(fd));
    return true;
}

bool Socket::connect(uint32_t address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return ::connect(s(handle_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

int Socket::wait_readable(int timeout_ms) const { return wait_for(handle_, false, timeout_ms); }

int Socket::wait_writable(int timeout_ms) const { return wait_for(handle_, true, timeout_ms); }

int Socket::wait_readable(int timeout_ms, const WakeSet& wake) const
{
    // Ready now (the common case while data flow): no event needed.
    int r = wait_for(handle_, false, 0);
    if (r != 0)
        return r == 1 && wake.signalled() ? SOCKET_WOKEN : r;
    if (!wait_event_) {
        WSAEVENT e = WSACreateEvent();
        if (e == WSA_INVALID_EVENT)
            return -1;
        wait_event_ = reinterpret_cast<intptr_t>(e);
    }
    WSAEVENT e = reinterpret_cast<WSAEVENT>(wait_event_);
    // The selection (made anew each time, so that an accepted socket does
    // not keep its listener's) records what has already happened as well;
    // one more look closes the gap before it.
    WSAResetEvent(e);
    if (WSAEventSelect(s(handle_), e, FD_READ | FD_CLOSE | FD_ACCEPT) != 0)
        return -1;
    r = wait_for(handle_, false, 0);
    if (r != 0)
        return r == 1 && wake.signalled() ? SOCKET_WOKEN : r;
    // The wake objects first: when both are signalled, the wake wins.
    HANDLE handles[WakeSet::CAPACITY + 1];
    const int n = wake.size();
    for (int i = 0; i < n; ++i)
        handles[i] = reinterpret_cast<HANDLE>(wake[i]);
    handles[n] = e;
    DWORD w = WaitForMultipleObjects(static_cast<DWORD>(n + 1), handles, FALSE,
                                     timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (w == WAIT_TIMEOUT)
        return 0;
    if (w >= WAIT_OBJECT_0 && w < WAIT_OBJECT_0 + static_cast<DWORD>(n))
        return SOCKET_WOKEN;
    if (w == WAIT_OBJECT_0 + static_cast<DWORD>(n))
        return 1;
    WSASetLastError(WSAEINVAL);
    return -1;
}

int Socket::wait_writable(int timeout_ms, const WakeSet& wake) const
{
    // One event selection per socket: the readable waits of another thread
    // hold it, so this one looks at the wake objects between short waits.
    constexpr int slice_ms = 50;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (wake.signalled())
            return SOCKET_WOKEN;
        int left = slice_ms;
        if (timeout_ms >= 0) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= static_cast<ULONGLONG>(timeout_ms))
                return 0;
            left = static_cast<int>(std::min<ULONGLONG>(slice_ms, timeout_ms - spent));
        }
        int r = wait_for(handle_, true, left);
        if (r != 0)
            return r;
    }
}

int Socket::pending_error() const
{
    int e = 0;
    int len = sizeof e;
    if (::getsockopt(s(handle_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&e), &len) != 0)
        return WSAGetLastError();
    return e;
}

bool Socket::peer_gone() const
{
    // Only a readable socket can have news, and then a peek does not block.
    if (wait_for(handle_, false, 0) != 1)
        return false;
    char c;
    int n = ::recv(s(handle_), &c, 1, MSG_PEEK);
    if (n > 0)
        return false;
    return n == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
}

int Socket::recv(void* buffer, int size)
{
    int n = ::recv(s(handle_), static_cast<char*>(buffer), size > 0 ? size : 0, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Socket::send(const void* buffer, int count)
{
    int n = ::send(s(handle_), static_cast<const char*>(buffer), count > 0 ? count : 0, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

SocketWatch::SocketWatch(const Socket& socket, Condition condition)
    : socket_(socket.native()), condition_(condition)
{
    if (socket_ == -1 || condition == Condition::Failed)
        return; // no notice tells a reset after the close notice
    WSAEVENT e = WSACreateEvent();
    if (e == WSA_INVALID_EVENT)
        return;
    handle_ = reinterpret_cast<intptr_t>(e);
    arm();
}

SocketWatch::~SocketWatch()
{
    if (handle_ == -1)
        return;
    // The socket is left without a selection; its own waits make theirs.
    WSAEventSelect(s(socket_), nullptr, 0);
    WSACloseEvent(reinterpret_cast<WSAEVENT>(handle_));
}

void SocketWatch::arm()
{
    if (handle_ == -1)
        return;
    WSAEVENT e = reinterpret_cast<WSAEVENT>(handle_);
    WSAResetEvent(e);
    const long events = condition_ == Condition::Readable ? FD_READ | FD_ACCEPT | FD_CLOSE : FD_CLOSE;
    if (WSAEventSelect(s(socket_), e, events) != 0)
        return;
    // What held before the selection: a waiting connection or data
    // (readable), or an end that has been seen already.
    if (condition_ == Condition::Readable && wait_for(socket_, false, 0) == 1)
        WSASetEvent(e);
}

void Socket::close_with_reset()
{
    if (handle_ != -1) {
        const linger now{1, 0};
        ::setsockopt(s(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
    }
    close();
}

void Socket::close()
{
    if (handle_ != -1) {
        ::closesocket(s(handle_));
        handle_ = -1;
    }
    if (wait_event_) {
        WSACloseEvent(reinterpret_cast<WSAEVENT>(wait_event_));
        wait_event_ = 0;
    }
}

// ---------------------------------------------------------------------------
// IPv4 and IPv6 alike.

namespace {

int to_sockaddr(const IpAddress& address, uint16_t port, sockaddr_storage& out)
{
    out = {};
    if (address.v6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(out);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        memcpy(&a.sin6_addr, address.bytes.data(), 16);
        return sizeof a;
    }
    auto& a = reinterpret_cast<sockaddr_in&>(out);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    memcpy(&a.sin_addr, address.bytes.data(), 4);
    return sizeof a;
}

bool from_sockaddr(const sockaddr_storage& in, IpAddress& address, uint16_t& port)
{
    address = {};
    if (in.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(in);
        address.v6 = true;
        memcpy(address.bytes.data(), &a.sin6_addr, 16);
        port = ntohs(a.sin6_port);
        return true;
    }
    if (in.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(in);
        memcpy(address.bytes.data(), &a.sin_addr, 4);
        port = ntohs(a.sin_port);
        return true;
    }
    WSASetLastError(WSAEAFNOSUPPORT);
    return false;
}

} // namespace

Socket Socket::stream_for(const IpAddress& address)
{
    SOCKET fd = ::socket(address.v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    return Socket(fd == INVALID_SOCKET ? -1 : static_cast<intptr_t>(fd));
}

bool Socket::bind_address(const IpAddress& address, uint16_t port)
{
    if (address.v6) {
        const bool unspecified =
            std::all_of(address.bytes.begin(), address.bytes.end(), [](uint8_t b) { return b == 0; });
        const DWORD only = unspecified ? 0 : 1;
        if (::setsockopt(s(handle_), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only), sizeof only)
            != 0)
            return false;
    }
    sockaddr_storage a{};
    const int length = to_sockaddr(address, port, a);
    return ::bind(s(handle_), reinterpret_cast<sockaddr*>(&a), length) == 0;
}

bool Socket::peer_address(IpAddress& address, uint16_t& port) const
{
    sockaddr_storage a{};
    int length = sizeof a;
    if (::getpeername(s(handle_), reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return false;
    return from_sockaddr(a, address, port);
}

bool Socket::local_address(IpAddress& address, uint16_t& port) const
{
    sockaddr_storage a{};
    int length = sizeof a;
    if (::getsockname(s(handle_), reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return false;
    return from_sockaddr(a, address, port);
}

bool Socket::shutdown_send()
{
    return ::shutdown(s(handle_), SD_SEND) == 0;
}

} // namespace port
