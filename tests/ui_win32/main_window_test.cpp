// The main window's life: start-up, buttons, resizing, the tray, the
// configuration file and autostart, Help and About, the single instance.

#include "harness.h"

#include "resources/resource.h"
#include "ui/win32/help_dialog.h"
#include "ui/win32/resizable_dialog.h"

#include <commctrl.h>
#include <richedit.h>

#include <memory>
#include <vector>

using namespace uitest;

namespace {

std::string generalSection(const std::string& extra = "")
{
    return "[General]\nautostart = 0\nservices   = 0\n" + extra;
}

RECT windowRect(HWND hwnd)
{
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r;
}

RECT childRect(HWND parent, HWND child)
{
    RECT r = windowRect(child);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Whether the shell knows the tray icon: modifying an unknown icon fails.
bool trayIconKnown(const NOTIFYICONDATAA& data)
{
    NOTIFYICONDATAA probe = data;
    probe.uFlags = NIF_TIP;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != 0;
}

HWND topLevelWindow(const char* title, DWORD thread)
{
    struct Search {
        const char* title;
        DWORD thread;
        HWND found;
    } search{title, thread, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM arg) -> BOOL {
            auto* s = reinterpret_cast<Search*>(arg);
            char text[128] = {};
            GetWindowTextA(hwnd, text, sizeof text);
            if (std::string(text) == s->title && GetWindowThreadProcessId(hwnd, nullptr) == s->thread
                && IsWindowVisible(hwnd)) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int countTopLevelWindows(const char* title, DWORD thread)
{
    struct Search {
        const char* title;
        DWORD thread;
        int count;
    } search{title, thread, 0};
    EnumWindows(
        [](HWND hwnd, LPARAM arg) -> BOOL {
            auto* s = reinterpret_cast<Search*>(arg);
            char text[128] = {};
            GetWindowTextA(hwnd, text, sizeof text);
            if (std::string(text) == s->title && GetWindowThreadProcessId(hwnd, nullptr) == s->thread)
                ++s->count;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.count;
}

// While it lives, the Help text of a Help window that the calling thread
// opens is made at most `height` pixels high before the window loads its
// page, so that the page is longer than its view (at the window's own size
// the page fits and nothing scrolls).
class ShortHelpText {
public:
    explicit ShortHelpText(int height)
    {
        height_ = height;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, proc, nullptr, GetCurrentThreadId());
    }
    ~ShortHelpText()
    {
        if (hook_)
            UnhookWindowsHookEx(hook_);
    }
    ShortHelpText(const ShortHelpText&) = delete;
    ShortHelpText& operator=(const ShortHelpText&) = delete;
    bool installed() const { return hook_ != nullptr; }

private:
    static LRESULT CALLBACK proc(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && call->message == WM_INITDIALOG) {
            HWND text = GetDlgItem(call->hwnd, IDC_HELP_TEXT);
            char name[32] = {};
            GetClassNameA(text, name, sizeof name);
            RECT r{};
            GetClientRect(text, &r);
            if (lstrcmpiA(name, "RICHEDIT") == 0 && r.bottom > height_)
                SetWindowPos(text, nullptr, 0, 0, r.right, height_, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline int height_ = 0;
    HHOOK hook_ = nullptr;
};

// Where a rich-edit control's view of its text stands.
struct TextView {
    LONG lines = 0;     // lines of the text
    LONG firstLine = 0; // the first line in view
    int position = 0;   // of the vertical scroll bar
    bool scrolls = false; // the text is longer than the view
    LONG firstCharY = 0;  // top of the first character, in the control
};

TextView textView(uitest::ManagerWindow& window, HWND text)
{
    return window.onUi([&] {
        TextView view;
        view.lines = static_cast<LONG>(SendMessageA(text, EM_GETLINECOUNT, 0, 0));
        view.firstLine = static_cast<LONG>(SendMessageA(text, EM_GETFIRSTVISIBLELINE, 0, 0));
        SCROLLINFO bar{};
        bar.cbSize = sizeof bar;
        bar.fMask = SIF_ALL;
        if (GetScrollInfo(text, SB_VERT, &bar)) {
            view.position = bar.nPos;
            view.scrolls = bar.nPage > 0 && bar.nMax - bar.nMin + 1 > static_cast<int>(bar.nPage);
        }
        POINTL first{};
        SendMessageA(text, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&first), 0);
        view.firstCharY = first.y;
        return view;
    });
}

std::string text(HWND hwnd)
{
    char buffer[128] = {};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

} // namespace

using MainWindowTest = ManagerTest;

TEST_F(MainWindowTest, FirstStartShowsTheEmptyWindowCentredWithOnlyAddAndHelpEnabled)
{
    ASSERT_TRUE(window.open());
    char title[64] = {};
    GetWindowTextA(window.hwnd(), title, sizeof title);
    EXPECT_STREQ(title, "BRAMBLE Vantrel Server");
    EXPECT_EQ(window.rowCount(), 0);
    EXPECT_TRUE(window.enabled(IDC_ADD));
    EXPECT_TRUE(window.enabled(IDC_HELP_BUTTON));
    for (int id : {IDC_DELETE, IDC_START, IDC_STOP, IDC_RESTART})
        EXPECT_FALSE(window.enabled(id)) << id;
    EXPECT_EQ(SendMessageA(window.item(IDC_AUTOSTART), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // Template size, centred on the work area.
    const SIZE minimum = window.onUi([&] { return window.dialog().resizer().minimumSize(); });
    const RECT r = windowRect(window.hwnd());
    EXPECT_EQ(r.right - r.left, minimum.cx);
    EXPECT_EQ(r.bottom - r.top, minimum.cy);
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((r.left + r.right) / 2, (work.left + work.right) / 2, 2);
    EXPECT_NEAR((r.top + r.bottom) / 2, (work.top + work.bottom) / 2, 2);

    // Icons, the About item and the default button.
    EXPECT_NE(SendMessageA(window.hwnd(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(window.hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
    char about[64] = {};
    window.onUi([&] { GetMenuStringA(GetSystemMenu(window.hwnd(), FALSE), IDM_ABOUTBOX, about, sizeof about, MF_BYCOMMAND); });
    EXPECT_STREQ(about, "&About Vantrel Server...");
    EXPECT_EQ(LOWORD(SendMessageA(window.hwnd(), DM_GETDEFID, 0, 0)), IDC_ADD);
    EXPECT_EQ(window.onUi([] { return GetDlgCtrlID(GetFocus()); }), IDC_ADD);
}

TEST_F(MainWindowTest, ListHasItsColumnsWithDefaultWidthsAndItsStyles)
{
    ASSERT_TRUE(window.open());
    HWND header = reinterpret_cast<HWND>(SendMessageA(window.list(), LVM_GETHEADER, 0, 0));
    const char* const headers[] = {"Name", "Status", "TCP/IP Port", "Serial Port", "Baud Rate",
                                   "Handshake", "Parity", "Stop Bits", "DTRO", "DTRC",
                                   "Protocol", "Client", "When busy", "Listen", "Allow"};
    const int widths[] = {70, 60, 70, 60, 55, 70, 50, 55, 45, 45, 65, 110, 65, 80, 100};
    ASSERT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 15);
    for (int column = 0; column < 15; ++column) {
        char text[32] = {};
        LVCOLUMNA info{};
        info.mask = LVCF_TEXT | LVCF_FMT;
        info.pszText = text;
        info.cchTextMax = sizeof text;
        window.onUi([&] { SendMessageA(window.list(), LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&info)); });
        EXPECT_STREQ(text, headers[column]);
        EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        EXPECT_EQ(SendMessageA(window.list(), LVM_GETCOLUMNWIDTH, column, 0), widths[column]);
    }
    const DWORD extended = static_cast<DWORD>(SendMessageA(window.list(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    // The manifest brings the version 6 controls (which Wine reports as
    // 5.81), so label tips are asked for.
    char controls[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("comctl32.dll"), controls, sizeof controls);
    EXPECT_NE(std::string(controls).find("common-controls"), std::string::npos) << controls;
    EXPECT_GE(win32::ServiceListView::queryModuleVersion("comctl32.dll"), 0x50050u);
    EXPECT_TRUE(extended & LVS_EX_LABELTIP);
    const LONG_PTR style = GetWindowLongPtrA(window.list(), GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_FALSE(style & (LVS_EDITLABELS | LVS_SORTASCENDING | LVS_SHOWSELALWAYS));
    EXPECT_EQ(win32::ServiceListView::queryModuleVersion("no-such-library.dll"), 0u);
    // Without DllGetVersion the version resource's FileVersion text counts.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_EQ(GetProcAddress(kernel, "DllGetVersion"), nullptr);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(kernel, path, sizeof path);
    DWORD unused = 0;
    std::string info(GetFileVersionInfoSizeA(path, &unused), '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(win32::ServiceListView::queryModuleVersion("kernel32.dll") >> 16, HIWORD(fixed->dwFileVersionMS));
}

TEST_F(MainWindowTest, StoredPlacementIsUsedButNeverBelowTheTemplateSize)
{
    openWith(generalSection("xpos      = 40\nypos      = 30\nwidth     = 100\nheigth    = 900\n"));
    const SIZE minimum = window.onUi([&] { return window.dialog().resizer().minimumSize(); });
    const RECT r = windowRect(window.hwnd());
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right - r.left, minimum.cx);
    EXPECT_EQ(r.bottom - r.top, 900);
}

TEST_F(MainWindowTest, ResizingAnchorsTheControlsAndKeepsTheMinimumSize)
{
    ASSERT_TRUE(window.open());
    HWND main = window.hwnd();
    const RECT before = windowRect(main);
    const RECT list0 = childRect(main, window.list());
    const RECT add0 = childRect(main, window.item(IDC_ADD));
    const RECT help0 = childRect(main, window.item(IDC_HELP_BUTTON));
    const RECT check0 = childRect(main, window.item(IDC_AUTOSTART));
    HWND grip = GetDlgItem(main, IDC_SIZE_GRIP);
    ASSERT_NE(grip, nullptr);

    window.onUi([&] {
        SetWindowPos(main, nullptr, 0, 0, before.right - before.left + 120, before.bottom - before.top + 60,
                     SWP_NOMOVE | SWP_NOZORDER);
    });
    const RECT list1 = childRect(main, window.list());
    const RECT add1 = childRect(main, window.item(IDC_ADD));
    const RECT help1 = childRect(main, window.item(IDC_HELP_BUTTON));
    const RECT check1 = childRect(main, window.item(IDC_AUTOSTART));
    EXPECT_EQ(list1.left, list0.left);
    EXPECT_EQ(list1.right - list0.right, 120);
    EXPECT_EQ(list1.bottom - list0.bottom, 60);
    EXPECT_EQ(add1.left - add0.left, 120);
    EXPECT_EQ(add1.top, add0.top);
    EXPECT_EQ(help1.left - help0.left, 120);
    EXPECT_EQ(help1.top - help0.top, 60);
    EXPECT_EQ(check1.left, check0.left);
    EXPECT_EQ(check1.top - check0.top, 60);
    RECT client{};
    GetClientRect(main, &client);
    const RECT gripRect = childRect(main, grip);
    EXPECT_EQ(gripRect.right, client.right);
    EXPECT_EQ(gripRect.bottom, client.bottom);

    // Narrower than the template stops at the template size.
    window.onUi([&] { SetWindowPos(main, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER); });
    const RECT small = windowRect(main);
    EXPECT_EQ(small.right - small.left, before.right - before.left);
    EXPECT_EQ(small.bottom - small.top, before.bottom - before.top);
    EXPECT_EQ(childRect(main, window.item(IDC_ADD)).left, add0.left);
    EXPECT_EQ(childRect(main, window.list()).right, list0.right);
}

TEST_F(MainWindowTest, AnchorRegisteredTwiceMovesByTwiceTheChange)
{
    ASSERT_TRUE(window.open());
    HWND main = window.hwnd();
    const RECT add0 = childRect(main, window.item(IDC_ADD));
    const RECT before = windowRect(main);
    window.onUi([&] {
        window.dialog().resizer().addAnchor(IDC_ADD, 1, 0, 1, 0);
        SetWindowPos(main, nullptr, 0, 0, before.right - before.left + 30, before.bottom - before.top,
                     SWP_NOMOVE | SWP_NOZORDER);
    });
    EXPECT_EQ(childRect(main, window.item(IDC_ADD)).left - add0.left, 60);

    // Half a pixel per pixel: the halves add up in the stored rectangle
    // instead of being cut away at every step.
    const RECT check0 = childRect(main, window.item(IDC_AUTOSTART));
    for (int step = 1; step <= 4; ++step) {
        window.onUi([&] {
            if (step == 1)
                window.dialog().resizer().addAnchor(IDC_AUTOSTART, 0.5f, 0, 0.5f, 0);
            const RECT now = windowRect(main);
            SetWindowPos(main, nullptr, 0, 0, now.right - now.left + 1, now.bottom - now.top,
                         SWP_NOMOVE | SWP_NOZORDER);
        });
    }
    const RECT check1 = childRect(main, window.item(IDC_AUTOSTART));
    EXPECT_EQ(check1.left - check0.left, 2);
    EXPECT_EQ(check1.right - check1.left, check0.right - check0.left);
}

TEST_F(MainWindowTest, MinimiseGoesToTheTrayAndConfigureBringsItBack)
{
    ASSERT_TRUE(window.open());
    HWND main = window.hwnd();
    const RECT list0 = childRect(main, window.list());
    PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().trayIcon() != nullptr; }); }));
    EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(main); }));
    EXPECT_EQ(window.onUi([&] { return window.dialog().minimized(); }), 1);
    const NOTIFYICONDATAA data = window.onUi([&] { return window.dialog().trayIcon()->iconData(); });
    EXPECT_TRUE(window.onUi([&] { return window.dialog().trayIcon()->iconAdded(); }));
    EXPECT_EQ(data.uID, static_cast<UINT>(IDR_TRAY_MENU));
    EXPECT_STREQ(data.szTip, "BRAMBLE Vantrel Server");
    EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_TRUE(trayIconKnown(data));

    // The menu dismissed runs nothing.
    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID, WM_RBUTTONUP);
    HWND menu = window.waitPopupMenu();
    ASSERT_NE(menu, nullptr);
    window.key(menu, VK_ESCAPE);
    ASSERT_TRUE(wait_until([&] { return window.popupMenu() == nullptr; }));
    window.flush();
    EXPECT_EQ(window.onUi([&] { return window.dialog().minimized(); }), 1);
    EXPECT_FALSE(IsWindowVisible(main));

    // A single click of either button does nothing; a double click
    // restores as Configure does.
    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID, WM_LBUTTONDOWN);
    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID, WM_RBUTTONDOWN);
    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID, WM_LBUTTONUP);
    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID + 1, WM_LBUTTONDBLCLK); // another icon's id
    window.flush();
    EXPECT_EQ(window.onUi([&] { return window.dialog().minimized(); }), 1);
    EXPECT_EQ(window.popupMenu(), nullptr);
    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().trayIcon() == nullptr; }); }));
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(IsIconic(main));
    EXPECT_EQ(window.onUi([&] { return window.dialog().minimized(); }), 0);
    EXPECT_FALSE(trayIconKnown(data));
    EXPECT_FALSE(window.onUi([&] { return IsWindow(data.hWnd); }));
    const RECT list1 = childRect(main, window.list());
    EXPECT_TRUE(EqualRect(&list0, &list1));
}

