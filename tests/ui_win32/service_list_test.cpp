// The service list: adding, in-place editing with clicks and keys, sorting,
// the context menu, the buttons, and services running real workers.

#include <winsock2.h>

#include "harness.h"
#include "port/socket.h"

#include "resources/resource.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

using namespace uitest;

namespace {

std::string service(int number, const std::string& name, const std::string& tcpip, const std::string& comport,
                    int active = 0)
{
    char section[512];
    std::snprintf(section, sizeof section,
                  "\n[Service%d]\nname      = %s\ntcpip     = %s\ncomport   = %s\nbaudrate  = 19200\n"
                  "handshake = None\nparity    = None\nstopbits  = 1\ndtro      = No\ndtrc      = No\n"
                  "active    = %d\n",
                  number, name.c_str(), tcpip.c_str(), comport.c_str(), active);
    return section;
}

std::string configuration(int services, const std::string& sections)
{
    return "[General]\nautostart = 0\nservices   = " + std::to_string(services) + "\n" + sections;
}

// Connects to 127.0.0.1:port and reads the first line the service sends,
// within the time given. Empty when nothing came.
// The first line a client of the port gets; `whileConnected` runs after it
// has come, before the client closes.
std::string firstLineFrom(int port, int timeout_ms, const std::function<void()>& whileConnected = {})
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    std::string line;
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(timeout_ms);
    SOCKET s = INVALID_SOCKET;
    // The worker may still be on its way to listening.
    while (s == INVALID_SOCKET && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            closesocket(s);
            s = INVALID_SOCKET;
            Sleep(100);
        }
    }
    if (s == INVALID_SOCKET)
        return line;
    while (line.find('\n') == std::string::npos && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait{0, 200000};
        if (select(0, &readable, nullptr, nullptr, &wait) == 1) {
            char buffer[256];
            const int n = recv(s, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            line.append(buffer, static_cast<size_t>(n));
        }
    }
    if (whileConnected)
        whileConnected();
    closesocket(s);
    return line;
}

} // namespace

class ServiceListTest : public ManagerTest {
protected:
    void select(int row)
    {
        window.onUi([&] {
            window.dialog().list().takeFocus();
            window.dialog().list().selectRow(row);
        });
    }
    bool cellBecomes(int row, int column, const std::string& text)
    {
        return wait_until([&] { return window.cell(row, column) == text; });
    }
    std::string field(int row, int column)
    {
        return window.onUi([&] {
            ServiceRecord* record = window.dialog().table().record(row);
            return record ? record->field(column) : std::string("<none>");
        });
    }
    bool running(int row)
    {
        return window.onUi([&] {
            ServiceRecord* record = window.dialog().table().record(row);
            return record && record->active;
        });
    }
    HWND waitEditor(int id)
    {
        HWND editor = nullptr;
        wait_until([&] { return (editor = window.editor(id)) != nullptr; });
        return editor;
    }
    // Opens the Name editor of the row with a click and replaces its text;
    // the editor, or null.
    HWND editName(int row, const std::string& name)
    {
        window.clickCell(row, COLUMN_NAME);
        HWND editor = waitEditor(IDC_CELL_TEXT_EDITOR);
        if (!editor)
            return nullptr;
        SendMessageA(editor, EM_SETSEL, 0, -1);
        window.type(editor, name);
        return wait_until([&] { return GetWindowTextLengthA(editor) == static_cast<int>(name.size()); }) ? editor
                                                                                                      : nullptr;
    }
    // The service menu opened with a right click on the row, or with the
    // context-menu key; null when none opened.
    HWND menuByClick(int row)
    {
        window.clickCell(row, COLUMN_STATUS, true);
        return window.waitPopupMenu();
    }
    HWND menuByKey()
    {
        PostMessageA(window.list(), WM_KEYDOWN, VK_APPS, 0);
        return window.waitPopupMenu();
    }
    static HMENU itemsOf(HWND menu) { return reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0)); }
    static bool greyed(HMENU items, int id) { return (GetMenuState(items, id, MF_BYCOMMAND) & MF_GRAYED) != 0; }
    // Escape closes the menu without a command.
    bool dismiss(HWND menu)
    {
        window.key(menu, VK_ESCAPE);
        return wait_until([&] { return window.popupMenu() == nullptr; });
    }
};

TEST_F(ServiceListTest, AddAppendsDefaultServicesWithoutSelectingThem)
{
    ASSERT_TRUE(window.open());
    window.command(IDC_ADD);
    window.command(IDC_ADD);
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 2; }));
    const char* expected[SERVICE_COLUMNS] = {"Service", "", "telnet", "COM1", "19200", "None", "None",
                                             "1",       "No", "No",     "Raw",   "",      "Queue", "", ""};
    for (int column = 0; column < SERVICE_COLUMNS; ++column) {
        EXPECT_EQ(window.cell(1, column), expected[column]) << column;
        EXPECT_EQ(field(1, column), expected[column]) << column;
    }
    EXPECT_EQ(window.selectedRow(), -1);
    EXPECT_FALSE(window.enabled(IDC_START));
    const std::string names = window.onUi([&] {
        return window.dialog().table().record(0)->eventName + " " + window.dialog().table().record(1)->eventName;
    });
    EXPECT_NE(names.find("_1 "), std::string::npos) << names;
    EXPECT_EQ(names.substr(names.size() - 2), "_2") << names;
}

