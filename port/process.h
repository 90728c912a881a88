#pragma once
// The processes that join the manager and its workers: the running
// executable, starting a hidden child, its end and its exit code. Windows:
// the Win32 calls of the same purpose (GetModuleFileNameA, CreateProcessA,
// GetExitCodeProcess, WaitForSingleObject, TerminateProcess). POSIX: the
// same observable effects (see posix/process.cpp). The stop event is in
// named_event.h, the one-manager claim in single_instance.h.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace port {

// Full path of the running executable.
std::string module_path();

uint32_t current_process_id();

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

    // Variables that a child gets beside this process's own environment:
    // each name with its value, or without the variable for an empty value
    // (so that one of this process's own never reaches the child in its
    // place). Names are compared as the system does (Windows: in any letter
    // case).
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Starts command_line, split by the Windows command-line rules (its
    // first word the quoted executable path), hidden, with this process's
    // standard handles and no other inherited descriptor, and this
    // process's environment changed by `environment`. On POSIX it runs in
    // a session of its own, so that a terminal's signals (SIGINT, SIGHUP)
    // reach only this process. False when the process could not be
    // created (on POSIX also when the program could not be executed).
    static bool start_hidden(const std::string& command_line, Process& out, const Environment& environment = {});

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
