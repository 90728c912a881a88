// Where the configuration goes on Linux, and that a failed save loses
// nothing.

#include "config_place.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
            record->field(COLUMN_NAME) = "board " + std::to_string(i);
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
    std::vector<std::string> left = filesIn(fs::path(place.machinePath()).parent_path().string());
    std::erase(left, std::string(CONFIG_FILE_NAME) + ".bak");
    EXPECT_EQ(left, std::vector<std::string>{CONFIG_FILE_NAME}) << "no temporary file is left behind";
    if (fs::exists(place.backupPath())) {
        EXPECT_EQ(read_file(place.backupPath()), old);
    }
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
    // No sections: a huge count builds nothing.
    {
        write_file(place.machinePath(), "[General]\nservices = 2147483647\n");
        FakeFrontEnd frontEnd;
        ServiceTable table(frontEnd);
        table.loadConfiguration();
        EXPECT_EQ(table.count(), 0);
    }
    // More sections than the manager reads: the first 10000.
    std::string text = "[General]\nservices = 2147483647\n";
    for (int k = 1; k <= 10001; ++k)
        text += "[Service" + std::to_string(k) + "]\nname = s" + std::to_string(k) + "\n";
    write_file(place.machinePath(), text);
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.loadConfiguration();
    ASSERT_EQ(table.count(), 10000);
    EXPECT_EQ(table.record(9999)->field(COLUMN_NAME), "s10000");
    EXPECT_EQ(table.record(9999)->field(COLUMN_BAUDRATE), "19200");
}

TEST_F(ConfigurationPosix, Utf16TextBecomesUtf8)
{
    // "[Service1]\nname = B\u00e4nk \U0001F600\n" with a lone surrogate
    // after it, in UTF-16LE with its mark.
    std::u16string text = u"[General]\r\nservices = 1\r\n[Service1]\r\nname = B\u00e4nk \U0001F600";
    text += char16_t(0xD800);
    text += u"!\r\ncomport = COM7\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    bytes += 'x'; // an odd last byte is no character
    write_file(place.machinePath(), bytes);
    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    table.loadConfiguration();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(table.record(0)->field(COLUMN_NAME), "B\xC3\xA4nk \xF0\x9F\x98\x80\xEF\xBF\xBD!");
    EXPECT_EQ(table.record(0)->field(COLUMN_COMPORT), "COM7");
}

TEST_F(ConfigurationPosix, ALinkedFileStaysALink)
{
    const std::string real = place.root() / "real";
    fs::create_directories(real);
    write_file(real + "/board.ini", "[General]\nservices = 0\n");
    fs::permissions(real + "/board.ini", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("../real/board.ini", place.machinePath());

    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    addServices(table, 1);
    table.saveConfiguration(false);
    ASSERT_TRUE(fs::is_symlink(place.machinePath()));
    EXPECT_EQ(fs::read_symlink(place.machinePath()), "../real/board.ini");
    EXPECT_NE(read_file(real + "/board.ini").find("name      = board 0\n"), std::string::npos);
    EXPECT_EQ(fs::status(real + "/board.ini").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "the file keeps its permissions";
    EXPECT_EQ(read_file(place.backupPath()), "[General]\nservices = 0\n");
    EXPECT_EQ(filesIn(real), std::vector<std::string>{"board.ini"});

    // A link to a file not yet there makes it.
    fs::remove(real + "/board.ini");
    table.saveConfiguration(false);
    EXPECT_TRUE(fs::is_symlink(place.machinePath()));
    EXPECT_NE(read_file(real + "/board.ini").find("board 0"), std::string::npos);
}

// Runs `save` as an unprivileged user when the tests run as root (whom no
// permission stops), and returns the user's id.
template <typename Save> uid_t saveAsUser(Save save)
{
    if (geteuid() != 0) {
        save();
        return geteuid();
    }
    const uid_t nobody = 65534;
    pid_t child = fork();
    if (child == 0) {
        if (setgid(nobody) != 0 || setuid(nobody) != 0)
            _exit(2);
        save();
        _exit(0);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return nobody;
}

void giveTo(const std::string& path, uid_t user)
{
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), user, user), 0) << path;
    }
}

TEST_F(ConfigurationPosix, AFileWritableInAFolderThatIsNotIsWrittenInPlace)
{
    const std::string folder = fs::path(place.machinePath()).parent_path().string();
    write_file(place.machinePath(), "[General]\nservices = 0\n");
    struct stat before {};
    ASSERT_EQ(stat(place.machinePath().c_str(), &before), 0);
    chmod(place.root().path().c_str(), 0755);
    const uid_t user = geteuid() == 0 ? 65534 : geteuid();
    giveTo(place.machinePath(), user);
    chmod(place.machinePath().c_str(), 0644);
    chmod(folder.c_str(), 0555);

    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    addServices(table, 2);
    saveAsUser([&] { table.saveConfiguration(false); });
    chmod(folder.c_str(), 0755);

    struct stat st {};
    ASSERT_EQ(stat(place.machinePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, before.st_ino) << "the same file, written where it is";
    EXPECT_NE(read_file(place.machinePath()).find("[Service2]\nname      = board 1\n"), std::string::npos);
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{CONFIG_FILE_NAME});
    EXPECT_FALSE(fs::exists(place.userPath()));
}

TEST_F(ConfigurationPosix, AFileThatMayNotBeWrittenIsLeftAlone)
{
    const std::string folder = fs::path(place.machinePath()).parent_path().string();
    const std::string old = "[General]\nservices = 0\n";
    write_file(place.machinePath(), old);
    chmod(place.machinePath().c_str(), 0444);
    chmod(place.root().path().c_str(), 0755);
    const uid_t user = geteuid() == 0 ? 65534 : geteuid();
    giveTo(folder, user);
    fs::create_directories(fs::path(place.userPath()).parent_path());
    giveTo(fs::path(place.userPath()).parent_path().parent_path().string(), user);
    giveTo(fs::path(place.userPath()).parent_path().string(), user);

    FakeFrontEnd frontEnd;
    ServiceTable table(frontEnd);
    addServices(table, 1);
    saveAsUser([&] { table.saveConfiguration(false); });

    EXPECT_EQ(read_file(place.machinePath()), old);
    EXPECT_FALSE(fs::exists(place.backupPath()));
    EXPECT_NE(read_file(place.userPath()).find("board 0"), std::string::npos)
        << "the user's own copy takes the save";
}

} // namespace
