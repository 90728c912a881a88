// The manager without a window, through the real executable: the status
// lines on standard error, bytes bridged over 127.0.0.1 to pseudo-terminal
// boards mapped as COM ports, SIGHUP after the file was edited, SIGTERM,
// the second instance, unusable files and arguments; and the options that
// print without opening a window.

#include "support/board.h"
#include "support/child.h"
#include "support/deadline.h"
#include "support/device_map.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Env = std::map<std::string, std::optional<std::string>>;

std::string service(int number, const std::string& name, uint16_t port, const std::string& com, bool active,
                    bool dtrc = false)
{
    return "\n[Service" + std::to_string(number) + "]\nname      = " + name + "\ntcpip     = " + std::to_string(port)
           + "\ncomport   = " + com
           + "\nbaudrate  = 115200\nhandshake = None\nparity    = None\nstopbits  = 1\ndtro      = No\n"
             "dtrc      = "
           + (dtrc ? "Yes" : "No") + "\nactive    = " + (active ? "1" : "0") + "\n";
}

// A service section with more lines before its "active".
std::string withLines(const std::string& section, const std::string& lines)
{
    std::string text = section;
    text.insert(text.find("active    ="), lines);
    return text;
}

// The port a connected socket reaches, 0 when it is not connected.
uint16_t portOfPeer(const port::Socket& s)
{
    port::IpAddress address;
    uint16_t p = 0;
    return s.peer_address(address, p) ? p : 0;
}

// The client's port as the worker sees it.
uint16_t portOf(const port::Socket& client)
{
    port::IpAddress address;
    uint16_t p = 0;
    return client.local_address(address, p) ? p : 0;
}

// A client of 127.0.0.1:port from the loopback address `from` (every
// 127/8 address is the machine's own), trying again while nobody listens
// yet.
port::Socket connectFrom(uint32_t from, uint16_t port)
{
    port::Socket s;
    support::wait_until([&] {
        s = port::Socket::stream();
        return s.valid() && s.bind(from, 0) && s.connect(support::loopback, port);
    }, 10000, 20);
    return s.valid() && portOfPeer(s) == port ? std::move(s) : port::Socket();
}

std::string line(const std::string& name, uint16_t port, const std::string& com, const std::string& status)
{
    return name + " (" + std::to_string(port) + " -> " + com + "): " + status;
}

// What the client sends reaches the board, and the board's answer the
// client.
void expectBridged(port::Socket& client, support::Board& board, const std::string& tag)
{
    const std::string ask = "ask " + tag;
    const std::string answer = "answer " + tag;
    ASSERT_EQ(client.send(ask.data(), static_cast<int>(ask.size())), static_cast<int>(ask.size()));
    EXPECT_EQ(board.read(ask.size(), 10000), ask);
    ASSERT_TRUE(board.write(answer));
    EXPECT_EQ(support::recv_exactly(client, answer.size()), answer);
}

bool refuses(uint16_t port)
{
    port::Socket s = port::Socket::stream();
    return s.valid() && !s.connect(support::loopback, port);
}

class Headless : public ::testing::Test {
protected:
    Headless()
    {
        fs::create_directories(conf());
        fs::create_directories(root_.path() / "etc");
        fs::create_directories(root_.path() / "home");
    }

    std::string conf() const { return root_ / "conf"; }
    std::string file() const { return root_ / "conf/vantrel.ini"; }

    // The usual configuration folders point into the test's own.
    Env env() const { return {{"VANTREL_CONFIG_DIR", root_ / "etc"}, {"XDG_CONFIG_HOME", root_ / "home"}}; }

    // With ownGroup the manager leads a process group, as a terminal's
    // foreground job.
    std::unique_ptr<support::Child> start(const std::vector<std::string>& args, const Env& more = {},
                                          bool ownGroup = false)
    {
        Env all = env();
        all.insert(more.begin(), more.end());
        return std::make_unique<support::Child>(VANTREL_EXE, args, all, ownGroup);
    }

