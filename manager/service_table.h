#pragma once
// The manager core behind a window, under the operation names both windows
// call: the rows of services (service_rows.h), their workers' supervision
// (worker_supervision.h), the list's rules (list_rules.h) and the
// configuration file (configuration_file.h), joined to one ManagerWindow.
// A service is named by its 0-based row; operations ignore a row outside
// the table. The window calls these from its one user-interface thread.

#include "manager/cell_editing.h"
#include "manager/command_ids.h"
#include "manager/front_end.h"
#include "manager/list_rules.h"
#include "manager/product_texts.h"
#include "manager/serial_ports.h"
#include "manager/service_record.h"
#include "manager/service_rows.h"
#include "manager/worker_supervision.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace port {
class Profile;
}

class ServiceTable {
public:
    explicit ServiceTable(ManagerWindow& window);
    ServiceTable(const ServiceTable&) = delete;
    ServiceTable& operator=(const ServiceTable&) = delete;

    int count() const { return rows_.count(); }
    ServiceRecord* record(int row) { return rows_.record(row); }
    const ServiceRecord* record(int row) const { return rows_.record(row); }

    // Services.
    int addService(std::unique_ptr<ServiceRecord> record = nullptr) { return rules_.addService(std::move(record)); }
    void deleteService(int row) { rules_.deleteService(row); }
    // Stops every worker, then frees every record (the window's rows go
    // with the window).
    void destroyAllServices();

    // Workers.
    int startService(int row) { return supervision_.startService(row); }
    void stopService(int row) { supervision_.stopService(row); }
    void restartService(int row) { supervision_.restartService(row); }
    void stopAllServices() { supervision_.stopAllServices(); }
    void stopServices(const std::vector<int>& rows) { supervision_.stopServices(rows); }
    void startAllServices() { supervision_.startAllServices(); }
    void restartAllServices() { supervision_.restartAllServices(); }
    void onWorkerTimer(int identifier) { supervision_.onWorkerTimer(identifier); }
    bool onWorkerReport(uint32_t processId, const char* text) { return supervision_.onWorkerReport(processId, text); }
    int workerTimer() const { return supervision_.workerTimer(); }
    int clientReportDescriptor() const { return supervision_.clientReportDescriptor(); }
    void deliverClientReports() { supervision_.deliverClientReports(); }

    // Serial ports and validation.
    bool serialPortExists(const std::string& name) const { return ::serialPortExists(name); }
    bool refreshSerialPorts() { return rules_.refreshSerialPorts(); }
    const std::vector<std::string>& serialPortList() const { return rules_.serialPortList(); }
    bool portsStale() const { return rules_.portsStale(); }
    std::optional<std::string> validateService(const ServiceRecord& record) const
    {
        return supervision_.validateService(record);
    }

    // The list: sorting, editing, commands.
    void sortByColumn(int column) { rules_.sortByColumn(column); }
    int sortColumn() const { return rules_.sortColumn(); }
    bool sortAscending() const { return rules_.sortAscending(); }
    void resetColumnWidths() { rules_.resetColumnWidths(); }
    bool prepareCellEdit(int row, int column) { return rules_.prepareCellEdit(row, column); }
    CellEditorSetup cellEditor(int row, int column) const { return rules_.cellEditor(row, column); }
    void setServiceField(int row, int column, const std::string& text) { rules_.setServiceField(row, column, text); }
    int applyCellEdit(const CellEditResult& result) { return rules_.applyCellEdit(result); }
    bool menuItemEnabled(int command, int row) const { return rules_.menuItemEnabled(command, row); }
    void runMenuCommand(int command, int row) { rules_.runMenuCommand(command, row); }
    bool buttonEnabled(int button, int row) const { return rules_.buttonEnabled(button, row); }
    void runButton(int button, int row) { rules_.runButton(button, row); }

    // The configuration file and autostart: loading sets the window's check
    // box, placement and column widths, adds every stored service and starts
    // each stored as running; saving applies the check box to the autostart
    // entry first, then writes the file (the minimised state only at the
    // end of the user's session).
    void loadConfiguration();
    // The same from a file already read.
    void loadConfiguration(const port::Profile& profile);
    void saveConfiguration(bool endingSession);
    void updateAutostart();

private:
    ManagerWindow& window_;
    ServiceRows rows_;
    WorkerSupervision supervision_; // after the rows: its safety net stops their workers first
    ServiceListRules rules_;
};
