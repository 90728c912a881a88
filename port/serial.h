#pragma once
// Serial ports: an exclusively opened communications device with
// asynchronous reads and writes, so that one thread may read while another
// writes, and a cancellable wait for the next port event.
//
// Windows: CreateFileA on "\\.\NAME" in overlapped mode, SetupComm,
// Get/SetCommState, PurgeComm, EscapeCommFunction, ClearCommError,
// overlapped ReadFile/WriteFile/WaitCommEvent. Where the driver's event
// wait fails (a driver without modem status, as Wine's on a
// pseudo-terminal), the wait reads the first byte itself, with time-outs
// (SetCommTimeouts) that make a read wait for data, and the port goes on.
//
// POSIX: the device that port::serial_device_path() names, opened with
// O_NOCTTY | O_NONBLOCK and held exclusively (TIOCEXCL plus a non-blocking
// exclusive flock), raw termios. A device without modem-control lines (a
// pseudo-terminal) accepts every DTR change, so pseudo-terminals can stand
// in for boards. Error flags come from the driver's counters (TIOCGICOUNT)
// where it keeps them; a device without them never reports a line error.
//
// Linux: while the port is open it asks the driver for low latency
// (ASYNC_LOW_LATENCY through TIOCGSERIAL/TIOCSSERIAL; a USB adapter then
// hands on received bytes at once rather than after its latency timer) and
// puts the old setting back at close. A device that has no such setting (a
// pseudo-terminal) is used as it is.
//
// Line-control test seam: when the environment variable VANTREL_DTR_LOG
// names a file, every DTR change, the raise at open included, appends one
// line "<milliseconds> <0|1>\n" to it, and every RTS or break change one
// line "<milliseconds> <0|1> RTS\n" or "<milliseconds> <0|1> BREAK\n", the
// time from CLOCK_MONOTONIC on POSIX and from GetTickCount64 on Windows. On
// Windows the change is then only recorded, not made (a pseudo-terminal
// behind a COM port under Wine has no modem lines and refuses it); on POSIX
// it is made as well.

#include "port/wake.h"

#include <cstdint>
#include <memory>
#include <string>

