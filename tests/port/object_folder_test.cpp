// Where the named objects live on Linux, and who may speak to the manager:
// without a private runtime folder the stop events go to a folder of the
// user's own that nobody else can enter or plant, and a status report
// counts only for the process that sent it.

#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"
#include "support/deadline.h"
#include "support/names.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace support;
namespace fs = std::filesystem;

namespace {

const std::string helper = PORT_TEST_HELPER;

class ObjectFolder : public ::testing::Test {
protected:
    // The folder the events fall back to under this test's TMPDIR.
    std::string fallback() const { return tmp / ("vantrel-" + std::to_string(geteuid())); }
    std::string event_file(const std::string& folder, const std::string& name) const
    {
        return folder + "/event-" + name;
    }

    static bool is_fifo(const std::string& path)
    {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }

    // Makes the fallback folder beforehand, with this mode.
    void plant_folder(mode_t mode) const
    {
        ASSERT_EQ(::mkdir(fallback().c_str(), 0700), 0);
        ASSERT_EQ(::chmod(fallback().c_str(), mode), 0);
    }

    TempDir tmp;
    ScopedEnv no_runtime{"XDG_RUNTIME_DIR", std::nullopt};
    ScopedEnv tmp_env{"TMPDIR", tmp.path().string()};
    const std::string name = "ObjectFolderEvent" + std::to_string(getpid());
};

} // namespace

TEST_F(ObjectFolder, WithoutARuntimeFolderEventsLiveInAPrivateFolderOfTheUser)
{
    auto event = port::NamedEvent::create(name);
    ASSERT_TRUE(event.valid());
    struct stat st {};
    ASSERT_EQ(lstat(fallback().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_TRUE(is_fifo(event_file(fallback(), name)));
    EXPECT_FALSE(fs::exists("/dev/shm/vantrel-" + std::to_string(geteuid()) + "-event-" + name));

    // Another process of the user finds it there.
    port::Process setter;
    ASSERT_TRUE(port::Process::start_hidden(quote(helper) + " set-event " + name, setter));
    ASSERT_EQ(setter.wait(15000), port::WaitResult::Ended);
    uint32_t code = 99;
    EXPECT_TRUE(setter.exit_code(code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(event.is_set());

    event.close();
    EXPECT_FALSE(fs::exists(event_file(fallback(), name)));
}

TEST_F(ObjectFolder, AFolderOthersCanEnterIsRefused)
{
    plant_folder(0755);
    EXPECT_FALSE(port::NamedEvent::create(name).valid());
    EXPECT_TRUE(fs::is_empty(fallback())) << "nothing made in a folder others can read";

    // An event planted there is not opened either.
    ASSERT_EQ(::mkfifo(event_file(fallback(), name).c_str(), 0600), 0);
    EXPECT_FALSE(port::NamedEvent::open(name).valid());
}

TEST_F(ObjectFolder, AFolderOthersCanWriteIsRefused)
{
    plant_folder(0733);
    EXPECT_FALSE(port::NamedEvent::create(name).valid());
    EXPECT_TRUE(fs::is_empty(fallback()));
}

TEST_F(ObjectFolder, AFolderOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can make a folder owned by another user";
    plant_folder(0700);
    ASSERT_EQ(::chown(fallback().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(port::NamedEvent::create(name).valid());
    EXPECT_TRUE(fs::is_empty(fallback()));
}

TEST_F(ObjectFolder, ALinkInPlaceOfTheFolderIsRefused)
{
    const std::string elsewhere = tmp / "elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), fallback().c_str()), 0);
    EXPECT_FALSE(port::NamedEvent::create(name).valid());
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(ObjectFolder, APrivateRuntimeFolderIsUsedAndAnOpenOneIsNot)
{
    const std::string runtime = tmp / "run";
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime);
        auto event = port::NamedEvent::create(name);
        ASSERT_TRUE(event.valid());
        EXPECT_TRUE(is_fifo(runtime + "/vantrel-event-" + name));
        EXPECT_FALSE(fs::exists(fallback()));
    }
    ASSERT_EQ(::chmod(runtime.c_str(), 0755), 0);
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime);
        auto event = port::NamedEvent::create(name);
        ASSERT_TRUE(event.valid());
        EXPECT_FALSE(fs::exists(runtime + "/vantrel-event-" + name));
        EXPECT_TRUE(is_fifo(event_file(fallback(), name)));
    }
}

// A report names the process it speaks for; the kernel tells who sent it.
TEST(ReportSender, AReportNamingAnotherProcessIsIgnored)
{
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    int handled = 0;
    auto count = [&](uint32_t, const char*) {
        ++handled;
        return true;
    };

    const std::string target = std::to_string(receiver.target());
    port::Process liar;
    ASSERT_TRUE(port::Process::start_hidden(
        quote(helper) + " report-as " + target + " " + std::to_string(getpid()) + " forged", liar));
    // The sender waits for an answer that never comes, then gives up.
    const Deadline deadline(20000);
    while (liar.wait(20) != port::WaitResult::Ended && !deadline.expired())
        receiver.dispatch(count);
    ASSERT_EQ(liar.wait(0), port::WaitResult::Ended);
    receiver.dispatch(count);
    EXPECT_EQ(handled, 0) << "a report for another process id was taken";

    // The same sender naming itself is heard.
    port::Process honest;
    ASSERT_TRUE(port::Process::start_hidden(quote(helper) + " report " + target + " honest", honest));
    uint32_t from = 0;
    const Deadline second(20000);
    while (handled == 0 && !second.expired()) {
        receiver.dispatch([&](uint32_t process_id, const char*) {
            ++handled;
            from = process_id;
            return true;
        });
        honest.wait(20);
    }
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(from, honest.id());
    EXPECT_EQ(honest.wait(15000), port::WaitResult::Ended);
}
