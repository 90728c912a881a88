// Which device a COM name opens on Linux: the device map first, in any
// letter case, then the built-in scheme, then "devices" in the
// configuration folder.

#include "port/serial_names.h"
#include "support/board.h"
#include "support/device_map.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace support;
namespace fs = std::filesystem;

TEST(SerialNames, TheDeviceMapFirstInAnyLetterCase)
{
    Board board;
    ASSERT_TRUE(board.valid());
    DeviceMap devices(false);
    devices.map("com7", board.slave());
    EXPECT_EQ(port::serial_device_path("COM7"), devices.path("com7"));
    EXPECT_EQ(port::serial_device_path("Com7"), devices.path("com7"));
}

TEST(SerialNames, TheBuiltInScheme)
{
    DeviceMap empty(false);
    const struct {
        const char* name;
        const char* device; // "" for none
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"com32", "/dev/ttyS31"},
        {"COM33", "/dev/ttyUSB0"},
        {"COM64", "/dev/ttyUSB31"},
        {"COM65", "/dev/ttyACM0"},
        {"COM96", "/dev/ttyACM31"},
        {"COM97", ""},
        {"COM256", ""},
        {"COM0", ""},
        {"COM03", ""},
        {"COM", ""},
        {"COM1x", ""},
        {"LPT1", ""},
        {"", ""},
        {"..", ""},
        {"a/b", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(port::serial_device_path(c.name), c.device) << c.name;
}

TEST(SerialNames, WithoutAMapFolderTheConfigurationFolderHasOne)
{
    TempDir config_dir;
    ScopedEnv no_map("VANTREL_DEVICE_DIR", std::nullopt);
    ScopedEnv config("VANTREL_CONFIG_DIR", config_dir.path().string());
    fs::create_directory(config_dir / "devices");
    fs::create_symlink("/dev/null", config_dir / "devices/COM200");
    EXPECT_EQ(port::serial_device_path("com200"), config_dir / "devices/COM200");
}
