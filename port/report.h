#pragma once
// A worker's final status report to the manager: its process id and one
// zero-terminated text. Windows: SendMessageTimeoutA (SMTO_ABORTIFHUNG, 5 s)
// with WM_COPYDATA to the window handle of the worker's eighth argument.
// POSIX: a datagram to the report endpoint that the same number names,
// acknowledged by the manager.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace port {

// Worker side: delivers {process_id, byte count including the terminating
// zero, text} to `target` and waits, bounded, until the receiver has handled
// it, at most 5 s. A target of 0 sends nothing.
void send_report(uintptr_t target, uint32_t process_id, const char* text);

// Worker side: true while a receiver holds the target (Windows: a window
// with that handle exists; POSIX: somebody has the report endpoint bound).
bool report_target_present(uintptr_t target);

// Manager side, Windows: the report a WM_COPYDATA message carries (its
// wParam and lParam): the process id and the text, cut at the bytes that
// came. True only when it comes from the worker process it names: its
// sender window (wParam) belongs to that process and confirms the text
// while the worker waits (see win32/report.cpp). POSIX has no such
// message: false.
bool read_report(uintptr_t wparam, intptr_t lparam, uint32_t& process_id, std::string& text);

// Manager side. POSIX: a datagram endpoint. Windows: a message-only window
// that takes WM_COPYDATA (the manager's main window handles the message
// itself; this serves programs without one).
class ReportReceiver {
public:
    ReportReceiver();
    ReportReceiver(const ReportReceiver&) = delete;
    ReportReceiver& operator=(const ReportReceiver&) = delete;
    ~ReportReceiver();

    // Opens the endpoint; false on failure.
    bool open();
    // The number a worker receives as its eighth argument; 0 when not open.
    uintptr_t target() const;
    // POSIX: a descriptor that polls readable while a report is waiting.
    // Windows: -1 (reports arrive as messages to this thread).
    int fd() const;
    // Handles every waiting report without blocking: calls handler(process
    // id, text) and returns the number of reports handled. A report from
    // another user, or from a process other than the one whose id it
    // carries, is dropped unanswered (Windows: as read_report() decides).
    // The sender is acknowledged when the handler returns. Windows: call it
    // on the thread that opened the receiver; a report that comes while
    // other code on that thread takes messages is acknowledged then and
    // handled at the next call.
    int dispatch(const std::function<bool(uint32_t process_id, const char* text)>& handler);

private:
    struct State; // per platform; made by the constructor
    std::unique_ptr<State> state_;
};

} // namespace port
