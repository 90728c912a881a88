// The service list: in-place editors, Tab along a row, the focus rule,
// sorting, keys, the service menu and tool tips.

#include "ui_test_support.h"

#include <QAbstractItemView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

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
        QCOMPARE(QString::fromStdString(window_->table().record(0)->name), QStringLiteral("Board A"));
        QCOMPARE(list_->rowCount(), 2); // Enter did not press Add
        QVERIFY(window_->isVisible());

        // Erased completely: an empty name.
        clickCell(list_, 1, COLUMN_NAME);
        QVERIFY(textEditor(list_));
        QTest::keyClick(textEditor(list_), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(textEditor(list_), Qt::Key_Delete);
        QTest::keyClick(textEditor(list_), Qt::Key_Enter);
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(window_->table().record(1)->name, std::string());
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
        QCOMPARE(window_->table().record(0)->tcpip, std::string("2001"));
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

        // Through the drop-downs: Serial Port ... DTRC; Tab on DTRC ends.
        for (int column = COLUMN_COMPORT; column <= COLUMN_DTRC; ++column) {
            CellChoiceEditor* editor = choiceEditor(list_);
            QVERIFY2(editor, qPrintable(QString::number(column)));
            QTRY_VERIFY(editor->view()->isVisible());
            QCOMPARE(editor->itemText(editor->highlighted()), list_->cellText(1, column));
            QTest::keyClick(editor->view(), Qt::Key_Tab);
            QTRY_VERIFY(list_->openEditor() != editor);
        }
        QTRY_VERIFY(!list_->openEditor());
        QCOMPARE(rowTexts(list_, 1),
                 QStringList({"XAlpha", "", "2002", "COM5", "19200", "None", "None", "1", "No", "No"}));
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
        QCOMPARE(window_->table().record(0)->baudrate, std::string("14400"));

        // A click on a choice commits it.
        clickCell(list_, 0, COLUMN_PARITY);
        QVERIFY(choiceEditor(list_));
        QVERIFY(clickChoice(list_, 1));
        QTRY_COMPARE(list_->cellText(0, COLUMN_PARITY), QStringLiteral("Odd"));
        QCOMPARE(window_->table().record(0)->parity, std::string("Odd"));

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
        QCOMPARE(window_->table().record(list_->selectedRow())->baudrate, std::string("38400"));
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

private:
    std::unique_ptr<TestPlace> place_;
    std::unique_ptr<PseudoTerminal> board_;
    std::unique_ptr<CMainDialog> window_;
    ServiceListView* list_ = nullptr;
};

QTEST_MAIN(ListTest)
#include "list_test.moc"
