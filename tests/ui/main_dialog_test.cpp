#include "main_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "memory_journal.h"
#include "r3_engine.h"
#include "simulated_port.h"
#include "ui_fakes.h"

namespace tessaly::ui {
namespace {

using ::testing::ElementsAre;
using testing::FixedCatalog;
using testing::HeldRunner;
using testing::MemoryQueues;
using testing::RecordingNotifier;

using Buttons = MainDialog::Buttons;
constexpr Buttons kNotConnected{true, false, false, false, true};
constexpr Buttons kConnected{false, true, true, true, true};
constexpr Buttons kDuringSelfTest{false, true, false, false, true};

struct MainDialogTest : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    VirtualClock clock;
    RecordingNotifier notifier;
    InlineRunner inlineRunner;
    HeldRunner heldRunner;
    OperationRunner* runner = &inlineRunner;
    FixedCatalog catalog;
    std::vector<PrintQueue> queues{{"receipts", "serial:/dev/ttyS0?baud=19200", false, ""},
                                   {"office", "ipp://printserver/office", false, ""}};
    std::vector<std::string> queueLog;
    std::vector<std::string> refuse;
    tessaly::testing::MemoryJournal journal;
    MemoryQueues* memoryQueues = nullptr;
    std::unique_ptr<MainDialog> dialog;

    MainDialog& Open() {
        engine = std::make_unique<sim::R3Engine>(config);
        auto memory = std::make_unique<MemoryQueues>(queues, queueLog);
        memory->refuse = refuse;
        memoryQueues = memory.get();
        dialog = std::make_unique<MainDialog>(MainDialogDeps{
            clock, notifier, *runner, catalog, sim::MakeSimulatedPortFactory(*engine, clock),
            std::move(memory), CheckLimits{}, &journal.journal});
        dialog->Initialize();
        return *dialog;
    }

