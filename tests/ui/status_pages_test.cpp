#include "status_pages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "printer_status_dialog.h"
#include "r3_engine.h"
#include "simulated_port.h"
#include "status_file.h"

namespace tessaly::ui {
namespace {

using ::testing::ElementsAre;

SwitchBits Bits(std::uint8_t value) {
    SwitchBits b{};
    SetSwitchValue(b, value);
    return b;
}

TEST(MemorySwitchPage, RefreshShowsSixRowsAndKeepsLineFeedHidden) {
    PrinterSettings s;
    s.msw1 = Bits(0x18);   // buzzer and line feed
    s.msw2 = Bits(0x02);   // full cut
    s.msw10 = Bits(0x20);  // two colour
    MemorySwitchPage page(s);
    EXPECT_FALSE(page.labelColours(0).has_value());
    page.Refresh(true);
    std::vector<int> selections;
    for (int r = 0; r < MemorySwitchPage::kRows; ++r) selections.push_back(page.selection(r));
    EXPECT_THAT(selections, ElementsAre(1, 0, 1, 0, 0, 1, -1));
    EXPECT_FALSE(page.labelEnabled(6));
    EXPECT_FALSE(page.choicesEnabled(6));
    EXPECT_EQ(page.labelColours(0), MemorySwitchPage::kFilledLabel);
    EXPECT_FALSE(page.labelColours(6).has_value());

    page.Refresh(false);
    for (int r = 0; r < MemorySwitchPage::kRows; ++r) {
        EXPECT_EQ(page.selection(r), -1);
        EXPECT_FALSE(page.labelEnabled(r));
    }
    EXPECT_TRUE(page.choicesEnabled(0));  // display off leaves the choices as they were
    EXPECT_EQ(page.labelColours(5), MemorySwitchPage::kFilledLabel);  // never cleared
}

TEST(MemorySwitchPage, ClicksChangeTheRecordBitAtOnce) {
    PrinterSettings s;
    s.msw1 = Bits(0x10);
    MemorySwitchPage page(s);
    page.Click(0, 1);  // not shown yet: ignored
    EXPECT_EQ(s.msw1[4], 0);
    page.Refresh(true);
    page.Click(0, 1);
    page.Click(4, 1);
    page.Click(6, 0);  // Auto Line Feed is never editable
    EXPECT_EQ(s.msw1[4], 1);
    EXPECT_EQ(s.msw10[5], 1);
    EXPECT_EQ(s.msw1[5], 1);
    EXPECT_EQ(page.selection(4), 1);
    page.Click(4, 0);
    EXPECT_EQ(s.msw10[5], 0);
}

struct SettingPage : ::testing::Test {
    PrinterSettings s;
    PrinterSettingPage page{s};

