// The worker's status report on Windows: one WM_COPYDATA message, sent
// synchronously with a bound of 5 s, to the window whose handle is the
// worker's eighth argument.
//
// The message names its sender: a message-only window that the worker
// makes for the report (wParam, as WM_COPYDATA has it). The receiver takes
// a report only when that window belongs to the process the report names
// and, asked with a WM_COPYDATA of its own while the worker's send is
// still waiting, confirms the very text: the window's thread is the one
// that sends, so it answers from inside its own send. Another process can
// name a worker's process id, but it has no window of that process, and a
// worker's window that it borrows confirms no text but the worker's own.
// What this cannot tell apart is code run inside the worker process itself
// (another program of the same user that injects it), which could do
// anything the worker can.
//
// ReportReceiver is the same receiving end as a message-only window, for a
// manager-like program that has no window of its own (the main window
// handles WM_COPYDATA itself, through read_report()).

#include "port/report.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace port {

namespace {
// How long a worker waits for the manager to take its report, and the
// manager for the worker's confirmation.
constexpr UINT REPORT_TIMEOUT_MS = 5000;
constexpr UINT CONFIRM_TIMEOUT_MS = 2000;
// The data word of the receiver's question (the report's is a process id,
// which is never this).
constexpr ULONG_PTR CONFIRM_QUESTION = 0x5652'4331;

const char* const SENDER_CLASS = "VantrelReportSender";

// The text the report being sent on this thread carries.
thread_local const char* text_being_sent = nullptr;

LRESULT CALLBACK sender_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        const char* text = text_being_sent;
        return data && text && data->dwData == CONFIRM_QUESTION && data->lpData
               && data->cbData == std::strlen(text) + 1 && std::memcmp(data->lpData, text, data->cbData) == 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

void send_report(uintptr_t target, uint32_t process_id, const char* text)
{
    if (target == 0 || text == nullptr)
        return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = sender_procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = SENDER_CLASS;
    RegisterClassA(&wc); // fails harmlessly when registered already
    HWND sender = CreateWindowExA(0, SENDER_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    COPYDATASTRUCT data{};
    data.dwData = process_id;
    data.cbData = static_cast<DWORD>(std::strlen(text) + 1);
    data.lpData = const_cast<char*>(text);
    // Bounded, as a manager busy elsewhere (in its wait for stopping
    // workers, say) must not hold the worker, and the worker's end must not
    // wait on a window that has stopped taking messages. Not SMTO_BLOCK:
    // the receiver's question must reach the sender window meanwhile.
    text_being_sent = text;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(reinterpret_cast<HWND>(target), WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                        reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, REPORT_TIMEOUT_MS, &result);
    text_being_sent = nullptr;
    if (sender)
        DestroyWindow(sender);
}

bool read_report(uintptr_t wparam, intptr_t lparam, uint32_t& process_id, std::string& text)
{
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (!data || data->dwData == CONFIRM_QUESTION)
        return false;
    process_id = static_cast<uint32_t>(data->dwData);
    // The text ends at its terminating zero, but never beyond the bytes
    // that came with the message.
    const char* bytes = static_cast<const char*>(data->lpData);
    text = bytes ? std::string(bytes, strnlen(bytes, data->cbData)) : std::string();
    HWND sender = reinterpret_cast<HWND>(wparam);
    DWORD owner = 0;
    if (!sender || !GetWindowThreadProcessId(sender, &owner) || owner != process_id)
        return false;
    COPYDATASTRUCT question{};
    question.dwData = CONFIRM_QUESTION;
    question.cbData = static_cast<DWORD>(text.size() + 1);
    question.lpData = const_cast<char*>(text.c_str());
    DWORD_PTR answer = FALSE;
    return SendMessageTimeoutA(sender, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&question), SMTO_ABORTIFHUNG,
                               CONFIRM_TIMEOUT_MS, &answer)
           && answer == TRUE;
}

bool report_target_present(uintptr_t target)
{
    return target != 0 && IsWindow(reinterpret_cast<HWND>(target));
}

namespace {

const char* const RECEIVER_CLASS = "VantrelReportReceiver";

// What the receiver's window procedure reaches through the window: the
// handler of the dispatch() in progress, and the reports that came while
// none was. A report comes whenever this thread takes messages, also while
// other code on it does (another receiver's dispatch, a modal loop); then
// the sender is released at once and the report waits for the next
// dispatch(). Otherwise it is handled while its sender waits.
struct Receiving {
    const std::function<bool(uint32_t, const char*)>* handler = nullptr;
    int handled = 0;
    std::vector<std::pair<uint32_t, std::string>> waiting;
};

LRESULT CALLBACK receiver_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* receiving = reinterpret_cast<Receiving*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != WM_COPYDATA || !receiving)
        return DefWindowProcA(window, message, wparam, lparam);
    uint32_t process_id = 0;
    std::string text;
    if (!read_report(wparam, lparam, process_id, text))
        return FALSE;
    if (!receiving->handler) {
        receiving->waiting.emplace_back(process_id, std::move(text));
        return TRUE;
    }
    ++receiving->handled;
    return (*receiving->handler)(process_id, text.c_str());
}

} // namespace

struct ReportReceiver::State {
    HWND window = nullptr; // the message-only window; its handle is the target
    Receiving receiving;
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
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state_->receiving));
    state_->window = window;
    return true;
}

int ReportReceiver::dispatch(const std::function<bool(uint32_t process_id, const char* text)>& handler)
{
    if (!state_->window)
        return 0;
    Receiving& receiving = state_->receiving;
    receiving.handler = &handler;
    receiving.handled = 0;
    std::vector<std::pair<uint32_t, std::string>> waiting;
    waiting.swap(receiving.waiting);
    for (const auto& [process_id, text] : waiting) {
        ++receiving.handled;
        handler(process_id, text.c_str());
    }
    // Peeking delivers the messages other threads and processes have sent
    // to this thread's windows.
    MSG msg;
    for (int turn = 0; turn < 256 && PeekMessageA(&msg, state_->window, 0, 0, PM_REMOVE); ++turn)
        DispatchMessageA(&msg);
    receiving.handler = nullptr;
    return receiving.handled;
}

} // namespace port
