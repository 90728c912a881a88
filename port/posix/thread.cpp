// Threads with an end signal on Linux: an eventfd per thread, written when
// the body returns, so poll() can wait for "event set or a thread ended".

#include "port/thread.h"
#include "port/posix/deadline.h"

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace port {

struct Thread::State {
    int ended_fd = -1;
    std::thread thread;
};

Thread::Thread() = default;

Thread::~Thread()
{
    join();
}

bool Thread::start(std::function<void()> body, const char* name)
{
    if (started())
        return false;
    auto state = std::make_unique<State>();
    state->ended_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->ended_fd < 0)
        return false;
    try {
        std::string label = name ? std::string(name).substr(0, 15) : std::string();
        state->thread = std::thread([fd = state->ended_fd, body = std::move(body), label = std::move(label)] {
            if (!label.empty())
                pthread_setname_np(pthread_self(), label.c_str());
            body();
            const uint64_t one = 1;
            while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
            }
        });
    } catch (const std::system_error&) {
        ::close(state->ended_fd);
        return false;
    }
    state_ = std::move(state);
    return true;
}

bool Thread::started() const
{
    return state_ != nullptr;
}

intptr_t Thread::native() const
{
    return state_ ? state_->ended_fd : -1;
}

bool Thread::ended() const
{
    if (!started())
        return false;
    pollfd p{state_->ended_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void Thread::join()
{
    if (!state_)
        return;
    state_->thread.join();
    ::close(state_->ended_fd);
    state_.reset();
}

namespace {

// Polls the first `objects` descriptors (the stop objects) and the threads'
// end descriptors after them.
int wait_any_of(std::vector<pollfd>& fds, size_t objects, std::initializer_list<const Thread*> threads,
                int timeout_ms)
{
    for (const Thread* t : threads) {
        if (!t || !t->started())
            return WAITED_FAILED;
        fds.push_back({static_cast<int>(t->native()), POLLIN, 0});
    }
    const Deadline deadline(timeout_ms);
    for (;;) {
        int r = poll_until(fds.data(), fds.size(), deadline);
        if (r < 0)
            return WAITED_FAILED;
        if (r == 0)
            return WAITED_TIMEOUT;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return WAITED_FAILED;
            if (fds[i].revents & (POLLIN | POLLHUP))
                return i < objects ? WAITED_EVENT : WAITED_THREAD + static_cast<int>(i - objects);
        }
    }
}

} // namespace

int wait_any(const NamedEvent* event, std::initializer_list<const Thread*> threads, int timeout_ms)
{
    if (!event || !event->valid())
        return WAITED_FAILED;
    std::vector<pollfd> fds;
    fds.push_back({static_cast<int>(event->native()), POLLIN, 0});
    return wait_any_of(fds, 1, threads, timeout_ms);
}

int wait_any(const WakeSet& wake, std::initializer_list<const Thread*> threads, int timeout_ms)
{
    if (wake.empty())
        return WAITED_FAILED;
    std::vector<pollfd> fds;
    for (int i = 0; i < wake.size(); ++i)
        fds.push_back({static_cast<int>(wake[i]), POLLIN, 0});
    return wait_any_of(fds, static_cast<size_t>(wake.size()), threads, timeout_ms);
}

} // namespace port
