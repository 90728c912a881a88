#include "port/serial_names.h"

namespace port {

std::string serial_device_path(const std::string& name)
{
    if (name.empty())
        return {};
    return "\\\\.\\" + name;
}

} // namespace port
