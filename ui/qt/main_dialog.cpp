// The main window on Linux: its template, the manager core's window and
// session services in Qt terms, its commands, the tray and the window
// menu.

#include "ui/qt/main_dialog.h"

#include "ui/qt/help_dialog.h"
#include "ui/qt/program_icon.h"
#include "ui/qt/service_list_view.h"
#include "ui/qt/system_tray.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>

// What the manager core and its window session ask of the window.
class CMainDialog::FrontEnd : public ManagerWindow, public SessionWindow {
public:
    explicit FrontEnd(CMainDialog& dialog) : dialog_(dialog) {}

    bool appendRow() override { return dialog_.list_->appendServiceRow(); }
    void removeRow(int row) override { dialog_.list_->removeServiceRow(row); }
    void setCellText(int row, int column, const std::string& text) override
    {
        dialog_.list_->setCellText(row, column, text);
    }
    int selectedRow() const override { return dialog_.list_->selectedRow(); }
    void selectRow(int row) override { dialog_.list_->selectServiceRow(row); }
    int columnWidth(int column) const override { return dialog_.list_->columnWidth(column); }
    void setColumnWidth(int column, int width) override { dialog_.list_->setColumnWidth(column, width); }

    void refreshButtons() override { dialog_.refreshButtons(); }
    void showNoSerialPortsMessage() override
    {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(WINDOW_TITLE),
                        QString::fromUtf8(NO_SERIAL_PORTS_TEXT), QMessageBox::Ok, &dialog_);
        box.setObjectName(QStringLiteral("noSerialPortsBox"));
        box.exec();
    }
    void beginBusyCursor() override { QApplication::setOverrideCursor(Qt::WaitCursor); }
    void endBusyCursor() override { QApplication::restoreOverrideCursor(); }
    int startTimer(int, int periodMs) override { return dialog_.QObject::startTimer(periodMs); }
    void killTimer(int identifier) override
    {
        if (identifier > 0)
            dialog_.QObject::killTimer(identifier);
    }
    bool autostartChecked() const override { return dialog_.autostart_->isChecked(); }
    void setAutostartChecked(bool checked) override { dialog_.autostart_->setChecked(checked); }
    WindowFields& windowFields() override { return dialog_.fields_; }
    WindowRect normalRect() const override { return dialog_.normalRect(); }
    uintptr_t reportTarget() const override { return dialog_.receiver_.target(); }
    void deliverPendingReports() override { dialog_.deliverReports(); }

    // SessionWindow.
    void createColumns() override { dialog_.list_->createColumns(); }
    std::optional<WindowRect> screenAreaAt(int x, int y) const override
    {
        QScreen* screen = QGuiApplication::screenAt(QPoint(x, y));
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return std::nullopt;
        const QRect area = screen->availableGeometry();
        return WindowRect{area.x(), area.y(), area.x() + area.width(), area.y() + area.height()};
    }
    WindowSize minimumSize() const override { return {dialog_.initialSize_.width(), dialog_.initialSize_.height()}; }
    void place(const WindowFields& placement) override
    {
        dialog_.move(placement.xpos, placement.ypos);
        dialog_.resize(std::max(placement.width, dialog_.initialSize_.width()),
                       std::max(placement.height, dialog_.initialSize_.height()));
    }
    void centre() override
    {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            dialog_.move(screen->availableGeometry().center() - QPoint(dialog_.width() / 2, dialog_.height() / 2));
    }
    void minimizeOnceShown() override { QTimer::singleShot(0, &dialog_, &CMainDialog::minimizeAfterStart); }
    bool showTrayIcon() override
    {
        if (!dialog_.tray_ && CSystemTray::available()) {
            dialog_.tray_ = std::make_unique<CSystemTray>();
            dialog_.tray_->create(&dialog_, [this](int command) { dialog_.onCommand(command); },
                                  QString::fromUtf8(WINDOW_TITLE), dialog_.icon_, IDR_TRAY_MENU);
        }
        return dialog_.tray_ != nullptr;
    }
    void removeTrayIcon() override { dialog_.tray_.reset(); }
    void hideWindow() override
    {
        // Once the state change is complete.
        QTimer::singleShot(0, &dialog_, [this] {
            if (dialog_.minimized() && dialog_.tray_)
                dialog_.hide();
        });
    }
    void showWindow() override { dialog_.show(); }
    void restoreWindow() override { dialog_.setWindowState(dialog_.windowState() & ~Qt::WindowMinimized); }
    void setButtonEnabled(int id, bool enabled) override { dialog_.button(id)->setEnabled(enabled); }
    void commitEditing() override { dialog_.list_->endOpenEditor(); }
    void closeEditing() override { dialog_.list_->closeForGood(); }
    void closeHelp() override { CHelpDialog::closeHelp(); }

