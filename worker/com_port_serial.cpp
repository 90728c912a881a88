// The Telnet engine's line control on a serial port (see the header).

#include "worker/com_port_serial.h"

namespace {

port::SerialFlow serial_flow(com_flow flow)
{
    switch (flow) {
    case com_flow::xon_xoff: return port::SerialFlow::XonXoff;
    case com_flow::hardware: return port::SerialFlow::RtsCts;
    default: return port::SerialFlow::None;
    }
}

com_flow engine_flow(port::SerialFlow flow)
{
    switch (flow) {
    case port::SerialFlow::XonXoff: return com_flow::xon_xoff;
    case port::SerialFlow::RtsCts: return com_flow::hardware;
    default: return com_flow::none;
    }
}

} // namespace

port::SerialSettings com_port_serial::settings()
{
    port::SerialSettings s;
    serial_.settings(s); // a port that cannot be asked answers the defaults
    return s;
}

port::SerialControl com_port_serial::control()
{
    port::SerialControl c;
    serial_.control_lines(c);
    return c;
}

void com_port_serial::set_baud_rate(uint32_t baud) { serial_.set_baud_rate(static_cast<long>(baud)); }

uint32_t com_port_serial::baud_rate()
{
    const long baud = settings().baud;
    return baud > 0 ? static_cast<uint32_t>(baud) : 0;
}

void com_port_serial::set_data_size(int bits) { serial_.set_data_bits(bits); }

int com_port_serial::data_size() { return settings().data_bits; }

void com_port_serial::set_parity(com_parity parity)
{
    static constexpr port::SerialParity kinds[] = {port::SerialParity::None, port::SerialParity::Odd,
                                                   port::SerialParity::Even, port::SerialParity::Mark,
                                                   port::SerialParity::Space};
    const int index = static_cast<int>(parity) - static_cast<int>(com_parity::none);
    if (index >= 0 && index < 5)
        serial_.set_parity(kinds[index]);
}

com_parity com_port_serial::parity()
{
    switch (settings().parity) {
    case port::SerialParity::Odd: return com_parity::odd;
    case port::SerialParity::Even: return com_parity::even;
    case port::SerialParity::Mark: return com_parity::mark;
    case port::SerialParity::Space: return com_parity::space;
    default: return com_parity::none;
    }
}

void com_port_serial::set_stop_bits(com_stop_bits stop)
{
    serial_.set_stop_bits(stop == com_stop_bits::two            ? port::SerialStopBits::Two
                          : stop == com_stop_bits::one_and_half ? port::SerialStopBits::OneAndHalf
                                                                : port::SerialStopBits::One);
}

com_stop_bits com_port_serial::stop_bits()
{
    switch (settings().stop_bits) {
    case port::SerialStopBits::Two: return com_stop_bits::two;
    case port::SerialStopBits::OneAndHalf: return com_stop_bits::one_and_half;
    default: return com_stop_bits::one;
    }
}

void com_port_serial::set_outbound_flow(com_flow flow) { serial_.set_outbound_flow(serial_flow(flow)); }

com_flow com_port_serial::outbound_flow() { return engine_flow(settings().outbound); }

void com_port_serial::set_inbound_flow(com_flow flow) { serial_.set_inbound_flow(serial_flow(flow)); }

com_flow com_port_serial::inbound_flow() { return engine_flow(settings().inbound); }

void com_port_serial::set_break(bool on) { serial_.set_break(on); }

bool com_port_serial::break_on() { return control().break_on; }

void com_port_serial::set_dtr(bool on) { serial_.set_dtr(on); }

bool com_port_serial::dtr() { return control().dtr; }

void com_port_serial::set_rts(bool on) { serial_.set_rts(on); }

bool com_port_serial::rts() { return control().rts; }

void com_port_serial::purge(bool input, bool output) { serial_.purge(input, output); }

uint8_t com_port_serial::modem_lines()
{
    uint32_t lines = 0;
    serial_.modem_lines(lines);
    return com_port_modem_lines(lines);
}

uint8_t com_port_modem_lines(uint32_t serial_lines)
{
    uint8_t lines = 0;
    if (serial_lines & port::SERIAL_MODEM_CTS)
        lines |= COM_MODEM_CTS;
    if (serial_lines & port::SERIAL_MODEM_DSR)
        lines |= COM_MODEM_DSR;
    if (serial_lines & port::SERIAL_MODEM_RING)
        lines |= COM_MODEM_RI;
    if (serial_lines & port::SERIAL_MODEM_CD)
        lines |= COM_MODEM_CD;
    return lines;
}

uint8_t com_port_line_errors(uint32_t serial_errors)
{
    uint8_t errors = 0;
    if (serial_errors & (port::SERIAL_ERR_OVERRUN | port::SERIAL_ERR_RXOVER))
        errors |= COM_LINE_OVERRUN;
    if (serial_errors & port::SERIAL_ERR_PARITY)
        errors |= COM_LINE_PARITY;
    if (serial_errors & port::SERIAL_ERR_FRAME)
        errors |= COM_LINE_FRAMING;
    if (serial_errors & port::SERIAL_ERR_BREAK)
        errors |= COM_LINE_BREAK;
    return errors;
}
