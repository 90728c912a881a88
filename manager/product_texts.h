#pragma once
// The product's own names and texts: what the windows show, the names under
// which the manager meets the system (its single-instance claim and stop
// events, the tray message, the configuration file, the autostart entry),
// and the status texts of a service. Both windows show them as they are.

#include "manager/about_text.h"

#include <string_view>

inline constexpr const char* PRODUCT_PREFIX = "BRAMBLEVantrelServer"; // the claim, stop events
inline constexpr const char* WINDOW_TITLE = "BRAMBLE Vantrel Server";
inline constexpr const char* PRODUCT_VERSION = "1.0r5";
// The About box shows the same version (its text is one literal for the
// Windows resource script).
static_assert(std::string_view(ABOUT_TITLE_TEXT).ends_with(std::string_view(PRODUCT_VERSION)));
inline constexpr const char* NO_SERIAL_PORTS_TEXT = "No Serial Ports found!";
inline constexpr const char* TRAY_MESSAGE_NAME = "BRAMBLEVantrelServer tray notification";
inline constexpr const char* CONFIG_FILE_NAME = "vantrel.ini";
inline constexpr const char* AUTOSTART_VALUE_NAME = "VantrelServer";

// A service's Status: empty while it is stopped, these while it runs or
// after a refused start, or a worker's report with REPORT_PREFIX in front
// unless the report begins with "error" in any letter case.
inline constexpr const char* STATUS_ACTIVE = "Active";
inline constexpr const char* STATUS_INVALID_TCPIP = "Error: Invalid TCP/IP Port specified";
inline constexpr const char* STATUS_INVALID_COMPORT = "Error: Invalid Serial Port specified";
inline constexpr const char* REPORT_PREFIX = "Error: ";
