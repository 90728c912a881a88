// The service list on Windows: the report-view list control that shows the
// core's rows, opens the cell editors, sorts by a header click and opens
// the service menu.

#include "ui/win32/service_list_view.h"

#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace win32 {

namespace {

// A decimal number as the C library reads one, 0 when there are no digits.
DWORD decimal(const char* text)
{
    return static_cast<DWORD>(std::strtol(text, nullptr, 10)) & 0xFFFF;
}

} // namespace

const MessageEntry<ServiceListView> ServiceListView::messages[] = {
    {WM_LBUTTONDOWN, &ServiceListView::onLButtonDown},
    {WM_KEYDOWN, &ServiceListView::onKeyDown},
    {WM_CHAR, &ServiceListView::onChar},
    {WM_HSCROLL, &ServiceListView::onHScroll},
    {WM_VSCROLL, &ServiceListView::onVScroll},
    {WM_MOUSEWHEEL, &ServiceListView::onMouseWheel},
    {WM_NOTIFY, &ServiceListView::onHeaderNotify},
    {WM_COMMAND, &ServiceListView::onCommand},
    {WM_CONTEXTMENU, &ServiceListView::onContextMenu},
};

bool ServiceListView::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return dispatch<ServiceListView>(this, messages, {}, message, wParam, lParam, result);
}

// ---------------------------------------------------------------------------
// Columns.

DWORD ServiceListView::queryModuleVersion(const char* fileName)
{
    HMODULE module = LoadLibraryA(fileName);
    if (!module)
        return 0;
    DWORD version = 0;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetVersion")));
    if (getVersion) {
        DLLVERSIONINFO info{};
        info.cbSize = sizeof info; // 20 bytes
        if (getVersion(&info) >= 0)
            version = ((info.dwMajorVersion & 0xFFFF) << 16) | (info.dwMinorVersion & 0xFFFF);
    } else {
        char path[MAX_PATH] = {};
        DWORD unused = 0;
        const DWORD size = GetModuleFileNameA(module, path, sizeof path) ? GetFileVersionInfoSizeA(path, &unused) : 0;
        std::vector<char> data(size);
        struct Translation {
            WORD language, codePage;
        }* translation = nullptr;
        UINT length = 0;
        if (size && GetFileVersionInfoA(path, 0, size, data.data())
            && VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                              &length)
            && length >= sizeof(Translation)) {
            char query[64];
            std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                          translation->codePage, "FileVersion");
            char* text = nullptr;
            if (VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&text), &length) && text && *text) {
                if (const char* dot = std::strchr(text, '.'))
                    version = (decimal(text) << 16) | decimal(dot + 1);
            }
        }
    }
    FreeLibrary(module);
    return version;
}

void ServiceListView::createColumns()
{
    if (columnsCreated_)
        return;
    DWORD styles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    styles |= queryModuleVersion("comctl32.dll") >= 0x50050 ? LVS_EX_LABELTIP : LVS_EX_INFOTIP;
    SendMessageA(hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, styles, styles);
    for (const ServiceSetting& setting : serviceSettings) {
        LVCOLUMNA info{};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        info.fmt = LVCFMT_LEFT;
        info.cx = setting.width;
        info.pszText = const_cast<char*>(setting.header);
        info.iSubItem = setting.column;
        SendMessageA(hwnd(), LVM_INSERTCOLUMNA, static_cast<WPARAM>(setting.column), reinterpret_cast<LPARAM>(&info));
    }
    columnsCreated_ = true;
}

// ---------------------------------------------------------------------------
// Rows and cells.

int ServiceListView::rowCount() const
{
    return static_cast<int>(SendMessageA(hwnd(), LVM_GETITEMCOUNT, 0, 0));
}