    void Printer(int buyerValue, int codePage) {
        SetSwitchValue(s.msw12, static_cast<std::uint8_t>(buyerValue));
        SetCodePageIndex(s.msw2, codePage);
        s.msw2[1] = 1;
        page.Refresh(true);
    }
};

TEST_F(SettingPage, RefreshRemembersThePrintersValues) {
    Printer(0, 5);
    EXPECT_EQ(page.codePageSelection(), 5);
    EXPECT_TRUE(page.codePageListEnabled());
    EXPECT_TRUE(page.buyerListEnabled());
    EXPECT_EQ(page.buyerSetSelection(), 0);
    EXPECT_EQ(page.printersBuyerValue(), 0);

    Printer(3, 5);  // JAP: no code page applies
    EXPECT_EQ(page.codePageSelection(), -1);
    EXPECT_FALSE(page.codePageListEnabled());
    EXPECT_EQ(page.printersBuyerValue(), 3);
}

TEST_F(SettingPage, KoreanSetsSwitchTwelveAndNine) {
    Printer(0, 5);
    page.OnBuyerSetSelected(2);
    EXPECT_EQ(SwitchValue(s.msw12), 0x01);
    EXPECT_EQ(s.msw9[1], 1);
    EXPECT_FALSE(page.codePageListEnabled());
    EXPECT_EQ(page.codePageSelection(), -1);
    EXPECT_EQ(s.buyerSetIndex, 2);
    EXPECT_EQ(page.currentBuyerValue(), 1);
}

TEST_F(SettingPage, BothChineseSetsWriteTheSameValue) {
    Printer(0, 0);
    page.OnBuyerSetSelected(3);
    const SwitchBits gb = s.msw12;
    page.OnBuyerSetSelected(4);
    EXPECT_EQ(s.msw12, gb);
    EXPECT_EQ(SwitchValue(s.msw12), 2);
    EXPECT_EQ(s.buyerSetIndex, 4);
}

TEST_F(SettingPage, PromptEntryRestoresThePrintersSwitchAndCodePage) {
    Printer(0, 5);
    s.msw12[0] = 9;  // reserved element: not part of the restore
    page.Refresh(true);
    page.OnBuyerSetSelected(2);
    page.OnBuyerSetSelected(0);
    EXPECT_EQ(SwitchValue(s.msw12), 0);
    EXPECT_EQ(page.codePageSelection(), 5);
    EXPECT_EQ(CodePageIndex(s.msw2), 5);
    EXPECT_EQ(s.msw2[1], 1);  // font bit untouched
    EXPECT_EQ(s.msw9[1], 1);  // stays set from the KOR choice
    EXPECT_TRUE(page.codePageListEnabled());
    EXPECT_EQ(s.buyerSetIndex, 0);
}

TEST_F(SettingPage, StdOnAKoreanPrinterClearsTheNationalBits) {
    SetSwitchValue(s.msw9, 0x01);
    Printer(1, 0);
    s.msw2 = Bits(0xFC);  // code page bits all set
    page.OnBuyerSetSelected(1);
    EXPECT_EQ(SwitchValue(s.msw12), 0);
    EXPECT_EQ(s.msw9[1], 0);
    EXPECT_EQ(page.codePageSelection(), 0);
    EXPECT_EQ(CodePageIndex(s.msw2), 0);
    EXPECT_TRUE(page.codePageListEnabled());
}

TEST_F(SettingPage, PromptOnANationalPrinterKeepsItsSwitch) {
    Printer(3, 0);
    page.OnBuyerSetSelected(1);
    page.OnBuyerSetSelected(0);  // back to the printer's own JAP
    EXPECT_EQ(SwitchValue(s.msw12), 3);
    EXPECT_FALSE(page.codePageListEnabled());
}

TEST_F(SettingPage, CodePageChoiceRewritesOnlyItsBits) {
    Printer(0, 0);
    s.msw2[1] = 1;
    s.msw2[2] = 1;
    page.OnCodePageSelected(32);
    EXPECT_EQ(s.msw2[3], 1);
    EXPECT_EQ(CodePageIndex(s.msw2), 32);
    page.OnCodePageSelected(0);
    EXPECT_EQ(SwitchValue(s.msw2), 0x03);
    page.OnCodePageSelected(37);  // no such entry
    EXPECT_EQ(SwitchValue(s.msw2), 0x03);
}

TEST_F(SettingPage, CodePageWithoutEntryShowsNothingButIsRestoredWhole) {
    Printer(0, 40);
    EXPECT_EQ(page.codePageSelection(), -1);
    page.OnBuyerSetSelected(2);
    page.OnBuyerSetSelected(0);
    EXPECT_EQ(CodePageIndex(s.msw2), 40);
    EXPECT_EQ(page.codePageSelection(), -1);
}

TEST_F(SettingPage, DisplayOffClearsEverythingButTheSavedValues) {
    Printer(2, 0);
    page.ShowIdentity({"VT04.20 B0312", "Vantreel R-3", 4});
    page.ShowSerialConditions({3, 1, 0, 0});
    page.Refresh(false);
    EXPECT_EQ(page.firmwareVersionText(), "");
    EXPECT_EQ(page.modelNameText(), "");
    EXPECT_EQ(page.serialSelections(), SerialConditions{});
    EXPECT_EQ(page.buyerSetSelection(), -1);
    EXPECT_FALSE(page.buyerListEnabled());
    EXPECT_EQ(page.printersBuyerValue(), 2);
    page.OnBuyerSetSelected(1);  // the list is disabled now
    EXPECT_EQ(SwitchValue(s.msw12), 2);
}

// The whole dialog against the virtual printer.
struct StatusDialogOnVirtualPrinter : ::testing::Test {
    struct Recorder final : Notifier {
        std::vector<Message> shown;
        MessageAnswer answer = MessageAnswer::Yes;  // to boxes with more than OK
        std::function<void(const Message&)> onShow;
        MessageAnswer notify(const Message& m) override {
            shown.push_back(m);
            if (onShow) onShow(m);
            return m.buttons == MessageButtons::Ok ? MessageAnswer::Ok : answer;
        }
    };

    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    VirtualClock clock;
    Recorder notifier;
    InlineRunner runner;
    PacingEngine timers{clock};
    std::unique_ptr<PrinterPort> port;
    std::unique_ptr<PrinterStatusDialog> dialog;
    std::string dir;

