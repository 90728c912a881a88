#include "support/device_map.h"

namespace fs = std::filesystem;

namespace support {

DeviceMap::DeviceMap(bool hide_machine_ports) : env_("VANTREL_DEVICE_DIR", dir_.path().string())
{
    if (hide_machine_ports)
        for (int n = 1; n <= 96; ++n)
            map("COM" + std::to_string(n), "/nonexistent/vantrel-device");
}

void DeviceMap::map(const std::string& name, const std::string& target)
{
    const std::string link = path(name);
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(target, link);
}

} // namespace support
