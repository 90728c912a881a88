#include <winsock2.h>

#include "harness.h"

#include "support/loopback.h"
#include "support/run_value.h"

#include <commctrl.h>

#include <cstdio>

namespace uitest {

namespace {
constexpr UINT WM_INVOKE = WM_APP + 1;
constexpr UINT WM_FLUSHED = WM_APP + 2; // lParam: the event to set
constexpr const char* kInvokerClass = "VantrelTestInvoker";
constexpr DWORD kInvokeTimeoutMs = 60000;
} // namespace

std::string windowsDirectory()
{
    char dir[MAX_PATH] = {};
    GetWindowsDirectoryA(dir, sizeof dir);
    return dir;
}

std::string configPath()
{
    return windowsDirectory() + "\\vantrel.ini";
}

std::string vantrelExe()
{
    std::string path = "Z:";
    for (const char* p = VANTREL_EXE; *p; ++p)
        path += *p == '/' ? '\\' : *p;
    return path;
}

std::string autostartValue()
{
    auto value = support::read_run_value("VantrelServer");
    if (!value || value->type != REG_SZ)
        return "<none>";
    return value->bytes.c_str(); // up to its terminating zero
}

void removeConfiguration()
{
    DeleteFileA(configPath().c_str());
    support::write_run_value("VantrelServer", std::nullopt);
}

int freeLoopbackPort()
{
    port::SocketLibraryInfo info;
    if (port::socket_startup(info) != 0)
        return 0;
    const int port = support::free_port();
    port::socket_cleanup();
    return port;
}

void setManagerGlobals()
{
    managerGlobals.modulePath = vantrelExe();
    managerGlobals.processId = GetCurrentProcessId();
    managerGlobals.serviceCounter = 1;
}

// ---------------------------------------------------------------------------

ManagerWindow::~ManagerWindow()
{
    if (thread_)
        close();
}

LRESULT CALLBACK ManagerWindow::invokerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INVOKE) {
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 1;
    }
    if (message == WM_FLUSHED) {
        SetEvent(reinterpret_cast<HANDLE>(lParam));
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void ManagerWindow::invoke(std::function<void()>& call)
{
    DWORD_PTR result = 0;
    const bool done = SendMessageTimeoutA(invoker_, WM_INVOKE, 0, reinterpret_cast<LPARAM>(&call), SMTO_NORMAL,
                                          kInvokeTimeoutMs, &result)
        && result == 1;
    if (!done)
        ADD_FAILURE() << "the user-interface thread did not answer";
}

DWORD WINAPI ManagerWindow::threadMain(void* arg)
{
    auto* self = static_cast<ManagerWindow*>(arg);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = invokerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kInvokerClass;
    RegisterClassA(&windowClass);
    self->invoker_ = CreateWindowExA(0, kInvokerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
    win32::CMainDialog dialog;
    self->dialog_ = &dialog;
    SetEvent(self->ready_);
    dialog.runModal(nullptr);
    self->dialog_ = nullptr;
    DestroyWindow(self->invoker_);
    return 0;
}

bool ManagerWindow::open(bool untilVisible)
{
    static bool loaded = [] {
        LoadLibraryA("riched32.dll");
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&controls) != 0;
    }();
    (void)loaded;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, threadMain, this, 0, &threadId_);
    if (!thread_ || WaitForSingleObject(ready_, 30000) != WAIT_OBJECT_0)
        return false;
    // The window exists once its modal loop answers.
    return wait_until([&] {
        DWORD_PTR result = 0;
        std::function<void()> call = [&] { hwnd_ = dialog_ ? dialog_->hwnd() : nullptr; };
        SendMessageTimeoutA(invoker_, WM_INVOKE, 0, reinterpret_cast<LPARAM>(&call), SMTO_NORMAL, 2000, &result);
        return hwnd_ && (!untilVisible || IsWindowVisible(hwnd_));
    });
}

bool ManagerWindow::waitClosed(int timeout_ms)
{
    if (!thread_)
        return true;
    if (WaitForSingleObject(thread_, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0)
        return false;
    CloseHandle(thread_);
    CloseHandle(ready_);
    thread_ = ready_ = nullptr;
    hwnd_ = nullptr;
    return true;
}

bool ManagerWindow::close()
{
    if (!thread_)
        return true;
    if (hwnd_)
        PostMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    return waitClosed();
}

void ManagerWindow::flush()
{
    HANDLE flushed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!PostMessageA(invoker_, WM_FLUSHED, 0, reinterpret_cast<LPARAM>(flushed))
        || WaitForSingleObject(flushed, kInvokeTimeoutMs) != WAIT_OBJECT_0)
        ADD_FAILURE() << "the user-interface thread did not take its posted messages";
    CloseHandle(flushed);
}

void ManagerWindow::command(int id)
{
    PostMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item(id)));
}

void ManagerWindow::click(HWND target, POINT at, bool right)
{
    const LPARAM point = MAKELPARAM(at.x, at.y);
    PostMessageA(target, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, point);
    PostMessageA(target, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, point);
}

void ManagerWindow::clickCell(int row, int column, bool right)
{
    RECT r{};
    r.top = column;
    r.left = LVIR_BOUNDS;
    SendMessageA(list(), LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    if (column == 0) // the first column's bounds are those of the whole row
        r.right = r.left + static_cast<LONG>(SendMessageA(list(), LVM_GETCOLUMNWIDTH, 0, 0));
    click(list(), {(r.left + r.right) / 2, (r.top + r.bottom) / 2}, right);
}

void ManagerWindow::clickHeader(int column)
{
    HWND header = reinterpret_cast<HWND>(SendMessageA(list(), LVM_GETHEADER, 0, 0));
    RECT r{};
    SendMessageA(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&r));
    click(header, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void ManagerWindow::key(HWND target, UINT vk)
{
    const UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

void ManagerWindow::type(HWND target, const std::string& text)
{
    for (char c : text)
        PostMessageA(target, WM_CHAR, static_cast<unsigned char>(c), 1);
}

int ManagerWindow::rowCount()
{
    return onUi([&] { return dialog_->list().rowCount(); });
}

std::string ManagerWindow::cell(int row, int column)
{
    return onUi([&] { return dialog_->list().cellText(row, column); });
}

int ManagerWindow::selectedRow()
{
    return onUi([&] { return dialog_->list().selectedRow(); });
}

HWND ManagerWindow::editor(int id)
{
    HWND found = nullptr;
    for (HWND child = GetWindow(list(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == id && IsWindowVisible(child))
            found = child;
    return found;
}

HWND ManagerWindow::droppedList(HWND combo)
{
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(combo, &info) ? info.hwndList : nullptr;
}

HWND ManagerWindow::popupMenu()
{
    struct Search {
        DWORD thread;
        HWND found;
    } search{threadId_, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM arg) -> BOOL {
            auto* s = reinterpret_cast<Search*>(arg);
            char name[16] = {};
            GetClassNameA(hwnd, name, sizeof name);
            if (std::string(name) == "#32768" && IsWindowVisible(hwnd)
                && GetWindowThreadProcessId(hwnd, nullptr) == s->thread) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ManagerWindow::waitPopupMenu(int timeout_ms)
{
    HWND menu = nullptr;
    const bool tracking = wait_until(
        [&] {
            GUITHREADINFO gui{};
            gui.cbSize = sizeof gui;
            menu = popupMenu();
            return menu && GetGUIThreadInfo(threadId_, &gui)
                && (gui.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE)) != 0;
        },
        timeout_ms);
    return tracking ? menu : nullptr;
}

} // namespace uitest
