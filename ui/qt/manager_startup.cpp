// The manager's start-up on Linux: a display to open, the one-manager
// claim, the Qt application and the main window run until it ends, and the
// signals that end it.

#include "ui/manager_startup.h"

#include "manager/manager_globals.h"
#include "port/signals.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/program_icon.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

const char* const headlessHint =
    "vantrel: to run the services without a window, start: vantrel --headless [--config DIR]\n";

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Why the window can have no display, or empty when Qt may try: a platform
// named by QT_QPA_PLATFORM or -platform (offscreen, say) is Qt's to open;
// otherwise a display needs DISPLAY or WAYLAND_DISPLAY.
std::string missingDisplay(int argc, char** argv)
{
    if (isSet("QT_QPA_PLATFORM"))
        return {};
    for (int i = 1; i < argc; ++i)
        if (argv[i] && (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0))
            return {};
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return {};
    return "vantrel: no display found: neither DISPLAY nor WAYLAND_DISPLAY is set\n";
}

// While the application is made: a display that is named but cannot be
// opened makes Qt end the process; it ends with our words and code 1
// instead. Other messages go where they went.
QtMessageHandler previousHandler = nullptr;

void onStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, message);
        return;
    }
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (!display || !*display)
        display = std::getenv("DISPLAY");
    std::fprintf(stderr, "vantrel: no display could be opened (%s)\n%s", display && *display ? display : "none",
                 headlessHint);
    // Qt is half made: nothing may run after this but the process's end.
    _exit(1);
}

// SIGINT ends the window as its Exit does. SIGTERM and SIGHUP come to a
// window mostly when the desktop session ends: the configuration is saved
// as at a log-off (with the minimised state), then every worker stopped.
std::unique_ptr<QSocketNotifier> actOnSignals(port::ControlSignals& caught, CMainDialog& dialog)
{
    auto notifier = std::make_unique<QSocketNotifier>(caught.fd(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &dialog, [&caught, &dialog] {
        for (port::ControlSignal signal : caught.take()) {
            if (signal == port::ControlSignal::Interrupt)
                dialog.reject();
            else
                dialog.endWithSession();
        }
    });
    return notifier;
}

} // namespace

int managerStartup(int argc, char** argv)
{
    // The handlers are in place from the start; a signal that comes before
    // the window exists is acted on once it does.
    port::ControlSignals caught;
    caught.open();

    if (std::string missing = missingDisplay(argc, argv); !missing.empty()) {
        std::fputs(missing.c_str(), stderr);
        std::fputs(headlessHint, stderr);
        return 1;
    }

    // One manager at a time: a second one ends at once and says nothing.
    if (!setUpManager())
        return 0;

    int qtArgc = argc; // QApplication keeps a reference to it
    previousHandler = qInstallMessageHandler(onStartupMessage);
    QApplication app(qtArgc, argv);
    qInstallMessageHandler(previousHandler);
    app.setQuitOnLastWindowClosed(false); // the window hides in the tray
    app.setWindowIcon(programIcon());

    CMainDialog dialog;
    QObject::connect(&dialog, &QDialog::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (caught.is_open())
        signalNotifier = actOnSignals(caught, dialog);
    dialog.show();
    app.exec();
    return 0;
}
