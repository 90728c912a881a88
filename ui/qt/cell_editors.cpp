// The Qt cell editors: a line edit and a combo box over one cell, each
// ending on the loss of the keyboard focus and reporting to the list.

#include "ui/qt/cell_editors.h"

#include "ui/qt/resizable_dialog.h"
#include "ui/qt/service_list_view.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

bool isEndKey(int key)
{
    return key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
           key == Qt::Key_Enter || key == Qt::Key_Escape;
}

int endKeyOf(int key)
{
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift+Tab moves right as well
        return END_KEY_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return END_KEY_ENTER;
    case Qt::Key_Escape:
        return END_KEY_ESCAPE;
    default:
        return END_KEY_NONE;
    }
}

} // namespace

// ---------------------------------------------------------------------------

CellTextEditor::CellTextEditor(ServiceListView& list, const QRect& rect, int row, int column,
                               const QString& text, Qt::Alignment alignment)
    : QLineEdit(list.viewport()), list_(&list), row_(row), column_(column)
{
    setObjectName(QStringLiteral("cellTextEditor"));
    setControlId(this, IDC_CELL_TEXT_EDITOR);
    setFont(list.font());
    setFrame(true);
    setTextMargins(0, 0, 0, 0);
    setAlignment(alignment | Qt::AlignVCenter);
    setGeometry(rect);
    setText(text);
    setCursorPosition(0);
    deselect();
    connect(this, &QLineEdit::textChanged, this, &CellTextEditor::growToText);
    show();
    setFocus(Qt::OtherFocusReason);
}

bool CellTextEditor::event(QEvent* event)
{
    if (!ended_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        bool ours = isEndKey(key->key()) || key->key() == Qt::Key_Delete ||
                    (key->modifiers() & Qt::ControlModifier);
        if (event->type() == QEvent::ShortcutOverride) {
            // These keys are the editor's, not the window's shortcuts.
            if (ours) {
                event->accept();
                return true;
            }
        } else if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            // Before Qt would move the focus to the next control.
            endWith(END_KEY_TAB);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CellTextEditor::keyPressEvent(QKeyEvent* event)
{
    int key = endKeyOf(event->key());
    if (key != END_KEY_NONE) {
        endWith(key);
    } else {
        QLineEdit::keyPressEvent(event);
    }
    // Nothing typed here reaches the list or the window.
    event->accept();
}

void CellTextEditor::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason) // the editor's own context menu
        return;
    finish();
}

void CellTextEditor::endWith(int key)
{
    if (ended_)
        return;
    endKey_ = key;
    if (list_)
        list_->setFocus(Qt::OtherFocusReason);
    finish(); // in case no focus moved (the window is not active)
}

void CellTextEditor::finish()
{
    if (ended_)
        return;
    ended_ = true;
    CellEditResult result = cellEditResult(row_, column_, endKey_, text().trimmed().toStdString());
    hide();
    deleteLater();
    if (list_)
        list_->endCellEdit(result);
}

// The editor widens to its text, up to the right edge of the list's
// visible area; it never narrows.
void CellTextEditor::growToText()
{
    if (ended_ || !parentWidget())
        return;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const int lineEditMargin = 2; // QLineEdit's own room on each side
    int area = style()->subElementRect(QStyle::SE_LineEditContents, &option, this).width() -
               2 * lineEditMargin;
    int needed = fontMetrics().horizontalAdvance(text()) + 5;
    if (area >= needed)
        return;
    int width = std::min(this->width() + needed - area, parentWidget()->width() - x());
    if (width > this->width())
        resize(width, height());
}

// ---------------------------------------------------------------------------

CellChoiceEditor::CellChoiceEditor(ServiceListView& list, const QRect& rect, int row, int column,
                                   const std::vector<std::string>& choices, int current)
    : QComboBox(list.viewport()), list_(&list), row_(row), column_(column), choices_(choices),
      highlighted_(current)
{
    setObjectName(QStringLiteral("cellChoiceEditor"));
    setControlId(this, IDC_CELL_CHOICE_EDITOR);
    setEditable(false);
    setFont(list.font());
    int widest = 0;
    for (const std::string& choice : choices) {
        QString text = QString::fromStdString(choice);
        addItem(text);
        widest = std::max(widest, fontMetrics().horizontalAdvance(text));
    }
    setCurrentIndex(current);
    setGeometry(rect);

    // The dropped list is as wide as its widest choice with a scroll bar
    // and a frame, and at least as wide as the editor; about 150 pixels of
    // room below the cell set how many choices it shows at once.
    int dropWidth = widest + style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                    2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 4;
    view()->window()->setMinimumWidth(std::max(dropWidth, rect.width()));
    setMaxVisibleItems(std::max(1, 150 / (fontMetrics().height() + 4)));

    // The choice that ending commits is the one highlighted in the dropped
    // list, however it got there: the keys, the pointer resting on it, or
    // a click.
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) { highlighted_ = index; });
    connect(this, &QComboBox::activated, this, [this](int index) { highlighted_ = index; });
    connect(view()->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList selected = view()->selectionModel()->selectedIndexes();
        if (!ended_ && !selected.isEmpty())
            highlighted_ = selected.first().row();
    });
    view()->installEventFilter(this);
    view()->window()->installEventFilter(this); // the drop-down's own window

    show();
    setFocus(Qt::OtherFocusReason);
}

void CellChoiceEditor::dropDown()
{
    if (ended_)
        return;
    showPopup();
    view()->setCurrentIndex(model()->index(highlighted_, 0)); // nothing for -1
}

bool CellChoiceEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (!ended_ && watched == view() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        int end = endKeyOf(key->key());
        if (end != END_KEY_NONE) {
            endWith(end);
            return true;
        }
    }
    if (!ended_ && watched == view()->window() && event->type() == QEvent::Hide) {
        // The drop-down closed: a choice was clicked or it was dismissed.
        // The choice arrives right after the hide; end once it has.
        QTimer::singleShot(0, this, &CellChoiceEditor::endAfterPopup);
    }
    return QComboBox::eventFilter(watched, event);
}

bool CellChoiceEditor::event(QEvent* event)
{
    if (!ended_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (isEndKey(key->key())) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
                endWith(END_KEY_TAB);
                return true;
            }
        }
    }
    return QComboBox::event(event);
}

void CellChoiceEditor::keyPressEvent(QKeyEvent* event)
{
    int key = endKeyOf(event->key());
    if (key != END_KEY_NONE)
        endWith(key);
    else
        QComboBox::keyPressEvent(event);
    event->accept();
}

void CellChoiceEditor::focusOutEvent(QFocusEvent* event)
{
    QComboBox::focusOutEvent(event);
    // The focus went into our own drop-down, which keeps the edit open.
    if (event->reason() == Qt::PopupFocusReason || view()->window()->isVisible())
        return;
    finish();
}

void CellChoiceEditor::endAfterPopup()
{
    if (!ended_)
        endWith(endKey_);
}

void CellChoiceEditor::endWith(int key)
{
    if (ended_)
        return;
    endKey_ = key;
    if (view()->isVisible())
        hidePopup();
    if (list_)
        list_->setFocus(Qt::OtherFocusReason);
    finish();
}

void CellChoiceEditor::finish()
{
    if (ended_)
        return;
    ended_ = true;
    CellEditResult result = choiceEditResult(row_, column_, endKey_, choices_, highlighted_);
    if (view()->isVisible())
        hidePopup();
    hide();
    deleteLater();
    if (list_)
        list_->endCellEdit(result);
}
