#pragma once
// What the manager core needs of a front end: its main window and service
// list. The two windows (ui/qt, ui/win32) implement ManagerFrontEnd.

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
    // The supervision timer, on the main window: the platform's identifier,
    // 0 on failure. Its ticks go to ServiceTable::onWorkerTimer.
    virtual int startTimer(int id, int periodMs) = 0;
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