TEST_F(ServiceListTest, TextEditorCommitsTrimmedTextOnEnterAndDiscardsOnEscape)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    window.clickCell(0, COLUMN_TCPIP);
    HWND editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(window.onUi([] { return GetFocus(); }), editor);
    char text[64] = {};
    GetWindowTextA(editor, text, sizeof text);
    EXPECT_STREQ(text, "telnet");
    SendMessageA(editor, EM_SETSEL, 0, -1);
    window.type(editor, "  2001 ");
    window.key(editor, VK_RETURN); // through the dialog's keyboard handling: not the Add button
    ASSERT_TRUE(cellBecomes(0, COLUMN_TCPIP, "2001"));
    EXPECT_EQ(field(0, COLUMN_TCPIP), "2001");
    ASSERT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));
    EXPECT_EQ(window.rowCount(), 1);

    // Escape keeps the old value.
    window.clickCell(0, COLUMN_NAME);
    editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    SendMessageA(editor, EM_SETSEL, 0, -1);
    window.type(editor, "Changed");
    window.key(editor, VK_ESCAPE); // not the window's Cancel
    ASSERT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));
    EXPECT_EQ(window.cell(0, COLUMN_NAME), "Board");
    EXPECT_EQ(field(0, COLUMN_NAME), "Board");
    EXPECT_TRUE(IsWindow(window.hwnd()));

    // Erased completely, the name is stored empty; the status cell opens nothing.
    window.clickCell(0, COLUMN_NAME);
    editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    SendMessageA(editor, EM_SETSEL, 0, -1);
    window.type(editor, "\b");
    window.key(editor, VK_RETURN);
    ASSERT_TRUE(cellBecomes(0, COLUMN_NAME, ""));
    window.clickCell(0, COLUMN_STATUS);
    window.flush();
    EXPECT_EQ(window.editor(IDC_CELL_TEXT_EDITOR), nullptr);
    EXPECT_EQ(window.editor(IDC_CELL_CHOICE_EDITOR), nullptr);
}

TEST_F(ServiceListTest, LongNameWidensTheEditorUpToTheListEdge)
{
    openWith(configuration(1, service(1, "B", "telnet", "COM1")));
    window.clickCell(0, COLUMN_NAME);
    HWND editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    RECT before{}, after{}, list{};
    GetWindowRect(editor, &before);
    window.type(editor, std::string(40, 'W'));
    ASSERT_TRUE(wait_until([&] { return GetWindowTextLengthA(editor) == 41; }));
    GetWindowRect(editor, &after);
    EXPECT_GT(after.right, before.right);
    EXPECT_EQ(after.left, before.left);
    window.type(editor, std::string(200, 'W'));
    ASSERT_TRUE(wait_until([&] { return GetWindowTextLengthA(editor) == 241; }));
    GetWindowRect(editor, &after);
    GetClientRect(window.list(), &list);
    MapWindowPoints(window.list(), nullptr, reinterpret_cast<POINT*>(&list), 2);
    EXPECT_LE(after.right, list.right);
    window.key(editor, VK_RETURN);
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));
    EXPECT_EQ(window.cell(0, COLUMN_NAME), std::string(240, 'W') + "B"); // typed at the caret, the start
}

TEST_F(ServiceListTest, TabWalksAlongTheRowSkippingTheStatus)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    select(0);
    window.key(window.list(), VK_SPACE); // Space edits the Name of the selected row
    HWND editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    window.key(editor, VK_TAB);
    ASSERT_TRUE(wait_until([&] {
        HWND next = window.editor(IDC_CELL_TEXT_EDITOR);
        return next && next != editor;
    }));
    editor = window.editor(IDC_CELL_TEXT_EDITOR);
    char text[64] = {};
    GetWindowTextA(editor, text, sizeof text);
    EXPECT_STREQ(text, "telnet");
    window.key(editor, VK_TAB);

    // Serial Port, then the fixed choice lists up to Protocol, then When
    // busy (the Client is not edited).
    const int columns[] = {COLUMN_COMPORT, COLUMN_BAUDRATE, COLUMN_HANDSHAKE, COLUMN_PARITY, COLUMN_STOPBITS,
                           COLUMN_DTRO,    COLUMN_DTRC,     COLUMN_PROTOCOL,  COLUMN_BUSY};
    const int counts[] = {-1, 9, 3, 3, 2, 2, 2, 2, 3};
    const int current[] = {0, 4, 2, 2, 0, 0, 0, 0, 0};
    HWND combo = nullptr;
    for (int index = 0; index < static_cast<int>(std::size(columns)); ++index) {
        const int column = columns[index];
        HWND previous = combo;
        ASSERT_TRUE(wait_until([&] {
            combo = window.editor(IDC_CELL_CHOICE_EDITOR);
            return combo && combo != previous && window.onUi([] { return GetFocus(); }) == combo;
        })) << column;
        if (counts[index] > 0) {
            EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), counts[index]) << column;
        }
        EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), current[index]) << column;
        EXPECT_TRUE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0)) << column;
        window.key(combo, VK_TAB);
    }
    // Listen and Allow take only what their checks accept; Tab on Allow
    // ends editing, and the Client is never edited.
    HWND line = nullptr;
    for (const char* typed : {" ::1 ", "10.0.0.0/33"}) {
        HWND previous = line;
        ASSERT_TRUE(wait_until([&] {
            line = window.editor(IDC_CELL_TEXT_EDITOR);
            return line && line != previous && window.onUi([] { return GetFocus(); }) == line;
        })) << typed;
        window.type(line, typed);
        window.key(line, VK_TAB);
    }
    EXPECT_TRUE(wait_until([&] {
        return window.editor(IDC_CELL_CHOICE_EDITOR) == nullptr && window.editor(IDC_CELL_TEXT_EDITOR) == nullptr;
    }));
    EXPECT_EQ(window.cell(0, COLUMN_DTRC), "No");
    EXPECT_EQ(window.cell(0, COLUMN_PROTOCOL), "Raw");
    EXPECT_EQ(window.cell(0, COLUMN_BUSY), "Queue");
    EXPECT_EQ(window.cell(0, COLUMN_LISTEN), "::1");
    EXPECT_EQ(window.cell(0, COLUMN_ALLOW), "");
    EXPECT_EQ(window.cell(0, COLUMN_BAUDRATE), "19200");
}

