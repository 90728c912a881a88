// Client reports on Windows: WM_COPYDATA to the manager's message-only
// window, whose handle is the target. A worker's reports wait in a queue
// for a thread of its own, which sends them one by one with a bounded wait
// from a message-only window of its own: a manager busy elsewhere (waiting
// for a stopping worker, say) holds that thread, never the relay.
//
// The receiver learns the sender's process from that window (wParam) and,
// while the send still waits, asks the window to confirm the very record:
// the window's thread is the one that sends, so it answers from inside its
// own send. A window of the worker that another process names as its
// sender confirms nothing but the worker's own reports.

#include "port/client_report.h"

#include <deque>
#include <mutex>
#include <thread>
#include <windows.h>

namespace port {

namespace {

// The data words of a report and of the receiver's question.
constexpr ULONG_PTR REPORT_DATA = 0x5643'5231;
constexpr ULONG_PTR CONFIRM_DATA = 0x5643'5243;
// How long one send waits for the manager; once the sender is being
// destroyed (the worker ends), how long each report still queued gets, and
// how long the end waits for the thread at most: a manager that waits for
// this worker to end takes no message meanwhile, and must not be kept
// waiting by it.
constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr UINT LAST_CHANCE_MS = 250;
constexpr DWORD END_WAIT_MS = 300;
constexpr UINT CONFIRM_TIMEOUT_MS = 2000;
// Reports a stalled manager leaves waiting at most.
constexpr size_t QUEUE_LIMIT = 256;

const char* const SENDER_CLASS = "VantrelClientReportSender";
const char* const RECEIVER_CLASS = "VantrelClientReportReceiver";

// The record the send in progress on this thread carries.
thread_local const client_report_wire::Record* record_being_sent = nullptr;

LRESULT CALLBACK sender_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        const client_report_wire::Record* record = record_being_sent;
        return data && record && data->dwData == CONFIRM_DATA && data->lpData && data->cbData == sizeof *record
               && std::memcmp(data->lpData, record, sizeof *record) == 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND message_window(const char* class_name, WNDPROC procedure)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassA(&wc); // fails harmlessly when registered already
    return CreateWindowExA(0, class_name, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

} // namespace

// ---------------------------------------------------------------------------
// Worker side.

struct ClientReportSender::State {
    HWND target = nullptr;
    HANDLE work = nullptr; // set while the queue holds something or the end is asked
    HANDLE done = nullptr; // set by the thread when it ends
    std::mutex lock;
    std::deque<ClientReport> queue;
    bool ending = false;
    bool running = false;

    ~State()
    {
        if (work)
            CloseHandle(work);
        if (done)
            CloseHandle(done);
    }

    void run()
    {
        HWND sender = message_window(SENDER_CLASS, sender_procedure);
        for (;;) {
            WaitForSingleObject(work, INFINITE);
            for (;;) {
                ClientReport report;
                bool last_chance = false;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (queue.empty())
                        break;
                    report = queue.front();
                    queue.pop_front();
                    last_chance = ending;
                }
                const client_report_wire::Record record = client_report_wire::encode(report);
                COPYDATASTRUCT data{};
                data.dwData = REPORT_DATA;
                data.cbData = sizeof record;
                data.lpData = const_cast<client_report_wire::Record*>(&record);
                // Not SMTO_BLOCK: the receiver's question must reach the
                // sender window meanwhile.
                record_being_sent = &record;
                DWORD_PTR result = 0;
                SendMessageTimeoutA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                                    reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                                    last_chance ? LAST_CHANCE_MS : SEND_TIMEOUT_MS, &result);
                record_being_sent = nullptr;
            }
            std::lock_guard<std::mutex> guard(lock);
            if (ending && queue.empty())
                break;
        }
        if (sender)
            DestroyWindow(sender);
        SetEvent(done);
    }
};

