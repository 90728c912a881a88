#pragma once
// The manager's main window: the service list, six buttons and the
// autostart check box. It draws and wires what the manager core's window
// session does: the configuration loaded when it opens, minimising into
// the notification area, saving and stopping every worker when it closes.
// The services themselves are the core's.

#include "manager/service_table.h"
#include "manager/window_session.h"
#include "port/report.h"
#include "ui/qt/resizable_dialog.h"

#include <QIcon>

#include <memory>

class QCheckBox;
class QPushButton;
class QSocketNotifier;
class CSystemTray;
class ServiceListView;

inline constexpr int IDD_MAIN = 102;
inline constexpr int IDM_ABOUTBOX = 16;

class CMainDialog : public CResizableDialog {
    Q_OBJECT
public:
    CMainDialog();
    ~CMainDialog() override;

    // A command of a button, of the tray icon or the About item.
    void onCommand(int command);
    // The user's session ends (log-off, shut-down): save with the
    // minimised state; nothing is stopped.
    void onEndSession();
    // The session ends under the manager (SIGTERM or SIGHUP from the
    // desktop): saved as at a log-off, with the minimised state, then every
    // worker is stopped and the window ends.
    void endWithSession();
    void showAbout();

    ServiceListView* listView() const { return list_; }
    QPushButton* button(int id) const;
    QCheckBox* autostartBox() const { return autostart_; }
    ServiceTable& table() { return *table_; }
    CSystemTray* trayIcon() const { return tray_.get(); }
    // 1 while minimised (into the tray when there is one), else 0.
    int minimized() const { return session_->minimized(); }
    // The template size in pixels: the smallest the window gets.
    QSize initialSize() const { return initialSize_; }

    // Ends the window (Escape, close box, the tray's Exit): saves the
    // configuration, removes the tray icon, stops every worker and closes
    // Help.
    void done(int result) override;

protected:
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The supervision timer's ticks.
    void timerEvent(QTimerEvent* event) override;

private:
    class FrontEnd;

    void refreshButtons();
    void deliverReports();
    void restoreFromTray();
    void minimizeAfterStart();
    WindowRect normalRect() const;
    bool ended() const { return !session_ || session_->ended(); }

    std::unique_ptr<FrontEnd> frontEnd_;
    std::unique_ptr<ServiceTable> table_;
    std::unique_ptr<WindowSession> session_;
    port::ReportReceiver receiver_;
    std::unique_ptr<QSocketNotifier> reportNotifier_;
    std::unique_ptr<QSocketNotifier> clientReportNotifier_; // on the table's descriptor: goes first
    std::unique_ptr<CSystemTray> tray_;

    QIcon icon_;
    ServiceListView* list_ = nullptr;
    QPushButton* buttons_[6] = {};
    QCheckBox* autostart_ = nullptr;
    QSize initialSize_;

    WindowFields fields_; // xpos, ypos, width, height, minimized: the session's
};