TEST_F(ServiceListTest, ChoiceEditorOffersTheRatesInOrderAndCommitsTheHighlightedOne)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    window.clickCell(0, COLUMN_BAUDRATE);
    HWND combo = waitEditor(IDC_CELL_CHOICE_EDITOR);
    ASSERT_NE(combo, nullptr);
    const std::string rates[] = {"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200", "230400"};
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 9);
    for (int i = 0; i < 9; ++i) {
        char text[16] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(text, rates[i]);
    }
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 4);
    // The list's font; the dropped-down list is at least as wide as the
    // editor and holds the widest rate beside a scroll bar.
    const auto font = SendMessageA(window.list(), WM_GETFONT, 0, 0);
    EXPECT_EQ(SendMessageA(combo, WM_GETFONT, 0, 0), font);
    RECT editorRect{};
    GetWindowRect(combo, &editorRect);
    const LRESULT dropped = SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0);
    EXPECT_GE(dropped, editorRect.right - editorRect.left);
    const LONG widest = window.onUi([&] {
        HDC dc = GetDC(combo);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(font));
        SIZE size{};
        GetTextExtentPoint32A(dc, "230400", 6, &size);
        SelectObject(dc, old);
        ReleaseDC(combo, dc);
        return size.cx;
    });
    EXPECT_GE(dropped, widest + GetSystemMetrics(SM_CXVSCROLL));
    window.key(combo, VK_DOWN);
    ASSERT_TRUE(wait_until([&] { return SendMessageA(combo, CB_GETCURSEL, 0, 0) == 5; }));
    window.key(combo, VK_RETURN);
    ASSERT_TRUE(cellBecomes(0, COLUMN_BAUDRATE, "38400"));
    EXPECT_EQ(field(0, COLUMN_BAUDRATE), "38400");
    ASSERT_TRUE(wait_until([&] { return window.editor(IDC_CELL_CHOICE_EDITOR) == nullptr; }));

    // Escape leaves it alone.
    window.clickCell(0, COLUMN_PARITY);
    combo = waitEditor(IDC_CELL_CHOICE_EDITOR);
    ASSERT_NE(combo, nullptr);
    window.key(combo, VK_UP);
    ASSERT_TRUE(wait_until([&] { return SendMessageA(combo, CB_GETCURSEL, 0, 0) == 1; }));
    window.key(combo, VK_ESCAPE);
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_CHOICE_EDITOR) == nullptr; }));
    EXPECT_EQ(window.cell(0, COLUMN_PARITY), "None");
    EXPECT_TRUE(IsWindow(window.hwnd()));
}

// The Baud Rate drop-down opened on "19200" (choice 4), its highlight moved
// by keys or by the mouse pointer, then closed one way or another.
struct ChoiceClosing {
    const char* name;
    std::vector<std::pair<UINT, int>> moves; // (VK_DOWN/VK_UP, 0) or (WM_MOUSEMOVE, choice)
    enum How { ClickOutside, FocusAway, Enter, Escape, Tab, ClickChoice } how;
    int clicked; // for ClickChoice
    const char* expected;
};

