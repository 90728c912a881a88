#pragma once
// Whether a serial port of a "COM%d" name is present, without opening it.
// Windows: GetDefaultCommConfigA. POSIX: the device node the name maps to
// (port/serial_names.h) must be a character device that is really there: a
// port the serial core knows with a UART type other than "unknown", another
// tty with a hardware device behind it (USB adapters), or a pseudo-terminal
// (a symlink in the device-map folder counts by its target).

#include <string>

namespace port {

bool serial_port_present(const std::string& name);

} // namespace port
