// Serial port discovery over a device map of pseudo-terminals, and worker
// launch, monitoring, reports, stop and restart with real child processes:
// a fake worker for the cases a real one cannot show, and the real vantrel
// bridging a pseudo-terminal.

#include "config_place.h"
#include "posix_support.h"

#include "support/loopback.h"

#include <signal.h>

namespace {

const std::string FAKE_WORKER = FAKE_WORKER_EXE;

class Supervision : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = FAKE_WORKER;
        managerGlobals.processId = port::current_process_id();
        managerGlobals.serviceCounter = 1;
        ASSERT_TRUE(board1.valid());
        ASSERT_TRUE(board3.valid());
        devices.map("COM1", board1.slave());
        devices.map("COM3", board3.slave());
    }

    void TearDown() override
    {
        table.destroyAllServices();
        EXPECT_EQ(frontEnd.busyDepth, 0) << "every busy cursor was restored";
    }

    // Adds a service on COM1 whose fake worker behaves as `mode` says.
    int addFake(const std::string& mode, const std::string& comport = "COM1")
    {
        auto record = newServiceRecord();
        record->field(COLUMN_TCPIP) = mode;
        record->field(COLUMN_COMPORT) = comport;
        return table.addService(std::move(record));
    }

    std::string marker(int row, const char* suffix) { return markers / (table.record(row)->eventName + suffix); }

    bool waitForFile(const std::string& path, int timeoutMs)
    {
        return wait_until([&] { return fs::exists(path); }, timeoutMs);
    }

    // Opens the Serial Port editor of a row as a window does: false when
    // it gets none; `choices` are those it offers.
    bool portChoices(int row, std::vector<std::string>& choices)
    {
        choices.clear();
        if (!table.prepareCellEdit(row, COLUMN_COMPORT))
            return false;
        const CellEditorSetup setup = table.cellEditor(row, COLUMN_COMPORT);
        choices = setup.choices;
        return setup.kind == CellEditorKind::Choice;
    }

    // The worker's end, observed without reaping it behind the table's back.
    bool waitForEnd(int row, int timeoutMs)
    {
        return table.record(row)->processInfo.wait(timeoutMs) == port::WaitResult::Ended;
    }

    DeviceMap devices;
    Board board1, board3;
    TempDir markers;
    ScopedEnv markerEnv{"VANTREL_FAKE_DIR", markers.path().string()};
    ReportingFrontEnd frontEnd;
    ServiceTable table{frontEnd};
};

TEST_F(Supervision, DiscoveryListsPresentPortsInNumberOrder)
{
    devices.map("COM2", "/nonexistent/device");
    devices.map("COM4", markers / "plain-file");
    write_file(markers / "plain-file", "not a device");
    devices.map("COM5", "/dev/null");
    devices.map("COM300", board1.slave());

    EXPECT_TRUE(table.portsStale());
    EXPECT_TRUE(table.refreshSerialPorts());
    EXPECT_EQ(table.serialPortList(), (std::vector<std::string>{"COM1", "COM3"}));
    EXPECT_FALSE(table.portsStale());
    EXPECT_EQ(frontEnd.busyShown, 1);
    EXPECT_EQ(frontEnd.noPortsMessages, 0);

    // A new service takes the first port present; the list stays as it is.
    devices.map("COM1", "/nonexistent/device");
    EXPECT_EQ(table.addService(), 0);
    EXPECT_EQ(table.record(0)->field(COLUMN_COMPORT), "COM3");
    EXPECT_EQ(frontEnd.rows[0][COLUMN_COMPORT], "COM3");
    EXPECT_EQ(table.record(0)->field(COLUMN_NAME), "Service");
    EXPECT_EQ(table.record(0)->eventName,
              "BRAMBLEVantrelServer" + std::to_string(managerGlobals.processId) + "_1");
    EXPECT_EQ(table.serialPortList().size(), 2u);

    // A port above 256 is never found, but a service may name it.
    EXPECT_TRUE(table.serialPortExists("COM300"));
    EXPECT_FALSE(table.serialPortExists("COM2"));
    EXPECT_FALSE(table.serialPortExists("COM4"));
    EXPECT_FALSE(table.serialPortExists("COM5"));
    EXPECT_FALSE(table.serialPortExists(""));
    table.record(0)->field(COLUMN_COMPORT) = "COM300";
    table.record(0)->field(COLUMN_TCPIP) = "2001";
    EXPECT_FALSE(table.validateService(*table.record(0)));
    EXPECT_EQ(table.record(0)->field(COLUMN_STATUS), "");
}

