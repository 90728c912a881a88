// The Windows serial port's line settings: whatever another program left in
// the port's DCB (as "mode COM3: idsr=on" does), the record that the open
// writes back passes every byte unchanged. Wine keeps none of these fields
// on a port, so the record is checked as it is made.

#include "port/serial.h"
#include "port/win32/line_settings.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(LineSettings, EveryFieldThatWouldAlterOrDropBytesIsMadeTransparent)
{
    const struct {
        int flags;
        BYTE parity;
        BYTE stop_bits;
        bool xon_xoff, rts_cts;
    } cases[] = {
        {0, NOPARITY, ONESTOPBIT, false, false},
        {port::SERIAL_LINE_XONXOFF | port::SERIAL_LINE_TWO_STOP, NOPARITY, TWOSTOPBITS, true, false},
        {port::SERIAL_LINE_RTSCTS | port::SERIAL_LINE_PARITY | port::SERIAL_LINE_ODD, ODDPARITY, ONESTOPBIT, false,
         true},
        {port::SERIAL_LINE_PARITY, EVENPARITY, ONESTOPBIT, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        // Everything set, as a program that wanted the opposite left it.
        DCB dcb;
        std::memset(&dcb, 0xFF, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        dcb.XonChar = 'A';
        dcb.XoffChar = 'B';
        dcb.ErrorChar = '?';
        dcb.EofChar = 'Z';
        port::set_transparent_line(dcb, 115200, c.flags, 1024);

        EXPECT_EQ(dcb.BaudRate, 115200u);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, c.parity);
        EXPECT_EQ(dcb.fParity, c.parity != NOPARITY);
        EXPECT_EQ(dcb.StopBits, c.stop_bits);
        EXPECT_EQ(dcb.fBinary, 1u);
        EXPECT_EQ(dcb.fNull, 0u) << "zero bytes would be dropped";
        EXPECT_EQ(dcb.fErrorChar, 0u) << "bytes with parity errors would be replaced";
        EXPECT_EQ(dcb.fDsrSensitivity, 0u) << "bytes would be dropped while DSR is low";
        EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
        EXPECT_EQ(dcb.fAbortOnError, 0u);
        EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
        EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_EQ(dcb.fOutX, c.xon_xoff ? 1u : 0u);
        EXPECT_EQ(dcb.fInX, c.xon_xoff ? 1u : 0u);
        EXPECT_EQ(dcb.fOutxCtsFlow, c.rts_cts ? 1u : 0u);
        EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(c.rts_cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE));
        EXPECT_EQ(dcb.XonChar, 0x11);
        EXPECT_EQ(dcb.XoffChar, 0x13);
        // Limits within the input queue: flow control stops the board
        // before the queue is full and lets it go again before it is empty.
        EXPECT_GT(dcb.XonLim, 0);
        EXPECT_GT(dcb.XoffLim, 0);
        EXPECT_LT(dcb.XonLim + dcb.XoffLim, 1024);
        // What alters nothing is left alone.
        EXPECT_EQ(dcb.EofChar, 'Z');
    }
}
