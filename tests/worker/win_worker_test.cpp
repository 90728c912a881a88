// The Windows worker under Wine, with this test as its manager: the named
// stop event, the real vantrel.exe started hidden with the nine words, and a
// message-only window that receives its WM_COPYDATA report. A serial port
// cannot be backed by a pseudo-terminal here, so the TCP side is checked
// with a port that does not exist: the client gets the error line.

#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"
#include "port/socket.h"
#include "support/deadline.h"
#include "support/loopback.h"
#include "support/names.h"
#include "support/reports.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace support;

namespace {

const std::string ERROR_LINE = "Error: can not open port to execution environment\n";

class SocketLibrary : public ::testing::Environment {
public:
    void SetUp() override
    {
        port::SocketLibraryInfo info;
        ASSERT_EQ(port::socket_startup(info), 0);
    }
    void TearDown() override { port::socket_cleanup(); }
};
[[maybe_unused]] const auto* const socket_library = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

// A listening socket on a port of the system's choice.
port::Socket listener(uint16_t& port)
{
    port::Socket s = port::Socket::stream();
    EXPECT_TRUE(s.valid());
    EXPECT_TRUE(s.bind(0, 0));
    EXPECT_TRUE(s.listen(1));
    port = s.local_port();
    return s;
}

// True while somebody listens on the port, read from the system's TCP
// table. (Probing with a bind of our own could take the port from the
// worker while it starts.)
bool port_taken(uint16_t port)
{
    ULONG size = 0;
    if (GetTcpTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::vector<char> buffer(size);
    auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
    if (GetTcpTable(table, &size, FALSE) != NO_ERROR)
        return false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW& row = table->table[i];
        if (row.dwState == MIB_TCP_STATE_LISTEN && ntohs(static_cast<u_short>(row.dwLocalPort)) == port)
            return true;
    }
    return false;
}

class WindowsWorker : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(receiver.open());
        event_name = unique_name("Stop");
        event = port::NamedEvent::create(event_name);
        ASSERT_TRUE(event.valid());
    }
    void TearDown() override
    {
        if (worker.valid()) {
            event.set();
            if (worker.wait(5000) != port::WaitResult::Ended)
                worker.terminate(0);
        }
    }

    bool start(const std::string& tcp, const std::string& serial, const std::string& event_word)
    {
        std::string line = quote(VANTREL_EXE) + " " + quote(event_word) + " " + quote(tcp) + " " + quote(serial)
                           + " 19200 0 0 0 " + std::to_string(receiver.target());
        return port::Process::start_hidden(line, worker);
    }

    // Waits for the worker's end; reports are messages, so they are handled
    // (and kept in late_reports) while waiting.
    bool wait_for_end(int timeout_ms)
    {
        return wait_until([&] {
            receiver.dispatch([&](uint32_t pid, const char* text) {
                late_reports.emplace_back(pid, text);
                return true;
            });
            return worker.wait(0) == port::WaitResult::Ended;
        }, timeout_ms);
    }

    long long stop_and_time()
    {
        auto begin = Clock::now();
        event.set();
        return wait_for_end(15000) ? ms_since(begin) : -1;
    }

    port::ReportReceiver receiver;
    std::string event_name;
    port::NamedEvent event;
    port::Process worker;
    std::vector<Report> late_reports;
};

} // namespace