TEST_F(Supervision, NoPortsAnywhere)
{
    devices.map("COM1", "/nonexistent/device");
    devices.map("COM3", "/nonexistent/device");
    EXPECT_EQ(table.addService(), 0);
    EXPECT_EQ(table.record(0)->field(COLUMN_COMPORT), "");
    EXPECT_EQ(frontEnd.noPortsMessages, 1);
    EXPECT_FALSE(table.refreshSerialPorts());
    EXPECT_EQ(frontEnd.noPortsMessages, 2);
    EXPECT_TRUE(table.portsStale()) << "a failed refresh leaves the flag for the next editor";

    // Asking which editor the cell gets scans nothing and shows nothing;
    // readying it scans, and tells.
    const int busy = frontEnd.busyShown;
    EXPECT_EQ(table.cellEditor(0, COLUMN_COMPORT).kind, CellEditorKind::None);
    EXPECT_EQ(frontEnd.noPortsMessages, 2);
    EXPECT_EQ(frontEnd.busyShown, busy);
    std::vector<std::string> choices;
    EXPECT_FALSE(portChoices(0, choices));
    EXPECT_EQ(frontEnd.noPortsMessages, 3);
    EXPECT_EQ(frontEnd.busyShown, busy + 1);
    EXPECT_EQ(table.startService(0), 0);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: Invalid Serial Port specified");
}

TEST_F(Supervision, SerialEditorRescansOnlyWhenStaleOrItsPortIsGone)
{
    addFake("exit");
    std::vector<std::string> choices;
    ASSERT_TRUE(portChoices(0, choices));
    EXPECT_EQ(choices, (std::vector<std::string>{"COM1", "COM3"}));
    EXPECT_EQ(frontEnd.busyShown, 1);

    devices.map("COM2", board3.slave());
    ASSERT_TRUE(portChoices(0, choices));
    EXPECT_EQ(choices.size(), 2u) << "the last scan is reused while the port is there";
    EXPECT_EQ(frontEnd.busyShown, 1);

    devices.map("COM1", "/nonexistent/device");
    ASSERT_TRUE(portChoices(0, choices));
    EXPECT_EQ(choices, (std::vector<std::string>{"COM2", "COM3"}));
    EXPECT_EQ(frontEnd.busyShown, 2);
}

// A refresh from the menu that finds nothing leaves an empty list behind;
// the next editor must not offer that list but look again.
TEST_F(Supervision, AnEmptyPortListIsScannedAgainByTheNextEditor)
{
    addFake("exit");
    ASSERT_TRUE(table.refreshSerialPorts());
    devices.map("COM1", "/nonexistent/device");
    devices.map("COM3", "/nonexistent/device");
    table.runMenuCommand(CMD_REFRESH_PORTS, -1);
    EXPECT_EQ(frontEnd.noPortsMessages, 1);
    EXPECT_TRUE(table.serialPortList().empty());

    // The service's port comes back before its cell is clicked.
    devices.map("COM1", board1.slave());
    std::vector<std::string> choices;
    EXPECT_TRUE(portChoices(0, choices));
    EXPECT_EQ(choices, std::vector<std::string>{"COM1"});
    EXPECT_EQ(frontEnd.noPortsMessages, 1);
}

