// Serial ports on Linux: the tty device held exclusively, raw termios,
// non-blocking transfers with poll() waits that a cancel or a wake set ends,
// the error counters, the DTR test seam.

#include "port/serial.h"
#include "port/serial_names.h"
#include "port/posix/deadline.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace port {

bool set_custom_baud(int fd, long baud); // serial_baud.cpp
long current_baud(int fd);               // serial_baud.cpp

namespace {

// A write here returns once the bytes are in the driver's output queue,
// where a Windows serial write completes only when they have gone out. So
// that closing loses nothing a client sent, let the queue empty first, for
// as long as the line needs for it at its baud rate. What a line held by
// flow control has not taken by then is dropped, so that the close does
// not wait for it for the driver's own closing time (half a minute). A
// pseudo-terminal never reports a queue: what it holds stays for the other
// side to read.
void drain_output(int fd, long baud)
{
    constexpr int step_ms = 5;
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
        return;
    const Deadline deadline(serial_drain_limit_ms(static_cast<uint64_t>(queued), baud));
    for (;;) {
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return;
        int left = deadline.poll_timeout();
        if (left == 0)
            break;
        ::poll(nullptr, 0, std::min(left, step_ms));
    }
    tcflush(fd, TCOFLUSH);
}

speed_t standard_speed(long baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

// The test seam: one line per change of DTR (no name), RTS or break when
// VANTREL_DTR_LOG names a file.
void log_change(bool on, const char* line_name = nullptr)
{
    const char* path = std::getenv("VANTREL_DTR_LOG");
    if (!path || !*path)
        return;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char line[48];
    int n = std::snprintf(line, sizeof line, "%lld %d%s%s\n",
                          static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000, on ? 1 : 0,
                          line_name ? " " : "", line_name ? line_name : "");
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t w = ::write(fd, line, n);
    (void)w;
    ::close(fd);
}

// A modem-control ioctl that a line without modem control (a
// pseudo-terminal) refuses as not its kind: the change counts as made.
bool modem_control(int fd, unsigned long request, int bits)
{
    return ::ioctl(fd, request, &bits) == 0 || errno == EINVAL || errno == ENOTTY;
}

// Read-modify-write of the termios in force. False also when the device
// kept only part of it (the C library checks the data size and parity it
// asked for, which a pseudo-terminal does not keep).
template <typename Change>
bool change_termios(int fd, Change change)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    if (!change(t))
        return false;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Asks the driver for low latency; true when it was off and is now on, so
// that close() puts it back. A device without the setting answers false.
bool request_low_latency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void release_low_latency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || !(serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}

} // namespace

struct SerialPort::State {
    int fd = -1;
    int wake = -1;             // an eventfd that cancel() makes readable
    int poke = -1;             // an eventfd that wake_event_wait() makes readable, read by wait_event()
    std::atomic<bool> cancelled{false};
    uint32_t event_mask = 0;
    long baud = 0;             // the line's rate, for the drain at close
    std::mutex status_lock;    // guards the driver counters below
    uint32_t counters[5] = {}; // the last TIOCGICOUNT (brk, frame, overrun, parity, buf_overrun)
    bool have_counters = false;
    bool have_modem_lines = false; // TIOCMGET answered at open
    // Line control: what was last set where the driver cannot tell, and
    // whether open() turned low latency on.
    bool rts = true;
    bool break_on = false;
    bool dtr = true;
    bool low_latency_set = false;
};

SerialPort::SerialPort() : state_(std::make_unique<State>()) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::string& name)
{
    close();
    std::string path = serial_device_path(name);
    if (path.empty())
        return false;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // TIOCEXCL keeps out other openers (but not root); the lock keeps out
    // every other holder that asks for it, this library included.
    if (!isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int poke = wake < 0 ? -1 : ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (poke < 0) {
        if (wake >= 0)
            ::close(wake);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    State& s = *state_;
    s.fd = fd;
    s.wake = wake;
    s.poke = poke;
    s.cancelled = false;
    s.event_mask = 0;
    s.baud = 0;
    serial_icounter_struct c{};
    s.have_counters = ::ioctl(fd, TIOCGICOUNT, &c) == 0;
    s.counters[0] = c.brk;
    s.counters[1] = c.frame;
    s.counters[2] = c.overrun;
    s.counters[3] = c.parity;
    s.counters[4] = c.buf_overrun;
    s.rts = true;
    s.dtr = true;
    s.break_on = false;
    int modem = 0;
    s.have_modem_lines = ::ioctl(fd, TIOCMGET, &modem) == 0;
    s.low_latency_set = request_low_latency(fd);
    return true;
}

bool SerialPort::is_open() const { return state_->fd != -1; }

bool SerialPort::set_queue_sizes(uint32_t, uint32_t) { return is_open(); }

bool SerialPort::apply_line_settings(long baud, int flags)
{
    if (baud <= 0 || baud > INT_MAX)
        return false;
    int fd = state_->fd;
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (flags & SERIAL_LINE_PARITY)
        t.c_cflag |= (flags & SERIAL_LINE_ODD) ? PARENB | PARODD : PARENB;
    if (flags & SERIAL_LINE_TWO_STOP)
        t.c_cflag |= CSTOPB;
    if (flags & SERIAL_LINE_RTSCTS)
        t.c_cflag |= CRTSCTS;
    if (flags & SERIAL_LINE_XONXOFF)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    speed_t speed = standard_speed(baud);
    if (speed != B0 && (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0))
        return false;
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    if (speed == B0 && !set_custom_baud(fd, baud))
        return false;
    state_->baud = baud;
    return true;
}

bool SerialPort::purge_input() { return is_open() && tcflush(state_->fd, TCIFLUSH) == 0; }

bool SerialPort::raise_dtr() { return set_dtr(true); }

bool SerialPort::set_dtr(bool on)
{
    if (!is_open())
        return false;
    int bit = TIOCM_DTR;
    if (::ioctl(state_->fd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0 && errno != EINVAL &&
        errno != ENOTTY)
        return false; // a line without modem control (a pseudo-terminal) takes any change
    state_->dtr = on;
    log_change(on);
    return true;
}

bool SerialPort::settings(SerialSettings& out)
{
    termios t{};
    if (!is_open() || tcgetattr(state_->fd, &t) != 0)
        return false;
    out.baud = current_baud(state_->fd);
    switch (t.c_cflag & CSIZE) {
    case CS5: out.data_bits = 5; break;
    case CS6: out.data_bits = 6; break;
    case CS7: out.data_bits = 7; break;
    default: out.data_bits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        out.parity = SerialParity::None;
    else if (t.c_cflag & CMSPAR)
        out.parity = (t.c_cflag & PARODD) ? SerialParity::Mark : SerialParity::Space;
    else
        out.parity = (t.c_cflag & PARODD) ? SerialParity::Odd : SerialParity::Even;
    if (!(t.c_cflag & CSTOPB))
        out.stop_bits = SerialStopBits::One;
    else
        out.stop_bits = out.data_bits == 5 ? SerialStopBits::OneAndHalf : SerialStopBits::Two;
    const bool rtscts = t.c_cflag & CRTSCTS;
    out.outbound = rtscts ? SerialFlow::RtsCts : (t.c_iflag & IXON) ? SerialFlow::XonXoff : SerialFlow::None;
    out.inbound = rtscts ? SerialFlow::RtsCts : (t.c_iflag & IXOFF) ? SerialFlow::XonXoff : SerialFlow::None;
    return true;
}

bool SerialPort::set_baud_rate(long baud)
{
    if (!is_open() || baud <= 0 || baud > INT_MAX)
        return false;
    const int fd = state_->fd;
    const speed_t speed = standard_speed(baud);
    const bool set = speed == B0 ? set_custom_baud(fd, baud) : change_termios(fd, [&](termios& t) {
        return cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0;
    });
    if (!set)
        return false;
    state_->baud = baud;
    return true;
}

bool SerialPort::set_data_bits(int bits)
{
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (!is_open() || bits < 5 || bits > 8)
        return false;
    return change_termios(state_->fd, [&](termios& t) {
        t.c_cflag = (t.c_cflag & ~CSIZE) | sizes[bits - 5];
        return true;
    });
}

bool SerialPort::set_parity(SerialParity parity)
{
    if (!is_open())
        return false;
    return change_termios(state_->fd, [&](termios& t) {
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (parity) {
        case SerialParity::None: break;
        case SerialParity::Odd: t.c_cflag |= PARENB | PARODD; break;
        case SerialParity::Even: t.c_cflag |= PARENB; break;
        case SerialParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SerialParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
        }
        return true;
    });
}

bool SerialPort::set_stop_bits(SerialStopBits stop)
{
    if (!is_open())
        return false;
    return change_termios(state_->fd, [&](termios& t) {
        const bool five = (t.c_cflag & CSIZE) == CS5;
        if ((stop == SerialStopBits::OneAndHalf) != five && stop != SerialStopBits::One)
            return false; // 1.5 only with 5 data bits, where two is 1.5
        if (stop == SerialStopBits::One)
            t.c_cflag &= ~CSTOPB;
        else
            t.c_cflag |= CSTOPB;
        return true;
    });
}

bool SerialPort::set_outbound_flow(SerialFlow flow)
{
    if (!is_open())
        return false;
    return change_termios(state_->fd, [&](termios& t) {
        t.c_iflag = flow == SerialFlow::XonXoff ? t.c_iflag | IXON : t.c_iflag & ~IXON;
        t.c_cflag = flow == SerialFlow::RtsCts ? t.c_cflag | CRTSCTS : t.c_cflag & ~CRTSCTS;
        return true;
    });
}

bool SerialPort::set_inbound_flow(SerialFlow flow)
{
    if (!is_open())
        return false;
    return change_termios(state_->fd, [&](termios& t) {
        t.c_iflag = flow == SerialFlow::XonXoff ? t.c_iflag | IXOFF : t.c_iflag & ~IXOFF;
        t.c_cflag = flow == SerialFlow::RtsCts ? t.c_cflag | CRTSCTS : t.c_cflag & ~CRTSCTS;
        return true;
    });
}

bool SerialPort::set_rts(bool on)
{
    if (!is_open() || !modem_control(state_->fd, on ? TIOCMBIS : TIOCMBIC, TIOCM_RTS))
        return false;
    state_->rts = on;
    log_change(on, "RTS");
    return true;
}

bool SerialPort::set_break(bool on)
{
    if (!is_open() || ::ioctl(state_->fd, on ? TIOCSBRK : TIOCCBRK) != 0)
        return false;
    state_->break_on = on;
    log_change(on, "BREAK");
    return true;
}

bool SerialPort::control_lines(SerialControl& out)
{
    if (!is_open())
        return false;
    const State& s = *state_;
    int bits = 0;
    const bool asked = ::ioctl(s.fd, TIOCMGET, &bits) == 0;
    out.dtr = asked ? (bits & TIOCM_DTR) != 0 : s.dtr;
    out.rts = asked ? (bits & TIOCM_RTS) != 0 : s.rts;
    out.break_on = s.break_on;
    return true;
}

bool SerialPort::purge(bool input, bool output)
{
    if (!is_open())
        return false;
    if (!input && !output)
        return true;
    return tcflush(state_->fd, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH) == 0;
}

bool SerialPort::modem_lines(uint32_t& lines)
{
    lines = 0;
    if (!is_open())
        return false;
    int bits = 0;
    if (::ioctl(state_->fd, TIOCMGET, &bits) != 0)
        return errno == EINVAL || errno == ENOTTY; // no modem lines
    if (bits & TIOCM_CTS)
        lines |= SERIAL_MODEM_CTS;
    if (bits & TIOCM_DSR)
        lines |= SERIAL_MODEM_DSR;
    if (bits & TIOCM_RNG)
        lines |= SERIAL_MODEM_RING;
    if (bits & TIOCM_CAR)
        lines |= SERIAL_MODEM_CD;
    return true;
}

SerialModemWatch SerialPort::modem_watch() const
{
    return is_open() && state_->have_modem_lines ? SerialModemWatch::Polling : SerialModemWatch::None;
}

bool SerialPort::fetch_status(SerialStatus& status)
{
    if (!is_open())
        return false;
    State& s = *state_;
    int queued = 0;
    if (::ioctl(s.fd, FIONREAD, &queued) != 0)
        return false;
    status.queued = queued > 0 ? static_cast<uint32_t>(queued) : 0;
    return check_errors(status.errors);
}

bool SerialPort::check_errors(uint32_t& errors)
{
    errors = 0;
    if (!is_open())
        return false;
    State& s = *state_;
    // Whether the driver keeps counters was learnt at open: a device that
    // refused then is not asked again.
    if (!s.have_counters)
        return true;
    std::lock_guard lock(s.status_lock);
    serial_icounter_struct c{};
    if (::ioctl(s.fd, TIOCGICOUNT, &c) != 0)
        return true;
    const uint32_t now[5] = {static_cast<uint32_t>(c.brk), static_cast<uint32_t>(c.frame),
                             static_cast<uint32_t>(c.overrun), static_cast<uint32_t>(c.parity),
                             static_cast<uint32_t>(c.buf_overrun)};
    const uint32_t flag[5] = {SERIAL_ERR_BREAK, SERIAL_ERR_FRAME, SERIAL_ERR_OVERRUN, SERIAL_ERR_PARITY,
                              SERIAL_ERR_RXOVER};
    for (int i = 0; i < 5; ++i) {
        if (now[i] != s.counters[i])
            errors |= flag[i];
        s.counters[i] = now[i];
    }
    return true;
}

int SerialPort::read_checked(void* buffer, uint32_t n, uint32_t& errors)
{
    if (!check_errors(errors))
        return -1;
    if (errors & (SERIAL_ERR_BREAK | SERIAL_ERR_MODE))
        return 0;
    // A non-blocking read takes only what is queued: no count needed.
    return read(buffer, n);
}

int SerialPort::read(void* buffer, uint32_t n)
{
    if (!is_open())
        return -1;
    if (n == 0)
        return 0;
    for (;;) {
        ssize_t r = ::read(state_->fd, buffer, n);
        if (r >= 0)
            return static_cast<int>(r);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

int SerialPort::write(const void* buffer, uint32_t n)
{
    return write(buffer, n, WakeSet{});
}

int SerialPort::write(const void* buffer, uint32_t n, const WakeSet& interrupt, int timeout_ms)
{
    if (!is_open())
        return -1;
    const Deadline deadline(timeout_ms);
    const char* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        ssize_t r = ::write(state_->fd, p + done, n - done);
        if (r > 0) {
            done += static_cast<uint32_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return done ? static_cast<int>(done) : -1;
        // The driver's queue is full or flow control holds the line: wait
        // for room or for a cancel.
        if (state_->cancelled)
            return done ? static_cast<int>(done) : -1;
        pollfd p2[2 + WakeSet::CAPACITY] = {{state_->fd, POLLOUT, 0}, {state_->wake, POLLIN, 0}};
        for (int i = 0; i < interrupt.size(); ++i)
            p2[2 + i] = {static_cast<int>(interrupt[i]), POLLIN, 0};
        const int ready = ::poll(p2, static_cast<nfds_t>(2 + interrupt.size()), deadline.poll_timeout());
        if (ready < 0 && errno != EINTR)
            return done ? static_cast<int>(done) : -1;
        if (ready == 0 && deadline.passed())
            return static_cast<int>(done);
        for (int i = 0; i < interrupt.size(); ++i) {
            if (p2[2 + i].revents)
                return static_cast<int>(done);
        }
    }
    return static_cast<int>(done);
}

long long SerialPort::line_time_ms(uint32_t pending)
{
    int queued = 0;
    if (!is_open() || ::ioctl(state_->fd, TIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    return serial_line_ms(static_cast<uint64_t>(pending) + static_cast<uint64_t>(queued), state_->baud);
}

bool SerialPort::set_event_mask(uint32_t mask)
{
    if (!is_open())
        return false;
    state_->event_mask = mask;
    return true;
}

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
    short wanted = (s.event_mask & (SERIAL_EV_RXCHAR | SERIAL_EV_ERR)) ? POLLIN : 0;
    for (;;) {
        if (s.cancelled)
            return SerialWait::Cancelled;
        pollfd p[3] = {{s.fd, wanted, 0}, {s.wake, POLLIN, 0}, {s.poke, POLLIN, 0}};
        if (::poll(p, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return SerialWait::Failed;
        }
        if (p[1].revents)
            return SerialWait::Cancelled;
        if (p[2].revents) {
            uint64_t value;
            ssize_t r = ::read(s.poke, &value, sizeof value);
            (void)r;
            return SerialWait::Event;
        }
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The other end hung up or the device went away: what is still
            // queued can be read, then the wait fails.
            int queued = 0;
            bool pending = ::ioctl(s.fd, FIONREAD, &queued) == 0 && queued > 0;
            events = pending ? uint32_t{SERIAL_EV_RXCHAR} : 0u;
            return pending ? SerialWait::Event : SerialWait::Failed;
        }
        if (p[0].revents & POLLIN) {
            events = SERIAL_EV_RXCHAR;
            return SerialWait::Event;
        }
    }
}

void SerialPort::wake_event_wait()
{
    if (state_->poke != -1) {
        uint64_t one = 1;
        ssize_t w = ::write(state_->poke, &one, sizeof one);
        (void)w;
    }
}

void SerialPort::cancel()
{
    state_->cancelled = true;
    if (state_->wake != -1) {
        uint64_t one = 1;
        ssize_t w = ::write(state_->wake, &one, sizeof one);
        (void)w;
    }
}

void SerialPort::resume()
{
    state_->cancelled = false;
    if (state_->wake != -1) {
        uint64_t value;
        ssize_t r = ::read(state_->wake, &value, sizeof value);
        (void)r;
    }
}

void SerialPort::close()
{
    State& s = *state_;
    if (s.fd != -1) {
        drain_output(s.fd, s.baud);
        if (s.low_latency_set)
            release_low_latency(s.fd);
        s.low_latency_set = false;
        ::ioctl(s.fd, TIOCNXCL);
        ::close(s.fd);
        s.fd = -1;
    }
    if (s.wake != -1) {
        ::close(s.wake);
        s.wake = -1;
    }
    if (s.poke != -1) {
        ::close(s.poke);
        s.poke = -1;
    }
}

} // namespace port
