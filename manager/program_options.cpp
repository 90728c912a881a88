// The manager's command line and what its non-window modes print.

#include "manager/program_options.h"

#include "manager/product_texts.h"
#include "manager/headless.h"

#include <cstdio>
#include <string_view>

ProgramOptions parseProgramOptions(int argc, const char* const* argv)
{
    ProgramOptions options;
    bool headless = false;
    bool haveConfig = false;
    std::string unknown;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (arg == "--help")
            return {ProgramOptions::Help, {}, {}};
        if (arg == "--version")
            return {ProgramOptions::Version, {}, {}};
        if (arg == "--headless") {
            headless = true;
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
    if (headless) {
        options.mode = ProgramOptions::Headless;
        if (!unknown.empty())
            options.error = "unknown argument with --headless: " + unknown;
    } else if (haveConfig || !options.error.empty()) {
        options.error = "--config is used with --headless";
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
    case ProgramOptions::Invalid:
        std::fprintf(stderr, "vantrel: %s\n%s", options.error.c_str(), usageText().c_str());
        return 2;
    case ProgramOptions::Window: break;
    }
    return 2;
}