private:
    CMainDialog& dialog_;
};

namespace {

struct ControlTemplate {
    int id;
    const char* caption;
    int x, y, width, height;
    float left, top, right, bottom; // anchor fractions
};

// The window's template, in dialog units and in tab order.
const ControlTemplate buttonTemplates[] = {
    {IDC_ADD, "Add", 403, 8, 40, 14, 1, 0, 1, 0},
    {IDC_DELETE, "Delete", 403, 24, 40, 14, 1, 0, 1, 0},
    {IDC_START, "Start", 403, 44, 40, 14, 1, 0, 1, 0},
    {IDC_STOP, "Stop", 403, 60, 40, 14, 1, 0, 1, 0},
    {IDC_RESTART, "Restart", 403, 76, 40, 14, 1, 0, 1, 0},
    {IDC_HELP_BUTTON, "Help", 403, 97, 40, 14, 1, 1, 1, 1},
};
const ControlTemplate listTemplate = {IDC_SERVICE_LIST, nullptr, 7, 8, 389, 82, 0, 0, 1, 1};
const ControlTemplate autostartTemplate = {
    IDC_AUTOSTART, "&Load automatically at system startup", 7, 96, 200, 10, 0, 1, 0, 1};
const int dialogWidth = 449;
const int dialogHeight = 117;

const char* const aboutText = "&About Vantrel Server...";

} // namespace

CMainDialog::CMainDialog()
    : CResizableDialog(0, nullptr,
                       Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      frontEnd_(std::make_unique<FrontEnd>(*this)), icon_(programIcon())
{
    setObjectName(QStringLiteral("mainDialog"));

    // The controls of the template, created in tab order.
    DialogUnits units(font());
    initialSize_ = QSize(units.x(dialogWidth), units.y(dialogHeight));
    resize(initialSize_);
    for (int i = 0; i < 6; ++i) {
        const ControlTemplate& t = buttonTemplates[i];
        auto* button = new QPushButton(QString::fromUtf8(t.caption), this);
        setControlId(button, t.id);
        button->setGeometry(units.rect(t.x, t.y, t.width, t.height));
        connect(button, &QPushButton::clicked, this, [this, id = t.id] { onCommand(id); });
        buttons_[i] = button;
    }
    buttons_[0]->setDefault(true); // Enter presses Add unless a button has the focus
    list_ = new ServiceListView(this);
    setControlId(list_, listTemplate.id);
    list_->setGeometry(units.rect(listTemplate.x, listTemplate.y, listTemplate.width, listTemplate.height));
    autostart_ = new QCheckBox(QString::fromUtf8(autostartTemplate.caption), this);
    autostart_->setObjectName(QStringLiteral("autostart"));
    setControlId(autostart_, autostartTemplate.id);
    autostart_->setGeometry(units.rect(autostartTemplate.x, autostartTemplate.y, autostartTemplate.width,
                                       autostartTemplate.height));

    table_ = std::make_unique<ServiceTable>(*frontEnd_);
    session_ = std::make_unique<WindowSession>(*table_, *frontEnd_, *frontEnd_);
    list_->setTable(table_.get());
    connect(list_, &ServiceListView::rowStateChanged, this, &CMainDialog::refreshButtons);

    // Workers' reports arrive on the receiver's descriptor.
    if (receiver_.open() && receiver_.fd() >= 0) {
        reportNotifier_ = std::make_unique<QSocketNotifier>(receiver_.fd(), QSocketNotifier::Read);
        connect(reportNotifier_.get(), &QSocketNotifier::activated, this, &CMainDialog::deliverReports);
    }
    if (table_->clientReportDescriptor() >= 0) {
        clientReportNotifier_ = std::make_unique<QSocketNotifier>(table_->clientReportDescriptor(), QSocketNotifier::Read);
        connect(clientReportNotifier_.get(), &QSocketNotifier::activated, this,
                [this] { table_->deliverClientReports(); });
    }

    // The end of the user's session.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { onEndSession(); });

    // --- Initialisation, in its order. ---
    initDialog(); // the template size becomes the minimum; the size grip

    // There is no window menu to extend on this desktop: the About item is
    // on the window's own context menu and on Alt+A.
    auto* about = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_A), this);
    connect(about, &QShortcut::activated, this, [this] { onCommand(IDM_ABOUTBOX); });

    setWindowTitle(QString::fromUtf8(WINDOW_TITLE));
    setWindowIcon(icon_);

    addAnchor(listTemplate.id, listTemplate.left, listTemplate.top, listTemplate.right, listTemplate.bottom);
    for (const ControlTemplate& t : buttonTemplates)
        addAnchor(t.id, t.left, t.top, t.right, t.bottom);
    addAnchor(autostartTemplate.id, autostartTemplate.left, autostartTemplate.top, autostartTemplate.right,
              autostartTemplate.bottom);

    // Columns, buttons, the configuration and the stored placement (the
    // screen it was on, the primary one when it is on none now).
    session_->open();
    buttons_[0]->setFocus(Qt::OtherFocusReason);
}

