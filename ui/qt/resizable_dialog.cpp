#include "ui/qt/resizable_dialog.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <QSizeGrip>
#include <QVariant>

namespace {

const char* const idProperty = "controlId";

// a * b / c rounded to the nearest integer.
int mulDiv(int a, int b, int c)
{
    long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : (n - c / 2) / c);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (letters / 26 + 1) / 2;
    baseY_ = metrics.height();
}

int DialogUnits::x(int du) const { return mulDiv(du, baseX_, 4); }
int DialogUnits::y(int du) const { return mulDiv(du, baseY_, 8); }

QRect DialogUnits::rect(int left, int top, int width, int height) const
{
    return QRect(x(left), y(top), x(width), y(height));
}

void setControlId(QWidget* control, int id) { control->setProperty(idProperty, id); }

int controlId(const QWidget* control)
{
    QVariant id = control->property(idProperty);
    return id.isValid() ? id.toInt() : 0;
}

QWidget* findControl(const QWidget& owner, int id)
{
    const auto children = owner.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children)
        if (controlId(child) == id)
            return child;
    return nullptr;
}

// ---------------------------------------------------------------------------

CControlResizer::CControlResizer(QWidget& owner, int options) : owner_(owner), options_(options)
{
}

// The sizes used here are those of the client area. The frame around it
// keeps its size, so a change of the client size is the change of the outer
// size, and unlike the frame it is known before the window is first shown.
void CControlResizer::initResizer()
{
    lastRect_ = owner_.geometry();
    if (!(options_ & RESIZER_NO_MIN_SIZE)) {
        minWidth_ = lastRect_.width();
        minHeight_ = lastRect_.height();
    }
    if (!(options_ & RESIZER_NO_GRIP)) {
        auto* grip = new QSizeGrip(&owner_);
        grip->resize(grip->sizeHint());
        setControlId(grip, IDC_SIZE_GRIP);
        grip->move(owner_.width() - grip->width(), owner_.height() - grip->height());
        grip->raise();
        grip->show();
        grip_ = grip;
        addAnchor(IDC_SIZE_GRIP, 1, 1, 1, 1);
    }
    applySizeLimits();
}

void CControlResizer::addAnchor(int id, float left, float top, float right, float bottom)
{
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        if (it->id == id) {
            it->leftFraction += left;
            it->topFraction += top;
            it->rightFraction += right;
            it->bottomFraction += bottom;
            return;
        }
    }
    ResizeItem item{id, findControl(owner_, id), left, top, right, bottom, 0, 0, 0, 0};
    if (item.control) {
        QRect r = item.control->geometry(); // already in the owner's client coordinates
        item.left = static_cast<float>(r.left());
        item.top = static_cast<float>(r.top());
        item.right = static_cast<float>(r.left() + r.width());
        item.bottom = static_cast<float>(r.top() + r.height());
    }
    items_.push_back(item);
}

void CControlResizer::relayout()
{
    if (items_.empty())
        return;
    QRect now = owner_.geometry();
    float dx = static_cast<float>(now.width() - lastRect_.width());
    float dy = static_cast<float>(now.height() - lastRect_.height());

    // Move everything in one step, painted once.
    bool updates = owner_.updatesEnabled();
    owner_.setUpdatesEnabled(false);
    for (ResizeItem& item : items_) {
        float left = item.left + dx * item.leftFraction;
        float top = item.top + dy * item.topFraction;
        float right = item.right + dx * item.rightFraction;
        float bottom = item.bottom + dy * item.bottomFraction;
        if (left == item.left && top == item.top && right == item.right && bottom == item.bottom)
            continue;
        item.left = left;
        item.top = top;
        item.right = right;
        item.bottom = bottom;
        if (!item.control)
            continue;
        item.control->setGeometry(static_cast<int>(left), static_cast<int>(top),
                                  static_cast<int>(right - left), static_cast<int>(bottom - top));
    }
    owner_.setUpdatesEnabled(updates);
    lastRect_ = now;
}

void CControlResizer::applySizeLimits()
{
    if (!lastRect_.isNull()) {
        if (options_ & RESIZER_FIXED_WIDTH)
            maxWidth_ = lastRect_.width();
        if (options_ & RESIZER_FIXED_HEIGHT)
            maxHeight_ = lastRect_.height();
    }
    if (minWidth_)
        owner_.setMinimumWidth(minWidth_);
    if (minHeight_)
        owner_.setMinimumHeight(minHeight_);
    if (maxWidth_)
        owner_.setMaximumWidth(maxWidth_);
    if (maxHeight_)
        owner_.setMaximumHeight(maxHeight_);
}

// ---------------------------------------------------------------------------

CResizableDialog::CResizableDialog(int resizerOptions, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), resizer_(*this, resizerOptions)
{
}

void CResizableDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    resizer_.relayout();
}
