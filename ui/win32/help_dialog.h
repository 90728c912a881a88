#pragma once
// The Help window (modeless, at most one, a read-only rich-text page) and
// the About box (modal).

#include "ui/win32/window.h"

#include <string>

namespace win32 {

class CHelpDialog : public CDialog {
public:
    CHelpDialog();
    ~CHelpDialog() override;

    // Opens the Help window, or brings the open one to the front.
    static void openHelp();
    // Closes the open Help window, if any (used when the main window goes).
    static void closeHelp();
    // The open Help window, or null.
    static CHelpDialog* helpWindow() { return helpWindow_; }

    // The page, as RTF.
    static std::string helpText();

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void onFinalMessage() override { delete this; }

private:
    LRESULT onInitDialog(WPARAM wParam, LPARAM lParam);
    void onCancel();
    void onOk() {} // Enter: only Cancel closes the modeless window
    void freeIcons();
    static DWORD CALLBACK streamIn(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* count);

    static const MessageEntry<CHelpDialog> messages[];
    static const CommandEntry<CHelpDialog> commands[];
    static CHelpDialog* helpWindow_;

    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
};

// The About box adds nothing to the plain dialog.
class CAboutDialog : public CDialog {
public:
    CAboutDialog();
};

} // namespace win32