TEST_F(Supervision, StartRunsTheWorkerWithTheNineWords)
{
    addFake("obey");
    ServiceRecord& record = *table.record(0);
    record.field(COLUMN_BAUDRATE) = "9600";
    record.field(COLUMN_HANDSHAKE) = "RTS/CTS";
    record.field(COLUMN_PARITY) = "Odd";
    record.field(COLUMN_STOPBITS) = "2";
    record.field(COLUMN_DTRO) = "Yes";
    record.field(COLUMN_BUSY) = "Take over";
    record.field(COLUMN_ALLOW) = "10.1.0.0/16, ::1";
    // The manager's own value never reaches a worker whose setting is empty.
    ScopedEnv managersOwn("VANTREL_LISTEN", "192.0.2.1");
    int refreshes = frontEnd.refreshes;

    EXPECT_NE(table.startService(0), 0);
    EXPECT_TRUE(record.active);
    EXPECT_EQ(record.field(COLUMN_STATUS), "Active");
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Active");
    EXPECT_EQ(frontEnd.refreshes, refreshes + 1);
    EXPECT_EQ(table.workerTimer(), WORKER_TIMER_ID);
    EXPECT_EQ(frontEnd.timerPeriod, 500);
    EXPECT_TRUE(record.stopEvent.valid());
    EXPECT_FALSE(record.stopEvent.is_set());

    ASSERT_TRUE(waitForFile(marker(0, ".args"), 10000));
    // 226 the line settings, 0x2000 Take over.
    std::string expected = FAKE_WORKER + "\n" + record.eventName + "\nobey\nCOM1\n9600\n8418\n1\n0\n" +
                           std::to_string(frontEnd.target) + "\n";
    EXPECT_EQ(read_file(marker(0, ".args")), expected);
    EXPECT_EQ(read_file(marker(0, ".env")), "VANTREL_LISTEN\nVANTREL_ALLOW=10.1.0.0/16, ::1\n");

    // Starting it again changes nothing; a second service reuses the timer.
    uint32_t pid = record.processInfo.id();
    EXPECT_EQ(table.startService(0), 0);
    EXPECT_EQ(record.processInfo.id(), pid);
    addFake("obey", "COM3");
    EXPECT_NE(table.startService(1), 0);
    EXPECT_EQ(frontEnd.timersStarted, 1);

    table.stopService(0);
    EXPECT_TRUE(fs::exists(marker(0, ".done"))) << "the worker ended by its stop event";
    EXPECT_FALSE(record.active);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "");
    EXPECT_TRUE(table.record(1)->active);
}

// A setting that a start refuses comes from the file as it was written
// (the editors take no such value); the start says which. A client that
// expects Telnet must not be served the board's raw bytes on a guess.
TEST_F(Supervision, AStartRefusesAWrongSharingOrProtocolSetting)
{
    const struct {
        int column;
        const char* value;
        const char* status;
    } refusals[] = {
        {COLUMN_PROTOCOL, "rfc2217", "Error: Invalid Protocol specified"},
        {COLUMN_BUSY, "refuse", "Error: Invalid When busy setting specified"},
        {COLUMN_LISTEN, "10.0.0.256", "Error: Invalid Listen address specified"},
        {COLUMN_LISTEN, "eth0", "Error: Invalid Listen address specified"},
        {COLUMN_LISTEN, "[::1]", "Error: Invalid Listen address specified"},
        {COLUMN_ALLOW, "10.0.0.0/33", "Error: Invalid Allow list specified"},
        {COLUMN_ALLOW, "::1/129", "Error: Invalid Allow list specified"},
        {COLUMN_ALLOW, "10.1.2.3,", "Error: Invalid Allow list specified"},
        {COLUMN_ALLOW, "10.1.2.3 10.1.2.4", "Error: Invalid Allow list specified"},
        {COLUMN_ALLOW, "lab.example.com", "Error: Invalid Allow list specified"},
        {COLUMN_ALLOW, "10.1.2.3/", "Error: Invalid Allow list specified"},
    };
    addFake("obey");
    for (const auto& refusal : refusals) {
        ServiceRecord& record = *table.record(0);
        const std::string kept = record.field(refusal.column);
        record.field(refusal.column) = refusal.value;
        EXPECT_EQ(table.startService(0), 0) << refusal.value;
        EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], refusal.status) << refusal.value;
        record.field(refusal.column) = kept;
    }
    ServiceRecord& record = *table.record(0);
    record.field(COLUMN_LISTEN) = "localhost";
    record.field(COLUMN_ALLOW) = " 2001:db8::/32 ,192.0.2.7,::ffff:10.0.0.0/104";
    EXPECT_NE(table.startService(0), 0) << frontEnd.rows[0][COLUMN_STATUS];
    EXPECT_FALSE(fs::exists(marker(0, ".done")));
}

