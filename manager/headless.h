#pragma once
// The manager without a window (vantrel --headless): the services of the
// configuration file run and are supervised as the window does it (the
// same table, launch, monitoring and reports), each change of a service's
// status is one line on standard error, and the process's signals steer
// it: SIGTERM and SIGINT stop every worker and end it, SIGHUP reads the
// file again and changes only the services whose settings or running
// state differ from it. The file is never written.

#include <string>

// Runs headless until SIGTERM or SIGINT; the process's exit code: 0 after
// a signal, 2 when it cannot start (no readable configuration, another
// manager running, no signals here). `configDir` names the folder of
// vantrel.ini; empty for the usual configuration file.
int runHeadless(const std::string& configDir);

// The file headless mode reads: vantrel.ini in `configDir`, or the usual
// configuration file for an empty one.
std::string headlessConfigPath(const std::string& configDir);

// The answer of a running headless manager to vantrel --status: this,
// then the path of the file it runs, on the first line; then one line per
// service, its status line (as below) followed by its client. Another
// user but root gets STATUS_REFUSAL instead.
inline constexpr const char* STATUS_FILE_LINE = "file ";
inline constexpr const char* STATUS_REFUSAL = "refused: only the manager's own user and root may ask\n";

// The line headless mode prints for a status: "Name (tcpip -> comport):
// status", "Stopped" for an empty status.
std::string headlessStatusLine(const std::string& name, const std::string& tcpip, const std::string& comport,
                               const std::string& status);
