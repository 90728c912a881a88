// Serial ports on Windows: overlapped I/O on the COM device, the line
// settings in its DCB and line control one setting at a time, the event
// wait and its stand-in, the DTR test seam.

#include "port/serial.h"
#include "port/serial_names.h"
#include "port/win32/line_settings.h"

#include <atomic>
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

// Appends one line "<GetTickCount64 milliseconds> <0|1>" to the seam's file,
// with the line's name after it for RTS and break.
void log_dtr(const char* path, bool on, const char* line_name = nullptr)
{
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%llu %d%s%s\n", static_cast<unsigned long long>(GetTickCount64()), on ? 1 : 0,
                     line_name ? " " : "", line_name ? line_name : "");
        std::fclose(f);
    }
}

// Read-modify-write of the line settings the driver reports.
template <typename Change>
bool change_state(HANDLE port, Change change)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb) || !change(dcb))
        return false;
    return SetCommState(port, &dcb);
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
    // The control lines as last set: the driver does not report them.
    bool dtr = true;
    bool rts = true;
    bool break_on = false;
    uint32_t input_queue = 0;  // the driver's queue sizes as asked for
    uint32_t output_queue = 0;
    // Once the driver's event wait has failed: the waits read the first
    // byte themselves, which the next read hands over first.
    bool reads_wait = false;
    bool have_first = false;
    bool modem_status = false; // GetCommModemStatus answered at open
    std::atomic<bool> poked{false}; // wake_event_wait() since the last wait
    char first = 0;
    bool cancel_set() const { return cancelled && WaitForSingleObject(cancelled, 0) == WAIT_OBJECT_0; }
};

namespace {

// The longest one read of the event wait's stand-in waits for its byte
// before it looks again; a cancel ends it at once.
constexpr DWORD FIRST_BYTE_WAIT_MS = 1000;

// Reads that return what is queued, or wait for the first byte when
// nothing is (at most FIRST_BYTE_WAIT_MS): the one combination of the
// time-outs that does so. No limit on writes.
bool set_reads_that_wait(HANDLE port)
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = FIRST_BYTE_WAIT_MS;
    return SetCommTimeouts(port, &t) != 0;
}

} // namespace

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
    state_->dtr = state_->rts = true;
    state_->break_on = false;
    state_->reads_wait = false;
    state_->have_first = false;
    DWORD modem = 0;
    state_->modem_status = GetCommModemStatus(port, &modem) != 0;
    return true;
}

bool SerialPort::is_open() const { return state_->handle != INVALID_HANDLE_VALUE; }

bool SerialPort::set_queue_sizes(uint32_t input, uint32_t output)
{
    if (!is_open() || !SetupComm(state_->handle, input, output))
        return false;
    state_->input_queue = input;
    state_->output_queue = output;
    return true;
}

void set_transparent_line(DCB& dcb, long baud, int flags, uint32_t input_queue)
{
    // The driver's default queue where none was asked for.
    constexpr uint32_t default_queue = 4096;
    constexpr char xon = 0x11, xoff = 0x13;
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
    // What another program may have left that alters or drops bytes.
    dcb.fBinary = TRUE;
    dcb.fDsrSensitivity = FALSE; // bytes dropped while DSR is low
    dcb.fNull = FALSE;           // zero bytes dropped
    dcb.fErrorChar = FALSE;      // bytes with parity errors replaced
    dcb.fAbortOnError = FALSE;   // every transfer failed after a line error
    dcb.fTXContinueOnXoff = TRUE; // output held while this side holds the board
    dcb.XonChar = xon;
    dcb.XoffChar = xoff;
    const uint32_t queue = input_queue ? input_queue : default_queue;
    dcb.XonLim = static_cast<WORD>(queue / 4);
    dcb.XoffLim = static_cast<WORD>(queue / 4);
}

bool SerialPort::apply_line_settings(long baud, int flags)
{
    if (!is_open() || baud <= 0)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state_->handle, &dcb))
        return false;
    set_transparent_line(dcb, baud, flags, state_->input_queue);
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
    state_->dtr = true;
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
        state_->dtr = on;
        return true;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state_->handle, &dcb))
        return false;
    dcb.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (!SetCommState(state_->handle, &dcb))
        return false;
    state_->dtr = on;
    return true;
}

