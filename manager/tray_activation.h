#pragma once
// What an activation of the tray icon does, by the kind of tray the
// desktop offers. A classic tray (the Windows notification area, XEmbed
// trays on Linux) reports single and double clicks; a StatusNotifier tray
// (KDE Plasma, GNOME with the AppIndicator extension) reports one
// activation per click and never a double click.

enum class TrayKind { Classic, StatusNotifier };
enum class TrayActivation { Click, DoubleClick, MiddleClick, ContextMenu };

// True when the activation restores the main window, as the menu's first
// item "&Configure" does: a double click on a classic tray, a click (or a
// double click, should one come) on a StatusNotifier tray. Nothing else
// restores; the context menu is the desktop's to show.
bool trayActivationRestores(TrayKind kind, TrayActivation activation);
