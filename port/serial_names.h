#pragma once
// Serial port names ("COM3") and the device each one stands for.

#include <string>
#include <vector>

namespace port {

// The device path that a serial port name such as COM3 stands for, or an
// empty string when the name stands for nothing. Whether the device exists
// is not checked here; opening it tells.
//
// Windows: "\\.\" followed by the name.
//
// POSIX, in the manner of a Windows emulator's device map:
//  1. a directory entry named like the port, in any letter case ("com3",
//     "COM3"), usually a symbolic link to the device node, in the device-map
//     folder: $VANTREL_DEVICE_DIR when set, else "devices" under the
//     machine-wide configuration folder ($VANTREL_CONFIG_DIR, default
//     /etc/vantrel);
//  2. else the built-in scheme COM1-COM32 -> /dev/ttyS0-31,
//     COM33-COM64 -> /dev/ttyUSB0-31, COM65-COM96 -> /dev/ttyACM0-31
//     ("COM" in any letter case, the number without leading zeros).
std::string serial_device_path(const std::string& name);

// Whether a device name names an existing directory, which makes the
// device I/O library take it for a socket target. Windows: the file system
// is asked. POSIX: always false, so that a folder that happens to be named
// like a port (in the working folder, say) never turns the port into a
// socket target.
bool device_name_is_directory(const std::string& name);

// What a serial port name reaches: the device with every symbolic link on
// the way followed (the device-map entry among them), and the stable names
// that lead to the same device, sorted. POSIX: the links of
// $VANTREL_BY_ID_DIR, default /dev/serial/by-id, which name a USB adapter
// by its maker, model and serial number. Windows: the device path of the
// name, no stable names. Empty when the name stands for nothing.
struct SerialDeviceInfo {
    std::string device;
    std::vector<std::string> stable_names;
};
SerialDeviceInfo serial_device_info(const std::string& name);

} // namespace port