bool SerialPort::settings(SerialSettings& out)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!is_open() || !GetCommState(state_->handle, &dcb))
        return false;
    out.baud = static_cast<long>(dcb.BaudRate);
    out.data_bits = dcb.ByteSize;
    switch (dcb.Parity) {
    case ODDPARITY: out.parity = SerialParity::Odd; break;
    case EVENPARITY: out.parity = SerialParity::Even; break;
    case MARKPARITY: out.parity = SerialParity::Mark; break;
    case SPACEPARITY: out.parity = SerialParity::Space; break;
    default: out.parity = SerialParity::None; break;
    }
    out.stop_bits = dcb.StopBits == TWOSTOPBITS    ? SerialStopBits::Two
                    : dcb.StopBits == ONE5STOPBITS ? SerialStopBits::OneAndHalf
                                                   : SerialStopBits::One;
    out.outbound = dcb.fOutxCtsFlow ? SerialFlow::RtsCts : dcb.fOutX ? SerialFlow::XonXoff : SerialFlow::None;
    out.inbound = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ? SerialFlow::RtsCts
                  : dcb.fInX                               ? SerialFlow::XonXoff
                                                           : SerialFlow::None;
    return true;
}

bool SerialPort::set_baud_rate(long baud)
{
    if (!is_open() || baud <= 0)
        return false;
    if (!change_state(state_->handle, [&](DCB& dcb) {
            dcb.BaudRate = static_cast<DWORD>(baud);
            return true;
        }))
        return false;
    state_->baud = baud;
    return true;
}

bool SerialPort::set_data_bits(int bits)
{
    if (!is_open() || bits < 5 || bits > 8)
        return false;
    return change_state(state_->handle, [&](DCB& dcb) {
        dcb.ByteSize = static_cast<BYTE>(bits);
        return true;
    });
}

bool SerialPort::set_parity(SerialParity parity)
{
    static constexpr BYTE codes[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    if (!is_open())
        return false;
    return change_state(state_->handle, [&](DCB& dcb) {
        dcb.Parity = codes[static_cast<int>(parity)];
        dcb.fParity = parity != SerialParity::None;
        return true;
    });
}

bool SerialPort::set_stop_bits(SerialStopBits stop)
{
    if (!is_open())
        return false;
    return change_state(state_->handle, [&](DCB& dcb) {
        dcb.StopBits = stop == SerialStopBits::Two ? TWOSTOPBITS
                       : stop == SerialStopBits::OneAndHalf ? ONE5STOPBITS : ONESTOPBIT;
        return true;
    });
}

bool SerialPort::set_outbound_flow(SerialFlow flow)
{
    if (!is_open())
        return false;
    return change_state(state_->handle, [&](DCB& dcb) {
        dcb.fOutX = flow == SerialFlow::XonXoff;
        dcb.fOutxCtsFlow = flow == SerialFlow::RtsCts;
        return true;
    });
}

bool SerialPort::set_inbound_flow(SerialFlow flow)
{
    if (!is_open())
        return false;
    const bool rts = state_->rts;
    return change_state(state_->handle, [&](DCB& dcb) {
        dcb.fInX = flow == SerialFlow::XonXoff;
        // Without the handshake RTS stays where it was last set.
        dcb.fRtsControl = flow == SerialFlow::RtsCts ? RTS_CONTROL_HANDSHAKE
                          : rts                       ? RTS_CONTROL_ENABLE
                                                      : RTS_CONTROL_DISABLE;
        return true;
    });
}

bool SerialPort::set_rts(bool on)
{
    if (!is_open())
        return false;
    if (const char* log = dtr_log_path()) {
        log_dtr(log, on, "RTS");
        state_->rts = on;
        return true;
    }
    // Refused while the handshake drives RTS. The line moves at once; the
    // settings keep it there when they are set again (a later baud rate).
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state_->handle, &dcb) || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        return false;
    if (!EscapeCommFunction(state_->handle, on ? SETRTS : CLRRTS))
        return false;
    dcb.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    if (!SetCommState(state_->handle, &dcb))
        return false;
    state_->rts = on;
    return true;
}

bool SerialPort::set_break(bool on)
{
    if (!is_open())
        return false;
    if (const char* log = dtr_log_path()) {
        log_dtr(log, on, "BREAK");
        state_->break_on = on;
        return true;
    }
    if (!(on ? SetCommBreak(state_->handle) : ClearCommBreak(state_->handle)))
        return false;
    state_->break_on = on;
    return true;
}

bool SerialPort::control_lines(SerialControl& out)
{
    if (!is_open())
        return false;
    out.dtr = state_->dtr;
    out.rts = state_->rts;
    out.break_on = state_->break_on;
    return true;
}

bool SerialPort::purge(bool input, bool output)
{
    if (!is_open())
        return false;
    // Queues only: a pending read or write of the relay goes on.
    const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
    return flags == 0 || PurgeComm(state_->handle, flags);
}

bool SerialPort::modem_lines(uint32_t& lines)
{
    DWORD status = 0;
    lines = 0;
    if (!is_open() || !GetCommModemStatus(state_->handle, &status))
        return false;
    lines = status & (SERIAL_MODEM_CTS | SERIAL_MODEM_DSR | SERIAL_MODEM_RING | SERIAL_MODEM_CD);
    return true;
}

