// The main window on Windows: its message and command tables, the manager
// core's window and session services in Win32 terms, and its reports.

#include "ui/win32/main_dialog.h"

#include "port/report.h"
#include "resources/resource.h"
#include "ui/win32/help_dialog.h"

#include <cstring>

namespace win32 {

const MessageEntry<CMainDialog> CMainDialog::messages[] = {
    {WM_INITDIALOG, &CMainDialog::onInitDialog},
    {WM_SYSCOMMAND, &CMainDialog::onSysCommand},
    {WM_REFRESH_BUTTONS, &CMainDialog::onRefreshButtons},
    {WM_COPYDATA, &CMainDialog::onCopyData},
    {WM_NOTIFY, &CMainDialog::onNotify},
    {WM_DESTROY, &CMainDialog::onDestroy},
    {WM_ENDSESSION, &CMainDialog::onEndSession},
    {WM_SHOWWINDOW, &CMainDialog::onShowWindow},
    {WM_TIMER, &CMainDialog::onTimer},
};

const CommandEntry<CMainDialog> CMainDialog::commands[] = {
    {IDC_ADD, &CMainDialog::onAdd},
    {IDC_DELETE, &CMainDialog::onDelete},
    {IDC_START, &CMainDialog::onStart},
    {IDC_STOP, &CMainDialog::onStop},
    {IDC_RESTART, &CMainDialog::onRestart},
    {IDC_HELP_BUTTON, &CMainDialog::onHelp},
    {ID_TRAY_CONFIGURE, &CMainDialog::onTrayConfigure},
    {ID_TRAY_EXIT, &CMainDialog::onCancel},
    {IDCANCEL, &CMainDialog::onCancel},
    {IDOK, &CMainDialog::onOk},
};

CMainDialog::CMainDialog() : CResizableDialog(IDD_MAIN, 0), table_(*this), session_(table_, *this, *this)
{
    list_.setTable(&table_);
    bigIcon_ = static_cast<HICON>(LoadImageA(resourceModule(), MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 32, 32, 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(resourceModule(), MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 16, 16, 0));
    trayMessage_ = RegisterWindowMessageA(TRAY_MESSAGE_NAME);
}

CMainDialog::~CMainDialog()
{
    // Normally freed when the window goes; this covers a window never made.
    if (bigIcon_)
        DestroyIcon(bigIcon_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
}

bool CMainDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return dispatch<CMainDialog>(this, messages, commands, message, wParam, lParam, result)
        || CResizableDialog::onMessage(message, wParam, lParam, result);
}

LRESULT CMainDialog::onInitDialog(WPARAM wParam, LPARAM lParam)
{
    CResizableDialog::onInitDialog(wParam, lParam);
    CSystemTray::setMainWindow(hwnd());

    char about[128] = {};
    LoadStringA(resourceModule(), IDS_ABOUTBOX, about, sizeof about);
    if (HMENU systemMenu = GetSystemMenu(hwnd(), FALSE); systemMenu && about[0]) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }
    SetWindowTextA(hwnd(), WINDOW_TITLE);
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    addAnchor(IDC_SERVICE_LIST, 0, 0, 1, 1);
    addAnchor(IDC_ADD, 1, 0, 1, 0);
    addAnchor(IDC_DELETE, 1, 0, 1, 0);
    addAnchor(IDC_START, 1, 0, 1, 0);
    addAnchor(IDC_STOP, 1, 0, 1, 0);
    addAnchor(IDC_RESTART, 1, 0, 1, 0);
    addAnchor(IDC_HELP_BUTTON, 1, 1, 1, 1);
    addAnchor(IDC_AUTOSTART, 0, 1, 0, 1);

    list_.attach(item(IDC_SERVICE_LIST));
    // Columns, buttons, the configuration and the stored placement.
    session_.open();
    return TRUE; // the first tab stop, Add, gets the focus
}

// The work area of the monitor at the point (the primary one when the
// point is on none).
std::optional<WindowRect> CMainDialog::screenAreaAt(int x, int y) const
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return std::nullopt;
    const RECT& work = monitor.rcWork;
    return WindowRect{work.left, work.top, work.right, work.bottom};
}

WindowSize CMainDialog::minimumSize() const
{
    const SIZE minimum = resizer().minimumSize();
    return {minimum.cx, minimum.cy};
}