CMainDialog::~CMainDialog()
{
    // Ended from outside rather than by the user (the application quit):
    // after a session-end save the stored state stays as that save left it.
    session_->finish();
    list_->setTable(nullptr);
}

QPushButton* CMainDialog::button(int id) const
{
    for (QPushButton* b : buttons_)
        if (controlId(b) == id)
            return b;
    return nullptr;
}

void CMainDialog::onCommand(int command)
{
    if (ended())
        return;
    switch (command) {
    case IDC_ADD:
    case IDC_DELETE:
    case IDC_START:
    case IDC_STOP:
    case IDC_RESTART:
        table_->runButton(command, list_->selectedRow());
        break;
    case IDC_HELP_BUTTON:
        CHelpDialog::openHelp();
        break;
    case ID_TRAY_CONFIGURE:
        restoreFromTray();
        break;
    case ID_TRAY_EXIT:
        reject();
        break;
    case IDM_ABOUTBOX:
        showAbout();
        break;
    default:
        break;
    }
}

void CMainDialog::showAbout()
{
    CAboutDialog box(this);
    box.exec();
}

// Hands every waiting worker report to the table; a worker's end must not
// be noticed before its report is read.
void CMainDialog::deliverReports()
{
    receiver_.dispatch([this](uint32_t processId, const char* text) {
        return table_ && !ended() && table_->onWorkerReport(processId, text);
    });
}

void CMainDialog::timerEvent(QTimerEvent* event)
{
    if (table_ && table_->workerTimer() != 0 && event->timerId() == table_->workerTimer()) {
        table_->onWorkerTimer(event->timerId());
        return;
    }
    CResizableDialog::timerEvent(event);
}

void CMainDialog::refreshButtons()
{
    if (session_)
        session_->refreshButtons();
}

// Minimising puts the window into the tray: an icon appears and the window
// and its taskbar entry go. Where the desktop has no tray the window
// minimises as any other, so that it stays reachable.
void CMainDialog::changeEvent(QEvent* event)
{
    CResizableDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && session_)
        session_->minimizedChanged(windowState().testFlag(Qt::WindowMinimized));
}

void CMainDialog::minimizeAfterStart()
{
    if (!ended())
        showMinimized();
}

void CMainDialog::restoreFromTray()
{
    session_->restoreFromTray();
    raise();
    activateWindow();
}

// The window's own context menu, over its free area only. An event that a
// control passed on (a button, the check box, the size grip, the list's
// header) ends here without a menu, as does one from the keyboard while a
// control has the focus.
void CMainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        QWidget* focus = QApplication::focusWidget();
        if (focus && focus != this && isAncestorOf(focus))
            return;
    } else if (childAt(event->pos())) {
        return;
    }
    QMenu menu;
    menu.setObjectName(QStringLiteral("windowMenu"));
    QAction* about = menu.addAction(QString::fromUtf8(aboutText));
    if (menu.exec(event->globalPos()) == about)
        onCommand(IDM_ABOUTBOX);
}

void CMainDialog::onEndSession()
{
    session_->endOfSession();
}

void CMainDialog::endWithSession()
{
    if (ended())
        return;
    session_->endWithSession();
    reject(); // the save is done: done()'s close finds nothing left to do
}

void CMainDialog::done(int result)
{
    CResizableDialog::done(result);
    session_->close();
}

// The window's restored placement: the frame's top-left corner and the
// client size, which is what move() and resize() take back at the next
// start.
WindowRect CMainDialog::normalRect() const
{
    QRect client = normalGeometry();
    if (!client.isValid())
        client = geometry();
    QPoint frame = geometry().topLeft() - frameGeometry().topLeft();
    int left = client.left() - frame.x();
    int top = client.top() - frame.y();
    return {left, top, left + client.width(), top + client.height()};
}
