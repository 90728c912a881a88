#pragma once
// A worker's reports about its clients, kept apart from its final status
// report (port/report.h): a client served, the bytes it has moved so far, a
// client that left, a client refused. The manager names the receiving end
// in the worker's environment (CLIENT_REPORT_VARIABLE); a worker without it
// sends none.
//
// A send never waits for the manager, so that a manager busy elsewhere
// never holds a relay. POSIX: one sequenced-packet connection per worker to
// the manager's abstract Unix socket, written without waiting (the
// connection's buffer holds what a stalled manager has not read yet); the
// receiver takes a connection only from its own user and reads each report
// as from the process at the other end, whatever the report says. Windows:
// WM_COPYDATA to the receiver's message-only window, sent by a thread of the
// sender's own with a bounded wait; the receiver takes a report only from a
// window of the process it names that confirms the report while its sender
// waits (as port/report.h's report).

#include "port/ip_address.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace port {

// The variable of the worker's environment that names the receiver: the
// decimal number of ClientReportReceiver::target().
inline constexpr const char* CLIENT_REPORT_VARIABLE = "VANTREL_CLIENT_REPORTS";

struct ClientReport {
    enum class Kind : uint32_t {
        Served = 1, // a client is served from now on
        Progress,   // the served client's bytes so far
        Left,       // the served client's connection has ended
        Refused,    // a client was turned away, never served
    };
    enum class Reason : uint32_t {
        None,
        TakenOver,  // Left: a new client took the board
        Busy,       // Refused: another client holds the board
        NotAllowed, // Refused: outside the allow list
    };
    Kind kind = Kind::Served;
    Reason reason = Reason::None;
    IpAddress address;     // the client's
    uint16_t port = 0;     // the client's
    int64_t since = 0;     // when it was served (Refused: when it came), Unix seconds
    uint64_t to_board = 0; // bytes from the client to the board
    uint64_t to_client = 0;
};

// A report as it travels: fixed fields in host order (sender and receiver
// are the same program on the same machine).
namespace client_report_wire {

struct Record {
    uint32_t kind;
    uint32_t reason;
    uint8_t v6;
    uint8_t address[16];
    uint8_t unused = 0;
    uint16_t port;
    int64_t since;
    uint64_t to_board;
    uint64_t to_client;
};

inline Record encode(const ClientReport& report)
{
    Record record{};
    record.kind = static_cast<uint32_t>(report.kind);
    record.reason = static_cast<uint32_t>(report.reason);
    record.v6 = report.address.v6 ? 1 : 0;
    std::copy(report.address.bytes.begin(), report.address.bytes.end(), record.address);
    record.port = report.port;
    record.since = report.since;
    record.to_board = report.to_board;
    record.to_client = report.to_client;
    return record;
}

// False for bytes that are no record: another size, a kind or reason
// outside their values.
inline bool decode(const void* data, size_t size, ClientReport& report)
{
    Record record;
    if (size != sizeof record)
        return false;
    std::memcpy(&record, data, sizeof record);
    if (record.kind < static_cast<uint32_t>(ClientReport::Kind::Served)
        || record.kind > static_cast<uint32_t>(ClientReport::Kind::Refused)
        || record.reason > static_cast<uint32_t>(ClientReport::Reason::NotAllowed) || record.v6 > 1)
        return false;
    report.kind = static_cast<ClientReport::Kind>(record.kind);
    report.reason = static_cast<ClientReport::Reason>(record.reason);
    report.address.v6 = record.v6 != 0;
    std::copy(record.address, record.address + 16, report.address.bytes.begin());
    report.port = record.port;
    report.since = record.since;
    report.to_board = record.to_board;
    report.to_client = record.to_client;
    return true;
}

} // namespace client_report_wire

// Worker side. Safe to use from several threads at once.
class ClientReportSender {
public:
    // Reaches the receiver that `target` names; 0 names none.
    explicit ClientReportSender(uintptr_t target);
    ClientReportSender(const ClientReportSender&) = delete;
    ClientReportSender& operator=(const ClientReportSender&) = delete;
    // Windows: what is still queued gets a short last chance, then is
    // dropped; a send that the manager does not take by then is left to
    // the end of the process (a sender lives as long as its worker).
    ~ClientReportSender();

    // Hands the report on without waiting for the manager. False when it
    // is dropped: no receiver, or a manager that has not taken what was
    // sent before for so long that the queue is full.
    bool send(const ClientReport& report);
    // Whether a receiver was reached at all: without one every report is
    // dropped, and a worker need not make them.
    bool reaches_receiver() const;

    // The target named by CLIENT_REPORT_VARIABLE: its 32 bits (as the
    // manager writes them), sign-extended as a window handle is; 0 when it
    // is not set or no such number.
    static uintptr_t target_from_environment()
    {
        const char* text = std::getenv(CLIENT_REPORT_VARIABLE);
        if (!text || *text < '1' || *text > '9')
            return 0;
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (*end != '\0' || value > UINT32_MAX)
            return 0;
        return static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(value))));
    }

private:
    struct State; // per platform (Windows: shared with its thread)
    std::shared_ptr<State> state_;
};

// Manager side, used on the thread that opened it.
class ClientReportReceiver {
public:
    using Handler = std::function<void(uint32_t process_id, const ClientReport& report)>;

    ClientReportReceiver();
    ClientReportReceiver(const ClientReportReceiver&) = delete;
    ClientReportReceiver& operator=(const ClientReportReceiver&) = delete;
    ~ClientReportReceiver();

    // Opens the receiving end; the handler gets every report taken. False
    // on failure.
    bool open(Handler handler);
    // What CLIENT_REPORT_VARIABLE carries; 0 while not open.
    uintptr_t target() const;
    // POSIX: a descriptor that polls readable while something waits to be
    // taken. Windows: -1 (the reports arrive as messages to this thread,
    // handled whenever it takes its messages).
    int fd() const;
    // Takes what waits without blocking; returns the number of reports
    // handled. Windows: delivers the messages sent to the receiver's window.
    int dispatch();

private:
    struct State; // per platform
    std::unique_ptr<State> state_;
};

} // namespace port
