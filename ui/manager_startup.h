#pragma once

// The manager's start-up: the single-instance rule, the manager-wide values
// and the main window, run until it closes. Each front end (ui/qt,
// ui/win32) provides it.
void managerStartup(int argc, char** argv);