TEST_F(ServiceListTest, ChoiceEditorCommitsTheHighlightedChoiceHoweverItClosesButEscape)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    const ChoiceClosing cases[] = {
        {"keys, click outside", {{VK_DOWN, 0}, {VK_DOWN, 0}}, ChoiceClosing::ClickOutside, 0, "57600"},
        {"hover, click outside", {{WM_MOUSEMOVE, 1}}, ChoiceClosing::ClickOutside, 0, "4800"},
        {"key then hover, click outside", {{VK_DOWN, 0}, {WM_MOUSEMOVE, 2}}, ChoiceClosing::ClickOutside, 0, "9600"},
        {"hover then key, click outside", {{WM_MOUSEMOVE, 2}, {VK_DOWN, 0}}, ChoiceClosing::ClickOutside, 0, "14400"},
        {"key, focus away", {{VK_UP, 0}}, ChoiceClosing::FocusAway, 0, "14400"},
        {"hover, focus away", {{WM_MOUSEMOVE, 6}}, ChoiceClosing::FocusAway, 0, "57600"},
        {"keys, Enter", {{VK_DOWN, 0}, {VK_DOWN, 0}}, ChoiceClosing::Enter, 0, "57600"},
        {"hover, Enter", {{WM_MOUSEMOVE, 7}}, ChoiceClosing::Enter, 0, "115200"},
        {"hover, Tab", {{WM_MOUSEMOVE, 0}}, ChoiceClosing::Tab, 0, "2400"},
        {"hover, click on it", {{WM_MOUSEMOVE, 3}}, ChoiceClosing::ClickChoice, 3, "14400"},
        {"click on a choice", {}, ChoiceClosing::ClickChoice, 2, "9600"},
        {"nothing moved, click outside", {}, ChoiceClosing::ClickOutside, 0, "19200"},
        {"key, Escape", {{VK_DOWN, 0}}, ChoiceClosing::Escape, 0, "19200"},
        {"hover, Escape", {{WM_MOUSEMOVE, 1}}, ChoiceClosing::Escape, 0, "19200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window.onUi([&] { window.dialog().table().applyCellEdit({0, COLUMN_BAUDRATE, "19200", END_KEY_NONE}); });
        ASSERT_EQ(window.cell(0, COLUMN_BAUDRATE), "19200");
        window.clickCell(0, COLUMN_BAUDRATE);
        HWND combo = waitEditor(IDC_CELL_CHOICE_EDITOR);
        ASSERT_NE(combo, nullptr);
        HWND dropped = window.droppedList(combo);
        ASSERT_NE(dropped, nullptr);
        auto highlighted = [&] { return static_cast<int>(SendMessageA(dropped, LB_GETCURSEL, 0, 0)); };
        ASSERT_TRUE(wait_until([&] { return IsWindowVisible(dropped) && highlighted() == 4; }));
        auto choiceAt = [&](int choice) {
            RECT r{};
            SendMessageA(dropped, LB_GETITEMRECT, static_cast<WPARAM>(choice), reinterpret_cast<LPARAM>(&r));
            return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        };
        for (const auto& [move, choice] : c.moves) {
            const int expected = move == VK_DOWN ? highlighted() + 1 : move == VK_UP ? highlighted() - 1 : choice;
            if (move == WM_MOUSEMOVE) {
                const POINT at = choiceAt(choice);
                PostMessageA(dropped, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
            } else {
                window.key(combo, move);
            }
            ASSERT_TRUE(wait_until([&] { return highlighted() == expected; })) << highlighted();
        }
        switch (c.how) {
        case ChoiceClosing::ClickOutside: {
            // Over the Add button: the dropped list has the mouse, so the
            // click comes to it, outside its own area.
            RECT add{};
            GetWindowRect(window.item(IDC_ADD), &add);
            POINT at{(add.left + add.right) / 2, (add.top + add.bottom) / 2};
            ScreenToClient(dropped, &at);
            ASSERT_EQ(window.onUi([] { return GetCapture(); }), dropped);
            window.click(dropped, at);
            break;
        }
        case ChoiceClosing::FocusAway:
            window.onUi([&] { SetFocus(window.item(IDC_AUTOSTART)); });
            break;
        case ChoiceClosing::Enter:
            window.key(combo, VK_RETURN);
            break;
        case ChoiceClosing::Escape:
            window.key(combo, VK_ESCAPE);
            break;
        case ChoiceClosing::Tab:
            window.key(combo, VK_TAB);
            break;
        case ChoiceClosing::ClickChoice:
            window.click(dropped, choiceAt(c.clicked));
            break;
        }
        ASSERT_TRUE(wait_until([&] { return !IsWindow(combo); }));
        if (c.how == ChoiceClosing::Tab) { // the Handshake editor is next
            HWND next = waitEditor(IDC_CELL_CHOICE_EDITOR);
            ASSERT_NE(next, nullptr);
            window.key(next, VK_ESCAPE);
            ASSERT_TRUE(wait_until([&] { return !IsWindow(next); }));
        }
        EXPECT_EQ(window.cell(0, COLUMN_BAUDRATE), c.expected);
        EXPECT_EQ(field(0, COLUMN_BAUDRATE), c.expected);
        EXPECT_EQ(window.cell(0, COLUMN_HANDSHAKE), "None");
    }
}

TEST_F(ServiceListTest, SerialPortThatIsGoneOpensTheFreshListWithNothingHighlighted)
{
    openWith(configuration(1, service(1, "Board", "telnet", "LPT1")));
    window.clickCell(0, COLUMN_COMPORT);
    HWND combo = waitEditor(IDC_CELL_CHOICE_EDITOR);
    ASSERT_NE(combo, nullptr);
    EXPECT_FALSE(window.onUi([&] { return window.dialog().table().portsStale(); })); // scanned
    ASSERT_GT(SendMessageA(combo, CB_GETCOUNT, 0, 0), 0);
    char first[16] = {};
    SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
    EXPECT_EQ(std::string(first).rfind("COM", 0), 0u) << first;
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_TRUE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0));
    window.key(combo, VK_RETURN); // closed with no choice
    ASSERT_TRUE(wait_until([&] { return window.editor(IDC_CELL_CHOICE_EDITOR) == nullptr; }));
    EXPECT_EQ(window.cell(0, COLUMN_COMPORT), "LPT1");
    EXPECT_EQ(field(0, COLUMN_COMPORT), "LPT1");
}

TEST_F(ServiceListTest, ShiftTabAlsoMovesToTheRight)
{
    openWith(configuration(1, service(1, "Board", "2001", "COM1")));
    HWND editor = editName(0, "Shifted");
    ASSERT_NE(editor, nullptr);
    auto shift = [&](bool down) {
        window.onUi([&] {
            BYTE keys[256] = {};
            GetKeyboardState(keys);
            keys[VK_SHIFT] = down ? 0x80 : 0;
            SetKeyboardState(keys);
        });
    };
    shift(true);
    window.key(editor, VK_TAB);
    HWND next = nullptr;
    const bool moved = wait_until([&] {
        next = window.editor(IDC_CELL_TEXT_EDITOR);
        return next && next != editor;
    });
    shift(false);
    ASSERT_TRUE(moved);
    char text[64] = {};
    GetWindowTextA(next, text, sizeof text);
    EXPECT_STREQ(text, "2001");
    EXPECT_EQ(window.cell(0, COLUMN_NAME), "Shifted");
    window.key(next, VK_ESCAPE);
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));
    EXPECT_TRUE(IsWindow(window.hwnd()));
}

TEST_F(ServiceListTest, SpaceDeleteAndHeaderClicksWithoutRowsToActOnDoNothing)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    window.onUi([&] { window.dialog().list().takeFocus(); });
    ASSERT_EQ(window.selectedRow(), -1);
    window.key(window.list(), VK_SPACE);
    window.key(window.list(), VK_DELETE);
    window.clickHeader(COLUMN_NAME); // a single row is not sorted
    window.flush();
    EXPECT_EQ(window.editor(IDC_CELL_TEXT_EDITOR), nullptr);
    EXPECT_EQ(window.rowCount(), 1);
    EXPECT_EQ(window.onUi([&] { return window.dialog().table().sortColumn(); }), -1);
}

