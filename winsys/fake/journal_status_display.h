#pragma once

#include <string>

#include "../status_display.h"
#include "journal.h"

namespace tessaly::winsys::fake {

// A status display that writes each call into a journal, keeping the current text and bar.
class JournalStatusDisplay : public StatusDisplay {
  public:
    JournalStatusDisplay(Journal& journal, int step) : journal_(journal), step_(step) {}
    void SetStatus(const std::string& text) override;
    void StepIt() override;
    void SetPos(int position) override;
    void Refresh() override;
    const std::string& Text() const { return text_; }
    const std::string& ShownText() const { return shown_; }
    int Position() const { return position_; }
    int Steps() const { return steps_; }

  private:
    Journal& journal_;
    int step_;
    std::string text_;
    std::string shown_;
    int position_ = 0;
    int steps_ = 0;
};

}  // namespace tessaly::winsys::fake
