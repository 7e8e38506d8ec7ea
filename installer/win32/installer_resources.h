// Resource numbers and control ids of the installer's dialogs.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_INSTALLER 102
#define IDR_MAINFRAME 128
#define IDD_PORT_SELECT 129
#define IDB_LOGO 130

// Progress dialog.
#define IDC_PROGRESS 1000
#define IDC_VERSION_TEXT 1001
#define IDC_STATUS_TEXT 1003

// Port dialog, radios in tab order: COM1, COM2, COM3, COM4, LPT1, LPT2, USB.
#define IDC_RADIO_COM1 1006
#define IDC_RADIO_COM2 1008
#define IDC_RADIO_COM3 1009
#define IDC_RADIO_COM4 1011
#define IDC_RADIO_LPT1 1007
#define IDC_RADIO_LPT2 1010
#define IDC_RADIO_USB 1001
