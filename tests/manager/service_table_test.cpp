// The service table and the list logic that need no serial port and no
// worker: records, the command line, validation texts, deleting, sorting,
// editors, the menu and the buttons.

#include "test_support.h"

#include <algorithm>
#include <cstdint>

namespace {

class Table : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = "/usr/lib/vantrel/vantrel";
        managerGlobals.processId = 4242;
        managerGlobals.serviceCounter = 1;
    }

    // Adds a service without a port scan, `name` in its name field.
    int add(const std::string& name = "Service")
    {
        auto record = newServiceRecord();
        record->field(COLUMN_NAME) = name;
        return table.addService(std::move(record));
    }

    std::vector<std::string> column(int index)
    {
        std::vector<std::string> cells;
        for (auto& row : frontEnd.rows)
            cells.push_back(row[index]);
        return cells;
    }

    FakeFrontEnd frontEnd;
    ServiceTable table{frontEnd};
};

TEST_F(Table, NewRecordsHaveTheDefaultsAndNumberedStopEvents)
{
    auto first = newServiceRecord();
    auto second = newServiceRecord();
    EXPECT_EQ(first->eventName, "BRAMBLEVantrelServer4242_1");
    EXPECT_EQ(second->eventName, "BRAMBLEVantrelServer4242_2");
    EXPECT_EQ(managerGlobals.serviceCounter, 3);
    std::vector<std::string> fields;
    for (int column = 0; column < SERVICE_COLUMNS; ++column)
        fields.push_back(first->field(column));
    EXPECT_EQ(fields, (std::vector<std::string>{"Service", "", "telnet", "", "19200", "None", "None", "1", "No", "No",
                                                "Raw", "", "Queue", "", ""}));
    EXPECT_FALSE(first->active);
    EXPECT_FALSE(first->errorReported);
    EXPECT_FALSE(first->stopEvent.valid());
}

TEST_F(Table, AddAppendsAMirroredRowWithoutSelectingIt)
{
    EXPECT_EQ(add("a"), 0);
    frontEnd.selected = 0;
    EXPECT_EQ(add("b"), 1);
    EXPECT_EQ(frontEnd.selected, 0);
    EXPECT_EQ(frontEnd.refreshes, 2);
    EXPECT_EQ(frontEnd.noPortsMessages, 0) << "a given record is added without a port scan";
    expectRowsMirrorTable(frontEnd, table);

    frontEnd.refuseRows = true;
    EXPECT_EQ(add("c"), -1);
    EXPECT_EQ(table.count(), 2);
    EXPECT_EQ(frontEnd.refreshes, 2);
}

TEST_F(Table, FlagsWordsAndTheNineWords)
{
    ServiceRecord record;
    record.field(COLUMN_HANDSHAKE) = "RTS/CTS";
    record.field(COLUMN_PARITY) = "Odd";
    record.field(COLUMN_STOPBITS) = "2";
    EXPECT_EQ(serviceLineFlags(record), 226);
    record.field(COLUMN_HANDSHAKE) = "Xon/Xoff";
    record.field(COLUMN_PARITY) = "Even";
    record.field(COLUMN_STOPBITS) = "1";
    EXPECT_EQ(serviceLineFlags(record), 33);
    record.field(COLUMN_HANDSHAKE) = "rts/cts"; // compared exactly
    record.field(COLUMN_PARITY) = "odd";
    record.field(COLUMN_STOPBITS) = "two";
    EXPECT_EQ(serviceLineFlags(record), 0);

    record = ServiceRecord();
    record.eventName = "BRAMBLEVantrelServer4242_9";
    record.field(COLUMN_TCPIP) = "telnet";
    record.field(COLUMN_COMPORT) = "COM3";
    record.field(COLUMN_BAUDRATE) = "9600";
    record.field(COLUMN_PARITY) = "Odd";
    record.field(COLUMN_DTRO) = "Yes";
    record.field(COLUMN_DTRC) = "No";
    EXPECT_EQ(workerCommandLine(record, 655360),
              "\"/usr/lib/vantrel/vantrel\" \"BRAMBLEVantrelServer4242_9\" \"telnet\" \"COM3\" 9600 96 1 0 655360");
    record.field(COLUMN_DTRO) = "yes";
    record.field(COLUMN_DTRC) = "Yes";
    EXPECT_EQ(workerCommandLine(record, 0).substr(workerCommandLine(record, 0).size() - 6), " 0 1 0");
}