    FontDownload::PayloadLookup payloads = payloads::FindFontPayload;

    void Open(const std::string& name = "COM1") {
        engine = std::make_unique<sim::R3Engine>(config);
        port = std::make_unique<PrinterPort>(sim::MakeSimulatedPortFactory(*engine, clock));
        PortSettings settings;
        settings.portName = name;
        ASSERT_TRUE(port->Setup(settings));
        ASSERT_TRUE(port->Open(0));
        dialog = std::make_unique<PrinterStatusDialog>(
            StatusDialogDeps{*port, clock, notifier, runner, timers, 0, payloads});
    }
    void RunTimers() {
        timers.run([this](int id) { dialog->OnTimer(id); });
    }
    void TearDown() override {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
    std::string TempFile(const std::string& name) {
        dir = (std::filesystem::temp_directory_path() /
               ("status-dialog-" + std::to_string(::getpid())))
                  .string();
        std::filesystem::create_directories(dir);
        return dir + "/" + name;
    }
};

TEST_F(StatusDialogOnVirtualPrinter, OpensWithOnlyGetLoadInitializeAndExit) {
    Open();
    EXPECT_EQ(dialog->enabledButtons(), kGetButton | kLoadButton | kInitializeButton | kExitButton);
    dialog->OnSetStatus();  // disabled: nothing reaches the printer
    EXPECT_TRUE(engine->receivedLog().empty());
}

TEST_F(StatusDialogOnVirtualPrinter, ChoosingKoreanAndSettingDownloadsItsFont) {
    Open();
    dialog->OnGetStatus();
    ASSERT_TRUE(dialog->lastGetStatusOk());
    EXPECT_EQ(dialog->enabledButtons(), kAllButtons);
    EXPECT_EQ(dialog->printerSettingPage().modelNameText(), "Vantreel R-3");
    EXPECT_EQ(dialog->memorySwitchPage().selection(0), 1);  // buzzer enabled

    dialog->printerSettingPage().OnBuyerSetSelected(2);
    dialog->OnSetStatus();
    EXPECT_EQ(dialog->lastSetStatus(), SetStatusOutcome::FontDownloadStarted);
    EXPECT_TRUE(dialog->downloading());
    EXPECT_EQ(dialog->enabledButtons(), 0u);
    dialog->OnGetStatus();  // ignored while the download runs
    RunTimers();

    EXPECT_EQ(dialog->downloadOutcome(), FontDownload::Outcome::Succeeded);
    EXPECT_EQ(dialog->downloadPayload(), 144);
    EXPECT_EQ(engine->memorySwitch(12), 1);
    EXPECT_EQ(engine->memorySwitch(9) & 1, 1);
    ASSERT_EQ(engine->fontReceptions().size(), 1u);
    EXPECT_EQ(engine->fontReceptions()[0].result, sim::FontReception::Result::Ok);
    EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadSuccess);
    EXPECT_EQ(dialog->enabledButtons(), kAllButtons);
    EXPECT_TRUE(dialog->printerSettingPage().buyerListEnabled());
    EXPECT_EQ(dialog->progress().position(), 0);
    // The pages were re-derived from what was written: KOR is now the printer's own.
    EXPECT_EQ(dialog->printerSettingPage().printersBuyerValue(), 1);
}

// Stand-in font data is agreed to before Set Status writes anything: "No"
// leaves the printer as it was.
TEST_F(StatusDialogOnVirtualPrinter, StandInQuestionComesBeforeAnythingIsWritten) {
    payloads = [](int id) {
        auto payload = payloads::FindFontPayload(id);
        if (payload) payload->standIn = true;
        return payload;
    };
    for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
        Open();
        dialog->OnGetStatus();
        ASSERT_TRUE(dialog->lastGetStatusOk());
        dialog->printerSettingPage().OnBuyerSetSelected(2);  // KOR
        const std::size_t before = engine->receivedLog().size();
        std::size_t writtenWhenAsked = 0;
        notifier.answer = answer;
        notifier.shown.clear();
        notifier.onShow = [&](const Message& m) {
            if (m == messages::StandInPayloadWarning(144))
                writtenWhenAsked = engine->receivedLog().size() - before;
        };
        dialog->OnSetStatus();
        RunTimers();
        ASSERT_FALSE(notifier.shown.empty());
        EXPECT_EQ(notifier.shown.front(), messages::StandInPayloadWarning(144));
        EXPECT_EQ(writtenWhenAsked, 0u);
        if (answer == MessageAnswer::No) {
            EXPECT_EQ(dialog->lastSetStatus(), SetStatusOutcome::StandInsDeclined);
            EXPECT_EQ(notifier.shown.size(), 1u);
            EXPECT_EQ(engine->receivedLog().size(), before) << "nothing was written";
            EXPECT_EQ(engine->memorySwitch(12), 0);
            EXPECT_EQ(dialog->enabledButtons(), kAllButtons);
        } else {
            EXPECT_EQ(dialog->downloadOutcome(), FontDownload::Outcome::Succeeded);
            EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadSuccess);
            EXPECT_EQ(std::count(notifier.shown.begin(), notifier.shown.end(),
                                 messages::StandInPayloadWarning(144)),
                      1)
                << "asked once";
        }
    }
}

