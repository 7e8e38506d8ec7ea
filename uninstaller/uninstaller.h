// The uninstaller's logic: lists the queues of the driver, lets the user tick the ones to
// delete, deletes them and, when no queue of the driver is left, removes the driver.
//
// uninstaller/ is R3_Uninstaller's logic without a toolkit; win32/ holds the program with its
// dialog, check list and resources.
#pragma once

#include <list>
#include <string>

#include "winsys/status_display.h"
#include "winsys/windows_services.h"

namespace tessaly::uninstaller {

using winsys::Handle;
using winsys::WindowsServices;

inline constexpr char kCaption[] = "Vantreel R-3 uninstaller";
inline constexpr int kProgressStep = 30;

// The uninstaller dialog as the logic sees it: status text and progress bar, a sorted check
// list of queue names, the Uninstall and Cancel buttons and the cursor.
class UninstallerView : public winsys::StatusDisplay {
  public:
    // Adds a line (the list sorts its lines); no line is ticked.
    virtual void AddListItem(const std::string& name) = 0;
    virtual int ListCount() const = 0;
    virtual bool IsChecked(int index) const = 0;
    virtual std::string ListText(int index) const = 0;
    virtual void EnableUninstall(bool enable) = 0;
    virtual void EnableCancel(bool enable) = 0;
    virtual void ShowWaitCursor() = 0;
    virtual void ShowArrowCursor() = 0;
    // Reads the controls back into the dialog's members.
    virtual void ReadControls() = 0;
    // Closes the dialog as with OK, which ends the program.
    virtual void CloseOk() = 0;
    // Window that owns the message boxes.
    virtual Handle Window() const = 0;
};

class Uninstaller {
  public:
    Uninstaller(WindowsServices& sys, UninstallerView& view) : sys_(sys), view_(view) {}

    // Run once from the first timer tick.
    void PopulatePrinterList();
    // On every check-state change of the list.
    void UpdateUninstallButton();
    // On the Uninstall button, and from PopulatePrinterList when the driver has no queue.
    void RunUninstall();

    int PrintersFound() const { return printersFound_; }

  private:
    WindowsServices& sys_;
    UninstallerView& view_;
    std::list<std::string> names_;
    int printersFound_ = 0;
};

}  // namespace tessaly::uninstaller
