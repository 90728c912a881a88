#pragma once
// TCP sockets in the manner of Windows Sockets 1.1, IPv4 and (through the
// functions that take an IpAddress) IPv6. Every failing call leaves its
// error number in socket_last_error() (per thread), in the Windows Sockets
// numbering on every platform (10035 would block, 10048 address in use,
// 11001 host not found, ...), so that one text table serves both.
//
// Windows: ws2_32 (WSAStartup, socket, ioctlsocket, select, ...).
// POSIX: BSD sockets; errno values are mapped to the same numbers, sends
// never raise SIGPIPE, and a bound listening socket may take over a port
// whose old connections still linger (the Windows default).

#include "port/ip_address.h"
#include "port/wake.h"

#include <cstdint>
#include <string>
#include <utility>

namespace port {

// The error numbers the library's logic tells apart, in the Windows Sockets
// numbering above (the text table of tarn_socket_error_text has them all).
enum : int {
    SOCKET_ERR_INTERRUPTED = 10004,          // WSAEINTR: a call was interrupted
    SOCKET_ERR_INVALID_ARGUMENT = 10022,     // WSAEINVAL
    SOCKET_ERR_WOULD_BLOCK = 10035,          // WSAEWOULDBLOCK: nothing can be moved now
    SOCKET_ERR_IN_PROGRESS = 10036,          // WSAEINPROGRESS
    SOCKET_ERR_ALREADY = 10037,              // WSAEALREADY: a connection attempt is still running
    SOCKET_ERR_NO_ADDRESS_FAMILY = 10047,    // WSAEAFNOSUPPORT: no TCP/IP configured
    SOCKET_ERR_CONNECTION_ABORTED = 10053,   // WSAECONNABORTED
    SOCKET_ERR_CONNECTION_RESET = 10054,     // WSAECONNRESET
    SOCKET_ERR_CONNECTED = 10056,            // WSAEISCONN: the connection is made
    SOCKET_ERR_TIMED_OUT = 10060,            // WSAETIMEDOUT
    SOCKET_ERR_REFUSED = 10061,              // WSAECONNREFUSED
    SOCKET_ERR_SYSTEM_NOT_READY = 10091,     // WSASYSNOTREADY: the network subsystem is down
    SOCKET_ERR_VERSION_NOT_SUPPORTED = 10092, // WSAVERNOTSUPPORTED
    SOCKET_ERR_HOST_NOT_FOUND = 11001,       // WSAHOST_NOT_FOUND
    SOCKET_ERR_TRY_AGAIN = 11002,            // WSATRY_AGAIN: host not found, non-authoritative
    SOCKET_ERR_NO_RECOVERY = 11003,          // WSANO_RECOVERY
    SOCKET_ERR_NO_DATA = 11004,              // WSANO_DATA: a valid name without the record asked for
};

// What a readiness wait beside wake objects answers when one of them was
// signalled (beside 1 ready, 0 timed out, -1 failure).
inline constexpr int SOCKET_WOKEN = 2;

// Start-up of the socket library, version 1.1 asked for. Returns 0 or the
// error number; info gets the version granted and the library's
// description text. Every successful start-up needs one socket_cleanup().
struct SocketLibraryInfo {
    int major = 0;
    int minor = 0;
    std::string description;
};
int socket_startup(SocketLibraryInfo& info);
void socket_cleanup();

int socket_last_error();
void socket_set_last_error(int code);

// Services database lookup for protocol "tcp": the port in host order.
// False with the last error set (11004 when the name is not known).
bool lookup_service(const char* name, uint16_t& port);
// Host name resolution: the first IPv4 address, in host order. False with
// the last error set (11001 host not found, 11002 try again, 11003
// non-recoverable, 11004 no address).
bool lookup_host(const char* name, uint32_t& address);

// A socket handle; move-only, the destructor closes it.
class Socket {
public:
    Socket() = default;
    Socket(Socket&& other) noexcept
        : handle_(std::exchange(other.handle_, -1)), wait_event_(std::exchange(other.wait_event_, 0))
    {
    }
    Socket& operator=(Socket&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, -1);
            wait_event_ = std::exchange(other.wait_event_, 0);
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket();

    // A new IPv4 stream socket (blocking); !valid() on failure.
    static Socket stream();

    bool valid() const { return handle_ != -1; }
    intptr_t native() const { return handle_; }

    bool set_nonblocking(bool on);
    bool set_nodelay(bool on);
    bool set_reuse_address(bool on);

    // TCP keepalive on a connected socket, so that a peer that vanished
    // without a word (machine off, cable pulled) does not hold the
    // connection for ever: after idle_s seconds without traffic a probe,
    // then one every interval_s seconds, and after count unanswered probes
    // the connection fails. False with the last error. (Windows systems
    // that cannot set the count keep their own, 10 probes.)
    bool set_keepalive(int idle_s, int interval_s, int count);
    // The keepalive settings as the system tells them: on, and the values
    // of set_keepalive, each -1 where the system does not tell (POSIX tells
    // them all; Windows only from Windows 10 on). False with the last error
    // when not even "on" can be read.
    struct Keepalive {
        bool on = false;
        int idle_s = -1;
        int interval_s = -1;
        int count = -1;
    };
    bool keepalive(Keepalive& out) const;
    // The longest that sent data may stay unacknowledged before the
    // connection fails, so that a peer gone while data is in flight does
    // not hold it for the system's own retransmission time (a quarter of
    // an hour on Linux). Linux: TCP_USER_TIMEOUT, in milliseconds (it also
    // bounds the keepalive probes). Windows: TCP_MAXRT, in whole seconds,
    // where the system has it. False with the last error.
    bool set_user_timeout(int timeout_ms);
    // That bound as the system tells it: 0 for the system's own, -1 where
    // the system does not tell.
    int user_timeout_ms() const;

