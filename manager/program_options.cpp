// The manager's command line and what its non-window modes print.

#include "manager/program_options.h"

#include "manager/product_texts.h"
#include "manager/headless.h"
#include "manager/server_commands.h"

#include <cstdio>
#include <string_view>
#include <vector>

ProgramOptions parseProgramOptions(int argc, const char* const* argv)
{
    ProgramOptions options;
    std::vector<std::string_view> modes; // --headless, --status, --ports, as given
    bool haveConfig = false;
    std::string unknown;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (arg == "--help")
            return {ProgramOptions::Help, {}, {}};
        if (arg == "--version")
            return {ProgramOptions::Version, {}, {}};
        if (arg == "--headless" || arg == "--status" || arg == "--ports") {
            modes.push_back(arg);
        } else if (arg == "--config" || arg.starts_with("--config=")) {
            std::string_view dir;
            if (arg == "--config") {
                if (i + 1 >= argc || !argv[i + 1]) {
                    options.error = "--config needs a folder";
                    continue;
                }
                dir = argv[++i];
            } else {
                dir = arg.substr(9);
            }
            if (dir.empty())
                options.error = "--config needs a folder";
            haveConfig = true;
            options.configDir = dir;
        } else if (unknown.empty()) {
            unknown = arg;
        }
    }
    const std::string_view mode = modes.empty() ? std::string_view() : modes.front();
    if (modes.size() > 1) {
        options.error = std::string(modes[0]) + " and " + std::string(modes[1]) + " do not go together";
    } else if (mode == "--headless" || mode == "--status") {
        options.mode = mode == "--headless" ? ProgramOptions::Headless : ProgramOptions::Status;
        if (!unknown.empty())
            options.error = "unknown argument with " + std::string(mode) + ": " + unknown;
    } else if (mode == "--ports") {
        options.mode = ProgramOptions::Ports;
        if (haveConfig)
            options.error = "--config is not used with --ports";
        else if (!unknown.empty())
            options.error = "unknown argument with --ports: " + unknown;
    } else if (haveConfig || !options.error.empty()) {
        options.error = "--config is used with --headless or --status";
    }
    if (!options.error.empty())
        options.mode = ProgramOptions::Invalid;
    return options;
}

std::string usageText()
{
    return std::string(
        "Usage: vantrel                    the manager window\n"
        "       vantrel --headless [--config DIR]\n"
        "                                 the manager without a window; it reads\n"
        "                                 DIR/vantrel.ini, else the usual file\n"
        "       vantrel --status [--config DIR]\n"
        "                                 the running headless manager's services:\n"
        "                                 status, client and bytes each way\n"
        "       vantrel --ports           the serial port names and their devices\n"
        "       vantrel --help            this text\n"
        "       vantrel --version         the version\n"
        "Vantrel Server makes boards on serial ports reachable over TCP/IP.\n"
        "In headless mode SIGTERM and SIGINT stop every service and end it,\n"
        "SIGHUP reads the file again. See vantrel(1).\n");
}

int runProgramOptions(const ProgramOptions& options)
{
    switch (options.mode) {
    case ProgramOptions::Help:
        std::fputs(usageText().c_str(), stdout);
        std::fflush(stdout);
        return 0;
    case ProgramOptions::Version:
        std::printf("vantrel %s\n", PRODUCT_VERSION);
        std::fflush(stdout);
        return 0;
    case ProgramOptions::Headless: return runHeadless(options.configDir);
    case ProgramOptions::Status: return runStatusCommand(options.configDir);
    case ProgramOptions::Ports: return runPortsCommand();
    case ProgramOptions::Invalid:
        std::fprintf(stderr, "vantrel: %s\n%s", options.error.c_str(), usageText().c_str());
        return 2;
    case ProgramOptions::Window: break;
    }
    return 2;
}
