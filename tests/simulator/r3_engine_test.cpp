#include "r3_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "reply_bytes.h"

namespace tessaly::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using testing::Framed;
using ::testing::HasSubstr;

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Sends bytes at a time and returns everything readable at that time.
Bytes Exchange(R3Engine& engine, const Bytes& command, std::int64_t now = 0) {
    EXPECT_EQ(engine.receive(command.data(), command.size(), now), command.size());
    Bytes out(4096);
    out.resize(engine.takeOutput(out.data(), out.size(), now));
    return out;
}

const Bytes kEnterSetup = B({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E});
const Bytes kLeaveSetup = B({0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54});
const Bytes kSetupAck = B({0x37, 0x20, 0x00});

Bytes ReadSwitch(int n) {
    return B({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, n});
}

Bytes WriteSwitch(int n, const std::string& chars) {
    return Concat({B({0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, n}), Text(chars)});
}

Bytes SwitchReply(const std::string& bits) {
    return Concat({B({0x37, 0x21}), Text(bits), B({0x00})});
}

// --- identity and queries ---------------------------------------------------------

TEST(R3EngineQueries, IdentityRepliesAreByteExact) {
    R3Engine engine;
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01})), B({0x20}));
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x42})), Framed("Vantreel Druckwerken GmbH"));
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x43})), Framed("Vantreel R-3"));
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x41})), Framed("VT04.20 R-3"));
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x28, 0x45, 0x02, 0x00, 0x0C, 0x08})),
              Concat({B({0x37, 0x33, 0x08, 0x1F}), Text("B0312"), B({0x00})}));
}

TEST(R3EngineQueries, CommandsWithoutAnswerStaySilent) {
    R3Engine engine;
    EXPECT_TRUE(Exchange(engine, B({0x1B, 0x40, 0x1B, 0x3D, 0x01, 0x1D, 0x61, 0x00})).empty());
    // An identity number the printer does not know gets no answer either.
    EXPECT_TRUE(Exchange(engine, B({0x1D, 0x49, 0x7F})).empty());
}

TEST(R3EngineQueries, QueriesSplitAcrossWritesAreAnsweredOnce) {
    R3Engine engine;
    EXPECT_TRUE(Exchange(engine, B({0x1D})).empty());
    EXPECT_TRUE(Exchange(engine, B({0x49})).empty());
    EXPECT_EQ(Exchange(engine, B({0x01})), B({0x20}));
}

TEST(R3EngineQueries, SerialConditionsUseTheirFourLeadingBytes) {
    PrinterConfig config;
    config.serial = {"115200", "2", "1", "7"};
    R3Engine engine(config);
    auto query = [&](int a) {
        return Exchange(engine, B({0x1D, 0x28, 0x45, 0x02, 0x00, 0x0C, a}));
    };
    EXPECT_EQ(query(1), Concat({B({0x37, 0x33, 0x01, 0x1F}), Text("115200"), B({0})}));
    EXPECT_EQ(query(2), Concat({B({0x37, 0x33, 0x02, 0x1F}), Text("2"), B({0})}));
    EXPECT_EQ(query(3), Concat({B({0x37, 0x33, 0x03, 0x1F}), Text("1"), B({0})}));
    EXPECT_EQ(query(4), Concat({B({0x37, 0x33, 0x04, 0x1F}), Text("7"), B({0})}));
    EXPECT_TRUE(query(5).empty());
}

TEST(R3EngineQueries, MemorySwitchReadListsBitsEightToOne) {
    PrinterConfig config;
    config.switches[1] = 0x24;  // switch 2: bits 6 and 3
    R3Engine engine(config);
    EXPECT_EQ(Exchange(engine, ReadSwitch(2)), SwitchReply("00100100"));
    EXPECT_EQ(Exchange(engine, ReadSwitch(1)), SwitchReply("00001000"));  // default: buzzer
    EXPECT_EQ(Exchange(engine, ReadSwitch(12)), SwitchReply("00000000"));
    EXPECT_TRUE(Exchange(engine, ReadSwitch(0)).empty());
    EXPECT_TRUE(Exchange(engine, ReadSwitch(200)).empty());
}

TEST(R3EngineQueries, RealTimeStatusAnswersOneByte) {
    R3Engine engine;
    EXPECT_EQ(Exchange(engine, B({0x10, 0x04, 0x01})), B({0x16}));
    EXPECT_EQ(Exchange(engine, B({0x10, 0x04, 0x04})), B({0x12}));
}

