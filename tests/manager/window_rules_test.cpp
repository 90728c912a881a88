// The rules both windows take from the core: where Tab goes, which editor a
// cell gets, what an ended editor reports and how it is applied, how
// anchored controls follow a window's size, and the start-up's one-manager
// rule with the manager-wide values.

#include "test_support.h"

#include "manager/anchor_layout.h"
#include "manager/cell_editing.h"
#include "manager/window_placement.h"

#include "port/process.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int INT_LOWEST = std::numeric_limits<int>::min();
constexpr int INT_HIGHEST = std::numeric_limits<int>::max();

TEST(CellEditing, TabWalksRightSkippingTheStatusAndEndsAfterTheLastColumn)
{
    const struct {
        int from;
        int next;
    } walk[] = {
        {COLUMN_NAME, COLUMN_TCPIP},       {COLUMN_TCPIP, COLUMN_COMPORT},
        {COLUMN_COMPORT, COLUMN_BAUDRATE}, {COLUMN_BAUDRATE, COLUMN_HANDSHAKE},
        {COLUMN_HANDSHAKE, COLUMN_PARITY}, {COLUMN_PARITY, COLUMN_STOPBITS},
        {COLUMN_STOPBITS, COLUMN_DTRO},    {COLUMN_DTRO, COLUMN_DTRC},
        {COLUMN_DTRC, COLUMN_PROTOCOL},    {COLUMN_PROTOCOL, COLUMN_BUSY},
        {COLUMN_BUSY, COLUMN_LISTEN},      {COLUMN_LISTEN, COLUMN_ALLOW},
        {COLUMN_ALLOW, -1},                {COLUMN_CLIENT, COLUMN_BUSY},
        {-1, -1},
        {SERVICE_COLUMNS, -1},
    };
    for (const auto& step : walk)
        EXPECT_EQ(nextEditColumn(step.from), step.next) << "from column " << step.from;
}

TEST(CellEditing, EscapeKeepsTheCellEveryOtherEndCommits)
{
    for (int key : {END_KEY_NONE, END_KEY_TAB, END_KEY_ENTER}) {
        CellEditResult result = cellEditResult(3, COLUMN_TCPIP, key, std::string("2001"));
        EXPECT_EQ(result.row, 3);
        EXPECT_EQ(result.column, COLUMN_TCPIP);
        EXPECT_EQ(result.endKey, key);
        EXPECT_EQ(result.text, std::optional<std::string>("2001")) << "end key " << key;
    }
    CellEditResult escaped = cellEditResult(3, COLUMN_TCPIP, END_KEY_ESCAPE, std::string("2001"));
    EXPECT_EQ(escaped.endKey, END_KEY_ESCAPE);
    EXPECT_FALSE(escaped.text.has_value());
    EXPECT_FALSE(cellEditResult(0, COLUMN_BAUDRATE, END_KEY_ENTER, std::nullopt).text.has_value())
        << "a drop-down without a choice commits nothing";
}

TEST(CellEditing, ADropDownCommitsItsHighlightedChoiceUnlessEscaped)
{
    const std::vector<std::string> choices = {"Even", "Odd", "None"};
    for (int key : {END_KEY_NONE, END_KEY_TAB, END_KEY_ENTER})
        EXPECT_EQ(choiceEditResult(2, COLUMN_PARITY, key, choices, 1).text, std::optional<std::string>("Odd"))
            << "end key " << key;
    EXPECT_EQ(choiceEditResult(2, COLUMN_PARITY, END_KEY_NONE, choices, 2).text, std::optional<std::string>("None"))
        << "the last choice";
    EXPECT_FALSE(choiceEditResult(2, COLUMN_PARITY, END_KEY_ESCAPE, choices, 1).text.has_value());
    for (int highlighted : {-1, 3, 1000})
        EXPECT_FALSE(choiceEditResult(2, COLUMN_PARITY, END_KEY_ENTER, choices, highlighted).text.has_value())
            << "highlighted " << highlighted;
    CellEditResult result = choiceEditResult(2, COLUMN_PARITY, END_KEY_TAB, choices, 0);
    EXPECT_EQ(result.row, 2);
    EXPECT_EQ(result.column, COLUMN_PARITY);
    EXPECT_EQ(result.endKey, END_KEY_TAB);
}