TEST_F(Table, WorkerCommandLineWritesTheReportTargetAsAnUnsigned32BitNumber)
{
    ServiceRecord record;
    auto lastWord = [&](uintptr_t target) {
        const std::string line = workerCommandLine(record, target);
        return line.substr(line.rfind(' ') + 1);
    };
    // A window handle with bit 31 set is sign-extended on 64 bits.
    EXPECT_EQ(lastWord(static_cast<uintptr_t>(static_cast<intptr_t>(INT32_MIN))), "2147483648");
    EXPECT_EQ(lastWord(static_cast<uintptr_t>(-1)), "4294967295");
    EXPECT_EQ(lastWord(0x80000000u), "2147483648");
    EXPECT_EQ(lastWord(0xffffffffu), "4294967295");
    EXPECT_EQ(lastWord(2147483647u), "2147483647");
    EXPECT_EQ(lastWord(1), "1");
}

// Validation only answers: the Status is the start's to set.
TEST_F(Table, ValidationRefusesTheTcpPortFirstThenTheSerialPort)
{
    using Refusal = std::optional<std::string>;
    ServiceRecord record;
    record.field(COLUMN_COMPORT) = "";
    record.field(COLUMN_STATUS) = "Active";
    for (const char* bad : {"", "20 01", "20\t01", "20\"01", "2001\\", "\""}) {
        record.field(COLUMN_TCPIP) = bad;
        EXPECT_EQ(table.validateService(record), Refusal("Error: Invalid TCP/IP Port specified")) << bad;
    }
    for (const char* good : {"telnet", "2001", "20\\01"}) {
        record.field(COLUMN_TCPIP) = good;
        EXPECT_EQ(table.validateService(record), Refusal("Error: Invalid Serial Port specified")) << good;
    }
    record.field(COLUMN_TCPIP) = "2001";
    record.field(COLUMN_COMPORT) = "COM\"1";
    EXPECT_EQ(table.validateService(record), Refusal("Error: Invalid Serial Port specified"));
    EXPECT_EQ(record.field(COLUMN_STATUS), "Active");
}

TEST_F(Table, RefusedStartShowsTheReasonAndStartsNothing)
{
    add();
    table.record(0)->field(COLUMN_TCPIP) = "";
    int refreshes = frontEnd.refreshes;
    EXPECT_EQ(table.startService(0), 0);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: Invalid TCP/IP Port specified");
    table.record(0)->field(COLUMN_TCPIP) = "2001";
    EXPECT_EQ(table.startService(0), 0);
    EXPECT_EQ(frontEnd.rows[0][COLUMN_STATUS], "Error: Invalid Serial Port specified");
    EXPECT_FALSE(table.record(0)->active);
    EXPECT_FALSE(table.record(0)->stopEvent.valid());
    EXPECT_EQ(frontEnd.timersStarted, 0);
    EXPECT_EQ(frontEnd.refreshes, refreshes);
    EXPECT_EQ(table.startService(-1), 0);
    EXPECT_EQ(table.startService(1), 0);
}

