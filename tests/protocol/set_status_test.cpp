#include "set_status.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "scripted_r3.h"
#include "status_fixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using namespace tessaly::testing;

Bytes Write(int n, const char (&chars)[9]) {
    std::array<char, 8> c{};
    std::copy(chars, chars + 8, c.begin());
    return ToBytes(cmd::CmdWriteSwitch(static_cast<std::uint8_t>(n), c));
}

std::ptrdiff_t Find(const std::vector<Bytes>& writes, const Bytes& w) {
    return std::find(writes.begin(), writes.end(), w) - writes.begin();
}

struct RecordingStarter final : FontDownloadStarter {
    std::vector<int> started;
    void StartFontDownload(int index) override { started.push_back(index); }
};

SwitchBits Bits(std::uint8_t value) {
    SwitchBits b{};
    SetSwitchValue(b, value);
    return b;
}

TEST(SwitchCharacters, BitEightComesFirst) {
    const auto c = SwitchCharacters(Bits(0x81));
    EXPECT_EQ(std::string(c.begin(), c.end()), "10000001");
}

TEST(SwitchCharacters, SwitchOneWritesOnlyBuzzerAndLineFeed) {
    auto text = [](const std::array<char, 8>& c) { return std::string(c.begin(), c.end()); };
    EXPECT_EQ(text(Switch1Characters(Bits(0x18))), "22211222");
    EXPECT_EQ(text(Switch1Characters(Bits(0xE7))), "22200222");  // every other bit set
    EXPECT_EQ(text(Switch1Characters(Bits(0x08))), "22201222");
}

struct SetStatusOnScript : ::testing::Test {
    VirtualClock clock;
    RecordingNotifier notifier;
    RecordingProgress progress;
    RecordingView view;
    RecordingStarter starter;
    StatusRecord record;
    ScriptedR3 printer;
    ScriptedPort script{clock};
    std::unique_ptr<PrinterPort> port;
    std::unique_ptr<Session> session;
    std::unique_ptr<StatusExchange> exchange;

    void SetUp() override {
        record.identity.firmwareVersionText = "VT04.20 B031";  // Get Status ran before
        view.choice = {0, 0, 0};
        view.enabled = kAllButtons;
    }

    SetStatusOutcome Run(const std::string& name = "COM1") {
        printer.Attach(script);
        port = std::make_unique<PrinterPort>(script.Factory());
        PortSettings settings;
        settings.portName = name;
        port->Setup(settings);
        port->Open(0);
        session = std::make_unique<Session>(Session{*port, clock, notifier});
        exchange = std::make_unique<StatusExchange>(*session, port->type(), progress, view, record);
        return SetStatus(*exchange, starter);
    }
};

TEST_F(SetStatusOnScript, WritesEverySwitchInsideOneSetupPeriod) {
    record.settings.msw1 = Bits(0x18);
    record.settings.msw2 = Bits(0x2B);
    record.settings.msw8 = Bits(0x01);
    record.settings.msw9 = Bits(0x80);
    record.settings.msw10 = Bits(0x31);
    record.settings.msw11 = Bits(0x7F);
    EXPECT_EQ(Run(), SetStatusOutcome::Done);

    const std::vector<Bytes> expected{
        ToBytes(cmd::CmdInitialize),
        ToBytes(cmd::CmdSelectPrinter),
        ToBytes(cmd::CmdDisableStatusBack),
        ToBytes(cmd::CmdModelId),
        ToBytes(cmd::CmdEnterSetup),
        Write(1, "22211222"),
        Write(2, "00101011"),
        Write(8, "00000001"),
        Write(9, "10000000"),
        Write(10, "00110001"),
        Write(11, "01111111"),
        ToBytes(cmd::CmdLeaveSetup),
        ToBytes(cmd::CmdSelectPrinter),
        ToBytes(cmd::CmdFirmwareVersion),
        ToBytes(cmd::CmdVersionSuffix),
    };
    EXPECT_EQ(script.writes, expected);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kSetStatusSuccess));
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(view.enabled, kAllButtons);
    EXPECT_TRUE(view.codePageListEnabled);  // the printer's own buyer value is 0
    EXPECT_EQ(progress.position, 0);
    EXPECT_THAT(progress.positions, ElementsAre(0, 100, 0));
    EXPECT_EQ(progress.stepSize, 2);
}

