// The autostart entry: a value in the machine-wide Run key, or in the
// user's own where the machine-wide key may not be written (a standard
// user without elevation).

#include "port/autostart.h"

#include <windows.h>

namespace port {
namespace {

constexpr const char* RUN_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The Run key of the root, for writing; null when it may not be.
HKEY open_run(HKEY root)
{
    HKEY key = nullptr;
    const LONG r = root == HKEY_CURRENT_USER
                       ? RegCreateKeyExA(root, RUN_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr)
                       : RegOpenKeyExA(root, RUN_KEY, 0, KEY_WRITE, &key);
    return r == ERROR_SUCCESS ? key : nullptr;
}

bool set_value(HKEY root, const std::string& name, const std::string& program)
{
    HKEY key = open_run(root);
    if (!key)
        return false;
    const bool ok = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                                   static_cast<DWORD>(program.size() + 1))
                    == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void delete_value(HKEY root, const std::string& name)
{
    if (HKEY key = open_run(root)) {
        RegDeleteValueA(key, name.c_str());
        RegCloseKey(key);
    }
}

} // namespace

void set_autostart(const std::string& name, const std::string& program, bool enabled)
{
    if (!enabled) {
        delete_value(HKEY_LOCAL_MACHINE, name);
        delete_value(HKEY_CURRENT_USER, name);
        return;
    }
    // With the machine-wide value the user's own would start the program
    // a second time.
    if (set_value(HKEY_LOCAL_MACHINE, name, program))
        delete_value(HKEY_CURRENT_USER, name);
    else
        set_value(HKEY_CURRENT_USER, name, program);
}

} // namespace port