// What a worker reports of its clients sets the Client column and reaches
// the front end; a report from another process counts for nothing; a
// client still served when its worker ends leaves with it, with the counts
// last reported.
TEST_F(Supervision, ClientReportsSetTheClientColumn)
{
    addFake("clients");
    ASSERT_NE(table.startService(0), 0);
    ASSERT_TRUE(waitForFile(marker(0, ".reported"), 10000));
    // Another process (this one) that names the worker's address.
    port::ClientReportSender forger(std::stoul(read_file(marker(0, ".reported"))));
    port::ClientReport forged;
    port::parse_ip_address("192.0.2.66", forged.address);
    ASSERT_TRUE(forger.send(forged));
    const std::vector<std::string> expected = {
        "0: client 127.0.0.1 port 40000 served",
        "0: client 127.0.0.2 port 40001 refused: not in the allow list",
        "0: client 10.0.0.9 port 40003 refused: busy, held by 127.0.0.1 since " + sinceText(1700000000, unixNow()),
        "0: client 127.0.0.1 port 40000 left, taken over by the next client: 5 bytes to the board, 7 to the client",
        "0: client ::1 port 40002 served",
    };
    ASSERT_TRUE(wait_until([&] {
        table.deliverClientReports();
        return frontEnd.clientEvents.size() >= expected.size() && table.record(0)->client
               && table.record(0)->client->toBoard == 11;
    }, 10000)) << frontEnd.clientEvents.size();
    table.deliverClientReports();
    EXPECT_EQ(frontEnd.clientEvents, expected) << "nothing of the forged report";
    EXPECT_EQ(frontEnd.rows[0][COLUMN_CLIENT], "::1 since " + sinceText(1700000000, unixNow()));
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Active");

    // The worker tells of its client's end on its way out.
    table.stopService(0);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_CLIENT], "");
    ASSERT_EQ(frontEnd.clientEvents.size(), expected.size() + 1);
    EXPECT_EQ(frontEnd.clientEvents.back(), "0: client ::1 port 40002 left: 21 bytes to the board, 34 to the client");

    // A client still served when its worker ends without a word leaves
    // with it, with the counts last reported.
    table.record(0)->field(COLUMN_TCPIP) = "clients";
    ASSERT_NE(table.startService(0), 0);
    ASSERT_TRUE(wait_until([&] {
        table.deliverClientReports();
        return table.record(0)->client && table.record(0)->client->toBoard == 11;
    }, 10000));
    table.record(0)->processInfo.terminate(9);
    ASSERT_TRUE(waitForEnd(0, 10000));
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_CLIENT], "");
    EXPECT_EQ(frontEnd.clientEvents.back(), "0: client ::1 port 40002 left: 11 bytes to the board, 13 to the client");
}

TEST_F(Supervision, AnEndedWorkerIsNoticedByTheNextPass)
{
    addFake("obey");
    addFake("exit", "COM3");
    ASSERT_NE(table.startService(0), 0);
    ASSERT_NE(table.startService(1), 0);
    ASSERT_TRUE(waitForEnd(1, 10000));

    table.onWorkerTimer(WORKER_TIMER_ID + 1);
    EXPECT_TRUE(table.record(1)->active) << "another timer's message changes nothing";

    int refreshes = frontEnd.refreshes;
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_FALSE(table.record(1)->active);
    EXPECT_EQ(frontEnd.rows[1][COLUMN_STATUS], "");
    EXPECT_EQ(frontEnd.refreshes, refreshes + 1);
    EXPECT_TRUE(table.record(0)->active);
    EXPECT_TRUE(frontEnd.timerRunning) << "one worker still runs";

    table.record(0)->stopEvent.set();
    ASSERT_TRUE(waitForEnd(0, 10000));
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_FALSE(frontEnd.timerRunning) << "the timer stops itself when no worker is left";
    EXPECT_EQ(table.workerTimer(), 0);

    // The next start runs the timer again.
    ASSERT_NE(table.startService(1), 0);
    EXPECT_EQ(frontEnd.timersStarted, 2);
    EXPECT_TRUE(frontEnd.timerRunning);
}

