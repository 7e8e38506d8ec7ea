// What Tessaly.exe's dialogs share: the program's instance, combo box and control helpers,
// the owner of message boxes and the worker's idle handler while a dialog is on top, the
// common file dialogs, and how a dialog procedure finds the object it works for.
#pragma once

#include <windows.h>

#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command_test_editor.h"
#include "ui_bridge.h"

namespace tessaly::win32 {

// The program's instance, which the dialogs load their resources from.
extern HINSTANCE appInstance;

// A control's text in UTF-8, as the dialog logic keeps text, and back.
std::string WindowTextUtf8(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);
void FillCombo(HWND dialog, int id, const std::vector<std::string>& entries);
template <typename Names>
std::vector<std::string> Texts(const Names& names) {
    return std::vector<std::string>(std::begin(names), std::end(names));
}
void Select(HWND dialog, int id, int index);
int Selection(HWND dialog, int id);
void Enable(HWND dialog, int id, bool on);

// The owner of message boxes follows the dialog the user works in.
class OwnerScope {
  public:
    explicit OwnerScope(HWND window) : previous_(OwnerWindow()) { SetOwnerWindow(window); }
    ~OwnerScope() { SetOwnerWindow(previous_); }

  private:
    HWND previous_;
};

// Keeps a dialog's idle handler in place while it is the topmost dialog.
class IdleScope {
  public:
    IdleScope(Worker& worker, std::function<void()> handler)
        : worker_(worker), previous_(std::move(worker.onIdle)) {
        worker_.onIdle = std::move(handler);
    }
    ~IdleScope() { worker_.onIdle = std::move(previous_); }

  private:
    Worker& worker_;
    std::function<void()> previous_;
};

std::optional<std::string> ChooseFile(HWND owner, const ui::FileDialogRequest& request, bool save,
                                      const char* title);

// The object a dialog works for: handed over with WM_INITDIALOG and kept in the
// dialog's user data for every message after it.
template <typename T>
T* Attached(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return reinterpret_cast<T*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// OK hands the choice to the selector; OK and Cancel both end its dialog.
template <typename Selector>
bool EndedByOkOrCancel(HWND dialog, WPARAM wParam, Selector& selector) {
    if (LOWORD(wParam) == IDOK) {
        selector.OnOk();
        EndDialog(dialog, IDOK);
        return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return true;
    }
    return false;
}

}  // namespace tessaly::win32