    // The file holds one service stored as running, "Bench" from TCP port p
    // to the board as COM5; the manager started on it has said it is Active.
    // Null (a failure added) when it did not get there.
    std::unique_ptr<support::Child> startBench(const support::Board& board, uint16_t p, bool dtrc = false,
                                               const Env& more = {}, bool ownGroup = false)
    {
        devices_.map("COM5", board.slave());
        if (!support::write_file(file(), "[General]\nservices = 1\n" + service(1, "Bench", p, "COM5", true, dtrc)))
            return nullptr;
        auto manager = start({"--headless", "--config", conf()}, more, ownGroup);
        if (!manager->waitForErr(line("Bench", p, "COM5", "Active"))) {
            ADD_FAILURE() << manager->err();
            return nullptr;
        }
        return manager;
    }

    uint16_t port()
    {
        uint16_t p = support::free_port([this](uint16_t candidate) { return !used_.count(candidate); });
        used_.insert(p);
        return p;
    }

    support::TempDir root_;
    support::DeviceMap devices_;
    std::set<uint16_t> used_;
};

TEST_F(Headless, RunsTheFileAppliesItsChangesOnHangupAndStopsEverythingOnTerminate)
{
    support::Board boardA(true), boardB(true), boardC(true), boardD(true);
    ASSERT_TRUE(boardA.valid() && boardB.valid() && boardC.valid() && boardD.valid());
    devices_.map("COM5", boardA.slave());
    devices_.map("COM6", boardB.slave());
    devices_.map("COM7", boardC.slave());
    devices_.map("COM9", boardD.slave());
    const uint16_t pA = port(), pMissing = port(), pSpare = port(), pOld = port();

    const std::string before = "[General]\nautostart = 0\nservices   = 4\n"
        + service(1, "Eval board A", pA, "COM5", true) + service(2, "Missing board", pMissing, "COM8", true)
        + service(3, "Spare board", pSpare, "COM7", false) + service(4, "Old board", pOld, "COM9", true);
    ASSERT_TRUE(support::write_file(file(), before));

    auto manager = start({"--headless", "--config", conf()});
    ASSERT_TRUE(manager->started());
    ASSERT_TRUE(manager->waitForErr(line("Eval board A", pA, "COM5", "Active"))) << manager->err();
    ASSERT_TRUE(manager->waitForErr(line("Missing board", pMissing, "COM8", "Error: Invalid Serial Port specified")))
        << manager->err();
    ASSERT_TRUE(manager->waitForErr(line("Old board", pOld, "COM9", "Active"))) << manager->err();
    EXPECT_EQ(manager->countErr("Spare board"), 0) << "a stopped service says nothing";

    port::Socket clientA = support::connect_loopback(pA);
    ASSERT_TRUE(clientA.valid());
    expectBridged(clientA, boardA, "one");
    port::Socket clientOld = support::connect_loopback(pOld);
    ASSERT_TRUE(clientOld.valid());
    expectBridged(clientOld, boardD, "old");

    // The edit: A only gets another name; the missing board gets a port
    // that exists; the spare board is to run; the old board is not.
    const std::string after = "[General]\nautostart = 0\nservices   = 4\n"
        + service(1, "Eval board A1", pA, "COM5", true) + service(2, "Missing board", pMissing, "COM6", true)
        + service(3, "Spare board", pSpare, "COM7", true) + service(4, "Old board", pOld, "COM9", false);
    ASSERT_TRUE(support::write_file(file(), after));
    ASSERT_TRUE(manager->signal(SIGHUP));
    ASSERT_TRUE(manager->waitForErr(line("Missing board", pMissing, "COM6", "Active"))) << manager->err();
    ASSERT_TRUE(manager->waitForErr(line("Spare board", pSpare, "COM7", "Active"))) << manager->err();
    ASSERT_TRUE(manager->waitForErr(line("Old board", pOld, "COM9", "Stopped"))) << manager->err();

    // A kept its worker and its client under its new name.
    expectBridged(clientA, boardA, "two");
    EXPECT_EQ(manager->countErr(line("Eval board A", pA, "COM5", "Active")), 1) << manager->err();
    EXPECT_EQ(manager->countErr(line("Eval board A", pA, "COM5", "Stopped")), 0) << manager->err();
    EXPECT_EQ(manager->countErr("Eval board A1"), 0) << manager->err();
    EXPECT_EQ(support::recv_exactly(clientOld, 1, 10000), "") << "the old board's client was let go";
    EXPECT_TRUE(refuses(pOld));
    port::Socket clientB = support::connect_loopback(pMissing);
    ASSERT_TRUE(clientB.valid());
    expectBridged(clientB, boardB, "B");
    port::Socket clientC = support::connect_loopback(pSpare);
    ASSERT_TRUE(clientC.valid());
    expectBridged(clientC, boardC, "C");

    // SIGTERM: every worker stopped in order, exit code 0, the file as it
    // was and nothing written beside it.
    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
    for (const auto& [name, p, com] :
         {std::tuple{"Eval board A1", pA, "COM5"}, std::tuple{"Missing board", pMissing, "COM6"},
          std::tuple{"Spare board", pSpare, "COM7"}}) {
        EXPECT_NE(manager->err().find(line(name, p, com, "Stopped")), std::string::npos) << name << manager->err();
        EXPECT_TRUE(refuses(p)) << name;
    }
    EXPECT_EQ(support::recv_exactly(clientA, 1, 10000), "") << "the client was let go";
    EXPECT_EQ(support::read_file(file()), after);
    EXPECT_EQ(std::distance(fs::directory_iterator(conf()), fs::directory_iterator{}), 1);
}

