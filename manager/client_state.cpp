// A service's client and the texts of it.

#include "manager/client_state.h"

#include <chrono>
#include <ctime>

namespace {

// Local time; the manager's one thread is the only caller of localtime.
std::tm localTime(int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    const std::tm* local = std::localtime(&t);
    return local ? *local : std::tm{};
}

std::string formatted(const std::tm& time, const char* format)
{
    char text[64];
    const size_t n = std::strftime(text, sizeof text, format, &time);
    return std::string(text, n);
}

std::string clientName(const ClientState& client)
{
    return "client " + client.address + " port " + std::to_string(client.port);
}

std::string bytesText(const ClientState& client)
{
    return std::to_string(client.toBoard) + " bytes to the board, " + std::to_string(client.toClient)
           + " to the client";
}

} // namespace

ClientState clientState(const port::ClientReport& report)
{
    ClientState client;
    client.address = port::format_ip_address(port::unmapped(report.address));
    client.port = report.port;
    client.since = report.since;
    client.toBoard = report.to_board;
    client.toClient = report.to_client;
    return client;
}

std::string sinceText(int64_t since, int64_t now)
{
    const std::tm then = localTime(since);
    const std::tm today = localTime(now);
    const bool sameDay = then.tm_year == today.tm_year && then.tm_yday == today.tm_yday;
    return formatted(then, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M");
}

std::string clientColumnText(const std::optional<ClientState>& client, int64_t now)
{
    return client ? client->address + " since " + sinceText(client->since, now) : std::string();
}

std::string clientEventText(const ClientEvent& event, int64_t now)
{
    using Reason = port::ClientReport::Reason;
    const std::string name = clientName(event.client);
    switch (event.kind) {
    case ClientEvent::Kind::Served: return name + " served";
    case ClientEvent::Kind::Left:
        return name + (event.reason == Reason::TakenOver ? " left, taken over by the next client: " : " left: ")
               + bytesText(event.client);
    case ClientEvent::Kind::Refused:
        if (event.reason == Reason::NotAllowed)
            return name + " refused: not in the allow list";
        return name + " refused: busy"
               + (event.holder ? ", held by " + event.holder->address + " since " + sinceText(event.holder->since, now)
                               : std::string());
    }
    return name;
}

std::string clientStatusText(const std::optional<ClientState>& client, bool running)
{
    if (!client)
        return running ? ", no client" : "";
    return ", " + clientName(*client) + " since " + formatted(localTime(client->since), "%Y-%m-%d %H:%M:%S") + ", "
           + bytesText(*client);
}

int64_t unixNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
