// The service list on Linux: a table widget that shows the core's rows,
// opens the cell editors, sorts by a header click and opens the service
// menu, with the mouse, key and focus rules of the list.

#include "ui/qt/service_list_view.h"

#include "manager/service_table.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

// Draws the selection only while the list has the keyboard focus, and no
// focus frame around a single cell: the row is the unit.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        auto* view = qobject_cast<const QWidget*>(parent());
        if (view && !view->hasFocus())
            option->state &= ~QStyle::State_Selected;
        option->state &= ~QStyle::State_HasFocus;
    }
};

// Room the style leaves between a cell's edge and its text.
int cellTextMargin(const QWidget* view)
{
    return view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
}

} // namespace

ServiceListView::ServiceListView(QWidget* parent) : QTableWidget(parent)
{
    setObjectName(QStringLiteral("serviceList"));
    setItemDelegate(new RowDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);

    QHeaderView* header = horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setSectionResizeMode(QHeaderView::Interactive);

    // The focus rule: whatever moves or covers a cell first takes the focus,
    // which commits an open editor.
    header->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        takeFocus();
        if (table_)
            table_->sortByColumn(column);
    });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { takeFocus(); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this] { takeFocus(); });

    // Any change of a row: selection, focus or data.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &ServiceListView::rowStateChanged);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &ServiceListView::rowStateChanged);
    connect(model(), &QAbstractItemModel::dataChanged, this, &ServiceListView::rowStateChanged);
}

ServiceListView::~ServiceListView()
{
    closed_ = true;
}

void ServiceListView::createColumns()
{
    if (columnsCreated_)
        return;
    setShowGrid(true); // grid lines; rows are selected whole
    setColumnCount(SERVICE_COLUMNS);
    for (const ServiceSetting& setting : serviceSettings) {
        auto* header = new QTableWidgetItem(QString::fromUtf8(setting.header));
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(setting.column, header);
        setColumnWidth(setting.column, setting.width);
    }
    columnsCreated_ = true;
}

bool ServiceListView::appendServiceRow()
{
    int row = rowCount();
    insertRow(row);
    for (int column = 0; column < columnCount(); ++column) {
        auto* item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setItem(row, column, item);
    }
    return rowCount() == row + 1;
}

void ServiceListView::removeServiceRow(int row)
{
    if (row >= 0 && row < rowCount())
        removeRow(row);
}

void ServiceListView::setCellText(int row, int column, const std::string& text)
{
    if (QTableWidgetItem* cell = item(row, column))
        cell->setText(QString::fromStdString(text));
}

QString ServiceListView::cellText(int row, int column) const
{
    QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

int ServiceListView::selectedRow() const
{
    int first = -1;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    for (const QModelIndex& index : selected)
        if (first < 0 || index.row() < first)
            first = index.row();
    return first;
}

void ServiceListView::selectServiceRow(int row)
{
    if (row < 0 || row >= rowCount()) {
        clearSelection();
        return;
    }
    selectionModel()->setCurrentIndex(model()->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ServiceListView::takeFocus()
{
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
    // Without an active window Qt moves no focus; end the editor directly.
    endOpenEditor();
}

// ---------------------------------------------------------------------------
// In-place editing.

void ServiceListView::beginCellEdit(int row, int column)
{
    if (closed_ || !table_)
        return;
    if (row < 0 || row >= rowCount() || column < 0 || column >= SERVICE_COLUMNS)
        return;
    if (!table_->prepareCellEdit(row, column))
        return;
    if (closed_ || row >= rowCount()) // a message box ran in between
        return;
    const CellEditorSetup setup = table_->cellEditor(row, column);
    if (setup.kind == CellEditorKind::None)
        return;
    QRect rect;
    if (!cellEditRect(row, column, rect))
        return;
    if (setup.kind == CellEditorKind::Text) {
        auto alignment = static_cast<Qt::Alignment>(horizontalHeaderItem(column)->textAlignment());
        new CellTextEditor(*this, rect, row, column, cellText(row, column), alignment & Qt::AlignHorizontal_Mask);
        return;
    }
    auto* editor = new CellChoiceEditor(*this, rect, row, column, setup.choices, setup.current);
    editor->dropDown();
}

bool ServiceListView::cellEditRect(int row, int column, QRect& rect)
{
    QModelIndex index = model()->index(row, column);
    if (!index.isValid())
        return false;
    const QRect client = viewport()->rect();

    // Vertically a partly visible row is enough.
    QRect cell = visualRect(index);
    if (cell.bottom() < client.top() || cell.top() > client.bottom()) {
        int keep = horizontalScrollBar()->value();
        scrollTo(index, QAbstractItemView::EnsureVisible);
        horizontalScrollBar()->setValue(keep);
        cell = visualRect(index);
        if (cell.bottom() < client.top() || cell.top() > client.bottom())
            return false;
    }

    int scroll = cellEditScroll(cell.left(), cell.right(), client.left(), client.right());
    if (scroll) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + scroll);
        cell = visualRect(index);
    }

    rect = cell;
    rect.setWidth(columnWidth(column));
    if (rect.right() > client.right())
        rect.setRight(client.right());
    return rect.width() > 0 && rect.height() > 0;
}

void ServiceListView::endCellEdit(const CellEditResult& result)
{
    if (result.row < 0 || !table_)
        return;
    if (result.row >= rowCount())
        return;
    int next = table_->applyCellEdit(result);
    if (next >= 0 && !closed_)
        beginCellEdit(result.row, next);
}

QWidget* ServiceListView::openEditor() const
{
    const auto children = viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        auto* editor = dynamic_cast<CellEditor*>(child);
        if (editor && !editor->ended())
            return child;
    }
    return nullptr;
}

