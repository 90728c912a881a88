// The TCP socket driver.

#include "tarn/tarn_internal.h"
#include "tarn/tarn_slots.h"

#include <cstdlib>
#include <cstring>

namespace {

struct socket_pair {
    port::Socket data_socket;
    port::Socket listen_socket;
    port::Socket next_client; // handed over, for the next accept
};
socket_pair sockets[TARN_SLOTS];

// Where servers listen; set on the main thread before they open.
port::IpAddress listen_address;

// The socket library is started by the first socket descriptor and stopped
// when the last one is released. Opens and releases happen on one thread.
int library_users = 0;
port::SocketLibraryInfo library_info;

// Keepalive on every accepted client, so that one whose machine went away
// without a word frees the server within about a minute: the first probe
// after 30 s without traffic, then one every 10 s, three in all.
constexpr int keepalive_idle_s = 30;
constexpr int keepalive_interval_s = 10;
constexpr int keepalive_probes = 3;
// Keepalive sends no probe while sent data waits for its acknowledgement;
// this bound covers that case (a client gone while the board talks), so
// that such a client too frees the server within about a minute rather
// than after the system's retransmission time of a quarter of an hour.
constexpr int unacknowledged_limit_ms = 60000;

const char* last_error_text() { return tarn_socket_error_text(port::socket_last_error()); }

bool transient(int e) { return e == port::SOCKET_ERR_WOULD_BLOCK || e == port::SOCKET_ERR_IN_PROGRESS; }

// Creates a non-blocking stream socket of the address's family.
port::Socket new_socket(const port::IpAddress& family = {})
{
    port::Socket s = port::Socket::stream_for(family);
    if (!s.valid()) {
        if (port::socket_last_error() == port::SOCKET_ERR_NO_ADDRESS_FAMILY)
            tarn_fail("socket: %s\nhas TCP/IP been configured?", last_error_text());
        else
            tarn_fail("socket: %s", last_error_text());
        return s;
    }
    if (!s.set_nonblocking(true)) {
        s.close();
        tarn_error = TARN_ERR_NONBLOCKING;
    }
    return s;
}

bool nagle_off(int d)
{
    if (sockets[d].data_socket.set_nodelay(true))
        return true;
    tarn_fail("on setting TCP_NODELAY: %s", last_error_text());
    return false;
}

// Makes a just-accepted client the server's current one, unless it is not
// worth serving: it already left without a byte to read (say it connected
// while another client was served and gave up). Such a client is dropped,
// and the server keeps listening: false. The options are best effort: a
// system that refuses one (Nagle off, keepalive, the bound on
// unacknowledged data) serves the client without it rather than refusing
// every client while the service looks active.
bool take_client(socket_pair& sp, port::Socket client)
{
    if (client.peer_gone())
        return false;
    client.set_nodelay(true);
    client.set_keepalive(keepalive_idle_s, keepalive_interval_s, keepalive_probes);
    client.set_user_timeout(unacknowledged_limit_ms);
    sp.data_socket = std::move(client);
    return true;
}

int socket_read(int d, void* buffer, int size)
{
    int n = sockets[d].data_socket.recv(buffer, size);
    if (n < 0) {
        if (port::socket_last_error() == port::SOCKET_ERR_WOULD_BLOCK)
            return 0;
        tarn_fail("recv: %s", last_error_text());
        return -1;
    }
    if (n == 0 && size > 0) {
        tarn_error = TARN_ERR_PEER_CLOSED;
        return -1;
    }
    return n;
}

int socket_write(int d, const void* buffer, int count)
{
    int n = sockets[d].data_socket.send(buffer, count);
    if (n < 0) {
        if (port::socket_last_error() == port::SOCKET_ERR_WOULD_BLOCK)
            return 0;
        tarn_fail("send: %s", last_error_text());
        return -1;
    }
    return n;
}

// One readiness wait beside the descriptors' wake objects: until the
// socket is ready or a wake object is signalled, or for at most a slice
// when a callback must be polled that often.
int idle_wait(const port::Socket& s, bool writing)
{
    port::WakeSet wake;
    const int limit = tarn_wake_plan(wake);
    return writing ? s.wait_writable(limit, wake) : s.wait_readable(limit, wake);
}

void socket_idle(int d, bool writing)
{
    idle_wait(sockets[d].data_socket, writing);
}

int socket_open_hook(int d)
{
    sockets[d].data_socket.close();
    sockets[d].listen_socket.close();
    sockets[d].next_client.close();
    tarn_slots[d].serial.close();
    if (library_users == 0) {
        int r = port::socket_startup(library_info);
        if (r == port::SOCKET_ERR_INVALID_ARGUMENT || r == port::SOCKET_ERR_VERSION_NOT_SUPPORTED) {
            tarn_error = TARN_ERR_WINSOCK_RANGE;
            return -1;
        }
        if (r == port::SOCKET_ERR_SYSTEM_NOT_READY) {
            tarn_error = TARN_ERR_NO_TCPIP;
            return -1;
        }
        if (r != 0) {
            tarn_fail("WSAStartup: %s", tarn_socket_error_text(r));
            return -1;
        }
        if (library_info.major < 1 || (library_info.major == 1 && library_info.minor < 1)) {
            port::socket_cleanup();
            tarn_error = TARN_ERR_WINSOCK_OLD;
            return -1;
        }
    }
    tarn_slots[d].read_fn = socket_read;
    tarn_slots[d].write_fn = socket_write;
    tarn_slots[d].idle_fn = socket_idle;
    ++library_users;
    return 0;
}

void socket_release_hook(int)
{
    if (library_users > 0 && --library_users == 0)
        port::socket_cleanup();
}

void socket_close_hook(int d)
{
    sockets[d].data_socket.close();
    sockets[d].listen_socket.close();
    sockets[d].next_client.close();
}

int fail_open(int d)
{
    sockets[d].data_socket.close();
    sockets[d].listen_socket.close();
    sockets[d].next_client.close();
    tarn_release(d);
    return -1;
}

int server_open(const char* service, int d, bool reuse)
{
    std::optional<uint16_t> port = tarn_lookup_service(service);
    if (!port)
        return fail_open(d);
    socket_pair& sp = sockets[d];
    sp.listen_socket = new_socket(listen_address);
    if (!sp.listen_socket.valid())
        return fail_open(d);
    if (reuse && !sp.listen_socket.set_reuse_address(true)) {
        tarn_fail("%s: %s", "setsockopt", last_error_text());
        return fail_open(d);
    }
    if (!sp.listen_socket.bind_address(listen_address, *port)) {
        tarn_fail("%s: %s", "bind", last_error_text());
        return fail_open(d);
    }
    if (!sp.listen_socket.listen(5)) {
        tarn_fail("%s: %s", "listen", last_error_text());
        return fail_open(d);
    }
    sp.data_socket.close();
    if (tarn_accept(d) != 0)
        return fail_open(d);
    return d;
}

int client_open(const char* service, int d, const char* host)
{
    std::optional<uint16_t> port = tarn_lookup_service(service);
    if (!port)
        return fail_open(d);
    std::optional<uint32_t> address = tarn_lookup_host(host);
    if (!address)
        return fail_open(d);
    port::Socket& s = sockets[d].data_socket;
    s = new_socket();
    if (!s.valid())
        return fail_open(d);

    bool ftp_mode = library_info.description.find(" FTP ") != std::string::npos;
    tarn_time ftp_deadline{};
    if (ftp_mode) {
        tarn_now(&ftp_deadline);
        tarn_time_add(&ftp_deadline, 25, 0);
    }
    for (;;) {
        bool made = s.connect(*address, *port);
        int e = made ? 0 : port::socket_last_error();
        if (e == port::SOCKET_ERR_INVALID_ARGUMENT) {
            made = s.connect(*address, *port);
            e = made ? 0 : port::socket_last_error();
            if (e == port::SOCKET_ERR_INVALID_ARGUMENT) {
                tarn_time deadline;
                tarn_now(&deadline);
                tarn_time_add(&deadline, 3, 0);
                while (e == port::SOCKET_ERR_INVALID_ARGUMENT && !tarn_time_passed(&deadline)) {
                    made = s.connect(*address, *port);
                    e = made ? 0 : port::socket_last_error();
                }
            }
        }
        if (made || e == port::SOCKET_ERR_CONNECTED)
            return nagle_off(d) ? d : fail_open(d);
        // A repeated connect on an attempt still in progress answers
        // "already in progress" on some socket layers: still waiting.
        if (transient(e) || e == port::SOCKET_ERR_ALREADY) {
            if (tarn_poll_abort()) {
                tarn_error = TARN_ERR_ABORTED;
                return fail_open(d);
            }
            // Wait for the attempt to end rather than spin on it.
            if (idle_wait(s, true) == 1) {
                if (int pending = s.pending_error(); pending != 0) {
                    if (ftp_mode)
                        pending = tarn_time_passed(&ftp_deadline) ? port::SOCKET_ERR_TIMED_OUT : port::SOCKET_ERR_REFUSED;
                    port::socket_set_last_error(pending);
                    tarn_fail("connect: %s", last_error_text());
                    return fail_open(d);
                }
            }
            continue;
        }
        tarn_fail("connect: %s", last_error_text());
        return fail_open(d);
    }
}

} // namespace

