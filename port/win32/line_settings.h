#pragma once
// The line settings of a Windows serial port as the DCB record holds them:
// what apply_line_settings() makes of the record the driver reports, so
// that the line passes every byte unchanged whatever another program left
// on the port.

#include <windows.h>

#include <cstdint>

namespace port {

// Sets the rate, 8 data bits, parity, stop bits and flow control from the
// serial_line_flags word, DTR on, and the fields that would alter or drop
// bytes to what a transparent line needs: binary mode; no DSR sensitivity,
// no DSR flow control, no null stripping, no error character, no abort on
// error; transmission that goes on while this side holds the board with
// XOFF; the standard XON and XOFF characters, and limits of a quarter of
// the input queue (input_queue bytes; 0 when unknown). Every other field
// stays as it was.
void set_transparent_line(DCB& dcb, long baud, int flags, uint32_t input_queue);

} // namespace port
