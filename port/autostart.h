#pragma once
// The machine-wide entry that starts a program, without arguments, when a
// user logs on. Windows: the value `name` (REG_SZ, the plain path) under
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run; where
// that key may not be written (a standard user), the same value under
// HKEY_CURRENT_USER, for that user only.
// POSIX: the desktop entry `name`.desktop in the system autostart folder,
// /etc/xdg/autostart ($VANTREL_AUTOSTART_DIR instead, for tests). Where that
// cannot be written, the entry goes to the user's own autostart folder,
// $XDG_CONFIG_HOME/autostart (default ~/.config/autostart), and starts the
// program for that user only. Removing takes the entry out of both places;
// creating it in the machine-wide place removes the user's copy, which
// would otherwise hide it with whatever it held before (POSIX) or start the
// program a second time (Windows).

#include <string>

namespace port {

// Creates or replaces (enabled) or removes the entry. Failures are silent;
// removing an entry that is not there is no error.
void set_autostart(const std::string& name, const std::string& program, bool enabled);

} // namespace port
