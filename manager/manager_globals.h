#pragma once
// The manager-wide values and the start-up that sets them, the part of the
// manager's start-up that both windows share.

#include "manager/product_texts.h"

#include <cstdint>
#include <string>

struct ManagerGlobals {
    std::string modulePath;      // the running executable, the worker's program
    uint32_t processId = 0;      // this manager's, part of every stop-event name
    int32_t serviceCounter = 1;  // the next stop-event number
};
extern ManagerGlobals managerGlobals;

// One manager at a time: claims the single instance under `instanceName`
// and, when this process now holds it, sets the manager-wide values (the
// executable's path, the process id, the counter at 1). False when another
// process holds the claim; the values are then left as they are.
bool setUpManager(const std::string& instanceName = PRODUCT_PREFIX);
