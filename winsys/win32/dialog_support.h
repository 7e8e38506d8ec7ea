// Small pieces that the installer's and the uninstaller's dialogs share: the application icon
// and how a minimised dialog draws it, centring, control texts, and the status text and
// progress bar through which both show their run.
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

// A dialog's status text and progress bar as the installation and removal runs drive them:
// SetStatus only keeps the text and Refresh shows it, StepIt and SetPos move the bar at once.
class ProgressStatus {
  public:
    // Binds to the dialog's two controls and gives the bar the range 0 to 100 and its step.
    void Attach(HWND dialog, int textId, int barId, int step);
    void SetStatus(const std::string& text) { text_ = text; }
    const std::string& Status() const { return text_; }
    void StepIt() const;
    void SetPos(int position) const;
    void Refresh() const;

  private:
    HWND dialog_ = nullptr;
    int textId_ = 0;
    int barId_ = 0;
    std::string text_;
};

// Sets a control's text and repaints it now: the runs do not return to the message loop
// between their steps, so it would otherwise be painted only when they end.
void ShowTextNow(HWND dialog, int controlId, const std::string& text);

}  // namespace tessaly::winsys
