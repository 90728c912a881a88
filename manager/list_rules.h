#pragma once
// The rules of the service list, the same in both windows: adding a service
// (with the first serial port found) and deleting one (with the selection's
// move), sorting by a column, the default column widths, which editor a
// cell gets and how an ended edit is applied, the serial port list behind
// the Serial Port editor, and the service commands of the menu and the
// buttons with their greying.

#include "manager/cell_editing.h"
#include "manager/front_end.h"
#include "manager/serial_ports.h"
#include "manager/service_rows.h"
#include "manager/worker_supervision.h"

#include <memory>
#include <string>
#include <vector>

class ServiceListRules {
public:
    ServiceListRules(ServiceRows& rows, WorkerSupervision& supervision, ManagerWindow& window);
    ServiceListRules(const ServiceListRules&) = delete;
    ServiceListRules& operator=(const ServiceListRules&) = delete;

    // Adds the record as the last row, or without one a new service with
    // the defaults and the first serial port present (the message box when
    // there is none). The new row, not selected; -1 when the list refused it.
    int addService(std::unique_ptr<ServiceRecord> record = nullptr);
    // Deletes a stopped service and selects the row now at its index, else
    // the one before.
    void deleteService(int row);

    // The Serial Port editor's list: rebuilt by the refresh (the busy
    // cursor meanwhile, the message box when no port is found).
    bool refreshSerialPorts();
    const std::vector<std::string>& serialPortList() const { return ports_.names(); }
    bool portsStale() const { return ports_.stale(); }

    void sortByColumn(int column);
    int sortColumn() const { return sortColumn_; }
    bool sortAscending() const { return sortAscending_; }
    void resetColumnWidths();

    // Readies a cell for its editor: the Serial Port's list is scanned
    // again when it is stale, when the cell's port has gone or when a
    // refresh left it empty. False when the cell gets no editor (no such
    // row, a column not edited, no serial port found).
    bool prepareCellEdit(int row, int column);
    // Which editor the cell gets, with its choices and the one the cell
    // holds; a question only (prepareCellEdit first). None where
    // prepareCellEdit would be false, or while the port list is stale.
    CellEditorSetup cellEditor(int row, int column) const;
    // Sets an edited field and its cell; a column that is not edited (the
    // Status) stays.
    void setServiceField(int row, int column, const std::string& text);
    // Applies an ended editor's result (a text the setting refuses is not
    // taken); returns the column whose editor opens next on the same row
    // (after Tab), else -1.
    int applyCellEdit(const CellEditResult& result);

    bool menuItemEnabled(int command, int row) const;
    void runMenuCommand(int command, int row);
    bool buttonEnabled(int button, int row) const;
    // Help opens a window, which is the front end's own business.
    void runButton(int button, int row);

private:
    ServiceRows& rows_;
    WorkerSupervision& supervision_;
    ManagerWindow& window_;
    SerialPortList ports_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
};
