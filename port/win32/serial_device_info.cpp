// What a COM name reaches on Windows: its device path, nothing more.

#include "port/serial_names.h"

namespace port {

SerialDeviceInfo serial_device_info(const std::string& name)
{
    return {serial_device_path(name), {}};
}

} // namespace port