// --- user setup periods -----------------------------------------------------------

TEST(R3EngineSetup, WritesOutsideASetupPeriodAreIgnored) {
    R3Engine engine;
    EXPECT_TRUE(Exchange(engine, WriteSwitch(2, "11111111")).empty());
    EXPECT_EQ(engine.memorySwitch(2), 0);
    // OUT without IN does not restart the printer either.
    EXPECT_TRUE(Exchange(engine, kLeaveSetup).empty());
    EXPECT_EQ(engine.restartCount(), 0);
}

TEST(R3EngineSetup, EveryStepIsAcknowledgedAndWritesApplyOnRestart) {
    R3Engine engine;
    EXPECT_EQ(Exchange(engine, kEnterSetup), kSetupAck);
    EXPECT_TRUE(engine.inSetupMode());
    EXPECT_EQ(Exchange(engine, WriteSwitch(10, "00110001")), kSetupAck);
    EXPECT_EQ(engine.memorySwitch(10), 0) << "staged until the restart";
    EXPECT_EQ(Exchange(engine, ReadSwitch(10)), SwitchReply("00110001")) << "reads see staged";
    EXPECT_EQ(Exchange(engine, kLeaveSetup), kSetupAck);
    EXPECT_FALSE(engine.inSetupMode());
    EXPECT_EQ(engine.memorySwitch(10), 0x31);
    EXPECT_EQ(engine.restartCount(), 1);
}

TEST(R3EngineSetup, CharacterTwoKeepsTheBit) {
    PrinterConfig config;
    config.switches[0] = 0b10100101;
    R3Engine engine(config);
    // Template for switch 1 that writes only bits 5 and 4.
    Exchange(engine, Concat({kEnterSetup, WriteSwitch(1, "22210222"), kLeaveSetup}));
    EXPECT_EQ(engine.memorySwitch(1), 0b10110101);
}

TEST(R3EngineSetup, InvalidSettingCharacterRejectsThatSwitchOnly) {
    R3Engine engine;
    Exchange(engine, Concat({kEnterSetup, WriteSwitch(8, "0000000X"), WriteSwitch(9, "00000001"),
                             WriteSwitch(40, "11111111"), kLeaveSetup}));
    EXPECT_EQ(engine.memorySwitch(8), 0);
    EXPECT_EQ(engine.memorySwitch(9), 1);
}

TEST(R3EngineSetup, SwitchesPersistAcrossPeriodsAndInputDuringRestartWaits) {
    PrinterConfig config;
    config.restartMs = 1000;
    R3Engine engine(config);
    Exchange(engine, Concat({kEnterSetup, WriteSwitch(12, "00000011"), kLeaveSetup}), 0);
    // ESC = 1 right behind OUT, and a query during the restart, are carried out
    // once the printer is back.
    EXPECT_TRUE(Exchange(engine, B({0x1B, 0x3D, 0x01, 0x1D, 0x49, 0x01}), 500).empty());
    EXPECT_EQ(engine.nextOutputTime(), 1000);
    EXPECT_EQ(Exchange(engine, {}, 1000), B({0x20}));
    EXPECT_EQ(engine.commandNames().back(), "GS I 1 transmit printer id");
    Exchange(engine, Concat({kEnterSetup, WriteSwitch(2, "00000001"), kLeaveSetup}), 2000);
    EXPECT_EQ(Exchange(engine, ReadSwitch(12), 4000), SwitchReply("00000011"));
    EXPECT_EQ(Exchange(engine, ReadSwitch(2), 4000), SwitchReply("00000001"));
}

TEST(R3EngineSetup, StateFileCarriesSwitchesToTheNextEngine) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("r3-state-" + std::to_string(::getpid()));
    std::filesystem::remove(path);
    PrinterConfig config;
    config.stateFile = path.string();
    {
        R3Engine engine(config);
        Exchange(engine, Concat({kEnterSetup, WriteSwitch(11, "10000001"), kLeaveSetup}));
    }
    R3Engine again(config);
    EXPECT_EQ(again.memorySwitch(11), 0x81);
    EXPECT_EQ(again.memorySwitch(1), 0x08);
    std::filesystem::remove(path);
}

// --- font payloads ----------------------------------------------------------------

