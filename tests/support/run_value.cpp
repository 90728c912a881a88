#include "support/run_value.h"

#include <windows.h>

namespace support {

namespace {
constexpr const char* RUN_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
}

std::optional<RunValue> read_run_value(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    return RunValue{type, std::string(data, size)};
}

void write_run_value(const char* name, const std::optional<std::string>& text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_KEY, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (text)
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                       static_cast<DWORD>(text->size() + 1));
    else
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

} // namespace support