void tarn_socket_hooks(tarn_slot& s)
{
    s.open_hook = socket_open_hook;
    s.release_hook = socket_release_hook;
    s.close_hook = socket_close_hook;
}

int tarn_socket_open(const char* service, int d, const char* name)
{
    if (std::strcmp(name, " server ") == 0)
        return server_open(service, d, false);
    if (std::strcmp(name, " servers ") == 0)
        return server_open(service, d, true);
    return client_open(service, d, name);
}

int tarn_accept(int d)
{
    if (tarn_slot_kind(d) != TARN_SOCKET) {
        tarn_error = TARN_ERR_UNSUPPORTED;
        return -1;
    }
    socket_pair& sp = sockets[d];
    sp.data_socket.close();
    if (sp.next_client.valid() && take_client(sp, std::move(sp.next_client)))
        return 0;
    for (;;) {
        // A stop wins over a client waiting at the same time.
        if (idle_wait(sp.listen_socket, false) == port::SOCKET_WOKEN && tarn_poll_abort()) {
            tarn_error = TARN_ERR_ABORTED;
            return -1;
        }
        port::Socket client;
        if (sp.listen_socket.accept(client)) {
            // The accepted socket takes the listener's non-blocking mode.
            if (take_client(sp, std::move(client)))
                return 0;
        } else {
            int e = port::socket_last_error();
            // A client that gave up before it was accepted is no reason to
            // stop serving: wait for the next one.
            if (!transient(e) && e != port::SOCKET_ERR_INTERRUPTED && e != port::SOCKET_ERR_CONNECTION_ABORTED
                && e != port::SOCKET_ERR_CONNECTION_RESET) {
                tarn_fail("accept: %s", last_error_text());
                return -1;
            }
        }
        if (tarn_poll_abort()) {
            tarn_error = TARN_ERR_ABORTED;
            return -1;
        }
    }
}