TEST_F(WindowsWorker, TakenPortIsReportedOnceByWmCopyData)
{
    uint16_t taken = 0;
    port::Socket holder = listener(taken);
    ASSERT_NE(taken, 0);
    ASSERT_TRUE(start(std::to_string(taken), "COM199", event_name));
    auto got = collect_reports(receiver, 20000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, worker.id());
    EXPECT_EQ(got[0].second, "bind: Address already in use");
    EXPECT_EQ(worker.wait(15000), port::WaitResult::Ended);
    uint32_t code = 1;
    ASSERT_TRUE(worker.exit_code(code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(collect_reports(receiver, 200).empty()) << "more than one report";
}

TEST_F(WindowsWorker, AManagerThatTakesNoMessagesHoldsTheReportAtMostFiveSeconds)
{
    uint16_t taken = 0;
    port::Socket holder = listener(taken);
    ASSERT_NE(taken, 0);
    ASSERT_TRUE(start(std::to_string(taken), "COM199", event_name));
    // This thread takes no message meanwhile, as a manager inside its wait
    // for stopping workers: the report's send gives up, and the worker ends.
    ASSERT_EQ(worker.wait(20000), port::WaitResult::Ended) << "the worker waits for the report to be taken";
    uint32_t code = 1;
    ASSERT_TRUE(worker.exit_code(code));
    EXPECT_EQ(code, 0u);
}

TEST_F(WindowsWorker, ClientGetsTheErrorLineAndTheStopIsSilent)
{
    const uint16_t tcp = free_port();
    ASSERT_TRUE(start(std::to_string(tcp), "COM199", event_name));
    port::Socket first = connect_loopback(tcp, 20000);
    ASSERT_TRUE(first.valid());
    EXPECT_EQ(recv_exactly(first, ERROR_LINE.size(), 20000), ERROR_LINE);
    // A client that leaves makes room for the next, who is told the same.
    first.close();
    port::Socket second = connect_loopback(tcp, 20000);
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(recv_exactly(second, ERROR_LINE.size(), 20000), ERROR_LINE);

    long long ms = stop_and_time();
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, PROMPT_STOP_MS);
    EXPECT_TRUE(late_reports.empty()) << "a stop must not report";
    uint32_t code = 1;
    ASSERT_TRUE(worker.exit_code(code));
    EXPECT_EQ(code, 0u);
}

TEST_F(WindowsWorker, StopWhileWaitingForAClient)
{
    const uint16_t tcp = free_port();
    ASSERT_TRUE(start(std::to_string(tcp), "COM199", event_name));
    ASSERT_TRUE(wait_until([&] { return port_taken(tcp); }, 20000)) << "the worker does not listen";
    long long ms = stop_and_time();
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, PROMPT_STOP_MS);
    EXPECT_TRUE(late_reports.empty());
    EXPECT_TRUE(wait_until([&] { return !port_taken(tcp); }, 5000));
}

TEST_F(WindowsWorker, UnknownEventEndsItAtItsFirstWait)
{
    ASSERT_TRUE(start(std::to_string(free_port()), "COM199", unique_name("NoSuchEvent")));
    EXPECT_TRUE(wait_for_end(15000));
    EXPECT_TRUE(late_reports.empty());
}

TEST_F(WindowsWorker, EndsWithItsKilledManager)
{
    TempDir dir;
    const std::string pid_file = dir / "worker.pid";
    const uint16_t tcp = free_port();
    port::Process manager;
    ASSERT_TRUE(port::Process::start_hidden(quote(MANAGER_HELPER) + " VantrelTestManager " + quote(pid_file) + " "
                                                + std::to_string(tcp) + " COM199 19200 0 0 0",
                                            manager));
    DWORD pid = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            pid = static_cast<DWORD>(std::atoll(read_file(pid_file).c_str()));
            return pid != 0;
        },
        20000));
    HANDLE worker_process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(worker_process, nullptr);
    ASSERT_TRUE(wait_until([&] { return port_taken(tcp); }, 20000)) << "the worker does not listen";
    // A client is being drained when the manager goes.
    port::Socket client = connect_loopback(tcp, 20000);
    ASSERT_TRUE(client.valid());
    EXPECT_EQ(recv_exactly(client, ERROR_LINE.size(), 20000), ERROR_LINE);

    manager.terminate(1);
    ASSERT_EQ(manager.wait(10000), port::WaitResult::Ended);
    EXPECT_EQ(WaitForSingleObject(worker_process, 10000), WAIT_OBJECT_0) << "the worker outlived its manager";
    CloseHandle(worker_process);
    EXPECT_TRUE(wait_until([&] { return !port_taken(tcp); }, 5000));
}
