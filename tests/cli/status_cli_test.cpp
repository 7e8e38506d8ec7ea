// get-status, set-status and show run as a user runs them, against a virtual
// printer on a pseudo-terminal owned by the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli_wire.h"
#include "fifo_watchdog.h"
#include "payloads.h"
#include "program.h"
#include "pty_printer.h"
#include "r3_engine.h"
#include "status_commands.h"
#include "status_file.h"

namespace tessaly {
namespace {

using ::testing::HasSubstr;
using namespace tessaly::testing::wire;

struct StatusCli : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    std::unique_ptr<sim::PtyPrinter> printer;
    std::filesystem::path dir;

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("status-cli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        // Font B, code page 5; two-colour; switch 12 STD.
        config.switches[1] = 0x29;
        config.switches[9] = 0x20;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string File(const std::string& name) const { return (dir / name).string(); }

    Outcome Run(std::vector<std::string> args, bool withPrinter = true) {
        if (withPrinter) {
            engine = std::make_unique<sim::R3Engine>(config);
            printer = std::make_unique<sim::PtyPrinter>(*engine);
            EXPECT_TRUE(printer->start()) << printer->error();
            args.insert(args.begin(), {"--port", printer->slavePath()});
        }
        auto o = RunCli(args);
        EXPECT_FALSE(o.timedOut) << "the command line must never hang";
        return o;
    }
    Bytes AfterCheck() const {
        const Bytes log = engine->receivedLog();
        EXPECT_TRUE(std::equal(kCheck.begin(), kCheck.end(), log.begin()));
        return Bytes(log.begin() + static_cast<long>(kCheck.size()), log.end());
    }
};

TEST_F(StatusCli, GetStatusSavesAByteExactFile) {
    const auto o = Run({"get-status", "--save", File("got.sts")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(AfterCheck(), GetStatusWire());
    EXPECT_THAT(o.out, HasSubstr("Information: Success to get status of printer."));
    EXPECT_THAT(o.out, HasSubstr("Font Type                Font B (9X24)"));
    EXPECT_THAT(o.out, HasSubstr("Default Code Page          5 PC865 (Nordic)"));
    EXPECT_THAT(o.out, HasSubstr("Firmware Version           VT04.20 B0312"));

    PrinterSettings expected;
    SetSwitchValue(expected.msw1, 0x08);
    SetSwitchValue(expected.msw2, 0x29);
    SetSwitchValue(expected.msw10, 0x20);
    const SettingsImage image = EncodeSettings(expected);
    std::ifstream in(File("got.sts"), std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(file, Bytes(image.begin(), image.end()));
}

TEST_F(StatusCli, GetStatusJsonCarriesTheSameContent) {
    const auto o = Run({"get-status", "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);  // standard output is only JSON
    EXPECT_EQ(j["model"], "Vantreel R-3");
    EXPECT_EQ(j["firmwareMajor"], 4);
    EXPECT_EQ(j["defaultCodePage"]["index"], 5);
    EXPECT_EQ(j["buyerSet"]["name"], "STD");
    EXPECT_EQ(j["serial"]["baud"], "19200");
    EXPECT_EQ(j["memorySwitches"][1]["text"], "Font B (9X24)");
    EXPECT_EQ(j["switches"]["msw10"]["bits"], "00100000");
}

TEST_F(StatusCli, WrongPrinterNameFailsWithBothMessages) {
    config.printerName = "Other Printer";
    const auto o = Run({"get-status"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("This printer don't match our printer name."));
    EXPECT_THAT(o.err, HasSubstr("Don't use this program for other company product."));
}

TEST_F(StatusCli, UnansweredSwitchSavesNoFileAndExitsOne) {
    config.fault = sim::FaultMode::NoSwitchAnswer;
    config.silentSwitch = 10;
    auto o = Run({"get-status", "--save", File("new.sts")});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("did not answer the query for memory switch 10"));
    EXPECT_THAT(o.out, ::testing::Not(HasSubstr("Success")));
    EXPECT_FALSE(std::filesystem::exists(File("new.sts")));

    // An existing file keeps its contents.
    PrinterSettings old;
    SetSwitchValue(old.msw10, 0x11);
    ASSERT_EQ(WriteStatusFile(File("old.sts"), old), StatusFileResult::Ok);
    o = Run({"get-status", "--save", File("old.sts")});
    EXPECT_EQ(o.status, 1);
    PrinterSettings kept;
    ASSERT_EQ(ReadStatusFile(File("old.sts"), kept), StatusFileResult::Ok);
    EXPECT_EQ(kept, old);
}

TEST_F(StatusCli, SetStatusWritesTheFileInsideOneSetupPeriod) {
    PrinterSettings s;
    SetSwitchValue(s.msw1, 0x10);  // line feed on, buzzer off
    SetCodePageIndex(s.msw2, 17);
    s.buyerSetIndex = 1;
    ASSERT_EQ(WriteStatusFile(File("std.sts"), s), StatusFileResult::Ok);
    const auto o = Run({"set-status", File("std.sts")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Information: Success to set status of printer"));
    const Bytes wire = AfterCheck();
    EXPECT_TRUE(Contains(
        wire, Cmd({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E, 0x1D, 0x28, 0x45, 0x0A, 0x00,
                   0x03, 12,   '0',  '0',  '0',  '0',  '0',  '0',  '0',  '0',  0x1D, 0x28, 0x45,
                   0x0A, 0x00, 0x03, 1,    '2',  '2',  '2',  '1',  '0',  '2',  '2',  '2'})));
    EXPECT_TRUE(Contains(
        wire, Cmd({0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54, 0x1B, 0x3D, 0x01})));
    EXPECT_EQ(engine->memorySwitch(1), 0x10);
    EXPECT_EQ(CodePageIndex([&] {
                  SwitchBits b{};
                  SetSwitchValue(b, engine->memorySwitch(2));
                  return b;
              }()),
              17);
    EXPECT_FALSE(engine->inSetupMode());
}

TEST_F(StatusCli, ValuesNoSettingHasAreWarnedOfAndWrittenAsTheyAre) {
    PrinterSettings s;
    SetSwitchValue(s.msw12, 5);
    s.buyerSetIndex = 9;
    ASSERT_EQ(WriteStatusFile(File("odd.sts"), s), StatusFileResult::Ok);
    const auto o = Run({"--quiet", "set-status", File("odd.sts")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "Information: The status file \"" + File("odd.sts") +
                         "\" holds values that no printer setting has:\n"
                         "- buyer-set index 9 (the buyer-set list has entries 0 to 5)\n"
                         "- memory switch 12 = 00000101 (value 5 names no buyer set: 0 STD, 1 "
                         "KOR, 2 CHN, 3 JAP)\n"
                         "Set Status writes them into the printer as they are.\n");
    EXPECT_TRUE(o.out.empty()) << "--quiet keeps the warning only";
    EXPECT_TRUE(Contains(AfterCheck(), Cmd({0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, 12, '0', '0', '0',
                                            '0', '0', '1', '0', '1'})));
    EXPECT_EQ(engine->memorySwitch(12), 5);

    // show marks the same values.
    auto shown = Run({"show", File("odd.sts")}, false);
    ASSERT_EQ(shown.status, 0);
    EXPECT_THAT(shown.out, HasSubstr("5 unknown (5)  <- no printer setting has this value"));
    EXPECT_THAT(shown.out, HasSubstr("9 unknown (9)  <- no printer setting has this value"));
    shown = Run({"show", "--json", File("odd.sts")}, false);
    const auto j = nlohmann::json::parse(shown.out);
    EXPECT_EQ(j["buyerSet"]["known"], false);
    EXPECT_EQ(j["buyerSetIndex"]["known"], false);
}

TEST_F(StatusCli, StatusFilesThatAreNotFilesAreRefusedAtOnce) {
    tessaly::testing::FifoWatchdog fifo(File("pipe.sts"));
    ASSERT_TRUE(fifo.made());
    for (const char* command : {"show", "set-status"}) {
        const auto o = Run({command, fifo.path()}, false);
        EXPECT_EQ(o.status, 3) << command;
        EXPECT_EQ(o.err, "Warning: Can't load the status from \"" + fifo.path() +
                             "\": it is a named pipe (FIFO), not a file.\n");
    }
    EXPECT_FALSE(fifo.Blocked()) << "a command waited for a writer to the named pipe";
}

TEST_F(StatusCli, LineThatHangsUpAfterInIsAFailure) {
    config.fault = sim::FaultMode::HangUpAfterIn;
    PrinterSettings s;
    s.buyerSetIndex = 1;
    ASSERT_EQ(WriteStatusFile(File("std.sts"), s), StatusFileResult::Ok);
    const auto o = Run({"set-status", File("std.sts")});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Fail to set status of printer: memory switch"));
    EXPECT_THAT(o.out, ::testing::Not(HasSubstr("Success to set status")));
    EXPECT_EQ(engine->restartCount(), 0);
}

TEST_F(StatusCli, StandInFontNeedsYesBeforeAnythingIsWritten) {
    if (!payloads::AnyStandIns()) GTEST_SKIP() << "built with the vendor payloads";
    PrinterSettings s;
    SetSwitchValue(s.msw12, 1);
    s.buyerSetIndex = 2;
    ASSERT_EQ(WriteStatusFile(File("kor.sts"), s), StatusFileResult::Ok);
    const auto o = Run({"set-status", File("kor.sts")});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("stand-in"));
    EXPECT_FALSE(Contains(AfterCheck(), Cmd({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E})));
}

TEST_F(StatusCli, NationalSetDownloadsItsFontAfterYes) {
    PrinterSettings s;
    SetSwitchValue(s.msw12, 3);
    s.msw9[1] = 1;
    s.buyerSetIndex = 5;
    ASSERT_EQ(WriteStatusFile(File("jap.sts"), s), StatusFileResult::Ok);
    const auto o = Run({"--yes", "set-status", File("jap.sts")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, HasSubstr("Success to Change the Firmware,\n And Now Start Font Download!"));
    EXPECT_THAT(o.out, HasSubstr("Success to Download Font!, And Reboot Printer"));
    EXPECT_EQ(engine->memorySwitch(12), 3);
    const auto fonts = engine->fontReceptions();
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_EQ(fonts[0].result, sim::FontReception::Result::Ok);
    EXPECT_EQ(fonts[0].expected, 843782u);
}

TEST_F(StatusCli, ShowDecodesAFileWithoutAPrinter) {
    PrinterSettings s;
    SetSwitchValue(s.msw12, 2);
    s.buyerSetIndex = 4;
    ASSERT_EQ(WriteStatusFile(File("big5.sts"), s), StatusFileResult::Ok);
    auto o = Run({"show", File("big5.sts")}, false);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Buyer-set list entry       4 CHN-BIG5"));
    EXPECT_THAT(o.out, HasSubstr("(not applied: national buyer set)"));
    o = Run({"show", "--json", File("big5.sts")}, false);
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(nlohmann::json::parse(o.out)["buyerSetIndex"]["entry"], "CHN-BIG5");

    ASSERT_EQ(WriteStatusFile(File("upper.STS"), s), StatusFileResult::Ok);
    o = Run({"show", File("upper.STS")}, false);
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("Wrong format files loaded."));
    EXPECT_EQ(Run({"show", File("missing.sts")}, false).status, 3);
    EXPECT_EQ(Run({"show"}, false).status, 2);
}

TEST(StatusTable, UnknownEntriesAreNamedAsSuch) {
    PrinterSettings s;
    SetCodePageIndex(s.msw2, 40);
    SetSwitchValue(s.msw12, 9);
    s.buyerSetIndex = 7;
    const std::string table = cli::StatusTable(s, nullptr, nullptr, true);
    EXPECT_THAT(table, HasSubstr("40 unknown (40)"));
    EXPECT_THAT(table, HasSubstr("9 unknown (9)"));
    EXPECT_THAT(table, HasSubstr("7 unknown (7)"));
}

}  // namespace
}  // namespace tessaly
