// The tray icon on Windows: Shell_NotifyIconA with a hidden message window
// that turns the icon's events into the main window's commands.

#include "ui/win32/system_tray.h"

#include "ui/win32/window.h"

#include <cstring>

namespace win32 {

HWND CSystemTray::mainWindow_ = nullptr;

namespace {
constexpr const char* kTrayWindowClass = "VantrelTrayWindow";
}

UINT CSystemTray::taskbarCreatedMessage()
{
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

CSystemTray::CSystemTray()
{
    std::memset(&iconData_, 0, sizeof iconData_);
}

CSystemTray::~CSystemTray()
{
    if (iconAdded_) {
        iconData_.uFlags = 0;
        Shell_NotifyIconA(NIM_DELETE, &iconData_);
        iconAdded_ = 0;
    }
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void CSystemTray::create(HWND owner, UINT callbackMessage, const char* tooltip, HICON icon, UINT id)
{
    taskbarCreatedMessage();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = resourceModule();
    windowClass.lpszClassName = kTrayWindowClass;
    RegisterClassA(&windowClass); // fails harmlessly when registered already

    hwnd_ = CreateWindowExA(0, kTrayWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, resourceModule(),
                            nullptr);
    if (hwnd_)
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    // The record's first version 2 layout; the shell reads nothing beyond
    // the size given (488 bytes in a 32-bit build, 504 in a 64-bit one).
    iconData_.cbSize = NOTIFYICONDATAA_V2_SIZE;
    iconData_.hWnd = owner ? owner : hwnd_;
    iconData_.uID = id;
    iconData_.uFlags = iconFlags_;
    iconData_.uCallbackMessage = callbackMessage;
    iconData_.hIcon = icon;
    if (tooltip)
        std::strncpy(iconData_.szTip, tooltip, 63);
    iconAdded_ = Shell_NotifyIconA(NIM_ADD, &iconData_) ? 1 : 0;
}

LRESULT CSystemTray::reAddIcon()
{
    iconData_.uFlags = iconFlags_;
    Shell_NotifyIconA(NIM_ADD, &iconData_);
    return 0;
}

HMENU CSystemTray::loadPopup(HMENU& menu) const
{
    menu = LoadMenuA(resourceModule(), MAKEINTRESOURCEA(iconData_.uID));
    if (!menu)
        return nullptr;
    HMENU popup = GetSubMenu(menu, 0);
    if (!popup) {
        DestroyMenu(menu);
        menu = nullptr;
    }
    return popup;
}

int CSystemTray::onIconEvent(WPARAM id, LPARAM mouseMessage)
{
    if (id != iconData_.uID)
        return 0;
    HMENU menu = nullptr;
    switch (LOWORD(mouseMessage)) {
    case WM_RBUTTONUP: {
        HMENU popup = loadPopup(menu);
        if (!popup)
            return 0;
        SetMenuDefaultItem(popup, 0, TRUE);
        POINT at{};
        GetCursorPos(&at);
        SetForegroundWindow(mainWindow_);
        TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, mainWindow_, nullptr);
        PostMessageA(mainWindow_, WM_NULL, 0, 0);
        DestroyMenu(menu);
        return 1;
    }
    case WM_LBUTTONDBLCLK: {
        SetForegroundWindow(mainWindow_);
        HMENU popup = loadPopup(menu);
        if (!popup)
            return 0;
        const UINT command = GetMenuItemID(popup, 0);
        DestroyMenu(menu);
        // Restoring the main window destroys this object: nothing of it may
        // be touched once the command has run.
        SendMessageA(mainWindow_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return 1;
    }
    default:
        return 1;
    }
}

LRESULT CALLBACK CSystemTray::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CSystemTray*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self) {
        if (message == self->iconData_.uCallbackMessage)
            return self->onIconEvent(wParam, lParam);
        if (message == taskbarCreatedMessage())
            return self->reAddIcon();
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

} // namespace win32
