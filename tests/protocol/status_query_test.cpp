#include "status_query.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "connection_check.h"
#include "scripted_r3.h"
#include "status_fixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using namespace tessaly::testing;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kInit = ToBytes(cmd::CmdInitialize);
const Bytes kSelect = ToBytes(cmd::CmdSelectPrinter);
const Bytes kFirmware = ToBytes(cmd::CmdFirmwareVersion);
const Bytes kSuffix = ToBytes(cmd::CmdVersionSuffix);
const Bytes kName = ToBytes(cmd::CmdPrinterName);
const Bytes kNoStatusBack = ToBytes(cmd::CmdDisableStatusBack);
const Bytes kModel = ToBytes(cmd::CmdModelId);
Bytes ReadSwitch(int n) {
    return ToBytes(cmd::CmdReadSwitch(static_cast<std::uint8_t>(n)));
}
Bytes Condition(int a) {
    return ToBytes(cmd::CmdSerialCondition(static_cast<std::uint8_t>(a)));
}
Bytes QueriesAfterHandshake() {
    return Concat({ReadSwitch(2), ReadSwitch(8), ReadSwitch(9), ReadSwitch(1), ReadSwitch(10),
                   ReadSwitch(11), ReadSwitch(12), Condition(1), Condition(2), Condition(3),
                   Condition(4), kSelect});
}

struct GetStatusOnVirtualPrinter : VirtualPrinterFixture {
    void Connect(const std::string& name = "COM1") {
        // Font B, full cut, code page 5; external buzzer, 2 inch, 2 colour; JAP.
        config.switches[1] = 0x2B;
        config.switches[9] = 0x31;
        config.switches[11] = 0x03;
        VirtualPrinterFixture::Connect(name);
    }
};

TEST_F(GetStatusOnVirtualPrinter, ReadsEverySettingInTheDocumentedOrder) {
    Connect();
    ASSERT_TRUE(exchange->GetStatus());

    EXPECT_EQ(engine->receivedLog(), Concat({kInit, kSelect, kFirmware, kSuffix, kName,
                                             kNoStatusBack, kModel, QueriesAfterHandshake()}));
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kGetStatusSuccess));

    const PrinterSettings& s = record.settings;
    EXPECT_EQ(SwitchValue(s.msw1), 0x08);
    EXPECT_EQ(SwitchValue(s.msw2), 0x2B);
    EXPECT_EQ(CodePageIndex(s.msw2), 5);
    EXPECT_EQ(SwitchValue(s.msw10), 0x31);
    EXPECT_EQ(BuyerValue(s.msw12), 3);
    EXPECT_EQ(s.buyerSetIndex, 0);  // Get Status fills the switch arrays only

    EXPECT_EQ(record.identity.firmwareVersionText, "VT04.20 B0312");
    EXPECT_EQ(record.identity.firmwareMajor, 4);
    EXPECT_EQ(record.identity.modelNameText, "Vantreel R-3");
    EXPECT_EQ(record.serial, (SerialConditions{3, 1, 0, 0}));
    EXPECT_EQ(view.serial, record.serial);

    EXPECT_EQ(view.enabled, kAllButtons);
    EXPECT_EQ(progress.position, 0);
    EXPECT_THAT(progress.positions, ElementsAre(0, 100, 0));
    // One step per name byte (header, 12 characters, NUL), 9 per switch, 7 for the
    // serial conditions and the final one.
    EXPECT_EQ(progress.steps, 14 + 63 + 7 + 1);
}

TEST_F(GetStatusOnVirtualPrinter, SecondRunSkipsTheNameAndFirmwareQueries) {
    Connect();
    ASSERT_TRUE(exchange->GetStatus());
    const std::size_t first = engine->receivedLog().size();
    ASSERT_TRUE(exchange->GetStatus());
    const Bytes log = engine->receivedLog();
    EXPECT_EQ(Bytes(log.begin() + static_cast<std::ptrdiff_t>(first), log.end()),
              Concat({kInit, kSelect, kNoStatusBack, kModel, QueriesAfterHandshake()}));
}