// The natural hand edit: one block taken out of the middle, the count left
// as it was. The services after it keep running untouched.
TEST_F(Headless, HangupAfterAMiddleSectionIsRemovedKeepsTheServicesAfterIt)
{
    support::Board boardA(true), boardB(true), boardC(true);
    ASSERT_TRUE(boardA.valid() && boardB.valid() && boardC.valid());
    devices_.map("COM5", boardA.slave());
    devices_.map("COM6", boardB.slave());
    devices_.map("COM7", boardC.slave());
    const uint16_t pA = port(), pB = port(), pC = port();
    const std::string first = service(1, "A", pA, "COM5", true), third = service(3, "C", pC, "COM7", true);
    ASSERT_TRUE(support::write_file(file(), "[General]\nservices   = 3\n" + first + service(2, "B", pB, "COM6", true)
                                                + third));
    auto manager = start({"--headless", "--config", conf()});
    ASSERT_TRUE(manager->waitForErr(line("C", pC, "COM7", "Active"))) << manager->err();
    port::Socket clientC = support::connect_loopback(pC);
    ASSERT_TRUE(clientC.valid());
    expectBridged(clientC, boardC, "before");

    ASSERT_TRUE(support::write_file(file(), "[General]\nservices   = 3\n" + first + third));
    ASSERT_TRUE(manager->signal(SIGHUP));
    ASSERT_TRUE(manager->waitForErr(line("B", pB, "COM6", "Stopped"))) << manager->err();
    expectBridged(clientC, boardC, "after");
    EXPECT_EQ(manager->countErr(line("C", pC, "COM7", "Active")), 1) << manager->err();
    EXPECT_EQ(manager->countErr(line("C", pC, "COM7", "Stopped")), 0) << manager->err();
    EXPECT_EQ(manager->countErr(line("A", pA, "COM5", "Active")), 1) << manager->err();
    EXPECT_TRUE(refuses(pB));

    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
}

