#include "ui/manager_startup.h"

#include "manager/manager_globals.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/program_icon.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onEndSignal(int)
{
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP end the manager as its Exit does: the
// configuration is saved and every worker stopped, so that nothing is left
// running behind a killed manager. The handler is in place from the start;
// a signal that comes before the window exists is acted on once it does.
bool catchEndSignals()
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    return true;
}

std::unique_ptr<QSocketNotifier> endOnSignal(QDialog& dialog)
{
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &dialog, [&dialog] {
        char bytes[16];
        while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        dialog.reject();
    });
    return notifier;
}

} // namespace

void managerStartup(int argc, char** argv)
{
    bool signalsCaught = catchEndSignals();

    // One manager at a time: a second one ends at once and says nothing.
    if (!setUpManager())
        return;

    int qtArgc = argc; // QApplication keeps a reference to it
    QApplication app(qtArgc, argv);
    app.setQuitOnLastWindowClosed(false); // the window hides in the tray
    app.setWindowIcon(programIcon());

    CMainDialog dialog;
    QObject::connect(&dialog, &QDialog::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (signalsCaught)
        signalNotifier = endOnSignal(dialog);
    dialog.show();
    app.exec();
}
