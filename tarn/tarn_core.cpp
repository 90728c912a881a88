// The descriptor table, error codes and texts, the kind-independent
// operations, the time functions and opening by name.

#include "tarn/tarn_internal.h"
#include "tarn/tarn_slots.h"

#include "port/serial_names.h"

#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <thread>

std::atomic<int> tarn_error{0};
tarn_slot tarn_slots[TARN_SLOTS];

namespace {

// The message buffer holds the text of TARN_ERR_FORMATTED. Formatting and setting the
// code happen under one lock so that a text and its code go together; the
// last failure wins.
std::mutex message_lock;
char message_buffer[256];

void format_message(const char* format, va_list args)
{
    std::lock_guard lock(message_lock);
    std::vsnprintf(message_buffer, sizeof message_buffer, format, args);
    tarn_error = TARN_ERR_FORMATTED;
}

// The tables hold their texts in place rather than pointers to them: a
// table of pointers is rewritten by the loader in every process, a page of
// private memory in each worker.
constexpr size_t ERROR_TEXT_SIZE = 48;
const char error_texts[][ERROR_TEXT_SIZE] = {
    "",
    "illegal or unsupported baudrate",
    "operation aborted",
    "connection closed by peer",
    "no more tarn file descriptors",
    "", // TARN_ERR_FORMATTED: the message buffer
    "can not get tty port attributes",
    "communication error",
    "not enough memory",
    "unsupported operation",
    "can not open port to execution environment",
    "illegal or unsupported port",
    "can not set tty port attributes",
    "read timed out",
    "can not get terminal attributes",
    "transparency mode requires a tty",
    "can not set terminal attributes",
    "PWTCP not installed",
    "unknown host name",
    "unknown TCP/IP service",
    "services database not available",
    "no more sockets available",
    "can not set socket in nonblocking mode",
    "can not set TCP NODELAY option",
    "", // TARN_ERR_MESSAGE: the message buffer
    "WINSOCK version out of range",
    "WINSOCK version too old",
    "WINSOCK found but TCP/IP not enabled",
};
static_assert(std::size(error_texts) == TARN_ERR_LAST + 1, "one text per code");

struct socket_text {
    int code;
    char text[52];
};

const socket_text socket_texts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No Route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc Quota Exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network SubSystem is unavailable"},
    {10092, "WINSOCK DLL Version out of range"},
    {10093, "Successful WSASTARTUP not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

// "error %d" and runtime texts, one buffer per thread.
thread_local char number_text[128];

long decimal_value(const char* text) { return std::strtol(text, nullptr, 10); }

bool ends_with_colon(const char* s)
{
    size_t n = std::strlen(s);
    return n > 0 && s[n - 1] == ':';
}

// Whether a name and a parameter open a TCP socket rather than a serial
// port, tested in this order. " server " is the listening socket. A serial
// port's parameter is its baud rate, a number: one that begins with a
// letter is a TCP service name, 23 is the telnet port, and a number above
// 2400 and below 65536 that is no multiple of 1200 is none of the standard
// rates from 2400 up (4800, 9600, 14400, 19200, 38400, 57600; the faster
// ones are above 65535), so it is a TCP port. Rates up to 2400 and the
// multiples of 1200 stay serial, which leaves those TCP ports to service
// names. Last, a name that is an existing folder is no device but a host
// reached through the file system's network names; a name that ends in ':'
// is a device name in the DOS manner and is not looked up.
bool is_socket_kind(const char* name, const char* parameter)
{
    if (std::strcmp(name, " server ") == 0)
        return true;
    unsigned char c = static_cast<unsigned char>(parameter[0]);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    long value = decimal_value(parameter);
    if (value == 23)
        return true;
    if (value > 2400 && value < 65536 && value % 1200 != 0)
        return true;
    return !ends_with_colon(name) && port::device_name_is_directory(name);
}

} // namespace

void tarn_fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    format_message(format, args);
    va_end(args);
}

