#pragma once
// The stored window placement made safe before a window takes it: a
// configuration file may hold any number, and a window handed a size of
// two thousand million pixels or a place far off every screen is of no use
// (or brings its process down). Platform-free: both windows call it with
// the screen area they found.

#include "manager/front_end.h"

// Widest a list column is taken from the configuration file.
inline constexpr int MAX_COLUMN_WIDTH = 4096;

// How much of a window's title bar must lie within the screen area for a
// stored position to be kept.
inline constexpr int PLACEMENT_REACH = 40;

// A column width as stored: at most MAX_COLUMN_WIDTH.
int storedColumnWidth(int width);

// The placement `stored` fitted to `area` (the screen's available area, as
// left, top, right, bottom in the same coordinates; right and bottom
// exclusive): a stored size is kept within the area and never below the
// minimum (the minimum wins when the area is smaller). The position is kept
// while the title bar can be reached: the window's top edge within the
// area with PLACEMENT_REACH pixels of it below, and PLACEMENT_REACH pixels
// of its width within the area; otherwise the window is moved wholly into
// the area. A width or height of 0 or below means "none stored" and gives
// 0 (the window keeps its own size there and centres itself); the position
// is fitted for the minimum then. `minimized` is passed through.
WindowFields fitPlacement(const WindowFields& stored, const WindowRect& area, int minWidth, int minHeight);