TEST_F(SetStatusOnScript, ByteLinkReadsThreeBytesAfterInEachWriteAndOut) {
    Run();
    // After IN, seven switch writes... every acknowledgement is consumed, so
    // nothing of them is left for the firmware query that follows.
    EXPECT_TRUE(script.input.empty());
    EXPECT_EQ(record.identity.firmwareVersionText, "VT04.20 B031");
}

TEST_F(SetStatusOnScript, StdWritesSwitchTwelveWithoutFontDownload) {
    view.choice = {1, 0, 1};
    EXPECT_EQ(Run(), SetStatusOutcome::Done);
    EXPECT_EQ(Find(script.writes, Write(12, "00000000")),
              Find(script.writes, ToBytes(cmd::CmdEnterSetup)) + 1);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kSetStatusSuccess));
    EXPECT_TRUE(view.codePageListEnabled);  // enabled again with the STD write
}

TEST_F(SetStatusOnScript, CodePageListStaysDisabledForANationalPrinter) {
    view.choice = {0, 1, 1};
    EXPECT_EQ(Run(), SetStatusOutcome::Done);
    EXPECT_FALSE(view.codePageListEnabled);
    EXPECT_EQ(view.enabled, kAllButtons);
}

TEST_F(SetStatusOnScript, PromptEntryLeavesSwitchTwelveAlone) {
    Run();
    for (const auto& w : script.writes) EXPECT_FALSE(w.size() == 15 && w[6] == 12);
}

TEST_F(SetStatusOnScript, NationalSetHandsOverToTheFontDownload) {
    record.settings.msw12 = Bits(0x01);
    view.choice = {2, 1, 0};
    EXPECT_EQ(Run(), SetStatusOutcome::FontDownloadStarted);
    EXPECT_THAT(starter.started, ElementsAre(2));
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kStartFontDownload));
    EXPECT_EQ(view.enabled, 0u);  // the download owns the dialog now
    EXPECT_FALSE(view.buyerListEnabled);
    EXPECT_FALSE(view.codePageListEnabled);
    EXPECT_EQ(progress.position, 0);
    // The firmware is re-read before the hand-over.
    EXPECT_LT(Find(script.writes, ToBytes(cmd::CmdFirmwareVersion)),
              static_cast<std::ptrdiff_t>(script.writes.size()));
}

TEST_F(SetStatusOnScript, OutOfRangeListIndexWritesButStartsNoDownload) {
    view.choice = {9, 0, 0};
    EXPECT_EQ(Run(), SetStatusOutcome::Done);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kSetStatusSuccess));
}

TEST_F(SetStatusOnScript, AllSetSwitchesWarnAndAreWrittenAnyway) {
    record.settings.msw8 = Bits(0xFF);
    record.settings.msw10 = Bits(0xFF);
    record.settings.msw11 = Bits(0xFF);
    record.settings.msw9 = Bits(0xFF);  // no warning for switch 9
    Run();
    EXPECT_THAT(notifier.shown,
                ElementsAre(messages::kSwitch8NotSetUp, messages::kSwitch10NotSetUp,
                            messages::kSwitch11NotSetUp, messages::kSetStatusSuccess));
    EXPECT_LT(Find(script.writes, Write(11, "11111111")),
              static_cast<std::ptrdiff_t>(script.writes.size()));
}

