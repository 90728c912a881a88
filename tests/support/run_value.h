#pragma once
// Windows: the values under the machine's Run key, where the autostart
// entry lives, read and written as they are stored.

#include <optional>
#include <string>

namespace support {

struct RunValue {
    unsigned long type = 0; // REG_SZ for a string
    std::string bytes;      // as stored, a string's terminating zero included
};

// The value under HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run, or
// nothing when there is none.
std::optional<RunValue> read_run_value(const char* name);
// Stores the string (REG_SZ, with its terminating zero), or deletes the
// value when there is none.
void write_run_value(const char* name, const std::optional<std::string>& text);

} // namespace support
