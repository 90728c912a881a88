// The arithmetic of control anchoring.

#include "manager/anchor_layout.h"

#include <cmath>
#include <limits>

namespace {

// Cut toward zero and held within int; a value that is not a number is 0.
int wholePixels(float value)
{
    if (std::isnan(value))
        return 0;
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    double cut = std::trunc(static_cast<double>(value));
    if (cut <= lowest)
        return std::numeric_limits<int>::min();
    if (cut >= highest)
        return std::numeric_limits<int>::max();
    return static_cast<int>(cut);
}

} // namespace

int64_t anchorExtent(int low, int high)
{
    return static_cast<int64_t>(high) - static_cast<int64_t>(low);
}

float anchorChange(int64_t before, int64_t now)
{
    return static_cast<float>(now - before);
}

bool followChange(AnchorEdges& edges, const AnchorEdges& fractions, float dx, float dy)
{
    AnchorEdges moved{edges.left + dx * fractions.left, edges.top + dy * fractions.top,
                      edges.right + dx * fractions.right, edges.bottom + dy * fractions.bottom};
    if (moved.left == edges.left && moved.top == edges.top && moved.right == edges.right &&
        moved.bottom == edges.bottom)
        return false;
    edges = moved;
    return true;
}

AnchorPlace anchorPlace(const AnchorEdges& edges)
{
    return {wholePixels(edges.left), wholePixels(edges.top), wholePixels(edges.right - edges.left),
            wholePixels(edges.bottom - edges.top)};
}
