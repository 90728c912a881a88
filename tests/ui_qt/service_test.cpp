// Services started from the window with the real worker: a pseudo-terminal
// board bridged to a TCP port on 127.0.0.1, stop and restart, a worker's
// report, closing and the end of a session; and the single-instance rule
// of the real program.

#include "ui_test_support.h"

#include "support/loopback.h"

#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QTextStream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

namespace {

int listeningSocket(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// Connects to 127.0.0.1:port, retrying while the worker is not listening
// yet; the window's events keep running meanwhile. -1 after the deadline.
int connectWithin(uint16_t port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        close(fd);
        QTest::qWait(50);
    }
    return -1;
}

QByteArray receive(int fd, int count, int timeoutMs)
{
    QByteArray data;
    QDeadlineTimer deadline(timeoutMs);
    while (data.size() < count && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1) {
            QCoreApplication::processEvents();
            continue;
        }
        char buffer[256];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<int>(n));
    }
    return data;
}

bool processGone(uint32_t pid)
{
    return !QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

// Whether a manager holds the single-instance claim: the abstract Unix
// socket bound under the claim's name.
bool instanceClaimed()
{
    QFile table(QStringLiteral("/proc/net/unix"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines)
        if (line.trimmed().endsWith(" @vantrel-instance-" + QByteArray(PRODUCT_PREFIX)))
            return true;
    return false;
}

} // namespace

class ServiceTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        place_ = std::make_unique<TestPlace>();
        board_ = std::make_unique<PseudoTerminal>();
        QVERIFY(board_->valid());
        place_->mapPort(QStringLiteral("COM5"), board_->slave());
    }
    void cleanup()
    {
        window_.reset();
        board_.reset();
        place_.reset();
    }

    void startBridgesTheBoardAndStopEndsIt()
    {
        uint16_t port = support::free_port();
        openWithService(port);
        ServiceListView* list = window_->listView();
        clickCell(list, 0, COLUMN_STATUS);
        QTest::mouseClick(window_->button(IDC_START), Qt::LeftButton);
        QCOMPARE(list->cellText(0, COLUMN_STATUS), QStringLiteral("Active"));
        QVERIFY(!window_->button(IDC_START)->isEnabled());
        QVERIFY(!window_->button(IDC_DELETE)->isEnabled());
        QVERIFY(window_->button(IDC_STOP)->isEnabled());
        QVERIFY(window_->button(IDC_RESTART)->isEnabled());
        QVERIFY(window_->table().workerTimer() != 0);
        QMenu menu;
        list->fillServiceMenu(menu, 0);
        QCOMPARE(menuState(menu).mid(0, 3),
                 QStringList({"&Start Service (grey)", "St&op Service", "&Restart Service"}));
        QVERIFY(menuState(menu).contains(QStringLiteral("&Delete Service (grey)")));

        // The Client column shows who is served, while it is.
        int client = connectWithin(port, 15000);
        QVERIFY(client >= 0);
        const QRegularExpression held(QStringLiteral("^127\\.0\\.0\\.1 since \\d\\d:\\d\\d$"));
        QTRY_VERIFY_WITH_TIMEOUT(held.match(list->cellText(0, COLUMN_CLIENT)).hasMatch(), 10000);
        close(client);
        QTRY_COMPARE_WITH_TIMEOUT(list->cellText(0, COLUMN_CLIENT), QString(), 10000);
        QCOMPARE(list->cellText(0, COLUMN_STATUS), QStringLiteral("Active"));

        exchange(port, "hello board", "hello client");

        // A change made while running takes effect on Restart: a new worker.
        uint32_t first = window_->table().record(0)->processInfo.id();
        window_->table().setServiceField(0, COLUMN_BAUDRATE, "115200");
        QTest::mouseClick(window_->button(IDC_RESTART), Qt::LeftButton);
        QCOMPARE(list->cellText(0, COLUMN_STATUS), QStringLiteral("Active"));
        QVERIFY(window_->table().record(0)->processInfo.id() != first);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(first), 10000);
        exchange(port, "again", "and back");

        uint32_t second = window_->table().record(0)->processInfo.id();
        QTest::mouseClick(window_->button(IDC_STOP), Qt::LeftButton);
        QCOMPARE(list->cellText(0, COLUMN_STATUS), QString());
        QVERIFY(window_->button(IDC_START)->isEnabled());
        QVERIFY(!window_->button(IDC_STOP)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(processGone(second), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(window_->table().workerTimer(), 0, 5000);
        QCOMPARE(connectWithin(port, 300), -1);
    }

    void aWorkersReportShowsAsAnError()
    {
        uint16_t port = support::free_port();
        int taken = listeningSocket(port);
        QVERIFY(taken >= 0);
        openWithService(port);
        clickCell(window_->listView(), 0, COLUMN_STATUS);
        QTest::mouseClick(window_->button(IDC_START), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window_->listView()->cellText(0, COLUMN_STATUS),
                                  QStringLiteral("Error: bind: Address already in use"), 15000);
        // The worker ends after its report; the report stays, Start comes back.
        QTRY_VERIFY_WITH_TIMEOUT(window_->button(IDC_START)->isEnabled(), 10000);
        QCOMPARE(window_->listView()->cellText(0, COLUMN_STATUS),
                 QStringLiteral("Error: bind: Address already in use"));
        close(taken);
        QTest::mouseClick(window_->button(IDC_START), Qt::LeftButton);
        QCOMPARE(window_->listView()->cellText(0, COLUMN_STATUS), QStringLiteral("Active"));
    }

    void closingStoresRunningServicesAndStopsTheirWorkers()
    {
        uint16_t port = support::free_port();
        openWithService(port);
        window_->table().startService(0);
        uint32_t pid = window_->table().record(0)->processInfo.id();
        QVERIFY(pid != 0);
        int listening = connectWithin(port, 15000); // the worker is up
        QVERIFY(listening >= 0);
        close(listening);

        // The end of the session: saved with the window state, nothing stopped.
        window_->onEndSession();
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.contains("minimized = 0\n") && saved.contains("active    = 1\n"), saved);
        QVERIFY(!processGone(pid));
        QCOMPARE(window_->listView()->cellText(0, COLUMN_STATUS), QStringLiteral("Active"));

        window_->reject();
        saved = place_->readConfig();
        QVERIFY2(!saved.contains("minimized") && saved.contains("active    = 1\n"), saved);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 10000);

        // The next start runs it again.
        window_ = openWindow();
        QCOMPARE(window_->listView()->cellText(0, COLUMN_STATUS), QStringLiteral("Active"));
        exchange(port, "restored", "yes");
    }

    void aSecondManagerEndsAtOnce()
    {
        if (instanceClaimed())
            QSKIP("another manager holds the single-instance claim on this machine");
        QProcess first;
        first.setProgram(QStringLiteral(VANTREL_EXE));
        first.setProcessEnvironment(childEnvironment());
        first.start();
        QVERIFY(first.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(instanceClaimed(), 20000);
        QCOMPARE(first.state(), QProcess::Running);

        QProcess second;
        second.setProgram(QStringLiteral(VANTREL_EXE));
        second.setProcessEnvironment(childEnvironment());
        QElapsedTimer clock;
        clock.start();
        second.start();
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAll().isEmpty());
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(!QFile::exists(place_->configFile())); // the second one saved nothing

        // A request to end closes the first one as its Exit does: saved.
        first.terminate();
        QVERIFY(first.waitForFinished(20000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QVERIFY(place_->readConfig().startsWith("[General]\nautostart = 0\nservices   = 0\n"));
        QTRY_VERIFY_WITH_TIMEOUT(!instanceClaimed(), 5000);
    }

private:
    void openWithService(uint16_t port)
    {
        place_->writeConfig(QStringLiteral("[General]\nservices = 1\n[Service1]\nname = Board\ntcpip = %1\n"
                                           "comport = COM5\nbaudrate = 115200\n")
                                .arg(port)
                                .toUtf8());
        window_ = openWindow();
        QCOMPARE(window_->listView()->rowCount(), 1);
    }

    // A client's bytes reach the board and the board's reach the client.
    void exchange(uint16_t port, const QByteArray& toBoard, const QByteArray& toClient)
    {
        int client = connectWithin(port, 15000);
        QVERIFY(client >= 0);
        QCOMPARE(::send(client, toBoard.data(), toBoard.size(), 0), ssize_t(toBoard.size()));
        QCOMPARE(board_->read(toBoard.size(), 15000), toBoard);
        QVERIFY(board_->write(toClient));
        QCOMPARE(receive(client, toClient.size(), 15000), toClient);
        close(client);
    }

    QProcessEnvironment childEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment; // the place's folders are in this process's environment
    }

    std::unique_ptr<TestPlace> place_;
    std::unique_ptr<PseudoTerminal> board_;
    std::unique_ptr<CMainDialog> window_;
};

QTEST_MAIN(ServiceTest)
#include "service_test.moc"
