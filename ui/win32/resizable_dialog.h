#pragma once
// A dialog that can be resized: registered controls follow the change of the
// window's size by fixed fractions, the window never becomes smaller than it
// was created, and a size grip sits in the bottom-right corner.

#include "manager/anchor_layout.h"
#include "ui/win32/window.h"

namespace win32 {

enum ResizerOptions : int {
    RESIZER_NO_GRIP = 0x01,
    RESIZER_FIXED_WIDTH = 0x02,
    RESIZER_FIXED_HEIGHT = 0x04,
    RESIZER_NO_MIN_SIZE = 0x08,
    RESIZER_KEEP_CLIPPING = 0x10,
    RESIZER_NO_GROUP_TRANSPARENCY = 0x20,
};

class CControlResizer {
public:
    CControlResizer(const CDialog& owner, int options) : owner_(owner), options_(options) {}
    ~CControlResizer();
    CControlResizer(const CControlResizer&) = delete;
    CControlResizer& operator=(const CControlResizer&) = delete;

    void initResizer();
    // The owner's window is gone, and its children (the grip) with it.
    void ownerDestroyed();
    void addAnchor(int id, float left, float top, float right, float bottom);
    void relayout();
    void applySizeLimits(MINMAXINFO& info) const;

    // The registered controls with their fractions and edges.
    const AnchorLayout<HWND>& layout() const { return layout_; }
    SIZE minimumSize() const { return {minWidth_, minHeight_}; }
    HWND grip() const { return grip_; } // null once the window is gone

private:
    HWND owner() const { return owner_.hwnd(); }

    const CDialog& owner_;
    int options_;
    AnchorLayout<HWND> layout_;
    RECT last_{};
    int minWidth_ = 0, minHeight_ = 0;
    int maxWidth_ = 0, maxHeight_ = 0;
    HWND grip_ = nullptr;
    HBITMAP gripBitmap_ = nullptr;
};

class CResizableDialog : public CDialog {
public:
    CResizableDialog(int templateId, int resizerOptions)
        : CDialog(templateId), resizer_(*this, resizerOptions) {}

    CControlResizer& resizer() { return resizer_; }
    const CControlResizer& resizer() const { return resizer_; }

protected:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    LRESULT onInitDialog(WPARAM wParam, LPARAM lParam);
    LRESULT onSize(WPARAM wParam, LPARAM lParam);
    LRESULT onGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    LRESULT onNcDestroy(WPARAM wParam, LPARAM lParam);
    void addAnchor(int id, float left, float top, float right, float bottom)
    {
        resizer_.addAnchor(id, left, top, right, bottom);
    }

private:
    static const MessageEntry<CResizableDialog> messages[];

    CControlResizer resizer_;
};

} // namespace win32
