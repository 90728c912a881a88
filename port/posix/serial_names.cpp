// COM names on Linux: the device-map folder first, then the names that
// stand for the usual serial devices.

#include "port/serial_names.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace port {
namespace {

std::string device_map_dir()
{
    if (const char* dir = std::getenv("VANTREL_DEVICE_DIR"); dir && *dir)
        return dir;
    const char* config = std::getenv("VANTREL_CONFIG_DIR");
    std::string base = config && *config ? config : "/etc/vantrel";
    return base + "/devices";
}

// The entry of `dir` whose name equals `name` ignoring letter case; one
// spelt exactly so is found without reading the folder (whose reading
// buffer would stay in each worker's memory).
std::string find_entry(const std::string& dir, const std::string& name)
{
    struct stat entry;
    if (std::string exact = dir + "/" + name; ::lstat(exact.c_str(), &entry) == 0)
        return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d)
        return {};
    while (const dirent* e = readdir(d.get())) {
        if (strcasecmp(e->d_name, name.c_str()) == 0)
            return dir + "/" + e->d_name;
    }
    return {};
}

// 1 to 96 for "COMn" in any letter case, else 0.
int builtin_number(const std::string& name)
{
    if (name.size() < 4 || name.size() > 5 || strncasecmp(name.c_str(), "COM", 3) != 0 || name[3] == '0')
        return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n <= 96 ? n : 0;
}

} // namespace

std::string serial_device_path(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    if (std::string mapped = find_entry(device_map_dir(), name); !mapped.empty())
        return mapped;
    int n = builtin_number(name);
    if (n == 0)
        return {};
    static const char families[][12] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
    return families[(n - 1) / 32] + std::to_string((n - 1) % 32);
}

bool device_name_is_directory(const std::string&)
{
    return false;
}

} // namespace port
