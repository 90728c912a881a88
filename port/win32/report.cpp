// The worker's status report on Windows: one WM_COPYDATA message, sent
// synchronously with a bound of 5 s, to the window whose handle is the
// worker's eighth argument.
//
// ReportReceiver is the same receiving end as a message-only window, for a
// manager-like program that has no window of its own (the main window
// handles WM_COPYDATA itself).

#include "port/report.h"

#include <cstring>
#include <windows.h>

namespace port {

namespace {
// How long a worker waits for the manager to take its report.
constexpr UINT REPORT_TIMEOUT_MS = 5000;
} // namespace

void send_report(uintptr_t target, uint32_t process_id, const char* text)
{
    if (target == 0 || text == nullptr)
        return;
    COPYDATASTRUCT data{};
    data.dwData = process_id;
    data.cbData = static_cast<DWORD>(std::strlen(text) + 1);
    data.lpData = const_cast<char*>(text);
    // Bounded, as a manager busy elsewhere (in its wait for stopping
    // workers, say) must not hold the worker, and the worker's end must not
    // wait on a window that has stopped taking messages.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(reinterpret_cast<HWND>(target), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG, REPORT_TIMEOUT_MS, &result);
}

bool report_target_present(uintptr_t target)
{
    return target != 0 && IsWindow(reinterpret_cast<HWND>(target));
}

namespace {

const char* const RECEIVER_CLASS = "VantrelReportReceiver";

// The handler of the dispatch() in progress on this thread.
thread_local const std::function<bool(uint32_t, const char*)>* active_handler = nullptr;
thread_local int handled_count = 0;

LRESULT CALLBACK receiver_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        // The text must end within the copied bytes.
        if (!active_handler || !data || !data->lpData || data->cbData == 0
            || static_cast<const char*>(data->lpData)[data->cbData - 1] != '\0')
            return FALSE;
        ++handled_count;
        return (*active_handler)(static_cast<uint32_t>(data->dwData), static_cast<const char*>(data->lpData));
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

struct ReportReceiver::State {
    HWND window = nullptr; // the message-only window; its handle is the target
};

ReportReceiver::ReportReceiver() : state_(std::make_unique<State>()) {}

ReportReceiver::~ReportReceiver()
{
    if (state_->window)
        DestroyWindow(state_->window);
}

uintptr_t ReportReceiver::target() const
{
    return reinterpret_cast<uintptr_t>(state_->window);
}

int ReportReceiver::fd() const
{
    return -1;
}

bool ReportReceiver::open()
{
    if (state_->window)
        return true;
    WNDCLASSA wc{};
    wc.lpfnWndProc = receiver_procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = RECEIVER_CLASS;
    RegisterClassA(&wc); // fails harmlessly when registered already
    HWND window = CreateWindowExA(0, RECEIVER_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                  nullptr);
    if (!window)
        return false;
    state_->window = window;
    return true;
}

int ReportReceiver::dispatch(const std::function<bool(uint32_t process_id, const char* text)>& handler)
{
    if (!state_->window)
        return 0;
    active_handler = &handler;
    handled_count = 0;
    // Peeking delivers the messages other threads and processes have sent
    // to this thread's windows.
    MSG msg;
    for (int turn = 0; turn < 256 && PeekMessageA(&msg, state_->window, 0, 0, PM_REMOVE); ++turn)
        DispatchMessageA(&msg);
    active_handler = nullptr;
    return handled_count;
}

} // namespace port
