#include "status_pages.h"

namespace tessaly::ui {

std::int32_t& MemorySwitchPage::Bit(int row) {
    const SwitchSetting& s = kSwitchSettings.at(static_cast<std::size_t>(row));
    return (*SwitchByNumber(settings_, s.switchNumber))[static_cast<std::size_t>(s.bit)];
}

void MemorySwitchPage::Refresh(bool displayOn) {
    for (Row& row : rows_) {
        row.label = false;
        row.selection = -1;
    }
    if (!displayOn) return;
    for (int r = 0; r < kEditableRows; ++r) {
        Row& row = rows_[static_cast<std::size_t>(r)];
        row.label = true;
        row.choices = true;
        row.selection = Bit(r) != 0 ? 1 : 0;
        row.filled = true;
    }
}

void MemorySwitchPage::Click(int row, int choice) {
    if (row < 0 || row >= kEditableRows || (choice != 0 && choice != 1)) return;
    Row& r = rows_[static_cast<std::size_t>(row)];
    if (!r.choices) return;
    r.selection = choice;
    Bit(row) = choice;
}

std::optional<MemorySwitchPage::LabelColours> MemorySwitchPage::labelColours(int row) const {
    if (row >= 0 && row < kRows && rows_[static_cast<std::size_t>(row)].filled) return kFilledLabel;
    return std::nullopt;
}

void PrinterSettingPage::Refresh(bool displayOn) {
    if (!displayOn) {
        firmwareVersionText_.clear();
        modelNameText_.clear();
        serial_ = SerialConditions{};
        codePageSelection_ = -1;
        buyerSetIndex_ = -1;
        buyerListEnabled_ = false;
        return;
    }
    savedMsw12_ = settings_.msw12;
    printersBuyerValue_ = currentBuyerValue_ = BuyerValue(settings_.msw12);
    buyerSetIndex_ = 0;
    if (IsNationalBuyerValue(printersBuyerValue_)) {
        codePageSelection_ = -1;
        codePageListEnabled_ = false;
    } else {
        codePageSelection_ = printersCodePageIndex_ = CodePageIndex(settings_.msw2);
        codePageListEnabled_ = true;
    }
    buyerListEnabled_ = true;
}

void PrinterSettingPage::ShowIdentity(const PrinterIdentity& identity) {
    firmwareVersionText_ = identity.firmwareVersionText;
    modelNameText_ = identity.modelNameText;
    firmwareMajor_ = identity.firmwareMajor;
}

void PrinterSettingPage::ShowSerialConditions(const SerialConditions& conditions) {
    serial_ = conditions;
}

void PrinterSettingPage::RewriteCodePage(int index) {
    codePageSelection_ = index;
    SetCodePageIndex(settings_.msw2, index);
}

void PrinterSettingPage::OnCodePageSelected(int index) {
    if (!codePageListEnabled_ || index < 0 || index >= static_cast<int>(kCodePageNames.size()))
        return;
    RewriteCodePage(index);
}

void PrinterSettingPage::OnBuyerSetSelected(int y) {
    if (!buyerListEnabled_ || y < 0 || y >= static_cast<int>(kBuyerSetNames.size())) return;
    const int b = y == 0 ? printersBuyerValue_ : BuyerValueForListIndex(y);
    currentBuyerValue_ = b;
    settings_.buyerSetIndex = y;
    buyerSetIndex_ = y;

    if (b == printersBuyerValue_) {
        for (std::size_t k = 1; k <= 8; ++k) settings_.msw12[k] = savedMsw12_[k];
    } else {
        SetSwitchValue(settings_.msw12, static_cast<std::uint8_t>(b));
    }

    if (b != 0) {
        settings_.msw9[1] = 1;
        codePageSelection_ = -1;
        codePageListEnabled_ = false;
        return;
    }
    if (y != 0 || printersBuyerValue_ != 0) {
        settings_.msw9[1] = 0;
        RewriteCodePage(0);
    } else {
        RewriteCodePage(printersCodePageIndex_);
    }
    codePageListEnabled_ = true;
}

void PrinterSettingPage::SelectBuyerSet(int index) {
    buyerSetIndex_ = index;
}

}  // namespace tessaly::ui
