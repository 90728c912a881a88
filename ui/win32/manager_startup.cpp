#include "ui/manager_startup.h"

#include "manager/manager.h"
#include "port/process.h"
#include "ui/win32/main_dialog.h"

#include <commctrl.h>

void managerStartup(int, char**)
{
    // One manager at a time; a second one ends without a word.
    if (!port::claim_single_instance(PRODUCT_PREFIX))
        return;

    LoadLibraryA("riched32.dll"); // the Help window's text control
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    managerGlobals.modulePath = port::module_path();
    managerGlobals.processId = port::current_process_id();
    managerGlobals.serviceCounter = 1;

    auto dialog = std::make_unique<win32::CMainDialog>();
    dialog->runModal(nullptr);
}
