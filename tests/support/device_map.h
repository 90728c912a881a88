#pragma once
// The serial device map of a test: a folder of its own, named by
// VANTREL_DEVICE_DIR, whose links give COM names their devices.

#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <string>

namespace support {

class DeviceMap {
public:
    // With hide_machine_ports, COM1 to COM96 stand for nothing unless the
    // test maps them, so that the machine's own serial ports never show.
    explicit DeviceMap(bool hide_machine_ports = true);

    // Links the name to the target (a board's slave(), or a path that does
    // not exist); throws when the link cannot be made.
    void map(const std::string& name, const std::string& target);
    // The path of an entry in the folder.
    std::string path(const std::string& name) const { return dir_ / name; }
    const std::filesystem::path& dir() const { return dir_.path(); }

private:
    TempDir dir_;
    ScopedEnv env_;
};

} // namespace support
