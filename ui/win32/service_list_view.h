#pragma once
// The service list: the report-view list control of the main window, one row
// per service of the ServiceTable, ten columns. Clicks open in-place cell
// editors, the right button and the context-menu key open the service menu,
// a header click sorts, Space edits the Name and Delete deletes the selected
// service. Everything that can move or cover a cell first takes the
// keyboard focus, which ends an open editor with its value committed.

#include "manager/service_table.h"
#include "ui/win32/cell_editors.h"
#include "ui/win32/window.h"

#include <commctrl.h>

#include <string>

namespace win32 {

// The main window's private message: re-evaluate the service buttons.
constexpr UINT WM_REFRESH_BUTTONS = WM_APP + 100;

class ServiceListView : public CSubclassedWindow {
public:
    ServiceListView() = default;

    void setTable(ServiceTable* table) { table_ = table; }

    void createColumns();
    static DWORD queryModuleVersion(const char* fileName);

    // Rows and cells.
    int rowCount() const;
    std::string cellText(int row, int column) const;
    void setCellText(int row, int column, const std::string& text);
    bool appendRow();
    void removeRow(int row);
    int selectedRow() const;
    void selectRow(int row);
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);

    void takeFocus();

    // Editing.
    void beginCellEdit(int row, int column);
    bool cellEditRect(int row, int column, RECT& rect);
    void endCellEdit(const CellEditResult& result);
    // Ends an open editor with its value applied.
    void commitEditing();
    // Ends an open editor (its value applied) and ignores every later
    // result: the rows are about to go.
    void closeEditing();

    void showServiceMenu(int row);

    // WM_NOTIFY that the list sends to its parent, handed back by it.
    LRESULT onNotify(const NMHDR* header);

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    LRESULT onLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT onKeyDown(WPARAM wParam, LPARAM lParam);
    LRESULT onChar(WPARAM wParam, LPARAM lParam);
    LRESULT onScroll(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onHScroll(WPARAM wParam, LPARAM lParam) { return onScroll(WM_HSCROLL, wParam, lParam); }
    LRESULT onVScroll(WPARAM wParam, LPARAM lParam) { return onScroll(WM_VSCROLL, wParam, lParam); }
    LRESULT onMouseWheel(WPARAM wParam, LPARAM lParam) { return onScroll(WM_MOUSEWHEEL, wParam, lParam); }
    LRESULT onHeaderNotify(WPARAM wParam, LPARAM lParam);
    LRESULT onCommand(WPARAM wParam, LPARAM lParam);
    LRESULT onContextMenu(WPARAM wParam, LPARAM lParam);

    static const MessageEntry<ServiceListView> messages[];

    ServiceTable* table_ = nullptr;
    bool columnsCreated_ = false;
    bool closing_ = false;
};

} // namespace win32
