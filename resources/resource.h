#pragma once
// Resource identifiers of the Windows manager.

#define IDD_ABOUT 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDD_HELP 103
#define IDI_MAIN 128
#define IDR_TRAY_MENU 129
#define IDR_HELP_RTF 130

// The system-menu item that opens the About box.
#define IDM_ABOUTBOX 0x0010

#define ID_TRAY_CONFIGURE 32771
#define ID_TRAY_EXIT 32772

#define IDC_HELP_TEXT 1008
#define IDC_CELL_TEXT_EDITOR 1009
#define IDC_CELL_CHOICE_EDITOR 1010
#define IDC_SIZE_GRIP 32767
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The main window's controls; C++ code takes these from manager/command_ids.h.
#ifdef RC_INVOKED
#define IDC_SERVICE_LIST 1000
#define IDC_ADD 1001
#define IDC_DELETE 1002
#define IDC_START 1003
#define IDC_STOP 1004
#define IDC_RESTART 1005
#define IDC_HELP_BUTTON 1006
#define IDC_AUTOSTART 1007
#endif