TEST_F(Supervision, ReportsBecomeTheStatusWithTheErrorPrefixRule)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"bind: Address already in use", "Error: bind: Address already in use"},
        {"ERROR: no such port", "ERROR: no such port"},
        {"errored", "errored"},
        {"Err", "Error: Err"},
        {"", "Error: "},
    };
    addFake("report");
    for (auto& [text, shown] : cases) {
        ScopedEnv report("VANTREL_FAKE_REPORT", text);
        ASSERT_NE(table.startService(0), 0);
        bool matched = false;
        ASSERT_TRUE(frontEnd.deliverReport(table, 10000, &matched)) << text;
        EXPECT_TRUE(matched);
        EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], shown);
        EXPECT_TRUE(table.record(0)->errorReported);

        // The worker ends; the pass keeps its report on show.
        ASSERT_TRUE(waitForEnd(0, 10000));
        table.onWorkerTimer(WORKER_TIMER_ID);
        EXPECT_FALSE(table.record(0)->active);
        EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], shown);
        EXPECT_TRUE(table.buttonEnabled(IDC_START, 0));
    }
    // The next start replaces the report.
    table.record(0)->field(COLUMN_TCPIP) = "obey";
    ASSERT_NE(table.startService(0), 0);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Active");
    EXPECT_FALSE(table.record(0)->errorReported);
}

// The window was too busy to take a report at once: its worker gave up
// waiting for the acknowledgement and ended. The monitoring pass takes the
// report before it looks at the worker's end.
TEST_F(Supervision, AReportOutlivingItsWorkerIsStillShown)
{
    ScopedEnv report("VANTREL_FAKE_REPORT", "accept: Too many open files");
    addFake("report");
    ASSERT_NE(table.startService(0), 0);
    ASSERT_TRUE(waitForEnd(0, 30000));

    frontEnd.reportsTo = &table;
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_TRUE(table.record(0)->errorReported);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: accept: Too many open files");
}

TEST_F(Supervision, StopEmptiesAReportedStatus)
{
    addFake("obey");
    ASSERT_NE(table.startService(0), 0);
    uint32_t pid = table.record(0)->processInfo.id();
    EXPECT_TRUE(table.onWorkerReport(pid, "accept: Connection reset"));
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: accept: Connection reset");

    int busy = frontEnd.busyShown;
    table.stopService(0);
    EXPECT_EQ(frontEnd.busyShown, busy + 1);
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "");
    EXPECT_TRUE(table.record(0)->errorReported) << "kept until the next start";
    EXPECT_TRUE(fs::exists(marker(0, ".done")));
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), -1) << "nothing left running";
}

TEST_F(Supervision, AWorkerThatIgnoresItsStopIsKilledAfterTenSeconds)
{
    addFake("ignore");
    ASSERT_NE(table.startService(0), 0);
    pid_t pid = static_cast<pid_t>(table.record(0)->processInfo.id());
    ASSERT_TRUE(waitForFile(marker(0, ".args"), 10000));

    auto start = Clock::now();
    table.stopService(0);
    EXPECT_GE(ms_since(start), 10000);
    EXPECT_LT(ms_since(start), 30000);
    int gone = ::kill(pid, 0) == -1 ? errno : 0;
    EXPECT_EQ(gone, ESRCH) << "killed and collected";
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "");
}