TEST_F(MainWindowTest, TrayIconComesBackWhenTheTaskbarIsCreatedAgain)
{
    ASSERT_TRUE(window.open());
    PostMessageA(window.hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().trayIcon() != nullptr; }); }));
    const NOTIFYICONDATAA data = window.onUi([&] { return window.dialog().trayIcon()->iconData(); });
    NOTIFYICONDATAA gone = data;
    gone.uFlags = 0;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone)); // as a restarted shell has lost it
    ASSERT_FALSE(trayIconKnown(data));
    SendMessageA(data.hWnd, win32::CSystemTray::taskbarCreatedMessage(), 0, 0);
    EXPECT_TRUE(trayIconKnown(data));
}

TEST(SystemTray, LongTooltipKeepsItsFirst63CharactersAndTheIconGoesWithTheObject)
{
    std::string tip;
    for (int i = 0; i < 100; ++i)
        tip += static_cast<char>('0' + i % 10);
    NOTIFYICONDATAA data{};
    HWND hidden = nullptr;
    {
        win32::CSystemTray tray;
        tray.create(nullptr, WM_APP + 7, tip.c_str(), LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), 129);
        data = tray.iconData();
        hidden = tray.hwnd();
        ASSERT_TRUE(tray.iconAdded());
        EXPECT_EQ(std::string(data.szTip), tip.substr(0, 63));
        EXPECT_EQ(data.hWnd, hidden); // no owner: the hidden window gets the events
        EXPECT_FALSE(IsWindowVisible(hidden));
        EXPECT_EQ(data.uCallbackMessage, static_cast<UINT>(WM_APP + 7));
        EXPECT_TRUE(trayIconKnown(data));
    }
    EXPECT_FALSE(trayIconKnown(data));
    EXPECT_FALSE(IsWindow(hidden));
}

