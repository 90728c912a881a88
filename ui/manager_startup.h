#pragma once

// The manager's start-up: the single-instance rule, the manager-wide values
// and the main window, run until it closes. Each front end (ui/qt,
// ui/win32) provides it. Returns the process's exit code: 0, or 1 when no
// display can be opened for the window.
int managerStartup(int argc, char** argv);
