#pragma once
// The serial line of an RFC 2217 service: the Telnet engine's line-control
// calls (telnet_com_port.h) carried out on an open port::SerialPort, and
// the port's modem lines and line errors in the engine's numbering.

#include "port/serial.h"
#include "worker/telnet_com_port.h"

class com_port_serial : public com_port_line {
public:
    // The port stays the caller's and must outlive this object.
    explicit com_port_serial(port::SerialPort& serial) : serial_(serial) {}

    void set_baud_rate(uint32_t baud) override;
    uint32_t baud_rate() override;
    void set_data_size(int bits) override;
    int data_size() override;
    void set_parity(com_parity parity) override;
    com_parity parity() override;
    void set_stop_bits(com_stop_bits stop) override;
    com_stop_bits stop_bits() override;
    void set_outbound_flow(com_flow flow) override;
    com_flow outbound_flow() override;
    void set_inbound_flow(com_flow flow) override;
    com_flow inbound_flow() override;
    void set_break(bool on) override;
    bool break_on() override;
    void set_dtr(bool on) override;
    bool dtr() override;
    void set_rts(bool on) override;
    bool rts() override;
    void purge(bool input, bool output) override;
    uint8_t modem_lines() override;

private:
    port::SerialSettings settings();
    port::SerialControl control();

    port::SerialPort& serial_;
};

// port::SERIAL_MODEM_* lines as COM_MODEM_* bits; port::SERIAL_ERR_* flags
// as the COM_LINE_* errors of NOTIFY-LINESTATE.
uint8_t com_port_modem_lines(uint32_t serial_lines);
uint8_t com_port_line_errors(uint32_t serial_errors);
