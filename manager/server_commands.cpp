// vantrel --status and vantrel --ports.

#include "manager/server_commands.h"

#include "manager/headless.h"
#include "manager/product_texts.h"
#include "manager/serial_ports.h"
#include "port/serial_names.h"
#include "port/single_instance.h"
#include "port/status_channel.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

constexpr int EXIT_NOTHING_TO_SHOW = 1;
// How long the manager's answer may take: it answers from its loop, which
// a stop of a service can hold for its time limit.
constexpr int STATUS_WAIT_MS = 15000;

int fail(const std::string& message)
{
    std::fprintf(stderr, "vantrel: %s\n", message.c_str());
    return EXIT_NOTHING_TO_SHOW;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return a == b || std::filesystem::equivalent(a, b, error);
}

} // namespace

int runStatusCommand(const std::string& configDir)
{
    std::string answer;
    if (!port::ask_status(PRODUCT_PREFIX, answer, STATUS_WAIT_MS)) {
        if (port::single_instance_held(PRODUCT_PREFIX))
            return fail("the Vantrel Server manager that runs here does not answer: only a headless one does "
                        "(a window shows its services itself)");
        return fail("no Vantrel Server manager is running");
    }
    const std::string file = STATUS_FILE_LINE;
    const size_t lineEnd = answer.find('\n');
    if (answer.compare(0, file.size(), file) != 0 || lineEnd == std::string::npos) {
        const std::string reason = answer.substr(0, answer.find('\n'));
        return fail("the running manager answered: " + (reason.empty() ? std::string("nothing") : reason));
    }
    const std::string path = answer.substr(file.size(), lineEnd - file.size());
    if (!configDir.empty() && !sameFile(path, headlessConfigPath(configDir)))
        return fail("the running manager reads " + path + ", not " + headlessConfigPath(configDir));
    std::fputs(answer.c_str() + lineEnd + 1, stdout);
    std::fflush(stdout);
    return 0;
}

int runPortsCommand()
{
    SerialPortList ports;
    if (!ports.refresh())
        return fail("no serial port found (COM1 to COM" + std::to_string(HIGHEST_PORT_NUMBER) + ")");
    for (const std::string& name : ports.names()) {
        const port::SerialDeviceInfo info = port::serial_device_info(name);
        std::string line = name + " -> " + info.device;
        for (size_t i = 0; i < info.stable_names.size(); ++i)
            line += (i == 0 ? " (" : ", ") + info.stable_names[i];
        if (!info.stable_names.empty())
            line += ")";
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return 0;
}