// A write the port does not take whole ends the run: OUT is tried once, and the
// user learns which step failed; nothing after it is sent.
TEST_F(SetStatusOnScript, WriteNotTakenWholeEndsTheRunWithOneOut) {
    for (const char* link : {"COM1", "R-3:/dev/usb/lp0"}) {
        for (const std::uint32_t taken : {0u, 9u}) {
            SCOPED_TRACE(std::string(link) + ", bytes taken " + std::to_string(taken));
            script.writes.clear();
            script.input.clear();  // the answer to the last run's OUT
            notifier.shown.clear();
            view.enabled = kAllButtons;
            script.writeResult = [&](const Bytes& w, std::size_t) -> std::uint32_t {
                return w == Write(8, "00000000") ? taken : static_cast<std::uint32_t>(w.size());
            };
            EXPECT_EQ(Run(link), SetStatusOutcome::WriteFailed);
            const auto failed = Find(script.writes, Write(8, "00000000"));
            ASSERT_LT(failed, static_cast<std::ptrdiff_t>(script.writes.size()));
            EXPECT_EQ(script.writes.size(), static_cast<std::size_t>(failed) + 2);
            EXPECT_EQ(script.writes.back(), ToBytes(cmd::CmdLeaveSetup));
            EXPECT_THAT(notifier.shown, ElementsAre(messages::SetStatusFailed("memory switch 8")));
            EXPECT_EQ(notifier.shown[0].text,
                      "Fail to set status of printer: memory switch 8 could not be written.\n"
                      "Check the cable and that the printer is switched on, then connect "
                      "again and repeat Set Status.");
            EXPECT_EQ(notifier.shown[0].icon, MessageIcon::Stop);
            EXPECT_EQ(view.enabled, kExitButton);
            EXPECT_THAT(view.calls, ::testing::Contains("refresh off"));
            EXPECT_TRUE(starter.started.empty());
            EXPECT_EQ(progress.position, 0);
        }
    }
}

TEST_F(SetStatusOnScript, FailedInOrOutIsNamedToo) {
    script.writeResult = [](const Bytes& w, std::size_t) -> std::uint32_t {
        return w == ToBytes(cmd::CmdLeaveSetup) ? 0u : static_cast<std::uint32_t>(w.size());
    };
    EXPECT_EQ(Run(), SetStatusOutcome::WriteFailed);
    EXPECT_EQ(std::count(script.writes.begin(), script.writes.end(), ToBytes(cmd::CmdLeaveSetup)),
              1)
        << "a failed OUT is not sent again";
    EXPECT_EQ(script.writes.back(), ToBytes(cmd::CmdLeaveSetup));
    EXPECT_THAT(notifier.shown,
                ElementsAre(messages::SetStatusFailed("the command that ends user setup (OUT)")));

    script.writes.clear();
    notifier.shown.clear();
    script.writeResult = [](const Bytes& w, std::size_t) -> std::uint32_t {
        return w == ToBytes(cmd::CmdEnterSetup) ? 0u : static_cast<std::uint32_t>(w.size());
    };
    EXPECT_EQ(Run(), SetStatusOutcome::WriteFailed);
    EXPECT_EQ(script.writes.back(), ToBytes(cmd::CmdLeaveSetup));
    EXPECT_THAT(notifier.shown,
                ElementsAre(messages::SetStatusFailed("the command that starts user setup (IN)")));

    // Every write taken, but the bytes never left the computer.
    script.writes.clear();
    script.input.clear();
    notifier.shown.clear();
    script.writeResult = nullptr;
    script.sent = [] { return false; };
    EXPECT_EQ(Run(), SetStatusOutcome::WriteFailed);
    EXPECT_EQ(script.writes.back(), ToBytes(cmd::CmdLeaveSetup));
    EXPECT_THAT(notifier.shown,
                ElementsAre(messages::SetStatusFailed("the command that ends user setup (OUT)")));
}

TEST_F(SetStatusOnScript, FailedHandshakeWritesNothingAndLeavesOnlyExit) {
    printer.replies[ToBytes(cmd::CmdModelId)] = {0x21};
    EXPECT_EQ(Run(), SetStatusOutcome::HandshakeFailed);
    EXPECT_EQ(Find(script.writes, ToBytes(cmd::CmdEnterSetup)),
              static_cast<std::ptrdiff_t>(script.writes.size()));
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kCantConnect));
    EXPECT_EQ(view.enabled, kExitButton);
}

