#pragma once
// What the manager core needs of a front end, in parts that each front end
// implements as far as it uses them: the list of services it keeps up to
// date (rows and their cells, the Status among them), the loop that worker
// supervision runs in (a timer and the workers' reports), and what only a
// window has (the selection, column widths, the buttons, the busy cursor,
// the one message box, and the check box and placement that the
// configuration file keeps). Headless mode implements the first two; the
// two windows (ui/qt, ui/win32) all of ManagerWindow.

#include "manager/client_state.h"

#include <cstdint>
#include <string>

// The main window's placement as the configuration file stores it.
struct WindowFields {
    int xpos = 0;
    int ypos = 0;
    int width = 0;
    int height = 0;    // stored under the key "heigth": the spelling is the file format's
    int minimized = 0; // 1 while minimised into the tray
};

struct WindowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct WindowSize {
    int width = 0;
    int height = 0;
};

// The list of services: its rows mirror the table's rows, a cell per
// column.
class ServiceListDisplay {
public:
    virtual ~ServiceListDisplay() = default;
    virtual bool appendRow() = 0; // false when the view refuses the row
    virtual void removeRow(int row) = 0;
    virtual void setCellText(int row, int column, const std::string& text) = 0;
    // A client of the row's service was served, left or was refused (the
    // Client cell is set as well); headless mode says so, the windows show
    // only the cell.
    virtual void showClientEvent(int /*row*/, const ClientEvent& /*event*/) {}
};

// The loop that worker supervision runs in.
class SupervisionLoop {
public:
    virtual ~SupervisionLoop() = default;
    // The monitoring timer: the platform's identifier, 0 on failure. Its
    // ticks go to WorkerSupervision::onWorkerTimer.
    virtual int startTimer(int id, int periodMs) = 0;
    virtual void killTimer(int identifier) = 0;
    virtual uintptr_t reportTarget() const = 0; // the worker's eighth argument
    // Hands every worker report already waiting to onWorkerReport. A worker
    // sends its report before it ends; the monitoring pass calls this first,
    // so a report not taken yet is not outrun by the end of its worker.
    // Nothing to do where reports arrive synchronously (WM_COPYDATA).
    virtual void deliverPendingReports() {}
};

// A manager window: its list with the selection and column widths, and the
// few services of the window around it.
class ManagerWindow : public ServiceListDisplay, public SupervisionLoop {
public:
    virtual int selectedRow() const = 0; // -1 when none
    virtual void selectRow(int row) = 0; // select and focus; -1 clears
    virtual int columnWidth(int column) const = 0;
    virtual void setColumnWidth(int column, int width) = 0;

    virtual void refreshButtons() = 0;           // WM_REFRESH_BUTTONS
    virtual void showNoSerialPortsMessage() = 0; // the one message box
    virtual void beginBusyCursor() = 0;
    virtual void endBusyCursor() = 0;            // restores the previous one
    virtual bool autostartChecked() const = 0;
    virtual void setAutostartChecked(bool checked) = 0;
    virtual WindowFields& windowFields() = 0;    // the main window's stored placement
    virtual WindowRect normalRect() const = 0;   // restored placement, screen pixels
};
