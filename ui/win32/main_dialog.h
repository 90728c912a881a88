#pragma once
// The manager's main window: the service list, six buttons and the
// autostart check box. It is the manager core's window and draws and wires
// what the core's window session does (minimising into the notification
// area, saving the configuration when it closes and at log-off); it keeps
// its controls anchored while resized and opens Help and About.

#include "manager/front_end.h"
#include "manager/service_table.h"
#include "manager/window_session.h"
#include "ui/win32/resizable_dialog.h"
#include "ui/win32/service_list_view.h"
#include "ui/win32/system_tray.h"

#include <memory>
#include <vector>

namespace win32 {

class CMainDialog : public CResizableDialog, public ManagerWindow, public SessionWindow {
public:
    CMainDialog();
    ~CMainDialog() override;

    ServiceTable& table() { return table_; }
    ServiceListView& list() { return list_; }
    CSystemTray* trayIcon() const { return trayIcon_.get(); }
    int minimized() const { return session_.minimized(); }
    UINT trayMessage() const { return trayMessage_; }

    // ManagerWindow.
    bool appendRow() override { return list_.appendRow(); }
    void removeRow(int row) override { list_.removeRow(row); }
    void setCellText(int row, int column, const std::string& text) override { list_.setCellText(row, column, text); }
    int selectedRow() const override { return list_.selectedRow(); }
    void selectRow(int row) override { list_.selectRow(row); }
    int columnWidth(int column) const override { return list_.columnWidth(column); }
    void setColumnWidth(int column, int width) override { list_.setColumnWidth(column, width); }
    void refreshButtons() override;
    void showNoSerialPortsMessage() override;
    void beginBusyCursor() override;
    void endBusyCursor() override;
    int startTimer(int id, int periodMs) override;
    void killTimer(int identifier) override;
    bool autostartChecked() const override;
    void setAutostartChecked(bool checked) override;
    WindowFields& windowFields() override { return fields_; }
    WindowRect normalRect() const override;
    uintptr_t reportTarget() const override { return reinterpret_cast<uintptr_t>(hwnd()); }

    // SessionWindow.
    void createColumns() override { list_.createColumns(); }
    std::optional<WindowRect> screenAreaAt(int x, int y) const override;
    WindowSize minimumSize() const override;
    void place(const WindowFields& placement) override;
    void centre() override;
    void minimizeOnceShown() override { minimizeWhenShown_ = true; }
    bool showTrayIcon() override;
    void removeTrayIcon() override { trayIcon_.reset(); }
    void hideWindow() override { ShowWindow(hwnd(), SW_HIDE); }
    void showWindow() override { ShowWindow(hwnd(), SW_SHOW); }
    void restoreWindow() override { ShowWindow(hwnd(), SW_RESTORE); }
    void setButtonEnabled(int id, bool enabled) override { EnableWindow(item(id), enabled); }
    void commitEditing() override { list_.commitEditing(); }
    void closeEditing() override { list_.closeEditing(); }
    void closeHelp() override;

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    LRESULT onInitDialog(WPARAM wParam, LPARAM lParam);
    LRESULT onSysCommand(WPARAM wParam, LPARAM lParam);
    LRESULT onRefreshButtons(WPARAM wParam, LPARAM lParam);
    LRESULT onCopyData(WPARAM wParam, LPARAM lParam);
    LRESULT onNotify(WPARAM wParam, LPARAM lParam);
    LRESULT onDestroy(WPARAM wParam, LPARAM lParam);
    LRESULT onEndSession(WPARAM wParam, LPARAM lParam);
    LRESULT onShowWindow(WPARAM wParam, LPARAM lParam);
    LRESULT onTimer(WPARAM wParam, LPARAM lParam);
    void onAdd() { table_.runButton(IDC_ADD, list_.selectedRow()); }
    void onDelete() { table_.runButton(IDC_DELETE, list_.selectedRow()); }
    void onStart() { table_.runButton(IDC_START, list_.selectedRow()); }
    void onStop() { table_.runButton(IDC_STOP, list_.selectedRow()); }
    void onRestart() { table_.runButton(IDC_RESTART, list_.selectedRow()); }
    void onHelp();
    void onTrayConfigure() { session_.restoreFromTray(); }
    void onCancel() { endDialog(IDCANCEL); }
    void onOk() {} // Enter presses Add, the default button; nothing else ends the window

    static const MessageEntry<CMainDialog> messages[];
    static const CommandEntry<CMainDialog> commands[];

    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    ServiceListView list_;
    ServiceTable table_;
    WindowSession session_;
    std::unique_ptr<CSystemTray> trayIcon_;
    UINT trayMessage_ = 0;
    WindowFields fields_;
    bool minimizeWhenShown_ = false; // the stored state asks for the tray
    std::vector<HCURSOR> busyCursors_; // the cursors to restore, innermost last
};

} // namespace win32
