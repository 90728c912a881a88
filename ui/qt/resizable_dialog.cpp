// Resizable dialogs on Linux: dialog units from the font, the anchors that
// move the controls, the minimum size and the size grip.

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
    const AnchorEdges fractions{left, top, right, bottom};
    if (layout_.addFractions(id, fractions))
        return;
    QWidget* control = findControl(owner_, id);
    AnchorEdges edges;
    if (control) {
        QRect r = control->geometry(); // already in the owner's client coordinates
        edges = {static_cast<float>(r.left()), static_cast<float>(r.top()),
                 static_cast<float>(static_cast<int64_t>(r.left()) + r.width()),
                 static_cast<float>(static_cast<int64_t>(r.top()) + r.height())};
    }
    layout_.add(id, control, fractions, edges);
}

void CControlResizer::relayout()
{
    if (layout_.empty())
        return;
    QRect now = owner_.geometry();
    float dx = anchorChange(lastRect_.width(), now.width());
    float dy = anchorChange(lastRect_.height(), now.height());

    // Move everything in one step, painted once.
    bool updates = owner_.updatesEnabled();
    owner_.setUpdatesEnabled(false);
    layout_.follow(dx, dy, [](const QPointer<QWidget>& control, const AnchorPlace& place) {
        if (control)
            control->setGeometry(place.x, place.y, place.width, place.height);
        return true;
    });
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
