// The service list: in-place editors, Tab along a row, the focus rule,
// sorting, keys, the service menu and tool tips.

#include "ui_test_support.h"

#include "support/loopback.h"

#include <QAbstractItemView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <functional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

QByteArray service(int number, const char* name, const char* tcpip, const char* comport,
                   const char* baudrate = "19200")
{
    return QStringLiteral("\n[Service%1]\nname = %2\ntcpip = %3\ncomport = %4\nbaudrate = %5\n")
        .arg(number)
        .arg(QString::fromUtf8(name), QString::fromUtf8(tcpip), QString::fromUtf8(comport),
             QString::fromUtf8(baudrate))
        .toUtf8();
}

QStringList columnTexts(ServiceListView* list, int column)
{
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row)
        texts << list->cellText(row, column);
    return texts;
}

// Clicks a choice of an open drop-down. The drop-down ignores the release
// of the click that opened it for a moment, so the click is repeated until
// it takes (the editor then ends), within a deadline.
bool clickChoice(ServiceListView* list, int index)
{
    QDeadlineTimer deadline(10000);
    while (CellChoiceEditor* editor = choiceEditor(list)) {
        if (deadline.hasExpired())
            return false;
        QAbstractItemView* view = editor->view();
        QPoint at(view->viewport()->width() / 2, view->visualRect(view->model()->index(index, 0)).center().y());
        QTest::mouseClick(view->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          view->viewport()->mapTo(view->window(), at));
        QTest::qWait(50);
    }
    return true;
}

// Where a press in the list's viewport falls below the last row.
QPoint belowTheLastRow(ServiceListView* list)
{
    return cellCentre(list, list->rowCount() - 1, COLUMN_NAME) + QPoint(0, 2 * list->rowHeight(0));
}

// The buttons that act on the selected row, enabled ("+") or greyed ("-").
QString rowButtonState(CMainDialog& window)
{
    QString state;
    for (int id : {IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART})
        state += window.button(id)->isEnabled() ? QLatin1Char('+') : QLatin1Char('-');
    return state;
}

} // namespace

class ListTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        place_ = std::make_unique<TestPlace>();
        board_ = std::make_unique<PseudoTerminal>();
        QVERIFY(board_->valid());
        place_->mapPort(QStringLiteral("COM5"), board_->slave());
        place_->writeConfig("[General]\nservices = 2\n" + service(1, "Beta", "2001", "COM5", "9600") +
                            service(2, "Alpha", "telnet", "COM5"));
        window_ = openWindow();
        list_ = window_->listView();
        QCOMPARE(list_->rowCount(), 2);
    }
    void cleanup()
    {
        window_.reset();
        board_.reset();
        place_.reset();
    }

    void textEditorCommitsTrimmedTextOnEnter()
    {
        clickCell(list_, 0, COLUMN_NAME);
        CellTextEditor* editor = textEditor(list_);
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("Beta"));
        QCOMPARE(editor->cursorPosition(), 0);
        QVERIFY(!editor->hasSelectedText());
        QVERIFY(list_->visualRect(list_->model()->index(0, COLUMN_NAME)).contains(editor->geometry().center()));
        QTRY_VERIFY(editor->hasFocus());
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("  Board A  "));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_NAME), QStringLiteral("Board A"));
        QCOMPARE(QString::fromStdString(window_->table().record(0)->field(COLUMN_NAME)), QStringLiteral("Board A"));
        QCOMPARE(list_->rowCount(), 2); // Enter did not press Add
        QVERIFY(window_->isVisible());

        // Erased completely: an empty name.
        clickCell(list_, 1, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClick(textEditor(list_), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(textEditor(list_), Qt::Key_Delete);
        QTest::keyClick(textEditor(list_), Qt::Key_Enter);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(window_->table().record(1)->field(COLUMN_NAME), std::string());
        QCOMPARE(list_->rowCount(), 2); // Delete went to the editor, not the list
    }

    void escapeDiscardsAndKeepsTheWindow()
    {
        clickCell(list_, 0, COLUMN_TCPIP);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("99"));
        QTest::keyClick(textEditor(list_), Qt::Key_Escape);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_TCPIP), QStringLiteral("2001"));
        QCOMPARE(window_->table().record(0)->field(COLUMN_TCPIP), std::string("2001"));
        QVERIFY(window_->isVisible());
    }

    void tabWalksAlongTheRow()
    {
        clickCell(list_, 1, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("X"));
        QTest::keyClick(textEditor(list_), Qt::Key_Tab);
        // Status is skipped.
        QTRY_VERIFY(textEditor(list_));
        QCOMPARE(textEditor(list_)->text(), QStringLiteral("telnet"));
        QCOMPARE(list_->cellText(1, COLUMN_NAME), QStringLiteral("XAlpha"));
        QTest::keyClick(textEditor(list_), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(textEditor(list_), QStringLiteral("2002"));
        QTest::keyClick(textEditor(list_), Qt::Key_Backtab, Qt::ShiftModifier); // also to the right
        QTRY_VERIFY(choiceEditor(list_));
        QCOMPARE(list_->cellText(1, COLUMN_TCPIP), QStringLiteral("2002"));

        // Through the drop-downs: Serial Port ... Protocol, then When busy
        // (the Client is not edited).
        for (int column : {COLUMN_COMPORT, COLUMN_BAUDRATE, COLUMN_HANDSHAKE, COLUMN_PARITY, COLUMN_STOPBITS,
                           COLUMN_DTRO, COLUMN_DTRC, COLUMN_PROTOCOL, COLUMN_BUSY}) {
            CellChoiceEditor* editor = choiceEditor(list_);
            QVERIFY2(editor, qPrintable(QString::number(column)));
            QTRY_VERIFY(editor->view()->isVisible());
            QCOMPARE(editor->itemText(editor->highlighted()), list_->cellText(1, column));
            QTest::keyClick(editor->view(), Qt::Key_Tab);
            QTRY_VERIFY(list_->openEditor() != editor);
        }
        // Listen and Allow take only what their checks accept; Tab on Allow
        // ends, and the Client is never edited.
        for (const char* typed : {" ::1 ", "10.0.0.0/33"}) {
            QTRY_VERIFY(textEditor(list_));
            QTest::keyClicks(textEditor(list_), QString::fromLatin1(typed));
            QTest::keyClick(textEditor(list_), Qt::Key_Tab);
        }
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(rowTexts(list_, 1), QStringList({"XAlpha", "", "2002", "COM5", "19200", "None", "None", "1", "No", "No",
                                                  "Raw", "", "Queue", "::1", ""}));
    }

    void dropDownsOfferTheirChoices()
    {
        // The Baud Rate cell opens at once with its value highlighted.
        clickCell(list_, 0, COLUMN_BAUDRATE);
        CellChoiceEditor* editor = choiceEditor(list_);
        QVERIFY(editor);
        QTRY_VERIFY(editor->view()->isVisible());
        QStringList items;
        for (int i = 0; i < editor->count(); ++i)
            items << editor->itemText(i);
        QCOMPARE(items, QStringList({"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200",
                                     "230400"}));
        QCOMPARE(editor->view()->currentIndex().row(), 2);
        QVERIFY(editor->view()->width() >= editor->width());
        QTest::keyClick(editor->view(), Qt::Key_Down);
        QTest::keyClick(editor->view(), Qt::Key_Return);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_BAUDRATE), QStringLiteral("14400"));
        QCOMPARE(window_->table().record(0)->field(COLUMN_BAUDRATE), std::string("14400"));

        // A click on a choice commits it.
        clickCell(list_, 0, COLUMN_PARITY);
        QVERIFY(choiceEditor(list_));
        QVERIFY(clickChoice(list_, 1));
        QTRY_COMPARE(list_->cellText(0, COLUMN_PARITY), QStringLiteral("Odd"));
        QCOMPARE(window_->table().record(0)->field(COLUMN_PARITY), std::string("Odd"));

        // Escape leaves the cell as it was.
        clickCell(list_, 0, COLUMN_HANDSHAKE);
        QVERIFY(choiceEditor(list_));
        QTest::keyClick(choiceEditor(list_)->view(), Qt::Key_Up);
        QTest::keyClick(choiceEditor(list_)->view(), Qt::Key_Escape);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_HANDSHAKE), QStringLiteral("None"));
        QVERIFY(window_->isVisible());
    }

    void serialPortListIsRebuiltForAVanishedPort()
    {
        PseudoTerminal second;
        place_->mapPort(QStringLiteral("COM7"), second.slave());
        window_->table().setServiceField(0, COLUMN_COMPORT, "COM9"); // not present
        clickCell(list_, 0, COLUMN_COMPORT);
        CellChoiceEditor* editor = choiceEditor(list_);
        QVERIFY(editor);
        QCOMPARE(editor->count(), 2);
        QCOMPARE(editor->itemText(0), QStringLiteral("COM5"));
        QCOMPARE(editor->itemText(1), QStringLiteral("COM7"));
        QCOMPARE(editor->highlighted(), -1);
        QVERIFY(!editor->view()->currentIndex().isValid());
        QTest::keyClick(editor->view(), Qt::Key_Escape);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_COMPORT), QStringLiteral("COM9"));

        // No port left at all: the message, and no editor.
        place_->mapPort(QStringLiteral("COM5"), QStringLiteral("/nonexistent/vantrel-device"));
        place_->mapPort(QStringLiteral("COM7"), QStringLiteral("/nonexistent/vantrel-device"));
        QString text;
        auto ran = whenShown([&](QWidget* box) {
            text = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->accept();
        });
        clickCell(list_, 1, COLUMN_COMPORT);
        QTRY_VERIFY(*ran);
        QCOMPARE(text, QStringLiteral("No Serial Ports found!"));
        QVERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(1, COLUMN_COMPORT), QStringLiteral("COM5"));
    }

    void statusCellsAndEmptySpaceOpenNothing()
    {
        clickCell(list_, 1, COLUMN_STATUS);
        QVERIFY(!list_->openEditor());
        QCOMPARE(list_->selectedRow(), 1);
        QPoint below = cellCentre(list_, 1, COLUMN_NAME) + QPoint(0, 5 * list_->rowHeight(1));
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QVERIFY(!list_->openEditor());
    }

    void textEditorGrowsToTheListEdge()
    {
        clickCell(list_, 0, COLUMN_NAME);
        CellTextEditor* editor = textEditor(list_);
        QVERIFY(editor);
        int width = editor->width();
        QTest::keyClicks(editor, QStringLiteral("a name that is longer than its column"));
        QVERIFY(editor->width() > width);
        int grown = editor->width();
        QTest::keyClicks(editor, QString(200, QLatin1Char('m')));
        QVERIFY(editor->width() > grown);
        QCOMPARE(editor->geometry().right() + 1, list_->viewport()->width());
        QTest::keyClick(editor, Qt::Key_Home);
        QTest::keyClick(editor, Qt::Key_Delete);
        QCOMPARE(editor->geometry().right() + 1, list_->viewport()->width()); // never narrower
        QTest::keyClick(editor, Qt::Key_Escape);
    }

    void movingTheCellsCommitsTheEditorFirst()
    {
        // The wheel.
        clickCell(list_, 0, COLUMN_TCPIP);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("7"));
        QPoint at = cellCentre(list_, 1, COLUMN_STATUS);
        QWheelEvent wheel(at, list_->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list_->viewport(), &wheel);
        QVERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_TCPIP), QStringLiteral("72001"));

        // A header click commits, then sorts by name.
        clickCell(list_, 0, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("Z"));
        QHeaderView* header = list_->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(header->sectionViewportPosition(COLUMN_NAME) + 10, header->height() / 2));
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(columnTexts(list_, COLUMN_NAME), QStringList({"Alpha", "ZBeta"}));

        // The scroll bar.
        list_->setColumnWidth(COLUMN_DTRC, 2000);
        clickCell(list_, 0, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("Y"));
        list_->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QVERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_NAME), QStringLiteral("YAlpha"));
    }

    void headerClicksSortByPlainText()
    {
        const char* rates[] = {"9600", "115200", "2400", "38400", "19200", "230400", "4800", "57600", "14400"};
        QByteArray config = "[General]\nservices = 9\n";
        for (int i = 0; i < 9; ++i)
            config += service(i + 1, QByteArray::number(i).constData(), "telnet", "COM5", rates[i]);
        window_.reset();
        place_->writeConfig(config);
        window_ = openWindow();
        list_ = window_->listView();
        clickCell(list_, 3, COLUMN_STATUS); // select the service with 38400
        QHeaderView* header = list_->horizontalHeader();
        auto clickHeader = [&](int column) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
        };
        const QStringList ascending = {"115200", "14400", "19200", "230400", "2400",
                                       "38400",  "4800",  "57600", "9600"};
        QStringList descending = ascending;
        std::reverse(descending.begin(), descending.end());
        clickHeader(COLUMN_BAUDRATE);
        QCOMPARE(columnTexts(list_, COLUMN_BAUDRATE), ascending);
        QCOMPARE(list_->cellText(list_->selectedRow(), COLUMN_BAUDRATE), QStringLiteral("38400"));
        QCOMPARE(window_->table().record(list_->selectedRow())->field(COLUMN_BAUDRATE), std::string("38400"));
        clickHeader(COLUMN_BAUDRATE);
        QCOMPARE(columnTexts(list_, COLUMN_BAUDRATE), descending);
        clickHeader(COLUMN_BAUDRATE);
        QCOMPARE(columnTexts(list_, COLUMN_BAUDRATE), ascending);
        clickHeader(COLUMN_NAME);
        QCOMPARE(columnTexts(list_, COLUMN_NAME), QStringList({"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
        QVERIFY(window_->table().sortAscending());
    }

    void oneRowIsNotSorted()
    {
        clickCell(list_, 0, COLUMN_STATUS);
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(list_->rowCount(), 1);
        QHeaderView* header = list_->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(header->sectionViewportPosition(COLUMN_NAME) + 5, header->height() / 2));
        QCOMPARE(window_->table().sortColumn(), -1);
    }

    void keysActOnTheSelectedRow()
    {
        list_->setFocus();
        QTest::keyClick(list_, Qt::Key_Space); // nothing selected
        QVERIFY(!list_->openEditor());
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(list_->rowCount(), 2);

        clickCell(list_, 1, COLUMN_STATUS);
        QTest::keyClick(list_, Qt::Key_Space);
        QVERIFY(textEditor(list_));
        QCOMPARE(textEditor(list_)->text(), QStringLiteral("Alpha"));
        QTest::keyClick(textEditor(list_), Qt::Key_Escape);
        QTRY_VERIFY(!list_->openEditor());

        QTRY_VERIFY(list_->hasFocus());
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(list_->rowCount(), 1);
        QCOMPARE(list_->cellText(0, COLUMN_NAME), QStringLiteral("Beta"));
        QCOMPARE(list_->selectedRow(), 0); // the row before the deleted last one
    }

    void serviceMenuGreyingAndCommands()
    {
        // Built for no row, for a stopped row, and for an empty list.
        QMenu none;
        list_->fillServiceMenu(none, -1);
        QCOMPARE(menuState(none), QStringList({"&Start Service (grey)", "St&op Service (grey)",
                                               "&Restart Service (grey)", "Start All Services",
                                               "Stop All Services", "Restart All Services", "&Add Service",
                                               "&Delete Service (grey)", "Refresh Serial Ports list",
                                               "Reset Column widths"}));
        QCOMPARE(none.actions().size(), 14); // with four separators
        QMenu stopped;
        list_->fillServiceMenu(stopped, 1);
        QCOMPARE(menuState(stopped), QStringList({"&Start Service", "St&op Service (grey)",
                                                  "&Restart Service (grey)", "Start All Services",
                                                  "Stop All Services", "Restart All Services", "&Add Service",
                                                  "&Delete Service", "Refresh Serial Ports list",
                                                  "Reset Column widths"}));

        // A right click opens it at the pointer for the clicked row; the
        // chosen command runs for that row.
        list_->setColumnWidth(COLUMN_NAME, 200);
        QStringList shown;
        QPoint where;
        auto ran = whenShown(
            [&](QWidget* popup) {
                auto* menu = qobject_cast<QMenu*>(popup);
                shown = menuState(*menu);
                where = menu->pos();
                for (QAction* action : menu->actions())
                    if (action->text() == QStringLiteral("Reset Column widths"))
                        menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
            },
            true);
        QPoint at = cellCentre(list_, 1, COLUMN_STATUS);
        QCursor::setPos(list_->viewport()->mapToGlobal(at));
        QTest::mousePress(list_->viewport(), Qt::RightButton, Qt::NoModifier, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list_->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list_->viewport(), &event);
        QVERIFY(*ran);
        QCOMPARE(shown, menuState(stopped));
        QCOMPARE(list_->selectedRow(), 1);
        QCOMPARE(list_->columnWidth(COLUMN_NAME), 70);
        QVERIFY(qAbs(where.x() - QCursor::pos().x()) <= 1);

        // The context-menu key; dismissing changes nothing, "&Add Service"
        // appends a row without moving the selection.
        auto dismissed = whenShown([](QWidget* popup) { QTest::keyClick(popup, Qt::Key_Escape); }, true);
        QTest::keyClick(list_, Qt::Key_Menu);
        QVERIFY(*dismissed);
        QCOMPARE(list_->rowCount(), 2);
        auto added = whenShown(
            [](QWidget* popup) {
                auto* menu = qobject_cast<QMenu*>(popup);
                for (QAction* action : menu->actions())
                    if (action->text() == QStringLiteral("&Add Service"))
                        menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
            },
            true);
        QTest::keyClick(list_, Qt::Key_Menu);
        QVERIFY(*added);
        QCOMPARE(list_->rowCount(), 3);
        QCOMPARE(list_->selectedRow(), 1);

        // An empty list greys the commands for all services too.
        for (int i = 0; i < 3; ++i) {
            clickCell(list_, 0, COLUMN_STATUS);
            QTest::keyClick(list_, Qt::Key_Delete);
        }
        QCOMPARE(list_->rowCount(), 0);
        QMenu empty;
        list_->fillServiceMenu(empty, -1);
        QCOMPARE(menuState(empty), QStringList({"&Start Service (grey)", "St&op Service (grey)",
                                                "&Restart Service (grey)", "Start All Services (grey)",
                                                "Stop All Services (grey)", "Restart All Services (grey)",
                                                "&Add Service", "&Delete Service (grey)",
                                                "Refresh Serial Ports list", "Reset Column widths"}));
    }

    void cutOffTextsHaveToolTips()
    {
        window_->table().setServiceField(0, COLUMN_NAME, "A name far too long for its narrow column");
        QCOMPARE(list_->cellToolTip(0, COLUMN_NAME), QStringLiteral("A name far too long for its narrow column"));
        QCOMPARE(list_->cellToolTip(1, COLUMN_NAME), QString());
        QPoint at = cellCentre(list_, 0, COLUMN_NAME);
        QHelpEvent help(QEvent::ToolTip, at, list_->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list_->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("A name far too long for its narrow column"));
    }

    void closingWithAnOpenEditorKeepsItsValue()
    {
        clickCell(list_, 1, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("Late "));
        window_->reject();
        QVERIFY(!list_->openEditor());
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.contains("[Service2]\nname      = Late Alpha\n"), saved);
        QCOMPARE(window_->table().count(), 0);
    }

    void sessionEndSavesAnOpenEditorsValue()
    {
        clickCell(list_, 0, COLUMN_TCPIP);
        QVERIFY(textEditor(list_));
        QTest::keyClick(textEditor(list_), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(textEditor(list_), QStringLiteral(" 2500 "));
        window_->onEndSession();
        QVERIFY(!list_->openEditor());
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.contains("[Service1]\nname      = Beta\ntcpip     = 2500\n"), saved);
        // Nothing else ends: the window and its services stay.
        QVERIFY(window_->isVisible());
        QCOMPARE(window_->table().count(), 2);
    }

    // Home and End select the first and the last row, keeping the column of
    // the current cell; the buttons follow the row (the first service runs,
    // the others are stopped).
    void homeAndEndSelectTheFirstAndTheLastRow()
    {
        const QByteArray port = QByteArray::number(support::free_port());
        window_.reset();
        place_->writeConfig("[General]\nservices = 3\n" + service(1, "Beta", port.constData(), "COM5") +
                            "active = 1\n" + service(2, "Alpha", "telnet", "COM5") +
                            service(3, "Gamma", "telnet", "COM5"));
        window_ = openWindow();
        list_ = window_->listView();
        QVERIFY(window_->table().record(0)->active);
        list_->setFocus();
        QTRY_VERIFY(list_->hasFocus());
        QCOMPARE(list_->selectedRow(), -1);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("----"));

        QTest::keyClick(list_, Qt::Key_End); // from no row at all
        QCOMPARE(list_->selectedRow(), 2);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("++--"));
        QTest::keyClick(list_, Qt::Key_Home);
        QCOMPARE(list_->selectedRow(), 0);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("--++"));

        clickCell(list_, 1, COLUMN_STATUS);
        QTest::keyClick(list_, Qt::Key_End);
        QCOMPARE(list_->selectedRow(), 2);
        QCOMPARE(list_->currentIndex().column(), COLUMN_STATUS);
        QTest::keyClick(list_, Qt::Key_Home);
        QCOMPARE(list_->selectedRow(), 0);
        QCOMPARE(list_->currentIndex().column(), COLUMN_STATUS);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("--++"));
        QVERIFY(!list_->openEditor());
    }

    // Space edits the Name of the selected row with Shift, Control or Meta
    // held as well; Alt+Space is the window menu's key, as on Windows, where
    // it never reaches the list.
    void spaceWithAnyModifierEditsTheName()
    {
        clickCell(list_, 1, COLUMN_STATUS);
        QTRY_VERIFY(list_->hasFocus());
        QTest::keyClick(list_, Qt::Key_Space, Qt::AltModifier);
        QVERIFY(!list_->openEditor());
        const Qt::KeyboardModifiers modifiers[] = {Qt::ShiftModifier, Qt::ControlModifier, Qt::MetaModifier,
                                                   Qt::ShiftModifier | Qt::ControlModifier};
        for (Qt::KeyboardModifiers modifier : modifiers) {
            const QByteArray which = QByteArray::number(modifier.toInt(), 16);
            QTRY_VERIFY(list_->hasFocus());
            QTest::keyClick(list_, Qt::Key_Space, modifier);
            CellTextEditor* editor = textEditor(list_);
            QVERIFY2(editor, which);
            QCOMPARE(editor->text(), QStringLiteral("Alpha"));
            QTest::keyClick(editor, Qt::Key_Escape);
            QTRY_VERIFY2(!list_->openEditor(), which);
            QCOMPARE(list_->selectedRow(), 1);
        }
    }

    // A left click below the last row clears the selection, as the Windows
    // list does there: the row buttons grey out and no editor opens. The
    // arrow keys go on from the row that was current.
    void aClickBelowTheLastRowClearsTheSelection()
    {
        clickCell(list_, 0, COLUMN_STATUS);
        QCOMPARE(list_->selectedRow(), 0);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("++--"));
        const QPoint below = belowTheLastRow(list_);
        QVERIFY(list_->viewport()->rect().contains(below));
        QVERIFY(!list_->indexAt(below).isValid());
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QCOMPARE(list_->selectedRow(), -1);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("----"));
        QVERIFY(!list_->openEditor());
        QTest::keyClick(list_, Qt::Key_Down);
        QCOMPARE(list_->selectedRow(), 1);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("++--"));

        // With Shift or Control held the selection stays.
        for (Qt::KeyboardModifier modifier : {Qt::ShiftModifier, Qt::ControlModifier}) {
            QTest::mouseClick(list_->viewport(), Qt::LeftButton, modifier, below);
            QCOMPARE(list_->selectedRow(), 1);
            QCOMPARE(rowButtonState(*window_), QStringLiteral("++--"));
        }

        // Right of the last column there is no cell either.
        for (int column = 0; column < SERVICE_COLUMNS; ++column)
            list_->setColumnWidth(column, 20);
        const QPoint right = cellCentre(list_, 0, SERVICE_COLUMNS - 1) + QPoint(40, 0);
        QVERIFY(list_->viewport()->rect().contains(right));
        QVERIFY(!list_->indexAt(right).isValid());
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, right);
        QCOMPARE(list_->selectedRow(), -1);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("----"));
        QVERIFY(!list_->openEditor());
        for (int column = 0; column < SERVICE_COLUMNS; ++column)
            list_->setColumnWidth(column, serviceSettings[column].width);

        // A right click there as well; the menu then is that for no row.
        clickCell(list_, 1, COLUMN_STATUS);
        {
            MenuWatch watch;
            QMenu none;
            list_->fillServiceMenu(none, -1);
            QCursor::setPos(list_->viewport()->mapToGlobal(below));
            QTest::mouseClick(list_->window()->windowHandle(), Qt::RightButton, Qt::NoModifier,
                              list_->viewport()->mapTo(list_->window(), below));
            QVERIFY(drainEvents());
            QCOMPARE(watch.count(QStringLiteral("serviceMenu")), 1);
            QCOMPARE(watch.lastItems(), menuState(none));
        }
        QCOMPARE(list_->selectedRow(), -1);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("----"));

        // An open editor is committed first.
        clickCell(list_, 0, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClicks(textEditor(list_), QStringLiteral("X"));
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QVERIFY(!list_->openEditor());
        QCOMPARE(list_->cellText(0, COLUMN_NAME), QStringLiteral("XBeta"));
        QCOMPARE(list_->selectedRow(), -1);
        QCOMPARE(rowButtonState(*window_), QStringLiteral("----"));
    }

    // The context-menu key comes as a key press, as a keyboard context event,
    // or as both: the X11 platform sends the event and then the key press.
    // Each time exactly one menu opens, at the pointer, for the selected row,
    // and nothing is left over that would swallow a later one.
    void theMenuKeyOpensExactlyOneMenu()
    {
        clickCell(list_, 1, COLUMN_STATUS);
        QTRY_VERIFY(list_->hasFocus());
        const QPoint pointer = list_->viewport()->mapToGlobal(QPoint(3, 3));
        QVERIFY(qAbs(pointer.x() - list_->viewport()->mapToGlobal(cellCentre(list_, 1, COLUMN_STATUS)).x()) > 20);
        QCursor::setPos(pointer);
        QMenu stopped;
        list_->fillServiceMenu(stopped, 1);

        // As the platform delivers them: to the window, which hands them to
        // the focus widget, or to the open menu.
        QWindow* handle = window_->windowHandle();
        auto key = [&](QObject* to) {
            return [to] {
                QCoreApplication::postEvent(to, new QKeyEvent(QEvent::KeyPress, Qt::Key_Menu, Qt::NoModifier));
                QCoreApplication::postEvent(to, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Menu, Qt::NoModifier));
            };
        };
        auto context = [&](QObject* to) {
            return [to] {
                QCoreApplication::postEvent(to, new QContextMenuEvent(QContextMenuEvent::Keyboard, QPoint(2, 2), QPoint(2, 2)));
            };
        };
        const std::vector<std::pair<const char*, std::vector<std::function<void()>>>> cases = {
            {"key press", {key(handle)}},
            {"context event", {context(handle)}},
            {"context event, key press", {context(handle), key(handle)}},
            {"key press, context event", {key(handle), context(handle)}},
            {"key press again", {key(handle)}},
            {"context event again", {context(handle)}},
            // Both straight to the list, the second while the menu is open.
            {"both to the list", {context(list_), key(list_)}},
            {"key press at last", {key(handle)}},
        };
        MenuWatch watch;
        for (const auto& [name, events] : cases) {
            // Back from the last menu (this platform leaves the window
            // inactive after a pop-up).
            window_->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window_.get()));
            QTRY_VERIFY2(QApplication::focusWidget() == list_, name);
            watch.reset();
            for (const auto& post : events)
                post();
            QVERIFY2(drainEvents(), name);
            QVERIFY2(watch.count(QStringLiteral("serviceMenu")) == 1 && watch.total() == 1,
                     qPrintable(QStringLiteral("%1: %2 menus, %3 service menus")
                                    .arg(QString::fromUtf8(name))
                                    .arg(watch.total())
                                    .arg(watch.count(QStringLiteral("serviceMenu")))));
            QVERIFY2(qAbs(watch.lastPos().x() - pointer.x()) <= 1, name);
            QCOMPARE(watch.lastItems(), menuState(stopped));
        }
        QCOMPARE(list_->rowCount(), 2);
        QCOMPARE(list_->selectedRow(), 1);
    }

    // The drop-down commits the choice highlighted in its list when it
    // closes for any reason but Escape, whether the keys or the pointer
    // moved the highlight there.
    void dropDownCommitsTheHighlightedChoice()
    {
        // A point of the window outside the list and its drop-down.
        const QPoint outside((list_->geometry().right() + window_->button(IDC_ADD)->geometry().left()) / 2,
                             list_->geometry().center().y());
        QVERIFY(!window_->childAt(outside));
        auto open = [&]() -> CellChoiceEditor* {
            window_->table().setServiceField(0, COLUMN_BAUDRATE, "9600");
            clickCell(list_, 0, COLUMN_BAUDRATE);
            CellChoiceEditor* editor = choiceEditor(list_);
            if (editor && !QTest::qWaitFor([&] { return editor->view()->isVisible(); }, 5000))
                return nullptr;
            return editor;
        };
        auto keyDown = [](CellChoiceEditor* editor) {
            QTest::keyClick(editor->view(), Qt::Key_Down); // 9600 -> 14400
            return QStringLiteral("14400");
        };
        auto hover = [](CellChoiceEditor* editor) {
            // Over 19200, then to rest on 38400 (a move to where the pointer
            // already is would not count).
            QAbstractItemView* view = editor->view();
            for (int item : {4, 5}) {
                QPoint at(view->viewport()->width() / 2, view->visualRect(view->model()->index(item, 0)).center().y());
                QTest::mouseMove(view->window()->windowHandle(), view->viewport()->mapTo(view->window(), at));
            }
            return QStringLiteral("38400");
        };
        auto clickOutside = [&](CellChoiceEditor* editor) {
            QVERIFY(!editor->view()->window()->geometry().contains(window_->mapToGlobal(outside)));
            QTest::mouseClick(window_->windowHandle(), Qt::LeftButton, Qt::NoModifier, outside);
        };
        auto enter = [](CellChoiceEditor* editor) { QTest::keyClick(editor->view(), Qt::Key_Return); };
        auto tab = [](CellChoiceEditor* editor) { QTest::keyClick(editor->view(), Qt::Key_Tab); };
        auto focusToTheList = [&](CellChoiceEditor*) { list_->takeFocus(); };
        auto escape = [](CellChoiceEditor* editor) { QTest::keyClick(editor->view(), Qt::Key_Escape); };

        using Move = std::function<QString(CellChoiceEditor*)>;
        using End = std::function<void(CellChoiceEditor*)>;
        const std::vector<std::tuple<const char*, Move, End, bool>> cases = {
            {"keys, click outside", keyDown, clickOutside, true},
            {"hover, click outside", hover, clickOutside, true},
            {"keys, Enter", keyDown, enter, true},
            {"hover, Enter", hover, enter, true},
            {"keys, Tab", keyDown, tab, true},
            {"hover, Tab", hover, tab, true},
            {"keys, the focus to the list", keyDown, focusToTheList, true},
            {"hover, the focus to the list", hover, focusToTheList, true},
            {"keys, Escape", keyDown, escape, false},
            {"hover, Escape", hover, escape, false},
        };
        for (const auto& [name, move, end, commits] : cases) {
            CellChoiceEditor* editor = open();
            QVERIFY2(editor, name);
            const QString moved = move(editor);
            QVERIFY2(editor->view()->currentIndex().data().toString() == moved, name);
            end(editor);
            // Tab opens the Handshake editor next; it is left with Escape.
            QTRY_VERIFY2(list_->openEditor() != editor, name);
            if (CellChoiceEditor* next = choiceEditor(list_)) {
                QVERIFY2(next != editor, name);
                QTRY_VERIFY(next->view()->isVisible());
                QTest::keyClick(next->view(), Qt::Key_Escape);
            }
            QTRY_VERIFY2(!list_->openEditor(), name);
            const QString expected = commits ? moved : QStringLiteral("9600");
            QVERIFY2(list_->cellText(0, COLUMN_BAUDRATE) == expected,
                     qPrintable(QStringLiteral("%1: %2").arg(QString::fromUtf8(name), list_->cellText(0, COLUMN_BAUDRATE))));
            QCOMPARE(QString::fromStdString(window_->table().record(0)->field(COLUMN_BAUDRATE)), expected);
        }
    }

    // The window closing or the session ending with a drop-down open keeps
    // the highlighted choice.
    void closingWithADropDownOpenKeepsTheHighlightedChoice()
    {
        clickCell(list_, 1, COLUMN_PARITY);
        CellChoiceEditor* editor = choiceEditor(list_);
        QVERIFY(editor);
        QTRY_VERIFY(editor->view()->isVisible());
        QTest::keyClick(editor->view(), Qt::Key_Up); // None -> Odd
        window_->onEndSession();
        QVERIFY(!list_->openEditor());
        QByteArray saved = place_->readConfig();
        QVERIFY2(saved.contains("[Service2]\n") && saved.mid(saved.indexOf("[Service2]\n")).contains("parity    = Odd\n"),
                 saved);

        clickCell(list_, 0, COLUMN_STOPBITS);
        editor = choiceEditor(list_);
        QVERIFY(editor);
        QTRY_VERIFY(editor->view()->isVisible());
        QTest::keyClick(editor->view(), Qt::Key_Down); // 1 -> 2
        window_->reject();
        QVERIFY(!list_->openEditor());
        saved = place_->readConfig();
        QVERIFY2(saved.mid(saved.indexOf("[Service1]\n"), saved.indexOf("[Service2]\n") - saved.indexOf("[Service1]\n"))
                     .contains("stopbits  = 2\n"),
                 saved);
    }

private:
    std::unique_ptr<TestPlace> place_;
    std::unique_ptr<PseudoTerminal> board_;
    std::unique_ptr<CMainDialog> window_;
    ServiceListView* list_ = nullptr;
};

QTEST_MAIN(ListTest)
#include "list_test.moc"