    // Addresses and ports in host order; INADDR_ANY is 0.
    bool bind(uint32_t address, uint16_t port);
    bool listen(int backlog);
    // The bound local port, 0 when unknown.
    uint16_t local_port() const;
    // Accepts one pending connection into out (non-blocking when this
    // socket is; Nagle untouched). False with the last error (10035 when
    // none is pending on a non-blocking socket). A pending connection that
    // failed before it was taken answers 10053 (connection aborted) or
    // 10054 (reset) on every system, whatever network error ended it: the
    // next one may be fine.
    bool accept(Socket& out);
    bool connect(uint32_t address, uint16_t port);

    // Readiness waits of at most timeout_ms (negative: no limit): 1 ready,
    // 0 timed out, -1 failure. wait_writable also answers 1 when a pending
    // connection attempt has ended, made or failed; pending_error() tells.
    int wait_readable(int timeout_ms) const;
    int wait_writable(int timeout_ms) const;
    // The same waits, ended early by any object of `wake` being signalled:
    // they then answer SOCKET_WOKEN, also when the socket is ready as well.
    // A readable wait sleeps until one or the other happens; on Windows a
    // writable wait looks at the wake objects every 50 ms.
    int wait_readable(int timeout_ms, const WakeSet& wake) const;
    int wait_writable(int timeout_ms, const WakeSet& wake) const;
    // The socket's pending error (SO_ERROR) in the same numbering, 0 none.
    int pending_error() const;
    // Whether the peer of a connected socket is already gone: it closed
    // its side leaving no unread byte, or reset the connection. Neither
    // waits nor takes a byte; a peer that sent bytes before it closed is
    // not gone until they have been read.
    bool peer_gone() const;

    // One attempt each: the count, or -1 with the last error (10035 when
    // nothing can be moved now). recv answers 0 for an orderly close.
    int recv(void* buffer, int size);
    int send(const void* buffer, int count);

    void close();
    // Closes abortively: unsent bytes are dropped and the peer sees the
    // connection reset rather than an orderly end (linger time 0).
    void close_with_reset();

    // IPv4 and IPv6 alike. A new stream socket (blocking) of the family of
    // `address`; !valid() on failure.
    static Socket stream_for(const IpAddress& address);
    // Binds a socket of stream_for(address) as bind() does. An IPv6
    // address takes IPv6 clients only, but the unspecified address (::)
    // takes IPv4 clients as well, which accept as ::ffff:a.b.c.d.
    bool bind_address(const IpAddress& address, uint16_t port);
    // The address and port of a connected socket's peer, and the local
    // ones: false with the last error.
    bool peer_address(IpAddress& address, uint16_t& port) const;
    bool local_address(IpAddress& address, uint16_t& port) const;
    // Ends the sending side (an orderly end for the peer once what was
    // sent has gone out); the socket may still receive.
    bool shutdown_send();

private:
    explicit Socket(intptr_t handle) : handle_(handle) {}
    intptr_t handle_ = -1;
    // Windows: the event that readable waits beside wake objects have the
    // socket signal (WSAEventSelect), made at the first such wait and
    // closed with the socket. Unused elsewhere.
    mutable intptr_t wait_event_ = 0;
};

// A wake object (port/wake.h) for one condition of a socket, so that a wait
// on something else (a serial write, a thread's end) also ends when it
// holds:
//   Readable: a listening socket has a connection waiting, or a connected
//             one has data or its end to read;
//   Ended:    the peer of a connected socket has ended its sending side
//             (whatever it sent before is still unread), or the connection
//             failed;
//   Failed:   the connection failed (the peer reset it).
// POSIX: the socket itself (Readable) or an epoll descriptor watching it,
// readable while the condition holds. Windows: an event of the watch's own
// that the socket signals (WSAEventSelect), which takes the socket's one
// event selection from every other wait on it: arm() selects it again
// before each wait, and the watch gives it up when destroyed. There, Ended
// is the close notice, which the system gives for an orderly end only once
// every byte before it has been read (at once for a reset), and Failed
// cannot be watched. native() is -1 where the condition cannot be watched;
// a wake set leaves such an object out.
class SocketWatch {
public:
    enum class Condition { Readable, Ended, Failed };
    SocketWatch(const Socket& socket, Condition condition);
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;
    ~SocketWatch();

    // Windows: selects the condition for the watch's event again (after a
    // wait of the socket's own took the selection); a condition that holds
    // already signals it at once. POSIX: nothing to do.
    void arm();
    intptr_t native() const { return handle_; }

private:
    intptr_t socket_ = -1;
    Condition condition_;
    intptr_t handle_ = -1;
};

} // namespace port
