// Wake objects on Linux: descriptors that poll readable once signalled.
// The in-process event is an eventfd that is written and never read until
// reset; the manager is watched through a pidfd of the worker's parent.

#include "port/wake.h"
#include "port/posix/deadline.h"
#include "port/report.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace port {

bool WakeSet::wait(int timeout_ms) const
{
    if (empty() && timeout_ms < 0)
        return false;
    pollfd fds[CAPACITY];
    for (int i = 0; i < count_; ++i)
        fds[i] = {static_cast<int>(items_[i]), POLLIN, 0};
    // Hung-up or failed descriptors count as signalled: a wait on them
    // could never end otherwise.
    return poll_until(fds, static_cast<nfds_t>(count_), Deadline(timeout_ms)) > 0;
}

WakeEvent::WakeEvent() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

bool WakeEvent::valid() const { return handle_ >= 0; }

void WakeEvent::set()
{
    if (handle_ < 0)
        return;
    const uint64_t one = 1;
    while (::write(static_cast<int>(handle_), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void WakeEvent::reset()
{
    if (handle_ < 0)
        return;
    uint64_t value = 0;
    while (::read(static_cast<int>(handle_), &value, sizeof value) < 0 && errno == EINTR) {
    }
}

intptr_t WakeEvent::native() const { return handle_; }

ManagerWatch::~ManagerWatch()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

ManagerWatch::State ManagerWatch::watch(uintptr_t report_target)
{
    if (report_target == 0)
        return State::None;
    if (handle_ >= 0)
        return State::Watching;
    // The manager started this worker: it is the parent, for as long as it
    // lives. A parent that ended before the pidfd was taken shows as a
    // changed parent, or, when it ended before the first look, as a report
    // endpoint that nobody holds any more.
    const pid_t parent = getppid();
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, parent, 0));
    if (fd < 0 && getppid() == parent)
        return State::Unknown;
    if (fd < 0 || getppid() != parent || !report_target_present(report_target)) {
        if (fd >= 0)
            ::close(fd);
        return State::Gone;
    }
    handle_ = fd;
    return State::Watching;
}

} // namespace port
