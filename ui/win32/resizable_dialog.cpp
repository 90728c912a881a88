// Resizable dialogs on Windows: the anchors that move the controls with
// deferred window moves, the minimum-size answer and the size grip.

#define OEMRESOURCE
#include "ui/win32/resizable_dialog.h"

#include "resources/resource.h"

namespace win32 {

namespace {
int width(const RECT& r) { return r.right - r.left; }
int height(const RECT& r) { return r.bottom - r.top; }
} // namespace

CControlResizer::~CControlResizer()
{
    // The grip is a child of the owner's window and goes with it; only a
    // resizer that goes first takes its grip along.
    if (grip_ && owner() && IsWindow(grip_) && GetParent(grip_) == owner())
        DestroyWindow(grip_);
    if (gripBitmap_)
        DeleteObject(gripBitmap_);
}

void CControlResizer::ownerDestroyed()
{
    grip_ = nullptr; // destroyed with its parent; the handle may be reused
}

void CControlResizer::initResizer()
{
    GetWindowRect(owner(), &last_);
    if (!(options_ & RESIZER_NO_MIN_SIZE)) {
        minWidth_ = width(last_);
        minHeight_ = height(last_);
    }
    if (!(options_ & RESIZER_KEEP_CLIPPING))
        SetWindowLongPtrA(owner(), GWL_STYLE, GetWindowLongPtrA(owner(), GWL_STYLE) | WS_CLIPCHILDREN);
    if (!(options_ & RESIZER_NO_GRIP)) {
        gripBitmap_ = LoadBitmapA(nullptr, MAKEINTRESOURCEA(OBM_SIZE));
        grip_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, 16, 16, owner(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SIZE_GRIP)),
                                resourceModule(), nullptr);
        if (grip_) {
            SendMessageA(grip_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(gripBitmap_));
            RECT client{}, grip{};
            GetClientRect(owner(), &client);
            GetWindowRect(grip_, &grip);
            SetWindowPos(grip_, HWND_TOP, client.right - width(grip), client.bottom - height(grip), 0, 0,
                         SWP_NOSIZE);
        }
        addAnchor(IDC_SIZE_GRIP, 1, 1, 1, 1);
    }
}

void CControlResizer::addAnchor(int id, float left, float top, float right, float bottom)
{
    const AnchorEdges fractions{left, top, right, bottom};
    if (layout_.addFractions(id, fractions))
        return;
    HWND control = GetDlgItem(owner(), id);
    AnchorEdges edges;
    if (control) {
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, owner(), reinterpret_cast<POINT*>(&r), 2);
        edges = {static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right),
                 static_cast<float>(r.bottom)};
    }
    layout_.add(id, control, fractions, edges);

    if (control && !(options_ & RESIZER_NO_GROUP_TRANSPARENCY)) {
        char className[8] = {};
        GetClassNameA(control, className, sizeof className);
        const LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
        if (lstrcmpiA(className, "Button") == 0 && (style & 7) != 0 && !(style & WS_TABSTOP)) {
            SetWindowLongPtrA(control, GWL_EXSTYLE, GetWindowLongPtrA(control, GWL_EXSTYLE) | WS_EX_TRANSPARENT);
            SetWindowPos(control, nullptr, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        }
    }
}

void CControlResizer::relayout()
{
    if (layout_.empty())
        return;
    RECT now{};
    GetWindowRect(owner(), &now);
    const float dx = anchorChange(anchorExtent(last_.left, last_.right), anchorExtent(now.left, now.right));
    const float dy = anchorChange(anchorExtent(last_.top, last_.bottom), anchorExtent(now.top, now.bottom));

    HDWP batch = BeginDeferWindowPos(static_cast<int>(layout_.items().size()));
    if (batch) {
        layout_.follow(dx, dy, [&batch](HWND control, const AnchorPlace& place) {
            if (!control || !IsWindow(control))
                return true;
            // On failure the platform has already dropped the batch.
            batch = DeferWindowPos(batch, control, nullptr, place.x, place.y, place.width, place.height,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
            return batch != nullptr;
        });
    }
    if (batch)
        EndDeferWindowPos(batch);
    last_ = now;
}

void CControlResizer::applySizeLimits(MINMAXINFO& info) const
{
    if (last_.left || last_.top || last_.right || last_.bottom) {
        if (options_ & RESIZER_FIXED_WIDTH)
            info.ptMaxSize.x = info.ptMaxTrackSize.x = width(last_);
        if (options_ & RESIZER_FIXED_HEIGHT)
            info.ptMaxSize.y = info.ptMaxTrackSize.y = height(last_);
    }
    if (minWidth_)
        info.ptMinTrackSize.x = minWidth_;
    if (minHeight_)
        info.ptMinTrackSize.y = minHeight_;
    if (maxWidth_)
        info.ptMaxTrackSize.x = maxWidth_;
    if (maxHeight_)
        info.ptMaxTrackSize.y = maxHeight_;
}

// ---------------------------------------------------------------------------

const MessageEntry<CResizableDialog> CResizableDialog::messages[] = {
    {WM_INITDIALOG, &CResizableDialog::onInitDialog},
    {WM_SIZE, &CResizableDialog::onSize},
    {WM_GETMINMAXINFO, &CResizableDialog::onGetMinMaxInfo},
    {WM_NCDESTROY, &CResizableDialog::onNcDestroy},
};

bool CResizableDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return dispatch<CResizableDialog>(this, messages, {}, message, wParam, lParam, result)
        || CDialog::onMessage(message, wParam, lParam, result);
}

LRESULT CResizableDialog::onInitDialog(WPARAM, LPARAM)
{
    resizer_.initResizer();
    return TRUE; // the platform sets the default focus
}

LRESULT CResizableDialog::onSize(WPARAM, LPARAM)
{
    resizer_.relayout();
    return 0;
}

LRESULT CResizableDialog::onGetMinMaxInfo(WPARAM, LPARAM lParam)
{
    resizer_.applySizeLimits(*reinterpret_cast<MINMAXINFO*>(lParam));
    return 0;
}

LRESULT CResizableDialog::onNcDestroy(WPARAM, LPARAM)
{
    resizer_.ownerDestroyed();
    return 0;
}

} // namespace win32
