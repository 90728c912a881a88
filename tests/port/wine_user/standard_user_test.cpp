// A standard user of the Windows build, under Wine, from the Linux side.
// Wine runs everything with the rights of the Linux user, here root, who
// may write anywhere; so the test takes the rights away itself. It makes a
// Wine prefix of its own whose Windows directory is the build's prefix's,
// mounted read-only in a mount namespace of this test's own (the Wine
// server of that prefix, which opens the files, starts inside it), and
// lets nobody write the machine-wide Run key of that prefix's registry.
// port_test_helper.exe then saves the configuration and sets the autostart
// entry, and the test looks at the files and values they end up in.
//
// The environment names the programs: VANTREL_WINE_RUN (the script that
// runs a Windows program under Wine) and VANTREL_PORT_HELPER
// (port_test_helper.exe).

#include "support/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string tmp_dir()
{
    return env("TMPDIR").empty() ? "/tmp" : env("TMPDIR");
}

// The prefix the Wine script uses for every other test.
std::string shared_prefix()
{
    return env("WINEPREFIX").empty() ? tmp_dir() + "/vantrel-wine-" + std::to_string(getuid()) : env("WINEPREFIX");
}

// Runs the Windows program with these words under the Wine script, with
// `prefix` as its Wine prefix; its exit code, or -1.
int wine(const std::string& prefix, std::vector<std::string> words)
{
    words.insert(words.begin(), env("VANTREL_WINE_RUN"));
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "WINEPREFIX=", 11) != 0)
            environment.push_back(*e);
    }
    environment.push_back("WINEPREFIX=" + prefix);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The Windows name of a Linux path (drive Z: is the root).
