// Poses the main window and the Help window for the screenshots in docs/.
// Not a test of its own (disabled); scripts/screenshots-windows.sh runs it
// and takes the pictures while it waits.

#include "harness.h"

#include <cstdio>
#include <cstdlib>

using namespace uitest;

namespace {

// Tells the script where the window is, then waits until it has taken the
// picture (bounded).
bool pose(HWND hwnd, const std::string& name)
{
    const char* dir = std::getenv("VANTREL_SHOTS_DIR");
    if (!dir)
        return false;
    RECT r{};
    GetWindowRect(hwnd, &r);
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    const std::string base = std::string(dir) + "\\" + name;
    write_file(base + ".tmp", geometry);
    MoveFileA((base + ".tmp").c_str(), (base + ".ready").c_str());
    return wait_until([&] { return GetFileAttributesA((base + ".done").c_str()) != INVALID_FILE_ATTRIBUTES; }, 120000);
}

} // namespace

TEST(Screenshots, DISABLED_MainAndHelpWindows)
{
    removeConfiguration();
    setManagerGlobals();
    const std::string port = std::to_string(freeLoopbackPort());
    auto section = [](int n, const char* name, const std::string& tcpip, const char* com, const char* baud,
                      const char* handshake, const char* more, int active) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "\n[Service%d]\nname      = %s\ntcpip     = %s\ncomport   = %s\nbaudrate  = %s\n"
                      "handshake = %s\nparity    = None\nstopbits  = 1\ndtro      = Yes\ndtrc      = No\n"
                      "%sactive    = %d\n",
                      n, name, tcpip.c_str(), com, baud, handshake, more, active);
        return std::string(text);
    };
    // The second service names a TCP service that does not exist: its
    // worker reports that; the second and third show the sharing and
    // protocol settings.
    write_file(configPath(), "[General]\nautostart = 1\nservices   = 3\nxpos      = 20\nypos      = 40\n"
                            "width     = 1380\nheigth    = 250\ncolumns   = 10\ncolumn0   = 90\n"
                            "column1   = 190\ncolumn2   = 80\ncolumn3   = 72\ncolumn4   = 72\n"
                            "column5   = 75\ncolumn6   = 50\ncolumn7   = 65\ncolumn8   = 45\ncolumn9   = 45\n"
                            "column10  = 65\ncolumn11  = 110\ncolumn12  = 75\ncolumn13  = 75\ncolumn14  = 100\n"
                                + section(1, "Eval board A", port, "COM1", "115200", "None", "", 1)
                                + section(2, "Eval board B", "bdm-debug", "COM2", "38400", "RTS/CTS",
                                          "busy      = Refuse\n", 1)
                                + section(3, "Spare board", "telnet", "COM3", "19200", "Xon/Xoff",
                                          "protocol  = RFC 2217\nlisten    = 127.0.0.1\nallow     = 192.168.1.0/24\n",
                                          0));

    uitest::ManagerWindow window;
    ASSERT_TRUE(window.open());
    ASSERT_TRUE(wait_until([&] { return window.cell(1, COLUMN_STATUS).rfind("Error", 0) == 0; }, 60000));
    window.onUi([&] {
        SetForegroundWindow(window.hwnd());
        window.dialog().list().takeFocus();
        window.dialog().list().selectRow(0);
        // A desktop without a window manager activates nothing: draw the
        // caption as the active window's.
        SendMessageA(window.hwnd(), WM_NCACTIVATE, TRUE, 0);
    });
    EXPECT_TRUE(pose(window.hwnd(), "manager"));

    window.command(IDC_HELP_BUTTON);
    HWND help = nullptr;
    ASSERT_TRUE(wait_until([&] { return (help = FindWindowA(nullptr, "Vantrel Server Help")) != nullptr; }));
    window.onUi([&] {
        SetForegroundWindow(help);
        SendMessageA(help, WM_NCACTIVATE, TRUE, 0);
    });
    EXPECT_TRUE(pose(help, "help"));

    EXPECT_TRUE(window.close());
    removeConfiguration();
}