Bytes FontPayload(std::uint32_t count, std::uint32_t dataBytes) {
    Bytes out = B({0x1C, 0x6C, 0x64, 0x73, 0x58, static_cast<int>(count & 0xFF),
                   static_cast<int>((count >> 8) & 0xFF), static_cast<int>((count >> 16) & 0xFF),
                   static_cast<int>(count >> 24)});
    for (std::uint32_t i = 0; i < dataBytes; ++i) out.push_back(static_cast<std::uint8_t>(i * 7));
    return out;
}

TEST(R3EngineFont, ExactCountInBlocksIsOkAndPrintsNothing) {
    R3Engine engine;
    const Bytes payload = FontPayload(10000, 10000);
    // Header block of 64 bytes, then 4096-byte blocks, as the utility sends it.
    std::size_t at = 0;
    std::int64_t now = 0;
    for (std::size_t block : {std::size_t{64}, std::size_t{4096}, std::size_t{4096}}) {
        engine.receive(payload.data() + at, block, now);
        at += block;
        now += 15000;
    }
    engine.receive(payload.data() + at, payload.size() - at, now);
    const auto fonts = engine.fontReceptions();
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_EQ(fonts[0].result, FontReception::Result::Ok);
    EXPECT_EQ(fonts[0].received, 10000u);
    EXPECT_TRUE(engine.paper().empty()) << "payload bytes are not text";
    // The log keeps every byte; the activity events only summarise font data.
    EXPECT_EQ(engine.receivedLog(), payload);
    std::size_t shownBytes = 0;
    for (const auto& e : engine.takeEvents()) shownBytes += e.bytes.size();
    EXPECT_LT(shownBytes, 400u);
    // Commands after the payload work again.
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01}), now), B({0x20}));
}

TEST(R3EngineFont, MissingBytesAreShortAfterTheIdleTime) {
    PrinterConfig config;
    config.fontIdleTimeoutMs = 30000;
    R3Engine engine(config);
    const Bytes payload = FontPayload(5000, 4000);
    engine.receive(payload.data(), payload.size(), 0);
    engine.tick(29000);
    EXPECT_EQ(engine.fontReceptions()[0].result, FontReception::Result::Receiving);
    engine.tick(31000);
    const auto font = engine.fontReceptions()[0];
    EXPECT_EQ(font.result, FontReception::Result::Short);
    EXPECT_EQ(font.received, 4000u);
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01}), 31000), B({0x20}));
}

TEST(R3EngineFont, BadMagicOrCountIsBadFraming) {
    R3Engine engine;
    // Wrong fourth byte: refused, and the stray byte is read as text.
    Exchange(engine, B({0x1C, 0x6C, 0x64, 0x41, 0x0A}));
    Exchange(engine, B({0x1C, 0x6C, 0x64, 0x73, 0x58, 0, 0, 0, 0}));              // count 0
    Exchange(engine, B({0x1C, 0x6C, 0x64, 0x73, 0x58, 0xFF, 0xFF, 0xFF, 0xFF}));  // 4 GB
    const auto fonts = engine.fontReceptions();
    ASSERT_EQ(fonts.size(), 3u);
    for (const auto& f : fonts) EXPECT_EQ(f.result, FontReception::Result::BadFraming);
    EXPECT_THAT(engine.paper(), ElementsAre("A"));
}

// --- paper and canned commands ----------------------------------------------------

TEST(R3EnginePaper, CannedCommandsConsumeTheirArgumentsAndTextReachesPaper) {
    R3Engine engine;
    // Every argument below is a printable byte: a wrong argument count would leak
    // it onto the paper.
    const Bytes commands = Concat({
        B({0x1B, 0x21, 0x41}),
        B({0x1B, 0x45, 0x41}),
        B({0x1B, 0x2D, 0x41}),
        B({0x1B, 0x61, 0x41}),
        B({0x1B, 0x70, 0x41, 0x42, 0x43}),
        B({0x1B, 0x32}),
        B({0x1B, 0x33, 0x41}),
        B({0x1B, 0x74, 0x41}),
        B({0x1C, 0x70, 0x41, 0x42}),
        Text("Hello"),
        B({0x0A}),
        B({0x1B, 0x4A, 0x41}),
        Text("World"),
        B({0x1D, 0x56, 0x42, 0x41}),
        B({0x1D, 0x56, 0x00}),
    });
    EXPECT_TRUE(Exchange(engine, commands).empty());
    EXPECT_THAT(engine.paper(), ElementsAre("[NV image 65]", "Hello", "", "World",
                                            "--- partial cut ---", "--- full cut ---"));
    const auto names = engine.commandNames();
    EXPECT_EQ(names.size(), 13u);
    EXPECT_THAT(names[4], HasSubstr("drawer kick"));
}

