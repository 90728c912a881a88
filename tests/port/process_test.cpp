// Process facilities across real processes: named events, starting hidden
// children with Windows-style command lines, exit codes, bounded waits,
// forced ends, the single-instance claim and the status report.

#include "port/named_event.h"
#include "port/process.h"
#include "port/report.h"
#include "port/thread.h"
#include "support/deadline.h"
#include "support/files.h"
#include "support/names.h"
#include "support/reports.h"
#include "support/temp_dir.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace support;

namespace {

const std::string helper = PORT_TEST_HELPER;

port::Process start_helper(const std::string& arguments)
{
    port::Process p;
    EXPECT_TRUE(port::Process::start_hidden(quote(helper) + " " + arguments, p)) << arguments;
    return p;
}

// Runs the helper to its end; its exit code, or -1 when it did not end.
int run_helper(const std::string& arguments, int timeout_ms = 20000)
{
    port::Process p = start_helper(arguments);
    if (!p.valid() || p.wait(timeout_ms) != port::WaitResult::Ended)
        return -1;
    uint32_t code = 0;
    return p.exit_code(code) ? static_cast<int>(code) : -1;
}

} // namespace

TEST(NamedEvent, SetResetAndTestAcrossHandles)
{
    std::string name = unique_name("Event");
    auto owner = port::NamedEvent::create(name);
    ASSERT_TRUE(owner.valid());
    auto other = port::NamedEvent::open(name);
    ASSERT_TRUE(other.valid());

    EXPECT_FALSE(owner.is_set());
    EXPECT_FALSE(other.is_set());
    EXPECT_TRUE(owner.set());
    EXPECT_TRUE(other.is_set());
    EXPECT_TRUE(other.is_set()) << "manual reset: testing does not clear it";
    EXPECT_TRUE(other.set()) << "setting a set event is harmless";
    EXPECT_TRUE(other.wait(0));
    EXPECT_TRUE(other.reset());
    EXPECT_FALSE(owner.is_set());
    EXPECT_FALSE(other.is_set());

    auto start = Clock::now();
    EXPECT_FALSE(other.wait(300));
    EXPECT_GE(ms_since(start), 290);

    // Creating an existing name opens it with its state.
    owner.set();
    auto again = port::NamedEvent::create(name);
    ASSERT_TRUE(again.valid());
    EXPECT_TRUE(again.is_set());
}

TEST(NamedEvent, UnknownNamesDoNotOpen)
{
    EXPECT_FALSE(port::NamedEvent::open(unique_name("Missing")).valid());
    EXPECT_FALSE(port::NamedEvent::open("").valid());
    port::NamedEvent none;
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(none.set());
    EXPECT_FALSE(none.is_set());
    EXPECT_FALSE(none.wait(0));
}

TEST(NamedEvent, DestroyingTheOwnerRemovesTheName)
{
    std::string name = unique_name("Gone");
    port::NamedEvent opened;
    {
        auto owner = port::NamedEvent::create(name);
        ASSERT_TRUE(owner.valid());
        opened = port::NamedEvent::open(name);
        ASSERT_TRUE(opened.valid());
        // Moving keeps one owner.
        port::NamedEvent moved = std::move(owner);
        EXPECT_FALSE(owner.valid());
        EXPECT_TRUE(port::NamedEvent::open(name).valid());
    }
#ifdef _WIN32
    // Windows keeps the object while any handle is open.
    opened.close();
#endif
    EXPECT_FALSE(port::NamedEvent::open(name).valid());
}

TEST(NamedEvent, NamesWithAnyCharactersStayApart)
{
    std::string base = unique_name("Odd");
    auto a = port::NamedEvent::create(base + "a b:c");
    auto b = port::NamedEvent::create(base + "a b_c");
    ASSERT_TRUE(a.valid());
    ASSERT_TRUE(b.valid());
    a.set();
    EXPECT_FALSE(b.is_set());
    EXPECT_TRUE(port::NamedEvent::open(base + "a b:c").is_set());
#ifndef _WIN32
    // A slash is a character of the name, not a folder.
    auto c = port::NamedEvent::create(base + "x/../y");
    ASSERT_TRUE(c.valid());
    EXPECT_FALSE(port::NamedEvent::open(base + "y").valid());
#endif
}

TEST(NamedEvent, SignalsBetweenProcesses)
{
    std::string name = unique_name("Cross");
    auto event = port::NamedEvent::create(name);
    ASSERT_TRUE(event.valid());

    // Another process waits for it; we set it.
    port::Process waiter = start_helper("wait-event " + quote(name) + " 20000");
    ASSERT_TRUE(waiter.valid());
    uint32_t code = 0;
    ASSERT_TRUE(waiter.exit_code(code));
    EXPECT_EQ(code, port::STILL_ACTIVE_CODE);
    event.set();
    ASSERT_EQ(waiter.wait(15000), port::WaitResult::Ended);
    ASSERT_TRUE(waiter.exit_code(code));
    EXPECT_EQ(code, 0u);

    // Another process sets it; we see it.
    event.reset();
    EXPECT_EQ(run_helper("set-event " + quote(name)), 0);
    EXPECT_TRUE(event.wait(5000));

    // A process that waits on a clear event times out.
    event.reset();
    EXPECT_EQ(run_helper("wait-event " + quote(name) + " 200"), 1);
    EXPECT_EQ(run_helper("wait-event " + quote(unique_name("Nobody")) + " 0"), 2);
}

