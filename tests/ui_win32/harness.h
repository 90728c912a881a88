#pragma once
// Drives the real main window from a test: the dialog runs modally on a
// user-interface thread of its own, the test thread posts it window messages
// and reads its state, and runs code on the user-interface thread when it
// must touch the window objects.

#include "manager/manager_globals.h"
#include "support/deadline.h"
#include "support/files.h"
#include "ui/win32/main_dialog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace uitest {

using support::read_file;
using support::write_file;

// Waits until pred() holds, asking every 20 ms: often enough, and not so
// often that the window's thread is crowded by the questions.
template <typename Pred>
bool wait_until(Pred pred, int timeout_ms = 20000)
{
    return support::wait_until(pred, timeout_ms, 20);
}

// Paths in the Wine prefix and the built program.
std::string windowsDirectory();
std::string configPath();
std::string vantrelExe(); // Windows path of the built vantrel.exe
// The autostart value, or "<none>".
std::string autostartValue();
void removeConfiguration(); // the file and the autostart value

// A free TCP port on 127.0.0.1 (bound, then released).
int freeLoopbackPort();

class ManagerWindow {
public:
    ManagerWindow() = default;
    ~ManagerWindow();
    ManagerWindow(const ManagerWindow&) = delete;
    ManagerWindow& operator=(const ManagerWindow&) = delete;

    // Opens the window on its thread; true once it is up (and, with
    // untilVisible, shown: a window that starts in the tray never is).
    bool open(bool untilVisible = true);
    // Ends it with Cancel, as Escape or the close box do; true once the
    // dialog's thread has ended.
    bool close();
    // True once the thread has ended by itself (the window was ended some
    // other way).
    bool waitClosed(int timeout_ms = 60000);
    bool isOpen() const { return thread_ != nullptr; }

    HWND hwnd() const { return hwnd_; }
    HWND item(int id) const { return GetDlgItem(hwnd_, id); }
    HWND list() const { return item(IDC_SERVICE_LIST); }
    DWORD threadId() const { return threadId_; }

    // Runs f on the user-interface thread and returns its result.
    template <class F>
    auto onUi(F f) -> decltype(f())
    {
        using R = decltype(f());
        if constexpr (std::is_void_v<R>) {
            std::function<void()> call = f;
            invoke(call);
        } else {
            R result{};
            std::function<void()> call = [&] { result = f(); };
            invoke(call);
            return result;
        }
    }
    win32::CMainDialog& dialog() { return *dialog_; }

    // Waits until the user-interface thread has handled every message
    // posted to it before this call (posted messages are taken in order).
    void flush();

    // Input as the platform would deliver it.
    void command(int id);                             // a button click
    void click(HWND target, POINT at, bool right = false); // at: client coordinates of target
    void clickCell(int row, int column, bool right = false);
    void clickHeader(int column);
    void key(HWND target, UINT vk);                   // key down and up
    void type(HWND target, const std::string& text);  // characters

    // Reading the window.
    int rowCount();
    std::string cell(int row, int column);
    int selectedRow();
    bool enabled(int id) { return IsWindowEnabled(item(id)) != 0; }
    // The open cell editor (child of the list with the editor's id), or null.
    HWND editor(int id);
    // The list a drop-down shows when it is dropped down.
    static HWND droppedList(HWND combo);
    // The pop-up menu window shown by the user-interface thread, or null.
    HWND popupMenu();
    // Waits for a pop-up menu that takes input: shown, and the thread in
    // its menu loop (the window is visible a moment before the loop runs,
    // and keys sent to it then can be lost). Null when none came in time.
    HWND waitPopupMenu(int timeout_ms = 20000);

private:
    static DWORD WINAPI threadMain(void* self);
    static LRESULT CALLBACK invokerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void invoke(std::function<void()>& call);

    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE ready_ = nullptr;
    HWND invoker_ = nullptr;
    HWND hwnd_ = nullptr;
    win32::CMainDialog* dialog_ = nullptr;
};

// Sets the manager-wide values as the start-up does, for this test process
// but with the built vantrel.exe as the program workers are started from.
void setManagerGlobals();

// A test with the real main window. The configuration file and the
// autostart value are removed before and after it.
class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        removeConfiguration();
        setManagerGlobals();
    }
    void TearDown() override
    {
        EXPECT_TRUE(window.close());
        removeConfiguration();
    }
    void openWith(const std::string& configuration, bool untilVisible = true)
    {
        write_file(configPath(), configuration);
        ASSERT_TRUE(window.open(untilVisible));
    }

    ManagerWindow window;
};

} // namespace uitest