TEST_F(ServiceListTest, OpenEditorCommitsBeforeTheWheelADividerDragAnotherCellOrASort)
{
    openWith(configuration(2, service(1, "b", "telnet", "COM1") + service(2, "a", "telnet", "COM1")));
    HWND header = reinterpret_cast<HWND>(SendMessageA(window.list(), LVM_GETHEADER, 0, 0));

    // The wheel turned over the editor reaches the list.
    HWND editor = editName(0, "Wheel");
    ASSERT_NE(editor, nullptr);
    PostMessageA(editor, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
    EXPECT_TRUE(cellBecomes(0, COLUMN_NAME, "Wheel"));
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));

    // A click on another cell commits and opens that one.
    editor = editName(0, "Zeta");
    ASSERT_NE(editor, nullptr);
    window.clickCell(1, COLUMN_TCPIP);
    EXPECT_TRUE(cellBecomes(0, COLUMN_NAME, "Zeta"));
    HWND port = nullptr;
    ASSERT_TRUE(wait_until([&] {
        port = window.editor(IDC_CELL_TEXT_EDITOR);
        return port && port != editor;
    }));
    SendMessageA(port, EM_SETSEL, 0, -1);
    window.type(port, "2001");
    ASSERT_TRUE(wait_until([&] { return GetWindowTextLengthA(port) == 4; }));

    // Taking hold of a column divider.
    RECT divider{};
    SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&divider));
    const LPARAM at = MAKELPARAM(divider.right - 1, (divider.top + divider.bottom) / 2);
    PostMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(header, WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(cellBecomes(1, COLUMN_TCPIP, "2001"));
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));

    // A header click: the committed name takes part in the sort
    // ("Alpha" < "Zeta"; the old "a" would sort after "Zeta").
    ASSERT_NE(editName(1, "Alpha"), nullptr);
    window.clickHeader(COLUMN_NAME);
    EXPECT_TRUE(cellBecomes(0, COLUMN_NAME, "Alpha"));
    EXPECT_EQ(window.cell(1, COLUMN_NAME), "Zeta");
    EXPECT_EQ(field(0, COLUMN_TCPIP), "2001");
}

TEST_F(ServiceListTest, OpenEditorCommitsWhenTheListScrollsOrAButtonIsPressed)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    window.clickCell(0, COLUMN_NAME);
    HWND editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    SendMessageA(editor, EM_SETSEL, 0, -1);
    window.type(editor, "Scrolled");
    PostMessageA(window.list(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_TRUE(cellBecomes(0, COLUMN_NAME, "Scrolled"));
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));
}

TEST_F(ServiceListTest, ClosingWithAnEditorOpenCommitsItBeforeSaving)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    window.clickCell(0, COLUMN_NAME);
    HWND editor = waitEditor(IDC_CELL_TEXT_EDITOR);
    ASSERT_NE(editor, nullptr);
    SendMessageA(editor, EM_SETSEL, 0, -1);
    window.type(editor, "Closing");
    ASSERT_TRUE(wait_until([&] { return GetWindowTextLengthA(editor) == 7; }));
    PostMessageA(window.hwnd(), WM_COMMAND, IDCANCEL, 0); // the close box
    ASSERT_TRUE(window.waitClosed());
    EXPECT_NE(read_file(configPath()).find("name      = Closing\r\n"), std::string::npos);
}

TEST_F(ServiceListTest, SessionEndWithAnEditorOpenCommitsItBeforeSaving)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    HWND editor = editName(0, "Leaving");
    ASSERT_NE(editor, nullptr);
    SendMessageA(window.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_NE(read_file(configPath()).find("name      = Leaving\r\n"), std::string::npos) << read_file(configPath());
    EXPECT_EQ(window.cell(0, COLUMN_NAME), "Leaving");
    EXPECT_TRUE(wait_until([&] { return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr; }));
    EXPECT_TRUE(IsWindow(window.hwnd()));
}

TEST_F(ServiceListTest, EnterOnTheListPressesAddAndEscapeEndsTheManager)
{
    ASSERT_TRUE(window.open());
    window.onUi([&] { window.dialog().list().takeFocus(); });
    window.key(window.list(), VK_RETURN);
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 1; }));
    window.key(window.list(), VK_ESCAPE);
    ASSERT_TRUE(window.waitClosed());
    EXPECT_NE(read_file(configPath()).find("services   = 1\r\n"), std::string::npos);
}

TEST_F(ServiceListTest, HeaderClicksSortByPlainTextAndTheSelectionKeepsItsService)
{
    openWith(configuration(4, service(1, "b", "9600", "COM10") + service(2, "A", "2400", "COM2")
                                  + service(3, "a", "115200", "COM1") + service(4, "", "14400", "COM3")));
    select(1); // "A"
    window.clickHeader(COLUMN_NAME);
    ASSERT_TRUE(cellBecomes(0, COLUMN_NAME, ""));
    EXPECT_EQ(window.cell(1, COLUMN_NAME), "A");
    EXPECT_EQ(window.cell(2, COLUMN_NAME), "a");
    EXPECT_EQ(window.cell(3, COLUMN_NAME), "b");
    EXPECT_EQ(field(3, COLUMN_TCPIP), "9600"); // records move with their rows
    EXPECT_EQ(window.selectedRow(), 1);

    window.clickHeader(COLUMN_NAME);
    ASSERT_TRUE(cellBecomes(0, COLUMN_NAME, "b"));
    EXPECT_EQ(window.cell(3, COLUMN_NAME), "");
    EXPECT_EQ(window.cell(window.selectedRow(), COLUMN_NAME), "A");

    window.clickHeader(COLUMN_COMPORT);
    ASSERT_TRUE(cellBecomes(0, COLUMN_COMPORT, "COM1"));
    EXPECT_EQ(window.cell(1, COLUMN_COMPORT), "COM10");
    EXPECT_EQ(window.cell(2, COLUMN_COMPORT), "COM2");
    EXPECT_TRUE(window.onUi([&] { return window.dialog().table().sortAscending(); }));
}

