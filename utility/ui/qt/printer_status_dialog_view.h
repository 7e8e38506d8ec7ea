#pragma once

#include <QDialog>
#include <QProgressBar>
#include <QPushButton>
#include <map>

#include "pacing_engine.h"
#include "printer_status_dialog.h"

namespace tessaly::ui::qt {

class BusyInputFilter;
class OperationWorker;
class PageTabControl;
class QtNotifier;

// The printer status dialog over PrinterStatusDialog. Get Status and Set Status
// run on the worker; the font download's timer events come from a pacing engine
// that the worker runs, 10 ms apart and strictly one at a time, so neither the
// 15-second pause nor the transfer holds up the window. Closing the dialog while
// an exchange runs waits for its end; during a download it stops between two
// blocks (the printer then holds part of the font, as when the window closes
// under a timer-driven transfer).
class PrinterStatusDialogView final : public QDialog {
    Q_OBJECT
  public:
    PrinterStatusDialogView(PrinterPort& port, int modelIndex, Clock& clock, QtNotifier& notifier,
                            OperationWorker& worker, QWidget* parent = nullptr,
                            FontDownload::PayloadLookup payloads = payloads::FindFontPayload);
    ~PrinterStatusDialogView() override;

    PrinterStatusDialog& logic() { return logic_; }
    PageTabControl* tabs() const { return tabs_; }
    QPushButton* button(StatusButton which) const { return buttons_.at(which); }
    QProgressBar* progressBar() const { return progress_; }
    // True from the start of an exchange or download until its end.
    bool working() const;

  public slots:
    void done(int result) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void build();
    void refresh();
    void applyButtons(unsigned enabled);
    void startDownloadEvents();
    void saveStatus();
    void loadStatus();

    OperationWorker& worker_;
    PacingEngine pacing_;
    PrinterStatusDialog logic_;
    PageTabControl* tabs_ = nullptr;
    std::map<StatusButton, QPushButton*> buttons_;
    QProgressBar* progress_ = nullptr;
    BusyInputFilter* busyFilter_ = nullptr;
    bool pacingRunning_ = false;
    bool closeRequested_ = false;
    int closeResult_ = 0;
};

}  // namespace tessaly::ui::qt