TEST(R3EnginePaper, ModeCommandsSetTheirModesAndInitialiseResetsThem) {
    R3Engine engine;
    Exchange(engine, B({0x1B, 0x21, 0x01, 0x1B, 0x45, 0x01, 0x1B, 0x2D, 0x01, 0x1B, 0x61, 0x02,
                        0x1B, 0x74, 0x10, 0x1B, 0x33, 0xC8, 0x1D, 0x61, 0x00, 0x1B, 0x3D, 0x00}));
    TextModes m = engine.textModes();
    EXPECT_EQ(m.printMode, 1);
    EXPECT_TRUE(m.bold);
    EXPECT_EQ(m.underline, 1);
    EXPECT_EQ(m.alignment, 2);
    EXPECT_EQ(m.codeTable, 0x10);
    EXPECT_EQ(m.lineSpacing, 0xC8);
    EXPECT_FALSE(m.peripheralSelected);
    Exchange(engine, B({0x1B, 0x40}));
    m = engine.textModes();
    EXPECT_EQ(m.printMode, 0);
    EXPECT_FALSE(m.bold);
    EXPECT_EQ(m.alignment, 0);
    EXPECT_EQ(m.lineSpacing, 0);
    EXPECT_FALSE(m.peripheralSelected) << "ESC @ does not touch the peripheral selection";
}

TEST(R3EnginePaper, PrintTestStringGivesTwoLines) {
    R3Engine engine;
    Exchange(engine, Concat({Text("Command Test String Line1\r\nCommand Test String Line2"),
                             B({0x1B, 0x4A, 0xFF})}));
    EXPECT_THAT(engine.paper(),
                ElementsAre("Command Test String Line1", "Command Test String Line2"));
}

TEST(R3EnginePaper, AutoLineFeedSwitchMakesCarriageReturnPrint) {
    PrinterConfig config;
    config.switches[0] = 0x10;
    R3Engine engine(config);
    Exchange(engine, Text("one\rtwo\r"));
    EXPECT_THAT(engine.paper(), ElementsAre("one", "two"));
}

TEST(R3EnginePaper, SelfTestPrintsAPageWithIdentityAndSwitches) {
    R3Engine engine;
    Exchange(engine, B({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}));
    EXPECT_EQ(engine.selfTestCount(), 1);
    const auto paper = engine.paper();
    EXPECT_THAT(paper, ::testing::Contains("Vantreel Druckwerken GmbH"));
    EXPECT_THAT(paper, ::testing::Contains("MSW1  00001000"));
    EXPECT_EQ(paper.back(), "--- partial cut ---");
}

TEST(R3EnginePaper, CommandsSentWhileTheSelfTestPrintsWaitForThePage) {
    PrinterConfig config;
    config.selfTestMs = 4000;
    R3Engine engine(config);
    const Bytes selfTest = B({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02});
    // The query in the same write as the self test, and text written later, wait.
    EXPECT_TRUE(Exchange(engine, Concat({selfTest, B({0x1D, 0x49, 0x01})}), 1000).empty());
    EXPECT_TRUE(Exchange(engine, Text("after\n"), 3000).empty());
    EXPECT_EQ(engine.nextOutputTime(), 5000);
    EXPECT_NE(engine.paper().back(), "after");

    // Once the page is out they are carried out in the order they came.
    Bytes out(16);
    out.resize(engine.takeOutput(out.data(), out.size(), 5000));
    EXPECT_EQ(out, B({0x20}));
    EXPECT_EQ(engine.paper().back(), "after");

    // A second self test among the waiting input holds what follows it again.
    Exchange(engine, Concat({selfTest, B({0x1D, 0x49, 0x01})}), 6000);
    engine.tick(9999);
    EXPECT_EQ(engine.nextOutputTime(), 10000);
    EXPECT_EQ(Exchange(engine, {}, 10000), B({0x20}));
    EXPECT_EQ(engine.selfTestCount(), 2);
}