#ifndef _WIN32
TEST(NamedEvent, DescriptorPollsReadableWhileSet)
{
    auto event = port::NamedEvent::create(unique_name("Poll"));
    ASSERT_TRUE(event.valid());
    pollfd p{static_cast<int>(event.native()), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    event.set();
    EXPECT_EQ(poll(&p, 1, 0), 1);
    EXPECT_EQ(poll(&p, 1, 0), 1);
    event.reset();
    EXPECT_EQ(poll(&p, 1, 0), 0);
}
#endif

TEST(Process, SplitsTheCommandLineByWindowsRules)
{
    TempDir dir;
    std::string out = dir / "words.txt";
    // Words: plain, grouped with blanks, empty, escaped quote, trailing
    // backslashes before a closing quote, literal backslashes, a quote in
    // the middle of a word.
    std::string line = "echo " + quote(out) + R"( plain "two words" "" "say \"hi\"" "dir\\" a\b\c x"y z"w)";
    ASSERT_EQ(run_helper(line), 0);
    EXPECT_EQ(read_file(out), "plain\ntwo words\n\nsay \"hi\"\ndir\\\na\\b\\c\nxy zw\n");
}

TEST(Process, ReportsFailureToStart)
{
    port::Process p;
    EXPECT_FALSE(port::Process::start_hidden(quote("/nonexistent/vantrel-nothing") + " a", p));
    EXPECT_FALSE(p.valid());
    EXPECT_FALSE(port::Process::start_hidden("", p));
}

