// The relay: two pump threads, client to serial port and serial port to
// client, for the length of one client connection.
//
// Each device is read by one pump and written by the other. The socket pump
// waits for the client in 50 ms slices; the serial pump sleeps in the serial
// port's event wait. Every block read is written out in full before the
// next read, so nothing is lost or reordered: a short write is continued,
// a client that takes nothing for a while is waited for, both watching the
// stop flag. The relay returns only after both pumps have ended.

#include "worker/worker.h"

#include "port/thread.h"
#include "tarn/tarn_internal.h"

#include <chrono>
#include <thread>

namespace {

// Bytes per transfer at most; a read takes only what is waiting. 8 KiB, not
// the 1 KiB of the serial driver's queue: a pseudo-terminal or a USB adapter
// hands over up to 4 KiB at a time, and each block costs a readiness wait,
// a status fetch and two transfers.
constexpr int BLOCK = 8192;
constexpr int SLICE_MS = 50;  // readiness wait on the client socket

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

// Sends all count bytes to the client, waiting in slices while its socket
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
            if (client.wait_writable(SLICE_MS) < 0)
                return -1;
        }
    }
    return done;
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
        int ready = client->wait_readable(SLICE_MS);
        if (ready < 0) {
            result = -1;
        } else if (ready == 0) {
            result = 0;
        } else {
            result = tarn_slot_read(p.socket_descriptor, buffer, BLOCK);
            if (result > 0)
                result = write_serial(p, buffer, result);
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
    port::SerialStatus status;
    if (!serial->fetch_status(status) || (status.errors & (port::SERIAL_ERR_BREAK | port::SERIAL_ERR_MODE))) {
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
        if (result > 0)
            result = write_client(p, *client, buffer, result);
        else if (result == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // no spin on empty events
    }
    return result;
}

void tarn_relay(int socket_descriptor, int serial_descriptor, const port::NamedEvent& stop_event)
{
    pump_params to_serial, to_client;
    to_serial.socket_descriptor = to_client.socket_descriptor = socket_descriptor;
    to_serial.serial_descriptor = to_client.serial_descriptor = serial_descriptor;

    port::Thread socket_thread, serial_thread;
    bool started = socket_thread.start([&] { socket_pump(to_serial); }, "socket_pump")
                   && serial_thread.start([&] { serial_pump(to_client); }, "serial_pump");
    // Without a stop event the wait fails and the relay ends at once.
    if (started)
        port::wait_any(&stop_event, {&socket_thread, &serial_thread}, -1);

    to_client.stop = 1;
    to_serial.stop = 1;
    // Ends a pending serial event wait or a write held by flow control; the
    // socket side sees the flag within one slice.
    port::SerialPort* serial = tarn_slot_serial(serial_descriptor);
    if (serial)
        serial->cancel();
    socket_thread.join();
    serial_thread.join();
    if (serial)
        serial->resume();
}