ClientReportSender::ClientReportSender(uintptr_t target) : state_(std::make_shared<State>())
{
    HWND window = reinterpret_cast<HWND>(target);
    if (target == 0 || !IsWindow(window))
        return;
    state_->work = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    state_->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!state_->work || !state_->done)
        return;
    state_->target = window;
    try {
        // The thread shares the state, so that it may outlive the sender
        // for the last moments of the process (see the destructor).
        std::thread([state = state_] { state->run(); }).detach();
        state_->running = true;
    } catch (...) {
        state_->target = nullptr;
    }
}

ClientReportSender::~ClientReportSender()
{
    if (!state_->running)
        return;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->ending = true;
    }
    SetEvent(state_->work);
    // A send still held by a manager that waits for this worker is left to
    // the end of the process.
    WaitForSingleObject(state_->done, END_WAIT_MS);
}

bool ClientReportSender::reaches_receiver() const
{
    return state_->target != nullptr;
}

bool ClientReportSender::send(const ClientReport& report)
{
    if (!state_->running)
        return false;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        // Progress only says the latest counts: a newer one replaces the
        // one still waiting behind.
        if (report.kind == ClientReport::Kind::Progress && !state_->queue.empty()
            && state_->queue.back().kind == ClientReport::Kind::Progress)
            state_->queue.back() = report;
        else if (state_->queue.size() < QUEUE_LIMIT)
            state_->queue.push_back(report);
        else
            return false;
    }
    SetEvent(state_->work);
    return true;
}

// ---------------------------------------------------------------------------
// Manager side.

namespace {

// What the receiver's window procedure reaches through the window.
struct ReceiverHandler {
    ClientReportReceiver::Handler handler;
    int handled = 0;
};

LRESULT CALLBACK receiver_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* state = reinterpret_cast<ReceiverHandler*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != WM_COPYDATA || !state)
        return DefWindowProcA(window, message, wparam, lparam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    ClientReport report;
    if (!data || data->dwData != REPORT_DATA || !data->lpData
        || !client_report_wire::decode(data->lpData, data->cbData, report))
        return FALSE;
    HWND sender = reinterpret_cast<HWND>(wparam);
    DWORD process_id = 0;
    if (!sender || !GetWindowThreadProcessId(sender, &process_id) || process_id == 0)
        return FALSE;
    // The copy the question carries: the data of the message is the
    // system's and gone once this returns.
    client_report_wire::Record record;
    std::memcpy(&record, data->lpData, sizeof record);
    COPYDATASTRUCT question{};
    question.dwData = CONFIRM_DATA;
    question.cbData = sizeof record;
    question.lpData = &record;
    DWORD_PTR answer = FALSE;
    if (!SendMessageTimeoutA(sender, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&question), SMTO_ABORTIFHUNG,
                             CONFIRM_TIMEOUT_MS, &answer)
        || answer != TRUE)
        return FALSE;
    ++state->handled;
    if (state->handler)
        state->handler(process_id, report);
    return TRUE;
}

} // namespace

struct ClientReportReceiver::State {
    HWND window = nullptr;
    ReceiverHandler receiver;
};

ClientReportReceiver::ClientReportReceiver() : state_(std::make_unique<State>()) {}

ClientReportReceiver::~ClientReportReceiver()
{
    if (state_->window)
        DestroyWindow(state_->window);
}

bool ClientReportReceiver::open(Handler handler)
{
    if (state_->window)
        return true;
    HWND window = message_window(RECEIVER_CLASS, receiver_procedure);
    if (!window)
        return false;
    state_->receiver.handler = std::move(handler);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state_->receiver));
    state_->window = window;
    return true;
}

uintptr_t ClientReportReceiver::target() const
{
    return reinterpret_cast<uintptr_t>(state_->window);
}

int ClientReportReceiver::fd() const
{
    return -1;
}

int ClientReportReceiver::dispatch()
{
    if (!state_->window)
        return 0;
    state_->receiver.handled = 0;
    // Peeking delivers the messages other threads and processes have sent
    // to this thread's windows.
    MSG msg;
    for (int turn = 0; turn < 256 && PeekMessageA(&msg, state_->window, 0, 0, PM_REMOVE); ++turn)
        DispatchMessageA(&msg);
    return state_->receiver.handled;
}

} // namespace port
