// Serial port presence as the platform's communications settings know it.

#include "port/serial_probe.h"

#include <windows.h>

namespace port {

bool serial_port_present(const std::string& name)
{
    COMMCONFIG config {};
    DWORD size = sizeof config;
    return GetDefaultCommConfigA(name.c_str(), &config, &size) != 0;
}

} // namespace port
