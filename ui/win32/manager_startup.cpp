// The manager's start-up on Windows: the one-manager claim, the controls
// the windows need, and the main window run modally until it ends.

#include "ui/manager_startup.h"

#include "manager/manager_globals.h"
#include "ui/win32/main_dialog.h"

#include <commctrl.h>

int managerStartup(int, char**)
{
    // One manager at a time; a second one ends without a word.
    if (!setUpManager())
        return 0;

    LoadLibraryA("riched32.dll"); // the Help window's text control
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    auto dialog = std::make_unique<win32::CMainDialog>();
    dialog->runModal(nullptr);
    return 0;
}
