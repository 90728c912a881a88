// The main window: first start, placement, buttons, resizing, the tray,
// Help and About, closing and the end of a session.

#include "ui_test_support.h"

#include "manager/about_text.h"
#include "manager/window_placement.h"

#include "ui/qt/help_dialog.h"
#include "ui/qt/program_icon.h"
#include "ui/qt/resizable_dialog.h"
#include "ui/qt/system_tray.h"

#include "support/loopback.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSizeGrip>
#include <QTextEdit>

#include <vector>

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        place_ = std::make_unique<TestPlace>();
        CSystemTray::setAvailableOverride(std::nullopt);
        // Whatever tray the machine's session has, the tests choose theirs.
        CSystemTray::setKindOverride(TrayKind::Classic);
    }
    void cleanup()
    {
        CSystemTray::setAvailableOverride(std::nullopt);
        CSystemTray::setKindOverride(std::nullopt);
        place_.reset();
    }

    void firstStartShowsTheTemplate()
    {
        auto window = openWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("BRAMBLE Vantrel Server"));
        QVERIFY(!window->windowIcon().isNull());
        // A caption with the window menu, minimise and close, and no
        // maximise: the flags Qt turns into the window manager's hints.
        Qt::WindowFlags flags = window->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        for (Qt::WindowType hint : {Qt::WindowTitleHint, Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
                                    Qt::WindowCloseButtonHint})
            QVERIFY(flags.testFlag(hint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowFullscreenButtonHint));
        QCOMPARE(window->size(), window->initialSize());
        QCOMPARE(window->minimumSize(), window->initialSize());
        QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(window->frameGeometry().center().x() - screen.center().x()) <= 2);
        QVERIFY(qAbs(window->frameGeometry().center().y() - screen.center().y()) <= 2);

        // Geometry from the template's dialog units.
        DialogUnits units(window->font());
        QCOMPARE(window->initialSize(), QSize(units.x(449), units.y(117)));
        QCOMPARE(window->button(IDC_ADD)->geometry(), units.rect(403, 8, 40, 14));
        QCOMPARE(window->button(IDC_HELP_BUTTON)->geometry(), units.rect(403, 97, 40, 14));
        QCOMPARE(window->listView()->geometry(), units.rect(7, 8, 389, 82));
        QCOMPARE(window->autostartBox()->geometry(), units.rect(7, 96, 200, 10));

        // Captions, the default button, the focus and the enable rules.
        const QStringList captions = {"Add", "Delete", "Start", "Stop", "Restart", "Help"};
        const int ids[] = {IDC_ADD, IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART, IDC_HELP_BUTTON};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(window->button(ids[i])->text(), captions[i]);
        QCOMPARE(window->autostartBox()->text(), QStringLiteral("&Load automatically at system startup"));
        QVERIFY(!window->autostartBox()->isChecked());
        QVERIFY(window->button(IDC_ADD)->isDefault());
        QTRY_COMPARE(QApplication::focusWidget(), window->button(IDC_ADD));
        QVERIFY(window->button(IDC_ADD)->isEnabled());
        QVERIFY(window->button(IDC_HELP_BUTTON)->isEnabled());
        for (int id : {IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART})
            QVERIFY(!window->button(id)->isEnabled());

        // Tab order: the six buttons, the list, the check box.
        QList<QWidget*> expected;
        for (int id : ids)
            expected << window->button(id);
        expected << window->listView() << window->autostartBox();
        QList<QWidget*> chain;
        QWidget* w = window->button(IDC_ADD);
        for (int i = 0; i < 1000 && chain.size() < expected.size(); ++i, w = w->nextInFocusChain())
            if (expected.contains(w) && !chain.contains(w))
                chain << w;
        QCOMPARE(chain, expected);
    }

    void storedPlacementIsNeverSmallerThanTheTemplate()
    {
        place_->writeConfig("[General]\nxpos = 40\nypos = 30\nwidth = 100\nheigth = 50\n");
        QSize initial;
        {
            auto window = openWindow();
            initial = window->initialSize();
            QCOMPARE(window->size(), window->initialSize());
            QCOMPARE(window->pos(), QPoint(40, 30));
        }
        // Larger than the template, as wide as the screen allows.
        const int wide = QGuiApplication::primaryScreen()->availableGeometry().width();
        QVERIFY(wide > initial.width());
        place_->writeConfig("[General]\nxpos = 20\nypos = 10\nwidth = " + QByteArray::number(wide)
                            + "\nheigth = 300\n");
        auto window = openWindow();
        QCOMPARE(window->size(), QSize(wide, 300));
        QCOMPARE(window->pos(), QPoint(20, 10));
        window->reject();
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.contains("xpos      = 20\nypos      = 10\nwidth     = " + QByteArray::number(wide)
                                + "\nheigth    = 300\n"),
                 saved);
        QVERIFY(!saved.contains("minimized"));
    }

    void aStoredSizeOrPlaceBeyondTheScreenIsFittedToIt()
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        place_->writeConfig("[General]\nxpos = 2147483647\nypos = 2147483647\nwidth = 2147483647\n"
                            "heigth = 2147483647\ncolumns = 10\ncolumn0 = 65535\n");
        {
            auto window = openWindow();
            QCOMPARE(window->size(), screen.size());
            QCOMPARE(window->pos(), screen.topLeft());
            QCOMPARE(window->listView()->columnWidth(0), MAX_COLUMN_WIDTH);
            window->reject();
            QByteArray saved = place_->readConfig();
            QVERIFY2(saved.contains(QByteArray("width     = ") + QByteArray::number(screen.width()) + "\n"), saved);
            QVERIFY2(!saved.contains("2147483647"), saved);
        }
        // Far off to the other side, with a size that fits: moved back in
        // whole, the size kept.
        place_->writeConfig("[General]\nxpos = -2147483648\nypos = -2147483648\nwidth = 500\nheigth = 300\n");
        auto window = openWindow();
        const QSize size(std::max(500, window->initialSize().width()), std::max(300, window->initialSize().height()));
        QCOMPARE(window->size(), size);
        QCOMPARE(window->pos(), screen.topLeft());
    }

    void controlsFollowTheirAnchors()
    {
        auto window = openWindow();
        QMap<int, QRect> before;
        QList<QWidget*> controls = {window->listView(), window->autostartBox()};
        for (int id : {IDC_ADD, IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART, IDC_HELP_BUTTON})
            controls << window->button(id);
        for (QWidget* control : controls)
            before[controlId(control)] = control->geometry();
        QSizeGrip* grip = window->resizer().sizeGrip();
        QVERIFY(grip);
        QCOMPARE(grip->geometry().bottomRight(), window->rect().bottomRight());

        window->resize(window->width() + 120, window->height() + 70);
        QTRY_COMPARE(window->listView()->size(), before[IDC_SERVICE_LIST].size() + QSize(120, 70));
        QCOMPARE(window->listView()->pos(), before[IDC_SERVICE_LIST].topLeft());
        for (int id : {IDC_ADD, IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART})
            QCOMPARE(window->button(id)->geometry(), before[id].translated(120, 0));
        QCOMPARE(window->button(IDC_HELP_BUTTON)->geometry(), before[IDC_HELP_BUTTON].translated(120, 70));
        QCOMPARE(window->autostartBox()->geometry(), before[IDC_AUTOSTART].translated(0, 70));
        QCOMPARE(grip->geometry().bottomRight(), window->rect().bottomRight());

        // Back, and smaller than the template: it stops at the template.
        window->resize(10, 10);
        QTRY_COMPARE(window->size(), window->initialSize());
        for (QWidget* control : controls)
            QCOMPARE(control->geometry(), before[controlId(control)]);
    }

    void resizerAddsFractionsAndAccumulatesThem()
    {
        QWidget owner;
        owner.resize(300, 200);
        auto* twice = new QWidget(&owner);
        twice->setGeometry(10, 10, 20, 20);
        setControlId(twice, 1);
        auto* half = new QWidget(&owner);
        half->setGeometry(100, 100, 20, 20);
        setControlId(half, 2);
        CControlResizer resizer(owner, RESIZER_NO_GRIP);
        resizer.initResizer();
        resizer.addAnchor(1, 1, 0, 1, 0);
        resizer.addAnchor(1, 1, 0, 1, 0); // a second registration adds up
        resizer.addAnchor(2, 0.5f, 0, 0.5f, 0);
        resizer.addAnchor(3, 1, 1, 1, 1); // no such control: ignored
        QVERIFY(!resizer.sizeGrip());
        QCOMPARE(owner.minimumSize(), QSize(300, 200));

        owner.resize(340, 200);
        resizer.relayout();
        QCOMPARE(twice->geometry(), QRect(90, 10, 20, 20));
        QCOMPARE(half->geometry(), QRect(120, 100, 20, 20));
        // Half a pixel per pass: the stored edges keep the fractions.
        for (int width : {341, 342, 343}) {
            owner.resize(width, 200);
            resizer.relayout();
        }
        QCOMPARE(half->geometry(), QRect(121, 100, 20, 20));
        QCOMPARE(twice->geometry(), QRect(96, 10, 20, 20));
    }

    void minimisingGoesToTheTrayAndBack()
    {
        CSystemTray::setAvailableOverride(true);
        auto window = openWindow();
        QVERIFY(!window->trayIcon());
        window->showMinimized();
        QTRY_VERIFY(window->trayIcon());
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(window->minimized(), 1);
        CSystemTray* tray = window->trayIcon();
        QCOMPARE(tray->id(), IDR_TRAY_MENU);
        QCOMPARE(tray->toolTip(), QStringLiteral("BRAMBLE Vantrel Server"));
        QCOMPARE(menuState(*tray->menu()), QStringList({"&Configure", "E&xit"}));
        QCOMPARE(tray->menu()->defaultAction(), tray->menu()->actions().first());

        // A single click of either button does nothing; another icon's
        // events are not taken.
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::Trigger), 1);
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::MiddleClick), 1);
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU + 1, QSystemTrayIcon::DoubleClick), 0);
        QVERIFY(drainEvents()); // what the events above queued has run
        QVERIFY(!window->isVisible());
        QCOMPARE(window->trayIcon(), tray);

        // A double click restores the window and removes the icon.
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::DoubleClick), 1);
        QTRY_VERIFY(window->isVisible());
        QVERIFY(!window->trayIcon());
        QCOMPARE(window->minimized(), 0);
        QVERIFY(!window->isMinimized());

        // Again, back with "&Configure".
        window->showMinimized();
        QTRY_VERIFY(!window->isVisible());
        QVERIFY(window->trayIcon());
        window->trayIcon()->menu()->actions().first()->trigger();
        QTRY_VERIFY(window->isVisible());
        QVERIFY(!window->trayIcon());

        // The end of the session while in the tray stores "minimized";
        // the tray's Exit ends the manager and an ordinary exit does not.
        window->showMinimized();
        QTRY_VERIFY(window->trayIcon());
        window->onEndSession();
        QVERIFY(place_->readConfig().contains("minimized = 1\n"));
        window->trayIcon()->menu()->actions().last()->trigger();
        QTRY_VERIFY(!place_->readConfig().contains("minimized"));
        QVERIFY(!window->trayIcon());
        QByteArray saved = place_->readConfig();
        QVERIFY(saved.startsWith("[General]\n"));
        QVERIFY(!saved.contains("minimized"));
    }

    // A StatusNotifier tray reports a click as one activation and never a
    // double click: the click restores there.
    void aClickRestoresFromAStatusNotifierTray()
    {
        CSystemTray::setAvailableOverride(true);
        CSystemTray::setKindOverride(TrayKind::StatusNotifier);
        auto window = openWindow();
        window->showMinimized();
        QTRY_VERIFY(window->trayIcon());
        QTRY_VERIFY(!window->isVisible());
        CSystemTray* tray = window->trayIcon();
        QCOMPARE(tray->trayKind(), TrayKind::StatusNotifier);
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::MiddleClick), 1);
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::Context), 1);
        QVERIFY(drainEvents()); // what the events above queued has run
        QVERIFY(!window->isVisible());
        QCOMPARE(tray->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::Trigger), 1);
        QTRY_VERIFY(window->isVisible());
        QVERIFY(!window->trayIcon());
        QCOMPARE(window->minimized(), 0);
    }

    // SIGTERM or SIGHUP from the ending session: saved with the minimised
    // state, every worker stopped, the window ended.
    void theSessionEndingUnderTheWindowSavesMinimisedAndStops()
    {
        CSystemTray::setAvailableOverride(true);
        PseudoTerminal board;
        QVERIFY(board.valid());
        place_->mapPort(QStringLiteral("COM5"), board.slave());
        const uint16_t p = support::free_port();
        place_->writeConfig("[General]\nservices = 1\n\n[Service1]\nname = Bench\ntcpip = " + QByteArray::number(p)
                            + "\ncomport = COM5\nactive = 1\n");
        auto window = openWindow();
        ServiceRecord* service = window->table().record(0);
        QVERIFY(service && service->active);
        window->showMinimized();
        QTRY_VERIFY(window->trayIcon());
        QSignalSpy finished(window.get(), &QDialog::finished);
        window->endWithSession();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(window->table().count(), 0); // stopped, then let go
        QVERIFY(!window->trayIcon());
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.contains("minimized = 1\n"), saved);
        QVERIFY2(saved.contains("active    = 1\n"), saved);
        port::Socket again = port::Socket::stream();
        QVERIFY(!again.connect(support::loopback, p));
        window.reset();
        QCOMPARE(place_->readConfig(), saved);
    }

    void trayToolTipIsCutTo63Characters()
    {
        QObject owner;
        QString longText;
        for (int i = 0; longText.size() < 80; ++i)
            longText += QString::number(i % 10);
        CSystemTray tray;
        tray.create(&owner, [](int) {}, longText, programIcon(), IDR_TRAY_MENU);
        QCOMPARE(tray.toolTip(), longText.left(63));
    }

    void withoutATrayMinimisingKeepsTheWindowReachable()
    {
        CSystemTray::setAvailableOverride(false);
        auto window = openWindow();
        window->showMinimized();
        QTRY_COMPARE(window->minimized(), 1);
        QVERIFY(drainEvents()); // what the events above queued has run
        QVERIFY(!window->trayIcon());
        QVERIFY(window->isVisible());
        window->showNormal();
        QTRY_COMPARE(window->minimized(), 0);
        QVERIFY(window->isVisible());
    }

    void storedMinimisedStateStartsInTheTray()
    {
        CSystemTray::setAvailableOverride(true);
        place_->writeConfig("[General]\nminimized = 1\n");
        auto window = std::make_unique<CMainDialog>();
        window->show();
        QTRY_VERIFY(window->trayIcon());
        QTRY_VERIFY(!window->isVisible());
        window->trayIcon()->onIconEvent(IDR_TRAY_MENU, QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(window->isVisible());
        QVERIFY(!window->trayIcon());
    }

    void escapeEndsTheManagerAndSaves()
    {
        PseudoTerminal board;
        place_->mapPort(QStringLiteral("COM3"), board.slave());
        auto window = openWindow();
        QTest::mouseClick(window->button(IDC_ADD), Qt::LeftButton);
        QTRY_COMPARE(window->listView()->rowCount(), 1);
        window->autostartBox()->setChecked(true);
        window->listView()->setFocus();
        QTest::keyClick(window->listView(), Qt::Key_Escape);
        QTRY_VERIFY(!window->isVisible());
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.startsWith("[General]\nautostart = 1\nservices   = 1\n"), saved);
        QVERIFY(saved.contains("\n[Service1]\nname      = Service\ntcpip     = telnet\n"));
        QVERIFY(saved.contains("column0   = 70\n"));
        QVERIFY(QFile::exists(place_->autostartFile()));
        // The window takes no more commands.
        window->onCommand(IDC_ADD);
        QCOMPARE(window->table().count(), 0);
    }

    void enterPressesAddUnlessAButtonHasTheFocus()
    {
        PseudoTerminal board;
        place_->mapPort(QStringLiteral("COM2"), board.slave());
        auto window = openWindow();
        window->autostartBox()->setFocus();
        QTest::keyClick(window->autostartBox(), Qt::Key_Return);
        QTRY_COMPARE(window->listView()->rowCount(), 1);
        QCOMPARE(rowTexts(window->listView(), 0),
                 QStringList({"Service", "", "telnet", "COM2", "19200", "None", "None", "1", "No", "No", "Raw", "",
                              "Queue", "", ""}));
        // Help has the focus: Enter presses Help, not Add.
        window->button(IDC_HELP_BUTTON)->setFocus();
        QTest::keyClick(window->button(IDC_HELP_BUTTON), Qt::Key_Return);
        QTRY_VERIFY(CHelpDialog::helpWindow());
        QCOMPARE(window->listView()->rowCount(), 1);
        window->reject();
        QVERIFY(!CHelpDialog::helpWindow());
    }

    void addWithoutPortsTellsTheUser()
    {
        auto window = openWindow();
        QString text;
        auto ran = whenShown([&](QWidget* box) {
            text = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->accept();
        });
        QTest::mouseClick(window->button(IDC_ADD), Qt::LeftButton);
        QTRY_VERIFY(*ran);
        QCOMPARE(text, QStringLiteral("No Serial Ports found!"));
        QTRY_COMPARE(window->listView()->rowCount(), 1);
        QCOMPARE(window->listView()->cellText(0, COLUMN_COMPORT), QString());
    }

    void selectionDrivesTheButtons()
    {
        PseudoTerminal board;
        place_->mapPort(QStringLiteral("COM1"), board.slave());
        auto window = openWindow();
        QTest::mouseClick(window->button(IDC_ADD), Qt::LeftButton);
        QTest::mouseClick(window->button(IDC_ADD), Qt::LeftButton);
        QTRY_COMPARE(window->listView()->rowCount(), 2);
        // Adding selects nothing.
        QCOMPARE(window->listView()->selectedRow(), -1);
        QVERIFY(!window->button(IDC_START)->isEnabled());

        clickCell(window->listView(), 1, COLUMN_STATUS);
        QCOMPARE(window->listView()->selectedRow(), 1);
        QVERIFY(window->button(IDC_DELETE)->isEnabled());
        QVERIFY(window->button(IDC_START)->isEnabled());
        QVERIFY(!window->button(IDC_STOP)->isEnabled());
        QVERIFY(!window->button(IDC_RESTART)->isEnabled());

        window->listView()->clearSelection();
        for (int id : {IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART})
            QVERIFY(!window->button(id)->isEnabled());

        // Delete removes the selected row and selects the one now in its place.
        clickCell(window->listView(), 0, COLUMN_STATUS);
        QTest::mouseClick(window->button(IDC_DELETE), Qt::LeftButton);
        QCOMPARE(window->listView()->rowCount(), 1);
        QCOMPARE(window->listView()->selectedRow(), 0);
        QVERIFY(window->button(IDC_DELETE)->isEnabled());
    }

    void helpIsOneModelessWindow()
    {
        auto window = openWindow();
        QTest::mouseClick(window->button(IDC_HELP_BUTTON), Qt::LeftButton);
        CHelpDialog* help = CHelpDialog::helpWindow();
        QVERIFY(help);
        QTRY_VERIFY(help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("Vantrel Server Help"));
        QVERIFY(!help->isModal());
        QVERIFY(!help->parentWidget()); // a top-level window of its own
        QVERIFY(help->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!help->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(help->minimumSize(), help->maximumSize()); // no resizing
        QTextEdit* text = help->textControl();
        QVERIFY(text->isReadOnly());
        QCOMPARE(text->palette().color(QPalette::Base), text->palette().color(QPalette::ToolTipBase));
        QString html = text->toHtml();
        QString plain = text->toPlainText();
        for (const char* part : {"Buttons:", "Add:", "Restart:", "Name:", "TCP/IP Port:", "DTRO",
                                 "Load automatically at system startup"})
            QVERIFY2(plain.contains(QString::fromUtf8(part)), part);
        QVERIFY(html.contains(QStringLiteral("font-weight:700")) || html.contains(QStringLiteral("font-weight:600")));
        QVERIFY(text->document()->toHtml().contains(QStringLiteral("<li")));

        // A second press brings the same window back, restored.
        help->showMinimized();
        QTRY_VERIFY(help->isMinimized());
        QTest::mouseClick(window->button(IDC_HELP_BUTTON), Qt::LeftButton);
        QCOMPARE(CHelpDialog::helpWindow(), help);
        QTRY_VERIFY(!help->isMinimized());
        int open = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            open += qobject_cast<CHelpDialog*>(top) && top->isVisible();
        QCOMPARE(open, 1);

        // Escape closes only Help; the next press opens a fresh one at the top.
        QPointer<CHelpDialog> old = help;
        help->activateWindow();
        QTest::keyClick(text, Qt::Key_Escape);
        QTRY_VERIFY(!CHelpDialog::helpWindow());
        QTRY_VERIFY(!old);
        QVERIFY(window->isVisible());
        QTest::mouseClick(window->button(IDC_HELP_BUTTON), Qt::LeftButton);
        QVERIFY(CHelpDialog::helpWindow());
        QCOMPARE(CHelpDialog::helpWindow()->textControl()->verticalScrollBar()->value(), 0);

        // Closing the main window closes Help.
        window->reject();
        QVERIFY(!CHelpDialog::helpWindow());
    }

    void aboutIsModal()
    {
        auto window = openWindow();
        QString title, text, line;
        bool blocksMain = false, okIsDefault = false;
        auto ran = whenShown([&](QWidget* box) {
            title = box->windowTitle();
            text = box->findChild<QLabel*>(QStringLiteral("aboutTitle"))->text();
            line = box->findChild<QLabel*>(QStringLiteral("aboutLine"))->text();
            okIsDefault = box->findChild<QPushButton*>(QStringLiteral("aboutOk"))->isDefault();
            // The main window takes no input while the box is open.
            // (a click through the window system, which applies modality).
            QPushButton* help = window->button(IDC_HELP_BUTTON);
            QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              help->mapTo(window.get(), help->rect().center()));
            blocksMain = box->isModal() && box->parentWidget() == window.get() && !CHelpDialog::helpWindow();
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::keyClick(window.get(), Qt::Key_A, Qt::AltModifier);
        QTRY_VERIFY(*ran);
        QCOMPARE(title, QStringLiteral("About Vantrel Server"));
        QCOMPARE(text, QStringLiteral("BRAMBLE Vantrel Server\nVersion 1.0r5"));
        QCOMPARE(line, QString::fromUtf8(ABOUT_LINE_TEXT)); // the Windows box shows the same line
        QVERIFY(okIsDefault);
        QVERIFY(blocksMain);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        // The same click reaches the window once the box is gone.
        QPushButton* help = window->button(IDC_HELP_BUTTON);
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          help->mapTo(window.get(), help->rect().center()));
        QTRY_VERIFY(CHelpDialog::helpWindow());
        CHelpDialog::closeHelp();

        // The window's own context menu carries the About item too.
        QStringList items;
        auto menuRan = whenShown(
            [&](QWidget* popup) {
                auto* menu = qobject_cast<QMenu*>(popup);
                items = menuState(*menu);
                menu->close();
            },
            true);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(window.get(), &event);
        QVERIFY(*menuRan);
        QCOMPARE(items, QStringList({"&About Vantrel Server..."}));
    }

    // The window's own menu (About) opens over its free area only. A right
    // click on a control, or a keyboard context event while a control has
    // the focus, opens no About menu: what a control does not take stops at
    // the window. The list opens its service menu instead.
    void aboutMenuOpensOnlyOverTheFreeArea()
    {
        auto window = openWindow();
        ServiceListView* list = window->listView();
        QHeaderView* header = list->horizontalHeader();
        QSizeGrip* grip = window->resizer().sizeGrip();
        QVERIFY(grip && grip->isVisible());
        const QPoint free((list->geometry().right() + window->button(IDC_ADD)->geometry().left()) / 2,
                          list->geometry().center().y());
        QVERIFY(!window->childAt(free));

        MenuWatch watch;
        auto rightClick = [&](QWidget* target, QPoint at) {
            watch.reset();
            QTest::mouseClick(window->windowHandle(), Qt::RightButton, Qt::NoModifier, target->mapTo(window.get(), at));
            return drainEvents();
        };
        const QString windowMenu = QStringLiteral("windowMenu");
        const QString serviceMenu = QStringLiteral("serviceMenu");

        struct Surface {
            QString name;
            QWidget* widget;
            QPoint at;
            QString menu; // empty: none
        };
        std::vector<Surface> surfaces;
        for (int id : {IDC_ADD, IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART, IDC_HELP_BUTTON})
            surfaces.push_back({window->button(id)->text(), window->button(id), window->button(id)->rect().center(), {}});
        surfaces.push_back({QStringLiteral("check box"), window->autostartBox(), QPoint(5, window->autostartBox()->height() / 2), {}});
        surfaces.push_back({QStringLiteral("header"), header->viewport(),
                            QPoint(header->sectionViewportPosition(COLUMN_STATUS) + 10, header->height() / 2), {}});
        surfaces.push_back({QStringLiteral("size grip"), grip, grip->rect().center(), {}});
        surfaces.push_back({QStringLiteral("list"), list->viewport(), list->viewport()->rect().center(), serviceMenu});
        surfaces.push_back({QStringLiteral("free area"), window.get(), free, windowMenu});
        for (const Surface& surface : surfaces) {
            QVERIFY2(rightClick(surface.widget, surface.at), qPrintable(surface.name));
            QVERIFY2(watch.count(windowMenu) == (surface.menu == windowMenu ? 1 : 0), qPrintable(surface.name));
            QVERIFY2(watch.total() == (surface.menu.isEmpty() ? 0 : 1), qPrintable(surface.name));
            if (!surface.menu.isEmpty())
                QCOMPARE(watch.count(surface.menu), 1);
        }
        QCOMPARE(watch.lastItems(), QStringList({"&About Vantrel Server..."}));

        // From the keyboard, as the platform delivers it to the focus widget.
        std::vector<Surface> focused;
        for (int id : {IDC_ADD, IDC_HELP_BUTTON})
            focused.push_back({window->button(id)->text(), window->button(id), {}, {}});
        focused.push_back({QStringLiteral("check box"), window->autostartBox(), {}, {}});
        focused.push_back({QStringLiteral("list"), list, {}, serviceMenu});
        for (const Surface& surface : focused) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            surface.widget->setFocus(Qt::OtherFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), surface.widget);
            watch.reset();
            QCoreApplication::postEvent(window->windowHandle(),
                                        new QContextMenuEvent(QContextMenuEvent::Keyboard, QPoint(2, 2), QPoint(2, 2)));
            QVERIFY2(drainEvents(), qPrintable(surface.name));
            QVERIFY2(watch.count(windowMenu) == 0, qPrintable(surface.name));
            QVERIFY2(watch.total() == (surface.menu.isEmpty() ? 0 : 1), qPrintable(surface.name));
        }
    }

private:
    std::unique_ptr<TestPlace> place_;
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
