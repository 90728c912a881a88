// Child processes on Linux: posix_spawn with the words of a Windows-style
// command line, no descriptor but 0, 1 and 2 inherited, a pidfd for bounded
// waits.

#include "port/posix/deadline.h"
#include "port/process.h"
#include "port/posix/command_line.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <climits>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace port {

struct Process::State {
    int pidfd = -1;                      // -1 on kernels without one: waits poll instead
    bool reaped = false;                 // the child's end has been collected
    uint32_t status = STILL_ACTIVE_CODE; // its exit code, once reaped
    bool killed = false;                 // terminate() sent SIGKILL
    uint32_t kill_code = 0;              // the exit code terminate() was given
};

void Process::StateDeleter::operator()(State* state) const noexcept
{
    delete state;
}

namespace {

// The pidfd calls through syscall(): the C library's header for them is
// not usable from C++ in every version.
int open_pidfd(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

int signal_pidfd(int pidfd, int sig)
{
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

// The Windows rules: the program name runs to the first blank outside
// quotes, quotes removed, backslashes literal. The other words: blanks
// separate outside quotes; 2n backslashes and a quote give n backslashes
// and toggle the grouping, 2n+1 give n backslashes and a literal quote;
// "" inside a group is a literal quote; other backslashes are literal.
std::vector<std::string> split_command_line(const std::string& s)
{
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n && blank(s[i]))
        ++i;
    if (i >= n)
        return words;

    std::string program;
    bool quoted = false;
    for (; i < n && (quoted || !blank(s[i])); ++i) {
        if (s[i] == '"')
            quoted = !quoted;
        else
            program += s[i];
    }
    words.push_back(program);

    for (;;) {
        while (i < n && blank(s[i]))
            ++i;
        if (i >= n)
            break;
        std::string word;
        quoted = false;
        while (i < n && (quoted || !blank(s[i]))) {
            if (s[i] == '\\') {
                size_t k = 0;
                while (i < n && s[i] == '\\') {
                    ++k;
                    ++i;
                }
                if (i < n && s[i] == '"') {
                    word.append(k / 2, '\\');
                    if (k % 2) {
                        word += '"';
                        ++i;
                    }
                } else {
                    word.append(k, '\\');
                }
            } else if (s[i] == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {
                    word += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                word += s[i++];
            }
        }
        words.push_back(word);
    }
    return words;
}

namespace {

// Reaps the child without blocking: 1 ended (status set), 0 running, -1
// not a child of ours (any more).
int try_reap(pid_t pid, int& status)
{
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return 1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Own process.

namespace {

constexpr const char* RUNNING_IMAGE = "/proc/self/exe";

bool same_file(const std::string& a, const char* b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

// A copy started from the running image (see Process::start_hidden) was
// executed as /proc/self/exe, so the kernel named the process "exe". It
// takes back the name of its program, so that ps, top and pgrep show it
// as what it is.
bool restore_process_name()
{
    auto read_proc = [](const char* path) {
        std::string text;
        int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return text;
        char buffer[512];
        while (text.size() < 4096) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                text.append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                break;
        }
        ::close(fd);
        return text;
    };
    if (read_proc("/proc/self/comm") != "exe\n")
        return false;
    std::string program = read_proc("/proc/self/cmdline");
    program = program.substr(0, program.find('\0'));
    std::string name = program.substr(program.rfind('/') + 1).substr(0, 15);
    return !name.empty() && name != "exe" && prctl(PR_SET_NAME, name.c_str(), 0, 0, 0) == 0;
}

[[maybe_unused]] const bool process_name_restored = restore_process_name();

} // namespace

std::string module_path()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink(RUNNING_IMAGE, buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, static_cast<size_t>(n));
    // Once the file has been replaced or removed (a package upgrade), the
    // kernel adds this to the link; the program's place is still the path
    // before it, where the new version now is. A file really named so is
    // the running image itself and keeps its name.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0
        && !same_file(path, RUNNING_IMAGE))
        path.resize(path.size() - deleted.size());
    return path;
}

uint32_t current_process_id()
{
    return static_cast<uint32_t>(getpid());
}

// ---------------------------------------------------------------------------
// Child processes.

Process::~Process()
{
    close();
}

bool Process::start_hidden(const std::string& command_line, Process& out, const Environment& environment)
{
    std::vector<std::string> words = split_command_line(command_line);
    if (words.empty() || words[0].empty())
        return false;
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    // This process's environment without the variables given, then those
    // of them that have a value.
    std::vector<std::string> added;
    for (const auto& [name, value] : environment)
        if (!value.empty())
            added.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& change) {
            return text.size() > change.first.size() && text.starts_with(change.first)
                   && text[change.first.size()] == '=';
        });
        if (!replaced)
            envp.push_back(*entry);
    }
    for (std::string& entry : added)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char** const child_environment = environment.empty() ? environ : envp.data();

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    // Only the standard handles cross: whatever this process holds open
    // without close-on-exec stays here.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t mask, defaults;
    sigemptyset(&mask);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // A session of its own, without a controlling terminal: the signals of
    // the terminal this process was started from (Ctrl+C, a hang-up) reach
    // this process, which stops its children in order, and never the
    // children directly.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    // A copy of this program (a worker) starts from the running image, not
    // from the file: an upgrade may have replaced or removed that file,
    // and the manager's workers must match the manager. Its first word
    // still names the program's path.
    pid_t pid = 0;
    int rc = 0;
    if (words[0] == module_path() || same_file(words[0], RUNNING_IMAGE))
        rc = posix_spawn(&pid, RUNNING_IMAGE, &actions, &attr, argv.data(), child_environment);
    else if (words[0].find('/') != std::string::npos)
        rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), child_environment);
    else
        rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), child_environment);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;

    Process started;
    started.state_.reset(new State);
    started.state_->pidfd = open_pidfd(pid); // close-on-exec
    started.process_id_ = static_cast<uint32_t>(pid);
    started.thread_id_ = static_cast<uint32_t>(pid);
    out = std::move(started);
    return true;
}

