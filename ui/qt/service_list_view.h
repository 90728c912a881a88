#pragma once
// The list of services: one row per service, ten columns, in-place editors,
// header sorting, the service menu and the keys of the selected row. The
// service logic is the manager core's; this class shows it and forwards the
// user's actions.

#include "ui/qt/cell_editors.h"

#include <QTableWidget>

#include <string>

class QMenu;
class ServiceTable;

class ServiceListView : public QTableWidget {
    Q_OBJECT
public:
    explicit ServiceListView(QWidget* parent = nullptr);
    ~ServiceListView() override;

    // The table whose rows this view shows; set once, before rows come.
    void setTable(ServiceTable* table) { table_ = table; }
    ServiceTable* table() const { return table_; }

    void createColumns();
    bool columnsCreated() const { return columnsCreated_; }

    // Row access for the core.
    bool appendServiceRow();
    void removeServiceRow(int row);
    void setCellText(int row, int column, const std::string& text);
    QString cellText(int row, int column) const;
    int selectedRow() const;
    void selectServiceRow(int row);

    // Gives the list the keyboard focus, which ends an open cell editor.
    void takeFocus();

    // In-place editing.
    void beginCellEdit(int row, int column);
    bool cellEditRect(int row, int column, QRect& rect);
    void endCellEdit(const CellEditResult& result);
    // The open editor, if any (at most one is open).
    QWidget* openEditor() const;
    // Ends any open editor; after closeForGood() no editor opens again.
    void endOpenEditor();
    void closeForGood();

    // The service menu for a row (-1: none selected); shown at the pointer.
    void showServiceMenu(int row);
    void fillServiceMenu(QMenu& menu, int row) const;

    // The text a tool tip shows for a cell: its whole text when it is cut
    // off, else nothing.
    QString cellToolTip(int row, int column) const;

signals:
    // A row's selection, focus or data changed.
    void rowStateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    ServiceTable* table_ = nullptr;
    bool columnsCreated_ = false;
    bool closed_ = false;
    bool menuOpen_ = false;
    QPersistentModelIndex pressed_;
};
