#include "main_dialog.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "session.h"

namespace tessaly::ui {
namespace {

int IntegerOf(const std::vector<std::string>& entries, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) return 0;
    const std::string& text = entries[static_cast<std::size_t>(index)];
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool ValidIndex(const std::vector<std::string>& entries, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < entries.size();
}

// One message box for several findings: a blank line between them.
std::string Paragraphs(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n\n") + line;
    return text;
}

}  // namespace

const std::vector<std::string> MainDialog::kModels{"Vantreel R-3"};
const std::vector<std::string> MainDialog::kBaudRates{"2400",  "4800",  "9600",  "19200",
                                                      "38400", "57600", "115200"};
const std::vector<std::string> MainDialog::kDataBits{"8", "7"};
const std::vector<std::string> MainDialog::kParities{"None", "Odd", "Even"};
const std::vector<std::string> MainDialog::kStopBits{"1", "1.5", "2"};
const std::vector<std::string> MainDialog::kFlowControls{"Hardware", "Xon/Xoff"};
const std::vector<std::string> MainDialog::kRadioTexts{"SERIAL", "PARALLEL", "USB"};
const std::vector<std::string> MainDialog::kDefaultSerialPorts{
    "COM1", "COM2", "COM3",         "COM4",         "COM5",         "COM6",         "COM7",
    "COM8", "COM9", "\\\\.\\COM10", "\\\\.\\COM11", "\\\\.\\COM12", "\\\\.\\COM13", "\\\\.\\COM14"};
const std::vector<std::string> MainDialog::kDefaultParallelPorts{"LPT1", "LPT2", "LPT3"};
const Message MainDialog::kNoUsbPrinter{
    "Printer is not connected by USB.\nPlease, turn on the printer!!", "Information",
    MessageIcon::Information};

MainDialog::MainDialog(MainDialogDeps deps)
    : deps_(std::move(deps)),
      port_(deps_.portFactory ? PortFactory(deps_.portFactory) : PortFactory(MakePlatformPort)),
      diversion_(deps_.printQueues ? std::move(deps_.printQueues) : MakePlatformPrintQueues(),
                 deps_.journal ? *deps_.journal : DiversionJournal::ForThisProcess()) {}

MainDialog::~MainDialog() {
    Shutdown();
}

void MainDialog::Initialize() {
    FillPortList(0);
    portIndex_ = portNames_.empty() ? -1 : 0;
    baudIndex_ = baudRates_.empty() ? -1 : kDefaultBaudIndex;
    dataBitsIndex_ = parityIndex_ = stopBitsIndex_ = flowIndex_ = 0;
    parityCode_ = 0;
}

void MainDialog::FillBaudList() {
    baudRates_.clear();
    baudIndex_ = -1;
    if (modelIndex_ == 0) {
        baudRates_ = kBaudRates;
        baudIndex_ = kDefaultBaudIndex;
    }
}

void MainDialog::FillPortList(int interfaceType) {
    portNames_.clear();
    portIndex_ = -1;
    lineSettingsEnabled_ = false;
    if (interfaceType == 1) {
        portNames_ = deps_.catalog.ParallelPorts();
        if (portNames_.empty()) portNames_ = kDefaultParallelPorts;
        return;
    }
    if (interfaceType == 2) {
        portNames_ = deps_.catalog.UsbPrinters();
        if (!portNames_.empty()) return;
        deps_.notifier.notify(kNoUsbPrinter);
        interfaceType_ = 0;
    }
    portNames_ = deps_.catalog.SerialPorts();
    if (portNames_.empty()) portNames_ = kDefaultSerialPorts;
    FillBaudList();
    lineSettingsEnabled_ = true;
}

void MainDialog::OnInterfaceClicked(int interfaceType) {
    if (busy_ || interfaceType < 0 || interfaceType > 2) return;
    if (interfaceType != 0 && !otherInterfacesEnabled_) return;
    interfaceType_ = interfaceType;
    DisconnectIfConnected();
    FillPortList(interfaceType);
    portIndex_ = portNames_.empty() ? -1 : 0;
}

void MainDialog::OnUsbDevicesChanged() {
    if (busy_ || connected_ || interfaceType_ != 2) return;
    auto printers = deps_.catalog.UsbPrinters();
    if (printers.empty() || printers == portNames_) return;
    const std::string chosen = ValidIndex(portNames_, portIndex_) ? portNames_[portIndex_] : "";
    portNames_ = std::move(printers);
    const auto it = std::find(portNames_.begin(), portNames_.end(), chosen);
    portIndex_ = it == portNames_.end() ? 0 : static_cast<int>(it - portNames_.begin());
    if (onChanged) onChanged();
}

void MainDialog::OnPortSelected(int index) {
    if (busy_) return;
    portIndex_ = ValidIndex(portNames_, index) ? index : -1;
    DisconnectIfConnected();
}

void MainDialog::OnBaudSelected(int index) {
    if (busy_) return;
    baudIndex_ = ValidIndex(baudRates_, index) ? index : -1;
    DisconnectIfConnected();
}

void MainDialog::OnDataBitsSelected(int index) {
    if (busy_) return;
    dataBitsIndex_ = ValidIndex(kDataBits, index) ? index : -1;
    DisconnectIfConnected();
}

void MainDialog::OnParitySelected(int index) {
    if (busy_) return;
    parityIndex_ = ValidIndex(kParities, index) ? index : -1;
    DisconnectIfConnected();
}

void MainDialog::OnStopBitsSelected(int index) {
    if (busy_) return;
    stopBitsIndex_ = ValidIndex(kStopBits, index) ? index : -1;
    DisconnectIfConnected();
}

void MainDialog::OnFlowControlSelected(int index) {
    if (busy_) return;
    flowIndex_ = ValidIndex(kFlowControls, index) ? index : -1;
    DisconnectIfConnected();
}

void MainDialog::OnModelSelected(int index) {
    if (busy_ || !ValidIndex(kModels, index)) return;
    modelIndex_ = index;
    DisconnectIfConnected();
    FillBaudList();
    if (modelIndex_ == 0) otherInterfacesEnabled_ = true;
}

PortSettings MainDialog::BuildPortSettings() const {
    PortSettings settings;
    settings.portName = ValidIndex(portNames_, portIndex_)
                            ? portNames_[static_cast<std::size_t>(portIndex_)]
                            : std::string();
    settings.baudRate = IntegerOf(baudRates_, baudIndex_);
    settings.dataBits = IntegerOf(kDataBits, dataBitsIndex_);
    // An index outside the list (a typed parity) keeps the previous code.
    settings.parity = parityIndex_ >= 0 && parityIndex_ <= 2 ? parityIndex_ : parityCode_;
    settings.stopBits = stopBitsIndex_ < 0 ? 0 : stopBitsIndex_;
    settings.flowControl = flowIndex_ < 0 ? 0 : flowIndex_;
    settings.timeouts = {10, 10, 10, 0, 0};
    return settings;
}

void MainDialog::OnCheckCommunication() {
    if (busy_ || connected_) return;
    const PortSettings settings = BuildPortSettings();
    parityCode_ = settings.parity;
    const auto type = static_cast<PortType>(interfaceType_);
    busy_ = true;
    auto result = std::make_shared<CheckResult>(CheckResult::SetupFailed);
    deps_.runner.Run(
        [this, settings, type, result] {
            // Every port name that the print system can print to too diverts the
            // queues on it: the "COM"/"LPT" names, Linux device paths and USB
            // printers. A queue left printing there is named before the exchange.
            ReportRecovery(diversion_.RecoverAbandoned());
            const DiversionReport diverted = diversion_.Divert(settings.portName);
            if (!diverted.refused.empty())
                deps_.notifier.notify(
                    Message{Paragraphs(diverted.refused), "Warning", MessageIcon::Exclamation});
            Session session{port_, deps_.clock, deps_.notifier};
            *result = CheckCommunication(session, settings, type, deps_.checkLimits);
        },
        [this, result] {
            lastCheck_ = *result;
            connected_ = *result == CheckResult::Connected;
            if (connected_) {
                buttons_.selfTest = buttons_.runManager = buttons_.commandEditor = true;
                buttons_.checkCommunication = false;
            }
            Finish();
        });
}

void MainDialog::OnSelfTest() {
    if (busy_ || !connected_) return;
    busy_ = true;
    buttons_.runManager = buttons_.commandEditor = false;
    deps_.runner.Run(
        [this] {
            Session session{port_, deps_.clock, deps_.notifier};
            SelfTest(session);
        },
        [this] {
            buttons_.runManager = buttons_.commandEditor = connected_;
            Finish();
        });
}

void MainDialog::RecoverQueues() {
    if (busy_) return;
    busy_ = true;
    deps_.runner.Run([this] { ReportRecovery(diversion_.RecoverAbandoned()); },
                     [this] { Finish(); });
}

void MainDialog::ReportRecovery(const RecoveryReport& report) {
    if (!report.givenBack.empty())
        deps_.notifier.notify(
            Message{Paragraphs(report.givenBack), "Information", MessageIcon::Information});
    std::vector<std::string> warnings = report.warnings;
    warnings.insert(warnings.end(), report.problems.begin(), report.problems.end());
    if (!warnings.empty())
        deps_.notifier.notify(Message{Paragraphs(warnings), "Warning", MessageIcon::Exclamation});
}

void MainDialog::Finish() {
    busy_ = false;
    if (onChanged) onChanged();
}

void MainDialog::Disconnect() {
    buttons_.selfTest = buttons_.runManager = buttons_.commandEditor = false;
    port_.Close();
    buttons_.checkCommunication = true;
    connected_ = false;
}

void MainDialog::DisconnectIfConnected() {
    if (connected_) Disconnect();
}

void MainDialog::Shutdown() {
    if (shutDown_ || busy_) return;
    shutDown_ = true;
    if (connected_) Disconnect();
    const auto problems = diversion_.Restore();
    if (!problems.empty())
        deps_.notifier.notify(Message{Paragraphs(problems), "Warning", MessageIcon::Exclamation});
}

}  // namespace tessaly::ui
