#include "printer_status_dialog.h"

#include <fmt/format.h>

#include <algorithm>

#include "status_file.h"

namespace tessaly::ui {

void ProgressBar::setPosition(int position) {
    position_ = std::clamp(position, 0, 100);
    if (onPosition) onPosition(position_);
}

PrinterStatusDialog::PrinterStatusDialog(StatusDialogDeps deps)
    : deps_(std::move(deps)),
      link_(deps_.port.type()),
      session_{deps_.port, deps_.clock, deps_.notifier},
      memoryPage_(record_.settings, deps_.modelIndex),
      settingPage_(record_.settings, deps_.modelIndex) {
    // A new dialog starts from a zeroed record and an unknown identity, so its
    // first status operation checks the printer name again.
    exchange_ =
        std::make_unique<StatusExchange>(session_, link_, progress_, *this, record_, deps_.limits);
    download_ = std::make_unique<FontDownload>(session_, link_, deps_.modelIndex, progress_, *this,
                                               deps_.timers, record_.identity, deps_.payloads);
}

void PrinterStatusDialog::Changed() {
    if (onChanged) onChanged();
}

void PrinterStatusDialog::Run(std::function<void()> job) {
    if (busy_ || download_->active()) return;
    busy_ = true;
    deps_.runner.Run(std::move(job), [this] {
        busy_ = false;
        Changed();
    });
}

void PrinterStatusDialog::OnGetStatus() {
    if (!enabled(kGetButton)) return;
    Run([this] {
        lastGetStatus_ = exchange_->GetStatus();
        if (lastGetStatus_) printerSettings_ = record_.settings;
        fileLoadedSinceGetStatus_ = false;
    });
}

void PrinterStatusDialog::OnSetStatus() {
    if (!enabled(kSetButton) || busy_ || download_->active()) return;
    if (!ConfirmChangesFromFile()) return;
    Run([this] {
        // A national set hands over to a font download once switch 12 is written:
        // stand-in font data is agreed to before anything reaches the printer.
        const auto standIns =
            StandInPayloads(buyerChoice().listIndex, deps_.modelIndex, deps_.payloads);
        if (!standIns.empty() && deps_.notifier.notify(messages::StandInPayloadWarning(
                                     standIns.front())) != MessageAnswer::Yes) {
            lastSetStatus_ = SetStatusOutcome::StandInsDeclined;
            return;
        }
        // Until the next Get Status nobody knows what the printer took.
        printerSettings_.reset();
        fileLoadedSinceGetStatus_ = false;
        lastSetStatus_ = SetStatus(*exchange_, *download_);
    });
}

std::optional<std::vector<SettingChange>> PrinterStatusDialog::ChangesToPrinter() const {
    if (!printerSettings_) return std::nullopt;
    return DiffSettings(*printerSettings_, record_.settings);
}

bool PrinterStatusDialog::ConfirmChangesFromFile() {
    if (!fileLoadedSinceGetStatus_) return true;
    const auto changes = ChangesToPrinter();
    if (!changes || changes->empty()) return true;
    std::string text = "Set Status will change these settings of the printer:\n\n";
    for (const SettingChange& c : *changes)
        text += fmt::format("{}: {} -> {}\n", c.Label(), c.from, c.to);
    text += "\nWrite them to the printer now?";
    return deps_.notifier.notify({text, "Notice", MessageIcon::Question, MessageButtons::YesNo}) ==
           MessageAnswer::Yes;
}

void PrinterStatusDialog::OnInitializeStatus() {
    if (!enabled(kInitializeButton) || busy_) return;
    InitializeStatus(record_.settings, *this);
    Changed();
}

std::string PrinterStatusDialog::CreateFileQuestion(const std::string& fileName) {
    return fileName + " does not exist.\nDo you want to create it?";
}

void PrinterStatusDialog::OnSaveStatus(const std::string& path) {
    if (!enabled(kSaveButton) || busy_) return;
    lastFileOk_ = HasProfileFileName(path) ? SaveProfile(path, record_.settings, deps_.notifier)
                                           : SaveStatus(path, record_.settings, deps_.notifier);
}

void PrinterStatusDialog::OnLoadStatus(const std::string& path) {
    if (!enabled(kLoadButton) || busy_) return;
    lastFileOk_ = HasProfileFileName(path)
                      ? LoadProfile(path, record_.settings, *this, deps_.notifier)
                      : LoadStatus(path, record_.settings, *this, deps_.notifier);
    if (lastFileOk_) fileLoadedSinceGetStatus_ = true;
    Changed();
}

void PrinterStatusDialog::OnLoadSettings(const PrinterSettings& settings) {
    if (!enabled(kLoadButton) || busy_) return;
    record_.settings = settings;
    ShowLoadedStatus(record_.settings, *this);
    lastFileOk_ = true;
    Changed();
}

void PrinterStatusDialog::OnTimer(int timerId) {
    download_->OnDownloadTimer(timerId);
    if (!download_->active()) Changed();
}

void PrinterStatusDialog::setButtonsEnabled(unsigned buttons, bool on) {
    buttons_ = on ? (buttons_ | buttons) : (buttons_ & ~buttons);
}

void PrinterStatusDialog::refreshPages(bool displayOn) {
    memoryPage_.Refresh(displayOn);
    settingPage_.Refresh(displayOn);
    ++repaints_;
}

void PrinterStatusDialog::showIdentity(const PrinterIdentity& identity) {
    settingPage_.ShowIdentity(identity);
}

void PrinterStatusDialog::showSerialConditions(const SerialConditions& conditions) {
    settingPage_.ShowSerialConditions(conditions);
}

void PrinterStatusDialog::setCodePageListEnabled(bool on) {
    settingPage_.setCodePageListEnabled(on);
}

void PrinterStatusDialog::setBuyerListEnabled(bool on) {
    settingPage_.setBuyerListEnabled(on);
}

void PrinterStatusDialog::selectBuyerSet(int listIndex) {
    settingPage_.SelectBuyerSet(listIndex);
}

BuyerChoice PrinterStatusDialog::buyerChoice() const {
    return {settingPage_.buyerSetIndex(), settingPage_.currentBuyerValue(),
            settingPage_.printersBuyerValue()};
}

void PrinterStatusDialog::repaint() {
    ++repaints_;
}

}  // namespace tessaly::ui
