#pragma once
// One icon in the desktop's notification area, with a two-item menu and an
// activation that restores the window (a double click, or on a tray that
// reports no double clicks a single one), each turned into a command for
// the main window.
// When the desktop's tray comes back after a restart, Qt shows a visible
// icon in it again by itself.

#include "manager/tray_activation.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>

class QMenu;

inline constexpr int IDR_TRAY_MENU = 129;
inline constexpr int ID_TRAY_CONFIGURE = 32771;
inline constexpr int ID_TRAY_EXIT = 32772;

class CSystemTray : public QObject {
    Q_OBJECT
public:
    // Receives the menu's commands and the double click, after the event
    // that caused them has been handled (the receiver may destroy the tray).
    using CommandSink = std::function<void(int command)>;

    CSystemTray();
    ~CSystemTray() override; // removes the icon

    // Adds the icon. `owner` bounds the lifetime of delivered commands.
    void create(QObject* owner, CommandSink sink, const QString& toolTip, const QIcon& icon, int id);
    // 1 when the event was this icon's and was taken, else 0.
    int onIconEvent(int id, QSystemTrayIcon::ActivationReason reason);

    bool iconAdded() const { return iconAdded_; }
    int id() const { return id_; }
    QString toolTip() const;
    QSystemTrayIcon* icon() const { return icon_.get(); }
    QMenu* menu() const { return menu_.get(); }

    // Whether the desktop offers a notification area; tests may pretend.
    static bool available();
    static void setAvailableOverride(std::optional<bool> available);
    // The kind of tray the desktop offers: StatusNotifier while its watcher
    // is on the session bus (Qt then uses it), else Classic. Tests may
    // pretend.
    static TrayKind kind();
    static void setKindOverride(std::optional<TrayKind> kind);
    // The kind this icon was made for.
    TrayKind trayKind() const { return kind_; }

private:
    void deliver(int command);

    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QPointer<QObject> owner_;
    CommandSink sink_;
    int id_ = 0;
    bool iconAdded_ = false;
    TrayKind kind_ = TrayKind::Classic;
};