// The protocol is among the settings a reload restarts a service for: the
// client of the raw service is let go, the next one is offered Telnet's
// options as it connects.
TEST_F(Headless, AHangupThatChangesTheProtocolRestartsTheService)
{
    support::Board board(true);
    ASSERT_TRUE(board.valid());
    const uint16_t p = port();
    auto manager = startBench(board, p);
    ASSERT_TRUE(manager);
    port::Socket raw = support::connect_loopback(p);
    ASSERT_TRUE(raw.valid());
    expectBridged(raw, board, "raw");

    std::string text = "[General]\nservices = 1\n" + service(1, "Bench", p, "COM5", true);
    text.insert(text.find("active"), "protocol  = RFC 2217\n");
    ASSERT_TRUE(support::write_file(file(), text));
    ASSERT_TRUE(manager->signal(SIGHUP));
    ASSERT_TRUE(support::wait_until([&] { return manager->countErr(line("Bench", p, "COM5", "Active")) == 2; }))
        << manager->err();
    EXPECT_EQ(support::recv_exactly(raw, 1, 10000), "") << "the raw service's client was let go";
    port::Socket telnet = support::connect_loopback(p);
    ASSERT_TRUE(telnet.valid());
    EXPECT_EQ(support::recv_exactly(telnet, 3), std::string("\xff\xfb\x00", 3)) << "IAC WILL BINARY first";

    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
}

// Ctrl+C in the terminal goes to its whole foreground job: the workers
// never get it, the manager stops them in order, and a service that drops
// DTR before the close holds it for its second.
TEST_F(Headless, SigintToTheTerminalsJobStopsTheServicesInOrderAndEndsWithZero)
{
    support::Board board(true);
    ASSERT_TRUE(board.valid());
    const uint16_t p = port();
    const std::string dtrLog = root_ / "dtr.log";
    auto manager = startBench(board, p, true, {{"VANTREL_DTR_LOG", dtrLog}}, true);
    ASSERT_TRUE(manager);
    port::Socket client = support::connect_loopback(p);
    ASSERT_TRUE(client.valid());
    expectBridged(client, board, "x");
    ASSERT_TRUE(manager->signalGroup(SIGINT));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
    const long long endedAt = support::monotonic_ms();
    EXPECT_NE(manager->err().find(line("Bench", p, "COM5", "Stopped")), std::string::npos) << manager->err();
    EXPECT_TRUE(refuses(p));
    // Raised by the open, dropped at the stop, held before the close.
    const auto changes = support::read_dtr_log(dtrLog);
    ASSERT_EQ(changes.size(), 2u) << support::read_file(dtrLog);
    EXPECT_EQ(changes[1].level, 0);
    EXPECT_GE(endedAt - changes[1].at_ms, 1000) << "the worker ended before its hold did";
}

// A standard error that nobody reads any more (the log reader ended) does
// not end the manager: it still stops its workers on SIGTERM.
TEST_F(Headless, ALostStandardErrorDoesNotEndIt)
{
    support::Board board(true);
    ASSERT_TRUE(board.valid());
    const uint16_t p = port();
    auto manager = startBench(board, p);
    ASSERT_TRUE(manager);
    manager->closeErr();
    ASSERT_TRUE(support::write_file(file(), "[General]\nservices = 1\n" + service(1, "Bench", p, "COM5", false)));
    ASSERT_TRUE(manager->signal(SIGHUP)); // its lines now go nowhere
    ASSERT_TRUE(support::wait_until([&] { return refuses(p); })) << "the service was stopped";
    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << "not ended by a broken pipe";
}

TEST_F(Headless, AWorkersReportBecomesItsStatusLine)
{
    support::Board board(true);
    ASSERT_TRUE(board.valid());
    devices_.map("COM5", board.slave());
    // The port is taken: the worker cannot bind it and reports why.
    port::Socket holder = port::Socket::stream();
    ASSERT_TRUE(holder.valid() && holder.bind(0, 0) && holder.listen(1));
    const uint16_t p = holder.local_port();
    ASSERT_TRUE(support::write_file(file(), "[General]\nservices = 1\n" + service(1, "Busy", p, "COM5", true)));
    auto manager = start({"--headless", "--config", conf()});
    ASSERT_TRUE(manager->waitForErr(line("Busy", p, "COM5", "Error: bind: Address already in use"))) << manager->err();
    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
}

