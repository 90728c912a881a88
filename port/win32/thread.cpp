// Threads on Windows: CreateThread handles, signalled when the thread ends,
// waited for beside the stop event with WaitForMultipleObjects.

#include "port/thread.h"

#include <memory>
#include <vector>
#include <windows.h>

namespace port {

struct Thread::State {
    HANDLE handle = nullptr;
};

namespace {

DWORD WINAPI run_body(void* parameter)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

} // namespace

Thread::Thread() = default;

Thread::~Thread()
{
    join();
}

bool Thread::start(std::function<void()> body, const char*)
{
    if (started())
        return false;
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, run_body, owned.get(), 0, &id);
    if (!h)
        return false;
    owned.release(); // the thread owns it now
    state_ = std::make_unique<State>();
    state_->handle = h;
    return true;
}

bool Thread::started() const
{
    return state_ != nullptr;
}

intptr_t Thread::native() const
{
    return state_ ? reinterpret_cast<intptr_t>(state_->handle) : -1;
}

bool Thread::ended() const
{
    return started() && WaitForSingleObject(state_->handle, 0) == WAIT_OBJECT_0;
}

void Thread::join()
{
    if (!state_)
        return;
    WaitForSingleObject(state_->handle, INFINITE);
    CloseHandle(state_->handle);
    state_.reset();
}

namespace {

// Waits on the first `objects` handles (the stop objects) and the threads'
// handles after them.
int wait_any_of(std::vector<HANDLE>& handles, size_t objects, std::initializer_list<const Thread*> threads,
                int timeout_ms)
{
    for (const Thread* t : threads) {
        if (!t || !t->started())
            return WAITED_FAILED;
        handles.push_back(reinterpret_cast<HANDLE>(t->native()));
    }
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                     timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (r == WAIT_TIMEOUT)
        return WAITED_TIMEOUT;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) {
        const size_t i = r - WAIT_OBJECT_0;
        return i < objects ? WAITED_EVENT : WAITED_THREAD + static_cast<int>(i - objects);
    }
    return WAITED_FAILED;
}

} // namespace

int wait_any(const NamedEvent* event, std::initializer_list<const Thread*> threads, int timeout_ms)
{
    if (!event || !event->valid())
        return WAITED_FAILED;
    std::vector<HANDLE> handles;
    handles.push_back(reinterpret_cast<HANDLE>(event->native()));
    return wait_any_of(handles, 1, threads, timeout_ms);
}

int wait_any(const WakeSet& wake, std::initializer_list<const Thread*> threads, int timeout_ms)
{
    if (wake.empty())
        return WAITED_FAILED;
    std::vector<HANDLE> handles;
    for (int i = 0; i < wake.size(); ++i)
        handles.push_back(reinterpret_cast<HANDLE>(wake[i]));
    return wait_any_of(handles, static_cast<size_t>(wake.size()), threads, timeout_ms);
}

} // namespace port
