// The status report on Windows counts only from the process it names:
// another process that names a worker's process id is not heard, nor a
// window of the named process that does not confirm the text, while a
// process that reports for itself is.

#include "port/client_report.h"
#include "port/process.h"
#include "port/report.h"
#include "support/deadline.h"
#include "support/names.h"
#include "support/reports.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <windows.h>

using namespace support;

namespace {

LRESULT CALLBACK confirming_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return message == WM_COPYDATA ? TRUE : DefWindowProcA(window, message, wparam, lparam);
}

// Sends the receiver a report naming this process, `bytes` of `text` long,
// from a window of this process: one that answers the receiver's question
// with yes, or one that answers no question (as a window the sender did
// not make for its report would).
LRESULT send_from_own_window(HWND receiver, const std::string& text, DWORD bytes, bool confirming)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = confirming_procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VantrelTestConfirming";
    RegisterClassA(&wc);
    HWND own = CreateWindowExA(0, confirming ? wc.lpszClassName : "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               nullptr, nullptr);
    if (!own)
        return -1;
    COPYDATASTRUCT data{};
    data.dwData = GetCurrentProcessId();
    data.cbData = bytes;
    data.lpData = const_cast<char*>(text.c_str());
    DWORD_PTR result = FALSE;
    SendMessageTimeoutA(receiver, WM_COPYDATA, reinterpret_cast<WPARAM>(own), reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG, 10000, &result);
    DestroyWindow(own);
    return static_cast<LRESULT>(result);
}

} // namespace

TEST(ReportSender, OnlyTheProcessTheReportNamesIsHeard)
{
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    const std::string target = std::to_string(receiver.target());
    int handled = 0;
    uint32_t from = 0;
    auto take = [&](uint32_t process_id, const char*) {
        ++handled;
        from = process_id;
        return true;
    };

    // Another process names this one.
    port::Process liar;
    ASSERT_TRUE(port::Process::start_hidden(
        quote(PORT_TEST_HELPER) + " report-as " + target + " " + std::to_string(GetCurrentProcessId()) + " forged",
        liar));
    const Deadline deadline(20000);
    while (liar.wait(20) != port::WaitResult::Ended && !deadline.expired())
        receiver.dispatch(take);
    receiver.dispatch(take);
    EXPECT_EQ(handled, 0) << "a report for another process id was taken";

    // From a window of the named process: taken only when it confirms the
    // text, which ends at the bytes that came.
    std::string last;
    auto send = [&](const std::string& text, DWORD bytes, bool confirming) {
        LRESULT answer = -2;
        std::thread sender([&] {
            answer = send_from_own_window(reinterpret_cast<HWND>(receiver.target()), text, bytes, confirming);
        });
        const Deadline until(20000);
        while (answer == -2 && !until.expired()) {
            receiver.dispatch([&](uint32_t process_id, const char* got) {
                last = got;
                return take(process_id, got);
            });
            Sleep(10);
        }
        sender.join();
        return answer;
    };
    EXPECT_EQ(send("borrowed", 9, false), FALSE);
    EXPECT_EQ(handled, 0) << "a report from a window that confirms nothing was taken";
    EXPECT_EQ(send("abcd", 3, true), TRUE);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(last, "abc");
    handled = 0;

    // A sender that names itself is heard.
    port::Process honest;
    ASSERT_TRUE(port::Process::start_hidden(quote(PORT_TEST_HELPER) + " report " + target + " honest", honest));
    const auto got = collect_reports(receiver, 20000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, honest.id());
    EXPECT_EQ(got[0].second, "honest");
    EXPECT_EQ(honest.wait(15000), port::WaitResult::Ended);
}

// A report that comes while other code on the receiver's thread takes
// messages (here another receiver's dispatch) waits for the next dispatch.
TEST(ReportSender, AReportThatComesWhileAnotherReceiverDispatchesIsKept)
{
    port::ReportReceiver receiver;
    port::ClientReportReceiver clients;
    ASSERT_TRUE(receiver.open());
    ASSERT_TRUE(clients.open([](uint32_t, const port::ClientReport&) {}));
    port::Process worker;
    ASSERT_TRUE(port::Process::start_hidden(
        quote(PORT_TEST_HELPER) + " report " + std::to_string(receiver.target()) + " kept", worker));
    const Deadline deadline(20000);
    while (worker.wait(10) != port::WaitResult::Ended && !deadline.expired())
        clients.dispatch();
    ASSERT_EQ(worker.wait(0), port::WaitResult::Ended);
    std::vector<std::pair<uint32_t, std::string>> got;
    EXPECT_EQ(receiver.dispatch([&](uint32_t process_id, const char* text) {
        got.emplace_back(process_id, text);
        return true;
    }),
              1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, worker.id());
    EXPECT_EQ(got[0].second, "kept");
}
