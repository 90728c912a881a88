#pragma once
// Who a service's worker serves, as its client reports tell it, and the
// texts the manager shows of it: the Client column, headless mode's lines
// and the lines of vantrel --status.

#include "port/client_report.h"

#include <cstdint>
#include <optional>
#include <string>

// The client a worker serves.
struct ClientState {
    std::string address;    // as text, an IPv4 client of an IPv6 socket as IPv4
    uint16_t port = 0;
    int64_t since = 0;      // Unix seconds
    uint64_t toBoard = 0;   // bytes so far, as last reported
    uint64_t toClient = 0;
};

// What happened to a service's clients.
struct ClientEvent {
    enum class Kind { Served, Left, Refused };
    Kind kind = Kind::Served;
    port::ClientReport::Reason reason = port::ClientReport::Reason::None;
    ClientState client;                // Left: with its final counts
    std::optional<ClientState> holder; // Refused: who holds the board, if the manager knows
};

ClientState clientState(const port::ClientReport& report);

// A moment as the manager shows it, in local time: "14:02" on the day of
// `now`, "2024-05-01 14:02" on another.
std::string sinceText(int64_t since, int64_t now);

// The Client column: "10.1.2.3 since 14:02", empty without a client.
std::string clientColumnText(const std::optional<ClientState>& client, int64_t now);

// What headless mode says of an event, after the service's name: "client
// 10.1.2.3 port 40122 served", "... left: 12 bytes to the board, 345 to the
// client", "... refused: not in the allow list", "... refused: busy, held
// by 10.1.2.3 since 14:02".
std::string clientEventText(const ClientEvent& event, int64_t now);

// What vantrel --status says of a service after its status: ", client
// 10.1.2.3 port 40122 since 2024-05-01 14:02:07, 12 bytes to the board, 345
// to the client", or ", no client" while it runs, nothing while it does not.
std::string clientStatusText(const std::optional<ClientState>& client, bool running);

// The current time in Unix seconds.
int64_t unixNow();