void ServiceListView::endOpenEditor()
{
    // Bounded: each pass ends one editor, and ending opens at most one more
    // (Tab), which the closing flag or the last column stops.
    for (int i = 0; i < SERVICE_COLUMNS + 1; ++i) {
        QWidget* widget = openEditor();
        if (!widget)
            return;
        dynamic_cast<CellEditor*>(widget)->finish();
    }
}

void ServiceListView::closeForGood()
{
    endOpenEditor();
    closed_ = true;
}

// ---------------------------------------------------------------------------
// The service menu.

void ServiceListView::fillServiceMenu(QMenu& menu, int row) const
{
    for (const ServiceMenuItem& entry : serviceMenuItems) {
        if (!entry.command) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromUtf8(entry.text));
        action->setData(entry.command);
        action->setEnabled(table_ && table_->menuItemEnabled(entry.command, row));
    }
}

void ServiceListView::showServiceMenu(int row)
{
    // One menu at a time: a request while one is open (the other half of a
    // context-menu key that came as two events) opens no second one.
    if (closed_ || !table_ || menuOpen_)
        return;
    const QScopedValueRollback<bool> open(menuOpen_, true);
    // Built anew each time, so that its greying is that of this moment; it
    // opens at the pointer, also when the keyboard asked for it.
    QMenu menu;
    menu.setObjectName(QStringLiteral("serviceMenu"));
    fillServiceMenu(menu, row);
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen && table_ && !closed_)
        table_->runMenuCommand(chosen->data().toInt(), row);
}

// ---------------------------------------------------------------------------
// Tool tips for texts that do not fit their cell.

QString ServiceListView::cellToolTip(int row, int column) const
{
    QString text = cellText(row, column);
    if (text.isEmpty())
        return {};
    int room = columnWidth(column) - 2 * cellTextMargin(this);
    return fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

bool ServiceListView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QModelIndex index = indexAt(help->pos());
        QString text = index.isValid() ? cellToolTip(index.row(), index.column()) : QString();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
        return true;
    }
    return QTableWidget::viewportEvent(event);
}

// ---------------------------------------------------------------------------
// Mouse, keys, wheel and focus.

bool ServiceListView::eventFilter(QObject* watched, QEvent* event)
{
    // A press on the header: a click that will sort, or the start of a
    // divider drag.
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonPress)
        takeFocus();
    return QTableWidget::eventFilter(watched, event);
}

void ServiceListView::mousePressEvent(QMouseEvent* event)
{
    takeFocus();
    QTableWidget::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    pressed_ = event->button() == Qt::LeftButton ? QPersistentModelIndex(index) : QPersistentModelIndex();
    // A right press where there is no cell clears the selection before the
    // menu opens, so that the menu is the one for no row.
    if (event->button() == Qt::RightButton && !index.isValid() &&
        !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)))
        clearSelection();
}

// A click where there is no cell (below the last row, right of the last
// column) clears the selection, but not while Shift or Control is held; the
// current row stays either way, for the arrow keys.
QItemSelectionModel::SelectionFlags ServiceListView::selectionCommand(const QModelIndex& index,
                                                                      const QEvent* event) const
{
    const bool click = event && (event->type() == QEvent::MouseButtonPress ||
                                 event->type() == QEvent::MouseButtonDblClick ||
                                 event->type() == QEvent::MouseButtonRelease);
    if (click && !index.isValid() &&
        (static_cast<const QMouseEvent*>(event)->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)))
        return QItemSelectionModel::NoUpdate;
    return QTableWidget::selectionCommand(index, event);
}

void ServiceListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Each click of a double click is a click.
    mousePressEvent(event);
}

void ServiceListView::mouseReleaseEvent(QMouseEvent* event)
{
    QTableWidget::mouseReleaseEvent(event);
    QModelIndex index = indexAt(event->position().toPoint());
    bool click = event->button() == Qt::LeftButton && index.isValid() && pressed_.isValid() &&
                 index == QModelIndex(pressed_);
    pressed_ = QPersistentModelIndex();
    if (click)
        beginCellEdit(index.row(), index.column());
}

void ServiceListView::contextMenuEvent(QContextMenuEvent* event)
{
    // A right click comes here after its press has taken the focus and
    // selected the row. The context-menu key may arrive both as this event
    // and as a key press; whichever comes first opens the menu, and the
    // other reaches the open menu, not the list.
    event->accept();
    showServiceMenu(selectedRow());
}

void ServiceListView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        // With Shift, Control or none; Alt+Space is the window menu's, as on
        // Windows, where it never reaches the list.
        if (event->modifiers() & Qt::AltModifier)
            break;
        beginCellEdit(selectedRow(), COLUMN_NAME);
        event->accept();
        return;
    case Qt::Key_Delete:
        if (table_)
            table_->deleteService(selectedRow());
        event->accept();
        return;
    case Qt::Key_Menu:
        showServiceMenu(selectedRow());
        event->accept();
        return;
    default:
        break;
    }
    QTableWidget::keyPressEvent(event);
}

// Home and End go to the first and the last row, keeping the column; the
// other moves are the table's.
QModelIndex ServiceListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    if ((action == MoveHome || action == MoveEnd) && rowCount() > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return model()->index(action == MoveHome ? 0 : rowCount() - 1, column);
    }
    return QTableWidget::moveCursor(action, modifiers);
}

void ServiceListView::wheelEvent(QWheelEvent* event)
{
    takeFocus();
    QTableWidget::wheelEvent(event);
}

void ServiceListView::focusInEvent(QFocusEvent* event)
{
    QTableWidget::focusInEvent(event);
    viewport()->update();
}

void ServiceListView::focusOutEvent(QFocusEvent* event)
{
    QTableWidget::focusOutEvent(event);
    viewport()->update();
}
