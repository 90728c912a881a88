// Named events on Linux: a FIFO with owner-only permissions in the user's
// runtime folder. Every opener holds it read-write, so all share one kernel
// pipe: a byte in the pipe means "set". Nobody reads it but reset(), so it
// stays set (manual reset), and the descriptor polls readable exactly while
// it is set.

#include "port/posix/deadline.h"
#include "port/posix/object_name.h"
#include "port/process.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

struct NamedEvent::State {
    int fd = -1;
    bool owner = false; // created here: the FIFO goes with this object
    std::string path;
};

void NamedEvent::StateDeleter::operator()(State* state) const noexcept
{
    delete state;
}

namespace {

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

std::string event_path(const std::string& name)
{
    std::string file = encode_object_name(name);
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

// "<digits>_<digits>" and nothing else: the process id in front.
bool creator_id(const std::string& rest, pid_t& pid)
{
    const size_t underscore = rest.find('_');
    if (underscore == 0 || underscore == std::string::npos || underscore + 1 == rest.size() || underscore > 9)
        return false;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (i != underscore && (rest[i] < '0' || rest[i] > '9'))
            return false;
    }
    pid = static_cast<pid_t>(std::stol(rest.substr(0, underscore)));
    return pid > 0;
}

} // namespace

void remove_abandoned_events(const std::string& prefix)
{
    // The events' files: <folder>/<stem><encoded name>.
    const std::string path_prefix = object_prefix() + "event-";
    const size_t slash = path_prefix.rfind('/');
    const std::string folder = path_prefix.substr(0, slash);
    const std::string stem = path_prefix.substr(slash + 1) + encode_object_name(prefix);
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    // Bounded: a folder holds a limited number of entries, and only ours
    // are looked at.
    for (int turn = 0; turn < 100000; ++turn) {
        const dirent* entry = readdir(dir);
        if (!entry)
            break;
        const std::string file = entry->d_name;
        pid_t pid = 0;
        if (file.compare(0, stem.size(), stem) != 0 || !creator_id(file.substr(stem.size()), pid))
            continue;
        if (kill(pid, 0) == 0 || errno != ESRCH)
            continue; // its creator runs (or runs as another user)
        const std::string path = folder + "/" + file;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == geteuid())
            ::unlink(path.c_str());
    }
    closedir(dir);
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
    event.state_.reset(new State{fd, true, path});
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
    event.state_.reset(new State{fd, false, path});
    return event;
}

bool NamedEvent::set()
{
    if (!valid())
        return false;
    if (is_set())
        return true;
    const char one = 1;
    for (;;) {
        ssize_t n = ::write(state_->fd, &one, 1);
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
        ssize_t n = ::read(state_->fd, buffer, sizeof buffer);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        return n < 0 && errno == EAGAIN;
    }
    return false;
}

bool NamedEvent::is_set() const
{
    return wait(0);
}

bool NamedEvent::wait(int timeout_ms) const
{
    if (!valid())
        return false;
    pollfd p{state_->fd, POLLIN, 0};
    return poll_until(&p, 1, Deadline(timeout_ms)) > 0 && (p.revents & POLLIN) != 0;
}

intptr_t NamedEvent::native() const
{
    return valid() ? state_->fd : -1;
}

void NamedEvent::close()
{
    if (!state_)
        return;
    ::close(state_->fd);
    if (state_->owner)
        ::unlink(state_->path.c_str());
    state_.reset();
}

} // namespace port
