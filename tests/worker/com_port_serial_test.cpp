// An RFC 2217 client's line control carried out on a real pseudo-terminal:
// the engine over com_port_serial over port::SerialPort. The answers are
// what the terminal keeps, which its termios (seen from the board side)
// shows: a rate, stop bits, flow control, but neither a data size other
// than 8 nor parity.

#include "worker/com_port_serial.h"

#include "support/board.h"
#include "support/device_map.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <string>

namespace {

using bytes = std::string;

bytes sub(int code, const bytes& value = {})
{
    bytes out = {'\xff', '\xfa', static_cast<char>(TELNET_OPT_COM_PORT), static_cast<char>(code)};
    for (char c : value) {
        out.push_back(c);
        if (c == '\xff')
            out.push_back(c);
    }
    return out + "\xff\xf0";
}

bytes answer(int code, const bytes& value) { return sub(code + COM_PORT_SERVER_OFFSET, value); }

struct Sink : telnet_sink {
    bytes board, client;
    void to_board(const uint8_t* d, size_t n) override { board.append(reinterpret_cast<const char*>(d), n); }
    void to_client(const uint8_t* d, size_t n) override { client.append(reinterpret_cast<const char*>(d), n); }
};

} // namespace

TEST(ComPortSerial, AClientsLineControlOnAPseudoTerminal)
{
    support::ScopedEnv no_log{"VANTREL_DTR_LOG", std::nullopt};
    support::DeviceMap devices{false};
    support::Board board;
    ASSERT_TRUE(board.valid());
    devices.map("COM4", board.slave());
    port::SerialPort serial;
    ASSERT_TRUE(serial.open("COM4"));
    ASSERT_TRUE(serial.apply_line_settings(9600, 0));
    com_port_serial line{serial};
    Sink sink;
    telnet_com_port engine{line, sink};
    engine.start();
    bytes agree = "\xff\xfb,"; // WILL COM-PORT
    engine.from_client(reinterpret_cast<uint8_t*>(agree.data()), agree.size());
    EXPECT_EQ(sink.client.substr(sink.client.size() - 7), answer(7, bytes(1, '\0'))) << "no modem lines on a pty";

    auto termios_now = [&] {
        termios2 t{};
        EXPECT_EQ(ioctl(board.fd(), TCGETS2, &t), 0);
        return t;
    };
    struct Case {
        bytes command, reply;
        unsigned speed;
        tcflag_t cflag_set, cflag_clear;
    } cases[] = {
        {sub(1, bytes("\0\0\xe1\0", 4)), answer(1, bytes("\0\0\xe1\0", 4)), 57600, 0, 0},
        {sub(4, "\x02"), answer(4, "\x02"), 57600, CSTOPB, 0},
        {sub(1, bytes("\0\1\xc2\0", 4)), answer(1, bytes("\0\1\xc2\0", 4)), 115200, CSTOPB, 0},
        {sub(4, "\x01"), answer(4, "\x01"), 115200, 0, CSTOPB},
        {sub(2, "\x07"), answer(2, "\x08"), 115200, CS8, 0},          // the terminal keeps 8
        {sub(3, "\x03"), answer(3, "\x01"), 115200, 0, PARENB},       // and no parity
        {sub(5, "\x03"), answer(5, "\x03"), 115200, CRTSCTS, 0},      // hardware flow
        {sub(5, "\x10"), answer(5, "\x10"), 115200, CRTSCTS, 0},      // inbound: the same handshake
        {sub(5, "\x01"), answer(5, "\x01"), 115200, 0, CRTSCTS},
        {sub(5, "\x0c"), answer(5, "\x0c"), 115200, 0, 0},            // RTS off, read back
        {sub(5, "\x05"), answer(5, "\x05"), 115200, 0, 0},            // break on
        {sub(5, "\x06"), answer(5, "\x06"), 115200, 0, 0},
        {sub(1, bytes(4, '\0')), answer(1, bytes("\0\1\xc2\0", 4)), 115200, 0, 0}, // query
    };
    for (const Case& c : cases) {
        sink.client.clear();
        bytes in = c.command;
        engine.from_client(reinterpret_cast<uint8_t*>(in.data()), in.size());
        EXPECT_EQ(sink.client, c.reply) << testing::PrintToString(c.command);
        termios2 t = termios_now();
        EXPECT_EQ(t.c_ospeed, c.speed) << testing::PrintToString(c.command);
        EXPECT_EQ(t.c_cflag & c.cflag_set, c.cflag_set) << testing::PrintToString(c.command);
        EXPECT_EQ(t.c_cflag & c.cflag_clear, 0u) << testing::PrintToString(c.command);
    }
    // Data after the commands reaches the board's sink intact.
    bytes data = "ok\xff\xff";
    engine.from_client(reinterpret_cast<uint8_t*>(data.data()), data.size());
    EXPECT_EQ(sink.board, "ok\xff");
}

TEST(ComPortSerial, ModemLinesAndLineErrorsInTheEnginesNumbering)
{
    struct Case {
        uint32_t serial;
        uint8_t engine;
    };
    const Case lines[] = {
        {port::SERIAL_MODEM_CTS, COM_MODEM_CTS},
        {port::SERIAL_MODEM_DSR | port::SERIAL_MODEM_CD, COM_MODEM_DSR | COM_MODEM_CD},
        {port::SERIAL_MODEM_RING, COM_MODEM_RI},
        {0x0f, 0},
    };
    for (const Case& c : lines)
        EXPECT_EQ(com_port_modem_lines(c.serial), c.engine) << c.serial;
    const Case errors[] = {
        {port::SERIAL_ERR_BREAK | port::SERIAL_ERR_FRAME, COM_LINE_BREAK | COM_LINE_FRAMING},
        {port::SERIAL_ERR_PARITY, COM_LINE_PARITY},
        {port::SERIAL_ERR_OVERRUN, COM_LINE_OVERRUN},
        {port::SERIAL_ERR_RXOVER, COM_LINE_OVERRUN},
        {port::SERIAL_ERR_MODE, 0},
    };
    for (const Case& c : errors)
        EXPECT_EQ(com_port_line_errors(c.serial), c.engine) << c.serial;
}
