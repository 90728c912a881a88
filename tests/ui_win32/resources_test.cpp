// The compiled resources as the program carries them: the three dialog
// templates read back item by item, the tray menu, the About string, the
// icon and the version.

#include "harness.h"

#include "manager/about_text.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct DialogItem {
    DWORD style = 0, exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className; // predefined classes by their ordinal: "#128" is a button
    std::string title;     // an ordinal as "#n"
};

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    int cx = 0, cy = 0;
    std::string title;
    int pointSize = 0;
    std::string font;
    std::vector<DialogItem> items;
};

// Reads an extended dialog template (the layout every DIALOGEX compiles to).
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : start_(data), at_(data), end_(data + size) {}

    WORD word()
    {
        WORD value = 0;
        if (at_ + 2 <= end_)
            std::memcpy(&value, at_, 2);
        at_ += 2;
        return value;
    }
    DWORD dword()
    {
        const DWORD low = word();
        return low | static_cast<DWORD>(word()) << 16;
    }
    short coordinate() { return static_cast<short>(word()); }
    // A string or an ordinal.
    std::string nameOrOrdinal()
    {
        const WORD first = word();
        if (first == 0xFFFF) {
            std::string ordinal = std::to_string(word());
            return ordinal.insert(0, 1, '#');
        }
        std::string text;
        for (WORD c = first; c != 0 && at_ < end_; c = word())
            text += static_cast<char>(c);
        return text;
    }
    void alignDword()
    {
        while ((at_ - start_) % 4)
            ++at_;
    }
    bool overrun() const { return at_ > end_; }

private:
    const BYTE* start_;
    const BYTE* at_;
    const BYTE* end_;
};

DialogTemplate loadDialog(int id)
{
    DialogTemplate dialog;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    HGLOBAL data = info ? LoadResource(module, info) : nullptr;
    if (!data) {
        ADD_FAILURE() << "no dialog template " << id;
        return dialog;
    }
    TemplateReader in(static_cast<const BYTE*>(LockResource(data)), SizeofResource(module, info));
    const WORD version = in.word(), signature = in.word();
    if (version != 1 || signature != 0xFFFF) {
        ADD_FAILURE() << "dialog " << id << " is not an extended template";
        return dialog;
    }
    in.dword(); // help id
    dialog.exStyle = in.dword();
    dialog.style = in.dword();
    const int count = in.word();
    in.coordinate();
    in.coordinate();
    dialog.cx = in.coordinate();
    dialog.cy = in.coordinate();
    in.nameOrOrdinal(); // menu
    in.nameOrOrdinal(); // window class
    dialog.title = in.nameOrOrdinal();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.word();
        in.word(); // weight
        in.word(); // italic, character set
        dialog.font = in.nameOrOrdinal();
    }
    for (int i = 0; i < count && !in.overrun(); ++i) {
        in.alignDword();
        DialogItem item;
        in.dword(); // help id
        item.exStyle = in.dword();
        item.style = in.dword();
        item.x = in.coordinate();
        item.y = in.coordinate();
        item.cx = in.coordinate();
        item.cy = in.coordinate();
        item.id = static_cast<int>(in.dword());
        item.className = in.nameOrOrdinal();
        item.title = in.nameOrOrdinal();
        const WORD extra = in.word();
        for (WORD skipped = 0; skipped < extra; skipped += 2)
            in.word();
        dialog.items.push_back(item);
    }
    EXPECT_FALSE(in.overrun()) << "dialog " << id;
    EXPECT_EQ(static_cast<int>(dialog.items.size()), count) << "dialog " << id;
    return dialog;
}

bool has(DWORD style, DWORD bits)
{
    return (style & bits) == bits;
}

// A control's class, given in the template by its ordinal or by its name.
bool isClass(const DialogItem& item, const char* ordinal, const char* name)
{
    return item.className == ordinal || lstrcmpiA(item.className.c_str(), name) == 0;
}

const char* const kButton = "#128";
const char* const kStatic = "#130";

} // namespace

