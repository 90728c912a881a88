// The relay: two pump threads, client to serial port and serial port to
// client, for the length of one client connection.
//
// Each device is read by one pump and written by the other. Both pumps
// sleep until something happens: the socket pump in a readiness wait on
// the client beside the relay's end event, the serial pump in the serial
// port's event wait, which the relay cancels when it ends. Every block read
// is written out in full before the next read, so nothing is lost or
// reordered: a short write is continued, a client that takes nothing for a
// while is waited for, both watching the stop flag. The relay returns only
// after both pumps have ended.
//
// The client's end. From here a client that ended only its sending side (a
// half-close: it still waits for the board's answer) looks the same as one
// that closed its connection entirely, until a write to it fails, and a
// quiet board writes nothing. So at the client's end of stream the socket
// pump ends, and the relay's own thread keeps the connection while the
// board answers, until the board has been quiet for half a second or 5 s
// have passed, and ends it at once
//   - when the next client waits in the listening socket's queue: a client
//     that reconnects is served without the wait (a half-closed client
//     that still waits for an answer then loses the rest of it to the one
//     that is waiting);
//   - when the connection fails: the client reset it, or a write to it
//     failed (the serial pump ends);
//   - on a stop.
// Either pump failing ends the relay at once as well.
//
// A serial write that waits (the driver's queue is full, or flow control
// holds the line: XOFF from the board, CTS low) watches the client
// meanwhile. Once the client has ended, what it sent still goes out for as
// long as the line takes it; a write that then moves nothing in the time
// its bytes need on the line (plus a second) finds the line held, which
// nobody will let go for a client that has gone: the rest is given up and
// the relay goes on as at the end of stream. A reset seen there ends the
// relay at once.
//
// The caller's hooks, when it gives them: the pumps count the bytes each way
// and, while bytes move, tell the caller at most every RELAY_PROGRESS_MS
// (nothing wakes for it while they do not); and with a newcomer hook the
// relay's own thread watches the listening socket as well while the client
// is served, and hands each connection that waits there to the caller,
// which may end the relay for it (a client that takes over). The pumps go
// on meanwhile.
//
// RFC 2217. A relay for such a service has a com_port_session between the
// pumps and the client: the socket pump hands each block it reads to the
// session, which gives the data in it to the serial port as above (in
// order with the line control the client asks for), the serial pump hands
// the board's blocks to the session, which encodes and sends them, and
// holds them while the client has suspended them. A break or a line error
// from the board is news for the client (NOTIFY-LINESTATE), not the end of
// the relay as it is for a raw one; a mode error still ends it. Modem line
// changes wake the serial pump where the port has events for them; where
// it has not (POSIX), the relay's own thread asks every MODEM_POLL_MS, and
// only while the client wants to hear of them, so that a raw relay and a
// device without modem lines (a pseudo-terminal) never wake for them; it
// wakes the serial pump at a change, which tells the client.

#include "worker/worker.h"

#include "port/thread.h"
#include "worker/com_port_session.h"
#include "tarn/tarn_internal.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

