#pragma once
// Processes, named events and the single-instance claim that join the
// manager and its workers. Windows: the Win32 calls of the same purpose
// (GetModuleFileNameA, CreateMutexA, CreateEventA/OpenEventA, CreateProcessA,
// GetExitCodeProcess, WaitForSingleObject, TerminateProcess). POSIX: the same
// observable effects (see posix/named_event.cpp, posix/single_instance.cpp
// and posix/process.cpp).

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace port {

// Full path of the running executable.
std::string module_path();

uint32_t current_process_id();

// Machine-wide single-instance claim under `name`. True when this process
// now holds it; the claim lasts until the process ends. False when another
// live process holds it, in any session of the machine (Windows: the mutex
// "Global\<name>"; the session's own "<name>" only where the system has no
// machine-wide namespace).
bool claim_single_instance(const std::string& name);

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

// Exit code reported while a process still runs (Windows' STILL_ACTIVE).
constexpr uint32_t STILL_ACTIVE_CODE = 259;

enum class WaitResult { Ended, TimedOut, Failed };

// A started child process: what process creation returned. Move-only; the
// destructor closes the handles (it does not end the process).
class Process {
public:
    Process() = default;
    Process(Process&& other) noexcept
        : state_(std::move(other.state_)), process_id_(std::exchange(other.process_id_, 0)),
          thread_id_(std::exchange(other.thread_id_, 0))
    {
    }
    Process& operator=(Process&& other) noexcept
    {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
            process_id_ = std::exchange(other.process_id_, 0);
            thread_id_ = std::exchange(other.thread_id_, 0);
        }
        return *this;
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // Starts command_line, split by the Windows command-line rules (its
    // first word the quoted executable path), hidden, with this process's
    // standard handles and no other inherited descriptor. On POSIX it runs
    // in a session of its own, so that a terminal's signals (SIGINT,
    // SIGHUP) reach only this process. False when the process could not be
    // created (on POSIX also when the program could not be executed).
    static bool start_hidden(const std::string& command_line, Process& out);

    bool valid() const { return state_ != nullptr; }
    uint32_t id() const { return process_id_; }
    uint32_t thread_id() const { return thread_id_; }
    // Non-blocking end test: false when the query fails; code is
    // STILL_ACTIVE_CODE while the process runs.
    bool exit_code(uint32_t& code);
    // Waits at most timeout_ms for the process to end (negative: no limit).
    WaitResult wait(int timeout_ms);
    // Ends the process at once with the given exit code.
    void terminate(uint32_t exit_code);
    // Closes the process and thread handles. On POSIX a process whose end
    // was observed has been reaped; close() reaps one that has ended since.
    void close();

private:
    // Per platform: the process's handles (Windows: process and thread
    // HANDLEs; POSIX: a process descriptor where the kernel offers one, and
    // what reaping the child has learnt). Null while no process is held.
    struct State;
    struct StateDeleter {
        void operator()(State* state) const noexcept;
    };
    std::unique_ptr<State, StateDeleter> state_;
    uint32_t process_id_ = 0;
    uint32_t thread_id_ = 0;
};

} // namespace port
