// Process facilities on Linux.
//
// Named event: a FIFO with owner-only permissions in the user's runtime
// folder. Every opener holds it read-write, so all share one kernel pipe: a
// byte in the pipe means "set". Nobody reads it but reset(), so it stays set
// (manual reset), and the descriptor polls readable exactly while it is set.
//
// Single instance: an abstract Unix socket bound to a name derived from the
// text; the kernel drops the binding when the holder dies.
//
// Processes: posix_spawn with the words of a Windows-style command line, no
// descriptor but 0, 1 and 2 inherited, a pidfd for bounded waits.

#include "port/process.h"
#include "port/posix/command_line.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace port {

namespace {

using Clock = std::chrono::steady_clock;

bool private_folder(const char* path)
{
    struct stat st {};
    return path && *path == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode)
           && st.st_uid == geteuid();
}

// Where this user's named objects live: the runtime folder when there is
// one, else /dev/shm or /tmp with the uid in every name.
std::string object_prefix()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (private_folder(runtime))
        return std::string(runtime) + "/vantrel-";
    struct stat st {};
    const char* base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    return std::string(base) + "/vantrel-" + std::to_string(geteuid()) + "-";
}

// Keeps letters, digits and "._-"; every other byte becomes %XX, so any
// name maps to one file name and no name reaches outside the folder.
std::string encode_name(const std::string& name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '_' || c == '-') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string event_path(const std::string& name)
{
    std::string file = encode_name(name);
    if (name.empty() || file.size() > NAME_MAX - 32)
        return {};
    return object_prefix() + "event-" + file;
}

// Opens an existing event FIFO; refuses anything that is not a FIFO of
// this user (a file planted under the name by someone else).
int open_event_fifo(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_uid != geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool poll_readable(int fd, int timeout_ms)
{
    if (fd < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        int wait_ms = -1;
        if (timeout_ms >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait_ms = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, wait_ms);
        if (r > 0)
            return (p.revents & POLLIN) != 0;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

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

} // namespace

// ---------------------------------------------------------------------------
// Own process.

std::string module_path()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

uint32_t current_process_id()
{
    return static_cast<uint32_t>(getpid());
}

bool claim_single_instance(const std::string& name)
{
    // Abstract names are at most 107 bytes; a longer text keeps its start
    // and a hash of the whole.
    std::string key = "vantrel-instance-" + encode_name(name);
    if (key.size() > 90) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : name)
            h = (h ^ c) * 1099511628211ull;
        key = key.substr(0, 70) + "-" + std::to_string(h);
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, key.data(), key.size());
    auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    // The descriptor stays open for the life of the process: that is the
    // claim.
    return true;
}

// ---------------------------------------------------------------------------
// Named event.

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : handle_(other.handle_), owner_(other.owner_), name_(std::move(other.name_))
{
    other.handle_ = -1;
    other.owner_ = false;
    other.name_.clear();
}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        owner_ = other.owner_;
        name_ = std::move(other.name_);
        other.handle_ = -1;
        other.owner_ = false;
        other.name_.clear();
    }
    return *this;
}

NamedEvent::~NamedEvent()
{
    close();
}

NamedEvent NamedEvent::create(const std::string& name)
{
    NamedEvent event;
    std::string path = event_path(name);
    if (path.empty())
        return event;
    if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST)
        return event;
    int fd = open_event_fifo(path);
    if (fd < 0)
        return event;
    event.handle_ = fd;
    event.owner_ = true;
    event.name_ = path;
    return event;
}

NamedEvent NamedEvent::open(const std::string& name)
{
    NamedEvent event;
    std::string path = event_path(name);
    if (path.empty())
        return event;
    int fd = open_event_fifo(path);
    if (fd < 0)
        return event;
    event.handle_ = fd;
    event.name_ = path;
    return event;
}

bool NamedEvent::valid() const
{
    return handle_ >= 0;
}

bool NamedEvent::set()
{
    if (!valid())
        return false;
    if (is_set())
        return true;
    const char one = 1;
    for (;;) {
        ssize_t n = ::write(static_cast<int>(handle_), &one, 1);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        // A full pipe is a set event as well.
        return n < 0 && errno == EAGAIN;
    }
}

bool NamedEvent::reset()
{
    if (!valid())
        return false;
    char buffer[256];
    // Setters write one byte while the event is clear, so the pipe holds a
    // few bytes at most; the bound only guards against a stuck loop.
    for (int i = 0; i < 4096; ++i) {
        ssize_t n = ::read(static_cast<int>(handle_), buffer, sizeof buffer);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        return n < 0 && errno == EAGAIN;
    }
    return false;
}

