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
// A client that ends its sending side (a half-close) still gets the
// board's answer: the socket pump then stays until the board has been
// quiet for a while, so that the relay does not end under the serial
// pump's feet.

#include "worker/worker.h"

#include "port/thread.h"
#include "tarn/tarn_internal.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace {

// Bytes per transfer at most; a read takes only what is waiting. 8 KiB, not
// the 1 KiB of the serial driver's queue: a pseudo-terminal or a USB adapter
// hands over up to 4 KiB at a time, and each block costs a readiness wait
// and two transfers (and a status fetch where the driver keeps error flags).
constexpr int BLOCK = 8192;
// After the client's end of stream: how long the board must have been
// quiet, and how long the connection stays at most.
constexpr long long HALF_CLOSE_QUIET_MS = 500;
constexpr long long HALF_CLOSE_MAX_MS = 5000;
// The board's last-moved time while a block is on its way to the client.
constexpr long long BOARD_WRITING = std::numeric_limits<long long>::max() / 2;

long long now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Writes all count bytes to the serial port. The driver waits while its
// queue is full or flow control holds the line, until the relay cancels.
int write_serial(pump_params& p, const char* data, int count)
{
    int done = 0;
    while (done < count) {
        int n = tarn_slot_write(p.serial_descriptor, data + done, count - done);
        if (n < 0)
            return -1; // a failed serial write ends the pump, whatever went before
        done += n;
        // Short only when the relay cancelled the write: it is ending.
        if (done < count && p.stop)
            break;
        if (n == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done;
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

// The client has ended its sending side: keep the connection while the
// board still answers, until it has been quiet for HALF_CLOSE_QUIET_MS,
// HALF_CLOSE_MAX_MS have passed or the relay ends.
void linger(pump_params& p)
{
    const long long closed_at = now_ms();
    const long long last_end = closed_at + HALF_CLOSE_MAX_MS;
    // Waits at most one quiet time at once, so that a block that took long
    // to reach the client counts from the moment it was out.
    for (int turn = 0; turn < 1000 && !p.stop; ++turn) {
        const long long now = now_ms();
        const long long quiet_end = std::max(closed_at, p.board_moved_at->load()) + HALF_CLOSE_QUIET_MS;
        const long long left = std::min({quiet_end, last_end, now + HALF_CLOSE_QUIET_MS}) - now;
        if (quiet_end <= now || last_end <= now || p.ending->wait(static_cast<int>(left)))
            return;
    }
}

} // namespace

int socket_pump(pump_params& p)
{
    char buffer[BLOCK];
    port::Socket* client = tarn_slot_socket(p.socket_descriptor);
    if (!client)
        return -1;
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
                result = write_serial(p, buffer, result);
            } else if (result < 0 && tarn_error == TARN_ERR_PEER_CLOSED) {
                // Read just now by this thread: a failure of the other pump
                // would end the relay anyway.
                linger(p);
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
    uint32_t errors = 0;
    if (!serial->check_errors(errors) || (errors & (port::SERIAL_ERR_BREAK | port::SERIAL_ERR_MODE))) {
        tarn_error = TARN_ERR_COMMUNICATION;
        return -1;
    }
    serial->set_event_mask(port::SERIAL_EV_RXCHAR | port::SERIAL_EV_ERR);
    int result = 0;
    while (!p.stop && result != -1) {
        port::SerialWait w = serial->wait_event();
        if (w == port::SerialWait::Cancelled)
            break;
        if (w == port::SerialWait::Failed) {
            tarn_error = TARN_ERR_COMMUNICATION;
            result = -1;
            break;
        }
        // Received data or a line error: take what is queued (possibly
        // nothing after a line error).
        result = tarn_slot_read(p.serial_descriptor, buffer, BLOCK);
        if (result > 0) {
            // A slow client is not a quiet board: the block counts as
            // moving until it is out.
            p.board_moved_at->store(BOARD_WRITING);
            result = write_client(p, *client, buffer, result);
            p.board_moved_at->store(now_ms());
        }
        else if (result == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // no spin on empty events
    }
    return result;
}

void tarn_relay(int socket_descriptor, int serial_descriptor, const port::WakeSet& stop)
{
    // Set when the relay ends: wakes a pump that waits for its client.
    port::WakeEvent ending;
    port::WakeSet pump_wake;
    pump_wake.add(ending.native());
    std::atomic<long long> board_moved_at{0};

    pump_params to_serial, to_client;
    for (pump_params* p : {&to_serial, &to_client}) {
        p->socket_descriptor = socket_descriptor;
        p->serial_descriptor = serial_descriptor;
        p->ending = &pump_wake;
        p->board_moved_at = &board_moved_at;
    }

    port::Thread socket_thread, serial_thread;
    bool started = ending.valid() && socket_thread.start([&] { socket_pump(to_serial); }, "socket_pump")
                   && serial_thread.start([&] { serial_pump(to_client); }, "serial_pump");
    // Without a stop object the wait fails and the relay ends at once.
    if (started)
        port::wait_any(stop, {&socket_thread, &serial_thread}, -1);

    to_client.stop = 1;
    to_serial.stop = 1;
    ending.set();
    // Ends a pending serial event wait or a write held by flow control.
    port::SerialPort* serial = tarn_slot_serial(serial_descriptor);
    if (serial)
        serial->cancel();
    socket_thread.join();
    serial_thread.join();
    if (serial)
        serial->resume();
}