TEST_F(ServiceListTest, ClickBelowTheLastRowClearsTheSelectionKeepsTheFocusedRowAndOpensNothing)
{
    openWith(configuration(2, service(1, "one", "1", "COM1") + service(2, "two", "2", "COM1")));
    auto focusedRow = [&] {
        return static_cast<int>(SendMessageA(window.list(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    };
    auto rowButtons = [&] {
        return std::string() + (window.enabled(IDC_DELETE) ? "D" : "-") + (window.enabled(IDC_START) ? "S" : "-")
            + (window.enabled(IDC_STOP) ? "T" : "-") + (window.enabled(IDC_RESTART) ? "R" : "-");
    };
    // Below the last row, in the Name column and in the Status column.
    auto clickBelow = [&](int column) {
        RECT last{}, cell{}, client{};
        last.left = LVIR_BOUNDS;
        SendMessageA(window.list(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&last));
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        SendMessageA(window.list(), LVM_GETSUBITEMRECT, 1, reinterpret_cast<LPARAM>(&cell));
        GetClientRect(window.list(), &client);
        const POINT at{cell.left + 10, last.bottom + (last.bottom - last.top)};
        ASSERT_LT(at.y, client.bottom);
        window.click(window.list(), at);
        window.flush();
    };
    auto noEditor = [&] {
        return window.editor(IDC_CELL_TEXT_EDITOR) == nullptr && window.editor(IDC_CELL_CHOICE_EDITOR) == nullptr;
    };

    // Nothing selected: nothing changes, and the list takes the focus.
    clickBelow(COLUMN_NAME);
    EXPECT_EQ(window.selectedRow(), -1);
    EXPECT_EQ(focusedRow(), -1);
    EXPECT_EQ(rowButtons(), "----");
    EXPECT_TRUE(noEditor());
    EXPECT_EQ(window.onUi([] { return GetFocus(); }), window.list());

    // A selected row loses its selection but keeps the focus rectangle; the
    // buttons follow the empty selection.
    for (int column : {COLUMN_NAME, COLUMN_STATUS, COLUMN_DTRC}) {
        SCOPED_TRACE(column);
        window.clickCell(1, COLUMN_STATUS);
        ASSERT_TRUE(wait_until([&] { return window.selectedRow() == 1 && rowButtons() == "DS--"; }));
        clickBelow(column);
        EXPECT_TRUE(wait_until([&] { return window.selectedRow() == -1; }));
        EXPECT_EQ(focusedRow(), 1);
        EXPECT_EQ(rowButtons(), "----");
        EXPECT_TRUE(noEditor());
        EXPECT_EQ(window.cell(1, COLUMN_NAME), "two");
    }

    // With an editor open, the click commits it first.
    ASSERT_NE(editName(0, "first"), nullptr);
    clickBelow(COLUMN_NAME);
    EXPECT_TRUE(cellBecomes(0, COLUMN_NAME, "first"));
    EXPECT_TRUE(wait_until(noEditor));
    EXPECT_EQ(window.selectedRow(), -1);
    EXPECT_EQ(focusedRow(), 0);
    EXPECT_EQ(rowButtons(), "----");
}

TEST_F(ServiceListTest, ContextMenuGreysByRowStateAndRunsTheChosenCommand)
{
    openWith(configuration(1, service(1, "Board", "telnet", "COM1")));
    HWND menu = menuByClick(0);
    ASSERT_NE(menu, nullptr);
    HMENU items = itemsOf(menu);
    EXPECT_EQ(window.selectedRow(), 0); // the right click selected the row
    // Every item and separator in its place (0: a separator).
    const std::pair<int, const char*> expected[] = {
        {1, "&Start Service"}, {2, "St&op Service"}, {3, "&Restart Service"}, {0, ""},
        {4, "Start All Services"}, {5, "Stop All Services"}, {6, "Restart All Services"}, {0, ""},
        {7, "&Add Service"}, {8, "&Delete Service"}, {0, ""},
        {10, "Refresh Serial Ports list"}, {0, ""},
        {11, "Reset Column widths"},
    };
    ASSERT_EQ(GetMenuItemCount(items), static_cast<int>(std::size(expected)));
    for (UINT i = 0; i < std::size(expected); ++i) {
        const auto [id, text] = expected[i];
        char actual[64] = {};
        GetMenuStringA(items, i, actual, sizeof actual, MF_BYPOSITION);
        EXPECT_EQ((GetMenuState(items, i, MF_BYPOSITION) & MF_SEPARATOR) != 0, id == 0) << i;
        if (id) {
            EXPECT_EQ(GetMenuItemID(items, static_cast<int>(i)), static_cast<UINT>(id)) << i;
            EXPECT_STREQ(actual, text) << i;
        }
    }
    EXPECT_FALSE(greyed(items, CMD_START_SERVICE));
    EXPECT_TRUE(greyed(items, CMD_STOP_SERVICE));
    EXPECT_TRUE(greyed(items, CMD_RESTART_SERVICE));
    EXPECT_FALSE(greyed(items, CMD_START_ALL));
    EXPECT_FALSE(greyed(items, CMD_DELETE_SERVICE));
    EXPECT_FALSE(greyed(items, CMD_RESET_COLUMNS));
    ASSERT_TRUE(dismiss(menu));
    EXPECT_EQ(window.rowCount(), 1);

    // The context-menu key opens it too; "&Add Service" appends a row.
    menu = menuByKey();
    ASSERT_NE(menu, nullptr);
    window.type(menu, "a");
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 2; }));

    // "Reset Column widths".
    SendMessageA(window.list(), LVM_SETCOLUMNWIDTH, 1, 160);
    menu = menuByClick(0);
    ASSERT_NE(menu, nullptr);
    items = itemsOf(menu);
    // Down walks over the items but not the separators, one key at a time,
    // to the last one. The menu opens at the mouse pointer, so the pointer
    // is on its edge, and a pointer event that comes late (as under load)
    // takes the highlight away; the walk then starts again from the top.
    const int count = GetMenuItemCount(items);
    auto highlighted = [&] {
        for (int i = 0; i < count; ++i)
            if (GetMenuState(items, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE)
                return i;
        return -1;
    };
    for (int step = 0; step < 3 * count && highlighted() != count - 1; ++step) {
        const int before = highlighted();
        window.key(menu, VK_DOWN);
        wait_until([&] { return highlighted() != before && highlighted() >= 0; }, 5000);
        const int now = highlighted();
        EXPECT_FALSE(now >= 0 && (GetMenuState(items, static_cast<UINT>(now), MF_BYPOSITION) & MF_SEPARATOR)) << step;
    }
    ASSERT_EQ(GetMenuItemID(items, highlighted()), static_cast<UINT>(CMD_RESET_COLUMNS));
    // The pointer rests on that item while Enter chooses it, so that any
    // late pointer event highlights the same item.
    POINT pointer{};
    GetCursorPos(&pointer);
    RECT item{};
    ASSERT_TRUE(GetMenuItemRect(nullptr, items, static_cast<UINT>(count - 1), &item));
    SetCursorPos((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    EXPECT_TRUE(wait_until([&] { return highlighted() == count - 1; }));
    window.key(menu, VK_RETURN);
    EXPECT_TRUE(wait_until([&] { return SendMessageA(window.list(), LVM_GETCOLUMNWIDTH, 1, 0) == 60; }));
    SetCursorPos(pointer.x, pointer.y);
}

TEST_F(ServiceListTest, ContextMenuWithoutRowsOrWithoutASelectionOffersOnlyTheGeneralItems)
{
    ASSERT_TRUE(window.open());
    HWND menu = menuByKey();
    ASSERT_NE(menu, nullptr);
    HMENU items = itemsOf(menu);
    for (int id : {1, 2, 3, 4, 5, 6, 8})
        EXPECT_TRUE(greyed(items, id)) << id;
    for (int id : {7, 10, 11})
        EXPECT_FALSE(greyed(items, id)) << id;
    ASSERT_TRUE(dismiss(menu));

    window.command(IDC_ADD);
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 1; }));
    ASSERT_EQ(window.selectedRow(), -1);
    menu = menuByKey();
    ASSERT_NE(menu, nullptr);
    items = itemsOf(menu);
    for (int id : {1, 2, 3, 8})
        EXPECT_TRUE(greyed(items, id)) << id;
    for (int id : {4, 5, 6, 7, 10, 11})
        EXPECT_FALSE(greyed(items, id)) << id;
    ASSERT_TRUE(dismiss(menu));
    EXPECT_EQ(window.rowCount(), 1);

    // Opened with the key for a selected row, the menu opens at the mouse
    // pointer all the same.
    select(0);
    const POINT pointer = window.onUi([] {
        POINT p{};
        GetCursorPos(&p);
        return p;
    });
    RECT row{};
    row.left = LVIR_BOUNDS;
    SendMessageA(window.list(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    MapWindowPoints(window.list(), nullptr, reinterpret_cast<POINT*>(&row), 2);
    ASSERT_FALSE(PtInRect(&row, pointer)); // the two places differ
    menu = menuByKey();
    ASSERT_NE(menu, nullptr);
    RECT at{};
    GetWindowRect(menu, &at);
    EXPECT_EQ(at.left, pointer.x);
    EXPECT_EQ(at.top, pointer.y);
    ASSERT_TRUE(dismiss(menu));
}

TEST_F(ServiceListTest, DeleteKeyRemovesTheSelectedStoppedServiceAndSelectsTheNext)
{
    openWith(configuration(3, service(1, "one", "1", "COM1") + service(2, "two", "2", "COM1")
                                  + service(3, "three", "3", "COM1")));
    select(2);
    window.key(window.list(), VK_DELETE);
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 2; }));
    EXPECT_EQ(window.selectedRow(), 1); // the last row was deleted: the one before it
    EXPECT_EQ(window.cell(1, COLUMN_NAME), "two");
    window.command(IDC_DELETE);
    ASSERT_TRUE(wait_until([&] { return window.rowCount() == 1; }));
    EXPECT_EQ(window.cell(0, COLUMN_NAME), "one");
    EXPECT_EQ(window.selectedRow(), 0);
    EXPECT_TRUE(window.enabled(IDC_DELETE));
}

