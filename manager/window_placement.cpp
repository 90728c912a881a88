// The stored window placement fitted to a screen area, and the widest
// stored column.

#include "manager/window_placement.h"

#include <algorithm>
#include <cstdint>

namespace {

// value within [low, high]; low wins when high < low. Wide enough for any
// two ints and their differences.
int64_t within(int64_t value, int64_t low, int64_t high)
{
    return std::max(low, std::min(value, high));
}

} // namespace

int storedColumnWidth(int width)
{
    return static_cast<int>(within(width, 0, MAX_COLUMN_WIDTH));
}

WindowFields fitPlacement(const WindowFields& stored, const WindowRect& area, int minWidth, int minHeight)
{
    WindowFields placed = stored;
    const int64_t areaWidth = std::max<int64_t>(0, int64_t{area.right} - area.left);
    const int64_t areaHeight = std::max<int64_t>(0, int64_t{area.bottom} - area.top);
    const int64_t lowWidth = std::max(minWidth, 0);
    const int64_t lowHeight = std::max(minHeight, 0);

    // Each stored dimension within the area, never below the minimum; the
    // position is fitted for the size the window will have.
    int64_t width = lowWidth, height = lowHeight;
    placed.width = 0;
    placed.height = 0;
    if (stored.width > 0) {
        width = std::max(lowWidth, std::min<int64_t>(stored.width, areaWidth));
        placed.width = static_cast<int>(width);
    }
    if (stored.height > 0) {
        height = std::max(lowHeight, std::min<int64_t>(stored.height, areaHeight));
        placed.height = static_cast<int>(height);
    }
    // A window whose title bar can be reached stays where it was put, even
    // when it hangs over an edge; any other is moved wholly into the area
    // (its top-left corner in it when the window is larger than the area).
    const int64_t x = stored.xpos, y = stored.ypos;
    const bool reachable = y >= area.top && y <= int64_t{area.bottom} - PLACEMENT_REACH
                           && x <= int64_t{area.right} - PLACEMENT_REACH && x + width >= int64_t{area.left} + PLACEMENT_REACH;
    if (!reachable) {
        placed.xpos = static_cast<int>(within(x, area.left, int64_t{area.right} - width));
        placed.ypos = static_cast<int>(within(y, area.top, int64_t{area.bottom} - height));
    }
    return placed;
}
