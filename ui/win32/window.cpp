// The Win32 window framework: modal dialogs, subclassed controls and the
// dispatch through their message and command tables.

#include "ui/win32/window.h"

#include <commctrl.h>

namespace win32 {

HINSTANCE resourceModule()
{
    return GetModuleHandleA(nullptr);
}

// ---------------------------------------------------------------------------

INT_PTR CDialog::runModal(HWND owner)
{
    return DialogBoxParamA(resourceModule(), MAKEINTRESOURCEA(templateId_), owner, dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND CDialog::create(HWND parent)
{
    return CreateDialogParamA(resourceModule(), MAKEINTRESOURCEA(templateId_), parent, dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

bool CDialog::onMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwnd_, LOWORD(wParam));
        result = 0;
        return true;
    }
    return false;
}

INT_PTR CALLBACK CDialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;

    LRESULT result = 0;
    const bool handled = self->onMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        self->onFinalMessage(); // may delete the object
        return FALSE;
    }
    // An unhandled WM_INITDIALOG asks for the default focus, as a plain
    // dialog does.
    if (!handled && message == WM_INITDIALOG)
        return TRUE;
    // Handlers of these only look on: the platform's own handling follows.
    if (!handled || message == WM_DESTROY || message == WM_SHOWWINDOW)
        return FALSE;
    switch (message) {
    // These return their result directly instead of through DWLP_MSGRESULT.
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

// ---------------------------------------------------------------------------

namespace {
constexpr UINT_PTR kSubclassId = 0x5654; // one subclass of ours per window
constexpr const char* kObjectProperty = "VantrelWindowObject";
}

CSubclassedWindow::~CSubclassedWindow()
{
    detach();
}

bool CSubclassedWindow::attach(HWND hwnd)
{
    if (!hwnd || !SetWindowSubclass(hwnd, subclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    hwnd_ = hwnd;
    SetPropA(hwnd, kObjectProperty, this);
    return true;
}

void CSubclassedWindow::detach()
{
    if (hwnd_) {
        RemovePropA(hwnd_, kObjectProperty);
        RemoveWindowSubclass(hwnd_, subclassProc, kSubclassId);
        hwnd_ = nullptr;
    }
}

CSubclassedWindow* CSubclassedWindow::fromHandle(HWND hwnd)
{
    return hwnd ? static_cast<CSubclassedWindow*>(GetPropA(hwnd, kObjectProperty)) : nullptr;
}

LRESULT CSubclassedWindow::defaultHandling(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefSubclassProc(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK CSubclassedWindow::subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                                 UINT_PTR, DWORD_PTR data)
{
    auto* self = reinterpret_cast<CSubclassedWindow*>(data);
    if (message == WM_NCDESTROY) {
        RemovePropA(hwnd, kObjectProperty);
        RemoveWindowSubclass(hwnd, subclassProc, kSubclassId);
        const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        self->hwnd_ = nullptr;
        self->onFinalMessage(); // may delete the object
        return result;
    }
    LRESULT result = 0;
    if (self->onMessage(message, wParam, lParam, result))
        return result;
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace win32
