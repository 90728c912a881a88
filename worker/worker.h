#pragma once
// The bridge worker: one hidden process per running service. It listens on
// the service's TCP port, opens the serial port for each client, relays
// bytes both ways and, when it must give up for a reason other than a stop
// request, reports its last error text to the manager.

#include "port/named_event.h"
#include "port/wake.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

class com_port_session;

// Worker mode: argv holds the program path and the eight worker words
// (stop event name, TCP port, serial port, baud rate, line flags, DTRO,
// DTRC, report target). Returns the process exit code (always 0).
int worker_main(int argc, char** argv);

// The worker's whole life after its command line has been read. Takes the
// stop event (closed before it returns; an invalid one makes the worker end
// at its first wait). The manager behind a nonzero report target is
// watched: its end stops the worker as the stop event does, and a target
// whose manager is gone already makes it end at its first wait. Returns
// when the worker is to end.
void worker_client_loop(port::NamedEvent& stop_event, const char* tcp_port, const char* serial_port,
                        const char* baud_rate, int line_flags, int dtro, int dtrc, uintptr_t report_target);

// The line a client gets when its serial port does not open: "Error: %s\n"
// with the text, cut so that the whole line, its line break and terminator
// included, fits size bytes. Returns the line's length.
int worker_error_line(char* line, int size, const char* text);

// The worker's abort callback: nonzero once the stop event is set, or at
// once when there is none; the event is consulted at most once a second.
int worker_abort_check();

// What a relay tells and asks its caller beside the bytes it moves.
struct relay_hooks {
    // The bytes each way, counted by the pumps as they go out.
    std::atomic<uint64_t> to_board{0};
    std::atomic<uint64_t> to_client{0};
    // Called by a pump (either thread) after it moved bytes, at most once
    // every RELAY_PROGRESS_MS and never while nothing moves; may be empty.
    std::function<void(uint64_t to_board, uint64_t to_client)> progress;
    // Set: the relay watches the listening socket while the client is
    // served and calls this on its own thread whenever a connection waits
    // there; true ends the relay (a client that takes over, handed to the
    // server for its next accept). Empty: the next client waits in the
    // queue.
    std::function<bool()> newcomer;
    bool ended_by_newcomer = false;        // set by the relay when true ended it
    std::atomic<long long> progress_at{0}; // the relay's: when progress was last called (ms)
};

// The least time between two progress calls of a relay.
inline constexpr long long RELAY_PROGRESS_MS = 2000;

// What a connection carries: the board's bytes as they are, or Telnet
// with the COM-PORT option (RFC 2217), through which the client sets the
// serial line for the length of its connection.
enum class relay_protocol { raw, rfc2217 };

// The protocol of the flags word (its WORKER_PROTOCOL_RFC2217 bit); the
// other bits are the serial line's, and a bit that means nothing here is
// ignored.
relay_protocol worker_protocol(int line_flags);

// One pump's view of a relay.
struct pump_params {
    int socket_descriptor = -1;                   // a server descriptor with its current client
    int serial_descriptor = -1;                   // an open serial port
    std::atomic<int> stop{0};                     // raised by the relay when it ends
    const port::WakeSet* ending = nullptr;        // signalled by the relay when it ends
    std::atomic<long long>* board_moved_at = nullptr; // when the last board bytes reached the client (ms)
    std::atomic<bool>* client_ended = nullptr;    // set by the socket pump at the client's end
    port::WakeEvent* client_ended_event = nullptr; // set with it, for the relay's wait
    relay_hooks* hooks = nullptr;                 // the caller's, or none
    com_port_session* session = nullptr;          // RFC 2217: the Telnet side; null for a raw relay
};

// Joins the client of socket_descriptor and the serial port of
// serial_descriptor until one of the stop objects is signalled or either
// direction ends. After the client's end of stream the connection stays
// while the board answers: until the board has been quiet for 500 ms, at
// most 5 s, and no longer once the next client waits in the listening
// socket's queue or the connection fails. Returns after both pumps have
// ended. An empty stop set ends it at once. `hooks`, when given, count the
// bytes, hear of progress and of clients that connect meanwhile. With RFC
// 2217 the client is offered Telnet's options first, and the line settings
// it makes last until the port is closed; a break the client left on is
// taken off before the relay returns.
void tarn_relay(int socket_descriptor, int serial_descriptor, const port::WakeSet& stop,
                relay_hooks* hooks = nullptr, relay_protocol protocol = relay_protocol::raw);

// Client to serial port; serial port to client. Thread bodies of the relay;
// the result is the last transfer's (a count, 0 or -1).
int socket_pump(pump_params& params);
int serial_pump(pump_params& params);
