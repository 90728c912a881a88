// Named events on Windows: manual-reset events that every account may open.

#include "port/named_event.h"
#include "port/win32/open_security.h"

#include <windows.h>

namespace port {

struct NamedEvent::State {
    HANDLE handle; // never null: a state exists only for an open event
};

void NamedEvent::StateDeleter::operator()(State* state) const noexcept
{
    delete state;
}

NamedEvent::~NamedEvent()
{
    close();
}

NamedEvent NamedEvent::create(const std::string& name)
{
    NamedEvent event;
    if (name.empty())
        return event;
    OpenSecurity security;
    HANDLE h = CreateEventA(security.get(), TRUE, FALSE, name.c_str());
    if (h)
        event.state_.reset(new State{h});
    return event;
}

NamedEvent NamedEvent::open(const std::string& name)
{
    NamedEvent event;
    if (name.empty())
        return event;
    HANDLE h = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    if (h)
        event.state_.reset(new State{h});
    return event;
}

bool NamedEvent::set()
{
    return valid() && SetEvent(state_->handle);
}

bool NamedEvent::reset()
{
    return valid() && ResetEvent(state_->handle);
}

bool NamedEvent::is_set() const
{
    return wait(0);
}

bool NamedEvent::wait(int timeout_ms) const
{
    return valid()
           && WaitForSingleObject(state_->handle, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms))
                  == WAIT_OBJECT_0;
}

intptr_t NamedEvent::native() const
{
    return valid() ? reinterpret_cast<intptr_t>(state_->handle) : -1;
}

void remove_abandoned_events(const std::string&)
{
    // The system removes an event with its last handle: nothing is left.
}

void NamedEvent::close()
{
    // The system removes the object with its last handle.
    if (!state_)
        return;
    CloseHandle(state_->handle);
    state_.reset();
}

} // namespace port
