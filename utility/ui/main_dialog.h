// utility/ui/ holds the logic of Tessaly's dialogs without a toolkit: what each button does, what
// is enabled when, and which message is shown. The Qt views (qt/) and Tessaly.exe
// (utility/win32/) draw these dialogs and forward the user's actions to them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "connection_check.h"
#include "notifier.h"
#include "operation_runner.h"
#include "port_catalog.h"
#include "port_diversion.h"
#include "port_settings.h"
#include "printer_port.h"

namespace tessaly::ui {

// What the main dialog works with. The port factory, the print system and the
// journal of paused queues default to the platform's when left empty.
struct MainDialogDeps {
    Clock& clock;
    Notifier& notifier;
    OperationRunner& runner;
    PortCatalog& catalog;
    PortFactory portFactory;
    std::unique_ptr<PrintQueues> printQueues;
    CheckLimits checkLimits{};
    DiversionJournal* journal = nullptr;
};

// The main connection dialog without a toolkit: interface type, port and line
// settings, the connection check and the buttons it unlocks. Owns the printer port
// and the print-queue diversion. The view binds its controls to the state below
// and calls the handlers; `onChanged` tells it when an operation has finished and
// the state changed behind its back.
//
// While an operation runs on the worker (`busy()`), every handler is ignored: the
// view holds user input back meanwhile, as the window of a blocking dialog would.
class MainDialog {
  public:
    struct Buttons {
        bool checkCommunication = true;
        bool selfTest = false;
        bool runManager = false;
        bool commandEditor = false;
        bool exit = true;
        bool operator==(const Buttons&) const = default;
    };

    static constexpr const char* kCaption = "Tessaly V1.0.0";
    static const std::vector<std::string> kModels;
    static const std::vector<std::string> kBaudRates;
    static const std::vector<std::string> kDataBits;
    static const std::vector<std::string> kParities;
    static const std::vector<std::string> kStopBits;
    static const std::vector<std::string> kFlowControls;
    static const std::vector<std::string> kRadioTexts;
    // The port names offered when the machine reports none of a kind.
    static const std::vector<std::string> kDefaultSerialPorts;
    static const std::vector<std::string> kDefaultParallelPorts;
    static constexpr int kDefaultBaudIndex = 3;  // "19200"
    static const Message kNoUsbPrinter;

    explicit MainDialog(MainDialogDeps deps);
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    void Initialize();
    // Gives back the print queues that earlier runs which did not finish left
    // paused, and tells the user which (an operation: it runs on the runner).
    void RecoverQueues();

    // Handlers.
    void OnInterfaceClicked(int interfaceType);
    void OnPortSelected(int index);
    void OnBaudSelected(int index);
    void OnDataBitsSelected(int index);
    void OnParitySelected(int index);  // -1: text typed into the editable list
    void OnStopBitsSelected(int index);
    void OnFlowControlSelected(int index);
    void OnModelSelected(int index);
    void OnCheckCommunication();
    void OnSelfTest();
    // A USB printer arrived or left. While the USB list is shown and nothing is
    // connected through it, the list is read again, keeping the chosen printer
    // chosen when it is still there. An empty answer keeps the list as it is:
    // a printer that is only being switched off and on should not throw the
    // user back to the serial list.
    void OnUsbDevicesChanged();
    // Ends the dialog's use of the printer: closes the port if connected, then
    // restores the diverted print queues (a warning names any that could not be
    // given back). Call when the dialog closes and no operation runs; safe to
    // call more than once.
    void Shutdown();

    // State for the view.
    int interfaceType() const { return interfaceType_; }
    int modelIndex() const { return modelIndex_; }
    const std::vector<std::string>& portNames() const { return portNames_; }
    int portIndex() const { return portIndex_; }
    const std::vector<std::string>& baudRates() const { return baudRates_; }
    int baudIndex() const { return baudIndex_; }
    int dataBitsIndex() const { return dataBitsIndex_; }
    int parityIndex() const { return parityIndex_; }
    int stopBitsIndex() const { return stopBitsIndex_; }
    int flowControlIndex() const { return flowIndex_; }
    bool lineSettingsEnabled() const { return lineSettingsEnabled_; }
    bool otherInterfacesEnabled() const { return otherInterfacesEnabled_; }
    bool connected() const { return connected_; }
    bool busy() const { return busy_; }
    const Buttons& buttons() const { return buttons_; }

    // The line settings a connection check would use now.
    PortSettings BuildPortSettings() const;
    CheckResult lastCheckResult() const { return lastCheck_; }

    // For the dialogs opened on top: the open port and the shared services.
    PrinterPort& port() { return port_; }
    Clock& clock() { return deps_.clock; }
    Notifier& notifier() { return deps_.notifier; }
    OperationRunner& runner() { return deps_.runner; }
    PortDiversion& diversion() { return diversion_; }

    std::function<void()> onChanged;

  private:
    void FillPortList(int interfaceType);
    void FillBaudList();
    void Disconnect();
    void DisconnectIfConnected();
    void Finish();
    void ReportRecovery(const RecoveryReport& report);

    MainDialogDeps deps_;
    PrinterPort port_;
    PortDiversion diversion_;
    int interfaceType_ = 0;
    int modelIndex_ = 0;
    std::vector<std::string> portNames_;
    int portIndex_ = -1;
    std::vector<std::string> baudRates_;
    int baudIndex_ = -1;
    int dataBitsIndex_ = 0;
    int parityIndex_ = 0;
    int parityCode_ = 0;
    int stopBitsIndex_ = 0;
    int flowIndex_ = 0;
    bool lineSettingsEnabled_ = true;
    bool otherInterfacesEnabled_ = true;
    bool connected_ = false;
    bool busy_ = false;
    bool shutDown_ = false;
    Buttons buttons_;
    CheckResult lastCheck_ = CheckResult::SetupFailed;
};

}  // namespace tessaly::ui
