#include "journal_status_display.h"

#include "text_helpers.h"

namespace tessaly::winsys::fake {
using namespace detail;

// ---- Status display recorder -----------------------------------------------------------

void JournalStatusDisplay::SetStatus(const std::string& text) {
    text_ = text;
    journal_.Add(Cat("SetStatus(", S(text), ")"));
}

void JournalStatusDisplay::StepIt() {
    position_ += step_;
    if (position_ > 100) position_ -= 100;  // a progress bar wraps round past its maximum
    ++steps_;
    journal_.Add(Cat("StepIt() -> ", std::to_string(position_)));
}

void JournalStatusDisplay::SetPos(int position) {
    position_ = position;
    journal_.Add(Cat("SetPos(", std::to_string(position), ")"));
}

void JournalStatusDisplay::Refresh() {
    shown_ = text_;
    journal_.Add("Refresh()");
}

}  // namespace tessaly::winsys::fake
