// Tessaly.exe's command test editor (IDD_COMMAND_EDITOR) over the editor's dialog logic.
#pragma once

#include <windows.h>

#include "main_dialog.h"
#include "ui_bridge.h"

namespace tessaly::win32 {

// Runs the editor modally over the main dialog's open port until the user closes it.
INT_PTR RunCommandEditor(HWND parent, ui::MainDialog& main, Worker& worker);

}  // namespace tessaly::win32