TEST(R3EnginePaper, InitialiseDiscardsUnprintedText) {
    R3Engine engine;
    Exchange(engine, Concat({Text("lost"), B({0x1B, 0x40}), Text("kept\n")}));
    EXPECT_THAT(engine.paper(), ElementsAre("kept"));
}

// --- garbage in -------------------------------------------------------------------

TEST(R3EngineRobustness, RandomInputNeverBreaksTheEngine) {
    R3Engine engine;
    std::mt19937 random(7);
    Bytes chunk(997);
    for (int round = 0; round < 300; ++round) {
        for (auto& b : chunk)
            b = static_cast<std::uint8_t>(random() % 8 == 0 ? 0x1B + random() % 3 : random());
        engine.receive(chunk.data(), chunk.size(), round);
        Bytes out(512);
        engine.takeOutput(out.data(), out.size(), round);
    }
    for (const auto& line : engine.paper()) EXPECT_LE(line.size(), R3Engine::kMaxLine);
    // Whatever state the noise left, a restart of the command stream still works:
    // finish any pending command and skip a possible oversized block or payload.
    engine.tick(1'000'000);
    const Bytes flush(70000, 0x00);
    engine.receive(flush.data(), flush.size(), 1'000'000);
    engine.tick(2'000'000);
    const Bytes out = Exchange(engine, B({0x1B, 0x40, 0x1D, 0x49, 0x01}), 2'000'000);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), 0x20);
}

TEST(R3EngineRobustness, OversizedParameterBlockIsSkippedWhole) {
    R3Engine engine;
    Bytes big = B({0x1D, 0x28, 0x6B, 0x10, 0x27});  // 10000 parameter bytes
    big.resize(big.size() + 10000, 'x');
    Exchange(engine, Concat({big, Text("after\n")}));
    EXPECT_THAT(engine.paper(), ElementsAre("after"));
}

TEST(R3EngineRobustness, LongLinesWrapAtThePaperWidth) {
    // 80 mm paper is 576 dots: 48 characters of font A (12 dots) to a line.
    R3Engine engine;
    Exchange(engine, Bytes(R3Engine::kMaxLine * 2 + 5, 'x'));
    const auto paper = engine.paper();
    ASSERT_EQ(paper.size(), 21u) << "1029 characters: 21 full lines, 21 still waiting";
    EXPECT_EQ(paper[0], std::string(48, 'x'));

    // 58 mm paper (memory switch 10 bit 5) is 384 dots: 32 characters.
    PrinterConfig narrow;
    narrow.switches[9] = 0x10;
    R3Engine small(narrow);
    Exchange(small, Concat({Bytes(40, 'x'), B({0x0A})}));
    EXPECT_THAT(small.paper(), ElementsAre(std::string(32, 'x'), std::string(8, 'x')));
}

// --- fault modes ------------------------------------------------------------------

TEST(R3EngineFaults, WrongModelAndWrongNames) {
    PrinterConfig config;
    config.fault = FaultMode::WrongModel;
    R3Engine wrongModel(config);
    EXPECT_EQ(Exchange(wrongModel, B({0x1D, 0x49, 0x01})), B({0x21}));

    config.fault = FaultMode::WrongNames;
    R3Engine wrongNames(config);
    EXPECT_EQ(Exchange(wrongNames, B({0x1D, 0x49, 0x01})), B({0x20}));
    EXPECT_EQ(Exchange(wrongNames, B({0x1D, 0x49, 0x42})), Framed("Vantreel Druckwerken GMBH"));
    EXPECT_EQ(Exchange(wrongNames, B({0x1D, 0x49, 0x43})), Framed("Vantreel R-2"));
}

TEST(R3EngineFaults, SilenceConsumesButNeverAnswers) {
    PrinterConfig config;
    config.fault = FaultMode::Silence;
    R3Engine engine(config);
    EXPECT_TRUE(
        Exchange(engine, Concat({B({0x1D, 0x49, 0x01}), kEnterSetup, Text("x\n")})).empty());
    EXPECT_EQ(engine.receivedLog().size(), 3u + kEnterSetup.size() + 2u);
    EXPECT_THAT(engine.paper(), ElementsAre("x"));
}