// vantrel --ports: the names present, each with its device, the device
// map's links followed, and the stable by-id links to the same device.
// vantrel --status: the running manager's services, one line each; nobody
// to ask, or a manager of another file, is exit code 1.
TEST_F(Headless, PortsAndStatusTellWhatThereIs)
{
    support::Board boardA(true), boardB(true);
    ASSERT_TRUE(boardA.valid() && boardB.valid());
    support::TempDir byId;
    fs::create_symlink(boardB.slave(), byId / "usb-Maker_Board_42-if00-port0");
    devices_.map("COM5", boardA.slave());
    devices_.map("COM7", byId / "usb-Maker_Board_42-if00-port0");
    devices_.map("COM9", "/nonexistent/device");
    Env env = this->env();
    env["VANTREL_BY_ID_DIR"] = byId.path().string();

    support::Child ports(VANTREL_EXE, {"--ports"}, env);
    EXPECT_EQ(ports.exitCode(), 0) << ports.err();
    EXPECT_EQ(ports.out(), "COM5 -> " + boardA.slave() + "\nCOM7 -> " + boardB.slave() + " (" +
                               (byId / "usb-Maker_Board_42-if00-port0") + ")\n");

    support::Child nobody(VANTREL_EXE, {"--status"}, env);
    EXPECT_EQ(nobody.exitCode(), 1);
    EXPECT_NE(nobody.err().find("no Vantrel Server manager is running"), std::string::npos) << nobody.err();

    const uint16_t pA = port(), pB = port();
    ASSERT_TRUE(support::write_file(file(), "[General]\nservices = 2\n" + service(1, "Eval A", pA, "COM5", true)
                                                + service(2, "Spare", pB, "COM7", false)));
    auto manager = start({"--headless", "--config", conf()});
    ASSERT_TRUE(manager->waitForErr(line("Eval A", pA, "COM5", "Active"))) << manager->err();
    support::Child status(VANTREL_EXE, {"--status", "--config", conf()}, env);
    EXPECT_EQ(status.exitCode(), 0) << status.err();
    EXPECT_EQ(status.out(), line("Eval A", pA, "COM5", "Active, no client\n") + line("Spare", pB, "COM7", "Stopped\n"));
    support::Child other(VANTREL_EXE, {"--status", "--config", root_ / "etc"}, env);
    EXPECT_EQ(other.exitCode(), 1);
    EXPECT_NE(other.err().find("the running manager reads " + file()), std::string::npos) << other.err();

    // A client: its address, the time it was served and the bytes so far,
    // which the worker reports while data moves (at most every 2 s).
    port::Socket client = support::connect_loopback(pA);
    ASSERT_TRUE(client.valid());
    expectBridged(client, boardA, "status");
    const std::string held = line("Eval A", pA, "COM5", "Active, client 127.0.0.1 port " + std::to_string(portOf(client)) + " since ");
    std::string shown;
    EXPECT_TRUE(support::wait_until(
        [&] {
            if (client.send("+", 1) != 1 || boardA.read(1, 5000) != "+")
                return false;
            support::Child now(VANTREL_EXE, {"--status"}, env);
            if (now.exitCode() != 0)
                return false;
            shown = now.out();
            // More than what expectBridged moved: a report came while bytes moved.
            const size_t bytes = shown.find(" bytes to the board, 13 to the client\n");
            return shown.rfind(held, 0) == 0 && bytes != std::string::npos
                   && std::stoul(shown.substr(shown.rfind(", ", bytes) + 2)) > 10;
        },
        15000, 250))
        << shown;

    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
}