// The minimum-size query keeps the window from becoming smaller than the
// template.
void CMainDialog::place(const WindowFields& placement)
{
    SetWindowPos(hwnd(), nullptr, placement.xpos, placement.ypos, placement.width, placement.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CMainDialog::showTrayIcon()
{
    if (!trayIcon_) {
        trayIcon_ = std::make_unique<CSystemTray>();
        trayIcon_->create(nullptr, trayMessage_, WINDOW_TITLE, smallIcon_, IDR_TRAY_MENU);
    }
    return true;
}

void CMainDialog::closeHelp()
{
    CHelpDialog::closeHelp();
}

void CMainDialog::centre()
{
    RECT window{}, work{};
    GetWindowRect(hwnd(), &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int width = window.right - window.left, height = window.bottom - window.top;
    SetWindowPos(hwnd(), nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Minimise into the tray once the window is shown: the modal loop shows it
// when its queue first runs empty, and a minimise handled before that would
// be undone by the show.
LRESULT CMainDialog::onShowWindow(WPARAM wParam, LPARAM)
{
    if (wParam && minimizeWhenShown_) {
        minimizeWhenShown_ = false;
        PostMessageA(hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    }
    return 0; // the platform's handling follows
}

LRESULT CMainDialog::onSysCommand(WPARAM wParam, LPARAM lParam)
{
    if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDialog().runModal(hwnd());
        return 0;
    }
    const LRESULT result = DefWindowProcA(hwnd(), WM_SYSCOMMAND, wParam, lParam);
    if (wParam == SC_MINIMIZE)
        session_.minimizedChanged(true);
    else if (wParam == SC_RESTORE)
        session_.minimizedChanged(false);
    return result;
}

void CMainDialog::onHelp()
{
    CHelpDialog::openHelp();
}

LRESULT CMainDialog::onRefreshButtons(WPARAM, LPARAM)
{
    session_.refreshButtons();
    return 0;
}

LRESULT CMainDialog::onCopyData(WPARAM wParam, LPARAM lParam)
{
    // Only from the worker process the report names.
    uint32_t processId = 0;
    std::string text;
    if (!port::read_report(wParam, lParam, processId, text))
        return FALSE;
    return table_.onWorkerReport(processId, text.c_str()) ? TRUE : FALSE;
}

LRESULT CMainDialog::onNotify(WPARAM, LPARAM lParam)
{
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header && header->hwndFrom == list_.hwnd())
        return list_.onNotify(header);
    return 0;
}

LRESULT CMainDialog::onDestroy(WPARAM, LPARAM)
{
    session_.close();
    if (bigIcon_)
        DestroyIcon(bigIcon_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
    bigIcon_ = smallIcon_ = nullptr;
    return 0;
}

// The supervision timer's ticks.
LRESULT CMainDialog::onTimer(WPARAM wParam, LPARAM)
{
    if (table_.workerTimer() != 0 && wParam == static_cast<WPARAM>(table_.workerTimer()))
        table_.onWorkerTimer(static_cast<int>(wParam));
    return 0;
}

LRESULT CMainDialog::onEndSession(WPARAM wParam, LPARAM)
{
    if (wParam)
        session_.endOfSession();
    return 0;
}

// ---------------------------------------------------------------------------
// ManagerWindow.

void CMainDialog::refreshButtons()
{
    SendMessageA(hwnd(), WM_REFRESH_BUTTONS, 0, 0);
}

void CMainDialog::showNoSerialPortsMessage()
{
    MessageBoxA(hwnd(), NO_SERIAL_PORTS_TEXT, WINDOW_TITLE, MB_OK | MB_ICONEXCLAMATION);
}

void CMainDialog::beginBusyCursor()
{
    busyCursors_.push_back(SetCursor(LoadCursorA(nullptr, IDC_WAIT)));
}

void CMainDialog::endBusyCursor()
{
    if (busyCursors_.empty())
        return;
    SetCursor(busyCursors_.back());
    busyCursors_.pop_back();
}

int CMainDialog::startTimer(int id, int periodMs)
{
    return static_cast<int>(SetTimer(hwnd(), static_cast<UINT_PTR>(id), static_cast<UINT>(periodMs), nullptr));
}

void CMainDialog::killTimer(int identifier)
{
    KillTimer(hwnd(), static_cast<UINT_PTR>(identifier));
}

bool CMainDialog::autostartChecked() const
{
    return IsDlgButtonChecked(hwnd(), IDC_AUTOSTART) == BST_CHECKED;
}

void CMainDialog::setAutostartChecked(bool checked)
{
    CheckDlgButton(hwnd(), IDC_AUTOSTART, checked ? BST_CHECKED : BST_UNCHECKED);
}

WindowRect CMainDialog::normalRect() const
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(hwnd(), &placement);
    RECT r = placement.rcNormalPosition;
    // The normal position is in work-area coordinates; the file keeps screen
    // coordinates, as the window is placed with them.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &monitor))
        OffsetRect(&r, monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top);
    return {r.left, r.top, r.right, r.bottom};
}

} // namespace win32