TEST(R3EngineFaults, GarbageIsRepeatableAndNeverPassesForAnAnswer) {
    PrinterConfig config;
    config.fault = FaultMode::Garbage;
    config.garbageSeed = 42;
    R3Engine a(config), b(config);
    const Bytes query = B({0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42});
    const Bytes outA = Exchange(a, query);
    EXPECT_EQ(outA, Exchange(b, query));
    ASSERT_FALSE(outA.empty());
    for (auto byte : outA) {
        EXPECT_NE(byte, 0x20);
        EXPECT_NE(byte, 0x00);
    }
}

TEST(R3EngineFaults, EndlessSenderStartsAfterItsThresholdAndNeverSendsZero) {
    PrinterConfig config;
    config.fault = FaultMode::EndlessSender;
    config.endlessAfterBytes = 5;
    R3Engine engine(config);
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01})), B({0x20}));
    EXPECT_FALSE(engine.nextOutputTime().has_value());
    Exchange(engine, B({0x1B, 0x40}));
    for (int round = 0; round < 3; ++round) {
        Bytes out(1000);
        ASSERT_EQ(engine.takeOutput(out.data(), out.size(), round), 1000u);
        for (auto byte : out) ASSERT_NE(byte, 0);
    }
}

TEST(R3EngineFaults, LateRepliesBecomeReadableAfterTheDelay) {
    PrinterConfig config;
    config.fault = FaultMode::LateReplies;
    config.replyDelayMs = 1500;
    R3Engine engine(config);
    EXPECT_TRUE(Exchange(engine, B({0x1D, 0x49, 0x01}), 100).empty());
    EXPECT_EQ(engine.nextOutputTime(), 1600);
    std::uint8_t byte = 0;
    EXPECT_EQ(engine.takeOutput(&byte, 1, 1599), 0u);
    EXPECT_EQ(engine.takeOutput(&byte, 1, 1600), 1u);
    EXPECT_EQ(byte, 0x20);
}

TEST(R3EngineFaults, DisconnectTakesOnlyUpToItsCountThenGoesDead) {
    PrinterConfig config;
    config.fault = FaultMode::Disconnect;
    config.disconnectAfterBytes = 5;
    R3Engine engine(config);
    const Bytes query = B({0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42});
    EXPECT_EQ(engine.receive(query.data(), query.size(), 0), 5u);
    EXPECT_FALSE(engine.connected());
    std::uint8_t out[8];
    EXPECT_EQ(engine.takeOutput(out, sizeof out, 0), 0u) << "pending answers are lost too";
    EXPECT_EQ(engine.receive(query.data(), query.size(), 1), 0u);
}

TEST(R3EngineFaults, RestartLosesInputOnlyWhenAsked) {
    PrinterConfig config;
    config.fault = FaultMode::RestartLosesInput;
    config.restartMs = 1000;
    R3Engine engine(config);
    Exchange(engine, Concat({kEnterSetup, kLeaveSetup}), 0);
    EXPECT_TRUE(Exchange(engine, B({0x1D, 0x49, 0x01}), 500).empty());
    EXPECT_TRUE(Exchange(engine, {}, 1000).empty()) << "the query was lost";
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01}), 1000), B({0x20}));
}

TEST(R3EngineFaults, NoSwitchAnswerLeavesOnlyThatSwitchUnanswered) {
    PrinterConfig config;
    config.fault = FaultMode::NoSwitchAnswer;
    config.silentSwitch = 10;
    R3Engine engine(config);
    EXPECT_TRUE(Exchange(engine, ReadSwitch(10)).empty());
    EXPECT_EQ(Exchange(engine, ReadSwitch(11)), SwitchReply("00000000"));
}

TEST(R3EngineFaults, IgnoreSwitchWriteAnswersButKeepsOnlyThatSwitch) {
    PrinterConfig config;
    config.fault = FaultMode::IgnoreSwitchWrite;
    config.ignoredSwitch = 10;
    R3Engine engine(config);
    EXPECT_EQ(Exchange(engine, kEnterSetup), kSetupAck);
    EXPECT_EQ(Exchange(engine, WriteSwitch(10, "00010000")), kSetupAck) << "silently";
    EXPECT_EQ(Exchange(engine, WriteSwitch(8, "01000010")), kSetupAck);
    EXPECT_EQ(Exchange(engine, kLeaveSetup), kSetupAck);
    EXPECT_EQ(engine.memorySwitch(10), 0);
    EXPECT_EQ(engine.memorySwitch(8), 0x42);
}