TEST_F(GetStatusOnVirtualPrinter, UsbReadsTheSameSettings) {
    Connect("R-3:/dev/usb/lp0");
    ASSERT_TRUE(exchange->GetStatus());
    EXPECT_EQ(engine->receivedLog(), Concat({kInit, kSelect, kFirmware, kSuffix, kName,
                                             kNoStatusBack, kModel, QueriesAfterHandshake()}));
    EXPECT_EQ(SwitchValue(record.settings.msw2), 0x2B);
    EXPECT_EQ(BuyerValue(record.settings.msw12), 3);
    EXPECT_EQ(record.identity.firmwareVersionText, "VT04.20 B0312");
    EXPECT_EQ(record.serial, (SerialConditions{3, 1, 0, 0}));
    // USB takes no draining or discarding reads: a fraction of the byte-link time.
    EXPECT_LT(clock.now(), 6000);
}

TEST_F(GetStatusOnVirtualPrinter, WrongNameShowsBothMessagesAndLeavesOnlyExit) {
    config.fault = sim::FaultMode::WrongNames;
    Connect();
    EXPECT_FALSE(exchange->GetStatus());
    EXPECT_THAT(notifier.shown,
                ElementsAre(messages::kWrongPrinterName, messages::kDontUseProgram));
    EXPECT_EQ(exchange->lastFailure(), StatusFailure::WrongName);
    EXPECT_EQ(view.enabled, kExitButton);
    EXPECT_THAT(view.calls, ::testing::Contains("refresh off"));
}

// Misbehaving printers end with a message and the failure path, never a hang.
TEST_F(GetStatusOnVirtualPrinter, MisbehavingPrintersEndInBoundedTime) {
    for (auto fault :
         {sim::FaultMode::Silence, sim::FaultMode::Garbage, sim::FaultMode::LateReplies,
          sim::FaultMode::EndlessSender, sim::FaultMode::WrongModel, sim::FaultMode::Disconnect}) {
        SCOPED_TRACE(sim::FaultModeName(fault));
        config = {};
        config.fault = fault;
        config.disconnectAfterBytes = 20;
        notifier.shown.clear();
        record = {};
        view = {};
        const std::int64_t start = clock.now();
        Connect();
        EXPECT_FALSE(exchange->GetStatus());
        EXPECT_FALSE(notifier.shown.empty());
        EXPECT_EQ(view.enabled, kExitButton);
        EXPECT_LT(clock.now() - start, 60000);
    }
}

TEST_F(GetStatusOnVirtualPrinter, UnansweredSwitchReadSavesNothingOnAnyLink) {
    config.fault = sim::FaultMode::NoSwitchAnswer;
    config.silentSwitch = 10;
    for (const char* link : {"COM1", "R-3:/dev/usb/lp0"}) {
        SCOPED_TRACE(link);
        record = {};
        view = {};
        notifier.shown.clear();
        Connect(link);
        EXPECT_FALSE(exchange->GetStatus());
        EXPECT_THAT(notifier.shown, ElementsAre(messages::SwitchNotAnswered(10)));
        EXPECT_EQ(record.settings, PrinterSettings{});
        EXPECT_EQ(view.enabled & kSaveButton, 0u);
    }
}

TEST_F(GetStatusOnVirtualPrinter, LongStaleBurstIsDrainedBeforeTheFirmwareQuery) {
    Connect();
    std::vector<std::uint8_t> queries;
    for (int i = 0; i < 2500; ++i) queries.insert(queries.end(), {0x1D, 0x49, 0x43});
    engine->receive(queries.data(), queries.size(), clock.now());
    ASSERT_TRUE(exchange->GetStatus());
    EXPECT_EQ(record.identity.firmwareVersionText, "VT04.20 B0312");
}

TEST_F(GetStatusOnVirtualPrinter, EndlessSenderGetsItsOwnMessageOnly) {
    config.fault = sim::FaultMode::EndlessSender;
    Connect();
    EXPECT_FALSE(exchange->GetStatus());
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kEndlessInput));
    EXPECT_EQ(exchange->lastFailure(), StatusFailure::EndlessInput);
}

TEST_F(GetStatusOnVirtualPrinter, FirmwareWithoutBlankKeepsOnlyTheSuffix) {
    config.firmwareVersion = "VT0420";
    Connect();
    ASSERT_TRUE(exchange->GetStatus());
    EXPECT_EQ(record.identity.firmwareVersionText, "B0312");
    EXPECT_EQ(record.identity.firmwareMajor, 0);
}