// A write the printer does not take: the failure is reported and, as after a
// failed handshake, only Exit stays usable.
TEST_F(StatusDialogOnVirtualPrinter, LineThatHangsUpDuringSetStatusLeavesOnlyExit) {
    config.fault = sim::FaultMode::HangUpAfterIn;
    Open();
    dialog->OnGetStatus();
    ASSERT_TRUE(dialog->lastGetStatusOk());
    dialog->OnSetStatus();
    EXPECT_EQ(dialog->lastSetStatus(), SetStatusOutcome::WriteFailed);
    EXPECT_EQ(notifier.shown.back(), messages::SetStatusFailed("memory switch 1"));
    EXPECT_EQ(dialog->enabledButtons(), kExitButton);
    EXPECT_FALSE(dialog->busy());
}

TEST_F(StatusDialogOnVirtualPrinter, FailedHandshakeLeavesOnlyExitAndEmptyPages) {
    config.fault = sim::FaultMode::Silence;
    Open();
    dialog->OnGetStatus();
    EXPECT_FALSE(dialog->lastGetStatusOk());
    EXPECT_EQ(dialog->enabledButtons(), kExitButton);
    for (int r = 0; r < MemorySwitchPage::kRows; ++r) {
        EXPECT_FALSE(dialog->memorySwitchPage().labelEnabled(r));
        EXPECT_EQ(dialog->memorySwitchPage().selection(r), -1);
    }
}

TEST_F(StatusDialogOnVirtualPrinter, InitializeSaveLoadAndSetWithoutGetStatus) {
    config.switches[0] = 0x18;  // line feed and buzzer on
    Open();
    dialog->OnGetStatus();
    dialog->OnInitializeStatus();
    EXPECT_EQ(dialog->printerSettingPage().buyerSetSelection(), 1);
    const std::string path = TempFile("init.sts");
    dialog->OnSaveStatus(path);
    ASSERT_TRUE(dialog->lastFileOk());
    PrinterSettings saved;
    ASSERT_EQ(ReadStatusFile(path, saved), StatusFileResult::Ok);
    EXPECT_EQ(saved.buyerSetIndex, 1);
    EXPECT_EQ(saved.msw1[5], 1);  // Auto Line Feed as last read
    EXPECT_EQ(saved.msw1[4], 0);

    // A fresh dialog: Load enables Set and Save without printer traffic.
    Open();
    dialog->OnLoadStatus(path);
    EXPECT_TRUE(engine->receivedLog().empty());
    EXPECT_EQ(dialog->enabledButtons(), kAllButtons);
    EXPECT_EQ(dialog->printerSettingPage().buyerSetSelection(), 1);
    dialog->OnSetStatus();
    EXPECT_EQ(dialog->lastSetStatus(), SetStatusOutcome::Done);
    EXPECT_EQ(notifier.shown.back(), messages::kSetStatusSuccess);
    EXPECT_EQ(engine->memorySwitch(1), 0x10);  // buzzer off, line feed kept
}

