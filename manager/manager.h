#pragma once
// The manager's core in one include: the table of services, worker launch
// and supervision, serial port discovery, validation, the configuration
// file and autostart. No window code lives here; the two front ends
// (ui/qt, ui/win32) implement ManagerFrontEnd and call the operations of
// ServiceTable from their one user-interface thread. Each subject has its
// own header; code in the core includes just the ones it uses.

#include "manager/anchor_layout.h"
#include "manager/cell_editing.h"
#include "manager/commands.h"
#include "manager/front_end.h"
#include "manager/manager_globals.h"
#include "manager/service_record.h"
#include "manager/service_table.h"
#include "manager/window_placement.h"
