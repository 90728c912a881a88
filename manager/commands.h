#pragma once
// Fixed names, texts and numbers of the manager: product strings, the
// service list's columns and value domains, the service commands with their
// menu, and the main window's control identifiers. Both windows show these
// as they are.

#include "manager/about_text.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* PRODUCT_PREFIX = "BRAMBLEVantrelServer"; // mutex, stop events
inline constexpr const char* WINDOW_TITLE = "BRAMBLE Vantrel Server";
inline constexpr const char* PRODUCT_VERSION = "1.0r5";
// The About box shows the same version (its text is one literal for the
// Windows resource script).
static_assert(std::string_view(ABOUT_TITLE_TEXT).ends_with(std::string_view(PRODUCT_VERSION)));
inline constexpr const char* NO_SERIAL_PORTS_TEXT = "No Serial Ports found!";
inline constexpr const char* TRAY_MESSAGE_NAME = "BRAMBLEVantrelServer tray notification";
inline constexpr const char* CONFIG_FILE_NAME = "vantrel.ini";
inline constexpr const char* AUTOSTART_VALUE_NAME = "VantrelServer";

inline constexpr int WORKER_TIMER_ID = 1;
inline constexpr int WORKER_TIMER_PERIOD_MS = 500;
inline constexpr int STOP_TIMEOUT_MS = 10000;
// How long a stop waits for a killed worker before the monitoring pass
// collects it instead.
inline constexpr int KILL_WAIT_MS = 1000;

// Service list columns, in their fixed order.
enum ServiceColumn {
    COLUMN_NAME = 0,
    COLUMN_STATUS = 1,
    COLUMN_TCPIP = 2,
    COLUMN_COMPORT = 3,
    COLUMN_BAUDRATE = 4,
    COLUMN_HANDSHAKE = 5,
    COLUMN_PARITY = 6,
    COLUMN_STOPBITS = 7,
    COLUMN_DTRO = 8,
    COLUMN_DTRC = 9,
};
inline constexpr int SERVICE_COLUMNS = 10;

extern const std::array<const char*, SERVICE_COLUMNS> columnHeaders;
extern const std::array<int, SERVICE_COLUMNS> defaultColumnWidths;

// Value domains, in the order the editors offer them.
extern const std::vector<std::string> baudRateChoices;
extern const std::vector<std::string> handshakeChoices;
extern const std::vector<std::string> parityChoices;
extern const std::vector<std::string> stopBitsChoices;
extern const std::vector<std::string> dtroChoices;
extern const std::vector<std::string> dtrcChoices;

// Context menu item identifiers (9 is not used) and button identifiers.
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