namespace port {

// Error flags of fetch_status(), in the Windows numbering (CE_*).
enum : uint32_t {
    SERIAL_ERR_RXOVER = 0x0001,
    SERIAL_ERR_OVERRUN = 0x0002,
    SERIAL_ERR_PARITY = 0x0004,
    SERIAL_ERR_FRAME = 0x0008,
    SERIAL_ERR_BREAK = 0x0010,
    SERIAL_ERR_MODE = 0x8000,
};

// Event mask bits of set_event_mask(), in the Windows numbering (EV_*).
enum : uint32_t {
    SERIAL_EV_RXCHAR = 0x0001,
    SERIAL_EV_CTS = 0x0008,
    SERIAL_EV_DSR = 0x0010,
    SERIAL_EV_RLSD = 0x0020,
    SERIAL_EV_ERR = 0x0080,
    SERIAL_EV_RING = 0x0100,
    SERIAL_EV_MODEM = SERIAL_EV_CTS | SERIAL_EV_DSR | SERIAL_EV_RLSD | SERIAL_EV_RING,
};

// How a port tells of changes of its modem status lines: not at all (a
// device without them, such as a pseudo-terminal), by waking wait_event()
// with SERIAL_EV_MODEM bits when the event mask asks for them (Windows),
// or only when asked: the caller polls modem_lines() (POSIX, which has no
// event for them that a wait could watch beside the data).
enum class SerialModemWatch { None, Events, Polling };

// Line settings: serial_line_flags bits.
enum : int {
    SERIAL_LINE_XONXOFF = 0x01,
    SERIAL_LINE_RTSCTS = 0x02,
    SERIAL_LINE_PARITY = 0x20,
    SERIAL_LINE_ODD = 0x40,
    SERIAL_LINE_TWO_STOP = 0x80,
};

// The longest a close waits for queued output to go out: what `queued`
// bytes take on the line at `baud` (ten bit times a byte, start and stop
// bits included) plus a margin, at most SERIAL_DRAIN_MAX_MS. Output still
// queued after that is held by flow control or a stuck line.
inline constexpr int SERIAL_DRAIN_MARGIN_MS = 250;
inline constexpr int SERIAL_DRAIN_MAX_MS = 5000;
// What `bytes` take on the line at `baud` (ten bit times a byte), rounded
// up; -1 for a rate of 0 or below.
inline long long serial_line_ms(uint64_t bytes, long baud)
{
    if (baud <= 0)
        return -1;
    return static_cast<long long>((bytes * 10 * 1000 + static_cast<uint64_t>(baud) - 1) / static_cast<uint64_t>(baud));
}
inline int serial_drain_limit_ms(uint64_t queued, long baud)
{
    if (queued == 0)
        return 0;
    if (baud <= 0)
        return SERIAL_DRAIN_MAX_MS;
    const long long limit = serial_line_ms(queued, baud) + SERIAL_DRAIN_MARGIN_MS;
    return limit < SERIAL_DRAIN_MAX_MS ? static_cast<int>(limit) : SERIAL_DRAIN_MAX_MS;
}

// Line settings one at a time (a remote client's line control).
enum class SerialParity : uint8_t { None, Odd, Even, Mark, Space };
enum class SerialStopBits : uint8_t { One, OneAndHalf, Two };
enum class SerialFlow : uint8_t { None, XonXoff, RtsCts };

// Modem status lines of modem_lines(), in the Windows numbering (MS_*_ON).
enum : uint32_t {
    SERIAL_MODEM_CTS = 0x10,
    SERIAL_MODEM_DSR = 0x20,
    SERIAL_MODEM_RING = 0x40,
    SERIAL_MODEM_CD = 0x80,
};

// The line settings in force, as the driver reports them.
struct SerialSettings {
    long baud = 0;
    int data_bits = 8;
    SerialParity parity = SerialParity::None;
    SerialStopBits stop_bits = SerialStopBits::One;
    SerialFlow outbound = SerialFlow::None; // what holds our output: XOFF from the board, or CTS
    SerialFlow inbound = SerialFlow::None;  // how we hold the board: XOFF sent, or RTS
};

// The lines the port drives: as the driver reports them where it can,
// otherwise as they were last set.
struct SerialControl {
    bool dtr = true;
    bool rts = true;
    bool break_on = false;
};

struct SerialStatus {
    uint32_t errors = 0; // SERIAL_ERR_* raised since the last fetch
    uint32_t queued = 0; // bytes waiting in the input queue
};

enum class SerialWait { Event, Cancelled, Failed };

// An open serial port. Move is not offered: the object is shared by the
// threads of a relay and must stay where it is while they run. The
// destructor closes the device.
class SerialPort {
public:
    SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort();

    // Opens the named port ("COM3") exclusively for reading and writing.
    // False when the name maps to no device, the device does not open or
    // another holder has it.
    bool open(const std::string& name);
    bool is_open() const;

    // Driver queue sizes (SetupComm); POSIX accepts any size.
    bool set_queue_sizes(uint32_t input, uint32_t output);
    // Read-modify-write of the line settings: the baud rate, 8 data bits,
    // parity, stop bits and flow control from a serial_line_flags word, DTR
    // on, raw bytes. False when the driver refuses them, including a baud
    // rate of 0 or below.
    bool apply_line_settings(long baud, int flags);
    // Discards pending reads and the input queue (what the board sent
    // before the port was opened). Output is never discarded here.
    bool purge_input();
    // Raises DTR at open (EscapeCommFunction SETDTR).
    bool raise_dtr();
    // Sets the DTR control of the line settings on or off.
    bool set_dtr(bool on);