std::string ServiceListView::cellText(int row, int column) const
{
    // Grow the buffer until the text fits; a cell holds far less than the
    // largest size tried.
    for (size_t size = 256; size <= (1u << 20); size *= 4) {
        std::string text(size, '\0');
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(size);
        const auto length = static_cast<size_t>(
            SendMessageA(hwnd(), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < size) {
            text.resize(length);
            return text;
        }
    }
    return {};
}

void ServiceListView::setCellText(int row, int column, const std::string& text)
{
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(hwnd(), LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool ServiceListView::appendRow()
{
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = rowCount();
    item.pszText = const_cast<char*>("");
    return SendMessageA(hwnd(), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) >= 0;
}

void ServiceListView::removeRow(int row)
{
    SendMessageA(hwnd(), LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

int ServiceListView::selectedRow() const
{
    return static_cast<int>(SendMessageA(hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ServiceListView::selectRow(int row)
{
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    SendMessageA(hwnd(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int ServiceListView::columnWidth(int column) const
{
    return static_cast<int>(SendMessageA(hwnd(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void ServiceListView::setColumnWidth(int column, int width)
{
    SendMessageA(hwnd(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width & 0xFFFF, 0));
}

void ServiceListView::takeFocus()
{
    if (GetFocus() != hwnd())
        SetFocus(hwnd());
}

// ---------------------------------------------------------------------------
// Editing.

bool ServiceListView::cellEditRect(int row, int column, RECT& rect)
{
    if (!SendMessageA(hwnd(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), TRUE))
        return false;
    auto subItemRect = [&](RECT& r) {
        r = {};
        r.top = column;
        r.left = LVIR_BOUNDS;
        return SendMessageA(hwnd(), LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r)) != 0;
    };
    RECT client{};
    if (!subItemRect(rect))
        return false;
    GetClientRect(hwnd(), &client);

    const int scroll = cellEditScroll(rect.left, rect.right, client.left, client.right);
    if (scroll) {
        SendMessageA(hwnd(), LVM_SCROLL, static_cast<WPARAM>(scroll), 0);
        if (!subItemRect(rect))
            return false;
    }
    rect.right = std::min(rect.left + columnWidth(column), client.right);
    return true;
}

void ServiceListView::beginCellEdit(int row, int column)
{
    if (closing_ || !table_ || row < 0 || row >= rowCount() || column < 0 || column >= SERVICE_COLUMNS)
        return;
    if (!table_->prepareCellEdit(row, column))
        return;
    const CellEditorSetup setup = table_->cellEditor(row, column);
    if (setup.kind == CellEditorKind::None)
        return;
    const std::string text = cellText(row, column);
    RECT rect{};
    if (!cellEditRect(row, column, rect))
        return;
    if (setup.kind == CellEditorKind::Text) {
        LVCOLUMNA info{};
        info.mask = LVCF_FMT;
        SendMessageA(hwnd(), LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
        CellTextEditor::open(hwnd(), row, column, text, rect, info.fmt & LVCFMT_JUSTIFYMASK);
    } else {
        CellChoiceEditor::open(hwnd(), row, column, setup.choices, setup.current, rect);
    }
}

void ServiceListView::endCellEdit(const CellEditResult& result)
{
    if (closing_ || !table_ || result.row < 0)
        return;
    const int next = table_->applyCellEdit(result);
    if (next >= 0)
        beginCellEdit(result.row, next);
}

void ServiceListView::commitEditing()
{
    HWND focus = GetFocus();
    if (focus && IsChild(hwnd(), focus))
        SetFocus(hwnd());
}

void ServiceListView::closeEditing()
{
    commitEditing();
    closing_ = true;
}

// ---------------------------------------------------------------------------
// Commands.

void ServiceListView::showServiceMenu(int row)
{
    if (!table_)
        return;
    POINT at{};
    GetCursorPos(&at);
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    for (const auto& item : serviceMenuItems) {
        if (!item.command)
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuA(menu, MF_STRING | (table_->menuItemEnabled(item.command, row) ? MF_ENABLED : MF_GRAYED),
                        static_cast<UINT_PTR>(item.command), item.text);
    }
    const int command = static_cast<int>(
        TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, hwnd(), nullptr));
    DestroyMenu(menu);
    if (command)
        table_->runMenuCommand(command, row);
}

LRESULT ServiceListView::onNotify(const NMHDR* header)
{
    switch (header->code) {
    case LVN_ITEMCHANGED:
        SendMessageA(GetParent(hwnd()), WM_REFRESH_BUTTONS, 0, 0);
        return 0;
    case LVN_COLUMNCLICK:
        takeFocus();
        if (table_)
            table_->sortByColumn(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
        return 0;
    case NM_RCLICK:
        takeFocus();
        showServiceMenu(selectedRow());
        return 0;
    case LVN_ENDLABELEDITA:
        endCellEdit(cellEditResultFrom(header));
        return 0;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// The list's own mouse, key and scroll messages.

LRESULT ServiceListView::onLButtonDown(WPARAM wParam, LPARAM lParam)
{
    takeFocus();
    const LRESULT result = defaultHandling(WM_LBUTTONDOWN, wParam, lParam);
    LVHITTESTINFO hit{};
    hit.pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (SendMessageA(hwnd(), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0 && hit.iItem >= 0)
        beginCellEdit(hit.iItem, hit.iSubItem);
    return result;
}

LRESULT ServiceListView::onKeyDown(WPARAM wParam, LPARAM lParam)
{
    const int row = selectedRow();
    switch (wParam) {
    case VK_SPACE:
        beginCellEdit(row, COLUMN_NAME);
        return 0;
    case VK_DELETE:
        if (table_)
            table_->deleteService(row);
        return 0;
    case VK_APPS:
        showServiceMenu(row);
        return 0;
    default:
        return defaultHandling(WM_KEYDOWN, wParam, lParam);
    }
}

LRESULT ServiceListView::onChar(WPARAM wParam, LPARAM lParam)
{
    if (wParam == VK_SPACE)
        return 0; // Space opens the Name editor; it selects nothing
    return defaultHandling(WM_CHAR, wParam, lParam);
}

LRESULT ServiceListView::onScroll(UINT message, WPARAM wParam, LPARAM lParam)
{
    takeFocus();
    return defaultHandling(message, wParam, lParam);
}

LRESULT ServiceListView::onHeaderNotify(WPARAM wParam, LPARAM lParam)
{
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    switch (header->code) {
    case HDN_BEGINTRACKA:
    case HDN_BEGINTRACKW:
    case HDN_DIVIDERDBLCLICKA:
    case HDN_DIVIDERDBLCLICKW:
        takeFocus();
        break;
    default:
        break;
    }
    return defaultHandling(WM_NOTIFY, wParam, lParam);
}

LRESULT ServiceListView::onCommand(WPARAM wParam, LPARAM lParam)
{
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control && GetParent(control) == hwnd() && CSubclassedWindow::fromHandle(control))
        return SendMessageA(control, WM_REFLECTED_COMMAND, wParam, lParam);
    return defaultHandling(WM_COMMAND, wParam, lParam);
}

LRESULT ServiceListView::onContextMenu(WPARAM, LPARAM)
{
    return 0; // the right click and the context-menu key are handled above
}

} // namespace win32
