// A worker's sharing of its board: listen address, allow list, busy mode,
// client reports.

#include "worker/sharing.h"

#include "tarn/tarn_internal.h"
#include "worker/worker_args.h"

#include <chrono>
#include <cstdlib>

namespace {

// How long a refused client may take to close after its Busy line: a
// close with its bytes unread would reset the connection, and the line
// could be lost with it.
constexpr int REFUSED_LINGER_MS = 1000;

const char* variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Sends what it can of `text` without waiting, ends the sending side and
// waits, reading and dropping what comes, until the client closes or the
// time is up.
void close_politely(port::Socket& client, const std::string& text, const port::WakeSet& stop)
{
    client.send(text.data(), static_cast<int>(text.size()));
    client.shutdown_send();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(REFUSED_LINGER_MS);
    char scrap[512];
    for (int turn = 0; turn < 64; ++turn) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0 || client.wait_readable(static_cast<int>(left), stop) != 1 || client.recv(scrap, sizeof scrap) <= 0)
            break;
    }
    client.close();
}

} // namespace

bool worker_sharing::read(int line_flags, std::string& error)
{
    busy_ = static_cast<uint32_t>(line_flags) & WORKER_BUSY_MASK;
    if (busy_ == WORKER_BUSY_MASK) {
        error = "both Refuse and Take over asked for";
        return false;
    }
    const std::string listen = variable(WORKER_LISTEN_VARIABLE);
    listen_ = port::ipv4_address(0);
    if (!listen.empty() && !port::parse_listen_address(listen, listen_)) {
        error = "invalid listen address \"" + listen + "\"";
        return false;
    }
    const std::string allow = variable(WORKER_ALLOW_VARIABLE);
    if (!allow.empty() && !port::parse_ip_prefix_list(allow, allow_)) {
        error = "invalid allow list \"" + allow + "\"";
        return false;
    }
    return true;
}

bool worker_sharing::allowed(const port::IpAddress& address) const
{
    return allow_.empty() || port::prefix_list_contains(allow_, address);
}

void worker_sharing::report(port::ClientReport::Kind kind, port::ClientReport::Reason reason,
                            const port::IpAddress& address, uint16_t port, std::time_t since, uint64_t to_board,
                            uint64_t to_client)
{
    port::ClientReport r;
    r.kind = kind;
    r.reason = reason;
    r.address = port::unmapped(address);
    r.port = port;
    r.since = static_cast<int64_t>(since);
    r.to_board = to_board;
    r.to_client = to_client;
    reports_.send(r);
}

bool worker_sharing::admit(int server)
{
    port::Socket* client = tarn_slot_socket(server);
    port::IpAddress address;
    uint16_t port = 0;
    // A client whose address cannot be told has gone already.
    if (!client || !client->peer_address(address, port))
        return false;
    if (!allowed(address)) {
        report(port::ClientReport::Kind::Refused, port::ClientReport::Reason::NotAllowed, address, port,
               std::time(nullptr));
        return false;
    }
    holder_ = port::unmapped(address);
    holder_port_ = port;
    since_ = std::time(nullptr);
    // Only Refuse tells it; the local time costs a read of the time zone
    // (and its buffers) that no other service needs.
    if (busy_ & WORKER_BUSY_REFUSE)
        busy_line_ = busy_line(holder_, since_);
    report(port::ClientReport::Kind::Served, port::ClientReport::Reason::None, holder_, holder_port_, since_);
    return true;
}

void worker_sharing::prepare(relay_hooks& hooks, int server, const port::WakeSet& stop)
{
    // Progress is worth its clock reads in the pumps only where a manager
    // hears of it.
    if (reports_.reaches_receiver()) {
        hooks.progress = [this](uint64_t to_board, uint64_t to_client) {
            report(port::ClientReport::Kind::Progress, port::ClientReport::Reason::None, holder_, holder_port_,
                   since_, to_board, to_client);
        };
    } else {
        hooks.progress = nullptr;
    }
    if (busy_ != 0)
        hooks.newcomer = [this, server, &stop] { return newcomer(server, stop); };
    else
        hooks.newcomer = nullptr;
}

void worker_sharing::left(const relay_hooks& hooks)
{
    report(port::ClientReport::Kind::Left,
           hooks.ended_by_newcomer ? port::ClientReport::Reason::TakenOver : port::ClientReport::Reason::None,
           holder_, holder_port_, since_, hooks.to_board.load(), hooks.to_client.load());
}

bool worker_sharing::newcomer(int server, const port::WakeSet& stop)
{
    port::Socket* listener = tarn_slot_listener(server);
    port::Socket client;
    if (!listener || !listener->accept(client))
        return false; // gone before it was taken
    port::IpAddress address;
    uint16_t port = 0;
    const std::time_t now = std::time(nullptr);
    if (!client.peer_address(address, port))
        return false; // gone already
    if (!allowed(address)) {
        client.close();
        report(port::ClientReport::Kind::Refused, port::ClientReport::Reason::NotAllowed, address, port, now);
        return false;
    }
    if (busy_ & WORKER_BUSY_TAKE_OVER) {
        tarn_slot_hand_over(server, std::move(client));
        return true;
    }
    close_politely(client, busy_line_, stop);
    report(port::ClientReport::Kind::Refused, port::ClientReport::Reason::Busy, address, port, now);
    return false;
}

std::string worker_sharing::busy_line(const port::IpAddress& holder, std::time_t since)
{
    // Local time, on the worker's main thread only.
    char when[32] = "";
    if (const std::tm* local = std::localtime(&since))
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", local);
    return "Busy: held by " + port::format_ip_address(port::unmapped(holder)) + " since " + when + "\r\n";
}