TEST_F(Table, DeleteSelectsTheRowNowAtThatIndexOrTheOneBefore)
{
    for (const char* name : {"a", "b", "c"})
        add(name);
    table.deleteService(1);
    EXPECT_EQ(column(COLUMN_NAME), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(frontEnd.selected, 1);
    table.deleteService(1);
    EXPECT_EQ(frontEnd.selected, 0) << "deleting the last row selects the new last row";
    table.deleteService(5);
    table.deleteService(-1);
    EXPECT_EQ(table.count(), 1);

    table.record(0)->active = true;
    table.deleteService(0);
    EXPECT_EQ(table.count(), 1) << "a running service stays";
    table.record(0)->active = false;

    int refreshes = frontEnd.refreshes;
    table.deleteService(0);
    EXPECT_EQ(table.count(), 0);
    EXPECT_EQ(frontEnd.selected, -1);
    EXPECT_EQ(frontEnd.refreshes, refreshes + 1);
    expectRowsMirrorTable(frontEnd, table);
}

TEST_F(Table, SortingComparesPlainBytesAndToggles)
{
    add("x");
    table.sortByColumn(COLUMN_NAME);
    EXPECT_EQ(table.sortColumn(), -1) << "one row: nothing changes";

    const std::vector<std::string> bauds = {"9600", "230400", "115200", "2400", "57600", "14400", "38400", "4800", "19200"};
    table.record(0)->field(COLUMN_BAUDRATE) = bauds[0];
    for (size_t i = 1; i < bauds.size(); ++i) {
        add("s" + std::to_string(i));
        table.record(static_cast<int>(i))->field(COLUMN_BAUDRATE) = bauds[i];
    }
    frontEnd.selected = 3; // baud rate "2400"
    ServiceRecord* selectedRecord = table.record(3);

    table.sortByColumn(COLUMN_BAUDRATE);
    EXPECT_EQ(table.sortColumn(), COLUMN_BAUDRATE);
    EXPECT_TRUE(table.sortAscending());
    const std::vector<std::string> ascending = {"115200", "14400", "19200", "230400", "2400", "38400", "4800", "57600", "9600"};
    EXPECT_EQ(column(COLUMN_BAUDRATE), ascending);
    expectRowsMirrorTable(frontEnd, table);
    EXPECT_EQ(table.record(frontEnd.selected), selectedRecord) << "the selected row keeps its record";
    EXPECT_EQ(selectedRecord->sortKey, "2400");

    table.sortByColumn(COLUMN_BAUDRATE);
    EXPECT_FALSE(table.sortAscending());
    EXPECT_EQ(column(COLUMN_BAUDRATE), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
    table.sortByColumn(COLUMN_BAUDRATE);
    EXPECT_TRUE(table.sortAscending());
    EXPECT_EQ(column(COLUMN_BAUDRATE), ascending);

    // Another column starts ascending again.
    table.sortByColumn(COLUMN_BAUDRATE);
    table.sortByColumn(COLUMN_NAME);
    EXPECT_TRUE(table.sortAscending());
    EXPECT_EQ(column(COLUMN_NAME).front(), "s1");
    EXPECT_EQ(table.record(frontEnd.selected), selectedRecord);
}

TEST_F(Table, SortOrderOfPortsCaseEmptyCellsAndStatus)
{
    const std::vector<std::pair<std::string, std::string>> services = {
        {"beta", "COM2"}, {"Beta", "COM10"}, {"", "COM1"}, {"alpha", "com1"}, {"\xE9t\xE9", "COM3"}};
    for (auto& [name, comport] : services) {
        add(name);
        table.record(table.count() - 1)->field(COLUMN_COMPORT) = comport;
    }
    table.record(0)->field(COLUMN_STATUS) = "Active";
    table.record(1)->field(COLUMN_STATUS) = "Error: bind: Address already in use";
    table.record(3)->field(COLUMN_STATUS) = "Active";

    table.sortByColumn(COLUMN_COMPORT);
    EXPECT_EQ(column(COLUMN_COMPORT), (std::vector<std::string>{"COM1", "COM10", "COM2", "COM3", "com1"}));
    table.sortByColumn(COLUMN_NAME);
    EXPECT_EQ(column(COLUMN_NAME), (std::vector<std::string>{"", "Beta", "alpha", "beta", "\xE9t\xE9"}))
        << "empty first, upper case before lower case, bytes above 127 last";
    table.sortByColumn(COLUMN_STATUS);
    EXPECT_EQ(column(COLUMN_STATUS),
              (std::vector<std::string>{"", "", "Active", "Active", "Error: bind: Address already in use"}));
    table.sortByColumn(COLUMN_STATUS);
    EXPECT_EQ(column(COLUMN_STATUS).front(), "Error: bind: Address already in use");
    EXPECT_EQ(column(COLUMN_STATUS).back(), "");
    expectRowsMirrorTable(frontEnd, table);
}

TEST_F(Table, EditorsPerColumnAndAppliedEdits)
{
    add();
    EXPECT_FALSE(table.prepareCellEdit(0, COLUMN_STATUS));
    EXPECT_FALSE(table.prepareCellEdit(1, COLUMN_NAME));
    EXPECT_FALSE(table.prepareCellEdit(0, SERVICE_COLUMNS));
    for (int column : {COLUMN_NAME, COLUMN_TCPIP, COLUMN_BAUDRATE, COLUMN_HANDSHAKE, COLUMN_PARITY, COLUMN_STOPBITS,
                       COLUMN_DTRO, COLUMN_DTRC, COLUMN_PROTOCOL})
        EXPECT_TRUE(table.prepareCellEdit(0, column)) << "column " << column;
    EXPECT_EQ(frontEnd.busyShown, 0) << "only the Serial Port's editor scans";

    table.setServiceField(0, COLUMN_NAME, "");
    table.setServiceField(0, COLUMN_TCPIP, "2001");
    table.setServiceField(0, COLUMN_DTRO, "Yes");
    table.setServiceField(0, COLUMN_STATUS, "Active");
    table.setServiceField(3, COLUMN_NAME, "nowhere");
    EXPECT_EQ(table.record(0)->field(COLUMN_NAME), "");
    EXPECT_EQ(table.record(0)->field(COLUMN_TCPIP), "2001");
    EXPECT_EQ(table.record(0)->field(COLUMN_DTRO), "Yes");
    EXPECT_EQ(table.record(0)->field(COLUMN_STATUS), "") << "the status is never edited";
    expectRowsMirrorTable(frontEnd, table);
}

TEST_F(Table, MenuGreyingAndButtons)
{
    // The items as the windows show them, top to bottom.
    std::string shown;
    for (const ServiceMenuItem& item : serviceMenuItems)
        shown += item.command ? std::to_string(item.command) + ' ' + item.text + '|' : std::string("-|");
    EXPECT_EQ(shown, "1 &Start Service|2 St&op Service|3 &Restart Service|-|4 Start All Services|"
                     "5 Stop All Services|6 Restart All Services|-|7 &Add Service|8 &Delete Service|-|"
                     "10 Refresh Serial Ports list|-|11 Reset Column widths|");

    auto enabled = [&](int row) {
        std::vector<int> on;
        for (const ServiceMenuItem& item : serviceMenuItems)
            if (item.command && table.menuItemEnabled(item.command, row))
                on.push_back(item.command);
        return on;
    };
    auto buttons = [&](int row) {
        std::vector<int> on;
        for (int button = IDC_ADD; button <= IDC_HELP_BUTTON; ++button)
            if (table.buttonEnabled(button, row))
                on.push_back(button);
        return on;
    };
    EXPECT_EQ(enabled(-1), (std::vector<int>{7, 10, 11}));
    EXPECT_EQ(buttons(-1), (std::vector<int>{IDC_ADD, IDC_HELP_BUTTON}));
    add();
    EXPECT_EQ(enabled(-1), (std::vector<int>{4, 5, 6, 7, 10, 11}));
    EXPECT_EQ(enabled(0), (std::vector<int>{1, 4, 5, 6, 7, 8, 10, 11}));
    EXPECT_EQ(buttons(0), (std::vector<int>{IDC_ADD, IDC_DELETE, IDC_START, IDC_HELP_BUTTON}));
    EXPECT_EQ(enabled(1), enabled(-1));
    EXPECT_FALSE(table.menuItemEnabled(9, 0));

    table.record(0)->active = true;
    EXPECT_EQ(enabled(0), (std::vector<int>{2, 3, 4, 5, 6, 7, 10, 11}));
    EXPECT_EQ(buttons(0), (std::vector<int>{IDC_ADD, IDC_STOP, IDC_RESTART, IDC_HELP_BUTTON}));
    table.runMenuCommand(CMD_DELETE_SERVICE, 0);
    table.runButton(IDC_DELETE, 0);
    EXPECT_EQ(table.count(), 1) << "greyed commands do nothing";
    table.record(0)->active = false;

    frontEnd.widths.assign(SERVICE_COLUMNS, 5);
    table.runMenuCommand(CMD_RESET_COLUMNS, -1);
    EXPECT_EQ(frontEnd.widths, (std::vector<int>{70, 60, 70, 60, 55, 70, 50, 55, 45, 45, 65, 110, 65, 80, 100}));
    table.runMenuCommand(CMD_DELETE_SERVICE, 0);
    EXPECT_EQ(table.count(), 0);
}

TEST_F(Table, TimerAndReportsWithoutWorkers)
{
    EXPECT_FALSE(table.onWorkerReport(1234, "error"));
    add();
    EXPECT_FALSE(table.onWorkerReport(1234, "bind: Address already in use"));
    EXPECT_FALSE(table.onWorkerReport(0, "a record that never ran has process id 0"));
    EXPECT_EQ(table.record(0)->field(COLUMN_STATUS), "");
    EXPECT_FALSE(table.record(0)->errorReported);
    table.onWorkerTimer(WORKER_TIMER_ID);
    EXPECT_EQ(table.workerTimer(), 0);
    EXPECT_EQ(frontEnd.timersStarted, 0);
}

} // namespace
