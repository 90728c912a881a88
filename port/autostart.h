#pragma once
// The machine-wide entry that starts a program, without arguments, when a
// user logs on. Windows: the value `name` (REG_SZ, the plain path) under
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run.
// POSIX: the desktop entry `name`.desktop in the autostart folder under the
// first folder of $XDG_CONFIG_DIRS (default /etc/xdg).

#include <string>

namespace port {

// Creates or replaces (enabled) or removes the entry. Failures are silent;
// removing an entry that is not there is no error.
void set_autostart(const std::string& name, const std::string& program, bool enabled);

} // namespace port
