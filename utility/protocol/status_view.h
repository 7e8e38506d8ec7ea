#pragma once

#include "printer_settings.h"

namespace tessaly {

// The operation buttons of the printer status dialog, as bits of a mask.
enum StatusButton : unsigned {
    kGetButton = 1u << 0,
    kSetButton = 1u << 1,
    kSaveButton = 1u << 2,
    kLoadButton = 1u << 3,
    kInitializeButton = 1u << 4,
    kExitButton = 1u << 5,
};
inline constexpr unsigned kOperationButtons =
    kGetButton | kSetButton | kSaveButton | kLoadButton | kInitializeButton;
inline constexpr unsigned kAllButtons = kOperationButtons | kExitButton;

// What Set Status needs to know of the printer setting page's buyer-set list.
struct BuyerChoice {
    int listIndex = 0;            // the page's buyer-set index
    int currentBuyerValue = -1;   // -1 until the page has shown data
    int printersBuyerValue = -1;  // the printer's own value as last shown
};

// The status dialog and its two tab pages as the status operations drive them.
// The GUI dialog implements it; so does the toolkit-free dialog model, and tests
// record the calls.
class StatusView {
  public:
    virtual ~StatusView() = default;

    virtual void setButtonsEnabled(unsigned buttons, bool enabled) = 0;
    // Display on: both pages take the record and re-derive their display from
    // it (the buyer-set list goes back to its prompt entry). Display off: both
    // pages are cleared.
    virtual void refreshPages(bool displayOn) = 0;
    // Firmware version, model name and firmware major number for the pages.
    virtual void showIdentity(const PrinterIdentity& identity) = 0;
    virtual void showSerialConditions(const SerialConditions& conditions) = 0;
    virtual void setCodePageListEnabled(bool enabled) = 0;
    virtual void setBuyerListEnabled(bool enabled) = 0;
    // Selects a buyer-set list entry without running the list's change handler
    // and makes it the page's buyer-set index.
    virtual void selectBuyerSet(int listIndex) = 0;
    virtual BuyerChoice buyerChoice() const = 0;
    virtual void repaint() = 0;
};

// A status view without a window, for runs nobody watches (benchmarks, fuzzing):
// it shows nothing and reports the buyer choice it is given.
class SilentStatusView final : public StatusView {
  public:
    BuyerChoice choice;
    void setButtonsEnabled(unsigned, bool) override {}
    void refreshPages(bool) override {}
    void showIdentity(const PrinterIdentity&) override {}
    void showSerialConditions(const SerialConditions&) override {}
    void setCodePageListEnabled(bool) override {}
    void setBuyerListEnabled(bool) override {}
    void selectBuyerSet(int) override {}
    BuyerChoice buyerChoice() const override { return choice; }
    void repaint() override {}
};

}  // namespace tessaly
