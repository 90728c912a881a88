// One client connection of an RFC 2217 service (see the header).

#include "worker/com_port_session.h"

#include <utility>

com_port_session::com_port_session(port::SerialPort& serial, client_writer write_client, int block_size)
    : serial_(serial), line_(serial), engine_(line_, *this), write_client_(std::move(write_client)),
      encoded_(telnet_com_port::encoded_size_max(static_cast<size_t>(block_size))),
      polled_(serial.modem_watch() == port::SerialModemWatch::Polling)
{
    if (polled_)
        serial_.modem_lines(polled_lines_);
}

bool com_port_session::poll_modem_lines()
{
    uint32_t lines = 0;
    if (!serial_.modem_lines(lines) || lines == polled_lines_)
        return false;
    polled_lines_ = lines;
    modem_report_due_.store(true);
    return true;
}

uint32_t com_port_session::event_mask() const
{
    const bool events = serial_.modem_watch() == port::SerialModemWatch::Events;
    return port::SERIAL_EV_RXCHAR | port::SERIAL_EV_ERR | (events ? port::SERIAL_EV_MODEM : 0u);
}

void com_port_session::from_client(char* data, int size, const board_writer& to_board)
{
    board_ = &to_board;
    board_stopped_ = false;
    engine_.from_client(reinterpret_cast<uint8_t*>(data), static_cast<size_t>(size));
    board_ = nullptr;
}

bool com_port_session::from_board(const char* data, int size)
{
    const size_t n = engine_.to_client(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(size),
                                       encoded_.data());
    return write_to_client(reinterpret_cast<const char*>(encoded_.data()), static_cast<int>(n));
}

bool com_port_session::wait_while_suspended(const port::WakeSet& ending)
{
    // Reset before the look, so that a resume between the two still wakes
    // the wait.
    while (engine_.suspended()) {
        resumed_event_.reset();
        if (!engine_.suspended())
            break;
        port::WakeSet wake = ending;
        wake.add(resumed_event_.native());
        wake.wait(-1);
        if (ending.signalled())
            return false;
    }
    return true;
}

void com_port_session::finish()
{
    port::SerialControl lines;
    if (serial_.control_lines(lines) && lines.break_on)
        serial_.set_break(false);
}

void com_port_session::to_board(const uint8_t* data, size_t size)
{
    if (board_ && !board_stopped_)
        board_stopped_ = !(*board_)(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

void com_port_session::to_client(const uint8_t* data, size_t size)
{
    write_to_client(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

bool com_port_session::write_to_client(const char* data, int size)
{
    if (client_failed_.load())
        return false;
    std::lock_guard lock(client_lock_);
    if (!write_client_(data, size)) {
        client_failed_.store(true);
        return false;
    }
    return true;
}

void com_port_session::modem_watch_changed(bool wanted)
{
    // Stored before the event is set: the relay resets the event first,
    // then asks.
    if (modem_wanted_.exchange(wanted) != wanted && polled_)
        watch_event_.set();
}