port::Socket* tarn_slot_listener(int d)
{
    if (tarn_slot_kind(d) != TARN_SOCKET || !sockets[d].listen_socket.valid())
        return nullptr;
    return &sockets[d].listen_socket;
}

void tarn_slot_hand_over(int d, port::Socket client)
{
    if (tarn_slot_kind(d) == TARN_SOCKET && sockets[d].listen_socket.valid())
        sockets[d].next_client = std::move(client);
}

void tarn_listen_on(const port::IpAddress& address)
{
    listen_address = address;
}

port::Socket* tarn_slot_socket(int d)
{
    if (tarn_slot_kind(d) != TARN_SOCKET || !sockets[d].data_socket.valid())
        return nullptr;
    return &sockets[d].data_socket;
}

std::optional<uint16_t> tarn_lookup_service(const char* text)
{
    if (text[0] >= '1' && text[0] <= '9') {
        long value = std::strtol(text, nullptr, 10);
        if (value > 65535) {
            // Not cut to 16 bits: a port other than the one asked for would
            // be a silent surprise.
            tarn_error = TARN_ERR_UNKNOWN_SERVICE;
            return std::nullopt;
        }
        return static_cast<uint16_t>(value);
    }
    uint16_t port = 0;
    if (port::lookup_service(text, port))
        return port;
    int e = port::socket_last_error();
    if (std::strcmp(text, "telnet") == 0)
        return 23;
    if (std::strcmp(text, "ftxp") == 0)
        return 3010;
    if (e != port::SOCKET_ERR_NO_DATA)
        tarn_fail("on attempt to lookup TCP service \"%s\": %s", text, tarn_socket_error_text(e));
    else
        tarn_error = TARN_ERR_UNKNOWN_SERVICE;
    return std::nullopt;
}

std::optional<uint32_t> tarn_lookup_host(const char* text)
{
    if (text[0] >= '0' && text[0] <= '9') {
        uint32_t value = 0;
        int shift = 32;
        const char* p = text;
        for (;;) {
            uint32_t part = static_cast<uint32_t>(std::strtol(p, nullptr, 10));
            const char* dot = std::strchr(p, '.');
            if (!dot)
                return value | part;
            shift -= 8;
            if (shift < 8) {
                // More than four parts name no address.
                tarn_error = TARN_ERR_UNKNOWN_HOST;
                return std::nullopt;
            }
            value |= part << shift;
            p = dot + 1;
        }
    }
    uint32_t address = 0;
    if (port::lookup_host(text, address))
        return address;
    int e = port::socket_last_error();
    if (e == port::SOCKET_ERR_HOST_NOT_FOUND || e == port::SOCKET_ERR_TRY_AGAIN || e == port::SOCKET_ERR_NO_DATA)
        tarn_error = TARN_ERR_UNKNOWN_HOST;
    else
        tarn_fail("on attempt to lookup host name \"%s\": %s", text, tarn_socket_error_text(e));
    return std::nullopt;
}