TEST_F(SetStatusOnScript, UsbAnswersToTheWritesDoNotSpoilTheFirmwareReRead) {
    record.identity.firmwareVersionText = "old ";
    Run("R-3:/dev/usb/lp0");
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kSetStatusSuccess));
    EXPECT_EQ(record.identity.firmwareVersionText, "VT04.20 B031");
    EXPECT_EQ(record.identity.firmwareMajor, 4);
}

TEST_F(SetStatusOnScript, PageNeverShownSkipsTheFirmwareReRead) {
    view.choice = {0, -1, -1};
    Run();
    EXPECT_EQ(Find(script.writes, ToBytes(cmd::CmdFirmwareVersion)),
              static_cast<std::ptrdiff_t>(script.writes.size()));
    EXPECT_THAT(view.calls, ::testing::Not(::testing::Contains("refresh on")));
}

// Against the virtual printer: the written switches are what the printer keeps.
TEST_F(VirtualPrinterFixture, SetStatusWritesTheSwitchesThePrinterKeeps) {
    config.switches[0] = 0xE7;  // switch 1: everything but buzzer and line feed
    Connect();
    RecordingStarter starter;
    ASSERT_TRUE(exchange->GetStatus());

    record.settings.msw1[4] = 1;  // buzzer on, line feed stays off
    SetCodePageIndex(record.settings.msw2, 17);
    SetSwitchValue(record.settings.msw12, 0);
    view.choice = {1, 0, 0};
    EXPECT_EQ(SetStatus(*exchange, starter), SetStatusOutcome::Done);
    EXPECT_FALSE(engine->inSetupMode());
    EXPECT_EQ(engine->memorySwitch(1), 0xEF);
    EXPECT_EQ(CodePageIndex(Bits(engine->memorySwitch(2))), 17);
    EXPECT_EQ(engine->memorySwitch(12), 0);
    EXPECT_EQ(notifier.shown.back(), messages::kSetStatusSuccess);
}

// The line dies right after IN was answered: every later write fails.
TEST_F(VirtualPrinterFixture, SetStatusReportsALineThatHungUpInsideTheSetupPeriod) {
    config.fault = sim::FaultMode::HangUpAfterIn;
    for (const char* link : {"COM1", "R-3:/dev/usb/lp0"}) {
        SCOPED_TRACE(link);
        notifier.shown.clear();
        view.choice = {1, 0, 0};
        Connect(link);
        RecordingStarter starter;
        EXPECT_EQ(SetStatus(*exchange, starter), SetStatusOutcome::WriteFailed);
        EXPECT_THAT(notifier.shown, ElementsAre(messages::SetStatusFailed("memory switch 12")));
        EXPECT_EQ(view.enabled, kExitButton);
        EXPECT_EQ(engine->restartCount(), 0) << "nothing reached the printer after IN";
    }
}

TEST(InitializeStatus, ClearsTheUserSettingsAndSelectsStd) {
    PrinterSettings s;
    s.msw1 = Bits(0xFF);
    s.msw1[0] = 7;
    s.msw2 = Bits(0xFF);
    s.msw8 = s.msw9 = s.msw10 = s.msw11 = s.msw12 = Bits(0xFF);
    s.msw2[0] = 5;
    RecordingView view;
    InitializeStatus(s, view);
    EXPECT_EQ(SwitchValue(s.msw1), 0xF7);  // only the buzzer bit is cleared
    EXPECT_EQ(s.msw1[0], 7);
    EXPECT_EQ(s.msw2[0], 5);  // reserved elements are kept
    for (const SwitchBits* b : {&s.msw2, &s.msw8, &s.msw9, &s.msw10, &s.msw11, &s.msw12})
        EXPECT_EQ(SwitchValue(*b), 0);
    EXPECT_EQ(s.buyerSetIndex, 1);
    EXPECT_EQ(view.selectedBuyerSet, 1);
    EXPECT_EQ(view.enabled & (kSetButton | kSaveButton), kSetButton | kSaveButton);
    EXPECT_THAT(view.calls, ::testing::Contains("refresh on"));
}

}  // namespace
}  // namespace tessaly
