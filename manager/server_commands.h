#pragma once
// The commands for a server without a display: vantrel --status asks the
// running headless manager what its services are doing; vantrel --ports
// lists the serial port names the manager offers and the device behind
// each. Neither opens a network port.

#include <string>

// Prints the running headless manager's lines on standard output: 0; when
// no manager runs, or the one that runs does not answer or reads another
// file than DIR/vantrel.ini (with `configDir`), a message on standard
// error: 1.
int runStatusCommand(const std::string& configDir);

// Prints "COM5 -> /dev/ttyUSB0 (/dev/serial/by-id/...)" for every port
// present: 0; none present: a message on standard error, 1.
int runPortsCommand();
