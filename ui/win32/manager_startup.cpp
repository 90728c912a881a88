#include "ui/manager_startup.h"

void managerStartup(int, char**)
{
    // The window arrives with the Qt front end.
}