    MainDialog& Connected() {
        Open().OnCheckCommunication();
        EXPECT_TRUE(dialog->connected());
        notifier.shown.clear();
        return *dialog;
    }
};

TEST_F(MainDialogTest, OpensOnTheFirstSerialPortAt19200WithOnlyTheCheckEnabled) {
    auto& d = Open();
    EXPECT_EQ(d.interfaceType(), 0);
    EXPECT_EQ(d.modelIndex(), 0);
    EXPECT_EQ(d.portNames(), catalog.serial);
    EXPECT_EQ(d.portIndex(), 0);
    EXPECT_EQ(d.baudRates(), MainDialog::kBaudRates);
    EXPECT_EQ(d.baudRates()[static_cast<std::size_t>(d.baudIndex())], "19200");
    EXPECT_EQ(d.dataBitsIndex(), 0);
    EXPECT_EQ(d.parityIndex(), 0);
    EXPECT_EQ(d.stopBitsIndex(), 0);
    EXPECT_EQ(d.flowControlIndex(), 0);
    EXPECT_TRUE(d.lineSettingsEnabled());
    EXPECT_EQ(d.buttons(), kNotConnected);
    EXPECT_FALSE(d.connected());
}

TEST_F(MainDialogTest, FallsBackToTheClassicPortNamesWhenTheMachineReportsNone) {
    catalog.serial.clear();
    catalog.parallel.clear();
    auto& d = Open();
    ASSERT_EQ(d.portNames().size(), 14u);
    EXPECT_EQ(d.portNames().front(), "COM1");
    EXPECT_EQ(d.portNames()[8], "COM9");
    EXPECT_EQ(d.portNames()[9], "\\\\.\\COM10");
    EXPECT_EQ(d.portNames().back(), "\\\\.\\COM14");
    d.OnInterfaceClicked(1);
    EXPECT_THAT(d.portNames(), ElementsAre("LPT1", "LPT2", "LPT3"));
}

TEST_F(MainDialogTest, ParallelDisablesTheLineSettingsAndSerialRestoresOnlyTheBaudRate) {
    auto& d = Open();
    d.OnPortSelected(1);
    d.OnBaudSelected(6);
    d.OnDataBitsSelected(1);
    d.OnParitySelected(2);
    d.OnStopBitsSelected(2);
    d.OnFlowControlSelected(1);

    d.OnInterfaceClicked(1);
    EXPECT_EQ(d.interfaceType(), 1);
    EXPECT_EQ(d.portNames(), catalog.parallel);
    EXPECT_EQ(d.portIndex(), 0);
    EXPECT_FALSE(d.lineSettingsEnabled());

    d.OnInterfaceClicked(0);
    EXPECT_TRUE(d.lineSettingsEnabled());
    EXPECT_EQ(d.portIndex(), 0);
    EXPECT_EQ(d.baudIndex(), MainDialog::kDefaultBaudIndex);
    EXPECT_EQ(d.dataBitsIndex(), 1);
    EXPECT_EQ(d.parityIndex(), 2);
    EXPECT_EQ(d.stopBitsIndex(), 2);
    EXPECT_EQ(d.flowControlIndex(), 1);
}

TEST_F(MainDialogTest, UsbWithoutAPrinterSaysSoAndFallsBackToSerial) {
    auto& d = Open();
    d.OnInterfaceClicked(2);
    EXPECT_THAT(notifier.shown, ElementsAre(MainDialog::kNoUsbPrinter));
    EXPECT_EQ(notifier.shown[0].text,
              "Printer is not connected by USB.\nPlease, turn on the printer!!");
    EXPECT_EQ(d.interfaceType(), 0);
    EXPECT_EQ(d.portNames(), catalog.serial);
    EXPECT_TRUE(d.lineSettingsEnabled());

    catalog.usb = {"R-3:/dev/usb/lp0"};
    notifier.shown.clear();
    d.OnInterfaceClicked(2);
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_EQ(d.interfaceType(), 2);
    EXPECT_THAT(d.portNames(), ElementsAre("R-3:/dev/usb/lp0"));
    EXPECT_FALSE(d.lineSettingsEnabled());
}

TEST_F(MainDialogTest, UsbListFollowsPrintersArrivingAndLeaving) {
    auto& d = Open();
    catalog.usb = {"R-3:/dev/usb/lp0", "R-3:/dev/usb/lp1"};
    d.OnInterfaceClicked(2);
    d.OnPortSelected(1);

    // Another printer arrives before the chosen one: the choice stays on lp1.
    catalog.usb = {"R-3:/dev/usb/lp2", "R-3:/dev/usb/lp0", "R-3:/dev/usb/lp1"};
    d.OnUsbDevicesChanged();
    EXPECT_EQ(d.portNames(), catalog.usb);
    EXPECT_EQ(d.portIndex(), 2);

    // The chosen printer leaves: the first one is chosen.
    catalog.usb = {"R-3:/dev/usb/lp2"};
    d.OnUsbDevicesChanged();
    EXPECT_EQ(d.portIndex(), 0);

    // All leave: the list stays, and no message interrupts the user.
    catalog.usb.clear();
    d.OnUsbDevicesChanged();
    EXPECT_THAT(d.portNames(), ElementsAre("R-3:/dev/usb/lp2"));
    EXPECT_TRUE(notifier.shown.empty());

    // The serial list does not change on USB events.
    d.OnInterfaceClicked(0);
    catalog.usb = {"R-3:/dev/usb/lp0"};
    d.OnUsbDevicesChanged();
    EXPECT_EQ(d.portNames(), catalog.serial);
}

TEST_F(MainDialogTest, BuildsThePortSettingsFromTheSelections) {
    auto& d = Open();
    d.OnPortSelected(1);
    d.OnBaudSelected(2);
    d.OnDataBitsSelected(1);
    d.OnParitySelected(1);
    d.OnStopBitsSelected(1);
    d.OnFlowControlSelected(1);
    PortSettings s = d.BuildPortSettings();
    EXPECT_EQ(s.portName, "/dev/ttyUSB0");
    EXPECT_EQ(s.baudRate, 9600);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, 1);
    EXPECT_EQ(s.stopBits, 1);
    EXPECT_EQ(s.flowControl, 1);
    EXPECT_EQ(s.timeouts, (std::array<std::uint32_t, 5>{10, 10, 10, 0, 0}));

