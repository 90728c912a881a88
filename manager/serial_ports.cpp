// Serial port discovery over the names COM1 to COM256.

#include "manager/serial_ports.h"

#include "port/serial_probe.h"

namespace {

std::string portName(int number)
{
    return "COM" + std::to_string(number);
}

} // namespace

bool serialPortExists(const std::string& name)
{
    return !name.empty() && port::serial_port_present(name);
}

std::string firstSerialPort()
{
    for (int number = 1; number <= HIGHEST_PORT_NUMBER; ++number)
        if (std::string name = portName(number); serialPortExists(name))
            return name;
    return {};
}

bool SerialPortList::refresh()
{
    names_.clear();
    for (int number = 1; number <= HIGHEST_PORT_NUMBER; ++number)
        if (std::string name = portName(number); serialPortExists(name))
            names_.push_back(std::move(name));
    if (names_.empty())
        return false;
    stale_ = false;
    return true;
}
