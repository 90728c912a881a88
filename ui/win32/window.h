#pragma once
// The little window framework of the Windows manager: dialogs and
// subclassed controls whose handlers are found through per-class tables of
// window messages and command identifiers. Whatever a class does not list
// gets the platform's default handling.

#include <windows.h>

#include <span>

namespace win32 {

// One row of a class's message table: the handler's result is the message's
// result.
template <class T>
struct MessageEntry {
    UINT message;
    LRESULT (T::*handler)(WPARAM wParam, LPARAM lParam);
};

// One row of a class's command table (WM_COMMAND from a menu, an
// accelerator or a button click).
template <class T>
struct CommandEntry {
    int id;
    void (T::*handler)();
};

// Looks the message up in the two tables and runs the handler found.
// False when neither table has an entry for it.
template <class T>
bool dispatch(T* self, std::span<const MessageEntry<T>> messages, std::span<const CommandEntry<T>> commands,
              UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == WM_COMMAND && HIWORD(wParam) <= 1) {
        for (const auto& entry : commands) {
            if (entry.id == LOWORD(wParam)) {
                (self->*entry.handler)();
                result = 0;
                return true;
            }
        }
    }
    for (const auto& entry : messages) {
        if (entry.message == message) {
            result = (self->*entry.handler)(wParam, lParam);
            return true;
        }
    }
    return false;
}

// A dialog from a template. The object outlives its window unless
// onFinalMessage says otherwise.
class CDialog {
public:
    explicit CDialog(int templateId) : templateId_(templateId) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; returns the value given to endDialog, or -1.
    INT_PTR runModal(HWND owner);
    // Creates the dialog modelessly; null on failure.
    HWND create(HWND parent);
    HWND hwnd() const { return hwnd_; }
    void endDialog(INT_PTR result) { EndDialog(hwnd_, result); }

protected:
    // The class's handlers; false leaves the message to the platform.
    // The base handles OK and Cancel by ending a modal dialog.
    virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Called after the window's last message (WM_NCDESTROY).
    virtual void onFinalMessage() {}
    HWND item(int id) const { return GetDlgItem(hwnd_, id); }

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    HWND hwnd_ = nullptr;
};

// A control whose messages pass through the class's handlers first
// (comctl32 window subclassing).
class CSubclassedWindow {
public:
    CSubclassedWindow() = default;
    virtual ~CSubclassedWindow();
    CSubclassedWindow(const CSubclassedWindow&) = delete;
    CSubclassedWindow& operator=(const CSubclassedWindow&) = delete;

    bool attach(HWND hwnd);
    void detach();
    HWND hwnd() const { return hwnd_; }

    // The class this window was attached by, or null.
    static CSubclassedWindow* fromHandle(HWND hwnd);

protected:
    virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    // Called after the window's last message (WM_NCDESTROY).
    virtual void onFinalMessage() {}
    // The control's own handling of a message.
    LRESULT defaultHandling(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);

    HWND hwnd_ = nullptr;
};

// The module whose resources the windows use: the executable.
HINSTANCE resourceModule();

} // namespace win32