    // A parity typed into the editable list keeps the code of the last check.
    d.OnParitySelected(2);
    d.OnCheckCommunication();
    ASSERT_TRUE(d.connected());
    d.OnParitySelected(-1);
    EXPECT_EQ(d.BuildPortSettings().parity, 2);
}

TEST_F(MainDialogTest, ASuccessfulCheckUnlocksThePrinterFunctionsAndKeepsThePortOpen) {
    auto& d = Open();
    d.OnCheckCommunication();
    EXPECT_TRUE(d.connected());
    EXPECT_EQ(d.lastCheckResult(), CheckResult::Connected);
    EXPECT_EQ(d.buttons(), kConnected);
    EXPECT_TRUE(d.port().IsOpen());
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kConnected));
}

TEST_F(MainDialogTest, AFailedCheckKeepsTheButtonsAndClosesThePort) {
    config.fault = sim::FaultMode::WrongModel;
    auto& d = Open();
    d.OnCheckCommunication();
    EXPECT_FALSE(d.connected());
    EXPECT_EQ(d.buttons(), kNotConnected);
    EXPECT_FALSE(d.port().IsOpen());
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].text, messages::kWrongModel.text);
    EXPECT_THAT(notifier.shown[0].details, ::testing::HasSubstr("answered 21 (hex)"));
}

TEST_F(MainDialogTest, ChangingAnySelectionWhileConnectedDisconnects) {
    const std::vector<std::function<void(MainDialog&)>> changes{
        [](MainDialog& d) { d.OnPortSelected(1); },
        [](MainDialog& d) { d.OnBaudSelected(0); },
        [](MainDialog& d) { d.OnDataBitsSelected(1); },
        [](MainDialog& d) { d.OnParitySelected(1); },
        [](MainDialog& d) { d.OnStopBitsSelected(1); },
        [](MainDialog& d) { d.OnFlowControlSelected(1); },
        [](MainDialog& d) { d.OnInterfaceClicked(1); },
        [](MainDialog& d) { d.OnInterfaceClicked(0); },
        [](MainDialog& d) { d.OnModelSelected(0); },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        auto& d = Connected();
        changes[i](d);
        EXPECT_FALSE(d.connected());
        EXPECT_FALSE(d.port().IsOpen());
        EXPECT_EQ(d.buttons(), kNotConnected);
        EXPECT_TRUE(notifier.shown.empty());
    }
}

TEST_F(MainDialogTest, TheModelListRefillsTheBaudRates) {
    auto& d = Open();
    d.OnBaudSelected(0);
    d.OnModelSelected(0);
    EXPECT_EQ(d.baudRates(), MainDialog::kBaudRates);
    EXPECT_EQ(d.baudIndex(), MainDialog::kDefaultBaudIndex);
    EXPECT_TRUE(d.otherInterfacesEnabled());
}

