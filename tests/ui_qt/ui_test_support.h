#pragma once
// What the window tests share: a private configuration and device place, a
// pseudo-terminal standing in for a board, the window itself and a way to
// act on the modal boxes and pop-ups it opens.

#include "manager/manager.h"
#include "ui/qt/cell_editors.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/service_list_view.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

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
        QDir root(dir_.path());
        for (const char* sub : {"etc", "home", "xdg", "dev"})
            root.mkpath(QString::fromUtf8(sub));
        qputenv("VANTREL_CONFIG_DIR", path("etc").toUtf8());
        qputenv("XDG_CONFIG_HOME", path("home").toUtf8());
        qputenv("VANTREL_AUTOSTART_DIR", path("xdg/autostart").toUtf8());
        qputenv("VANTREL_DEVICE_DIR", path("dev").toUtf8());
        for (int n = 1; n <= 96; ++n)
            mapPort(QStringLiteral("COM%1").arg(n), QStringLiteral("/nonexistent/vantrel-device"));
        managerGlobals.modulePath = VANTREL_EXE;
        managerGlobals.processId = static_cast<uint32_t>(getpid());
    }

    QString path(const QString& sub) const { return dir_.path() + QLatin1Char('/') + sub; }
    QString configFile() const { return path(QStringLiteral("etc/vantrel.ini")); }
    QString autostartFile() const { return path(QStringLiteral("xdg/autostart/VantrelServer.desktop")); }

    void mapPort(const QString& name, const QString& target)
    {
        QString link = path(QStringLiteral("dev/") + name);
        QFile::remove(link);
        QVERIFY(QFile::link(target, link));
    }
    void writeConfig(const QByteArray& text)
    {
        QFile file(configFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QByteArray readConfig() const
    {
        QFile file(configFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void removeConfig() { QFile::remove(configFile()); }

private:
    QTemporaryDir dir_;
};

// A pseudo-terminal: the test holds the master side; a worker opens the
// slave as its serial port.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        slave_ = QString::fromUtf8(ptsname(master_));
        // Raw from the start, and held open so that the master side reads
        // without a hang-up until the worker has it open.
        slaveFd_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        if (slaveFd_ >= 0 && tcgetattr(slaveFd_, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(slaveFd_, TCSANOW, &raw);
        }
    }
    ~PseudoTerminal()
    {
        if (slaveFd_ >= 0)
            ::close(slaveFd_);
        if (master_ >= 0)
            ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool valid() const { return master_ >= 0 && slaveFd_ >= 0; }
    QString slave() const { return slave_; }

    bool write(const QByteArray& data) { return ::write(master_, data.data(), data.size()) == data.size(); }
    // What the board receives: reads until `count` bytes or the deadline.
    QByteArray read(int count, int timeoutMs)
    {
        QByteArray data;
        QDeadlineTimer deadline(timeoutMs);
        while (data.size() < count && !deadline.hasExpired()) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1 || !(p.revents & POLLIN)) {
                QCoreApplication::processEvents();
                continue;
            }
            char buffer[256];
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                data.append(buffer, static_cast<int>(n));
        }
        return data;
    }

private:
    int master_ = -1;
    int slaveFd_ = -1;
    QString slave_;
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

inline QStringList rowTexts(ServiceListView* list, int row)
{
    QStringList texts;
    for (int column = 0; column < list->columnCount(); ++column)
        texts << list->cellText(row, column);
    return texts;
}
