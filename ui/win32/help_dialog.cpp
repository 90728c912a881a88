// The Help window and the About box on Windows.

#include "ui/win32/help_dialog.h"

#include "resources/resource.h"

#include <richedit.h>
#include <shellapi.h>

#include <cstring>

namespace win32 {

CHelpDialog* CHelpDialog::helpWindow_ = nullptr;

namespace {

// The main window runs its own modal loop, which does the dialog keyboard
// handling (Escape, Tab) only for itself; this hook does it for the
// modeless Help window while that is open.
HHOOK keyboardHook = nullptr;

LRESULT CALLBACK helpKeyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) {
        CHelpDialog* help = CHelpDialog::helpWindow();
        HWND dialog = help ? help->hwnd() : nullptr;
        if (dialog && (msg->hwnd == dialog || IsChild(dialog, msg->hwnd)) && IsDialogMessageA(dialog, msg)) {
            msg->message = WM_NULL;
            return 0;
        }
    }
    return CallNextHookEx(keyboardHook, code, wParam, lParam);
}

} // namespace

const MessageEntry<CHelpDialog> CHelpDialog::messages[] = {
    {WM_INITDIALOG, &CHelpDialog::onInitDialog},
};

const CommandEntry<CHelpDialog> CHelpDialog::commands[] = {
    {IDCANCEL, &CHelpDialog::onCancel},
    {IDOK, &CHelpDialog::onOk},
};

CHelpDialog::CHelpDialog() : CDialog(IDD_HELP)
{
    ExtractIconExA("shell32.dll", 23, &bigIcon_, &smallIcon_, 1);
}

CHelpDialog::~CHelpDialog()
{
    freeIcons();
    if (helpWindow_ == this)
        helpWindow_ = nullptr;
    if (!helpWindow_ && keyboardHook) {
        UnhookWindowsHookEx(keyboardHook);
        keyboardHook = nullptr;
    }
}

void CHelpDialog::freeIcons()
{
    if (bigIcon_)
        DestroyIcon(bigIcon_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
    bigIcon_ = smallIcon_ = nullptr;
}

void CHelpDialog::openHelp()
{
    if (helpWindow_) {
        HWND hwnd = helpWindow_->hwnd();
        SetActiveWindow(hwnd);
        SetForegroundWindow(hwnd);
        if (IsIconic(hwnd))
            ShowWindow(hwnd, SW_RESTORE);
        return;
    }
    auto* dialog = new CHelpDialog;
    helpWindow_ = dialog;
    if (HWND hwnd = dialog->create(GetDesktopWindow())) {
        ShowWindow(hwnd, SW_SHOW);
        if (!keyboardHook)
            keyboardHook = SetWindowsHookExA(WH_GETMESSAGE, helpKeyboardHook, nullptr, GetCurrentThreadId());
    } else {
        delete dialog; // clears helpWindow_
    }
}

void CHelpDialog::closeHelp()
{
    if (helpWindow_)
        helpWindow_->onCancel();
}

std::string CHelpDialog::helpText()
{
    HRSRC info = FindResourceA(resourceModule(), MAKEINTRESOURCEA(IDR_HELP_RTF), MAKEINTRESOURCEA(10));
    HGLOBAL data = info ? LoadResource(resourceModule(), info) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes)
        return {};
    return std::string(static_cast<const char*>(bytes), SizeofResource(resourceModule(), info));
}

bool CHelpDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return dispatch<CHelpDialog>(this, messages, commands, message, wParam, lParam, result)
        || CDialog::onMessage(message, wParam, lParam, result);
}

LRESULT CHelpDialog::onInitDialog(WPARAM, LPARAM)
{
    if (bigIcon_)
        SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    if (smallIcon_)
        SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    HWND text = item(IDC_HELP_TEXT);
    SendMessageA(text, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_INFOBK));
    SendMessageA(text, EM_EXLIMITTEXT, 0, 0xFFFFFF);
    CHARRANGE none{-1, 0};
    SendMessageA(text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));
    SetFocus(text);

    std::string page = helpText();
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&page);
    stream.pfnCallback = streamIn;
    SendMessageA(text, WM_SETREDRAW, FALSE, 0);
    SendMessageA(text, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    SendMessageA(text, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(text, nullptr, TRUE);

    // Centre on the screen.
    RECT window{}, work{};
    GetWindowRect(hwnd(), &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int width = window.right - window.left, height = window.bottom - window.top;
    SetWindowPos(hwnd(), nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return FALSE; // the focus is set: it stays on the text
}

DWORD CALLBACK CHelpDialog::streamIn(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* count)
{
    auto& rest = *reinterpret_cast<std::string*>(cookie);
    const size_t n = rest.size() < static_cast<size_t>(size) ? rest.size() : static_cast<size_t>(size);
    std::memcpy(buffer, rest.data(), n);
    rest.erase(0, n);
    *count = static_cast<LONG>(n);
    return 0;
}

void CHelpDialog::onCancel()
{
    freeIcons();
    helpWindow_ = nullptr;
    DestroyWindow(hwnd()); // the object deletes itself after the last message
}

CAboutDialog::CAboutDialog() : CDialog(IDD_ABOUT) {}

} // namespace win32
