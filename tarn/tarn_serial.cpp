// The serial port driver.

#include "tarn/tarn_internal.h"
#include "tarn/tarn_slots.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t queue_size = 1024;
constexpr size_t longest_name = 251; // what a 256-byte device path leaves

constexpr uint32_t fatal_errors = port::SERIAL_ERR_BREAK | port::SERIAL_ERR_MODE;

// A break or a mode error pending on the port fails the next transfer; any
// other line error is cleared and forgotten. The flags are fetched only
// where the driver keeps them, so that a block costs no more than its wait,
// its read and its write.
int serial_read(int d, void* buffer, int size)
{
    port::SerialPort& p = tarn_slots[d].serial;
    uint32_t errors = 0;
    int got = p.read_checked(buffer, size > 0 ? static_cast<uint32_t>(size) : 0, errors);
    if (got < 0 || (errors & fatal_errors)) {
        tarn_error = TARN_ERR_COMMUNICATION;
        return -1;
    }
    return got;
}

int serial_write_watched(int d, const void* buffer, int count, const port::WakeSet& interrupt, int timeout_ms)
{
    if (count <= 0)
        return 0;
    port::SerialPort& p = tarn_slots[d].serial;
    uint32_t errors = 0;
    if (!p.check_errors(errors) || (errors & fatal_errors)) {
        tarn_error = TARN_ERR_COMMUNICATION;
        return -1;
    }
    int put = p.write(buffer, static_cast<uint32_t>(count), interrupt, timeout_ms);
    if (put < 0)
        tarn_error = TARN_ERR_COMMUNICATION;
    return put;
}

int serial_write(int d, const void* buffer, int count) { return serial_write_watched(d, buffer, count, {}, -1); }

int serial_open_hook(int d)
{
    tarn_slots[d].read_fn = serial_read;
    tarn_slots[d].write_fn = serial_write;
    tarn_slots[d].watched_write_fn = serial_write_watched;
    return 0;
}

void serial_release_hook(int) {}

// Lets queued output go out and closes the device (the port's close does
// both); nothing a client sent is discarded.
void serial_close_hook(int d)
{
    tarn_slots[d].serial.close();
}

} // namespace

void tarn_serial_hooks(tarn_slot& s)
{
    s.open_hook = serial_open_hook;
    s.release_hook = serial_release_hook;
    s.close_hook = serial_close_hook;
}

int tarn_serial_open(int d, const char* name, int flags, const char* baud)
{
    port::SerialPort& p = tarn_slots[d].serial;
    if (std::strlen(name) > longest_name || !p.open(name)) {
        tarn_error = TARN_ERR_PORT_OPEN;
        tarn_release(d);
        return -1;
    }
    if (!p.set_queue_sizes(queue_size, queue_size) || !p.apply_line_settings(std::strtol(baud, nullptr, 10), flags) ||
        !p.purge_input() || !p.raise_dtr()) {
        p.close();
        tarn_error = TARN_ERR_SET_TTY;
        tarn_release(d);
        return -1;
    }
    return d;
}

int tarn_set_dtr(int d, int on)
{
    if (tarn_slot_kind(d) != TARN_SERIAL)
        return -1;
    if (!tarn_slots[d].serial.set_dtr(on != 0)) {
        tarn_fail("cannot %s DTR line", on ? "set" : "clear");
        return -1;
    }
    return 0;
}