namespace {

// Bytes per transfer at most; a read takes only what is waiting. 8 KiB, not
// the 1 KiB of the serial driver's queue: a pseudo-terminal or a USB adapter
// hands over up to 4 KiB at a time, and each block costs a readiness wait
// and two transfers (and a status fetch where the driver keeps error flags).
constexpr int BLOCK = 8192;
// After the client's end of stream: how long the board must have been
// quiet, and how long the connection stays at most.
constexpr long long CLIENT_END_QUIET_MS = 500;
constexpr long long CLIENT_END_MAX_MS = 5000;
// After the client's end: how much longer than its bytes need on the line
// a serial write may take before the line counts as held.
constexpr long long HELD_LINE_MARGIN_MS = 1000;
// The board's last-moved time while a block is on its way to the client.
constexpr long long BOARD_WRITING = std::numeric_limits<long long>::max() / 2;
// RFC 2217 on a port without events for its modem lines: how often they
// are asked while the client wants to hear of their changes.
constexpr int MODEM_POLL_MS = 200;

long long now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Bytes a pump has moved: counted, and the caller told now and then while
// they move.
void count_moved(pump_params& p, std::atomic<uint64_t> relay_hooks::*counter, int moved)
{
    relay_hooks* hooks = p.hooks;
    if (!hooks || moved <= 0)
        return;
    (hooks->*counter) += static_cast<uint64_t>(moved);
    if (!hooks->progress)
        return;
    const long long now = now_ms();
    long long last = hooks->progress_at.load();
    // One pump calls it when both are due.
    if (now - last >= RELAY_PROGRESS_MS && hooks->progress_at.compare_exchange_strong(last, now))
        hooks->progress(hooks->to_board.load(), hooks->to_client.load());
}

// The socket pump has seen the client's end: the relay's thread takes over.
void report_client_end(pump_params& p)
{
    p.client_ended->store(true);
    p.client_ended_event->set();
}

enum class Written { All, Stopped, Held, Failed };

// One write attempt to the serial port. A raw relay goes through the
// library's serial driver, which fails on a break or mode error the port
// holds; for RFC 2217 those are the board's news for the client, which the
// serial pump fetches and tells, so the write goes to the port as it is.
int write_board(pump_params& p, port::SerialPort* serial, const char* data, int count, const port::WakeSet& watch,
                int limit)
{
    if (!p.session || !serial)
        return tarn_slot_write_watched(p.serial_descriptor, data, count, watch, limit);
    const int n = serial->write(data, static_cast<uint32_t>(count), watch, limit);
    if (n < 0)
        tarn_error = TARN_ERR_COMMUNICATION;
    return n;
}

// Writes all count bytes to the serial port. The driver waits while its
// queue is full or flow control holds the line, until the relay cancels;
// meanwhile the client's end is watched, unless it has been seen already
// (client_gone). After it each attempt has the time its bytes need on the
// line plus the margin: one that moves nothing in that time finds the
// line held.
Written write_serial(pump_params& p, port::Socket& client, port::SocketWatch& client_end, bool& client_gone,
                     const char* data, int count)
{
    port::SerialPort* serial = tarn_slot_serial(p.serial_descriptor);
    int done = 0;
    while (done < count) {
        port::WakeSet watch;
        int limit = -1;
        if (!client_gone) {
            client_end.arm();
            watch.add(client_end.native());
        } else if (serial) {
            const long long line = serial->line_time_ms(static_cast<uint32_t>(count - done));
            if (line >= 0)
                limit = static_cast<int>(std::min<long long>(line + HELD_LINE_MARGIN_MS, std::numeric_limits<int>::max()));
        }
        const int n = write_board(p, serial, data + done, count - done, watch, limit);
        if (n < 0)
            return Written::Failed; // a failed serial write ends the pump, whatever went before
        done += n;
        if (done == count)
            break;
        if (p.stop)
            return Written::Stopped; // short only when the relay cancelled the write: it is ending
        if (!client_gone && watch.signalled()) {
            // The client ended while its bytes wait for the line. A reset
            // has taken the rest of what it sent; after an orderly end it
            // still goes out while the line takes it.
            if (client.pending_error() != 0)
                return Written::Failed;
            client_gone = true;
        } else if (client_gone && limit >= 0 && n == 0) {
            return Written::Held;
        } else if (n == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a driver that took nothing and did not wait
        }
    }
    return Written::All;
}

// RFC 2217: the client's block through the Telnet engine, the data in it
// to the serial port as write_serial writes them.
Written write_decoded(pump_params& p, port::Socket& client, port::SocketWatch& client_end, bool& client_gone,
                      char* data, int count)
{
    Written written = Written::All;
    auto to_board = [&](const char* board, int size) {
        written = write_serial(p, client, client_end, client_gone, board, size);
        return written == Written::All;
    };
    p.session->from_client(data, count, to_board);
    return p.session->client_failed() ? Written::Failed : written;
}

// RFC 2217: what the board sent, with the line errors the port reports
// told the client. A break is news, not a failure: the read after it takes
// what came with it. A mode error fails.
int read_board(port::SerialPort& serial, com_port_session& session, char* buffer)
{
    uint32_t errors = 0;
    int got = serial.read_checked(buffer, BLOCK, errors);
    if (got == 0 && (errors & port::SERIAL_ERR_BREAK) && !(errors & port::SERIAL_ERR_MODE)) {
        uint32_t more = 0;
        got = serial.read_checked(buffer, BLOCK, more);
        errors |= more;
    }
    if (got < 0 || (errors & port::SERIAL_ERR_MODE)) {
        tarn_error = TARN_ERR_COMMUNICATION;
        return -1;
    }
    session.report_line_errors(errors);
    return got;
}

// Sends all count bytes to the client, waiting while its socket
// takes nothing.
int write_client(pump_params& p, port::Socket& client, const char* data, int count)
{
    int done = 0;
    while (done < count) {
        int n = tarn_slot_write(p.socket_descriptor, data + done, count - done);
        if (n < 0)
            return -1;
        done += n;
        if (done < count) {
            if (p.stop)
                break;
            int ready = client.wait_writable(-1, *p.ending);
            if (ready < 0)
                return -1;
            if (ready == port::SOCKET_WOKEN)
                break; // the relay is ending
        }
    }
    return done;
}

// The client has ended: keep the connection while the board still answers,
// until it has been quiet for CLIENT_END_QUIET_MS or CLIENT_END_MAX_MS have
// passed, and no longer once the next client waits, the connection fails,
// the serial pump ends or a stop comes.
void wait_after_client_end(int socket_descriptor, const port::WakeSet& stop, const port::Thread& serial_thread,
                           const std::atomic<long long>& board_moved_at)
{
    port::WakeSet wake = stop;
    std::optional<port::SocketWatch> next_client, failed;
    if (port::Socket* listener = tarn_slot_listener(socket_descriptor)) {
        next_client.emplace(*listener, port::SocketWatch::Condition::Readable);
        wake.add(next_client->native());
    }
    if (port::Socket* client = tarn_slot_socket(socket_descriptor)) {
        failed.emplace(*client, port::SocketWatch::Condition::Failed);
        wake.add(failed->native());
    }
    const long long ended_at = now_ms();
    const long long last_end = ended_at + CLIENT_END_MAX_MS;
    // Waits at most one quiet time at once, so that a block that took long
    // to reach the client counts from the moment it was out.
    for (int turn = 0; turn < 1000; ++turn) {
        const long long now = now_ms();
        const long long quiet_end = std::max(ended_at, board_moved_at.load()) + CLIENT_END_QUIET_MS;
        if (quiet_end <= now || last_end <= now)
            return;
        const long long left = std::min({quiet_end, last_end, now + CLIENT_END_QUIET_MS}) - now;
        if (port::wait_any(wake, {&serial_thread}, static_cast<int>(left)) != port::WAITED_TIMEOUT)
            return;
    }
}

bool hooks_ended(const relay_hooks* hooks)
{
    return hooks && hooks->ended_by_newcomer;
}

} // namespace

