// COM names on Windows: the device namespace path of the name itself.

#include "port/serial_names.h"

#include <windows.h>

namespace port {

std::string serial_device_path(const std::string& name)
{
    if (name.empty())
        return {};
    return "\\\\.\\" + name;
}

bool device_name_is_directory(const std::string& name)
{
    DWORD attributes = GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace port
