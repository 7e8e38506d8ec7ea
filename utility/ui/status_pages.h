#pragma once

#include <array>
#include <optional>
#include <string>

#include "printer_settings.h"

namespace tessaly::ui {

// The "Memory switch" tab: seven two-way settings bound to record bits. Rows are
// numbered 0..6 in the order of kSwitchSettings; the last row (Auto Line Feed) is
// never enabled and keeps its bit as read.
class MemorySwitchPage {
  public:
    static constexpr int kRows = 7;
    static constexpr int kEditableRows = 6;

    struct Rgb {
        int r, g, b;
        bool operator==(const Rgb&) const = default;
    };
    struct LabelColours {
        Rgb text;
        Rgb background;
        bool operator==(const LabelColours&) const = default;
    };
    static constexpr LabelColours kFilledLabel{{0, 0, 255}, {238, 241, 141}};

    MemorySwitchPage(PrinterSettings& settings, int modelIndex = 0)
        : settings_(settings), modelIndex_(modelIndex) {}

    // Display on: rows 1..6 enabled, each showing its record bit, and marked as
    // filled. Display off: nothing selected, labels disabled; the choices keep
    // whatever enabled state they had.
    void Refresh(bool displayOn);
    // A click on choice 0 or 1 of an enabled row sets the row and its bit at once.
    void Click(int row, int choice);

    int selection(int row) const { return rows_.at(static_cast<std::size_t>(row)).selection; }
    bool labelEnabled(int row) const { return rows_.at(static_cast<std::size_t>(row)).label; }
    bool choicesEnabled(int row) const { return rows_.at(static_cast<std::size_t>(row)).choices; }
    bool filled(int row) const { return rows_.at(static_cast<std::size_t>(row)).filled; }
    // Blue on yellow for the label of a row that was once filled; nullopt for the
    // standard colours.
    std::optional<LabelColours> labelColours(int row) const;
    int modelIndex() const { return modelIndex_; }

  private:
    struct Row {
        int selection = -1;
        bool label = false;
        bool choices = false;
        bool filled = false;
    };
    std::int32_t& Bit(int row);

    PrinterSettings& settings_;
    int modelIndex_;
    std::array<Row, kRows> rows_{};
};

// The "Printer Setting" tab: identity, hidden serial conditions, the default code
// page and the national buyer set, with the rules that tie the two lists to
// memory switches 2, 9 and 12.
class PrinterSettingPage {
  public:
    PrinterSettingPage(PrinterSettings& settings, int modelIndex = 0)
        : settings_(settings), modelIndex_(modelIndex) {}

    // Display on: remembers switch 12 and the printer's own buyer value and code
    // page, puts the buyer-set list on its prompt entry, and shows or disables the
    // code-page list. Display off: empty texts, no selections, buyer list disabled.
    void Refresh(bool displayOn);
    void ShowIdentity(const PrinterIdentity& identity);
    void ShowSerialConditions(const SerialConditions& conditions);

    // Selection changes made by the user (ignored while the list is disabled).
    void OnCodePageSelected(int index);
    void OnBuyerSetSelected(int index);
    // Selects a buyer-set entry from the program, without the change handler.
    void SelectBuyerSet(int index);

    void setCodePageListEnabled(bool on) { codePageListEnabled_ = on; }
    void setBuyerListEnabled(bool on) { buyerListEnabled_ = on; }

    const std::string& firmwareVersionText() const { return firmwareVersionText_; }
    const std::string& modelNameText() const { return modelNameText_; }
    int firmwareMajor() const { return firmwareMajor_; }
    const SerialConditions& serialSelections() const { return serial_; }
    // The code-page list's selected entry; -1 when none is shown (also for the
    // values 37..63, which have no entry).
    int codePageSelection() const {
        return codePageSelection_ < static_cast<int>(kCodePageNames.size()) ? codePageSelection_
                                                                            : -1;
    }
    // The list's selected entry (-1: none shown) and the page's buyer-set index.
    int buyerSetSelection() const {
        return buyerSetIndex_ >= 0 && buyerSetIndex_ < static_cast<int>(kBuyerSetNames.size())
                   ? buyerSetIndex_
                   : -1;
    }
    int buyerSetIndex() const { return buyerSetIndex_; }
    int currentBuyerValue() const { return currentBuyerValue_; }
    int printersBuyerValue() const { return printersBuyerValue_; }
    int printersCodePageIndex() const { return printersCodePageIndex_; }
    const SwitchBits& savedMsw12() const { return savedMsw12_; }
    bool codePageListEnabled() const { return codePageListEnabled_; }
    bool buyerListEnabled() const { return buyerListEnabled_; }
    int modelIndex() const { return modelIndex_; }

  private:
    void RewriteCodePage(int index);

    PrinterSettings& settings_;
    int modelIndex_;
    std::string firmwareVersionText_;
    std::string modelNameText_;
    int firmwareMajor_ = 0;
    SerialConditions serial_;
    int codePageSelection_ = -1;
    int buyerSetIndex_ = -1;
    SwitchBits savedMsw12_{};
    int printersBuyerValue_ = -1;
    int currentBuyerValue_ = -1;
    int printersCodePageIndex_ = 0;
    bool codePageListEnabled_ = false;
    bool buyerListEnabled_ = false;
};

}  // namespace tessaly::ui