TEST(CellEditing, TheListScrollsACutOffCellIntoView)
{
    const struct {
        int cellLeft, cellRight;
        int scroll;
        const char* why;
    } cells[] = {
        {10, 80, 0, "in full view"},
        {-30, 40, -30, "cut off on the left: to the left edge"},
        {250, 320, 250, "beyond the right edge: by its left edge"},
        {150, 260, 60, "cut off on the right: brought in whole"},
        {50, 400, 50, "wider than the view: its left edge stays in view"},
    };
    for (const auto& cell : cells)
        EXPECT_EQ(cellEditScroll(cell.cellLeft, cell.cellRight, 0, 200), cell.scroll) << cell.why;
    EXPECT_EQ(cellEditScroll(5, 20, 10, 200), -5) << "measured from the view's left edge";
}

class Editing : public ::testing::Test {
protected:
    void SetUp() override
    {
        managerGlobals.modulePath = "/usr/lib/vantrel/vantrel";
        managerGlobals.processId = 99;
        managerGlobals.serviceCounter = 1;
        ASSERT_EQ(table.addService(newServiceRecord()), 0);
    }

    FakeFrontEnd frontEnd;
    ServiceTable table{frontEnd};
};

TEST_F(Editing, EachCellGetsItsEditorWithTheChoiceItHolds)
{
    for (int column : {COLUMN_NAME, COLUMN_TCPIP, COLUMN_LISTEN, COLUMN_ALLOW})
        EXPECT_EQ(table.cellEditor(0, column).kind, CellEditorKind::Text) << "column " << column;
    EXPECT_TRUE(table.cellEditor(0, COLUMN_NAME).choices.empty());
    for (int column : {COLUMN_STATUS, COLUMN_CLIENT})
        EXPECT_EQ(table.cellEditor(0, column).kind, CellEditorKind::None) << "shown only: column " << column;
    EXPECT_EQ(table.cellEditor(1, COLUMN_NAME).kind, CellEditorKind::None) << "no such row";
    EXPECT_EQ(table.cellEditor(-1, COLUMN_NAME).kind, CellEditorKind::None);
    EXPECT_EQ(table.cellEditor(0, SERVICE_COLUMNS).kind, CellEditorKind::None);

    using Choices = std::vector<std::string>;
    const struct {
        int column;
        Choices choices;
        int current; // of the defaults
    } dropDowns[] = {
        {COLUMN_BAUDRATE, {"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200", "230400"}, 4},
        {COLUMN_HANDSHAKE, {"Xon/Xoff", "RTS/CTS", "None"}, 2},
        {COLUMN_PARITY, {"Even", "Odd", "None"}, 2},
        {COLUMN_STOPBITS, {"1", "2"}, 0},
        {COLUMN_DTRO, {"No", "Yes"}, 0},
        {COLUMN_DTRC, {"No", "Yes"}, 0},
        {COLUMN_PROTOCOL, {"Raw", "RFC 2217"}, 0},
        {COLUMN_BUSY, {"Queue", "Refuse", "Take over"}, 0},
    };
    for (const auto& cell : dropDowns) {
        CellEditorSetup setup = table.cellEditor(0, cell.column);
        EXPECT_EQ(setup.kind, CellEditorKind::Choice) << "column " << cell.column;
        EXPECT_EQ(setup.choices, cell.choices) << "column " << cell.column;
        EXPECT_EQ(setup.current, cell.current) << "column " << cell.column;
    }

    table.setServiceField(0, COLUMN_BAUDRATE, "115200");
    EXPECT_EQ(table.cellEditor(0, COLUMN_BAUDRATE).current, 7);
    table.setServiceField(0, COLUMN_BAUDRATE, "1234");
    EXPECT_EQ(table.cellEditor(0, COLUMN_BAUDRATE).current, -1) << "a value outside the choices";
}

