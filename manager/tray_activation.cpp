// The tray icon's activation rule.

#include "manager/tray_activation.h"

bool trayActivationRestores(TrayKind kind, TrayActivation activation)
{
    if (activation == TrayActivation::DoubleClick)
        return true;
    return kind == TrayKind::StatusNotifier && activation == TrayActivation::Click;
}
