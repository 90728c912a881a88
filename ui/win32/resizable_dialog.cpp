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
    if (grip_ && IsWindow(grip_))
        DestroyWindow(grip_);
    if (gripBitmap_)
        DeleteObject(gripBitmap_);
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
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        if (it->id == id) {
            it->leftFraction += left;
            it->topFraction += top;
            it->rightFraction += right;
            it->bottomFraction += bottom;
            return;
        }
    }

    ResizeItem item;
    item.id = id;
    item.control = GetDlgItem(owner(), id);
    item.leftFraction = left;
    item.topFraction = top;
    item.rightFraction = right;
    item.bottomFraction = bottom;
    if (item.control) {
        RECT r{};
        GetWindowRect(item.control, &r);
        MapWindowPoints(nullptr, owner(), reinterpret_cast<POINT*>(&r), 2);
        item.left = static_cast<float>(r.left);
        item.top = static_cast<float>(r.top);
        item.right = static_cast<float>(r.right);
        item.bottom = static_cast<float>(r.bottom);
    }
    items_.push_back(item);

    if (item.control && !(options_ & RESIZER_NO_GROUP_TRANSPARENCY)) {
        char className[8] = {};
        GetClassNameA(item.control, className, sizeof className);
        const LONG_PTR style = GetWindowLongPtrA(item.control, GWL_STYLE);
        if (lstrcmpiA(className, "Button") == 0 && (style & 7) != 0 && !(style & WS_TABSTOP)) {
            SetWindowLongPtrA(item.control, GWL_EXSTYLE,
                              GetWindowLongPtrA(item.control, GWL_EXSTYLE) | WS_EX_TRANSPARENT);
            SetWindowPos(item.control, nullptr, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        }
    }
}

void CControlResizer::relayout()
{
    if (items_.empty())
        return;
    RECT now{};
    GetWindowRect(owner(), &now);
    const float dx = static_cast<float>(width(now) - width(last_));
    const float dy = static_cast<float>(height(now) - height(last_));

    HDWP batch = BeginDeferWindowPos(static_cast<int>(items_.size()));
    for (auto& item : items_) {
        if (!batch)
            break;
        const float left = item.left + dx * item.leftFraction;
        const float top = item.top + dy * item.topFraction;
        const float right = item.right + dx * item.rightFraction;
        const float bottom = item.bottom + dy * item.bottomFraction;
        if (left == item.left && top == item.top && right == item.right && bottom == item.bottom)
            continue;
        item.left = left;
        item.top = top;
        item.right = right;
        item.bottom = bottom;
        if (!item.control || !IsWindow(item.control))
            continue;
        // On failure the platform has already dropped the batch.
        batch = DeferWindowPos(batch, item.control, nullptr, static_cast<int>(left), static_cast<int>(top),
                               static_cast<int>(right - left), static_cast<int>(bottom - top),
                               SWP_NOZORDER | SWP_NOACTIVATE);
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

} // namespace win32