TEST_F(ServiceListTest, StartRunsAWorkerOnLoopbackAndStopEndsIt)
{
    const int port = freeLoopbackPort();
    ASSERT_GT(port, 0);
    // COM9 has no device behind it under Wine, though the platform lists it.
    openWith(configuration(2, service(1, "Board", std::to_string(port), "COM9") + service(2, "Bad", "1 2", "COM9")));
    select(1);
    EXPECT_TRUE(window.enabled(IDC_START));
    window.command(IDC_START);
    ASSERT_TRUE(cellBecomes(1, COLUMN_STATUS, "Error: Invalid TCP/IP Port specified"));
    EXPECT_TRUE(window.enabled(IDC_START));

    select(0);
    window.command(IDC_START);
    ASSERT_TRUE(cellBecomes(0, COLUMN_STATUS, "Active"));
    EXPECT_TRUE(wait_until([&] { return window.enabled(IDC_STOP) && window.enabled(IDC_RESTART); }));
    EXPECT_FALSE(window.enabled(IDC_START));
    EXPECT_FALSE(window.enabled(IDC_DELETE));
    EXPECT_NE(window.onUi([&] { return window.dialog().table().workerTimer(); }), 0);

    // The serial side cannot open COM9; the client is told so. The Client
    // column shows it while it is connected.
    const std::string line = firstLineFrom(port, 30000, [&] {
        EXPECT_TRUE(wait_until([&] { return window.cell(0, COLUMN_CLIENT).rfind("127.0.0.1 since ", 0) == 0; }))
            << window.cell(0, COLUMN_CLIENT);
    });
    EXPECT_EQ(line.rfind("Error", 0), 0u) << line;
    EXPECT_TRUE(cellBecomes(0, COLUMN_CLIENT, ""));

    // Restart runs a new worker for the same service.
    const DWORD first = window.onUi([&] { return window.dialog().table().record(0)->processInfo.id(); });
    window.command(IDC_RESTART);
    ASSERT_TRUE(wait_until([&] {
        return window.onUi([&] { return window.dialog().table().record(0)->processInfo.id(); }) != first;
    }, 30000));
    EXPECT_EQ(window.cell(0, COLUMN_STATUS), "Active");
    EXPECT_TRUE(running(0));

    // Delete on a running service does nothing.
    window.key(window.list(), VK_DELETE);
    window.flush();
    EXPECT_EQ(window.rowCount(), 2);

    // The menu of a running service.
    HWND menu = menuByKey();
    ASSERT_NE(menu, nullptr);
    HMENU items = itemsOf(menu);
    EXPECT_TRUE(greyed(items, CMD_START_SERVICE));
    EXPECT_TRUE(greyed(items, CMD_DELETE_SERVICE));
    EXPECT_FALSE(greyed(items, CMD_STOP_SERVICE));
    EXPECT_FALSE(greyed(items, CMD_RESTART_SERVICE));
    ASSERT_TRUE(dismiss(menu));
    EXPECT_TRUE(running(0));

    // Clearing the selection disables all four service buttons.
    select(-1);
    EXPECT_TRUE(wait_until([&] {
        return !window.enabled(IDC_DELETE) && !window.enabled(IDC_START) && !window.enabled(IDC_STOP)
            && !window.enabled(IDC_RESTART);
    }));
    EXPECT_TRUE(window.enabled(IDC_ADD));
    EXPECT_TRUE(window.enabled(IDC_HELP_BUTTON));
    select(0);

    window.command(IDC_STOP);
    ASSERT_TRUE(cellBecomes(0, COLUMN_STATUS, ""));
    EXPECT_FALSE(running(0));
    EXPECT_TRUE(wait_until([&] { return window.enabled(IDC_START) && !window.enabled(IDC_STOP); }));
    // With no worker left the next monitoring pass kills the timer.
    EXPECT_TRUE(wait_until([&] { return window.onUi([&] { return window.dialog().table().workerTimer(); }) == 0; }));
}

