// The selector dialogs of the command test editor: code page (IDD_SELECT_CODEPAGE), line
// spacing (IDD_SELECT_RANGE) and NV image address (IDD_SELECT_ADDRESS). Each procedure is
// handed its dialog logic as the parameter of WM_INITDIALOG.
#pragma once

#include <windows.h>

namespace tessaly::win32 {

INT_PTR CALLBACK CodepageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RangeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AddressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tessaly::win32
