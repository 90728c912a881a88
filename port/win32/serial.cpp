#include "port/serial.h"
#include "port/serial_names.h"

#include <cstdio>
#include <cstdlib>
#include <windows.h>

namespace port {
namespace {

// A manual-reset completion event for one overlapped call, closed with it.
struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped()
    {
        if (ov.hEvent)
            CloseHandle(ov.hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
};

enum class Outcome { Done, Failed, Cancelled, Interrupted };

// Sleeps until an overlapped call started on `port` ends or, when a cancel
// event is given, until it is set, which cancels the call; an object of
// `interrupt` signalled cancels it too. `count` gets the bytes transferred,
// also for a cancelled call.
Outcome finish(HANDLE port, Overlapped& o, HANDLE cancel, DWORD& count, const WakeSet& interrupt = WakeSet{},
               int timeout_ms = -1)
{
    HANDLE handles[2 + WakeSet::CAPACITY] = {o.ov.hEvent, cancel};
    DWORD n = cancel ? 2 : 1;
    for (int i = 0; i < interrupt.size(); ++i)
        handles[n++] = reinterpret_cast<HANDLE>(interrupt[i]);
    DWORD w = WaitForMultipleObjects(n, handles, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (w == WAIT_OBJECT_0)
        return GetOverlappedResult(port, &o.ov, &count, FALSE) ? Outcome::Done : Outcome::Failed;
    const bool interrupted = w == WAIT_TIMEOUT || (w >= WAIT_OBJECT_0 + (cancel ? 2 : 1) && w < WAIT_OBJECT_0 + n);
    // Setting the event mask again ends a pending event wait: some drivers
    // (Wine's among them) do not end one on CancelIoEx alone. Not for an
    // interrupted write, which would end another thread's event wait too.
    DWORD mask = 0;
    if (!interrupted && GetCommMask(port, &mask))
        SetCommMask(port, mask);
    CancelIoEx(port, &o.ov);
    GetOverlappedResult(port, &o.ov, &count, TRUE);
    if (interrupted)
        return Outcome::Interrupted;
    return cancel && w == WAIT_OBJECT_0 + 1 ? Outcome::Cancelled : Outcome::Failed;
}

// Lets the output still queued in the driver go out before the port is
// closed, for as long as the line needs for it at its baud rate; closing
// the handle discards what a line held by flow control has not taken by
// then.
void drain_output(HANDLE port, long baud)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(port, &errors, &stat) || stat.cbOutQue == 0)
        return;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(serial_drain_limit_ms(stat.cbOutQue, baud));
    while (GetTickCount64() < end) {
        Sleep(5);
        if (!ClearCommError(port, &errors, &stat) || stat.cbOutQue == 0)
            return;
    }
}

// The test seam: the file VANTREL_DTR_LOG names, or null when it is unset.
const char* dtr_log_path()
{
    const char* path = std::getenv("VANTREL_DTR_LOG");
    return path && *path ? path : nullptr;
}

// Appends one line "<GetTickCount64 milliseconds> <0|1>" to the seam's file.
void log_dtr(const char* path, bool on)
{
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%llu %d\n", static_cast<unsigned long long>(GetTickCount64()), on ? 1 : 0);
        std::fclose(f);
    }
}

} // namespace

struct SerialPort::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Manual reset: set by cancel() until resume(), so that every wait
    // started meanwhile ends at once as well.
    HANDLE cancelled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~State()
    {
        if (cancelled)
            CloseHandle(cancelled);
    }
    long baud = 0; // the line's rate, for the drain at close
    uint32_t output_queue = 0; // the driver's output queue size as asked for
    bool cancel_set() const { return cancelled && WaitForSingleObject(cancelled, 0) == WAIT_OBJECT_0; }
};

SerialPort::SerialPort() : state_(std::make_unique<State>()) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::string& name)
{
    close();
    std::string path = serial_device_path(name);
    if (path.empty())
        return false;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return false;
    if (!state_->cancelled) {
        CloseHandle(port);
        return false;
    }
    ResetEvent(state_->cancelled);
    state_->handle = port;
    state_->baud = 0;
    return true;
}

bool SerialPort::is_open() const { return state_->handle != INVALID_HANDLE_VALUE; }

bool SerialPort::set_queue_sizes(uint32_t input, uint32_t output)
{
    if (!is_open() || !SetupComm(state_->handle, input, output))
        return false;
    state_->output_queue = output;
    return true;
}

bool SerialPort::apply_line_settings(long baud, int flags)
{
    if (!is_open() || baud <= 0)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state_->handle, &dcb))
        return false;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    if (!(flags & SERIAL_LINE_PARITY))
        dcb.Parity = NOPARITY;
    else
        dcb.Parity = (flags & SERIAL_LINE_ODD) ? ODDPARITY : EVENPARITY;
    dcb.fParity = (flags & SERIAL_LINE_PARITY) ? TRUE : FALSE;
    dcb.StopBits = (flags & SERIAL_LINE_TWO_STOP) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fOutxCtsFlow = (flags & SERIAL_LINE_RTSCTS) ? TRUE : FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = (flags & SERIAL_LINE_XONXOFF) ? TRUE : FALSE;
    dcb.fInX = dcb.fOutX;
    dcb.fRtsControl = (flags & SERIAL_LINE_RTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    if (!SetCommState(state_->handle, &dcb))
        return false;
    state_->baud = baud;
    return true;
}

