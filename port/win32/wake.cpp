// Wake objects on Windows: HANDLEs waited on with WaitForMultipleObjects.
// The in-process event is an unnamed manual-reset event; the manager is
// watched through a SYNCHRONIZE handle of the process that owns the report
// window.

#include "port/wake.h"

#include <windows.h>

namespace port {

namespace {

HANDLE h(intptr_t native) { return reinterpret_cast<HANDLE>(native); }

} // namespace

bool WakeSet::wait(int timeout_ms) const
{
    const DWORD timeout = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    if (empty()) {
        if (timeout_ms > 0)
            Sleep(timeout);
        return false;
    }
    HANDLE handles[CAPACITY];
    for (int i = 0; i < count_; ++i)
        handles[i] = h(items_[i]);
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(count_), handles, FALSE, timeout);
    // A failed wait counts as signalled: it could never end otherwise.
    return r != WAIT_TIMEOUT;
}

WakeEvent::WakeEvent()
{
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    handle_ = e ? reinterpret_cast<intptr_t>(e) : -1;
}

WakeEvent::~WakeEvent()
{
    if (valid())
        CloseHandle(h(handle_));
}

bool WakeEvent::valid() const { return handle_ != -1; }

void WakeEvent::set()
{
    if (valid())
        SetEvent(h(handle_));
}

void WakeEvent::reset()
{
    if (valid())
        ResetEvent(h(handle_));
}

intptr_t WakeEvent::native() const { return handle_; }

ManagerWatch::~ManagerWatch()
{
    if (handle_ != -1)
        CloseHandle(h(handle_));
}

ManagerWatch::State ManagerWatch::watch(uintptr_t report_target)
{
    if (report_target == 0)
        return State::None;
    if (handle_ != -1)
        return State::Watching;
    HWND window = reinterpret_cast<HWND>(report_target);
    DWORD process_id = 0;
    if (!GetWindowThreadProcessId(window, &process_id) || process_id == 0)
        return State::Gone; // no such window: its manager has ended
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
    if (!process)
        return State::Unknown;
    // The window must still be there: otherwise the id may already name
    // another process.
    DWORD again = 0;
    if (!GetWindowThreadProcessId(window, &again) || again != process_id) {
        CloseHandle(process);
        return State::Gone;
    }
    handle_ = reinterpret_cast<intptr_t>(process);
    return State::Watching;
}

} // namespace port
