#pragma once
// How the controls of a resizable window follow its size. Each registered
// control moves its four edges by fixed fractions of the change of the
// window's width (left and right edge) and height (top and bottom edge).
// The edges are kept in floats so that fractional moves add up; only the
// place a window is handed is cut to whole pixels. Platform-free: both
// resizers keep an AnchorLayout of their own control references.

#include <cstdint>
#include <vector>

// Four edges, or four fractions, in the order left, top, right, bottom.
struct AnchorEdges {
    float left = 0;
    float top = 0;
    float right = 0;
    float bottom = 0;
};

// A control's place in whole pixels: the edges cut toward zero, held within
// the range of int.
struct AnchorPlace {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The distance from one edge to another, exact for any two ints.
int64_t anchorExtent(int low, int high);
// The change of a window's width or height from `before` to `now`, as the
// anchors take it.
float anchorChange(int64_t before, int64_t now);
// Moves `edges` by the `fractions` of the changes dx (width) and dy
// (height); false when no edge moved.
bool followChange(AnchorEdges& edges, const AnchorEdges& fractions, float dx, float dy);
// The pixel place of `edges`.
AnchorPlace anchorPlace(const AnchorEdges& edges);

template <class Control>
class AnchorLayout {
public:
    struct Item {
        int id;
        Control control;
        AnchorEdges fractions;
        AnchorEdges edges; // in the owner's client coordinates
    };

    // Registering an id again adds the fractions to those of its last
    // registration; true when the id was there.
    bool addFractions(int id, const AnchorEdges& fractions)
    {
        for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
            if (it->id == id) {
                it->fractions.left += fractions.left;
                it->fractions.top += fractions.top;
                it->fractions.right += fractions.right;
                it->fractions.bottom += fractions.bottom;
                return true;
            }
        }
        return false;
    }

    void add(int id, Control control, const AnchorEdges& fractions, const AnchorEdges& edges)
    {
        items_.push_back(Item{id, control, fractions, edges});
    }

    // Moves every item, in registration order, by its fractions of the
    // changes; place(control, AnchorPlace) is called for each item whose
    // edges moved. A false from place ends the pass there: the items after
    // it keep their edges.
    template <class Place>
    void follow(float dx, float dy, Place place)
    {
        for (Item& item : items_) {
            if (!followChange(item.edges, item.fractions, dx, dy))
                continue;
            if (!place(item.control, anchorPlace(item.edges)))
                return;
        }
    }

    bool empty() const { return items_.empty(); }
    const std::vector<Item>& items() const { return items_; }

private:
    std::vector<Item> items_;
};
