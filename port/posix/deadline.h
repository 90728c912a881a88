#pragma once
// The end of a bounded wait on the monotonic clock. Every wait of this
// folder that takes a timeout counts down one deadline, so that a poll()
// repeated after a signal or an early wake-up waits only for what is left,
// and a step of the system clock neither stretches nor cuts it.

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace port {

class Deadline {
public:
    // timeout_ms from now; a negative timeout never passes.
    explicit Deadline(int timeout_ms)
        : unlimited_(timeout_ms < 0), end_(Clock::now() + std::chrono::milliseconds(unlimited_ ? 0 : timeout_ms))
    {
    }

    // What is left as a poll() timeout: -1 without a limit, else the
    // milliseconds left rounded up, 0 once the deadline has passed.
    int poll_timeout() const
    {
        if (unlimited_)
            return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    bool passed() const { return poll_timeout() == 0; }

private:
    using Clock = std::chrono::steady_clock;
    bool unlimited_;
    Clock::time_point end_;
};

// poll() until something is ready or the deadline passes, polling at least
// once; a signal does not end the wait. Returns what poll() returned: the
// number of ready entries, 0 when the deadline passed, -1 with errno.
inline int poll_until(pollfd* fds, nfds_t count, const Deadline& deadline)
{
    for (;;) {
        int r = ::poll(fds, count, deadline.poll_timeout());
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

} // namespace port