TEST(Resources, MainDialogTemplate)
{
    const DialogTemplate main = loadDialog(IDD_MAIN);
    EXPECT_EQ(main.cx, 449);
    EXPECT_EQ(main.cy, 117);
    EXPECT_EQ(main.font, "MS Sans Serif");
    EXPECT_EQ(main.pointSize, 8);
    EXPECT_TRUE(has(main.style, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | DS_CENTER));
    EXPECT_FALSE(main.style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(main.exStyle & WS_EX_APPWINDOW);

    struct Expected {
        int id;
        const char* className;
        const char* title;
        int x, y, cx, cy;
        DWORD type; // button type, or the list's view
    };
    const Expected expected[] = { // in tab order
        {IDC_ADD, kButton, "Add", 403, 8, 40, 14, BS_DEFPUSHBUTTON},
        {IDC_DELETE, kButton, "Delete", 403, 24, 40, 14, BS_PUSHBUTTON},
        {IDC_START, kButton, "Start", 403, 44, 40, 14, BS_PUSHBUTTON},
        {IDC_STOP, kButton, "Stop", 403, 60, 40, 14, BS_PUSHBUTTON},
        {IDC_RESTART, kButton, "Restart", 403, 76, 40, 14, BS_PUSHBUTTON},
        {IDC_HELP_BUTTON, kButton, "Help", 403, 97, 40, 14, BS_PUSHBUTTON},
        {IDC_SERVICE_LIST, WC_LISTVIEWA, "", 7, 8, 389, 82, LVS_REPORT},
        {IDC_AUTOSTART, kButton, "&Load automatically at system startup", 7, 96, 200, 10, BS_AUTOCHECKBOX},
    };
    ASSERT_EQ(main.items.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const DialogItem& item = main.items[i];
        const Expected& want = expected[i];
        EXPECT_EQ(item.id, want.id) << i;
        EXPECT_TRUE(isClass(item, want.className, want.className == kButton ? "Button" : WC_LISTVIEWA))
            << want.id << ": " << item.className;
        EXPECT_EQ(item.title, want.title) << want.id;
        EXPECT_EQ(item.x, want.x) << want.id;
        EXPECT_EQ(item.y, want.y) << want.id;
        EXPECT_EQ(item.cx, want.cx) << want.id;
        EXPECT_EQ(item.cy, want.cy) << want.id;
        EXPECT_TRUE(has(item.style, WS_CHILD | WS_VISIBLE | WS_TABSTOP)) << want.id;
        EXPECT_EQ(item.style & (want.id == IDC_SERVICE_LIST ? LVS_TYPEMASK : BS_TYPEMASK), want.type) << want.id;
    }
    const DialogItem& list = main.items[6];
    EXPECT_TRUE(has(list.style, LVS_SINGLESEL | WS_BORDER | WS_HSCROLL | WS_VSCROLL));
    EXPECT_FALSE(list.style & (LVS_EDITLABELS | LVS_SORTASCENDING | LVS_SORTDESCENDING | LVS_SHOWSELALWAYS));
    EXPECT_TRUE(list.exStyle & WS_EX_CLIENTEDGE);
}

TEST(Resources, AboutDialogTemplate)
{
    const DialogTemplate about = loadDialog(IDD_ABOUT);
    EXPECT_EQ(about.title, "About Vantrel Server");
    EXPECT_EQ(about.cx, 235);
    EXPECT_EQ(about.cy, 55);
    EXPECT_EQ(about.font, "MS Sans Serif");
    EXPECT_EQ(about.pointSize, 8);
    EXPECT_TRUE(has(about.style, DS_MODALFRAME | WS_CAPTION | WS_SYSMENU));
    ASSERT_EQ(about.items.size(), 4u);

    const DialogItem& icon = about.items[0];
    EXPECT_TRUE(isClass(icon, kStatic, "Static")) << icon.className;
    EXPECT_EQ(icon.style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(icon.title, "#128"); // IDI_MAIN
    EXPECT_EQ((std::vector<int>{icon.x, icon.y, icon.cx, icon.cy}), (std::vector<int>{11, 17, 20, 20}));

    const DialogItem& title = about.items[1];
    EXPECT_TRUE(isClass(title, kStatic, "Static")) << title.className;
    EXPECT_EQ(title.title, "BRAMBLE Vantrel Server\nVersion 1.0r5");
    EXPECT_TRUE(title.style & SS_NOPREFIX);
    EXPECT_EQ((std::vector<int>{title.x, title.y, title.cx, title.cy}), (std::vector<int>{40, 10, 119, 16}));

    const DialogItem& line = about.items[2];
    EXPECT_TRUE(isClass(line, kStatic, "Static")) << line.className;
    EXPECT_EQ(line.title, ABOUT_LINE_TEXT); // the Qt window shows the same line
    EXPECT_EQ((std::vector<int>{line.x, line.y, line.cx, line.cy}), (std::vector<int>{40, 35, 119, 8}));

    const DialogItem& ok = about.items[3];
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_TRUE(isClass(ok, kButton, "Button")) << ok.className;
    EXPECT_EQ(ok.title, "OK");
    EXPECT_EQ(ok.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ((std::vector<int>{ok.x, ok.y, ok.cx, ok.cy}), (std::vector<int>{178, 7, 50, 14}));
}

TEST(Resources, HelpDialogTemplate)
{
    const DialogTemplate help = loadDialog(IDD_HELP);
    EXPECT_EQ(help.title, "Vantrel Server Help");
    EXPECT_EQ(help.cx, 300);
    EXPECT_EQ(help.cy, 296);
    EXPECT_EQ(help.font, "MS Sans Serif");
    EXPECT_EQ(help.pointSize, 8);
    EXPECT_TRUE(has(help.style, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_FALSE(help.style & (WS_THICKFRAME | WS_MAXIMIZEBOX));
    EXPECT_TRUE(help.exStyle & WS_EX_CLIENTEDGE);
    ASSERT_EQ(help.items.size(), 1u);
    const DialogItem& text = help.items[0];
    EXPECT_EQ(text.id, IDC_HELP_TEXT);
    EXPECT_EQ(lstrcmpiA(text.className.c_str(), "RICHEDIT"), 0) << text.className;
    EXPECT_TRUE(has(text.style, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL));
    EXPECT_EQ((std::vector<int>{text.x, text.y, text.cx, text.cy}), (std::vector<int>{0, 0, 300, 296}));
}

TEST(Resources, TrayMenuAboutStringIconAndVersion)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 2);
    char text[64] = {};
    GetMenuStringA(popup, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Configure");
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(ID_TRAY_CONFIGURE));
    GetMenuStringA(popup, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "E&xit");
    EXPECT_EQ(GetMenuItemID(popup, 1), static_cast<UINT>(ID_TRAY_EXIT));
    DestroyMenu(menu);

    char about[64] = {};
    EXPECT_GT(LoadStringA(module, IDS_ABOUTBOX, about, sizeof about), 0);
    EXPECT_STREQ(about, "&About Vantrel Server...");

    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr) << size;
        if (icon)
            DestroyIcon(icon);
    }

    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, sizeof path);
    DWORD unused = 0;
    std::vector<char> version(GetFileVersionInfoSizeA(path, &unused));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(version.size()), version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(version.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 3));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 3));
    for (const char* key : {"FileVersion", "ProductVersion"}) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(VerQueryValueA(version.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
        EXPECT_STREQ(value, "1.0r5") << key;
    }
}