    // Line control while the port is open, one setting at a time; the
    // others stay as they are. Each answers false when the driver refuses
    // (or the device cannot do it); settings() then tells what is in force.
    // POSIX: one RTS/CTS handshake serves both directions, so hardware
    // flow set or cleared for one direction is so for the other; one and a
    // half stop bits exist only with 5 data bits (two stop bits there), and
    // settings() reports two stop bits with 5 data bits as one and a half.
    bool settings(SerialSettings& out);
    bool set_baud_rate(long baud);
    bool set_data_bits(int bits); // 5 to 8
    bool set_parity(SerialParity parity);
    bool set_stop_bits(SerialStopBits stop);
    bool set_outbound_flow(SerialFlow flow);
    bool set_inbound_flow(SerialFlow flow);
    // RTS on or off (refused while the RTS/CTS handshake drives it), and a
    // break held on the line until it is cleared.
    bool set_rts(bool on);
    bool set_break(bool on);
    bool control_lines(SerialControl& out);
    // Discards what the board sent and is still queued (input) and what is
    // queued for the board (output).
    bool purge(bool input, bool output);
    // The modem status lines now (SERIAL_MODEM_*); none on a device without
    // modem lines. False when the port cannot be asked.
    bool modem_lines(uint32_t& lines);
    // How changes of the modem lines are learnt, as far as the open device
    // tells (see SerialModemWatch).
    SerialModemWatch modem_watch() const;

    // Fetches and clears the error flags, with the count of queued input.
    // False when the port cannot be asked (a device gone, a closed port).
    bool fetch_status(SerialStatus& status);

    // Fetches and clears the error flags where the driver keeps them; a
    // device that keeps none (a pseudo-terminal) answers 0 without being
    // asked. False when the port cannot be asked.
    bool check_errors(uint32_t& errors);

    // One read of at most n bytes of what is already queued: the count
    // read (0 when nothing is), -1 on failure.
    int read(void* buffer, uint32_t n);
    // The same, with the error flags fetched first as check_errors() does
    // (Windows: together with the count of queued bytes). While they hold a
    // break or a mode error nothing is read and the answer is 0. -1 when
    // the port cannot be asked or the read fails.
    int read_checked(void* buffer, uint32_t n, uint32_t& errors);
    // Writes all n bytes, waiting while the driver is busy or flow control
    // holds the line; a cancel() ends the wait. The count written, -1 on
    // failure or when cancelled before anything was written.
    int write(const void* buffer, uint32_t n);
    // The same, ended early as well once an object of `interrupt` is
    // signalled or, with a timeout_ms of 0 or more, once that time has
    // passed: then the count written so far, 0 included (Windows: the write
    // is cancelled; what the driver took stays taken).
    int write(const void* buffer, uint32_t n, const WakeSet& interrupt, int timeout_ms = -1);
    // What the line needs at its baud rate (serial_line_ms) for `pending`
    // more bytes after the output the driver holds now; -1 when the port
    // cannot tell.
    long long line_time_ms(uint32_t pending);

    // Event waits (the serial-to-socket direction of a relay).
    bool set_event_mask(uint32_t mask);
    // Waits without time limit for the next event of the mask: received
    // data or a line error (POSIX: received data, or the device reporting a
    // hang-up as a failure). Returns Cancelled at once while a cancel()
    // holds.
    SerialWait wait_event();
    // The same, with the events of the mask that ended it (Windows: as the
    // driver reports them; POSIX: SERIAL_EV_RXCHAR, data are waiting).
    SerialWait wait_event(uint32_t& events);
    // Ends a wait_event() pending in another thread, or the next one, once:
    // it returns Event with no events. Writes are not disturbed. Safe from
    // any thread while the port is open.
    void wake_event_wait();
    // Ends a wait_event() or write() pending in another thread and makes
    // every later one return at once, until resume(). Safe from any thread
    // while the port is open; the relay calls it before it joins its
    // threads and closes the port.
    void cancel();
    void resume();

    // Lets queued output go out on the line first, for as long as
    // serial_drain_limit_ms() allows, then drops the exclusive hold and
    // closes. Safe to repeat.
    void close();

private:
    struct State; // per platform; made by the constructor, kept while the port object lives
    std::unique_ptr<State> state_;
};

} // namespace port