// A second client while the board is held: Refuse tells it who holds the
// board and closes it, the holder notices nothing (no byte lost, no DTR
// change); Take over ends the holder's connection as its own end would
// (DTR dropped for a second before the close), then serves the newcomer.
TEST_F(Headless, ASecondClientIsRefusedOrTakesOver)
{
    for (const std::string mode : {"Refuse", "Take over"}) {
        SCOPED_TRACE(mode);
        support::Board board(true);
        ASSERT_TRUE(board.valid());
        devices_.map("COM5", board.slave());
        const uint16_t p = port();
        const std::string dtrLog = root_ / ("dtr-" + mode + ".log");
        // DTR held low a second after the open and before the close.
        std::string section = service(1, "Lab", p, "COM5", true);
        for (const char* key : {"dtro      = ", "dtrc      = "})
            section.replace(section.find(key) + std::strlen(key), 2, "Yes");
        ASSERT_TRUE(support::write_file(
            file(), "[General]\nservices = 1\n" + withLines(section, "busy      = " + mode + "\n")));
        Env env = this->env();
        env["VANTREL_DTR_LOG"] = dtrLog;
        support::Child manager(VANTREL_EXE, {"--headless", "--config", conf()}, env);
        ASSERT_TRUE(manager.waitForErr(line("Lab", p, "COM5", "Active"))) << manager.err();

        port::Socket holder = support::connect_loopback(p);
        ASSERT_TRUE(holder.valid());
        const std::string served = "client 127.0.0.1 port " + std::to_string(portOf(holder)) + " served";
        ASSERT_TRUE(manager.waitForErr(line("Lab", p, "COM5", served))) << manager.err();
        expectBridged(holder, board, "first");
        const size_t changesBefore = support::read_dtr_log(dtrLog).size();

        port::Socket second = support::connect_loopback(p);
        ASSERT_TRUE(second.valid());
        const std::string secondName = "client 127.0.0.1 port " + std::to_string(portOf(second));
        if (mode == "Refuse") {
            const std::string busy = support::recv_exactly(second, 200, 10000);
            EXPECT_EQ(busy.rfind("Busy: held by 127.0.0.1 since ", 0), 0u) << busy;
            EXPECT_EQ(busy.find("\r\n"), busy.size() - 2) << "one line, then closed: " << busy;
            EXPECT_TRUE(manager.waitForErr(
                line("Lab", p, "COM5", secondName + " refused: busy, held by 127.0.0.1 since ")))
                << manager.err();
            expectBridged(holder, board, "still");
            EXPECT_EQ(support::read_dtr_log(dtrLog).size(), changesBefore) << support::read_file(dtrLog);
        } else {
            EXPECT_EQ(support::recv_exactly(holder, 1, 10000), "") << "the holder's connection ended";
            ASSERT_TRUE(manager.waitForErr(line("Lab", p, "COM5", secondName + " served"))) << manager.err();
            EXPECT_NE(manager.err().find(served.substr(0, served.size() - 6)
                                         + "left, taken over by the next client: 9 bytes to the board, 12 to the client"),
                      std::string::npos)
                << manager.err();
            expectBridged(second, board, "taken");
            // Dropped at the holder's end and held a second before its
            // close; raised by the new open.
            const auto changes = support::read_dtr_log(dtrLog);
            ASSERT_GE(changes.size(), changesBefore + 2) << support::read_file(dtrLog);
            EXPECT_EQ(changes[changesBefore].level, 0);
            EXPECT_EQ(changes[changesBefore + 1].level, 1);
            EXPECT_GE(changes[changesBefore + 1].at_ms - changes[changesBefore].at_ms, 1000);
        }
        ASSERT_TRUE(manager.signal(SIGTERM));
        EXPECT_EQ(manager.exitCode(25000), 0) << manager.err();
    }
}