SerialModemWatch SerialPort::modem_watch() const
{
    // Once the event wait has been given up, changes are learnt by asking.
    if (!is_open() || !state_->modem_status)
        return SerialModemWatch::None;
    return state_->reads_wait ? SerialModemWatch::Polling : SerialModemWatch::Events;
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
    const uint32_t waiting = status.queued + (state_->have_first ? 1 : 0);
    return read(buffer, n < waiting ? n : waiting);
}

int SerialPort::read(void* buffer, uint32_t n)
{
    if (!is_open())
        return -1;
    // The byte a wait has read already comes first.
    char* out = static_cast<char*>(buffer);
    int handed = 0;
    if (n > 0 && state_->have_first) {
        *out++ = state_->first;
        state_->have_first = false;
        handed = 1;
        --n;
    }
    if (n == 0)
        return handed;
    Overlapped o;
    if (!o.ov.hEvent)
        return handed ? handed : -1;
    DWORD count = 0;
    bool done = false;
    if (ReadFile(state_->handle, out, n, nullptr, &o.ov))
        done = GetOverlappedResult(state_->handle, &o.ov, &count, FALSE) != 0;
    else if (GetLastError() == ERROR_IO_PENDING)
        done = finish(state_->handle, o, nullptr, count) == Outcome::Done;
    if (!done)
        return handed ? handed : -1;
    return handed + static_cast<int>(count);
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

namespace {

// The event wait's stand-in where the driver's own fails: a read of one
// byte that waits for it, repeated while none comes.
SerialWait wait_by_reading(HANDLE port, HANDLE cancelled, bool& have_first, char& first, std::atomic<bool>& poked)
{
    for (;;) {
        if (have_first || poked.exchange(false))
            return SerialWait::Event;
        if (WaitForSingleObject(cancelled, 0) == WAIT_OBJECT_0)
            return SerialWait::Cancelled;
        Overlapped o;
        if (!o.ov.hEvent)
            return SerialWait::Failed;
        DWORD count = 0;
        if (ReadFile(port, &first, 1, nullptr, &o.ov)) {
            if (!GetOverlappedResult(port, &o.ov, &count, FALSE))
                return SerialWait::Failed;
        } else if (GetLastError() != ERROR_IO_PENDING) {
            return SerialWait::Failed;
        } else {
            switch (finish(port, o, cancelled, count)) {
            case Outcome::Done: break;
            case Outcome::Cancelled: return SerialWait::Cancelled;
            default: return SerialWait::Failed;
            }
        }
        have_first = count == 1; // none: the read's time ran out
    }
}

} // namespace

SerialWait SerialPort::wait_event()
{
    uint32_t events = 0;
    return wait_event(events);
}

SerialWait SerialPort::wait_event(uint32_t& events)
{
    events = 0;
    if (!is_open())
        return SerialWait::Failed;
    State& s = *state_;
    if (s.cancel_set())
        return SerialWait::Cancelled;
    if (s.poked.exchange(false))
        return SerialWait::Event;
    // Where the port's own events are not to be had, data are what ends a
    // wait.
    events = SERIAL_EV_RXCHAR;
    if (s.reads_wait)
        return wait_by_reading(s.handle, s.cancelled, s.have_first, s.first, s.poked);
    Overlapped o;
    if (!o.ov.hEvent)
        return SerialWait::Failed;
    DWORD seen = 0; // written when the wait completes, also later
    if (WaitCommEvent(s.handle, &seen, &o.ov)) {
        events = seen;
        return SerialWait::Event;
    }
    DWORD e = GetLastError();
    if (e == ERROR_INVALID_PARAMETER)
        return SerialWait::Event; // a driver without event waits: read what is there
    Outcome r = Outcome::Failed;
    DWORD count = 0;
    if (e == ERROR_IO_PENDING)
        r = finish(s.handle, o, s.cancelled, count);
    if (r == Outcome::Done) {
        events = seen;
        return SerialWait::Event;
    }
    if (r == Outcome::Cancelled)
        return SerialWait::Cancelled;
    // The event wait failed: a driver without modem status (Wine's on a
    // pseudo-terminal gives up at the first byte) or a device gone. Reads
    // that wait tell which: they serve the first, and fail for the second.
    if (!set_reads_that_wait(s.handle))
        return SerialWait::Failed;
    s.reads_wait = true;
    return wait_by_reading(s.handle, s.cancelled, s.have_first, s.first, s.poked);
}

void SerialPort::wake_event_wait()
{
    // Setting the event mask again ends a pending event wait; a wait by
    // reading sees the flag after its read, within FIRST_BYTE_WAIT_MS.
    state_->poked.store(true);
    DWORD mask = 0;
    if (is_open() && GetCommMask(state_->handle, &mask))
        SetCommMask(state_->handle, mask);
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