// Two workers that ignore their stop share one time limit: stop-all kills
// both once it has passed, not the second after a limit of its own.
TEST_F(Supervision, StopAllGivesFrozenWorkersOneSharedTimeLimit)
{
    addFake("ignore");
    addFake("ignore", "COM3");
    table.startAllServices();
    std::vector<pid_t> pids;
    for (int row = 0; row < 2; ++row) {
        ASSERT_TRUE(table.record(row)->active);
        pids.push_back(static_cast<pid_t>(table.record(row)->processInfo.id()));
        ASSERT_TRUE(waitForFile(marker(row, ".args"), 10000));
    }
    int refreshes = frontEnd.refreshes;

    auto start = Clock::now();
    table.runMenuCommand(CMD_STOP_ALL, -1);
    EXPECT_GE(ms_since(start), 10000) << "each was given its time to stop";
    EXPECT_LT(ms_since(start), 15000) << "one shared limit, not ten seconds each in turn";
    for (int row = 0; row < 2; ++row) {
        EXPECT_FALSE(table.record(row)->active);
        EXPECT_EQ(frontEnd.rows[row][COLUMN_STATUS], "");
        EXPECT_FALSE(fs::exists(marker(row, ".done"))) << "worker " << row << " was killed";
    }
    EXPECT_EQ(frontEnd.refreshes, refreshes + 2);
    // Killed and collected, by the stop or at the latest by the next pass.
    table.onWorkerTimer(WORKER_TIMER_ID);
    for (pid_t pid : pids) {
        int gone = ::kill(pid, 0) == -1 ? errno : 0;
        EXPECT_EQ(gone, ESRCH) << "process " << pid << " is left";
    }
    EXPECT_FALSE(frontEnd.timerRunning);
}

TEST_F(Supervision, StopAllSignalsEveryWorkerBeforeWaiting)
{
    // Each worker, once stopped, waits until all three have seen their stop
    // before it ends; waiting for one before signalling the next would make
    // the first overstay and be killed.
    ScopedEnv peers("VANTREL_FAKE_PEERS", "3");
    for (int i = 0; i < 3; ++i)
        addFake("together", i == 1 ? "COM3" : "COM1");
    table.startAllServices();
    for (int row = 0; row < 3; ++row)
        ASSERT_TRUE(table.record(row)->active);
    int refreshes = frontEnd.refreshes;

    table.runMenuCommand(CMD_STOP_ALL, -1);
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(fs::exists(marker(row, ".done"))) << "worker " << row << " ended by itself";
        EXPECT_FALSE(table.record(row)->active);
        EXPECT_EQ(frontEnd.rows[row][COLUMN_STATUS], "");
    }
    EXPECT_EQ(frontEnd.refreshes, refreshes + 3);
    EXPECT_TRUE(frontEnd.timerRunning);
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_FALSE(frontEnd.timerRunning);
}

TEST_F(Supervision, RestartReusesTheClearedStopEvent)
{
    addFake("obey");
    addFake("obey", "COM3");
    ASSERT_NE(table.startService(0), 0);
    std::string name = table.record(0)->eventName;
    intptr_t event = table.record(0)->stopEvent.native();
    uint32_t first = table.record(0)->processInfo.id();

    table.runButton(IDC_RESTART, 0);
    ServiceRecord& record = *table.record(0);
    EXPECT_TRUE(fs::exists(marker(0, ".done")));
    EXPECT_TRUE(record.active);
    EXPECT_NE(record.processInfo.id(), first);
    EXPECT_EQ(record.eventName, name);
    EXPECT_EQ(record.stopEvent.native(), event);
    EXPECT_FALSE(record.stopEvent.is_set());
    uint32_t code = 0;
    EXPECT_TRUE(record.processInfo.exit_code(code));
    EXPECT_EQ(code, port::STILL_ACTIVE_CODE);

    // Start-all leaves a running worker alone and starts the stopped ones.
    uint32_t running = record.processInfo.id();
    fs::remove(marker(0, ".done"));
    table.runMenuCommand(CMD_START_ALL, -1);
    EXPECT_EQ(table.record(0)->processInfo.id(), running);
    EXPECT_FALSE(fs::exists(marker(0, ".done")));
    EXPECT_TRUE(table.record(1)->active);
    table.stopService(1);

    // Restart-all starts the stopped ones too.
    table.runMenuCommand(CMD_RESTART_ALL, -1);
    EXPECT_TRUE(fs::exists(marker(0, ".done")));
    EXPECT_TRUE(table.record(0)->active);
    EXPECT_TRUE(table.record(1)->active);
}

