#pragma once
// What the window tests share: a private configuration and device place, a
// pseudo-terminal standing in for a board, the window itself and a way to
// act on the modal boxes and pop-ups it opens.

#include "manager/manager_globals.h"
#include "manager/service_table.h"
#include "ui/qt/cell_editors.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/service_list_view.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QtTest>

#include "support/board.h"
#include "support/device_map.h"
#include "support/files.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// Folders of its own for the configuration, the autostart entry and the
// serial device map. COM1 to COM96 stand for nothing unless a test maps
// them, so the machine's own serial ports never show.
class TestPlace {
public:
    TestPlace()
    {
        for (const char* sub : {"etc", "home", "xdg"})
            std::filesystem::create_directories(root_.path() / sub);
        managerGlobals.modulePath = VANTREL_EXE;
        managerGlobals.processId = static_cast<uint32_t>(getpid());
    }

    QString path(const QString& sub) const { return QString::fromStdString(root_ / sub.toStdString()); }
    QString configFile() const { return path(QStringLiteral("etc/vantrel.ini")); }
    QString autostartFile() const { return path(QStringLiteral("xdg/autostart/VantrelServer.desktop")); }

    void mapPort(const QString& name, const QString& target) { devices_.map(name.toStdString(), target.toStdString()); }
    void writeConfig(const QByteArray& text)
    {
        QVERIFY(support::write_file(configFile().toStdString(), text.toStdString()));
    }
    QByteArray readConfig() const { return QByteArray::fromStdString(support::read_file(configFile().toStdString())); }
    void removeConfig() { QFile::remove(configFile()); }

private:
    support::TempDir root_;
    support::ScopedEnv configDir_{"VANTREL_CONFIG_DIR", root_ / "etc"};
    support::ScopedEnv userDir_{"XDG_CONFIG_HOME", root_ / "home"};
    support::ScopedEnv autostartDir_{"VANTREL_AUTOSTART_DIR", root_ / "xdg/autostart"};
    support::DeviceMap devices_;
};

// A pseudo-terminal board in Qt's types: the test holds the master side; a
// worker opens the slave as its serial port. The slave is held open too, so
// that reads see no hang-up before the worker has it; the window's event
// loop runs while a read waits.
class PseudoTerminal {
public:
    bool valid() const { return board_.valid(); }
    QString slave() const { return QString::fromStdString(board_.slave()); }

    bool write(const QByteArray& data) { return board_.write(data.toStdString()); }
    // What the board receives: reads until `count` bytes or the deadline.
    QByteArray read(int count, int timeoutMs)
    {
        return QByteArray::fromStdString(
            board_.read(static_cast<size_t>(count), timeoutMs, [] { QCoreApplication::processEvents(); }));
    }

private:
    support::Board board_{true};
};

// The main window, shown and active.
inline std::unique_ptr<CMainDialog> openWindow()
{
    auto window = std::make_unique<CMainDialog>();
    window->show();
    if (!QTest::qWaitForWindowActive(window.get(), 10000))
        qWarning("the main window did not become active");
    return window;
}

inline QPoint cellCentre(ServiceListView* list, int row, int column)
{
    return list->visualRect(list->model()->index(row, column)).center();
}

inline void clickCell(ServiceListView* list, int row, int column, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(list->viewport(), button, Qt::NoModifier, cellCentre(list, row, column));
}

inline CellTextEditor* textEditor(ServiceListView* list)
{
    return qobject_cast<CellTextEditor*>(list->openEditor());
}

inline CellChoiceEditor* choiceEditor(ServiceListView* list)
{
    return qobject_cast<CellChoiceEditor*>(list->openEditor());
}

// Calls `handle` once with the first modal box (or, with `popup`, the first
// pop-up such as a menu) that is shown within `timeoutMs`; it runs from the
// event loop of that box. Returns a flag that tells whether it ran.
inline std::shared_ptr<bool> whenShown(std::function<void(QWidget*)> handle, bool popup = false,
                                       int timeoutMs = 20000)
{
    auto ran = std::make_shared<bool>(false);
    auto* timer = new QTimer;
    QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* widget = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
        if (widget && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            *ran = true;
            handle(widget);
        } else if (deadline.hasExpired()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
    return ran;
}

// The text of every action of a menu, with "enabled" or "grey".
inline QStringList menuState(const QMenu& menu)
{
    QStringList items;
    for (QAction* action : menu.actions())
        if (!action->isSeparator())
            items << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (grey)"));
    return items;
}

// Watches every pop-up menu the application shows: counts them by object
// name, keeps where each opened, and closes each one through the event
// queue, so that events already queued reach it while it is open.
class MenuWatch : public QObject {
public:
    MenuWatch() { qApp->installEventFilter(this); }
    ~MenuWatch() override { qApp->removeEventFilter(this); }

    int count(const QString& name) const { return shown_.count(name); }
    int total() const { return static_cast<int>(shown_.size()); }
    QPoint lastPos() const { return lastPos_; }
    QStringList lastItems() const { return lastItems_; }
    void reset()
    {
        shown_.clear();
        lastPos_ = QPoint();
        lastItems_.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* menu = qobject_cast<QMenu*>(watched)) {
                shown_ << menu->objectName();
                lastPos_ = menu->pos();
                lastItems_ = menuState(*menu);
                QMetaObject::invokeMethod(menu, [menu] { menu->close(); }, Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    QStringList shown_;
    QPoint lastPos_;
    QStringList lastItems_;
};

// Runs the event queue until everything posted before this call has been
// handled (a menu opened meanwhile included) and no pop-up is open.
inline bool drainEvents(int timeoutMs = 10000)
{
    bool reached = false;
    QObject marker;
    QMetaObject::invokeMethod(&marker, [&reached] { reached = true; }, Qt::QueuedConnection);
    QDeadlineTimer deadline(timeoutMs);
    while (!(reached && !QApplication::activePopupWidget()) && !deadline.hasExpired())
        QTest::qWait(10);
    return reached && !QApplication::activePopupWidget();
}

inline QStringList rowTexts(ServiceListView* list, int row)
{
    QStringList texts;
    for (int column = 0; column < list->columnCount(); ++column)
        texts << list->cellText(row, column);
    return texts;
}