TEST(R3EngineFaults, HangUpAfterInAnswersInThenDropsTheLine) {
    PrinterConfig config;
    config.fault = FaultMode::HangUpAfterIn;
    R3Engine engine(config);
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01})), B({0x20}));
    EXPECT_EQ(Exchange(engine, kEnterSetup), kSetupAck);
    EXPECT_TRUE(engine.connected());
    const Bytes write = WriteSwitch(8, "00000000");
    EXPECT_EQ(engine.receive(write.data(), write.size(), 10), 0u);
    EXPECT_FALSE(engine.connected());
    EXPECT_FALSE(engine.resumesAt(10).has_value()) << "a dead line never takes data again";
    EXPECT_TRUE(engine.inSetupMode()) << "left inside its setup period";
}

TEST(R3EngineFaults, FontStallForGoodCutsThePayloadWhereverTheWritesFall) {
    PrinterConfig config;
    config.fault = FaultMode::FontStall;
    config.stallAfterBytes = 5000;
    R3Engine engine(config);
    const Bytes payload = FontPayload(10000, 10000);
    // The header and 4991 data bytes, then a write across the stall point.
    EXPECT_EQ(engine.receive(payload.data(), 5000, 0), 5000u);
    EXPECT_EQ(engine.receive(payload.data() + 5000, 4096, 10), 9u);
    EXPECT_EQ(engine.resumesAt(10), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(engine.receive(payload.data() + 5009, 100, 60000), 0u);
    EXPECT_EQ(engine.fontReceptions()[0].received, 5000u);
    EXPECT_EQ(engine.receivedLog().size(), 5009u) << "only what was taken is logged";
}

TEST(R3EngineFaults, FontStallForAWhileTakesTheRestAfterwards) {
    PrinterConfig config;
    config.fault = FaultMode::FontStall;
    config.stallAfterBytes = 100;
    config.stallMs = 2000;
    R3Engine engine(config);
    // Commands before the payload do not count towards the stall.
    EXPECT_EQ(Exchange(engine, B({0x1D, 0x49, 0x01}), 0), B({0x20}));
    const Bytes payload = FontPayload(300, 300);
    EXPECT_EQ(engine.receive(payload.data(), payload.size(), 0), 109u);
    EXPECT_EQ(engine.resumesAt(1999), 2000);
    EXPECT_EQ(engine.receive(payload.data() + 109, 200, 1999), 0u);
    EXPECT_FALSE(engine.resumesAt(2000).has_value());
    EXPECT_EQ(engine.receive(payload.data() + 109, 200, 2000), 200u);
    EXPECT_EQ(engine.fontReceptions()[0].result, FontReception::Result::Ok);
}

TEST(R3EngineFaults, PartialWriteCutsTheWriteThatCrossesItsCount) {
    PrinterConfig config;
    config.fault = FaultMode::PartialWrite;
    config.stallAfterBytes = 10;
    config.stallMs = 500;
    R3Engine engine(config);
    const Bytes text = Text("0123456789abcdef\n");
    EXPECT_EQ(engine.receive(text.data(), 6, 0), 6u);
    EXPECT_EQ(engine.receive(text.data() + 6, 11, 0), 4u);
    EXPECT_EQ(engine.resumesAt(0), 500);
    EXPECT_EQ(engine.receive(text.data() + 10, 7, 500), 7u);
    EXPECT_EQ(engine.receive(text.data(), 3, 600), 3u) << "the fault strikes once";
    EXPECT_THAT(engine.paper(), ElementsAre("0123456789abcdef"));
}

TEST(R3EngineFaults, FaultNamesRoundTrip) {
    for (auto mode :
         {FaultMode::None, FaultMode::WrongModel, FaultMode::WrongNames, FaultMode::Silence,
          FaultMode::Garbage, FaultMode::EndlessSender, FaultMode::LateReplies,
          FaultMode::Disconnect, FaultMode::NoSwitchAnswer, FaultMode::HangUpAfterIn,
          FaultMode::FontStall, FaultMode::PartialWrite, FaultMode::RestartLosesInput}) {
        EXPECT_EQ(ParseFaultMode(FaultModeName(mode)), mode);
    }
    EXPECT_FALSE(ParseFaultMode("Silence").has_value());
}

}  // namespace
}  // namespace tessaly::sim
