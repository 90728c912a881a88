#pragma once
// What a worker's waits sleep on beside their socket or serial port, so
// that an idle worker does not wake until something happens: the stop
// event, the end of the manager process, and in-process events that end a
// relay's pumps.
//
// Windows: HANDLEs that become signalled (events, processes), waited on
// with WaitForMultipleObjects. POSIX: descriptors that poll readable once
// signalled (the stop event's FIFO, an eventfd, a pidfd).

#include <cstdint>

namespace port {

// A handful of waitable objects, any one of which ends a wait. The set
// holds only their native values: the objects stay with their owners and
// must outlive every wait on the set.
class WakeSet {
public:
    static constexpr int CAPACITY = 4;

    // Adds what native() of a NamedEvent, WakeEvent or ManagerWatch gives;
    // -1 (an object that is not open) and a full set are ignored (false).
    bool add(intptr_t native)
    {
        if (native < 0 || count_ == CAPACITY)
            return false;
        items_[count_++] = native;
        return true;
    }
    bool empty() const { return count_ == 0; }
    int size() const { return count_; }
    intptr_t operator[](int i) const { return items_[i]; }

    // True when one of them is signalled now; does not wait. False for an
    // empty set.
    bool signalled() const { return !empty() && wait(0); }
    // Waits at most timeout_ms (negative: no limit) for one of them; true
    // when one is signalled. An empty set waits out a limited time and
    // answers false; without a limit it answers false at once, as nothing
    // could end the wait.
    bool wait(int timeout_ms) const;

private:
    intptr_t items_[CAPACITY] = {};
    int count_ = 0;
};

// An in-process manual-reset event: set() wakes every wait on it, and it
// stays set until reset(). Windows: an unnamed event. POSIX: an eventfd.
class WakeEvent {
public:
    WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    ~WakeEvent();

    bool valid() const;
    void set();
    void reset();
    intptr_t native() const;

private:
    intptr_t handle_ = -1;
};

// The manager a worker reports to, watched so that its end can be waited
// on. The manager is the process owning the report target: on Windows the
// process of the window whose handle the target is; on POSIX the worker's
// parent, which started it and holds the report endpoint that the target
// names.
class ManagerWatch {
public:
    ManagerWatch() = default;
    ManagerWatch(const ManagerWatch&) = delete;
    ManagerWatch& operator=(const ManagerWatch&) = delete;
    ~ManagerWatch();

    enum class State {
        None,     // target 0: nobody to watch
        Watching, // native() becomes signalled when the manager ends
        Gone,     // the target names no live manager any more
        Unknown,  // the manager could not be watched (POSIX: a kernel without pidfd)
    };
    // Starts watching the manager behind report_target; call once.
    State watch(uintptr_t report_target);
    // -1 unless watch() answered Watching.
    intptr_t native() const { return handle_; }

private:
    intptr_t handle_ = -1; // Windows: a process HANDLE; POSIX: a pidfd
};

} // namespace port
