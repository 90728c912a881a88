// The manager window as a process (the real executable on Qt's offscreen
// platform): the signals that end it, sent to its whole process group as a
// terminal sends them to its foreground job. SIGTERM and SIGHUP are the
// session ending under it: the file is saved as at a log-off, with the
// minimised state, and every worker is stopped. SIGINT is its Exit: saved
// without the minimised state, workers stopped. The workers never get the
// signal themselves: each is stopped in order and holds DTR low for its
// second before the close.

#include "support/board.h"
#include "support/child.h"
#include "support/deadline.h"
#include "support/device_map.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(WindowProcess, SignalsEndTheWindowAsTheSessionOrExitDoes)
{
    const struct {
        int signal;
        bool asSessionEnd;
    } cases[] = {{SIGTERM, true}, {SIGHUP, true}, {SIGINT, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.signal));
        support::TempDir root;
        support::DeviceMap devices;
        support::Board board(true);
        ASSERT_TRUE(board.valid());
        devices.map("COM5", board.slave());
        fs::create_directories(root.path() / "etc");
        fs::create_directories(root.path() / "home");
        const uint16_t p = support::free_port();
        const std::string config = root / "etc/vantrel.ini";
        ASSERT_TRUE(support::write_file(config,
                                        "[General]\nautostart = 0\nminimized = 1\nservices = 1\n\n[Service1]\n"
                                        "name = Bench\ntcpip = "
                                            + std::to_string(p)
                                            + "\ncomport = COM5\nbaudrate = 9600\ndtrc = Yes\nactive = 1\n"));

        const std::string dtrLog = root / "dtr.log";
        support::Child window(VANTREL_EXE, {},
                              {{"QT_QPA_PLATFORM", "offscreen"},
                               {"VANTREL_CONFIG_DIR", root / "etc"},
                               {"XDG_CONFIG_HOME", root / "home"},
                               {"VANTREL_AUTOSTART_DIR", root / "xdg"},
                               {"VANTREL_DTR_LOG", dtrLog}},
                              true);
        ASSERT_TRUE(window.started());
        port::Socket client = support::connect_loopback(p, 20000);
        ASSERT_TRUE(client.valid()) << window.err();
        ASSERT_EQ(client.send("ping", 4), 4);
        EXPECT_EQ(board.read(4, 10000), "ping");

        ASSERT_TRUE(window.signalGroup(c.signal));
        EXPECT_EQ(window.exitCode(25000), 0) << window.err();
        const long long endedAt = support::monotonic_ms();
        const auto changes = support::read_dtr_log(dtrLog);
        ASSERT_EQ(changes.size(), 2u) << "raised by the open, dropped at the stop:\n" << support::read_file(dtrLog);
        EXPECT_EQ(changes[1].level, 0);
        EXPECT_GE(endedAt - changes[1].at_ms, 1000) << "the worker ended before its hold did";
        const std::string saved = support::read_file(config);
        EXPECT_NE(saved.find("active    = 1"), std::string::npos) << "saved before the stop:\n" << saved;
        if (c.asSessionEnd)
            EXPECT_NE(saved.find("minimized = 1"), std::string::npos) << saved;
        else
            EXPECT_EQ(saved.find("minimized"), std::string::npos) << saved;
        EXPECT_EQ(support::recv_exactly(client, 1, 10000), "") << "the worker let its client go";
        port::Socket again = port::Socket::stream();
        EXPECT_FALSE(again.connect(support::loopback, p)) << "nobody listens any more";
    }
}

} // namespace