TEST(Process, ExitCodeWhileRunningAndAfter)
{
    port::Process p = start_helper("sleep 400 7");
    ASSERT_TRUE(p.valid());
    EXPECT_NE(p.id(), 0u);
    EXPECT_NE(p.id(), port::current_process_id());
    uint32_t code = 0;
    ASSERT_TRUE(p.exit_code(code));
    EXPECT_EQ(code, port::STILL_ACTIVE_CODE);
    ASSERT_TRUE(wait_until([&] { return p.exit_code(code) && code != port::STILL_ACTIVE_CODE; }, 15000));
    EXPECT_EQ(code, 7u);
    // Asking again gives the same answer.
    ASSERT_TRUE(p.exit_code(code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(p.wait(0), port::WaitResult::Ended);
}

TEST(Process, BoundedWaitAndTerminate)
{
    port::Process p = start_helper("sleep 60000 5");
    ASSERT_TRUE(p.valid());
    const uint32_t pid = p.id();
    auto start = Clock::now();
    EXPECT_EQ(p.wait(300), port::WaitResult::TimedOut);
    EXPECT_GE(ms_since(start), 290);
    EXPECT_LT(ms_since(start), 10000);

    p.terminate(0);
    EXPECT_EQ(p.wait(10000), port::WaitResult::Ended);
    uint32_t code = 1;
    ASSERT_TRUE(p.exit_code(code));
    EXPECT_EQ(code, 0u);
    p.close();
    EXPECT_FALSE(p.valid());
#ifndef _WIN32
    // Reaped: no zombie is left under that id.
    struct stat st {};
    EXPECT_NE(stat(("/proc/" + std::to_string(pid)).c_str(), &st), 0);
#else
    (void)pid;
#endif
}

#ifndef _WIN32
TEST(Process, ReapsOnCloseAndPassesOnlyStandardHandles)
{
    // A descriptor without close-on-exec must not reach the child.
    int leaked = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    TempDir dir;
    std::string out = dir / "fds.txt";
    EXPECT_EQ(run_helper("fds " + quote(out)), 0);
    ::close(leaked);
    EXPECT_EQ(read_file(out), "0\n1\n2\n");

    // A child that ended unobserved is reaped by close().
    port::Process p = start_helper("sleep 0 3");
    const uint32_t pid = p.id();
    std::string stat_path = "/proc/" + std::to_string(pid) + "/stat";
    ASSERT_TRUE(wait_until([&] { return read_file(stat_path).find(") Z ") != std::string::npos; }, 15000));
    p.close();
    struct stat st {};
    EXPECT_NE(stat(stat_path.c_str(), &st), 0);
}
#endif

TEST(SingleInstance, ASecondClaimFailsUntilTheHolderEnds)
{
    std::string name = unique_name("Instance");
    std::string ready_name = unique_name("Ready");
    auto ready = port::NamedEvent::create(ready_name);
    ASSERT_TRUE(ready.valid());

    port::Process holder = start_helper("claim " + quote(name) + " " + quote(ready_name));
    ASSERT_TRUE(holder.valid());
    ASSERT_TRUE(ready.wait(15000)) << "the holder did not claim";

    EXPECT_EQ(run_helper("claim " + quote(name) + " " + quote(ready_name)), 3);
    // Another name is free.
    std::string other_ready = unique_name("Ready");
    auto other_event = port::NamedEvent::create(other_ready);
    port::Process other = start_helper("claim " + quote(unique_name("Other")) + " " + quote(other_ready));
    EXPECT_TRUE(other_event.wait(15000));
    other.terminate(0);

    holder.terminate(0);
    ASSERT_EQ(holder.wait(10000), port::WaitResult::Ended);
    ready.reset();
    port::Process next = start_helper("claim " + quote(name) + " " + quote(ready_name));
    EXPECT_TRUE(ready.wait(15000)) << "the claim was not freed by the holder's end";
    ready.reset(); // lets it end
    EXPECT_EQ(next.wait(15000), port::WaitResult::Ended);
}

TEST(Report, ReachesTheReceiverAndTheSenderWaitsForIt)
{
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    ASSERT_NE(receiver.target(), 0u);
#ifndef _WIN32
    ASSERT_LE(receiver.target(), 0x7fffffffu) << "must survive the worker's atoi";
    ASSERT_GE(receiver.fd(), 0);
#endif
    EXPECT_EQ(receiver.dispatch([](uint32_t, const char*) { return true; }), 0);

    std::string text = "bind: Address already in use";
    port::Process sender = start_helper("report " + std::to_string(receiver.target()) + " " + quote(text));
    ASSERT_TRUE(sender.valid());
    uint32_t code_while_handled = 0;
    auto got = collect_reports(receiver, 15000, [&] { sender.exit_code(code_while_handled); });
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, sender.id());
    EXPECT_EQ(got[0].second, text);
    // The sender waits until the manager has handled the report.
    EXPECT_EQ(code_while_handled, port::STILL_ACTIVE_CODE);
    auto start = Clock::now();
    EXPECT_EQ(sender.wait(15000), port::WaitResult::Ended);
    EXPECT_LT(ms_since(start), 4000) << "the acknowledgement did not release the sender";
}

TEST(Report, TargetZeroAndAMissingReceiverSendNothing)
{
    port::ReportReceiver receiver;
    ASSERT_TRUE(receiver.open());
    auto start = Clock::now();
    EXPECT_EQ(run_helper("report 0 text"), 0);
#ifndef _WIN32
    EXPECT_EQ(run_helper("report 2147483646 text"), 0);
#endif
    EXPECT_LT(ms_since(start), 4000) << "no receiver: the sender must not wait";
    EXPECT_EQ(receiver.dispatch([](uint32_t, const char*) { return true; }), 0);
}

TEST(Report, SeveralReceiversAndLongTexts)
{
    port::ReportReceiver a, b;
    ASSERT_TRUE(a.open());
    ASSERT_TRUE(b.open());
    EXPECT_NE(a.target(), b.target());
    std::string text(300, 'x');
    port::Process sender = start_helper("report " + std::to_string(b.target()) + " " + text);
    auto got = collect_reports(b, 15000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].second, text);
    EXPECT_EQ(a.dispatch([](uint32_t, const char*) { return true; }), 0);
    EXPECT_EQ(sender.wait(15000), port::WaitResult::Ended);
}

TEST(Thread, WaitAnySeesTheEventOrAnEndedThread)
{
    auto event = port::NamedEvent::create(unique_name("Relay"));
    ASSERT_TRUE(event.valid());
    std::atomic<bool> release_a{false};
    std::atomic<bool> release_b{false};
    port::Thread a, b;
    ASSERT_TRUE(a.start([&] {
        for (int i = 0; i < 3000 && !release_a; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }));
    ASSERT_TRUE(b.start([&] {
        for (int i = 0; i < 3000 && !release_b; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }));
    EXPECT_FALSE(a.ended());
    EXPECT_EQ(port::wait_any(&event, {&a, &b}, 100), port::WAITED_TIMEOUT);

    release_b = true;
    EXPECT_EQ(port::wait_any(&event, {&a, &b}, 10000), port::WAITED_THREAD + 1);
    b.join();
    EXPECT_FALSE(b.started());

    event.set();
    EXPECT_EQ(port::wait_any(&event, {&a}, 10000), port::WAITED_EVENT);

    // No event: the wait fails at once.
    EXPECT_EQ(port::wait_any(nullptr, {&a}, -1), port::WAITED_FAILED);
    port::NamedEvent none;
    EXPECT_EQ(port::wait_any(&none, {&a}, -1), port::WAITED_FAILED);
    release_a = true;
    a.join();
    EXPECT_EQ(port::wait_any(&event, {&a}, 0), port::WAITED_FAILED) << "a joined thread is no handle";
}