TEST_F(Supervision, SavedRunningServicesStartAgainAtLoad)
{
    ConfigPlace place;
    {
        ReportingFrontEnd saving;
        ServiceTable before(saving);
        for (const char* mode : {"obey", "exit", "obey"}) {
            auto record = newServiceRecord();
            record->field(COLUMN_TCPIP) = mode;
            record->field(COLUMN_COMPORT) = "COM3";
            before.addService(std::move(record));
        }
        ASSERT_NE(before.startService(0), 0);
        ASSERT_NE(before.startService(2), 0);
        before.saveConfiguration(false);
        before.destroyAllServices();
    }
    // A saved running service whose start is refused is added all the same.
    std::string text = read_file(place.machinePath());
    text += "\n[Service4]\ntcpip = 20 01\ncomport = COM3\nactive = 1\n";
    text.replace(text.find("services   = 3"), 14, "services   = 4");
    write_file(place.machinePath(), text);

    table.loadConfiguration();
    ASSERT_EQ(table.count(), 4);
    EXPECT_TRUE(table.record(0)->active);
    EXPECT_FALSE(table.record(1)->active);
    EXPECT_TRUE(table.record(2)->active);
    EXPECT_FALSE(table.record(3)->active);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Active");
    EXPECT_EQ(frontEnd.rows[1][COLUMN_STATUS], "");
    EXPECT_EQ(frontEnd.rows[3][COLUMN_STATUS], "Error: Invalid TCP/IP Port specified");
    EXPECT_EQ(table.record(0)->field(COLUMN_TCPIP), "obey");
}

// The real vantrel as worker: bytes pass both ways between a TCP client
// and a pseudo-terminal, and the stop ends it without a kill.
TEST_F(Supervision, RealWorkerBridgesAPseudoTerminal)
{
    managerGlobals.modulePath = VANTREL_EXE;
    const uint16_t port = support::free_port();
    ASSERT_NE(port, 0);
    addFake(std::to_string(port));
    ASSERT_NE(table.startService(0), 0);

    port::Socket client = support::connect_loopback(port, 20000);
    ASSERT_TRUE(client.valid()) << "the worker listens";

    const std::string toBoard = std::string("to the board\0\xff\r\n", 17);
    ASSERT_EQ(client.send(toBoard.data(), static_cast<int>(toBoard.size())), static_cast<int>(toBoard.size()));
    EXPECT_EQ(board1.read(toBoard.size(), 20000), toBoard);

    const std::string fromBoard = "from the board\n";
    ASSERT_TRUE(board1.write(fromBoard));
    EXPECT_EQ(support::recv_exactly(client, fromBoard.size(), 20000), fromBoard);

    pid_t pid = static_cast<pid_t>(table.record(0)->processInfo.id());
    auto start = Clock::now();
    table.stopService(0);
    EXPECT_LT(ms_since(start), 10000) << "the worker obeyed its stop";
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "");
}

// The real worker's own failure reaches the Status cell through its report.
TEST_F(Supervision, RealWorkerReportsAPortInUse)
{
    managerGlobals.modulePath = VANTREL_EXE;
    port::Socket taken = port::Socket::stream();
    ASSERT_TRUE(taken.bind(support::loopback, 0));
    ASSERT_TRUE(taken.listen(1));
    addFake(std::to_string(taken.local_port()));
    ASSERT_NE(table.startService(0), 0);
    ASSERT_TRUE(frontEnd.deliverReport(table, 20000));
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: bind: Address already in use");
    ASSERT_TRUE(waitForEnd(0, 20000));
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: bind: Address already in use");
}

TEST_F(Supervision, AProgramThatCannotRunLeavesTheServiceStopped)
{
    managerGlobals.modulePath = (markers / "no-such-program");
    addFake("obey");
    table.setServiceField(0, COLUMN_NAME, "kept");
    table.record(0)->field(COLUMN_STATUS) = "Error: earlier";
    frontEnd.rows[0][COLUMN_STATUS] = "Error: earlier";
    int refreshes = frontEnd.refreshes;
    EXPECT_EQ(table.startService(0), 0);
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: earlier");
    EXPECT_EQ(frontEnd.refreshes, refreshes);
    EXPECT_EQ(frontEnd.timersStarted, 0);
}

} // namespace
