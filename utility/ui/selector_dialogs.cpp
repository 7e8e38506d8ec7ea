#include "selector_dialogs.h"

#include <utility>

namespace tessaly::ui {

const std::array<SelectCodepageDialog::Entry, 30> SelectCodepageDialog::kEntries{{
    {"PC437 (USA: Standard Europe)", "00 "},
    {"Katakana", "01 "},
    {"PC850 (Multilingual)", "02 "},
    {"PC860 (Portugues)", "03 "},
    {"PC863 (Canadian-French)", "04 "},
    {"PC865 (Nordic)", "05 "},
    {"WPC1252 (Lantin 1)", "10 "},
    {"PC866 (Cyrillic #2)", "11 "},
    {"PC852 (Latin 2)", "12 "},
    {"PC858 (Euro)", "13 "},
    {"PC862 (Hebrew DOS code)", "15 "},
    {"PC864 (Arabic)", "16 "},
    {"Thai character code 42", "17 "},
    {"WPC1253 (Greek)", "18 "},
    {"WPC1254 (Turkish)", "19 "},
    {"WPC1257 (Baltic)", "1a "},
    {"Farsi", "1b "},
    {"WPC1251 (Cyrillic)", "1c "},
    {"PC737 (Greek)", "1d "},
    {"PC775 (Baltic)", "1e "},
    {"Thai character code 14", "1f "},
    {"Hebrew Old code", "20 "},
    {"WPC1255 (Hebrew)", "21 "},
    {"Thai character code 11", "22 "},
    {"Thai character code 18", "23 "},
    {"PC855 (Cyrillic)", "24 "},
    {"PC857 (Turkish)", "25 "},
    {"PC928 (Greek)", "26 "},
    {"Thai16", "27 "},
    {"WPC1256 (Arabic)", "28 "},
}};

SelectCodepageDialog::SelectCodepageDialog() {
    OnSelectionChanged(0);
}

void SelectCodepageDialog::OnSelectionChanged(int index) {
    if (index < 0 || index >= static_cast<int>(kEntries.size())) return;
    current_ = index;
    indexBits_.fill(false);
    for (std::size_t bit = 0; bit < indexBits_.size(); ++bit)
        indexBits_[bit] = ((index >> bit) & 1) != 0;
}

void SelectCodepageDialog::OnOk() {
    selectedIndex_ = current_;
}

void SelectRangeDialog::Step(int steps) {
    constexpr int span = kMaximum - kMinimum + 1;
    int next = (value_ - kMinimum + steps % span + span) % span;
    value_ = next + kMinimum;
}

void SelectRangeDialog::OnDefaultClicked(bool ticked) {
    defaultTicked_ = ticked;
}

void SelectRangeDialog::OnOk() {
    rangeValue_ = value_;
    useDefault_ = defaultTicked_;
}

const std::vector<std::string> SelectAddressDialog::kEntries{"01", "02", "03", "04", "05"};

SelectAddressDialog::SelectAddressDialog() : editText_(kEntries.front()) {}

void SelectAddressDialog::OnTextChanged(std::string text) {
    editText_ = std::move(text);
}

void SelectAddressDialog::OnOk() {
    addressText_ = editText_;
}

}  // namespace tessaly::ui
