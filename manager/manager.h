#pragma once
// The manager's core: the table of services, worker launch and supervision,
// serial port discovery, validation, the configuration file and autostart.
// No window code lives here; the two front ends (ui/qt, ui/win32) implement
// ManagerFrontEnd and call the operations of ServiceTable from their one
// user-interface thread.

#include "port/process.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Fixed names, texts and numbers.

inline constexpr const char* PRODUCT_PREFIX = "BRAMBLEVantrelServer"; // mutex, stop events
inline constexpr const char* WINDOW_TITLE = "BRAMBLE Vantrel Server";
inline constexpr const char* NO_SERIAL_PORTS_TEXT = "No Serial Ports found!";
inline constexpr const char* TRAY_MESSAGE_NAME = "BRAMBLEVantrelServer tray notification";
inline constexpr const char* CONFIG_FILE_NAME = "vantrel.ini";
inline constexpr const char* AUTOSTART_VALUE_NAME = "VantrelServer";

inline constexpr int WORKER_TIMER_ID = 1;
inline constexpr int WORKER_TIMER_PERIOD_MS = 500;
inline constexpr int STOP_TIMEOUT_MS = 10000;

// Service list columns, in their fixed order.
enum ServiceColumn {
    COLUMN_NAME = 0,
    COLUMN_STATUS = 1,
    COLUMN_TCPIP = 2,
    COLUMN_COMPORT = 3,
    COLUMN_BAUDRATE = 4,
    COLUMN_HANDSHAKE = 5,
    COLUMN_PARITY = 6,
    COLUMN_STOPBITS = 7,
    COLUMN_DTRO = 8,
    COLUMN_DTRC = 9,
};
inline constexpr int SERVICE_COLUMNS = 10;

extern const std::array<const char*, SERVICE_COLUMNS> columnHeaders;
extern const std::array<int, SERVICE_COLUMNS> defaultColumnWidths;

// Value domains, in the order the editors offer them.
extern const std::vector<std::string> baudRateChoices;
extern const std::vector<std::string> handshakeChoices;
extern const std::vector<std::string> parityChoices;
extern const std::vector<std::string> stopBitsChoices;
extern const std::vector<std::string> dtroChoices;
extern const std::vector<std::string> dtrcChoices;

// Context menu item identifiers (9 is not used) and button identifiers.
enum ServiceCommand {
    CMD_START_SERVICE = 1,
    CMD_STOP_SERVICE = 2,
    CMD_RESTART_SERVICE = 3,
    CMD_START_ALL = 4,
    CMD_STOP_ALL = 5,
    CMD_RESTART_ALL = 6,
    CMD_ADD_SERVICE = 7,
    CMD_DELETE_SERVICE = 8,
    CMD_REFRESH_PORTS = 10,
    CMD_RESET_COLUMNS = 11,
};

// The service list's context menu, top to bottom, as both windows build it.
// A command of 0 is a separator (its text is null).
struct ServiceMenuItem {
    int command;
    const char* text;
};
inline constexpr ServiceMenuItem serviceMenuItems[] = {
    {CMD_START_SERVICE, "&Start Service"},
    {CMD_STOP_SERVICE, "St&op Service"},
    {CMD_RESTART_SERVICE, "&Restart Service"},
    {0, nullptr},
    {CMD_START_ALL, "Start All Services"},
    {CMD_STOP_ALL, "Stop All Services"},
    {CMD_RESTART_ALL, "Restart All Services"},
    {0, nullptr},
    {CMD_ADD_SERVICE, "&Add Service"},
    {CMD_DELETE_SERVICE, "&Delete Service"},
    {0, nullptr},
    {CMD_REFRESH_PORTS, "Refresh Serial Ports list"},
    {0, nullptr},
    {CMD_RESET_COLUMNS, "Reset Column widths"},
};

enum ButtonId {
    IDC_SERVICE_LIST = 1000,
    IDC_ADD = 1001,
    IDC_DELETE = 1002,
    IDC_START = 1003,
    IDC_STOP = 1004,
    IDC_RESTART = 1005,
    IDC_HELP_BUTTON = 1006,
    IDC_AUTOSTART = 1007,
};

// ---------------------------------------------------------------------------
// Manager-wide values, set once by the manager start-up.

struct ManagerGlobals {
    std::string modulePath;
    uint32_t processId = 0;
    int32_t serviceCounter = 1;
};
extern ManagerGlobals managerGlobals;

// ---------------------------------------------------------------------------

struct ServiceRecord {
    std::string name = "Service";
    std::string status;
    std::string tcpip = "telnet";
    std::string comport;
    std::string baudrate = "19200";
    std::string stopbits = "1";
    std::string handshake = "None";
    std::string parity = "None";
    std::string dtro = "No";
    std::string dtrc = "No";
    std::string sortKey;

    bool active = false;
    bool errorReported = false;
    port::NamedEvent stopEvent;
    std::string eventName;
    port::Process processInfo;