TEST_F(StatusDialogOnVirtualPrinter, UpperCaseExtensionIsRefusedAndChangesNothing) {
    Open();
    const std::string path = TempFile("x.STS");
    ASSERT_EQ(WriteStatusFile(path, PrinterSettings{}), StatusFileResult::Ok);
    dialog->OnLoadStatus(path);
    EXPECT_EQ(notifier.shown.back(), messages::kWrongFormatFile);
    EXPECT_FALSE(dialog->enabled(kSetButton));
}

TEST_F(StatusDialogOnVirtualPrinter, ALoadedProfileShowsWhatSetStatusWouldChangeAndAsksFirst) {
    config.switches[1] = 0x29;  // Font B, code page 5
    Open();
    dialog->OnGetStatus();
    const std::string path = TempFile("shop.toml");
    { std::ofstream(path) << "paper_width = \"2 Inch\"\ncode_page = 0\n"; }
    dialog->OnLoadStatus(path);
    ASSERT_TRUE(dialog->lastFileOk());
    // Bits the profile leaves out keep what Get Status read.
    EXPECT_EQ(dialog->record().settings.msw2[1], 1);
    EXPECT_EQ(dialog->memorySwitchPage().selection(4), 1);
    const auto changes = dialog->ChangesToPrinter();
    ASSERT_TRUE(changes);
    ASSERT_EQ(changes->size(), 2u);
    EXPECT_EQ((*changes)[0].key, "paper_width");

    const auto sent = engine->receivedLog().size();
    notifier.answer = MessageAnswer::No;
    dialog->OnSetStatus();
    const Message& question = notifier.shown.back();
    EXPECT_EQ(question.buttons, MessageButtons::YesNo);
    EXPECT_THAT(question.text,
                ::testing::AllOf(::testing::HasSubstr("Paper Width: 3 Inch -> 2 Inch\n"),
                                 ::testing::HasSubstr("Default Code Page: PC865 (Nordic) -> PC437 "
                                                      "(USA: Standard Europe)\n")));
    EXPECT_EQ(engine->receivedLog().size(), sent) << "No writes nothing";

    notifier.answer = MessageAnswer::Yes;
    dialog->OnSetStatus();
    EXPECT_EQ(dialog->lastSetStatus(), SetStatusOutcome::Done);
    EXPECT_EQ(engine->memorySwitch(10), 0x10);
    EXPECT_EQ(engine->memorySwitch(2), 0x01);
    EXPECT_FALSE(dialog->ChangesToPrinter()) << "unknown until the next Get Status";
}

TEST_F(StatusDialogOnVirtualPrinter, SavesAndLoadsProfilesByTheirExtension) {
    config.switches[9] = 0x20;  // two colour
    Open();
    dialog->OnGetStatus();
    const std::string path = TempFile("all.toml");
    dialog->OnSaveStatus(path);
    ASSERT_TRUE(dialog->lastFileOk());
    std::ifstream in(path);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_THAT(text, ::testing::HasSubstr("two_color_print = \"2 Color\"\n"));

    // A fresh dialog takes every bit from it without printer traffic, and asks
    // nothing before Set Status: there is no printer reading to compare with.
    Open();
    dialog->OnLoadStatus(path);
    EXPECT_TRUE(engine->receivedLog().empty());
    EXPECT_EQ(SwitchValue(dialog->record().settings.msw10), 0x20);
    EXPECT_EQ(dialog->enabledButtons(), kAllButtons);
    const auto shown = notifier.shown.size();
    dialog->OnSetStatus();
    EXPECT_EQ(dialog->lastSetStatus(), SetStatusOutcome::Done);
    EXPECT_EQ(notifier.shown.size(), shown + 1);  // only the success message

    // A refused profile changes nothing and says why.
    { std::ofstream(path) << "paper_width = \"5 Inch\"\n"; }
    dialog->OnLoadStatus(path);
    EXPECT_FALSE(dialog->lastFileOk());
    EXPECT_THAT(notifier.shown.back().text, ::testing::HasSubstr("\"5 Inch\""));
    EXPECT_EQ(SwitchValue(dialog->record().settings.msw10), 0x20);
}

}  // namespace
}  // namespace tessaly::ui
