// Wake objects: in-process events, stop events and the manager watch, and
// the waits that sleep on them beside a socket or threads.

#include "port/named_event.h"
#include "port/report.h"
#include "port/socket.h"
#include "port/thread.h"
#include "port/wake.h"
#include "support/deadline.h"
#include "support/loopback.h"
#include "support/names.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace support;

namespace {

// The socket library for the tests that use sockets.
class SocketLibrary {
public:
    SocketLibrary() { ok = port::socket_startup(info) == 0; }
    ~SocketLibrary()
    {
        if (ok)
            port::socket_cleanup();
    }
    port::SocketLibraryInfo info;
    bool ok = false;
};

} // namespace

TEST(WakeEvent, SetWakesAndStaysSetUntilReset)
{
    port::WakeEvent event;
    ASSERT_TRUE(event.valid());
    port::WakeSet set;
    EXPECT_FALSE(set.signalled()) << "an empty set";
    ASSERT_TRUE(set.add(event.native()));
    EXPECT_FALSE(set.add(-1)) << "an object that is not open";
    EXPECT_EQ(set.size(), 1);
    EXPECT_FALSE(set.signalled());
    EXPECT_FALSE(set.wait(20));
    event.set();
    EXPECT_TRUE(set.signalled());
    EXPECT_TRUE(set.wait(-1));
    EXPECT_TRUE(set.signalled()) << "manual reset";
    event.reset();
    EXPECT_FALSE(set.signalled());
}

TEST(WakeSet, HoldsAFewObjectsAndWakesOnAnyOfThem)
{
    port::WakeEvent events[port::WakeSet::CAPACITY + 1];
    port::WakeSet set;
    for (int i = 0; i < port::WakeSet::CAPACITY; ++i)
        EXPECT_TRUE(set.add(events[i].native()));
    EXPECT_FALSE(set.add(events[port::WakeSet::CAPACITY].native())) << "a full set";
    events[port::WakeSet::CAPACITY - 1].set();
    EXPECT_TRUE(set.wait(10000));

    // A named stop event is a wake object as well.
    port::NamedEvent stop = port::NamedEvent::create(unique_name("Wake"));
    ASSERT_TRUE(stop.valid());
    port::WakeSet with_stop;
    ASSERT_TRUE(with_stop.add(stop.native()));
    EXPECT_FALSE(with_stop.signalled());
    ASSERT_TRUE(stop.set());
    EXPECT_TRUE(with_stop.wait(10000));
}

TEST(WakeSet, EndsASocketWaitAndWinsOverReadiness)
{
    SocketLibrary library;
    ASSERT_TRUE(library.ok);
    port::Socket listener = port::Socket::stream();
    ASSERT_TRUE(listener.bind(loopback, 0));
    ASSERT_TRUE(listener.listen(4));
    port::WakeEvent event;
    port::WakeSet wake;
    ASSERT_TRUE(wake.add(event.native()));

    EXPECT_EQ(listener.wait_readable(30, wake), 0);
    // Another thread sets the event while this one sleeps without limit.
    port::Thread setter;
    ASSERT_TRUE(setter.start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        event.set();
    }));
    EXPECT_EQ(listener.wait_readable(-1, wake), port::SOCKET_WOKEN);
    setter.join();
    event.reset();

    // A client makes it ready; with the event set as well the wake wins.
    port::Socket client = connect_loopback(listener.local_port(), 10000);
    ASSERT_TRUE(client.valid());
    EXPECT_EQ(listener.wait_readable(10000, wake), 1);
    event.set();
    EXPECT_EQ(listener.wait_readable(10000, wake), port::SOCKET_WOKEN);
    EXPECT_EQ(client.wait_writable(10000, wake), port::SOCKET_WOKEN);
    event.reset();
    EXPECT_EQ(client.wait_writable(10000, wake), 1);
}

TEST(WakeSet, WaitAnySeesAWakeObjectOrAnEndedThread)
{
    port::WakeEvent event, release;
    port::WakeSet wake, released;
    ASSERT_TRUE(wake.add(event.native()));
    ASSERT_TRUE(released.add(release.native()));
    port::Thread a;
    ASSERT_TRUE(a.start([&] { released.wait(10000); }));
    EXPECT_EQ(port::wait_any(wake, {&a}, 30), port::WAITED_TIMEOUT);
    event.set();
    EXPECT_EQ(port::wait_any(wake, {&a}, 10000), port::WAITED_EVENT);
    event.reset();
    release.set();
    EXPECT_EQ(port::wait_any(wake, {&a}, 10000), port::WAITED_THREAD);
    a.join();
    EXPECT_EQ(port::wait_any(port::WakeSet(), {}, 0), port::WAITED_FAILED) << "nothing to wait on";
}

TEST(ManagerWatch, NoTargetAGoneTargetAndALiveOne)
{
    port::ManagerWatch none;
    EXPECT_EQ(none.watch(0), port::ManagerWatch::State::None);
    EXPECT_EQ(none.native(), -1);

    uintptr_t gone_target = 0;
    {
        port::ReportReceiver gone;
        ASSERT_TRUE(gone.open());
        gone_target = gone.target();
        EXPECT_TRUE(port::report_target_present(gone_target));
    }
    EXPECT_FALSE(port::report_target_present(gone_target));
    port::ManagerWatch of_gone;
    EXPECT_EQ(of_gone.watch(gone_target), port::ManagerWatch::State::Gone);
    EXPECT_EQ(of_gone.native(), -1);

    // A live receiver: its manager (here the process that started this
    // one, or this one) runs, so the watch is not signalled.
    port::ReportReceiver live;
    ASSERT_TRUE(live.open());
    port::ManagerWatch of_live;
    ASSERT_EQ(of_live.watch(live.target()), port::ManagerWatch::State::Watching);
    port::WakeSet wake;
    ASSERT_TRUE(wake.add(of_live.native()));
    EXPECT_FALSE(wake.wait(50));
}
