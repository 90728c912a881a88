#pragma once
// In-place editors over one cell of the service list: a single-line text
// editor and a drop-down list. An editor ends when it loses the keyboard
// focus; it then reports a CellEditResult to the list (as the list's
// end-of-label-edit notification, through the list's parent) and goes away.
// Editors own themselves; the list keeps no pointer to them.

#include "manager/cell_editing.h"
#include "ui/win32/window.h"

#include <string>
#include <vector>

namespace win32 {

// A WM_COMMAND that the list hands on to the child control that sent it.
constexpr UINT WM_REFLECTED_COMMAND = WM_APP + 1;

// The keys that end an edit are the virtual keys of the same numbers.
static_assert(END_KEY_TAB == VK_TAB && END_KEY_ENTER == VK_RETURN && END_KEY_ESCAPE == VK_ESCAPE);

// Sends the result as LVN_ENDLABELEDITA to the list's parent: item.iItem and
// item.iSubItem name the cell, item.pszText is the text or null, item.lParam
// is the end key.
void sendCellEditResult(HWND list, const CellEditResult& result);
// Reads such a notification back.
CellEditResult cellEditResultFrom(const NMHDR* header);

class CellTextEditor : public CSubclassedWindow {
public:
    // Opens the editor over `rect` (list client coordinates); false when
    // no editor could be created.
    static bool open(HWND list, int row, int column, const std::string& text, const RECT& rect, int alignment);

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void onFinalMessage() override { delete this; }

private:
    CellTextEditor(HWND list, int row, int column, std::string text)
        : list_(list), row_(row), column_(column), initialText_(std::move(text)) {}
    LRESULT onGetDlgCode(WPARAM wParam, LPARAM lParam);
    LRESULT onChar(WPARAM wParam, LPARAM lParam);
    LRESULT onMouseWheel(WPARAM wParam, LPARAM lParam);
    LRESULT onKillFocus(WPARAM wParam, LPARAM lParam);
    void growToText();

    static const MessageEntry<CellTextEditor> messages[];

    HWND list_;
    int row_;
    int column_;
    std::string initialText_;
    int endKey_ = 0;
    bool ended_ = false;
};

// The dropped-down list of a CellChoiceEditor: tells the editor which
// choice the mouse pointer highlights as it moves over the list, which the
// list box reports to nobody.
class DroppedListWatcher : public CSubclassedWindow {
public:
    explicit DroppedListWatcher(int& highlighted) : highlighted_(highlighted) {}

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    int& highlighted_;
};

class CellChoiceEditor : public CSubclassedWindow {
public:
    // Opens the drop-down over `rect` with the choices, the one numbered
    // `current` highlighted (none for -1); false when no editor was opened.
    static bool open(HWND list, int row, int column, const std::vector<std::string>& choices, int current,
                     const RECT& rect);

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void onFinalMessage() override { delete this; }

private:
    CellChoiceEditor(HWND list, int row, int column, std::vector<std::string> choices, int current)
        : list_(list), row_(row), column_(column), choices_(std::move(choices)), highlighted_(current) {}
    LRESULT onGetDlgCode(WPARAM wParam, LPARAM lParam);
    LRESULT onKeyDown(WPARAM wParam, LPARAM lParam);
    LRESULT onChar(WPARAM wParam, LPARAM lParam);
    LRESULT onKillFocus(WPARAM wParam, LPARAM lParam);
    LRESULT onReflectedCommand(WPARAM wParam, LPARAM lParam);

    static const MessageEntry<CellChoiceEditor> messages[];

    HWND list_;
    int row_;
    int column_;
    std::vector<std::string> choices_;
    // The choice highlighted in the dropped-down list, as the keys and the
    // mouse pointer last left it (-1: none). Kept apart from the combo box's
    // selection, which a cancelled drop-down may put back before the
    // editor loses the focus.
    int highlighted_;
    DroppedListWatcher droppedList_{highlighted_};
    int endKey_ = 0;
    bool ended_ = false;
};

} // namespace win32