int socket_pump(pump_params& p)
{
    char buffer[BLOCK];
    port::Socket* client = tarn_slot_socket(p.socket_descriptor);
    if (!client)
        return -1;
    port::SocketWatch client_end(*client, port::SocketWatch::Condition::Ended);
    bool client_gone = false;
    int result = 0;
    while (!p.stop && result != -1) {
        int ready = client->wait_readable(-1, *p.ending);
        if (ready == port::SOCKET_WOKEN)
            break; // the relay is ending
        if (ready < 0) {
            result = -1;
        } else if (ready == 0) {
            result = 0;
        } else {
            result = tarn_slot_read(p.socket_descriptor, buffer, BLOCK);
            if (result > 0) {
                const Written written = p.session
                                            ? write_decoded(p, *client, client_end, client_gone, buffer, result)
                                            : write_serial(p, *client, client_end, client_gone, buffer, result);
                switch (written) {
                case Written::All: count_moved(p, &relay_hooks::to_board, result); break;
                case Written::Stopped: return result;
                case Written::Held: report_client_end(p); return 0;
                case Written::Failed: return -1;
                }
            } else if (result < 0 && tarn_error == TARN_ERR_PEER_CLOSED) {
                // Read just now by this thread: a failure of the other pump
                // would end the relay anyway.
                report_client_end(p);
                return 0;
            }
        }
    }
    return result;
}