// The allow list with clients from 127.0.0.1 and 127.0.0.2: one outside
// it is closed at once, the serial port never opened for it (no DTR
// change), and the line says so; one inside it is served.
TEST_F(Headless, OnlyTheAllowListConnects)
{
    support::Board board(true);
    ASSERT_TRUE(board.valid());
    devices_.map("COM5", board.slave());
    const uint16_t p = port();
    const std::string dtrLog = root_ / "dtr.log";
    ASSERT_TRUE(support::write_file(
        file(), "[General]\nservices = 1\n"
                    + withLines(service(1, "Lab", p, "COM5", true), "allow     = 10.1.0.0/16, 127.0.0.2, ::1\n")));
    Env env = this->env();
    env["VANTREL_DTR_LOG"] = dtrLog;
    support::Child manager(VANTREL_EXE, {"--headless", "--config", conf()}, env);
    ASSERT_TRUE(manager.waitForErr(line("Lab", p, "COM5", "Active"))) << manager.err();

    port::Socket outside = connectFrom(0x7F000001, p);
    ASSERT_TRUE(outside.valid());
    EXPECT_EQ(support::recv_exactly(outside, 1, 10000), "") << "closed at once";
    EXPECT_TRUE(manager.waitForErr(line(
        "Lab", p, "COM5", "client 127.0.0.1 port " + std::to_string(portOf(outside)) + " refused: not in the allow list")))
        << manager.err();
    EXPECT_FALSE(support::file_text(dtrLog)) << "the serial port was never opened";

    port::Socket inside = connectFrom(0x7F000002, p);
    ASSERT_TRUE(inside.valid());
    expectBridged(inside, board, "allowed");
    EXPECT_NE(manager.err().find("client 127.0.0.2 port " + std::to_string(portOf(inside)) + " served"),
              std::string::npos)
        << manager.err();
    ASSERT_TRUE(manager.signal(SIGTERM));
    EXPECT_EQ(manager.exitCode(25000), 0) << manager.err();
}

// The listen address as the kernel's socket table shows the listening
// socket; an address that is not the machine's is the bind error.
TEST_F(Headless, TheListenAddressIsWhereTheServiceListens)
{
    support::Board board(true);
    ASSERT_TRUE(board.valid());
    devices_.map("COM5", board.slave());
    const struct {
        const char* listen; // null: no key
        const char* table;
        const char* address; // as the table writes it
    } cases[] = {
        {nullptr, "/proc/net/tcp", "00000000"},
        {"127.0.0.1", "/proc/net/tcp", "0100007F"},
        {"localhost", "/proc/net/tcp", "0100007F"},
        {"::1", "/proc/net/tcp6", "00000000000000000000000001000000"},
        {"::", "/proc/net/tcp6", "00000000000000000000000000000000"},
    };
    std::string sections;
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < std::size(cases); ++i) {
        ports.push_back(port());
        sections += withLines(service(static_cast<int>(i) + 1, "S" + std::to_string(i), ports.back(), "COM5", true),
                              cases[i].listen ? std::string("listen    = ") + cases[i].listen + "\n" : "");
    }
    const uint16_t pForeign = port();
    sections += withLines(service(static_cast<int>(std::size(cases)) + 1, "Foreign", pForeign, "COM5", true),
                          "listen    = 192.0.2.1\n");
    ASSERT_TRUE(support::write_file(file(), "[General]\n" + sections));
    auto manager = start({"--headless", "--config", conf()});
    ASSERT_TRUE(manager->waitForErr(line("Foreign", pForeign, "COM5", "Error: bind: Can't assign requested address")))
        << manager->err();
    for (size_t i = 0; i < std::size(cases); ++i) {
        // "local address:port remote-address:port state", 0A listening.
        char entry[64];
        std::snprintf(entry, sizeof entry, "%s:%04X", cases[i].address, ports[i]);
        EXPECT_TRUE(support::wait_until([&] {
            const std::string table = support::read_file(cases[i].table);
            const size_t at = table.find(entry);
            return at != std::string::npos
                   && table.compare(table.find(' ', table.find(' ', at) + 1) + 1, 2, "0A") == 0;
        })) << (cases[i].listen ? cases[i].listen : "(none)") << "\n" << support::read_file(cases[i].table);
    }
    ASSERT_TRUE(manager->signal(SIGTERM));
    EXPECT_EQ(manager->exitCode(25000), 0) << manager->err();
}