const char* tarn_error_text()
{
    int code = tarn_error;
    if (code == TARN_ERR_FORMATTED || code == TARN_ERR_MESSAGE)
        return message_buffer;
    if (code >= TARN_ERR_BAUDRATE && code <= TARN_ERR_LAST)
        return error_texts[code];
    tarn_fail("tarn error %d", code);
    return message_buffer;
}

const char* tarn_socket_error_text(int code)
{
    for (const socket_text& t : socket_texts) {
        if (t.code == code)
            return t.text;
    }
    if (code > 0)
        std::snprintf(number_text, sizeof number_text, "%s", std::strerror(code));
    else
        std::snprintf(number_text, sizeof number_text, "error %d", code);
    return number_text;
}

int tarn_poll_abort()
{
    int answer = 0;
    for (tarn_slot& s : tarn_slots) {
        if (s.kind != TARN_FREE && s.abort_callback)
            answer |= s.abort_callback();
    }
    // A signalled wake object is an abort however seldom the callbacks look.
    for (tarn_slot& s : tarn_slots) {
        if (!answer && s.kind != TARN_FREE && s.wake && s.wake->signalled())
            answer = 1;
    }
    return answer;
}

int tarn_wake_plan(port::WakeSet& wake)
{
    constexpr int slice_ms = 50;
    bool sliced = false;
    for (tarn_slot& s : tarn_slots) {
        if (s.kind == TARN_FREE)
            continue;
        if (s.abort_callback && (!s.wake || s.wake->empty()))
            sliced = true;
        if (!s.wake)
            continue;
        for (int i = 0; i < s.wake->size(); ++i) {
            bool known = false;
            for (int j = 0; j < wake.size(); ++j)
                known = known || wake[j] == (*s.wake)[i];
            if (!known)
                wake.add((*s.wake)[i]);
        }
    }
    return sliced ? slice_ms : -1;
}

int tarn_read(int d, void* buffer, int size, int minimum)
{
    if (size <= 0)
        return 0;
    char* p = static_cast<char*>(buffer);
    int total = 0;
    int last = 0;
    for (;;) {
        if (total < minimum && tarn_poll_abort()) {
            tarn_error = TARN_ERR_ABORTED;
            last = -1;
            break;
        }
        last = tarn_slots[d].read_fn(d, p + total, size - total);
        if (last < 0)
            break;
        total += last;
        if (total >= minimum || total >= size)
            break;
        if (last == 0 && tarn_slots[d].idle_fn)
            tarn_slots[d].idle_fn(d, false); // wait for data rather than spin
    }
    return total != 0 ? total : last;
}

int tarn_read_full(int d, void* buffer, int size) { return tarn_read(d, buffer, size, size); }

int tarn_write(int d, const void* buffer, int count)
{
    if (count <= 0)
        return 0;
    const char* p = static_cast<const char*>(buffer);
    int total = 0;
    int last = 0;
    while (total < count) {
        if (tarn_poll_abort()) {
            tarn_error = TARN_ERR_ABORTED;
            last = -1;
            break;
        }
        last = tarn_slots[d].write_fn(d, p + total, count - total);
        if (last < 0)
            break;
        total += last;
        if (last == 0 && tarn_slots[d].idle_fn)
            tarn_slots[d].idle_fn(d, true); // wait for room rather than spin
    }
    return total != 0 ? total : last;
}

void tarn_release(int d)
{
    if (!tarn_valid(d) || tarn_slots[d].kind == TARN_FREE)
        return;
    tarn_slot& s = tarn_slots[d];
    if (s.release_hook)
        s.release_hook(d);
    s.name.clear();
    s.name.shrink_to_fit();
    s.parameter.clear();
    s.parameter.shrink_to_fit();
    s.kind = TARN_FREE;
}

void tarn_close(int d)
{
    if (!tarn_valid(d) || tarn_slots[d].kind == TARN_FREE)
        return;
    if (tarn_slots[d].close_hook)
        tarn_slots[d].close_hook(d);
    tarn_release(d);
}

