#pragma once
// The table of services with the list's own state and every operation on it.
// A service is named by its 0-based row; operations ignore a row outside the
// table. The front end calls these from its one user-interface thread.

#include "manager/cell_editing.h"
#include "manager/command_ids.h"
#include "manager/front_end.h"
#include "manager/product_texts.h"
#include "manager/service_record.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace port {
class Profile;
}

inline constexpr int WORKER_TIMER_ID = 1;
inline constexpr int WORKER_TIMER_PERIOD_MS = 500;
inline constexpr int STOP_TIMEOUT_MS = 10000;
// How long a stop waits for a killed worker before the monitoring pass
// collects it instead.
inline constexpr int KILL_WAIT_MS = 1000;

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

    // Workers: start, stop, and the supervision timer's pass and the
    // workers' reports (supervision.cpp).
    int startService(int row);
    void stopService(int row);
    void restartService(int row);
    void stopAllServices();
    // Stops the running services of these rows: every one is asked to
    // stop before the first is waited for, then each in the given order.
    void stopServices(const std::vector<int>& rows);
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
    // The same as an editor set-up, with the choice the cell holds now.
    CellEditorSetup cellEditor(int row, int column);
    // Applies an edit: sets the cell and the record field.
    void setServiceField(int row, int column, const std::string& text);
    // Applies an ended editor's result; returns the column whose editor
    // opens next on the same row (after Tab), else -1.
    int applyCellEdit(const CellEditResult& result);
    bool menuItemEnabled(int command, int row) const;
    void runMenuCommand(int command, int row);
    bool buttonEnabled(int button, int row) const;
    void runButton(int button, int row);

    // Configuration file and autostart.
    void loadConfiguration();
    // The same from a file already read.
    void loadConfiguration(const port::Profile& profile);
    void saveConfiguration(bool endingSession);
    void updateAutostart();

private:
    void showRow(int row);                       // all ten cells from the record
    void setStatus(int row, const std::string& status);
    using StopClock = std::chrono::steady_clock;
    // Waits for a signalled worker until stopBy, kills it when it overstays
    // and then waits for it until killBy (set by the first kill of a stop),
    // and marks the service stopped. A killed worker not yet gone is left
    // to the monitoring pass to collect.
    void finishStop(int row, StopClock::time_point stopBy, std::optional<StopClock::time_point>& killBy);
    // The same without the front end: the process ends up closed or, when
    // killed and not yet gone, among the killed workers.
    void awaitWorker(ServiceRecord& service, StopClock::time_point stopBy,
                     std::optional<StopClock::time_point>& killBy);
    // Collects the killed workers that have ended; true when some remain.
    bool collectKilledWorkers();

    ManagerFrontEnd& frontEnd_;
    std::vector<std::unique_ptr<ServiceRecord>> rows_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    bool portsStale_ = true;
    int workerTimer_ = 0;
    std::vector<std::string> serialPortList_;
    std::vector<port::Process> killedWorkers_; // killed, not yet seen to end
};
