// Where the configuration goes on Linux, and that a failed save loses
// nothing.

#include "config_place.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ConfigurationPosix : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = "/usr/bin/vantrel";
        managerGlobals.serviceCounter = 1;
    }

    void addServices(ServiceTable& table, int count)
    {
        for (int i = 0; i < count; ++i) {
            auto record = newServiceRecord();
            record->name = "board " + std::to_string(i);
            table.addService(std::move(record));
        }
    }

    std::vector<std::string> filesIn(const std::string& dir)
    {
        std::vector<std::string> names;
        for (auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    ConfigPlace place;
};

TEST_F(ConfigurationPosix, AFailedSaveKeepsTheOldFile)
{
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    addServices(table, 1);
    table.saveConfiguration(false);
    const std::string old = read_file(place.machinePath());
    ASSERT_NE(old.find("board 0"), std::string::npos);

    addServices(table, 40);
    // The disk fills halfway through the save: the child may write only a
    // few hundred bytes.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit {300, 300};
        setrlimit(RLIMIT_FSIZE, &limit);
        table.saveConfiguration(false);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));

    EXPECT_EQ(read_file(place.machinePath()), old);
    EXPECT_EQ(filesIn(fs::path(place.machinePath()).parent_path().string()),
              std::vector<std::string>{CONFIG_FILE_NAME})
        << "no temporary file is left behind";
    EXPECT_FALSE(fs::exists(place.userPath())) << "a full disk is no reason to move elsewhere";

    // Without the limit the same save goes through.
    table.saveConfiguration(false);
    EXPECT_NE(read_file(place.machinePath()).find("[Service41]\nname      = board 39\n"), std::string::npos);
}

TEST_F(ConfigurationPosix, AUserWhoCannotWriteTheMachineFileKeepsAPersonalCopy)
{
    // The machine-wide file exists but its folder cannot take a new file.
    write_file(place.machinePath(), "[General]\nxpos = 5\n");
    std::string blocker = place.root() / "blocker";
    write_file(blocker, "");
    {
        ScopedEnv unwritable("VANTREL_CONFIG_DIR", blocker + "/etc");
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        addServices(table, 2);
        frontEnd.rect = {33, 0, 0, 0};
        table.saveConfiguration(false);
        ASSERT_TRUE(fs::exists(place.userPath()));
        EXPECT_NE(read_file(place.userPath()).find("xpos      = 33\n"), std::string::npos);
    }
    // From now on this user reads and saves the personal copy, even where
    // the machine-wide folder could be written.
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.loadConfiguration();
    EXPECT_EQ(table.count(), 2);
    EXPECT_EQ(frontEnd.fields.xpos, 33);
    frontEnd.rect = {44, 0, 0, 0};
    table.saveConfiguration(false);
    EXPECT_NE(read_file(place.userPath()).find("xpos      = 44\n"), std::string::npos);
    EXPECT_EQ(read_file(place.machinePath()), "[General]\nxpos = 5\n");
}

TEST_F(ConfigurationPosix, MachineFolderIsCreatedAndTheFileStaysReadable)
{
    ScopedEnv fresh("VANTREL_CONFIG_DIR", place.root() / "new/etc/vantrel");
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.saveConfiguration(false);
    std::string path = place.root() / "new/etc/vantrel/vantrel.ini";
    ASSERT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(place.userPath()));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST_F(ConfigurationPosix, AutostartFolderIsCreatedWhenMissing)
{
    fs::remove_all(fs::path(place.desktopEntryPath()).parent_path());
    FakeFrontEnd frontEnd;
    frontEnd.autostart = true;
    ServiceTable table(frontEnd);
    table.saveConfiguration(false);
    ASSERT_TRUE(place.autostartEntry());
    EXPECT_NE(place.autostartEntry()->find("\nExec=/usr/bin/vantrel\n"), std::string::npos);
}

TEST_F(ConfigurationPosix, ADamagedServiceCountIsBounded)
{
    write_file(place.machinePath(), "[General]\nservices = 2147483647\n");
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.loadConfiguration();
    EXPECT_EQ(table.count(), 10000);
    EXPECT_EQ(table.record(9999)->baudrate, "19200");
}

} // namespace