TEST_F(GetStatusOnVirtualPrinter, UnknownSerialRepliesKeepThePreviousValues) {
    config.serial.baud = "14400";
    config.serial.dataBits = "9";
    Connect();
    record.serial.baudIndex = 2;
    record.serial.dataBitsIndex = 0;
    ASSERT_TRUE(exchange->GetStatus());
    EXPECT_EQ(record.serial.baudIndex, 2);
    EXPECT_EQ(record.serial.dataBitsIndex, 0);
}

TEST(FirmwareText, CutAndMajorNumber) {
    EXPECT_EQ(CutFirmwareText("VT04.20 R-3"), "VT04.20 ");
    EXPECT_EQ(CutFirmwareText("VT0420"), "");
    EXPECT_EQ(FirmwareMajor("VT04.20 "), 4);
    EXPECT_EQ(FirmwareMajor("VT12.0 "), 12);
    EXPECT_EQ(FirmwareMajor("VT 3x "), 3);  // leading blank skipped
    EXPECT_EQ(FirmwareMajor("VT-3 "), -3);  // sign
    EXPECT_EQ(FirmwareMajor("VTx9 "), 0);   // no digits first
    EXPECT_EQ(FirmwareMajor("V "), 0);      // too short
}

// Byte-exact replies the virtual printer does not give.
struct StatusOnScript : StatusFixture {
    ScriptedR3 printer;
    std::unique_ptr<ScriptedPort> script;

    void Connect(const std::string& name = "COM1") {
        script = std::make_unique<ScriptedPort>(clock);
        printer.Attach(*script);
        Open(script->Factory(), name);
    }
};

TEST_F(StatusOnScript, ModelIdOnTheTenthExtraReadIsAccepted) {
    record.identity.firmwareVersionText = "known";  // skips the name check
    printer.replies[kModel] = Concat({Bytes(10, 'x'), Bytes{0x20}});
    Connect();
    EXPECT_TRUE(exchange->IdentifyPrinter());
}

TEST_F(StatusOnScript, ModelIdOnTheEleventhExtraReadIsTooLate) {
    record.identity.firmwareVersionText = "known";
    printer.replies[kModel] = Concat({Bytes(11, 'x'), Bytes{0x20}});
    Connect();
    EXPECT_FALSE(exchange->IdentifyPrinter());
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kCantConnect));
    EXPECT_EQ(exchange->lastFailure(), StatusFailure::NoModelId);
}

TEST_F(StatusOnScript, UsbTakesNoExtraModelReads) {
    record.identity.firmwareVersionText = "known";
    printer.replies[kModel] = {'x', 0x20};
    Connect("R-3:/dev/usb/lp0");
    EXPECT_FALSE(exchange->IdentifyPrinter());
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kCantConnect));
}

TEST_F(StatusOnScript, FailedResetWriteSkipsStraightToTheModelCheck) {
    Connect();
    script->writeResult = [](const Bytes&, std::size_t) { return 0u; };
    EXPECT_FALSE(exchange->IdentifyPrinter());
    EXPECT_EQ(script->Wire(), kInit);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kCantConnect));
}

TEST_F(StatusOnScript, NameIsFoundAnywhereAndUnderscoresAreDropped) {
    printer.name = "_X_Vantreel R-3 Plus";
    Connect();
    EXPECT_TRUE(exchange->IdentifyPrinter());
    EXPECT_EQ(record.identity.modelNameText, "XVantreel R-3 Plus");
    EXPECT_TRUE(notifier.shown.empty());
}

TEST_F(StatusOnScript, UnterminatedNameEndsAtTheByteBound) {
    // The name never ends: without a bound the loop would read forever.
    printer.replies[kName] = Concat({Bytes{0x5F}, TextBytes("Vantreel R-3"), Bytes(500, 'x')});
    Connect();
    const std::int64_t start = clock.now();
    EXPECT_FALSE(exchange->IdentifyPrinter());
    EXPECT_THAT(notifier.shown,
                ElementsAre(messages::kWrongPrinterName, messages::kDontUseProgram));
    EXPECT_LT(script->reads, 200u);
    EXPECT_LT(clock.now() - start, 30000);
}

