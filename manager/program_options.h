#pragma once
// The manager's command line: the window by default, or headless mode,
// the status of a running headless manager, the serial ports, the usage
// text or the version. A worker never comes here (it has exactly
// eight arguments).

#include <string>

struct ProgramOptions {
    enum Mode { Window, Headless, Status, Ports, Help, Version, Invalid };
    Mode mode = Window;
    std::string configDir; // --config: the configuration folder of headless mode or --status
    std::string error;     // why the line is Invalid
};

// Reads the arguments after the program's name. --help or --version
// anywhere wins. --headless and --status take only --config DIR beside
// them, --ports nothing; only one of the three. Without them, --config is
// refused and every other argument is left to the window (as before, extra
// arguments are ignored there).
ProgramOptions parseProgramOptions(int argc, const char* const* argv);

// The usage text, lines ending in "\n".
std::string usageText();

// Prints what the options ask for and gives the process's exit code: the
// usage or the version (0), the reason of an Invalid line with the usage
// (2), headless mode's own. Not for Window.
int runProgramOptions(const ProgramOptions& options);