bool Process::exit_code(uint32_t& code)
{
    if (!valid())
        return false;
    State& s = *state_;
    if (!s.reaped) {
        int status = 0;
        int r = try_reap(static_cast<pid_t>(process_id_), status);
        if (r < 0)
            return false;
        if (r == 1) {
            s.reaped = true;
            if (WIFEXITED(status))
                s.status = static_cast<uint32_t>(WEXITSTATUS(status));
            else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL && s.killed)
                s.status = s.kill_code;
            else if (WIFSIGNALED(status))
                s.status = 128u + static_cast<uint32_t>(WTERMSIG(status));
        }
    }
    code = s.reaped ? s.status : STILL_ACTIVE_CODE;
    return true;
}

WaitResult Process::wait(int timeout_ms)
{
    if (!valid())
        return WaitResult::Failed;
    const Deadline deadline(timeout_ms);
    for (;;) {
        uint32_t code = 0;
        if (!exit_code(code))
            return WaitResult::Failed;
        if (state_->reaped)
            return WaitResult::Ended;
        int slice = deadline.poll_timeout();
        if (slice == 0)
            return WaitResult::TimedOut;
        if (state_->pidfd >= 0) {
            // The pidfd polls readable once the child has ended.
            pollfd p{state_->pidfd, POLLIN, 0};
            if (poll_until(&p, 1, deadline) < 0)
                return WaitResult::Failed;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice < 0 || slice > 5 ? 5 : slice));
        }
    }
}

void Process::terminate(uint32_t exit_code)
{
    if (!valid() || state_->reaped)
        return;
    if (!state_->killed) {
        state_->killed = true;
        state_->kill_code = exit_code;
    }
    if (state_->pidfd >= 0)
        signal_pidfd(state_->pidfd, SIGKILL);
    else
        kill(static_cast<pid_t>(process_id_), SIGKILL);
    // SIGKILL ends it within moments; reap it now so that no zombie stays
    // behind when the caller closes the process right away. A process the
    // kernel holds up longer is left to a later wait, exit_code() or close().
    wait(1000);
}

void Process::close()
{
    if (state_) {
        if (!state_->reaped) {
            uint32_t code = 0;
            exit_code(code);
        }
        if (state_->pidfd >= 0)
            ::close(state_->pidfd);
        state_.reset();
    }
    process_id_ = 0;
    thread_id_ = 0;
}

} // namespace port