std::string windows_path(const std::string& path)
{
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

// A Wine prefix of the test's own: the registry and the user profiles
// copied from the shared prefix, its program folders linked, and its
// Windows directory the shared one, read-only, once mount_windows() has
// run. Removed with the object, the mount first.
class StandardUserPrefix {
public:
    explicit StandardUserPrefix(const std::string& shared) : shared_(shared)
    {
        std::string pattern = tmp_dir() + "/wine-user-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        root_ = pattern;
        std::error_code ec;
        for (const char* file : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
            fs::copy_file(shared_ + "/" + file, root_ + "/" + file, ec);
        fs::create_directories(root_ + "/dosdevices");
        fs::create_directories(windows());
        // Links stay links: a profile's folders lead into the Linux home.
        fs::copy(shared_ + "/drive_c/users", root_ + "/drive_c/users",
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
        for (const char* folder : {"Program Files", "Program Files (x86)", "ProgramData"})
            fs::create_directory_symlink(shared_ + "/drive_c/" + folder, root_ + "/drive_c/" + folder, ec);
        fs::create_directory_symlink("../drive_c", root_ + "/dosdevices/c:", ec);
        fs::create_directory_symlink("/", root_ + "/dosdevices/z:", ec);
    }
    ~StandardUserPrefix()
    {
        if (root_.empty())
            return;
        wine_server_ends();
        // Never removed while the shared Windows directory is mounted in it.
        if (mounted_ && umount2(windows().c_str(), MNT_DETACH) != 0)
            return;
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    StandardUserPrefix(const StandardUserPrefix&) = delete;
    StandardUserPrefix& operator=(const StandardUserPrefix&) = delete;

    bool made() const { return !root_.empty() && fs::exists(root_ + "/system.reg"); }
    const std::string& path() const { return root_; }
    std::string windows() const { return root_ + "/drive_c/windows"; }

    // The Linux path of a C: path of the prefix.
    std::string linux_path(const std::string& c_path) const
    {
        if (c_path.size() < 3 || (c_path.compare(0, 3, "C:\\") != 0 && c_path.compare(0, 3, "c:\\") != 0))
            return {};
        std::string rest = c_path.substr(3);
        for (char& c : rest)
            if (c == '\\')
                c = '/';
        return root_ + "/drive_c/" + rest;
    }

    // In this process's own mount namespace (which the Wine programs it
    // starts, and their Wine server, share): the shared Windows directory,
    // read-only. False, with errno, where that cannot be done.
    bool mount_windows()
    {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        if (mount((shared_ + "/drive_c/windows").c_str(), windows().c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
        mounted_ = true;
        return mount(nullptr, windows().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }

    // Keeps the prefix's Wine server running until the object goes. Wine
    // does not store a registry key's access rights in the prefix's files,
    // and a server ends a few seconds after its last program exits: on a
    // busy machine the next program may start after that, and the new
    // server has forgotten them.
    bool keep_wine_server() { return wine_server("-p") == 0; }

private:
    void wine_server_ends() { wine_server("-k"); }

    // Runs wineserver with this option for the prefix; its exit status.
    int wine_server(const char* option)
    {
        pid_t pid = 0;
        std::string prefix = "WINEPREFIX=" + root_;
        char* argv[] = {const_cast<char*>("wineserver"), const_cast<char*>(option), nullptr};
        char* envp[] = {prefix.data(), nullptr};
        int status = -1;
        if (posix_spawnp(&pid, "wineserver", nullptr, nullptr, argv, envp) == 0)
            waitpid(pid, &status, 0);
        return status;
    }

    std::string shared_;
    std::string root_;
    bool mounted_ = false;
};

} // namespace

TEST(WineStandardUser, TheConfigurationGoesToTheUsersCopyAndTheAutostartToTheUsersRunKey)
{
    ASSERT_FALSE(env("VANTREL_WINE_RUN").empty());
    const std::string helper = env("VANTREL_PORT_HELPER");
    ASSERT_FALSE(helper.empty());
    // The shared prefix exists once a program has run in it.
    ASSERT_EQ(wine(shared_prefix(), {helper, "sleep", "0", "0"}), 0);
    StandardUserPrefix prefix(shared_prefix());
    ASSERT_TRUE(prefix.made());
    if (!prefix.mount_windows())
        GTEST_SKIP() << "no mount namespace of our own here (" << std::strerror(errno) << "): needs root";
    ASSERT_TRUE(prefix.keep_wine_server());
    const std::string scratch = prefix.path() + "/answer.txt";
    const std::string before = support::read_file(shared_prefix() + "/drive_c/windows/vantrel.ini");

    // The Windows directory takes nothing: the save goes to the user's own
    // copy, which reading uses from then on.
    EXPECT_EQ(wine(prefix.path(), {helper, "save-config", "vantrel.ini", "first"}), 0) << "nothing was saved";
    ASSERT_EQ(wine(prefix.path(), {helper, "config-path", "vantrel.ini", windows_path(scratch)}), 0);
    const std::string copy = prefix.linux_path(support::read_file(scratch));
    ASSERT_FALSE(copy.empty()) << support::read_file(scratch);
    EXPECT_NE(copy.find("/AppData/Roaming/"), std::string::npos) << copy;
    EXPECT_EQ(support::read_file(copy), "first\r\n");
    EXPECT_EQ(wine(prefix.path(), {helper, "save-config", "vantrel.ini", "second"}), 0);
    EXPECT_EQ(support::read_file(copy), "second\r\n");
    EXPECT_EQ(support::read_file(copy + ".bak"), "first\r\n");
    EXPECT_EQ(support::read_file(shared_prefix() + "/drive_c/windows/vantrel.ini"), before);

    // Nobody may write the machine-wide Run key: the entry goes to the
    // user's own, and removing it takes it out of there.
    ASSERT_EQ(wine(prefix.path(), {helper, "deny-run-key"}), 0);
    const std::string program = "C:\\Program Files\\Vantrel Server\\vantrel.exe";
    EXPECT_EQ(wine(prefix.path(), {helper, "autostart", "VantrelServer", program, "1"}), 0);
    ASSERT_EQ(wine(prefix.path(), {helper, "run-values", "VantrelServer", windows_path(scratch)}), 0);
    EXPECT_EQ(support::read_file(scratch), "machine=-\nuser=" + program + "\n");
    EXPECT_EQ(wine(prefix.path(), {helper, "autostart", "VantrelServer", program, "0"}), 0);
    ASSERT_EQ(wine(prefix.path(), {helper, "run-values", "VantrelServer", windows_path(scratch)}), 0);
    EXPECT_EQ(support::read_file(scratch), "machine=-\nuser=-\n");
}
