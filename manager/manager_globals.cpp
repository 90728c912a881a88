// The manager-wide values and their set-up at start.

#include "manager/manager_globals.h"

#include "port/named_event.h"
#include "port/process.h"
#include "port/single_instance.h"

ManagerGlobals managerGlobals;

bool setUpManager(const std::string& instanceName)
{
    if (!port::claim_single_instance(instanceName))
        return false;
    // Stop events of managers that were killed: nobody will remove them.
    port::remove_abandoned_events(instanceName);
    managerGlobals.modulePath = port::module_path();
    managerGlobals.processId = port::current_process_id();
    managerGlobals.serviceCounter = 1;
    return true;
}