bool SerialPort::purge_input()
{
    return is_open() && PurgeComm(state_->handle, PURGE_RXABORT | PURGE_RXCLEAR);
}

bool SerialPort::raise_dtr()
{
    if (!is_open())
        return false;
    if (const char* log = dtr_log_path()) {
        log_dtr(log, true);
        return true;
    }
    return EscapeCommFunction(state_->handle, SETDTR);
}

bool SerialPort::set_dtr(bool on)
{
    if (!is_open())
        return false;
    if (const char* log = dtr_log_path()) {
        log_dtr(log, on);
        return true;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state_->handle, &dcb))
        return false;
    dcb.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    return SetCommState(state_->handle, &dcb);
}

bool SerialPort::fetch_status(SerialStatus& status)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!is_open() || !ClearCommError(state_->handle, &errors, &stat))
        return false;
    status.errors = errors;
    status.queued = stat.cbInQue;
    return true;
}

bool SerialPort::check_errors(uint32_t& errors)
{
    DWORD flags = 0;
    errors = 0;
    if (!is_open() || !ClearCommError(state_->handle, &flags, nullptr))
        return false;
    errors = flags;
    return true;
}

int SerialPort::read_checked(void* buffer, uint32_t n, uint32_t& errors)
{
    // One ClearCommError for the flags and the queued count.
    SerialStatus status;
    errors = 0;
    if (!fetch_status(status))
        return -1;
    errors = status.errors;
    if (errors & (SERIAL_ERR_BREAK | SERIAL_ERR_MODE))
        return 0;
    return read(buffer, n < status.queued ? n : status.queued);
}

int SerialPort::read(void* buffer, uint32_t n)
{
    if (!is_open())
        return -1;
    Overlapped o;
    if (!o.ov.hEvent)
        return -1;
    DWORD count = 0;
    if (ReadFile(state_->handle, buffer, n, nullptr, &o.ov))
        return GetOverlappedResult(state_->handle, &o.ov, &count, FALSE) ? static_cast<int>(count) : -1;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    return finish(state_->handle, o, nullptr, count) == Outcome::Done ? static_cast<int>(count) : -1;
}

int SerialPort::write(const void* buffer, uint32_t n)
{
    return write(buffer, n, WakeSet{});
}

int SerialPort::write(const void* buffer, uint32_t n, const WakeSet& interrupt, int timeout_ms)
{
    if (!is_open())
        return -1;
    if (n == 0)
        return 0;
    Overlapped o;
    if (!o.ov.hEvent)
        return -1;
    DWORD count = 0;
    if (WriteFile(state_->handle, buffer, n, nullptr, &o.ov))
        return GetOverlappedResult(state_->handle, &o.ov, &count, FALSE) ? static_cast<int>(count) : -1;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    Outcome r = finish(state_->handle, o, state_->cancelled, count, interrupt, timeout_ms);
    if (r == Outcome::Done || r == Outcome::Interrupted)
        return static_cast<int>(count);
    return count > 0 ? static_cast<int>(count) : -1;
}

long long SerialPort::line_time_ms(uint32_t pending)
{
    // The driver's output queue counted full: asking it how full it is
    // (ClearCommError) would clear the error flags the reading side needs.
    return serial_line_ms(static_cast<uint64_t>(pending) + state_->output_queue, state_->baud);
}

bool SerialPort::set_event_mask(uint32_t mask)
{
    return is_open() && SetCommMask(state_->handle, mask);
}

SerialWait SerialPort::wait_event()
{
    if (!is_open())
        return SerialWait::Failed;
    if (state_->cancel_set())
        return SerialWait::Cancelled;
    Overlapped o;
    if (!o.ov.hEvent)
        return SerialWait::Failed;
    DWORD events = 0;
    if (WaitCommEvent(state_->handle, &events, &o.ov))
        return SerialWait::Event;
    DWORD e = GetLastError();
    if (e == ERROR_INVALID_PARAMETER)
        return SerialWait::Event; // a driver without event waits: read what is there
    if (e != ERROR_IO_PENDING)
        return SerialWait::Failed;
    DWORD count = 0;
    switch (finish(state_->handle, o, state_->cancelled, count)) {
    case Outcome::Done: return SerialWait::Event;
    case Outcome::Cancelled: return SerialWait::Cancelled;
    default: return SerialWait::Failed;
    }
}

void SerialPort::cancel()
{
    if (state_->cancelled)
        SetEvent(state_->cancelled);
}

void SerialPort::resume()
{
    if (state_->cancelled)
        ResetEvent(state_->cancelled);
}

void SerialPort::close()
{
    if (is_open()) {
        drain_output(state_->handle, state_->baud);
        CloseHandle(state_->handle);
        state_->handle = INVALID_HANDLE_VALUE;
    }
}

} // namespace port