TEST_F(Editing, AnEndedEditIsAppliedAndTabNamesTheNextEditor)
{
    EXPECT_EQ(table.applyCellEdit({0, COLUMN_NAME, std::string("Plotter"), END_KEY_TAB}), COLUMN_TCPIP);
    EXPECT_EQ(table.record(0)->field(COLUMN_NAME), "Plotter");
    EXPECT_EQ(frontEnd.rows[0][COLUMN_NAME], "Plotter");

    EXPECT_EQ(table.applyCellEdit({0, COLUMN_TCPIP, std::string("2001"), END_KEY_ENTER}), -1);
    EXPECT_EQ(table.record(0)->field(COLUMN_TCPIP), "2001");

    EXPECT_EQ(table.applyCellEdit({0, COLUMN_TCPIP, std::nullopt, END_KEY_ESCAPE}), -1);
    EXPECT_EQ(table.record(0)->field(COLUMN_TCPIP), "2001") << "Escape leaves the field";

    EXPECT_EQ(table.applyCellEdit({0, COLUMN_BAUDRATE, std::nullopt, END_KEY_TAB}), COLUMN_HANDSHAKE)
        << "Tab moves also without a text";
    EXPECT_EQ(table.record(0)->field(COLUMN_BAUDRATE), "19200");

    EXPECT_EQ(table.applyCellEdit({0, COLUMN_DTRC, std::string("Yes"), END_KEY_TAB}), COLUMN_PROTOCOL);
    EXPECT_EQ(table.record(0)->field(COLUMN_DTRC), "Yes");
    EXPECT_EQ(table.applyCellEdit({0, COLUMN_PROTOCOL, std::string("RFC 2217"), END_KEY_TAB}), COLUMN_BUSY)
        << "Tab skips the Client, which is not edited";
    EXPECT_EQ(table.record(0)->field(COLUMN_PROTOCOL), "RFC 2217");
    EXPECT_EQ(table.applyCellEdit({0, COLUMN_ALLOW, std::string("10.1.0.0/16"), END_KEY_TAB}), -1)
        << "Tab on the last edited column just ends";
    EXPECT_EQ(table.record(0)->field(COLUMN_ALLOW), "10.1.0.0/16");

    EXPECT_EQ(table.applyCellEdit({0, COLUMN_STATUS, std::string("Active"), END_KEY_NONE}), -1);
    EXPECT_EQ(table.record(0)->field(COLUMN_STATUS), "") << "the status is never edited";

    EXPECT_EQ(table.applyCellEdit({1, COLUMN_NAME, std::string("Gone"), END_KEY_TAB}), -1)
        << "a row that is gone";
    expectRowsMirrorTable(frontEnd, table);
}

// ---------------------------------------------------------------------------
// Control anchoring.

TEST(Anchors, EdgesFollowTheirFractionsOfTheChange)
{
    AnchorEdges edges{10, 20, 110, 70};
    EXPECT_FALSE(followChange(edges, {1, 0, 1, 0}, 0, 25)) << "no width change moves nothing here";
    EXPECT_TRUE(followChange(edges, {1, 0, 1, 0}, 30, 25));
    EXPECT_EQ(edges.left, 40);
    EXPECT_EQ(edges.top, 20);
    EXPECT_EQ(edges.right, 140);
    EXPECT_EQ(edges.bottom, 70);

    // Halves add up in the stored edges; the place is cut toward zero.
    AnchorEdges half{0, 0, 10, 10};
    EXPECT_TRUE(followChange(half, {0.5f, 0.5f, 0.5f, 0.5f}, 1, -1));
    AnchorPlace place = anchorPlace(half);
    EXPECT_EQ(place.x, 0);
    EXPECT_EQ(place.y, 0) << "-0.5 is cut toward zero";
    EXPECT_TRUE(followChange(half, {0.5f, 0.5f, 0.5f, 0.5f}, 1, -1));
    place = anchorPlace(half);
    EXPECT_EQ(place.x, 1);
    EXPECT_EQ(place.y, -1);
    EXPECT_EQ(place.width, 10);
    EXPECT_EQ(place.height, 10);
}

TEST(Anchors, ALayoutAddsRepeatedFractionsAndPlacesWhatMoved)
{
    AnchorLayout<int> layout;
    EXPECT_TRUE(layout.empty());
    EXPECT_FALSE(layout.addFractions(1, {1, 0, 1, 0}));
    layout.add(1, 100, {1, 0, 1, 0}, {10, 10, 50, 30});
    EXPECT_TRUE(layout.addFractions(1, {1, 0, 1, 0})) << "a second registration adds up";
    layout.add(2, 200, {0, 1, 0, 1}, {10, 40, 50, 60});
    layout.add(3, 300, {1, 1, 1, 1}, {60, 40, 70, 60});

    std::vector<std::pair<int, AnchorPlace>> placed;
    layout.follow(5, 0, [&](int control, const AnchorPlace& place) {
        placed.emplace_back(control, place);
        return true;
    });
    ASSERT_EQ(placed.size(), 2u) << "the bottom-anchored control does not move sideways";
    EXPECT_EQ(placed[0].first, 100);
    EXPECT_EQ(placed[0].second.x, 20) << "twice the width change";
    EXPECT_EQ(placed[0].second.width, 40);
    EXPECT_EQ(placed[1].first, 300);
    EXPECT_EQ(placed[1].second.x, 65);

    // A refused place ends the pass: the items after it keep their edges.
    placed.clear();
    layout.follow(0, 10, [&](int control, const AnchorPlace& place) {
        placed.emplace_back(control, place);
        return false;
    });
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0].first, 200);
    EXPECT_EQ(layout.items()[2].edges.top, 40);
    EXPECT_EQ(layout.items()[1].edges.top, 50);
}