bool NamedEvent::is_set() const
{
    return poll_readable(static_cast<int>(handle_), 0);
}

bool NamedEvent::wait(int timeout_ms) const
{
    return poll_readable(static_cast<int>(handle_), timeout_ms);
}

void NamedEvent::close()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    if (owner_ && !name_.empty())
        ::unlink(name_.c_str());
    handle_ = -1;
    owner_ = false;
    name_.clear();
}

// ---------------------------------------------------------------------------
// Child processes.

namespace {

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

Process::Process(Process&& other) noexcept
{
    *this = std::move(other);
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        close();
        process_ = other.process_;
        thread_ = other.thread_;
        process_id_ = other.process_id_;
        thread_id_ = other.thread_id_;
        reaped_ = other.reaped_;
        status_ = other.status_;
        killed_ = other.killed_;
        kill_code_ = other.kill_code_;
        other.process_ = -1;
        other.thread_ = -1;
        other.process_id_ = 0;
        other.thread_id_ = 0;
        other.reaped_ = false;
        other.status_ = STILL_ACTIVE_CODE;
        other.killed_ = false;
    }
    return *this;
}

Process::~Process()
{
    close();
}

bool Process::start_hidden(const std::string& command_line, Process& out)
{
    std::vector<std::string> words = split_command_line(command_line);
    if (words.empty() || words[0].empty())
        return false;
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

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
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int rc = words[0].find('/') != std::string::npos
                 ? posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ)
                 : posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;

    Process started;
    started.process_id_ = static_cast<uint32_t>(pid);
    started.thread_id_ = static_cast<uint32_t>(pid);
    started.process_ = open_pidfd(pid); // close-on-exec; -1 on old kernels: waits poll instead
    out = std::move(started);
    return true;
}

bool Process::valid() const
{
    return process_id_ != 0;
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

bool Process::exit_code(uint32_t& code)
{
    if (!valid())
        return false;
    if (!reaped_) {
        int status = 0;
        int r = try_reap(static_cast<pid_t>(process_id_), status);
        if (r < 0)
            return false;
        if (r == 1) {
            reaped_ = true;
            if (WIFEXITED(status))
                status_ = static_cast<uint32_t>(WEXITSTATUS(status));
            else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL && killed_)
                status_ = kill_code_;
            else if (WIFSIGNALED(status))
                status_ = 128u + static_cast<uint32_t>(WTERMSIG(status));
        }
    }
    code = reaped_ ? status_ : STILL_ACTIVE_CODE;
    return true;
}

WaitResult Process::wait(int timeout_ms)
{
    if (!valid())
        return WaitResult::Failed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        uint32_t code = 0;
        if (!exit_code(code))
            return WaitResult::Failed;
        if (reaped_)
            return WaitResult::Ended;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (timeout_ms >= 0 && left <= 0)
            return WaitResult::TimedOut;
        int slice = timeout_ms < 0 ? -1 : static_cast<int>(left);
        if (process_ >= 0) {
            // The pidfd polls readable once the child has ended.
            pollfd p{static_cast<int>(process_), POLLIN, 0};
            if (::poll(&p, 1, slice) < 0 && errno != EINTR)
                return WaitResult::Failed;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice < 0 || slice > 5 ? 5 : slice));
        }
    }
}

void Process::terminate(uint32_t exit_code)
{
    if (!valid() || reaped_)
        return;
    if (!killed_) {
        killed_ = true;
        kill_code_ = exit_code;
    }
    if (process_ >= 0)
        signal_pidfd(static_cast<int>(process_), SIGKILL);
    else
        kill(static_cast<pid_t>(process_id_), SIGKILL);
    // SIGKILL ends it within moments; reap it now so that no zombie stays
    // behind when the caller closes the process right away.
    wait(2000);
}

void Process::close()
{
    if (valid() && !reaped_) {
        uint32_t code = 0;
        exit_code(code);
    }
    if (process_ >= 0)
        ::close(static_cast<int>(process_));
    process_ = -1;
    thread_ = -1;
    process_id_ = 0;
    thread_id_ = 0;
    reaped_ = false;
    status_ = STILL_ACTIVE_CODE;
    killed_ = false;
    kill_code_ = 0;
}

} // namespace port
