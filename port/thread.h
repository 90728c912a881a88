#pragma once
// Threads whose end can be waited for beside a stop event. Windows: a
// CreateThread handle, and WaitForMultipleObjects over the event and the
// handles. POSIX: each thread signals a descriptor of its own when its body
// returns, and poll() watches those and the event's descriptor.

#include "port/named_event.h"
#include "port/wake.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

namespace port {

class Thread {
public:
    Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Joins a thread that is still running.
    ~Thread();

    // Runs body on a new thread, started at once; false when the thread
    // could not be created (the body then never runs). POSIX names the
    // thread (at most 15 characters) for process listings and debuggers.
    bool start(std::function<void()> body, const char* name = nullptr);
    bool started() const;
    // True once the body has returned; does not wait.
    bool ended() const;
    // Waits for the body to return and releases the thread.
    void join();

    // Windows: the thread HANDLE. POSIX: a descriptor that polls readable
    // once the body has returned.
    intptr_t native() const;

private:
    struct State; // per platform
    std::unique_ptr<State> state_;
};

// What wait_any saw.
enum : int { WAITED_EVENT = 0, WAITED_THREAD = 1, WAITED_TIMEOUT = -1, WAITED_FAILED = -2 };

// Waits until the event is set or one of the threads has ended, at most
// timeout_ms (negative: no limit). Returns WAITED_EVENT, WAITED_THREAD + the
// index of an ended thread, WAITED_TIMEOUT or WAITED_FAILED. A null or invalid
// event, or a thread that was not started, counts as a failure, as a wait on
// a missing handle does on Windows.
int wait_any(const NamedEvent* event, std::initializer_list<const Thread*> threads, int timeout_ms);
// The same with a set of wake objects in place of the event: WAITED_EVENT
// when one of them is signalled. An empty set counts as a failure.
int wait_any(const WakeSet& wake, std::initializer_list<const Thread*> threads, int timeout_ms);

} // namespace port
