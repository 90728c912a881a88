#pragma once
// One icon in the notification area. Its hidden window receives the icon's
// mouse events and turns them into commands for the application's main
// window: a right-button click shows the icon's menu, a double click runs the
// menu's first item. When the taskbar is re-created the icon is added again.

#include <windows.h>
#include <shellapi.h>

namespace win32 {

class CSystemTray {
public:
    CSystemTray();
    virtual ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Creates the hidden window and adds the icon. The menu resource of
    // the same id as the icon is its menu.
    void create(HWND owner, UINT callbackMessage, const char* tooltip, HICON icon, UINT id);

    // 1 when it took an event of this icon; 0 for another icon's id or when
    // the menu cannot be loaded.
    virtual int onIconEvent(WPARAM id, LPARAM mouseMessage);
    LRESULT reAddIcon();

    HWND hwnd() const { return hwnd_; }
    bool iconAdded() const { return iconAdded_ != 0; }
    const NOTIFYICONDATAA& iconData() const { return iconData_; }

    // The application's main window, to which the commands go.
    static void setMainWindow(HWND hwnd) { mainWindow_ = hwnd; }
    // The id of the "TaskbarCreated" broadcast, registered once.
    static UINT taskbarCreatedMessage();

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HMENU loadPopup(HMENU& menu) const;

    NOTIFYICONDATAA iconData_;
    int iconFlags_ = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    int iconAdded_ = 0;
    HWND hwnd_ = nullptr;

    static HWND mainWindow_;
};

} // namespace win32