int serial_pump(pump_params& p)
{
    char buffer[BLOCK];
    port::SerialPort* serial = tarn_slot_serial(p.serial_descriptor);
    port::Socket* client = tarn_slot_socket(p.socket_descriptor);
    if (!serial || !client) {
        tarn_error = TARN_ERR_COMMUNICATION;
        return -1;
    }
    com_port_session* session = p.session;
    uint32_t errors = 0;
    const uint32_t fatal = session ? port::SERIAL_ERR_MODE : port::SERIAL_ERR_BREAK | port::SERIAL_ERR_MODE;
    if (!serial->check_errors(errors) || (errors & fatal)) {
        tarn_error = TARN_ERR_COMMUNICATION;
        return -1;
    }
    if (session)
        session->report_line_errors(errors);
    serial->set_event_mask(session ? session->event_mask() : port::SERIAL_EV_RXCHAR | port::SERIAL_EV_ERR);
    int result = 0;
    while (!p.stop && result != -1) {
        uint32_t events = 0;
        port::SerialWait w = serial->wait_event(events);
        if (w == port::SerialWait::Cancelled)
            break;
        if (w == port::SerialWait::Failed) {
            tarn_error = TARN_ERR_COMMUNICATION;
            result = -1;
            break;
        }
        if (session && ((events & port::SERIAL_EV_MODEM) || session->modem_report_due()))
            session->report_modem_lines();
        // Received data or a line error: take what is queued (possibly
        // nothing after a line error).
        result = session ? read_board(*serial, *session, buffer) : tarn_slot_read(p.serial_descriptor, buffer, BLOCK);
        if (result > 0) {
            // A slow client is not a quiet board: the block counts as
            // moving until it is out.
            p.board_moved_at->store(BOARD_WRITING);
            if (!session) {
                result = write_client(p, *client, buffer, result);
            } else if (!session->wait_while_suspended(*p.ending)) {
                break; // the relay is ending
            } else if (!session->from_board(buffer, result)) {
                result = -1;
            }
            p.board_moved_at->store(now_ms());
            count_moved(p, &relay_hooks::to_client, result);
        }
        else if (result == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // no spin on empty events
        if (session && session->client_failed())
            result = -1; // a notification could not be sent
    }
    return result;
}

namespace {

// Waits for the end of the relay: one of the objects of `ends` signalled
// or a pump's end, as port::wait_any answers. Meanwhile it hands each
// connection that waits at `listener` to the hooks' newcomer, when there
// is one, and ends when that says so; and for RFC 2217 on a port whose
// modem lines are learnt by asking, it asks for them every MODEM_POLL_MS
// while the client wants to hear of their changes, and wakes the serial
// pump to tell a change. The pumps go on meanwhile.
int wait_for_end(const port::WakeSet& ends, const port::Thread& socket_thread, const port::Thread& serial_thread,
                 relay_hooks* hooks, port::Socket* listener, com_port_session* session, port::SerialPort* serial)
{
    port::WakeSet wake = ends;
    std::optional<port::SocketWatch> newcomers;
    if (hooks && hooks->newcomer && listener) {
        newcomers.emplace(*listener, port::SocketWatch::Condition::Readable);
        wake.add(newcomers->native());
    }
    if (session)
        wake.add(session->watch_event());
    for (;;) {
        if (newcomers)
            newcomers->arm();
        const int timeout = session && session->polls_modem_lines() ? MODEM_POLL_MS : -1;
        const int seen = port::wait_any(wake, {&socket_thread, &serial_thread}, timeout);
        if (seen == port::WAITED_TIMEOUT) {
            if (session->poll_modem_lines() && serial)
                serial->wake_event_wait();
            continue;
        }
        if (seen != port::WAITED_EVENT || ends.signalled())
            return seen;
        if (session)
            session->watch_seen(); // the client's wish may have changed: ask again whether to poll
        if (newcomers && listener->wait_readable(0) == 1 && hooks->newcomer()) {
            hooks->ended_by_newcomer = true;
            return seen;
        }
    }
}

} // namespace

void tarn_relay(int socket_descriptor, int serial_descriptor, const port::WakeSet& stop, relay_hooks* hooks,
                relay_protocol protocol)
{
    if (hooks) {
        hooks->ended_by_newcomer = false;
        hooks->progress_at = now_ms();
    }
    // Set when the relay ends: wakes a pump that waits for its client.
    port::WakeEvent ending;
    port::WakeSet pump_wake;
    pump_wake.add(ending.native());
    std::atomic<long long> board_moved_at{0};
    std::atomic<bool> client_ended{false};
    port::WakeEvent client_ended_event;

    pump_params to_serial, to_client;
    for (pump_params* p : {&to_serial, &to_client}) {
        p->socket_descriptor = socket_descriptor;
        p->serial_descriptor = serial_descriptor;
        p->ending = &pump_wake;
        p->board_moved_at = &board_moved_at;
        p->client_ended = &client_ended;
        p->client_ended_event = &client_ended_event;
        p->hooks = hooks;
    }

    // RFC 2217: the Telnet side, which writes to the client as the serial
    // pump does; its offers go first.
    port::SerialPort* serial = tarn_slot_serial(serial_descriptor);
    // On the heap: a raw relay's stack stays as small as it was.
    std::unique_ptr<com_port_session> session;
    if (protocol == relay_protocol::rfc2217 && serial) {
        session = std::make_unique<com_port_session>(*serial, [&to_client](const char* data, int size) {
            port::Socket* client = tarn_slot_socket(to_client.socket_descriptor);
            return client && write_client(to_client, *client, data, size) >= 0;
        }, BLOCK);
        to_serial.session = to_client.session = session.get();
    }
    const bool session_ready = !session || session->valid();
    if (session && session_ready)
        session->start();

    port::Thread socket_thread, serial_thread;
    bool started = ending.valid() && client_ended_event.valid() && session_ready
                   && socket_thread.start([&] { socket_pump(to_serial); }, "socket_pump")
                   && serial_thread.start([&] { serial_pump(to_client); }, "serial_pump");
    // Without a stop object the wait fails and the relay ends at once.
    if (started) {
        port::WakeSet first = stop;
        first.add(client_ended_event.native());
        const int seen = wait_for_end(first, socket_thread, serial_thread, hooks,
                                      tarn_slot_listener(socket_descriptor), session.get(), serial);
        // The socket pump has ended at the client's end; nothing else has
        // happened yet.
        if (!hooks_ended(hooks) && seen != port::WAITED_FAILED && client_ended.load() && !stop.signalled()
            && !serial_thread.ended())
            wait_after_client_end(socket_descriptor, stop, serial_thread, board_moved_at);
    }

    to_client.stop = 1;
    to_serial.stop = 1;
    ending.set();
    // Ends a pending serial event wait or a write held by flow control.
    if (serial)
        serial->cancel();
    socket_thread.join();
    serial_thread.join();
    if (serial)
        serial->resume();
    if (session)
        session->finish();
}
