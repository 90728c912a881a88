#pragma once
// The rules of in-place editing that both windows follow: which editor a
// cell gets, what an editor reports when it ends, and where Tab goes next.
// Opening, placing and ending the editors is each window's own business.

#include <optional>
#include <string>
#include <vector>

// Keys that end an edit. Shift+Tab types the same Tab and ends as Tab does.
enum CellEditEndKey {
    END_KEY_NONE = 0,   // the focus went elsewhere
    END_KEY_TAB = 9,
    END_KEY_ENTER = 13,
    END_KEY_ESCAPE = 27,
};

// What an ended editor reports to the list.
struct CellEditResult {
    int row = -1;
    int column = -1;
    std::optional<std::string> text; // none: the cell stays as it is
    int endKey = END_KEY_NONE;
};

// The result of an editor that ends with `endKey` showing `text`: Escape
// keeps the cell as it is, every other end commits the text.
CellEditResult cellEditResult(int row, int column, int endKey, std::optional<std::string> text);

// The result of a drop-down that ends with `endKey` while the choice at
// `highlighted` is highlighted in its list (-1: none): that choice, however
// the list closed (a click on it, Enter, Tab, a click elsewhere, the focus
// going away), except that Escape or nothing highlighted keep the cell.
CellEditResult choiceEditResult(int row, int column, int endKey, const std::vector<std::string>& choices,
                                int highlighted);

// The column whose editor Tab (or Shift+Tab) opens after `column`: the next
// one to the right that is edited (so the TCP/IP Port after the Name, the
// Status skipped); -1 after the last of them.
int nextEditColumn(int column);

// How far the list scrolls sideways before an editor opens over a cell
// spanning cellLeft..cellRight in a view spanning viewLeft..viewRight: a
// cell cut off on the left comes to the left edge, one that starts beyond
// the right edge scrolls by its left edge, one cut off on the right comes in
// as far as it can without losing its left edge. 0 for a cell in full view.
int cellEditScroll(int cellLeft, int cellRight, int viewLeft, int viewRight);

enum class CellEditorKind {
    None,   // the cell is not edited
    Text,   // a line editor over the cell's text
    Choice, // a drop-down of fixed choices
};

// Which editor a cell gets, and for a drop-down its choices in order and
// the one the cell holds now (-1 when it holds none of them).
struct CellEditorSetup {
    CellEditorKind kind = CellEditorKind::None;
    std::vector<std::string> choices;
    int current = -1;
};
