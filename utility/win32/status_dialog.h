// Tessaly.exe's printer status dialog (IDD_PRINTER_STATUS) with its two tab pages.
#pragma once

#include <windows.h>

#include "main_dialog.h"
#include "ui_bridge.h"

namespace tessaly::win32 {

// Runs the dialog modally over the main dialog's open port until the user closes it.
INT_PTR RunStatusDialog(HWND parent, ui::MainDialog& main, Worker& worker);

}  // namespace tessaly::win32
