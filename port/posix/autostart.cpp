// The autostart entry: a desktop entry in the machine-wide XDG autostart
// folder.

#include "port/autostart.h"

#include "port/config.h"

#include <unistd.h>

#include <cstdlib>

namespace port {
namespace {

std::string entry_folder()
{
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string first = dirs ? std::string(dirs).substr(0, std::string(dirs).find(':')) : "";
    if (first.empty())
        first = "/etc/xdg";
    return first + "/autostart";
}

// The Exec value that runs `program` with no arguments: quoted when it holds
// a blank or a reserved character, with '"', '`', '$' and '\' escaped inside
// the quotes; then '%' doubled (field codes) and the escapes of a string
// value applied, which double every backslash once more.
std::string exec_value(const std::string& program)
{
    const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument = program;
    if (program.find_first_of(reserved) != std::string::npos) {
        argument = "\"";
        for (char c : program) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    std::string value;
    for (char c : argument) {
        switch (c) {
        case '%': value += "%%"; break;
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
        }
    }
    return value;
}

} // namespace

void set_autostart(const std::string& name, const std::string& program, bool enabled)
{
    std::string folder = entry_folder();
    std::string path = folder + "/" + name + ".desktop";
    if (!enabled) {
        ::unlink(path.c_str());
        return;
    }
    // The folder is made as needed by the save itself.
    replace_file(path, "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Vantrel Server\n"
                       "Exec=" + exec_value(program) + "\n"
                       "Terminal=false\n");
}

} // namespace port
