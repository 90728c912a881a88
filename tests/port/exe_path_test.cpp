// The program's own path while an upgrade replaces or removes its file, and
// copies of itself started from the running image.

#include "port/process.h"
#include "support/deadline.h"
#include "support/files.h"
#include "support/names.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The helper started from `program` with pipes on its standard input and
// output; killed and reaped at the end of the scope if still running.
class Helper {
public:
    Helper(const std::string& program, const std::string& marker)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            execl(program.c_str(), program.c_str(), "serve", marker.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Helper()
    {
        if (to_ >= 0)
            ::close(to_);
        if (from_ >= 0)
            ::close(from_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    bool started() const { return pid_ > 0 && to_ >= 0; }

    // The next line of its output without the line end; empty when none
    // came within timeout_ms.
    std::string line(int timeout_ms)
    {
        const auto deadline = support::Clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            if (size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - support::Clock::now()).count();
            if (left <= 0)
                return {};
            pollfd p{from_, POLLIN, 0};
            int r = poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return {};
            char chunk[256];
            ssize_t n = read(from_, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    void go() { ASSERT_EQ(write(to_, "go\n", 3), 3); }

    // Its exit status once it has ended, within timeout_ms; -1 otherwise.
    int exitStatus(int timeout_ms)
    {
        int status = -1;
        bool ended = support::wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout_ms);
        if (!ended)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    std::string buffer_;
};

// A copy of the helper program at `path`, as a package would install it.
void install(const std::string& path)
{
    fs::copy_file(EXE_PATH_HELPER, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all);
}

class ExePath : public ::testing::Test {
protected:
    support::TempDir dir;
    std::string program = dir / "vantrel";
    std::string marker = dir / "marker";
};

TEST_F(ExePath, ReplacedFileKeepsThePathAndStartsCopiesFromTheRunningImage)
{
    install(program);
    Helper helper(program, marker);
    ASSERT_TRUE(helper.started());
    EXPECT_EQ(helper.line(10000), "path " + program);

    // An upgrade writes the new version beside the old file and renames it
    // over the old one. This "new version" would leave a different mark.
    std::string next = dir / "vantrel.new";
    {
        std::ofstream out(next);
        out << "#!/bin/sh\necho new version > \"$2\"\nexit 42\n";
    }
    fs::permissions(next, fs::perms::owner_all);
    fs::rename(next, program);

    helper.go();
    EXPECT_EQ(helper.line(10000), "path " + program) << "no \" (deleted)\" after the path";
    EXPECT_EQ(helper.line(20000), "child 7");
    // Named after its program, not after /proc/self/exe.
    EXPECT_EQ(support::read_file(marker), "running image vantrel\n");
    EXPECT_EQ(helper.exitStatus(10000), 0);
}

TEST_F(ExePath, RemovedFileKeepsThePathAndStillStartsCopies)
{
    install(program);
    Helper helper(program, marker);
    ASSERT_TRUE(helper.started());
    EXPECT_EQ(helper.line(10000), "path " + program);

    fs::remove(program);
    helper.go();
    EXPECT_EQ(helper.line(10000), "path " + program);
    EXPECT_EQ(helper.line(20000), "child 7");
    EXPECT_EQ(support::read_file(marker), "running image vantrel\n");
    EXPECT_EQ(helper.exitStatus(10000), 0);
}

TEST_F(ExePath, AFileReallyNamedDeletedKeepsItsName)
{
    std::string named = dir / "vantrel (deleted)";
    install(named);
    Helper helper(named, marker);
    ASSERT_TRUE(helper.started());
    EXPECT_EQ(helper.line(10000), "path " + named);
    helper.go();
    EXPECT_EQ(helper.line(10000), "path " + named);
    EXPECT_EQ(helper.line(20000), "child 7");
    EXPECT_EQ(support::read_file(marker), "running image vantrel (delete\n") << "the first 15 bytes of the name";
    EXPECT_EQ(helper.exitStatus(10000), 0);
}

TEST_F(ExePath, OtherProgramsStartFromTheirFiles)
{
    // The worker of another program (here a script) runs from its own
    // file, not from the caller's image.
    std::string script = dir / "other";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\necho other > \"$1\"\nexit 5\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    port::Process process;
    ASSERT_TRUE(port::Process::start_hidden(support::quote(script) + " " + support::quote(marker), process));
    ASSERT_EQ(process.wait(10000), port::WaitResult::Ended);
    uint32_t code = 0;
    ASSERT_TRUE(process.exit_code(code));
    EXPECT_EQ(code, 5u);
    EXPECT_EQ(support::read_file(marker), "other\n");
}

} // namespace
