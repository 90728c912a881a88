// The autostart entry: a value in the machine-wide Run key.

#include "port/autostart.h"

#include <windows.h>

namespace port {

void set_autostart(const std::string& name, const std::string& program, bool enabled)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (enabled)
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                       static_cast<DWORD>(program.size() + 1));
    else
        RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

} // namespace port
