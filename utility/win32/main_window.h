// Tessaly.exe's main dialog (IDD_MAIN), which the program runs for its whole life.
//
// utility/win32/ is the Win32 face of the utility over the toolkit-free dialog logic of
// utility/ui: one file pair per dialog (main_window, status_dialog, command_editor, selectors,
// about), what they share (dialog_support) and the worker thread and UI bridge (ui_bridge).
#pragma once

#include <windows.h>

#include "main_dialog.h"
#include "ui_bridge.h"

namespace tessaly::win32 {

// Runs the main dialog (resource 102) over the dialog logic until the user exits.
INT_PTR RunMainDialog(HINSTANCE instance, ui::MainDialog& logic, Worker& worker);

}  // namespace tessaly::win32
