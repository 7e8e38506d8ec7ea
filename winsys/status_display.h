// Status text and progress bar through which the installation and removal sequences report
// their progress. Implemented by the installer's and the uninstaller's dialogs.
#pragma once

#include <string>

namespace tessaly::winsys {

class StatusDisplay {
  public:
    virtual ~StatusDisplay() = default;
    // Replaces the status text (shown on the next Refresh).
    virtual void SetStatus(const std::string& text) = 0;
    // Advances the progress bar by its step.
    virtual void StepIt() = 0;
    virtual void SetPos(int position) = 0;
    // Pushes the status text to the screen.
    virtual void Refresh() = 0;
};

}  // namespace tessaly::winsys
