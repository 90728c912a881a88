#pragma once
// The Qt window's resources: the icons and the help text compiled into the
// window library, and the program icon made of them.

#include <QIcon>

// Makes the window resources (icons, help text) available; called by the
// functions that use them, harmless to call again.
void initResources();

// The program icon at every size it was drawn for; also the tray icon.
QIcon programIcon();