TEST_F(StatusOnScript, NameThatStopsWithoutItsNulEndsThere) {
    // A reply cut short must not repeat its last byte for ever.
    printer.replies[kName] = Concat({Bytes{0x5F}, TextBytes("Vantreel R-3")});
    Connect();
    EXPECT_TRUE(exchange->IdentifyPrinter());
    EXPECT_EQ(record.identity.modelNameText, "Vantreel R-3");
}

TEST_F(StatusOnScript, FiveCharacterSuffixDoesNotSpoilTheNameQuery) {
    printer.suffix = "B0312";
    Connect();
    EXPECT_TRUE(exchange->IdentifyPrinter());
    EXPECT_EQ(record.identity.firmwareVersionText, "VT04.20 B0312");
    EXPECT_EQ(record.identity.modelNameText, "Vantreel R-3");
}

TEST_F(StatusOnScript, MissingSwitchHeaderTakesTheFailurePath) {
    printer.replies[ReadSwitch(2)] = Bytes(300, 'x');
    Connect();
    const std::int64_t start = clock.now();
    EXPECT_FALSE(exchange->GetStatus());
    EXPECT_EQ(exchange->lastFailure(), StatusFailure::NoSwitchReply);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::SwitchNotAnswered(2)));
    EXPECT_EQ(view.enabled, kExitButton);
    EXPECT_LT(clock.now() - start, 30000);
}

// A switch counts only when its eight characters are all '0' or '1' and came
// whole; anything else fails Get Status, names the switch and keeps the record.
TEST_F(StatusOnScript, SwitchReplyThatIsNotEightBitsFailsAndKeepsTheRecord) {
    const std::vector<std::pair<const char*, Bytes>> replies{
        {"no answer", {}},
        {"cut short", {0x37, 0x21, '0', '0', '0', '1'}},
        {"not a bit", {0x37, 0x21, '0', '0', '0', '0', '0', '0', '2', '1', 0}},
    };
    for (const char* link : {"COM1", "R-3:/dev/usb/lp0"}) {
        for (const auto& [what, reply] : replies) {
            SCOPED_TRACE(std::string(link) + ": " + what);
            printer.replies = {{ReadSwitch(10), reply}};
            record = {};
            record.settings.msw8[3] = 1;  // what an earlier Get Status left
            notifier.shown.clear();
            view = {};
            progress = {};
            Connect(link);
            EXPECT_FALSE(exchange->GetStatus());
            EXPECT_EQ(exchange->lastFailure(), StatusFailure::NoSwitchReply);
            EXPECT_THAT(notifier.texts(), ElementsAre(messages::SwitchNotAnswered(10).text));
            EXPECT_THAT(notifier.shown[0].text, ::testing::HasSubstr("memory switch 10"));
            EXPECT_EQ(view.enabled, kExitButton);
            EXPECT_THAT(view.calls, ::testing::Contains("refresh off"));
            EXPECT_EQ(progress.position, 0);
            PrinterSettings expected;
            expected.msw8[3] = 1;
            EXPECT_EQ(record.settings, expected) << "nothing of this run is kept";
        }
    }
}

TEST_F(StatusOnScript, FirstSwitchSkipsBytesBeforeItsHeader) {
    printer.switches[2] = 0x04;  // only bit 3: code page 32
    printer.replies[ReadSwitch(2)] = Concat({TextBytes("zz"), ScriptedR3::SwitchReply(0x04)});
    Connect();
    ASSERT_TRUE(exchange->GetStatus());
    EXPECT_EQ(CodePageIndex(record.settings.msw2), 32);
}

TEST_F(StatusOnScript, UsbSerialConditionsComeFromTheFifthByte) {
    printer.serial = {{1, "115200"}, {2, "2"}, {3, "1"}, {4, "7"}};
    Connect("R-3:/dev/usb/lp0");
    ASSERT_TRUE(exchange->GetStatus());
    EXPECT_EQ(record.serial, (SerialConditions{6, 0, 2, 1}));
}

}  // namespace
}  // namespace tessaly
