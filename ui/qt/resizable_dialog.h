#pragma once
// A dialog whose controls follow its size by fixed fractions of the change,
// which never gets smaller than it was created, and which shows a size grip.

#include "manager/anchor_layout.h"

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QSizeGrip>

// Dialog-template units to pixels, from the dialog font as Windows scales
// templates: the base units are the average width of the Latin letters and
// the character height; x px = x du * width / 4, y px = y du * height / 8.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(int du) const;
    int y(int du) const;
    QRect rect(int x, int y, int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

// Resizer options.
enum ResizerOption {
    RESIZER_NO_GRIP = 0x01,
    RESIZER_FIXED_WIDTH = 0x02,
    RESIZER_FIXED_HEIGHT = 0x04,
    RESIZER_NO_MIN_SIZE = 0x08,
    RESIZER_KEEP_CLIPPING = 0x10,          // Qt always clips children
    RESIZER_NO_GROUP_TRANSPARENCY = 0x20,  // Qt group boxes are transparent
};

inline constexpr int IDC_SIZE_GRIP = 32767;

// Controls are named by a numeric id, kept as a widget property.
void setControlId(QWidget* control, int id);
int controlId(const QWidget* control);
QWidget* findControl(const QWidget& owner, int id);

class CControlResizer {
public:
    CControlResizer(QWidget& owner, int options);

    // Takes the owner's present size as the last size and, unless told
    // otherwise, as its minimum, and adds the size grip.
    void initResizer();
    // Registers a control; a second registration of the same id adds its
    // fractions to the first.
    void addAnchor(int id, float left, float top, float right, float bottom);
    // Moves every registered control by its fractions of the size change
    // since the last pass.
    void relayout();
    // Hands the minimum and maximum sizes to the owner.
    void applySizeLimits();

    QSizeGrip* sizeGrip() const { return grip_; }

private:
    QWidget& owner_;
    int options_;
    AnchorLayout<QPointer<QWidget>> layout_;
    QRect lastRect_;
    int minWidth_ = 0;
    int minHeight_ = 0;
    int maxWidth_ = 0;
    int maxHeight_ = 0;
    QPointer<QSizeGrip> grip_;
};

class CResizableDialog : public QDialog {
    Q_OBJECT
public:
    explicit CResizableDialog(int resizerOptions, QWidget* parent = nullptr,
                              Qt::WindowFlags flags = {});

    CControlResizer& resizer() { return resizer_; }

protected:
    // The dialog's own initialisation calls this once its controls exist.
    void initDialog() { resizer_.initResizer(); }
    void addAnchor(int id, float left, float top, float right, float bottom)
    {
        resizer_.addAnchor(id, left, top, right, bottom);
    }
    void resizeEvent(QResizeEvent* event) override;

private:
    CControlResizer resizer_;
};
