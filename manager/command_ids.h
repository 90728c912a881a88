#pragma once
// The service commands with the context menu that offers them, and the
// identifiers of the main window's controls. Both windows build their menu
// and buttons from these.

// Context menu item identifiers (9 is not used).
enum ServiceCommand {
    CMD_START_SERVICE = 1,
    CMD_STOP_SERVICE = 2,
    CMD_RESTART_SERVICE = 3,
    CMD_START_ALL = 4,
    CMD_STOP_ALL = 5,
    CMD_RESTART_ALL = 6,
    CMD_ADD_SERVICE = 7,
    CMD_DELETE_SERVICE = 8,
    CMD_REFRESH_PORTS = 10,
    CMD_RESET_COLUMNS = 11,
};

// The service list's context menu, top to bottom, as both windows build it.
// A command of 0 is a separator (its text is null).
struct ServiceMenuItem {
    int command;
    const char* text;
};
inline constexpr ServiceMenuItem serviceMenuItems[] = {
    {CMD_START_SERVICE, "&Start Service"},
    {CMD_STOP_SERVICE, "St&op Service"},
    {CMD_RESTART_SERVICE, "&Restart Service"},
    {0, nullptr},
    {CMD_START_ALL, "Start All Services"},
    {CMD_STOP_ALL, "Stop All Services"},
    {CMD_RESTART_ALL, "Restart All Services"},
    {0, nullptr},
    {CMD_ADD_SERVICE, "&Add Service"},
    {CMD_DELETE_SERVICE, "&Delete Service"},
    {0, nullptr},
    {CMD_REFRESH_PORTS, "Refresh Serial Ports list"},
    {0, nullptr},
    {CMD_RESET_COLUMNS, "Reset Column widths"},
};

// The main window's controls.
enum ButtonId {
    IDC_SERVICE_LIST = 1000,
    IDC_ADD = 1001,
    IDC_DELETE = 1002,
    IDC_START = 1003,
    IDC_STOP = 1004,
    IDC_RESTART = 1005,
    IDC_HELP_BUTTON = 1006,
    IDC_AUTOSTART = 1007,
};

// The buttons whose state follows the selected row; Add and Help are
// always enabled.
inline constexpr ButtonId rowButtons[] = {IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART};