TEST(Anchors, ExtremeSizesNeitherOverflowNorWrap)
{
    EXPECT_EQ(anchorExtent(INT_LOWEST, INT_HIGHEST), int64_t{4294967295});
    EXPECT_EQ(anchorExtent(INT_HIGHEST, INT_LOWEST), int64_t{-4294967295});
    EXPECT_EQ(anchorChange(anchorExtent(0, 10), anchorExtent(INT_LOWEST, INT_HIGHEST)), 4294967285.0f);
    EXPECT_EQ(anchorChange(anchorExtent(INT_LOWEST, INT_HIGHEST), 0), -4294967295.0f);

    // Controls that follow a window going from nothing to the largest size
    // keep a place within int.
    AnchorLayout<int> layout;
    layout.add(1, 1, {0, 0, 1, 1}, {0, 0, 100, 50});
    layout.add(2, 2, {1, 1, 1, 1}, {90, 40, 100, 50});
    std::vector<AnchorPlace> placed;
    auto keep = [&](int, const AnchorPlace& place) {
        placed.push_back(place);
        return true;
    };
    const float grow = anchorChange(0, INT_HIGHEST);
    layout.follow(grow, grow, keep);
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[0].x, 0);
    EXPECT_EQ(placed[0].width, INT_HIGHEST);
    EXPECT_EQ(placed[0].height, INT_HIGHEST);
    EXPECT_EQ(placed[1].x, INT_HIGHEST);
    EXPECT_EQ(placed[1].y, INT_HIGHEST);
    EXPECT_GE(placed[1].width, 0);

    // And back down past zero from a rectangle spanning all of int.
    placed.clear();
    const float shrink = anchorChange(anchorExtent(INT_LOWEST, INT_HIGHEST), 0);
    layout.follow(shrink, shrink, keep);
    layout.follow(shrink, shrink, keep);
    ASSERT_EQ(placed.size(), 4u);
    EXPECT_EQ(placed[3].x, INT_LOWEST);
    EXPECT_EQ(placed[3].y, INT_LOWEST);

    AnchorPlace far = anchorPlace({-3e9f, 3e9f, 3e9f, -3e9f});
    EXPECT_EQ(far.x, INT_LOWEST);
    EXPECT_EQ(far.y, INT_HIGHEST);
    EXPECT_EQ(far.width, INT_HIGHEST);
    EXPECT_EQ(far.height, INT_LOWEST);
    AnchorPlace undefined = anchorPlace({std::nanf(""), 0, INFINITY, -INFINITY});
    EXPECT_EQ(undefined.x, 0);
    EXPECT_EQ(undefined.width, 0) << "infinity less not-a-number is not a number";
    EXPECT_EQ(undefined.height, INT_LOWEST);
}

// ---------------------------------------------------------------------------
// The stored placement.

// A placement as text, for comparing and showing it.
std::string shown(const WindowFields& f)
{
    return "{" + std::to_string(f.xpos) + ", " + std::to_string(f.ypos) + ", " + std::to_string(f.width) + " x "
        + std::to_string(f.height) + ", minimized " + std::to_string(f.minimized) + "}";
}

