#pragma once
// The signals by which a service manager or a desktop session ends a
// program or asks it to read its configuration again, turned into events
// that the program's own loop takes in its own time.
// POSIX: SIGTERM, SIGINT and SIGHUP are caught by a handler that writes
// to a pipe, so that a poll loop or a toolkit's descriptor watch sees them;
// started children get the default handling back (Process::start_hidden).
// Windows: these signals do not reach a windowed program; open() fails.

#include <vector>

namespace port {

enum class ControlSignal { Terminate, Interrupt, Hangup };

class ControlSignals {
public:
    ControlSignals() = default;
    ControlSignals(const ControlSignals&) = delete;
    ControlSignals& operator=(const ControlSignals&) = delete;
    // Gives the three signals their default handling back.
    ~ControlSignals();

    // Catches the signals from now on, for the whole process; one object
    // at a time may. False when they cannot be caught here.
    bool open();
    bool is_open() const { return open_; }
    // A descriptor that polls readable while a caught signal waits to be
    // taken; -1 when not open.
    int fd() const;
    // The signals caught since the last call, in the order they came,
    // without waiting.
    std::vector<ControlSignal> take();

private:
    bool open_ = false;
};

// Writes to a pipe or socket whose reader has gone fail (EPIPE) instead of
// ending the process, so that a lost standard error (a log reader that
// ended) cannot end a manager and leave its workers behind. Started
// children get the default back. Windows: nothing to do.
void ignore_broken_pipes();

// Waits until one of `count` descriptors polls readable or timeout_ms have
// passed (negative: no limit); ready[i] tells which. A descriptor of -1 is
// left out. Returns the number ready, 0 after the time-out, -1 on failure.
// Windows: descriptors cannot be waited on this way; only the time passes.
int wait_readable(const int* fds, bool* ready, int count, int timeout_ms);

} // namespace port
