// The Win32 cell editors: an edit control and a drop-down list over one
// cell, each ending on the loss of the keyboard focus and reporting through
// the list's end-of-label-edit notification.

#include "ui/win32/cell_editors.h"

#include "resources/resource.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <utility>

namespace win32 {

namespace {

bool isEndKey(WPARAM key)
{
    return key == VK_TAB || key == VK_RETURN || key == VK_ESCAPE;
}

std::string windowText(HWND hwnd)
{
    std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int textWidth(HWND hwnd, HFONT font, const std::string& text)
{
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return size.cx;
}

HFONT listFont(HWND list)
{
    return reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
}

} // namespace

void sendCellEditResult(HWND list, const CellEditResult& result)
{
    NMLVDISPINFOA info{};
    info.hdr.hwndFrom = list;
    info.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
    info.hdr.code = LVN_ENDLABELEDITA;
    info.item.mask = LVIF_TEXT | LVIF_PARAM;
    info.item.iItem = result.row;
    info.item.iSubItem = result.column;
    info.item.pszText = result.text ? const_cast<char*>(result.text->c_str()) : nullptr;
    info.item.lParam = result.endKey;
    SendMessageA(GetParent(list), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
}

CellEditResult cellEditResultFrom(const NMHDR* header)
{
    const auto* info = reinterpret_cast<const NMLVDISPINFOA*>(header);
    CellEditResult result;
    result.row = info->item.iItem;
    result.column = info->item.iSubItem;
    if (info->item.pszText)
        result.text = info->item.pszText;
    result.endKey = static_cast<int>(info->item.lParam);
    return result;
}

// ---------------------------------------------------------------------------

const MessageEntry<CellTextEditor> CellTextEditor::messages[] = {
    {WM_GETDLGCODE, &CellTextEditor::onGetDlgCode},
    {WM_CHAR, &CellTextEditor::onChar},
    {WM_MOUSEWHEEL, &CellTextEditor::onMouseWheel},
    {WM_KILLFOCUS, &CellTextEditor::onKillFocus},
};

bool CellTextEditor::open(HWND list, int row, int column, const std::string& text, const RECT& rect, int alignment)
{
    const DWORD align = alignment == LVCFMT_RIGHT ? ES_RIGHT : alignment == LVCFMT_CENTER ? ES_CENTER : ES_LEFT;
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL | align, rect.left,
                                rect.top, rect.right - rect.left, rect.bottom - rect.top, list,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_CELL_TEXT_EDITOR)),
                                resourceModule(), nullptr);
    if (!edit)
        return false;
    auto* editor = new CellTextEditor(list, row, column, text);
    if (!editor->attach(edit)) {
        delete editor;
        DestroyWindow(edit);
        return false;
    }
    SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(listFont(list)), FALSE);
    SetWindowTextA(edit, text.c_str());
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, 0);
    SendMessageA(edit, EM_SCROLLCARET, 0, 0);
    return true;
}

bool CellTextEditor::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return dispatch<CellTextEditor>(this, messages, {}, message, wParam, lParam, result);
}

LRESULT CellTextEditor::onGetDlgCode(WPARAM wParam, LPARAM lParam)
{
    // Tab, Enter, Escape, Delete and Control combinations are the editor's,
    // not the dialog's.
    return defaultHandling(WM_GETDLGCODE, wParam, lParam) | DLGC_WANTALLKEYS;
}

LRESULT CellTextEditor::onChar(WPARAM wParam, LPARAM lParam)
{
    if (isEndKey(wParam)) {
        endKey_ = static_cast<int>(wParam);
        SetFocus(list_);
        return 0;
    }
    const LRESULT result = defaultHandling(WM_CHAR, wParam, lParam);
    growToText();
    return result;
}

LRESULT CellTextEditor::onMouseWheel(WPARAM wParam, LPARAM lParam)
{
    // A single-line edit control keeps the wheel to itself; the list under
    // the editor scrolls instead, taking the focus first, which ends this
    // editor with its value committed.
    return SendMessageA(list_, WM_MOUSEWHEEL, wParam, lParam);
}

