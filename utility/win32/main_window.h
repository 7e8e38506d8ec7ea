#pragma once

#include <windows.h>

#include "main_dialog.h"
#include "ui_bridge.h"

namespace tessaly::win32 {

// Runs the main dialog (resource 102) over the dialog logic until the user exits.
INT_PTR RunMainDialog(HINSTANCE instance, ui::MainDialog& logic, Worker& worker);

}  // namespace tessaly::win32
