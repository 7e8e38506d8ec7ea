#pragma once

#include <functional>
#include <memory>
#include <string>

#include "clock.h"
#include "font_download.h"
#include "notifier.h"
#include "operation_runner.h"
#include "pacing_engine.h"
#include "printer_port.h"
#include "set_status.h"
#include "settings_profile.h"
#include "status_pages.h"
#include "status_query.h"

namespace tessaly::ui {

// The dialog's progress bar: range 0..100, a step size and a position.
class ProgressBar final : public ProgressSink {
  public:
    void setStep(int step) override { step_ = step; }
    void step() override { setPosition(position_ + step_); }
    void setPosition(int position) override;
    int position() const { return position_; }
    int stepSize() const { return step_; }
    // Told of every position change (for a terminal bar or a widget).
    std::function<void(int)> onPosition;

  private:
    int step_ = 4;
    int position_ = 0;
};

struct StatusDialogDeps {
    PrinterPort& port;  // lent by the main dialog, already open
    Clock& clock;
    Notifier& notifier;
    OperationRunner& runner;
    // Delivers the font download's timer events; the owner routes every event
    // to OnTimer.
    TimerControl& timers;
    int modelIndex = 0;
    FontDownload::PayloadLookup payloads = payloads::FindFontPayload;
    StatusLimits limits{};
};

// The printer status dialog without a toolkit: the record, both tab pages, the
// six buttons, the progress bar and the font download it hosts. A view binds its
// controls to this state, calls the handlers, and repaints on `onChanged`.
// While an operation runs (`busy()`), handlers are ignored and the view must not
// read the state: with a worker runner the operation changes it on the worker.
class PrinterStatusDialog final : public StatusView {
  public:
    explicit PrinterStatusDialog(StatusDialogDeps deps);
    PrinterStatusDialog(const PrinterStatusDialog&) = delete;
    PrinterStatusDialog& operator=(const PrinterStatusDialog&) = delete;

    static constexpr const char* kTitle = "Printer Status for Vantreel R-3 V1.0.0";
    // What the Save Status file dialog asks before it creates a new file.
    static std::string CreateFileQuestion(const std::string& fileName);

    // Button handlers.
    void OnGetStatus();
    void OnSetStatus();
    void OnInitializeStatus();
    // A name ending in ".toml" saves or loads a settings profile, any other name a
    // status file.
    void OnSaveStatus(const std::string& path);
    void OnLoadStatus(const std::string& path);
    // Load Status of a record that did not come from a file (the command line's
    // apply): shown like a loaded file, with no question before Set Status.
    void OnLoadSettings(const PrinterSettings& settings);
    // Every timer event of the dialog.
    void OnTimer(int timerId);

    bool enabled(StatusButton button) const { return (buttons_ & button) != 0; }
    unsigned enabledButtons() const { return buttons_; }
    bool busy() const { return busy_; }
    bool downloading() const { return download_->active(); }
    int repaints() const { return repaints_; }

    // Results of the last operations, for front ends that report them.
    bool lastGetStatusOk() const { return lastGetStatus_; }
    SetStatusOutcome lastSetStatus() const { return lastSetStatus_; }
    bool lastFileOk() const { return lastFileOk_; }
    StatusFailure lastFailure() const { return exchange_->lastFailure(); }
    FontDownload::Outcome downloadOutcome() const { return download_->outcome(); }
    int downloadPayload() const { return download_->payloadId(); }
    // What Set Status would change on the printer, against the record the last
    // Get Status read; nullopt when no Get Status has read it since the dialog
    // opened or since the last Set Status.
    std::optional<std::vector<SettingChange>> ChangesToPrinter() const;

    const StatusRecord& record() const { return record_; }
    StatusRecord& record() { return record_; }
    MemorySwitchPage& memorySwitchPage() { return memoryPage_; }
    PrinterSettingPage& printerSettingPage() { return settingPage_; }
    ProgressBar& progress() { return progress_; }
    PortType link() const { return link_; }

    std::function<void()> onChanged;

    // StatusView, called by the operations.
    void setButtonsEnabled(unsigned buttons, bool enabled) override;
    void refreshPages(bool displayOn) override;
    void showIdentity(const PrinterIdentity& identity) override;
    void showSerialConditions(const SerialConditions& conditions) override;
    void setCodePageListEnabled(bool enabled) override;
    void setBuyerListEnabled(bool enabled) override;
    void selectBuyerSet(int listIndex) override;
    BuyerChoice buyerChoice() const override;
    void repaint() override;

  private:
    void Run(std::function<void()> job);
    void Changed();
    // After a file was loaded over what Get Status read: shows what Set Status
    // would change and asks whether to go on.
    bool ConfirmChangesFromFile();

    StatusDialogDeps deps_;
    PortType link_;
    Session session_;
    StatusRecord record_;
    ProgressBar progress_;
    MemorySwitchPage memoryPage_;
    PrinterSettingPage settingPage_;
    std::unique_ptr<StatusExchange> exchange_;
    std::unique_ptr<FontDownload> download_;
    unsigned buttons_ = kGetButton | kLoadButton | kInitializeButton | kExitButton;
    bool busy_ = false;
    int repaints_ = 0;
    bool lastGetStatus_ = false;
    SetStatusOutcome lastSetStatus_ = SetStatusOutcome::Done;
    bool lastFileOk_ = false;
    std::optional<PrinterSettings> printerSettings_;  // as the last Get Status read them
    bool fileLoadedSinceGetStatus_ = false;
};

}  // namespace tessaly::ui
