// Resource numbers and control ids of the uninstaller's dialog.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_UNINSTALLER 102
#define IDR_MAINFRAME 128

#define IDC_STATUS_TEXT 1000
#define IDC_UNINSTALL 1001
#define IDC_PROGRESS 1002
#define IDC_PRINTER_LIST 1006

// Sent by the check list (WM_COMMAND) when a line's check box changes.
#define CLBN_CHKCHANGE 40