TEST_F(MainWindowTest, TrayMenuExitEndsTheManagerAndSavesWithoutTheMinimisedState)
{
    ASSERT_TRUE(window.open());
    PostMessageA(window.hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().trayIcon() != nullptr; }); }));
    const NOTIFYICONDATAA data = window.onUi([&] { return window.dialog().trayIcon()->iconData(); });

    PostMessageA(data.hWnd, data.uCallbackMessage, data.uID, WM_RBUTTONUP);
    HWND menu = window.waitPopupMenu();
    ASSERT_NE(menu, nullptr);
    HMENU items = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
    ASSERT_NE(items, nullptr);
    EXPECT_EQ(GetMenuItemCount(items), 2);
    EXPECT_EQ(GetMenuItemID(items, 0), static_cast<UINT>(ID_TRAY_CONFIGURE));
    EXPECT_EQ(GetMenuItemID(items, 1), static_cast<UINT>(ID_TRAY_EXIT));
    EXPECT_EQ(GetMenuDefaultItem(items, TRUE, 0), 0u);
    window.type(menu, "x"); // E&xit
    ASSERT_TRUE(window.waitClosed());
    EXPECT_FALSE(trayIconKnown(data));

    const std::string saved = read_file(configPath());
    EXPECT_NE(saved.find("[General]\r\n"), std::string::npos);
    EXPECT_EQ(saved.find("minimized"), std::string::npos);
}

