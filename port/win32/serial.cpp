#include "port/serial.h"
#include "port/serial_names.h"

#include <windows.h>

namespace port {
namespace {

HANDLE h(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

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

enum class Outcome { Done, Failed, Cancelled };

// Waits in 1 ms steps for an overlapped call started on `port` to end. A
// cancel flag raised meanwhile cancels the call. `count` gets the bytes
// transferred, also for a cancelled call.
Outcome finish(HANDLE port, Overlapped& o, const std::atomic<bool>* cancelled, DWORD& count)
{
    for (;;) {
        DWORD w = WaitForSingleObject(o.ov.hEvent, 1);
        if (w == WAIT_OBJECT_0)
            break;
        if (w != WAIT_TIMEOUT) {
            CancelIoEx(port, &o.ov);
            GetOverlappedResult(port, &o.ov, &count, TRUE);
            return Outcome::Failed;
        }
        if (cancelled && *cancelled) {
            CancelIoEx(port, &o.ov);
            GetOverlappedResult(port, &o.ov, &count, TRUE);
            return Outcome::Cancelled;
        }
    }
    return GetOverlappedResult(port, &o.ov, &count, FALSE) ? Outcome::Done : Outcome::Failed;
}

} // namespace

SerialPort::SerialPort() = default;

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
    handle_ = reinterpret_cast<intptr_t>(port);
    cancelled_ = false;
    event_mask_ = 0;
    return true;
}

bool SerialPort::is_open() const { return handle_ != -1; }

bool SerialPort::set_queue_sizes(uint32_t input, uint32_t output)
{
    return is_open() && SetupComm(h(handle_), input, output);
}

bool SerialPort::apply_line_settings(long baud, int flags)
{
    if (!is_open() || baud <= 0)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h(handle_), &dcb))
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
    return SetCommState(h(handle_), &dcb);
}

bool SerialPort::purge()
{
    return is_open() && PurgeComm(h(handle_), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool SerialPort::raise_dtr() { return is_open() && EscapeCommFunction(h(handle_), SETDTR); }

bool SerialPort::set_dtr(bool on)
{
    if (!is_open())
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h(handle_), &dcb))
        return false;
    dcb.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    return SetCommState(h(handle_), &dcb);
}

bool SerialPort::fetch_status(SerialStatus& status)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!is_open() || !ClearCommError(h(handle_), &errors, &stat))
        return false;
    status.errors = errors;
    status.queued = stat.cbInQue;
    return true;
}

int SerialPort::read(void* buffer, uint32_t n)
{
    if (!is_open())
        return -1;
    Overlapped o;
    if (!o.ov.hEvent)
        return -1;
    DWORD count = 0;
    if (ReadFile(h(handle_), buffer, n, nullptr, &o.ov))
        return GetOverlappedResult(h(handle_), &o.ov, &count, FALSE) ? static_cast<int>(count) : -1;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    return finish(h(handle_), o, nullptr, count) == Outcome::Done ? static_cast<int>(count) : -1;
}

int SerialPort::write(const void* buffer, uint32_t n)
{
    if (!is_open())
        return -1;
    if (n == 0)
        return 0;
    Overlapped o;
    if (!o.ov.hEvent)
        return -1;
    DWORD count = 0;
    if (WriteFile(h(handle_), buffer, n, nullptr, &o.ov))
        return GetOverlappedResult(h(handle_), &o.ov, &count, FALSE) ? static_cast<int>(count) : -1;
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    Outcome r = finish(h(handle_), o, &cancelled_, count);
    if (r == Outcome::Done)
        return static_cast<int>(count);
    return count > 0 ? static_cast<int>(count) : -1;
}

bool SerialPort::set_event_mask(uint32_t mask)
{
    if (!is_open() || !SetCommMask(h(handle_), mask))
        return false;
    event_mask_ = mask;
    return true;
}

SerialWait SerialPort::wait_event()
{
    if (!is_open())
        return SerialWait::Failed;
    if (cancelled_)
        return SerialWait::Cancelled;
    Overlapped o;
    if (!o.ov.hEvent)
        return SerialWait::Failed;
    DWORD events = 0;
    if (WaitCommEvent(h(handle_), &events, &o.ov))
        return SerialWait::Event;
    DWORD e = GetLastError();
    if (e == ERROR_INVALID_PARAMETER)
        return SerialWait::Event; // a driver without event waits: read what is there
    if (e != ERROR_IO_PENDING)
        return SerialWait::Failed;
    DWORD count = 0;
    switch (finish(h(handle_), o, &cancelled_, count)) {
    case Outcome::Done: return SerialWait::Event;
    case Outcome::Cancelled: return SerialWait::Cancelled;
    default: return SerialWait::Failed;
    }
}

void SerialPort::cancel() { cancelled_ = true; }

void SerialPort::resume() { cancelled_ = false; }

void SerialPort::close()
{
    if (handle_ != -1) {
        PurgeComm(h(handle_), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        CloseHandle(h(handle_));
        handle_ = -1;
    }
}

} // namespace port
