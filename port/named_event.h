#pragma once
// Named events: the stop request that the manager sets and its worker polls.
// Windows: manual-reset events (CreateEventA/OpenEventA) that every account
// may open. POSIX: the same observable effects with a FIFO in a private
// folder (see posix/named_event.cpp).

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace port {

// A named, manual-reset event that another process can open by name. The
// creating object owns the name: it disappears when that object is
// destroyed. Move-only; the destructor closes it.
class NamedEvent {
public:
    NamedEvent() = default;
    NamedEvent(NamedEvent&& other) noexcept = default;
    NamedEvent& operator=(NamedEvent&& other) noexcept
    {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;
    ~NamedEvent();

    // Creates the event, initially clear; !valid() on failure. When the name
    // exists already, that event is opened with its state, as Windows does.
    static NamedEvent create(const std::string& name);
    // Opens an existing event; !valid() when there is none of that name.
    static NamedEvent open(const std::string& name);

    bool valid() const { return state_ != nullptr; }
    bool set();
    bool reset();
    // Tests without waiting.
    bool is_set() const;
    // Waits at most timeout_ms (negative: no limit); true when set.
    bool wait(int timeout_ms) const;
    // What the platform waits on: a HANDLE on Windows; on POSIX a
    // descriptor that polls readable while the event is set. -1 when not
    // valid().
    intptr_t native() const;
    void close();

private:
    // Per platform; null while no event is open. The deleter is defined
    // beside State, so that the moves above can be written here.
    struct State;
    struct StateDeleter {
        void operator()(State* state) const noexcept;
    };
    std::unique_ptr<State, StateDeleter> state_;
};

// Removes the named events that ended processes left behind: those named
// prefix + "<process id>_<number>" whose process id names no running
// process. Only POSIX has such leftovers (files of a manager that was
// killed); on Windows an event ends with its last handle.
void remove_abandoned_events(const std::string& prefix);

} // namespace port
