// Small pieces that the installer's and the uninstaller's dialogs share: the application icon
// and how a minimised dialog draws it.
#pragma once

#include <windows.h>

#include <string>

namespace tessaly::winsys {

struct AppIcons {
    HICON big = nullptr;    // 32 x 32
    HICON small = nullptr;  // 16 x 16
};

// Loads the icon resource in both sizes and makes it the dialog's big and small icon.
AppIcons SetDialogIcons(HWND dialog, HINSTANCE instance, int iconId);

// While the dialog is minimised, draws the icon centred in its client area and returns true;
// otherwise returns false and leaves painting to the default handling.
bool PaintMinimizedIcon(HWND dialog, HICON icon);

// Centres the dialog over its owner when the owner is visible, otherwise on the work area of
// its monitor, keeping it inside that work area (as dialog frameworks do on start-up).
void CenterDialog(HWND dialog);

// The text of a dialog control.
std::string ControlText(HWND dialog, int controlId);

}  // namespace tessaly::winsys
