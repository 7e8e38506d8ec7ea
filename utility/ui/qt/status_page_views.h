#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QWidget>
#include <array>
#include <functional>

#include "status_pages.h"

namespace tessaly::ui::qt {

// The "Memory switch" tab over MemorySwitchPage: seven rows of a centred label
// and two choices; a row once filled keeps its label blue on yellow.
class MemorySwitchPageView final : public QWidget {
    Q_OBJECT
  public:
    MemorySwitchPageView(MemorySwitchPage& page, QWidget* parent);
    void refresh();

    QLabel* label(int row) const { return labels_.at(static_cast<std::size_t>(row)); }
    QRadioButton* choice(int row, int index) const {
        return choices_.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(index));
    }
    // The user changed a choice (the record has changed).
    std::function<void()> onChanged;

  private:
    MemorySwitchPage& page_;
    std::array<QLabel*, MemorySwitchPage::kRows> labels_{};
    std::array<std::array<QRadioButton*, 2>, MemorySwitchPage::kRows> choices_{};
    std::array<QButtonGroup*, MemorySwitchPage::kRows> groups_{};
};

// The "Printer Setting" tab over PrinterSettingPage: identity texts, the hidden
// serial conditions, the default code page and the buyer set.
class PrinterSettingPageView final : public QWidget {
    Q_OBJECT
  public:
    PrinterSettingPageView(PrinterSettingPage& page, QWidget* parent);
    void refresh();

    QLabel* modelText() const { return modelText_; }
    QLabel* firmwareText() const { return firmwareText_; }
    QComboBox* codePageList() const { return codePages_; }
    QComboBox* buyerSetList() const { return buyerSets_; }
    const std::array<QComboBox*, 4>& serialLists() const { return serial_; }
    std::function<void()> onChanged;

  private:
    PrinterSettingPage& page_;
    QLabel* modelText_ = nullptr;
    QLabel* firmwareText_ = nullptr;
    std::array<QComboBox*, 4> serial_{};
    QComboBox* codePages_ = nullptr;
    QComboBox* buyerSets_ = nullptr;
    bool refreshing_ = false;
};

// The tab control of the status dialog: creates both pages, tab 0 "Memory
// switch" and tab 1 "Printer Setting", and shows the page of the selected tab on
// the tab's display area.
class PageTabControl final : public QTabWidget {
    Q_OBJECT
  public:
    PageTabControl(MemorySwitchPage& memory, PrinterSettingPage& setting, QWidget* parent);
    MemorySwitchPageView* memorySwitchPage() const { return memory_; }
    PrinterSettingPageView* printerSettingPage() const { return setting_; }
    void refresh();

  private:
    MemorySwitchPageView* memory_;
    PrinterSettingPageView* setting_;
};

}  // namespace tessaly::ui::qt