TEST_F(MainWindowTest, StoredMinimisedStateStartsInTheTray)
{
    // It may be in the tray before it is seen.
    openWith(generalSection("minimized = 1\n"), false);
    HWND main = window.hwnd();
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().trayIcon() != nullptr; }); }));
    EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(main); }));
    const NOTIFYICONDATAA data = window.onUi([&] { return window.dialog().trayIcon()->iconData(); });
    EXPECT_TRUE(trayIconKnown(data));
    window.command(ID_TRAY_CONFIGURE);
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().trayIcon() == nullptr; }); }));
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(IsIconic(main));
    EXPECT_FALSE(trayIconKnown(data));
}

TEST_F(MainWindowTest, LogOffWhileMinimisedSavesTheMinimisedStateAndStopsNothing)
{
    ASSERT_TRUE(window.open());
    PostMessageA(window.hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().minimized() == 1; }); }));
    SendMessageA(window.hwnd(), WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(GetFileAttributesA(configPath().c_str()), INVALID_FILE_ATTRIBUTES);
    SendMessageA(window.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    const std::string saved = read_file(configPath());
    EXPECT_NE(saved.find("minimized = 1\r\n"), std::string::npos);
    EXPECT_TRUE(IsWindow(window.hwnd()));
}

TEST_F(MainWindowTest, SaveWritesCrlfLinesInTheWindowsDirectoryAndTheAutostartValue)
{
    openWith(generalSection("xpos      = 50\nypos      = 60\nwidth     = 800\nheigth    = 300\n"));
    window.command(IDC_ADD);
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 1; }));
    SendMessageA(window.item(IDC_AUTOSTART), BM_CLICK, 0, 0);
    ASSERT_EQ(SendMessageA(window.item(IDC_AUTOSTART), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(autostartValue(), "<none>"); // ticking the box alone changes nothing
    ASSERT_TRUE(window.close());

    const std::string saved = read_file(configPath());
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved.rfind("[General]\r\nautostart = 1\r\nservices   = 1\r\nxpos      = 50\r\nypos      = 60\r\n"
                          "width     = 800\r\nheigth    = 300\r\ncolumns   = 10\r\ncolumn0   = 70\r\n",
                          0),
              0u)
        << saved;
    EXPECT_NE(saved.find("\r\n\r\n[Service1]\r\nname      = Service\r\ntcpip     = telnet\r\n"), std::string::npos);
    EXPECT_NE(saved.find("active    = 0\r\n"), std::string::npos);
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i] == '\n') {
            ASSERT_TRUE(i > 0 && saved[i - 1] == '\r') << "bare line feed at " << i;
        }
    }
    EXPECT_EQ(autostartValue(), managerGlobals.modulePath);

    // The next start shows the box set; clearing it removes the value.
    ASSERT_TRUE(window.open());
    EXPECT_EQ(SendMessageA(window.item(IDC_AUTOSTART), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(window.rowCount(), 1);
    SendMessageA(window.item(IDC_AUTOSTART), BM_CLICK, 0, 0);
    ASSERT_TRUE(window.close());
    EXPECT_EQ(autostartValue(), "<none>");
    EXPECT_NE(read_file(configPath()).find("autostart = 0\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, HelpOpensOneWindowWithTheTextAndEscapeClosesOnlyIt)
{
    ASSERT_TRUE(window.open());
    const char* title = "Vantrel Server Help";
    window.command(IDC_HELP_BUTTON);
    HWND help = nullptr;
    ASSERT_TRUE(wait_until([&] { return (help = topLevelWindow(title, window.threadId())) != nullptr; }));
    window.command(IDC_HELP_BUTTON);
    EXPECT_EQ(window.onUi([&] { return win32::CHelpDialog::helpWindow()->hwnd(); }), help);
    EXPECT_EQ(countTopLevelWindows(title, window.threadId()), 1);
    EXPECT_EQ(GetWindow(help, GW_OWNER), nullptr); // not owned by the main window

    HWND text = GetDlgItem(help, IDC_HELP_TEXT);
    RECT client{};
    GetClientRect(help, &client);
    const RECT textRect = childRect(help, text);
    EXPECT_TRUE(EqualRect(&textRect, &client)); // the text fills the window
    char className[32] = {};
    GetClassNameA(text, className, sizeof className);
    EXPECT_EQ(lstrcmpiA(className, "RICHEDIT"), 0) << className;
    EXPECT_TRUE(GetWindowLongPtrA(text, GWL_STYLE) & ES_READONLY);
    const std::string page = window.onUi([&] {
        std::string s(static_cast<size_t>(GetWindowTextLengthA(text)) + 1, '\0');
        s.resize(static_cast<size_t>(GetWindowTextA(text, s.data(), static_cast<int>(s.size()))));
        return s;
    });
    for (const char* part : {"Buttons:", "Restart", "Each service has the following configuration items:",
                             "TCP/IP Port", "DTRO", "Load automatically at system startup"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
    EXPECT_EQ(page.find("\\rtf"), std::string::npos); // read as rich text, not shown as source
    // The labels are bold, the descriptions are not.
    auto boldAt = [&](const char* word) {
        return window.onUi([&] {
            const LONG at = static_cast<LONG>(page.find(word));
            CHARRANGE range{at, at + 3};
            SendMessageA(text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
            CHARFORMATA format{};
            format.cbSize = sizeof format;
            SendMessageA(text, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
            return (format.dwMask & CFM_BOLD) && (format.dwEffects & CFE_BOLD);
        });
    };
    EXPECT_TRUE(boldAt("Delete:"));
    EXPECT_TRUE(boldAt("Serial Port:"));
    EXPECT_FALSE(boldAt("Removes"));
    const COLORREF background = window.onUi([&] {
        const auto old = static_cast<COLORREF>(SendMessageA(text, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3)));
        SendMessageA(text, EM_SETBKGNDCOLOR, 0, old);
        return old;
    });
    EXPECT_EQ(background, GetSysColor(COLOR_INFOBK));

    // Minimised, a second press restores it.
    window.onUi([&] { ShowWindow(help, SW_MINIMIZE); });
    ASSERT_TRUE(IsIconic(help));
    window.command(IDC_HELP_BUTTON);
    EXPECT_TRUE(wait_until([&] { return !IsIconic(help); }));

    // Enter does not end it; Escape ends Help and nothing else.
    window.onUi([&] { SetFocus(text); });
    window.key(text, VK_RETURN);
    window.flush();
    EXPECT_TRUE(IsWindowVisible(help));
    EXPECT_NE(window.onUi([&] { return win32::CHelpDialog::helpWindow(); }), nullptr);
    window.key(text, VK_ESCAPE);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(help); }));
    EXPECT_EQ(window.onUi([&] { return win32::CHelpDialog::helpWindow(); }), nullptr);
    EXPECT_TRUE(IsWindowVisible(window.hwnd()));

    // A fresh one opens again; closing the main window closes it too.
    window.command(IDC_HELP_BUTTON);
    ASSERT_TRUE(wait_until([&] { return (help = topLevelWindow(title, window.threadId())) != nullptr; }));
    ASSERT_TRUE(window.close());
    EXPECT_FALSE(IsWindow(help));
    EXPECT_EQ(win32::CHelpDialog::helpWindow(), nullptr);
}

TEST_F(MainWindowTest, HelpReopenedAfterScrollingShowsTheTop)
{
    ASSERT_TRUE(window.open());
    auto shortTexts = window.onUi([] { return std::make_shared<ShortHelpText>(120); });
    ASSERT_TRUE(shortTexts->installed());
    const char* title = "Vantrel Server Help";
    HWND help = nullptr;
    window.command(IDC_HELP_BUTTON);
    ASSERT_TRUE(wait_until([&] { return (help = topLevelWindow(title, window.threadId())) != nullptr; }));
    HWND text = GetDlgItem(help, IDC_HELP_TEXT);
    window.onUi([&] { UpdateWindow(help); });
    TextView view = textView(window, text);
    ASSERT_TRUE(view.scrolls) << "the page fits its view; nothing to scroll";
    EXPECT_EQ(view.firstLine, 0);
    EXPECT_EQ(view.position, 0);
    EXPECT_GE(view.firstCharY, 0);

    // Scrolled to the end, the view is seen as away from the top.
    window.onUi([&] { SendMessageA(text, WM_VSCROLL, SB_BOTTOM, 0); });
    view = textView(window, text);
    ASSERT_GT(view.firstLine, 0);
    ASSERT_GT(view.position, 0);
    ASSERT_LT(view.firstCharY, 0);

    // Escape closes it; the next press opens a fresh window at the top.
    window.key(text, VK_ESCAPE);
    ASSERT_TRUE(wait_until([&] { return !IsWindow(help); }));
    window.command(IDC_HELP_BUTTON);
    ASSERT_TRUE(wait_until([&] { return (help = topLevelWindow(title, window.threadId())) != nullptr; }));
    text = GetDlgItem(help, IDC_HELP_TEXT);
    window.onUi([&] { UpdateWindow(help); });
    view = textView(window, text);
    ASSERT_TRUE(view.scrolls);
    EXPECT_EQ(view.firstLine, 0);
    EXPECT_EQ(view.position, 0);
    EXPECT_GE(view.firstCharY, 0);
    window.onUi([&] { shortTexts.reset(); });
}

TEST_F(MainWindowTest, AboutBoxIsModalOverTheMainWindow)
{
    ASSERT_TRUE(window.open());
    PostMessageA(window.hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = nullptr;
    ASSERT_TRUE(wait_until([&] { return (about = topLevelWindow("About Vantrel Server", window.threadId())) != nullptr; }));
    EXPECT_FALSE(IsWindowEnabled(window.hwnd()));
    EXPECT_EQ(GetWindow(about, GW_OWNER), window.hwnd());
    EXPECT_EQ(text(GetDlgItem(about, IDOK)), "OK");
    // A plain dialog: OK has the focus.
    EXPECT_TRUE(wait_until([&] { return window.onUi([] { return GetFocus(); }) == GetDlgItem(about, IDOK); }));
    bool iconShown = false;
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            iconShown = SendMessageA(child, STM_GETICON, 0, 0) != 0;
    EXPECT_TRUE(iconShown);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(about) && IsWindowEnabled(window.hwnd()); }));
    EXPECT_EQ(window.onUi([&] { return window.dialog().minimized(); }), 0);
}

TEST(Resizer, TheGripGoesWithItsWindowAndItsHandleIsForgotten)
{
    win32::CResizableDialog dialog(IDD_ABOUT, 0);
    HWND hwnd = dialog.create(nullptr);
    ASSERT_NE(hwnd, nullptr);
    HWND grip = dialog.resizer().grip();
    ASSERT_NE(grip, nullptr);
    EXPECT_EQ(GetParent(grip), hwnd);
    EXPECT_EQ(GetDlgItem(hwnd, IDC_SIZE_GRIP), grip);
    DestroyWindow(hwnd);
    EXPECT_FALSE(IsWindow(grip));
    // The destructor must not destroy whatever window has that handle now.
    EXPECT_EQ(dialog.resizer().grip(), nullptr);
}

TEST(SingleInstance, SecondManagerEndsAtOnceAndTheFirstKeepsRunning)
{
    removeConfiguration();
    const std::string exe = vantrelExe();
    auto start = [&](PROCESS_INFORMATION& info) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string line = "\"" + exe + "\"";
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)
            != 0;
    };
    auto windowOf = [](DWORD process) {
        struct Search {
            DWORD process;
            HWND found;
        } search{process, nullptr};
        EnumWindows(
            [](HWND hwnd, LPARAM arg) -> BOOL {
                auto* s = reinterpret_cast<Search*>(arg);
                DWORD owner = 0;
                GetWindowThreadProcessId(hwnd, &owner);
                char text[64] = {};
                GetWindowTextA(hwnd, text, sizeof text);
                if (owner == s->process && std::string(text) == "BRAMBLE Vantrel Server" && IsWindowVisible(hwnd)) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    };

    PROCESS_INFORMATION first{}, second{};
    ASSERT_TRUE(start(first));
    HWND window = nullptr;
    ASSERT_TRUE(wait_until([&] { return (window = windowOf(first.dwProcessId)) != nullptr; }, 60000));

    ASSERT_TRUE(start(second));
    EXPECT_EQ(WaitForSingleObject(second.hProcess, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(windowOf(second.dwProcessId), nullptr);
    EXPECT_EQ(WaitForSingleObject(first.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(IsWindowVisible(window));

    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitForSingleObject(first.hProcess, 60000), WAIT_OBJECT_0);
    EXPECT_NE(read_file(configPath()).find("[General]\r\n"), std::string::npos);
    for (auto* info : {&first, &second}) {
        if (WaitForSingleObject(info->hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(info->hProcess, 1);
        CloseHandle(info->hProcess);
        CloseHandle(info->hThread);
    }
    removeConfiguration();
}
