// Tessaly.exe's About box (IDD_ABOUTBOX), opened from the main dialog's system menu.
#pragma once

#include <windows.h>

namespace tessaly::win32 {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM);

}  // namespace tessaly::win32