    // The record field shown in a list column (status included).
    std::string& field(int column);
    const std::string& field(int column) const;
};

// A record with the defaults and a fresh stop-event name, which takes one
// value of managerGlobals.serviceCounter.
std::unique_ptr<ServiceRecord> newServiceRecord();

// The flags word and the nine-word worker command line of a record.
int serviceLineFlags(const ServiceRecord& record);
std::string workerCommandLine(const ServiceRecord& record, uintptr_t reportTarget);

// ---------------------------------------------------------------------------
// What the core needs of a front end: its main window and service list.

struct WindowFields {
    int xpos = 0;
    int ypos = 0;
    int width = 0;
    int height = 0;
    int minimized = 0;
};

struct WindowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class ManagerFrontEnd {
public:
    virtual ~ManagerFrontEnd() = default;

    // The list's rows mirror the table's rows.
    virtual bool appendRow() = 0; // false when the view refuses the row
    virtual void removeRow(int row) = 0;
    virtual void setCellText(int row, int column, const std::string& text) = 0;
    virtual int selectedRow() const = 0;   // -1 when none
    virtual void selectRow(int row) = 0;   // select and focus; -1 clears
    virtual int columnWidth(int column) const = 0;
    virtual void setColumnWidth(int column, int width) = 0;

    // The main window.
    virtual void refreshButtons() = 0;            // WM_REFRESH_BUTTONS
    virtual void showNoSerialPortsMessage() = 0;  // the one message box
    virtual void beginBusyCursor() = 0;
    virtual void endBusyCursor() = 0;             // restores the previous one
    virtual int startTimer(int id, int periodMs) = 0; // the platform's identifier, 0 on failure
    virtual void killTimer(int identifier) = 0;
    virtual bool autostartChecked() const = 0;
    virtual void setAutostartChecked(bool checked) = 0;
    virtual WindowFields& windowFields() = 0;     // the main window's stored placement
    virtual WindowRect normalRect() const = 0;    // restored placement, screen pixels
    virtual uintptr_t reportTarget() const = 0;   // the worker's eighth argument
    // Hands every worker report already waiting to onWorkerReport. A worker
    // sends its report before it ends; the monitoring pass calls this first,
    // so a report the window has not taken yet is not outrun by the end of
    // its worker. Nothing to do where reports arrive synchronously.
    virtual void deliverPendingReports() {}
};

// ---------------------------------------------------------------------------
// The table of services with the list's own state and every operation on it.
// A service is named by its 0-based row; operations ignore a row outside the
// table.

class ServiceTable {
public:
    explicit ServiceTable(ManagerFrontEnd& frontEnd);
    ~ServiceTable();
    ServiceTable(const ServiceTable&) = delete;
    ServiceTable& operator=(const ServiceTable&) = delete;

    int count() const;
    ServiceRecord* record(int row);
    const ServiceRecord* record(int row) const;

    // Services.
    int addService(std::unique_ptr<ServiceRecord> record = nullptr);
    void deleteService(int row);
    void destroyAllServices();

    // Workers.
    int startService(int row);
    void stopService(int row);
    void restartService(int row);
    void stopAllServices();
    void startAllServices();
    void restartAllServices();
    void onWorkerTimer(int identifier);
    bool onWorkerReport(uint32_t processId, const char* text);
    int workerTimer() const { return workerTimer_; }

    // Serial ports and validation.
    bool serialPortExists(const std::string& name) const;
    bool refreshSerialPorts();
    const std::vector<std::string>& serialPortList() const { return serialPortList_; }
    bool portsStale() const { return portsStale_; }
    bool validateService(ServiceRecord& record) const;

    // The list: sorting, editing, commands.
    void sortByColumn(int column);
    int sortColumn() const { return sortColumn_; }
    bool sortAscending() const { return sortAscending_; }
    void resetColumnWidths();
    // Which editor a cell gets: false for none (status column, bad row, no
    // serial port found). On true, text editor when choices is empty,
    // otherwise a drop-down with these choices in order.
    bool prepareCellEdit(int row, int column, std::vector<std::string>& choices);
    // Applies an edit: sets the cell and the record field.
    void setServiceField(int row, int column, const std::string& text);
    bool menuItemEnabled(int command, int row) const;
    void runMenuCommand(int command, int row);
    bool buttonEnabled(int button, int row) const;
    void runButton(int button, int row);

    // Configuration file and autostart.
    void loadConfiguration();
    void saveConfiguration(bool endingSession);
    void updateAutostart();

private:
    void showRow(int row);                       // all ten cells from the record
    void setStatus(int row, const std::string& status);
    void finishStop(int row);                    // wait, kill on time-out, mark stopped

    ManagerFrontEnd& frontEnd_;
    std::vector<std::unique_ptr<ServiceRecord>> rows_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    bool portsStale_ = true;
    int workerTimer_ = 0;
    std::vector<std::string> serialPortList_;
};
