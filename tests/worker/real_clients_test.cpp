// RFC 2217 services with clients no one here wrote: pyserial's rfc2217://
// handler, C-Kermit, microcom, and a plain telnet client that refuses the
// COM-PORT option. Each runs from a script of clients/, which also plays
// the board: the test hands it the pseudo-terminal's master side, open,
// and the serial layer's line log. Python is Debian's, with its
// python3-serial; every script bounds each of its waits, and the test
// bounds the script.

#include "bridge_harness.h"

#include "manager/service_settings.h"
#include "support/child.h"
#include "support/device_map.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>

using namespace test;

namespace {

const std::string PYTHON = "/usr/bin/python3";
const std::string CLIENTS = std::string(VANTREL_SOURCE_DIR) + "/tests/worker/clients/";

class RealClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.valid());
        devices.map("COM5", board.slave());
        options.tcp_port = std::to_string(free_port());
        options.flags = std::to_string(WORKER_PROTOCOL_RFC2217);
    }

    // Runs a client script with the TCP port and the board's descriptor
    // after its first words; true when it passed.
    ::testing::AssertionResult script(const std::string& name, std::vector<std::string> words,
                                      const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args = {CLIENTS + name};
        args.insert(args.end(), words.begin(), words.end());
        args.push_back(options.tcp_port);
        args.push_back(std::to_string(board.fd()));
        args.insert(args.end(), more.begin(), more.end());
        // The board's descriptor is inherited by this child alone.
        fcntl(board.fd(), F_SETFD, 0);
        support::Child child(PYTHON, args, {{"LD_PRELOAD", std::nullopt}});
        fcntl(board.fd(), F_SETFD, FD_CLOEXEC);
        if (!child.started())
            return ::testing::AssertionFailure() << PYTHON << " did not start";
        const int code = child.exitCode(120000);
        if (code == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << " ended with " << code << ":\n" << child.out() << child.err();
    }

    ScopedEnv no_dtr_log{"VANTREL_DTR_LOG", std::nullopt};
    DeviceMap devices;
    Board board{true};
    WorkerOptions options;
    Worker worker;
};

} // namespace

// Open at 57600 baud with two stop bits, then 115200 8N1 (the terminal's
// termios shows both; even parity, which a pseudo-terminal keeps not, is
// answered as none and refused by pyserial), DTR and RTS toggled and a
// break sent (the line log shows them), both queues purged, CTS, DSR and
// CD read and their change told, all 256 byte values both ways.
TEST_F(RealClients, PyserialSetsTheLineAndMovesEveryByteValue)
{
    DtrLog dtr;
    TempDir dir;
    const std::string modem = dir / "modem";
    ASSERT_TRUE(write_file(modem, std::to_string(TIOCM_CTS | TIOCM_CAR)));
    const char* asan = std::getenv("ASAN_OPTIONS");
    ScopedEnv asan_order{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"};
    ScopedEnv preload{"LD_PRELOAD", std::string(SERIAL_FLAGS_LIB)};
    ScopedEnv lines{"VANTREL_MODEM_LINES_FILE", modem};
    ASSERT_TRUE(worker.start(options));
    EXPECT_TRUE(script("pyserial_client.py", {}, {dtr.path, "--modem-file", modem}));
}

TEST_F(RealClients, PyserialOnATerminalWithoutModemLines)
{
    DtrLog dtr;
    ASSERT_TRUE(worker.start(options));
    EXPECT_TRUE(script("pyserial_client.py", {}, {dtr.path}));
}

// A line typed in each terminal program reaches the board at the speed it
// set, and the board's answer shows on its terminal.
TEST_F(RealClients, TerminalProgramsExchangeALineWithTheBoard)
{
    ASSERT_TRUE(worker.start(options));
    for (const char* client : {"kermit", "microcom", "telnet"}) {
        SCOPED_TRACE(client);
        EXPECT_TRUE(script("terminal_client.py", {client}));
    }
}
