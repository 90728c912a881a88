// The tray icon on Linux: a system tray icon with its menu, its
// activations turned into the main window's commands.

#include "ui/qt/system_tray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QTimer>

namespace {
std::optional<bool> availableOverride;
std::optional<TrayKind> kindOverride;

TrayActivation activationOf(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: return TrayActivation::Click;
    case QSystemTrayIcon::DoubleClick: return TrayActivation::DoubleClick;
    case QSystemTrayIcon::MiddleClick: return TrayActivation::MiddleClick;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown: break;
    }
    return TrayActivation::ContextMenu;
}
} // namespace

bool CSystemTray::available()
{
    return availableOverride ? *availableOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

void CSystemTray::setAvailableOverride(std::optional<bool> available)
{
    availableOverride = available;
}

TrayKind CSystemTray::kind()
{
    if (kindOverride)
        return *kindOverride;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return TrayKind::Classic;
    return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value()
               ? TrayKind::StatusNotifier
               : TrayKind::Classic;
}

void CSystemTray::setKindOverride(std::optional<TrayKind> kind)
{
    kindOverride = kind;
}

CSystemTray::CSystemTray() = default;

CSystemTray::~CSystemTray()
{
    if (iconAdded_ && icon_) {
        icon_->hide();
        iconAdded_ = false;
    }
}

void CSystemTray::create(QObject* owner, CommandSink sink, const QString& toolTip,
                         const QIcon& icon, int id)
{
    owner_ = owner;
    sink_ = std::move(sink);
    id_ = id;
    kind_ = kind();

    // The menu of the icon: "&Configure" is the default item, shown bold.
    menu_ = std::make_unique<QMenu>();
    QAction* configure = menu_->addAction(QStringLiteral("&Configure"));
    configure->setData(ID_TRAY_CONFIGURE);
    QAction* exit = menu_->addAction(QStringLiteral("E&xit"));
    exit->setData(ID_TRAY_EXIT);
    menu_->setDefaultAction(configure);
    for (QAction* action : {configure, exit})
        connect(action, &QAction::triggered, this, [this, action] { deliver(action->data().toInt()); });

    icon_ = std::make_unique<QSystemTrayIcon>(icon);
    icon_->setToolTip(toolTip.left(63));
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onIconEvent(id_, reason); });
    icon_->show();
    iconAdded_ = icon_->isVisible();
}

int CSystemTray::onIconEvent(int id, QSystemTrayIcon::ActivationReason reason)
{
    if (id != id_)
        return 0;
    if (trayActivationRestores(kind_, activationOf(reason))) {
        // The first item of the menu, as if it had been chosen.
        QList<QAction*> actions = menu_ ? menu_->actions() : QList<QAction*>();
        if (actions.isEmpty())
            return 0;
        deliver(actions.first()->data().toInt());
    }
    // Any other activation does nothing; the right button's menu is shown
    // by the desktop from the icon's context menu.
    return 1;
}

QString CSystemTray::toolTip() const
{
    return icon_ ? icon_->toolTip() : QString();
}

void CSystemTray::deliver(int command)
{
    if (!owner_ || !sink_)
        return;
    CommandSink sink = sink_;
    QTimer::singleShot(0, owner_, [sink, command] { sink(command); });
}