int tarn_open(const char* name, const char* parameter, int flags, tarn_abort_fn abort_callback,
              const port::WakeSet* wake)
{
    int d = 0;
    while (d < TARN_SLOTS && tarn_slots[d].kind != TARN_FREE)
        ++d;
    if (d == TARN_SLOTS) {
        tarn_error = TARN_ERR_NO_DESCRIPTOR;
        return -1;
    }
    if (!name || !*name) {
        tarn_error = TARN_ERR_PORT_NAME;
        return -1;
    }
    if (!parameter || !*parameter) {
        tarn_error = TARN_ERR_BAUDRATE;
        return -1;
    }

    tarn_slot& s = tarn_slots[d];
    s.serial.close();
    s.open_hook = nullptr;
    s.release_hook = nullptr;
    s.close_hook = nullptr;
    s.read_fn = nullptr;
    s.write_fn = nullptr;
    s.watched_write_fn = nullptr;
    s.idle_fn = nullptr;
    s.abort_callback = nullptr;
    s.wake = nullptr;
    bool socket = tarn_decide_kind(name, parameter) == TARN_SOCKET;
    s.kind = socket ? TARN_SOCKET : TARN_SERIAL;
    if (socket)
        tarn_socket_hooks(s);
    else
        tarn_serial_hooks(s);
    // A failure from here on frees the slot without its release hook: the
    // kind's library reference was not taken.
    try {
        s.name = name;
        s.parameter = parameter;
    } catch (const std::bad_alloc&) {
        tarn_error = TARN_ERR_NO_MEMORY;
        s.release_hook = nullptr;
        tarn_release(d);
        return -1;
    }
    s.abort_callback = abort_callback;
    s.wake = wake;
    if (s.open_hook(d) != 0) {
        s.release_hook = nullptr;
        tarn_release(d);
        return -1;
    }
    return socket ? tarn_socket_open(parameter, d, name) : tarn_serial_open(d, name, flags, parameter);
}

int tarn_decide_kind(const char* name, const char* parameter)
{
    return is_socket_kind(name, parameter) ? TARN_SOCKET : TARN_SERIAL;
}

int tarn_slot_kind(int d) { return tarn_valid(d) ? tarn_slots[d].kind.load() : TARN_FREE; }

int tarn_slot_read(int d, void* buffer, int size) { return tarn_slots[d].read_fn(d, buffer, size); }

int tarn_slot_write(int d, const void* buffer, int count) { return tarn_slots[d].write_fn(d, buffer, count); }

int tarn_slot_write_watched(int d, const void* buffer, int count, const port::WakeSet& interrupt, int timeout_ms)
{
    const tarn_slot& s = tarn_slots[d];
    return s.watched_write_fn ? s.watched_write_fn(d, buffer, count, interrupt, timeout_ms)
                              : s.write_fn(d, buffer, count);
}

port::SerialPort* tarn_slot_serial(int d)
{
    return tarn_slot_kind(d) == TARN_SERIAL ? &tarn_slots[d].serial : nullptr;
}

// Time. The clock is monotonic, so a step of the system clock does not
// stretch or cut a wait; the arithmetic is that of calendar time.
void tarn_now(tarn_time* t)
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    t->seconds = static_cast<int32_t>(ms / 1000);
    t->milliseconds = static_cast<int32_t>(ms % 1000);
}

void tarn_time_add(tarn_time* t, int seconds, unsigned milliseconds)
{
    unsigned m = static_cast<unsigned>(t->milliseconds) + milliseconds;
    t->milliseconds = static_cast<int32_t>(m % 1000);
    t->seconds = t->seconds + seconds + static_cast<int32_t>(m / 1000);
}

bool tarn_time_passed(const tarn_time* t)
{
    tarn_time now;
    tarn_now(&now);
    return now.seconds > t->seconds || (now.seconds == t->seconds && now.milliseconds > t->milliseconds);
}

void tarn_pace()
{
    // Per thread, so that two pacing threads do not share a count.
    thread_local int counter = 0;
    thread_local tarn_time window_end{0, 0};
    if (counter >= 32) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        counter = 0;
    } else if (counter == 16) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++counter;
    } else if (tarn_time_passed(&window_end)) {
        counter = 0;
    } else {
        ++counter;
        return;
    }
    tarn_now(&window_end);
    tarn_time_add(&window_end, 0, 1);
}