TEST_F(MainDialogTest, TheSelfTestHoldsRunManagerAndTheEditorAndIgnoresInputMeanwhile) {
    runner = &heldRunner;
    auto& d = Open();
    d.OnCheckCommunication();
    heldRunner.Finish();
    ASSERT_TRUE(d.connected());
    int changed = 0;
    d.onChanged = [&] { ++changed; };

    d.OnSelfTest();
    EXPECT_TRUE(d.busy());
    EXPECT_EQ(d.buttons(), kDuringSelfTest);
    // Input while the printer prints its page is held back, not acted on.
    d.OnBaudSelected(0);
    d.OnInterfaceClicked(1);
    d.OnSelfTest();
    EXPECT_TRUE(d.connected());
    EXPECT_EQ(d.interfaceType(), 0);

    const auto before = clock.now();
    heldRunner.Finish();
    EXPECT_EQ(clock.now() - before, kSelfTestMs);
    EXPECT_EQ(engine->selfTestCount(), 1);
    EXPECT_FALSE(d.busy());
    EXPECT_EQ(d.buttons(), kConnected);
    EXPECT_EQ(changed, 1);
}

TEST_F(MainDialogTest, DivertsTheQueuesOnThePortAndRestoresThemAfterClosingThePort) {
    auto& d = Connected();
    EXPECT_THAT(queueLog, ElementsAre("pause receipts"));
    EXPECT_TRUE(queues[0].paused);
    EXPECT_FALSE(queues[1].paused);
    d.Shutdown();
    EXPECT_FALSE(d.port().IsOpen());
    EXPECT_THAT(queueLog, ElementsAre("pause receipts", "resume receipts"));
    d.Shutdown();
    EXPECT_EQ(queueLog.size(), 2u);
}

TEST_F(MainDialogTest, AQueueThatCannotBeGivenBackOnExitIsNamedAndStaysRecorded) {
    auto& d = Connected();
    EXPECT_EQ(journal.items.size(), 1u);
    memoryQueues->refuseResume = true;
    d.Shutdown();
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].caption, "Warning");
    EXPECT_NE(notifier.shown[0].text.find("'receipts' (Forbidden); the next start tries again"),
              std::string::npos)
        << notifier.shown[0].text;
    EXPECT_TRUE(queues[0].paused);
    EXPECT_EQ(journal.items.size(), 1u) << "the record stays for the next start";
}

TEST_F(MainDialogTest, AQueueThatCannotBePausedIsNamedBeforeTheExchangeWhichStillRuns) {
    refuse = {"receipts"};
    auto& d = Open();
    d.OnCheckCommunication();
    ASSERT_FALSE(notifier.shown.empty());
    const Message& warning = notifier.shown.front();
    EXPECT_EQ(warning.caption, "Warning");
    EXPECT_EQ(warning.icon, MessageIcon::Exclamation);
    EXPECT_NE(warning.text.find("'receipts'"), std::string::npos) << warning.text;
    EXPECT_NE(warning.text.find("Forbidden"), std::string::npos) << warning.text;
    EXPECT_NE(warning.text.find("cupsdisable receipts"), std::string::npos) << warning.text;
    EXPECT_TRUE(d.connected());
    EXPECT_TRUE(queueLog.empty());
    EXPECT_TRUE(journal.items.empty()) << "a refused pause leaves no record";
}

TEST_F(MainDialogTest, AtStartQueuesLeftPausedByAKilledRunAreGivenBackAndTheUserIsTold) {
    // A run that ended without cleaning up (its process is gone) paused "receipts".
    const ProcessIdentity gone{999999999, "never/0"};
    tessaly::testing::MemoryJournal earlier(gone);
    const std::string note = PortDiversion::PauseNote("/dev/ttyS0", gone.pid);
    std::string error;
    ASSERT_TRUE(
        earlier.journal.Add("/dev/ttyS0", {"receipts", "", queues[0].deviceUri, note}, error));
    journal.items = earlier.items;
    queues[0].paused = true;
    queues[0].stateMessage = note;

    auto& d = Open();
    d.RecoverQueues();
    EXPECT_FALSE(d.busy());
    EXPECT_FALSE(queues[0].paused);
    EXPECT_TRUE(journal.items.empty());
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0],
              (Message{"Resumed queue receipts, left paused by an earlier run that did not finish.",
                       "Information", MessageIcon::Information}));
}

}  // namespace
}  // namespace tessaly::ui