TEST_F(Headless, ASecondManagerIsRefused)
{
    ASSERT_TRUE(support::write_file(file(), "[General]\nservices = 0\n"));
    auto first = start({"--headless", "--config", conf()});
    ASSERT_TRUE(first->waitForErr("running the services of")) << first->err();
    auto second = start({"--headless", "--config", conf()});
    EXPECT_EQ(second->exitCode(), 2);
    EXPECT_NE(second->err().find("another Vantrel Server manager is running"), std::string::npos) << second->err();
    ASSERT_TRUE(first->signal(SIGTERM));
    EXPECT_EQ(first->exitCode(), 0) << first->err();
}

TEST_F(Headless, AnUnusableFileOrCommandLineEndsWithTwo)
{
    fs::create_directories(root_.path() / "folder/vantrel.ini");
    fs::create_directories(root_.path() / "text");
    ASSERT_TRUE(support::write_file(root_ / "text/vantrel.ini", "just some words\n"));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--headless", "--config", root_ / "nowhere"}, "cannot read the configuration file"},
        {{"--headless", "--config", root_ / "folder"}, "Is a directory"},
        {{"--headless", "--config", root_ / "text"}, "no configuration file of Vantrel Server"},
        // The usual folders hold no file: the message tells about --config.
        {{"--headless"}, "--config DIR"},
        {{"--headless", "--config"}, "--config needs a folder"},
        {{"--headless", "--loud"}, "unknown argument with --headless: --loud"},
        {{"--config", conf()}, "--config is used with --headless"},
    };
    for (const auto& c : cases) {
        support::Child child(VANTREL_EXE, c.args, env());
        EXPECT_EQ(child.exitCode(), 2) << c.args.back();
        EXPECT_NE(child.err().find(c.says), std::string::npos) << c.args.back() << ": " << child.err();
        EXPECT_EQ(child.err().find("Stopped"), std::string::npos);
    }
}

// --help and --version print without a window: no display is there to open.
TEST(ProgramOptions, HelpAndVersionPrintWithoutAWindow)
{
    const Env noDisplay = {
        {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};
    support::Child help(VANTREL_EXE, {"--help"}, noDisplay);
    EXPECT_EQ(help.exitCode(), 0) << help.err();
    EXPECT_NE(help.out().find("Usage: vantrel"), std::string::npos) << help.out();
    EXPECT_NE(help.out().find("--headless [--config DIR]"), std::string::npos) << help.out();
    support::Child version(VANTREL_EXE, {"--version"}, noDisplay);
    EXPECT_EQ(version.exitCode(), 0) << version.err();
    EXPECT_EQ(version.out(), "vantrel 1.0r5\n");
}

// Without a display the window is not tried: exit code 1 and the way to
// run headless.
TEST(NoDisplay, TheWindowSaysSoAndEndsWithOne)
{
    support::TempDir root;
    const Env unset = {{"DISPLAY", std::nullopt},
                       {"WAYLAND_DISPLAY", std::nullopt},
                       {"QT_QPA_PLATFORM", std::nullopt},
                       {"VANTREL_CONFIG_DIR", root / "etc"},
                       {"XDG_CONFIG_HOME", root / "home"}};
    support::Child none(VANTREL_EXE, {}, unset);
    EXPECT_EQ(none.exitCode(), 1) << none.err();
    EXPECT_NE(none.err().find("no display found"), std::string::npos) << none.err();
    EXPECT_NE(none.err().find("vantrel --headless"), std::string::npos) << none.err();

    // A display that is named but not there.
    Env gone = unset;
    gone["DISPLAY"] = ":97531";
    support::Child absent(VANTREL_EXE, {}, gone);
    EXPECT_EQ(absent.exitCode(), 1) << absent.err();
    EXPECT_NE(absent.err().find("no display could be opened (:97531)"), std::string::npos) << absent.err();
    EXPECT_NE(absent.err().find("vantrel --headless"), std::string::npos) << absent.err();
    EXPECT_FALSE(fs::exists(root / "etc/vantrel.ini"));
}

} // namespace