void CellTextEditor::growToText()
{
    const int needed = textWidth(hwnd(), listFont(list_), windowText(hwnd())) + 5;
    RECT client{}, window{}, listClient{};
    GetClientRect(hwnd(), &client);
    if (client.right >= needed)
        return;
    GetWindowRect(hwnd(), &window);
    MapWindowPoints(nullptr, list_, reinterpret_cast<POINT*>(&window), 2);
    GetClientRect(list_, &listClient);
    const int frame = (window.right - window.left) - client.right;
    const LONG right = std::min<LONG>(window.left + needed + frame, listClient.right);
    if (right > window.right)
        SetWindowPos(hwnd(), nullptr, 0, 0, right - window.left, window.bottom - window.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CellTextEditor::onKillFocus(WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = defaultHandling(WM_KILLFOCUS, wParam, lParam);
    if (ended_)
        return result;
    ended_ = true;
    sendCellEditResult(list_, cellEditResult(row_, column_, endKey_, trimmed(windowText(hwnd()))));
    DestroyWindow(hwnd()); // deletes this object
    return result;
}

// ---------------------------------------------------------------------------

const MessageEntry<CellChoiceEditor> CellChoiceEditor::messages[] = {
    {WM_GETDLGCODE, &CellChoiceEditor::onGetDlgCode},
    {WM_KEYDOWN, &CellChoiceEditor::onKeyDown},
    {WM_CHAR, &CellChoiceEditor::onChar},
    {WM_KILLFOCUS, &CellChoiceEditor::onKillFocus},
    {WM_REFLECTED_COMMAND, &CellChoiceEditor::onReflectedCommand},
};

bool CellChoiceEditor::open(HWND list, int row, int column, const std::vector<std::string>& choices, int current,
                            const RECT& rect)
{
    if (choices.empty())
        return false;

    HWND combo = CreateWindowExA(WS_EX_CLIENTEDGE, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST,
                                 rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top + 150, list,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_CELL_CHOICE_EDITOR)),
                                 resourceModule(), nullptr);
    if (!combo)
        return false;
    auto* editor = new CellChoiceEditor(list, row, column, choices, current);
    if (!editor->attach(combo)) {
        delete editor;
        DestroyWindow(combo);
        return false;
    }
    HFONT font = listFont(list);
    SendMessageA(combo, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    int widest = 0;
    for (const auto& choice : editor->choices_) {
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
        widest = std::max(widest, textWidth(combo, font, choice));
    }
    const int dropped = widest + GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE) + 4;
    SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(std::max<LONG>(dropped, rect.right - rect.left)), 0);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    if (GetComboBoxInfo(combo, &parts))
        editor->droppedList_.attach(parts.hwndList);
    SetFocus(combo);
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(current), 0);
    return true;
}

bool CellChoiceEditor::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return dispatch<CellChoiceEditor>(this, messages, {}, message, wParam, lParam, result);
}

LRESULT CellChoiceEditor::onGetDlgCode(WPARAM wParam, LPARAM lParam)
{
    return defaultHandling(WM_GETDLGCODE, wParam, lParam) | DLGC_WANTALLKEYS;
}

LRESULT CellChoiceEditor::onKeyDown(WPARAM wParam, LPARAM lParam)
{
    if (isEndKey(wParam)) {
        endKey_ = static_cast<int>(wParam);
        SetFocus(list_);
        return 0;
    }
    return defaultHandling(WM_KEYDOWN, wParam, lParam);
}

LRESULT CellChoiceEditor::onChar(WPARAM wParam, LPARAM lParam)
{
    if (isEndKey(wParam))
        return 0; // taken care of at the key press
    return defaultHandling(WM_CHAR, wParam, lParam);
}

LRESULT CellChoiceEditor::onKillFocus(WPARAM wParam, LPARAM lParam)
{
    // Still dropped down (Tab, Enter, the focus taken away): the list shows
    // the highlighted choice now; the close-up that follows cancels it.
    if (!ended_ && SendMessageA(hwnd(), CB_GETDROPPEDSTATE, 0, 0) && droppedList_.hwnd())
        highlighted_ = static_cast<int>(SendMessageA(droppedList_.hwnd(), LB_GETCURSEL, 0, 0));
    const int highlighted = highlighted_;
    const bool first = !ended_;
    ended_ = true; // the close-up that the focus loss brings gives no focus away
    const LRESULT result = defaultHandling(WM_KILLFOCUS, wParam, lParam);
    if (!first)
        return result;
    sendCellEditResult(list_, choiceEditResult(row_, column_, endKey_, choices_, highlighted));
    PostMessageA(hwnd(), WM_CLOSE, 0, 0);
    return result;
}

LRESULT CellChoiceEditor::onReflectedCommand(WPARAM wParam, LPARAM)
{
    if (ended_)
        return 0;
    switch (HIWORD(wParam)) {
    case CBN_SELCHANGE: // a key or a click moved the highlight
        highlighted_ = static_cast<int>(SendMessageA(hwnd(), CB_GETCURSEL, 0, 0));
        break;
    case CBN_CLOSEUP:
        SetFocus(list_);
        break;
    default:
        break;
    }
    return 0;
}

// ---------------------------------------------------------------------------

bool DroppedListWatcher::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    // The pointer moving, or a button pressed on an item. A press outside
    // the list cancels the drop-down and is left alone: the list may drop
    // its highlight then.
    if (message != WM_MOUSEMOVE && message != WM_LBUTTONDOWN)
        return false;
    RECT client{};
    GetClientRect(hwnd(), &client);
    const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (!IsWindowVisible(hwnd()) || (message == WM_LBUTTONDOWN && !PtInRect(&client, at)))
        return false;
    result = defaultHandling(message, wParam, lParam);
    highlighted_ = static_cast<int>(SendMessageA(hwnd(), LB_GETCURSEL, 0, 0));
    return true;
}

} // namespace win32
