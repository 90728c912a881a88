// Named events on Linux: a FIFO with owner-only permissions in a folder
// only the user can enter (the runtime folder, or one of the user's own).
// Every opener holds it read-write, so all share one kernel pipe: a byte in
// the pipe means "set". Nobody reads it but reset(), so it stays set
// (manual reset), and the descriptor polls readable exactly while it is
// set.

#include "port/posix/deadline.h"
#include "port/posix/object_name.h"
#include "port/named_event.h"

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

// A folder only this user can enter: a real directory (not a symbolic
// link), owned by the effective user, with no access for group or others.
bool private_folder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && path[0] == '/' && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
           && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Where this user's named objects live: the runtime folder when it is
// private, else a folder of this user's own, vantrel-<uid> in $TMPDIR (or
// /tmp), made owner-only. A folder of that name that is not private (made
// by another user to catch the names, or opened up since) is refused, and
// then no named object can be made or opened. Empty on refusal.
std::string object_prefix()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && private_folder(runtime))
        return std::string(runtime) + "/vantrel-";
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string folder = base + "/vantrel-" + std::to_string(geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    if (!private_folder(folder))
        return {};
    return folder + "/";
}

std::string event_path(const std::string& name)
{
    std::string file = encode_object_name(name);
    if (name.empty() || file.size() > NAME_MAX - 32)
        return {};
    std::string prefix = object_prefix();
    if (prefix.empty())
        return {};
    return prefix + "event-" + file;
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
    const std::string folder_prefix = object_prefix();
    if (folder_prefix.empty())
        return; // no private folder: nothing of ours to look at
    const std::string path_prefix = folder_prefix + "event-";
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