TEST(Placement, StoredPlacementFitsTheScreenArea)
{
    // A screen of 1280 x 800 below a 24-pixel panel; the window's minimum is
    // 300 x 200.
    const WindowRect area{0, 24, 1280, 824};
    struct Case {
        WindowFields stored;
        WindowFields placed;
    } cases[] = {
        // On screen and within the area: as stored.
        {{20, 40, 900, 300, 0}, {20, 40, 900, 300, 0}},
        {{0, 24, 1280, 800, 1}, {0, 24, 1280, 800, 1}},
        // Below the minimum: the minimum.
        {{20, 40, 100, 50, 0}, {20, 40, 300, 200, 0}},
        // Larger than the area: the area, placed in it unless its title bar
        // is in reach where it was.
        {{20, 40, INT_HIGHEST, INT_HIGHEST, 0}, {20, 40, 1280, 800, 0}},
        {{20, 0, INT_HIGHEST, INT_HIGHEST, 0}, {0, 24, 1280, 800, 0}},
        {{INT_HIGHEST, INT_HIGHEST, INT_HIGHEST, INT_HIGHEST, 0}, {0, 24, 1280, 800, 0}},
        // Hanging over an edge with the title bar in reach: kept.
        {{1200, 700, 400, 300, 0}, {1200, 700, 400, 300, 0}},
        {{-360, 784, 400, 300, 0}, {-360, 784, 400, 300, 0}},
        // Off screen in any direction, or the title bar out of reach: moved
        // back in, whole.
        {{INT_HIGHEST, INT_HIGHEST, 400, 300, 0}, {880, 524, 400, 300, 0}},
        {{INT_LOWEST, INT_LOWEST, 400, 300, 0}, {0, 24, 400, 300, 0}},
        {{-5000, 100, 400, 300, 0}, {0, 100, 400, 300, 0}},
        {{-361, 100, 400, 300, 0}, {0, 100, 400, 300, 0}},
        {{1241, 100, 400, 300, 0}, {880, 100, 400, 300, 0}},
        {{100, 785, 400, 300, 0}, {100, 524, 400, 300, 0}},
        {{100, 23, 400, 300, 0}, {100, 24, 400, 300, 0}},
        // No size stored (0 or negative): none given; the position is fitted
        // for the minimum.
        {{0, 0, 0, 0, 0}, {0, 24, 0, 0, 0}},
        {{INT_HIGHEST, INT_LOWEST, INT_LOWEST, -1, 0}, {980, 24, 0, 0, 0}},
        {{10, 30, 900, 0, 0}, {10, 30, 900, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shown(fitPlacement(c.stored, area, 300, 200)), shown(c.placed)) << "stored " << shown(c.stored);
}

TEST(Placement, TheMinimumWinsOverASmallerArea)
{
    // A minimum larger than the area: the minimum, at the area's corner.
    const WindowRect tiny{100, 100, 300, 250};
    EXPECT_EQ(shown(fitPlacement({INT_HIGHEST, INT_LOWEST, INT_HIGHEST, INT_HIGHEST, 0}, tiny, 449, 300)),
              shown({100, 100, 449, 300, 0}));
    // An empty or inverted area, and extreme areas, stay within int.
    EXPECT_EQ(shown(fitPlacement({50, 50, 500, 400, 0}, {0, 0, 0, 0}, 300, 200)), shown({0, 0, 300, 200, 0}));
    EXPECT_EQ(shown(fitPlacement({50, 50, 500, 400, 0}, {10, 10, -10, -10}, 300, 200)),
              shown({10, 10, 300, 200, 0}));
    const WindowRect everything{INT_LOWEST, INT_LOWEST, INT_HIGHEST, INT_HIGHEST};
    EXPECT_EQ(shown(fitPlacement({INT_HIGHEST, INT_HIGHEST, INT_HIGHEST, INT_HIGHEST, 0}, everything, 300, 200)),
              shown({0, 0, INT_HIGHEST, INT_HIGHEST, 0}));
    EXPECT_EQ(shown(fitPlacement({INT_LOWEST, INT_LOWEST, 10, 10, 0}, everything, -5, -5)),
              shown({INT_LOWEST, INT_LOWEST, 10, 10, 0}));
}

TEST(Placement, ColumnWidthsHaveAMost)
{
    EXPECT_EQ(storedColumnWidth(0), 0);
    EXPECT_EQ(storedColumnWidth(120), 120);
    EXPECT_EQ(storedColumnWidth(MAX_COLUMN_WIDTH), MAX_COLUMN_WIDTH);
    EXPECT_EQ(storedColumnWidth(65535), MAX_COLUMN_WIDTH);
    EXPECT_EQ(storedColumnWidth(INT_HIGHEST), MAX_COLUMN_WIDTH);
    EXPECT_EQ(storedColumnWidth(-1), 0);
}

// ---------------------------------------------------------------------------
// Start-up.

TEST(StartUp, OneManagerAtATimeAndItsValues)
{
    const std::string name = "VantrelRulesTest" + std::to_string(port::current_process_id()) + "_" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    managerGlobals = {"before", 5, 42};
    ASSERT_TRUE(setUpManager(name));
    EXPECT_EQ(managerGlobals.modulePath, port::module_path());
    EXPECT_FALSE(managerGlobals.modulePath.empty());
    EXPECT_EQ(managerGlobals.processId, port::current_process_id());
    EXPECT_EQ(managerGlobals.serviceCounter, 1);

    managerGlobals = {"before", 5, 42};
    EXPECT_FALSE(setUpManager(name)) << "the claim is held";
    EXPECT_EQ(managerGlobals.modulePath, "before");
    EXPECT_EQ(managerGlobals.processId, 5u);
    EXPECT_EQ(managerGlobals.serviceCounter, 42);
}

} // namespace
