#pragma once
// How a worker shares its board: the address it listens on, who may
// connect, what a client that comes while another is served gets (it
// waits, is told the board is busy, or takes over), and the client reports
// that tell the manager who is served.

#include "port/client_report.h"
#include "port/ip_address.h"
#include "worker/worker.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class worker_sharing {
public:
    // Reads the settings: the busy mode from the flags word, the listen
    // address and the allow list from the environment (worker_args.h).
    // False with `error`, the worker's report, for a value it cannot use.
    bool read(int line_flags, std::string& error);
    const port::IpAddress& listen_address() const { return listen_; }

    // Looks at the server's current client: true when it may be served
    // (reported as served from now); false when it is outside the allow
    // list (reported as refused) or gone already; the caller's next accept
    // closes it.
    bool admit(int server);
    // The hooks of the relay for the admitted client: progress reports,
    // and the newcomers of the busy mode. `stop` ends a refused client's
    // wait for its close early; it must outlive the relay.
    void prepare(relay_hooks& hooks, int server, const port::WakeSet& stop);
    // The admitted client's connection has ended (it closes with the next
    // accept): reported with its bytes each way.
    void left(const relay_hooks& hooks);

    // The line a client gets while the board is held: "Busy: held by
    // <address> since <local date and time>" and a line break.
    static std::string busy_line(const port::IpAddress& holder, std::time_t since);

private:
    bool allowed(const port::IpAddress& address) const;
    // A client that connected while another is served, accepted from the
    // listening socket: true when it takes over.
    bool newcomer(int server, const port::WakeSet& stop);
    void report(port::ClientReport::Kind kind, port::ClientReport::Reason reason, const port::IpAddress& address,
                uint16_t port, std::time_t since, uint64_t to_board = 0, uint64_t to_client = 0);

    uint32_t busy_ = 0;
    port::IpAddress listen_;
    std::vector<port::IpPrefix> allow_; // empty: everybody
    port::ClientReportSender reports_{port::ClientReportSender::target_from_environment()};
    // The client served.
    port::IpAddress holder_;
    uint16_t holder_port_ = 0;
    std::time_t since_ = 0;
    std::string busy_line_;
};