TEST_F(ServiceListTest, WorkerReportBecomesTheStatusAndSurvivesTheWorkersEnd)
{
    // Somebody else listens on the service's port: its worker, stored as
    // running, cannot bind it and reports why, then ends.
    port::SocketLibraryInfo sockets;
    ASSERT_EQ(port::socket_startup(sockets), 0);
    port::Socket taken = port::Socket::stream();
    ASSERT_TRUE(taken.valid() && taken.bind(0, 0) && taken.listen(1));
    openWith(configuration(1, service(1, "Board", std::to_string(taken.local_port()), "COM9", 1)));
    ASSERT_TRUE(cellBecomes(0, COLUMN_STATUS, "Error: bind: Address already in use"));
    const DWORD worker = window.onUi([&] { return window.dialog().table().record(0)->processInfo.id(); });
    ASSERT_NE(worker, 0u);

    // A report in the worker's name from another process (this one) is
    // not taken.
    COPYDATASTRUCT forged{};
    const std::string text = "forged";
    forged.dwData = worker;
    forged.cbData = static_cast<DWORD>(text.size() + 1);
    forged.lpData = const_cast<char*>(text.c_str());
    EXPECT_FALSE(SendMessageA(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&forged)));
    EXPECT_EQ(window.cell(0, COLUMN_STATUS), "Error: bind: Address already in use");

    // The worker has ended: the monitoring pass marks the service stopped
    // and keeps the report.
    ASSERT_TRUE(wait_until([&] { return !running(0); }, 30000));
    EXPECT_EQ(window.cell(0, COLUMN_STATUS), "Error: bind: Address already in use");
    select(0);
    EXPECT_TRUE(wait_until([&] { return window.enabled(IDC_START); }));
    taken.close();
    port::socket_cleanup();

    // Start replaces it with "Active"; closing the window stores it as
    // running and stops the worker.
    window.command(IDC_START);
    ASSERT_TRUE(cellBecomes(0, COLUMN_STATUS, "Active"));
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE,
                                 window.onUi([&] { return window.dialog().table().record(0)->processInfo.id(); }));
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(window.close());
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
    CloseHandle(process);
    EXPECT_NE(read_file(configPath()).find("active    = 1\r\n"), std::string::npos);
}
