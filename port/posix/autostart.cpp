// The autostart entry: a desktop entry in the system XDG autostart folder,
// or in the user's own where the system folder cannot be written.

#include "port/autostart.h"

#include "port/config.h"
#include "port/posix/user_dirs.h"

#include <unistd.h>

#include <cstdlib>

namespace port {
namespace {

std::string system_folder()
{
    const char* dir = std::getenv("VANTREL_AUTOSTART_DIR");
    return dir && *dir ? dir : "/etc/xdg/autostart";
}

std::string user_folder()
{
    return user_config_home() + "/autostart";
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
    const std::string file = "/" + name + ".desktop";
    const std::string system_entry = system_folder() + file;
    const std::string user_entry = user_folder() + file;
    if (!enabled) {
        ::unlink(system_entry.c_str());
        ::unlink(user_entry.c_str());
        return;
    }
    const std::string text = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Vantrel Server\n"
                             "Exec=" + exec_value(program) + "\n"
                             "Terminal=false\n";
    // The folders are made as needed by the save itself.
    if (replace_file(system_entry, text))
        ::unlink(user_entry.c_str());
    else
        replace_file(user_entry, text);
}

} // namespace port
