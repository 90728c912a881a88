// Where the autostart entry goes on Linux: the system folder, or the user's
// own where the system folder cannot be written; clearing the box removes
// it from both.

#include "config_place.h"

#include "port/autostart.h"

#include <unistd.h>

namespace {

const std::string ENTRY_FILE = std::string(AUTOSTART_VALUE_NAME) + ".desktop";

class AutostartPosix : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = "/usr/bin/vantrel";
        managerGlobals.serviceCounter = 1;
    }

    // Saves with the box set or clear, as the window does when it ends.
    void saveWithBox(bool checked)
    {
        FakeFrontEnd frontEnd;
        frontEnd.autostart = checked;
        ServiceTable table(frontEnd);
        table.saveConfiguration(false);
    }

    std::string systemEntry() const { return root_ / ("system/autostart/" + ENTRY_FILE); }
    std::string userEntry() const { return root_ / ("home/autostart/" + ENTRY_FILE); }

    TempDir root_;
    ScopedEnv configDir_{"VANTREL_CONFIG_DIR", root_ / "etc"};
    ScopedEnv systemDir_{"VANTREL_AUTOSTART_DIR", root_ / "system/autostart"};
    ScopedEnv userDir_{"XDG_CONFIG_HOME", root_ / "home"};
    // The first folder of the search path is not where the entry goes.
    ScopedEnv configDirs_{"XDG_CONFIG_DIRS", root_ / "session"};
};

TEST_F(AutostartPosix, GoesToTheSystemFolderWhenItCanBeWritten)
{
    saveWithBox(true);
    ASSERT_TRUE(fs::exists(systemEntry()));
    EXPECT_NE(read_file(systemEntry()).find("\nExec=/usr/bin/vantrel\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(userEntry()));
    EXPECT_FALSE(fs::exists(root_ / "session")) << "XDG_CONFIG_DIRS does not choose the folder";
}

TEST_F(AutostartPosix, GoesToTheUsersFolderWhenTheSystemFolderCannotBeWritten)
{
    // A plain file where a folder would have to be: not even root can
    // create the entry below it.
    write_file(root_ / "blocker", "");
    ScopedEnv unwritable("VANTREL_AUTOSTART_DIR", root_ / "blocker/autostart");
    saveWithBox(true);
    ASSERT_TRUE(fs::exists(userEntry()));
    EXPECT_NE(read_file(userEntry()).find("\nExec=/usr/bin/vantrel\n"), std::string::npos);
    EXPECT_EQ(read_file(root_ / "blocker"), "");
}

TEST_F(AutostartPosix, UsersFolderDefaultsToDotConfigInTheHomeFolder)
{
    write_file(root_ / "blocker", "");
    ScopedEnv unwritable("VANTREL_AUTOSTART_DIR", root_ / "blocker/autostart");
    ScopedEnv home("HOME", root_ / "house");
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("relative/config")}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", value);
        port::set_autostart(AUTOSTART_VALUE_NAME, "/usr/bin/vantrel", true);
        std::string entry = root_ / ("house/.config/autostart/" + ENTRY_FILE);
        ASSERT_TRUE(fs::exists(entry)) << (value ? *value : "unset");
        port::set_autostart(AUTOSTART_VALUE_NAME, "/usr/bin/vantrel", false);
        EXPECT_FALSE(fs::exists(entry));
    }
}

TEST_F(AutostartPosix, ClearingTheBoxRemovesTheEntryFromBothFolders)
{
    port::set_autostart(AUTOSTART_VALUE_NAME, "/usr/bin/vantrel", true);
    fs::create_directories(fs::path(userEntry()).parent_path());
    write_file(userEntry(), "[Desktop Entry]\nExec=/opt/old/vantrel\n");
    ASSERT_TRUE(fs::exists(systemEntry()));

    saveWithBox(false);
    EXPECT_FALSE(fs::exists(systemEntry()));
    EXPECT_FALSE(fs::exists(userEntry()));
    saveWithBox(false); // nothing left to remove is no error
    EXPECT_FALSE(fs::exists(systemEntry()));
}

TEST_F(AutostartPosix, ASystemEntryReplacesTheUsersOwnCopy)
{
    // An older entry of the user's would hide the system one, with
    // whatever path it held.
    fs::create_directories(fs::path(userEntry()).parent_path());
    write_file(userEntry(), "[Desktop Entry]\nExec=/opt/old/vantrel\n");
    saveWithBox(true);
    EXPECT_TRUE(fs::exists(systemEntry()));
    EXPECT_FALSE(fs::exists(userEntry()));
}

TEST_F(AutostartPosix, OtherEntriesInTheFoldersAreLeftAlone)
{
    fs::create_directories(fs::path(systemEntry()).parent_path());
    fs::create_directories(fs::path(userEntry()).parent_path());
    std::string other_system = root_ / "system/autostart/other.desktop";
    std::string other_user = root_ / "home/autostart/other.desktop";
    write_file(other_system, "[Desktop Entry]\n");
    write_file(other_user, "[Desktop Entry]\n");
    saveWithBox(true);
    saveWithBox(false);
    EXPECT_TRUE(fs::exists(other_system));
    EXPECT_TRUE(fs::exists(other_user));
}

TEST_F(AutostartPosix, WithoutTheVariableTheSystemFolderIsEtcXdgAutostart)
{
    if (access("/etc/xdg/autostart", W_OK) != 0 && access("/etc/xdg", W_OK) != 0)
        GTEST_SKIP() << "/etc/xdg/autostart cannot be written by this user";
    ScopedEnv unset("VANTREL_AUTOSTART_DIR", std::nullopt);
    // A name of its own, so that a real entry is never touched.
    std::string name = "VantrelTest" + std::to_string(getpid());
    std::string entry = "/etc/xdg/autostart/" + name + ".desktop";
    bool hadFolder = fs::exists("/etc/xdg/autostart");
    port::set_autostart(name, "/usr/bin/vantrel", true);
    bool created = fs::exists(entry);
    port::set_autostart(name, "/usr/bin/vantrel", false);
    if (!hadFolder) {
        std::error_code ec;
        fs::remove("/etc/xdg/autostart", ec);
    }
    EXPECT_TRUE(created);
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(fs::exists(root_ / ("home/autostart/" + name + ".desktop")));
}

} // namespace
