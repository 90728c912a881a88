// SIGTERM, SIGINT and SIGHUP through a self-pipe, and a poll() over
// descriptors with a deadline.

#include "port/signals.h"

#include "port/posix/deadline.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace port {
namespace {

constexpr int caught[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end, the only state the handler touches.
std::atomic<int> writeEnd{-1};
int readEnd = -1;

void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    const int fd = writeEnd.load(std::memory_order_relaxed);
    // A full pipe drops the signal: enough of the same kind wait already.
    if (fd >= 0) {
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

bool ControlSignals::open()
{
    if (open_)
        return true;
    if (readEnd >= 0)
        return false; // another object holds the signals
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    readEnd = ends[0];
    writeEnd.store(ends[1]);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : caught)
        ::sigaction(signal, &action, nullptr);
    open_ = true;
    return true;
}

ControlSignals::~ControlSignals()
{
    if (!open_)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : caught)
        ::sigaction(signal, &action, nullptr);
    ::close(writeEnd.exchange(-1));
    ::close(readEnd);
    readEnd = -1;
}

int ControlSignals::fd() const
{
    return open_ ? readEnd : -1;
}

std::vector<ControlSignal> ControlSignals::take()
{
    std::vector<ControlSignal> taken;
    if (!open_)
        return taken;
    char bytes[64];
    ssize_t n;
    while ((n = ::read(readEnd, bytes, sizeof bytes)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // EAGAIN: nothing more waits
        }
        for (ssize_t i = 0; i < n; ++i) {
            switch (bytes[i]) {
            case SIGTERM: taken.push_back(ControlSignal::Terminate); break;
            case SIGINT: taken.push_back(ControlSignal::Interrupt); break;
            case SIGHUP: taken.push_back(ControlSignal::Hangup); break;
            default: break;
            }
        }
    }
    return taken;
}

void ignore_broken_pipes()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

int wait_readable(const int* fds, bool* ready, int count, int timeout_ms)
{
    constexpr int MAX_FDS = 16;
    if (count < 0 || count > MAX_FDS)
        return -1;
    pollfd polled[MAX_FDS] = {};
    for (int i = 0; i < count; ++i) {
        polled[i].fd = fds[i]; // poll() skips a negative descriptor
        polled[i].events = POLLIN;
        ready[i] = false;
    }
    int r = poll_until(polled, static_cast<nfds_t>(count), Deadline(timeout_ms));
    if (r <= 0)
        return r;
    int found = 0;
    for (int i = 0; i < count; ++i) {
        ready[i] = fds[i] >= 0 && (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        found += ready[i] ? 1 : 0;
    }
    return found;
}

} // namespace port
