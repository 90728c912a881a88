// What a COM name reaches on Linux: its device with the links followed,
// and the /dev/serial/by-id links to the same device.

#include "port/serial_names.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace port {

namespace {

std::string by_id_dir()
{
    const char* dir = std::getenv("VANTREL_BY_ID_DIR");
    return dir && *dir ? dir : "/dev/serial/by-id";
}

} // namespace

SerialDeviceInfo serial_device_info(const std::string& name)
{
    namespace fs = std::filesystem;
    SerialDeviceInfo info;
    const std::string path = serial_device_path(name);
    if (path.empty())
        return info;
    std::error_code error;
    const fs::path device = fs::canonical(path, error);
    info.device = error ? path : device.string();
    if (error)
        return info;
    // Bounded: a folder of links, one per adapter.
    int turns = 0;
    for (fs::directory_iterator it(by_id_dir(), error), end; !error && it != end && turns < 4096;
         it.increment(error), ++turns) {
        std::error_code broken;
        if (fs::canonical(it->path(), broken) == device && !broken)
            info.stable_names.push_back(it->path().string());
    }
    std::sort(info.stable_names.begin(), info.stable_names.end());
    return info;
}

} // namespace port
