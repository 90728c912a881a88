// Serial port presence without opening the port: opening a real port would
// raise its modem lines and disturb the board behind it.

#include "port/serial_probe.h"

#include "port/serial_names.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace port {
namespace {

// Unix 98 pseudo-terminal slaves.
constexpr unsigned PTY_SLAVE_MAJOR_FIRST = 136;
constexpr unsigned PTY_SLAVE_MAJOR_LAST = 143;

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

bool serial_port_present(const std::string& name)
{
    std::string path = serial_device_path(name);
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    unsigned major_number = major(st.st_rdev);
    if (major_number >= PTY_SLAVE_MAJOR_FIRST && major_number <= PTY_SLAVE_MAJOR_LAST)
        return true;

    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return false;
    std::string base = resolved;
    base = base.substr(base.rfind('/') + 1);
    std::string sys = "/sys/class/tty/" + base;
    if (!exists(sys))
        return false;
    // A port of the serial core: the kernel makes ttyS nodes for every
    // possible port, and only those with a UART behind them have a type
    // other than 0 ("unknown").
    std::ifstream type(sys + "/type");
    if (type) {
        int uart = 0;
        type >> uart;
        return uart != 0;
    }
    // Other terminals count with a hardware device behind them (USB serial
    // adapters, modems); virtual consoles have none.
    return exists(sys + "/device");
}

} // namespace port
