// The entry of vantrel-ui.so, the library that holds the manager window.

#include "ui/manager_startup.h"
#include "ui/qt/library/window_library.h"

extern "C" __attribute__((visibility("default"))) int vantrel_window_main(int argc, char** argv)
{
    return managerStartup(argc, argv);
}
