// Conditions and the status answers, interplay with held input, as a point-of-sale
// program sees them through the engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "bytes.h"
#include "conditions.h"
#include "r3_engine.h"

namespace tessaly::sim {
namespace {

using test::B;
using test::Bytes;
using test::Cat;
using test::T;

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Bytes Exchange(R3Engine& engine, const Bytes& bytes, std::int64_t now = 0,
               int host = R3Engine::kSerialHost) {
    engine.receive(bytes.data(), bytes.size(), now, host);
    Bytes out(256);
    out.resize(engine.takeOutput(out.data(), out.size(), now, host));
    return out;
}

const Bytes kStatusAll = B({0x10, 0x04, 1, 0x10, 0x04, 2, 0x10, 0x04, 3, 0x10, 0x04, 4});

TEST(PrinterStatus, RealTimeStatusFollowsEachCondition) {
    R3Engine engine;
    EXPECT_EQ(Exchange(engine, kStatusAll), B({0x16, 0x12, 0x12, 0x12})) << "all well";
    const struct {
        const char* setting;
        Bytes status;
    } cases[] = {
        {"paper near-end", B({0x16, 0x12, 0x12, 0x1E})},
        {"paper end", B({0x1E, 0x32, 0x12, 0x7E})},
        {"cover open", B({0x1E, 0x16, 0x12, 0x12})},
        {"drawer open", B({0x12, 0x12, 0x12, 0x12})},
        {"offline", B({0x1E, 0x12, 0x12, 0x12})},
        {"error cutter", B({0x1E, 0x52, 0x1A, 0x12})},
        {"error unrecoverable", B({0x1E, 0x52, 0x32, 0x12})},
        {"error auto-recoverable", B({0x1E, 0x52, 0x52, 0x12})},
    };
    for (const auto& c : cases) {
        R3Engine e;
        ASSERT_FALSE(e.setCondition(c.setting, 0)) << c.setting;
        EXPECT_EQ(Exchange(e, kStatusAll), c.status) << c.setting;
    }
}

TEST(PrinterStatus, TransmitStatusCommandsAnswerFromTheSensors) {
    R3Engine engine;
    const Bytes queries = B({0x1D, 'r', 1, 0x1D, 'r', 50, 0x1B, 'u', 0, 0x1B, 'v'});
    EXPECT_EQ(Exchange(engine, queries), B({0x00, 0x01, 0x01, 0x00}));
    engine.setCondition("paper near-end", 0);
    engine.setCondition("drawer open", 0);
    EXPECT_EQ(Exchange(engine, queries), B({0x03, 0x00, 0x00, 0x03}));
    // The printer's own identification answers too, version id included.
    EXPECT_EQ(Exchange(engine, B({0x1D, 'I', 3})), B({0x04}));
}

TEST(PrinterStatus, ConditionSettingsAreCheckedWordByWord) {
    Conditions c;
    EXPECT_FALSE(ApplyCondition(c, " paper=near-end "));
    EXPECT_EQ(c.paper, Conditions::Paper::NearEnd);
    EXPECT_THAT(*ApplyCondition(c, "paper empty"), HasSubstr("ok, near-end or end"));
    EXPECT_THAT(*ApplyCondition(c, "cover ajar"), HasSubstr("open or closed"));
    EXPECT_THAT(*ApplyCondition(c, "lid open"), HasSubstr("unknown condition"));
    EXPECT_THAT(*ApplyCondition(c, "online now"), HasSubstr("unknown condition"));
    EXPECT_EQ(c.paper, Conditions::Paper::NearEnd) << "a refused setting changes nothing";
    EXPECT_EQ(DescribeConditions(c), "paper=near-end cover=closed drawer=closed online error=none");
}

TEST(PrinterStatus, AutomaticStatusBackReportsEveryChangeOfAnEnabledKind) {
    R3Engine engine;
    auto sent = [&](std::int64_t now) {
        Bytes out(16);
        out.resize(engine.takeOutput(out.data(), out.size(), now));
        return out;
    };
    // Enabling sends the first status at once.
    EXPECT_EQ(Exchange(engine, B({0x1D, 'a', 0x0F})), B({0x14, 0x00, 0x00, 0x00}));
    engine.setCondition("paper near-end", 10);
    EXPECT_EQ(sent(10), B({0x14, 0x00, 0x03, 0x00}));
    engine.setCondition("cover open", 20);
    EXPECT_EQ(sent(20), B({0x3C, 0x00, 0x03, 0x00})) << "offline, cover open";
    // GS a waits like any command while the cover is open; closing it reports.
    EXPECT_TRUE(Exchange(engine, B({0x1D, 'a', 0x00}), 30).empty());
    engine.setCondition("cover closed", 40);
    EXPECT_EQ(sent(40), B({0x14, 0x00, 0x03, 0x00}));

    // Now GS a 0 (as the connection check sends it) has stopped it all.
    engine.setCondition("drawer open", 50);
    EXPECT_TRUE(sent(50).empty());
    // Only the enabled kinds count.
    EXPECT_EQ(Exchange(engine, B({0x1D, 'a', 0x01}), 60), B({0x10, 0x00, 0x03, 0x00}));
    engine.setCondition("paper end", 70);
    EXPECT_TRUE(sent(70).empty()) << "paper and online are not enabled";
    engine.setCondition("drawer closed", 80);
    EXPECT_EQ(sent(80), B({0x1C, 0x00, 0x0F, 0x00}));
}

TEST(PrinterStatus, PaperOutHoldsPrintingButRealTimeCommandsAnswer) {
    PrinterConfig config;
    config.conditions.paper = Conditions::Paper::End;
    config.inputBufferBytes = 64;
    R3Engine engine(config);
    // Text and a query wait; DLE EOT is answered at once even behind them.
    EXPECT_TRUE(Exchange(engine, T("Total 9.99\n")).empty());
    EXPECT_EQ(Exchange(engine, B({0x1D, 'I', 1, 0x10, 0x04, 4})), B({0x7E}));
    EXPECT_TRUE(engine.paper().empty());
    // The input buffer fills: the printer takes no more, and says it cannot tell when.
    const Bytes filler(100, 'x');
    EXPECT_EQ(engine.receive(filler.data(), filler.size(), 1), 64u - 14u);
    EXPECT_EQ(engine.resumesAt(1), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(engine.receive(filler.data(), filler.size(), 2), 0u);
    // Paper in: everything is carried out in order, nothing lost.
    engine.setCondition("paper ok", 3);
    Bytes out(8);
    out.resize(engine.takeOutput(out.data(), out.size(), 3));
    EXPECT_EQ(out, B({0x20}));
    EXPECT_FALSE(engine.resumesAt(3).has_value());
    EXPECT_EQ(engine.paper().front(), "Total 9.99");
    EXPECT_EQ(engine.inputWaiting(), 0u);
}

TEST(PrinterStatus, CutterErrorRecoversByDleEnqAndCanClearTheBuffers) {
    PrinterConfig config;
    config.conditions.error = Conditions::Error::Cutter;
    R3Engine engine(config);
    Exchange(engine, T("kept\n"));
    Exchange(engine, B({0x10, 0x05, 1}));
    EXPECT_EQ(engine.conditions().error, Conditions::Error::None);
    EXPECT_THAT(engine.paper(), ElementsAre("kept"));

    engine.setCondition("error cutter", 10);
    Exchange(engine, T("dropped\n"), 10);
    Exchange(engine, B({0x10, 0x05, 2}), 10);
    EXPECT_THAT(engine.paper(), ElementsAre("kept")) << "DLE ENQ 2 clears the buffers";

    // An unrecoverable error stays whatever the host asks.
    engine.setCondition("error unrecoverable", 20);
    Exchange(engine, B({0x10, 0x05, 1}), 20);
    EXPECT_EQ(engine.conditions().error, Conditions::Error::Unrecoverable);
}

TEST(PrinterStatus, DrawerPulsesOpenTheDrawerEvenWhilePrintingIsHeld) {
    PrinterConfig config;
    config.conditions.coverOpen = true;
    R3Engine engine(config);
    EXPECT_EQ(Exchange(engine, B({0x10, 0x14, 1, 0, 2, 0x10, 0x04, 1})), B({0x1A}));
    EXPECT_TRUE(engine.conditions().drawerOpen);
    engine.setCondition("drawer closed", 5);
    engine.setCondition("cover closed", 5);
    Exchange(engine, B({0x1B, 'p', 0, 25, 250}), 6);
    EXPECT_TRUE(engine.conditions().drawerOpen) << "ESC p opens it too";
}

TEST(PrinterStatus, AnswersGoToTheHostThatAsked) {
    R3Engine engine;
    engine.receive(B({0x1D, 'I', 1}).data(), 3, 0, R3Engine::kNetworkHost);
    Bytes out(8);
    EXPECT_EQ(engine.takeOutput(out.data(), out.size(), 0, R3Engine::kSerialHost), 0u);
    EXPECT_EQ(engine.takeOutput(out.data(), out.size(), 0, R3Engine::kNetworkHost), 1u);
    EXPECT_EQ(out[0], 0x20);
}

TEST(PrinterStatus, JobsEndAtACutOrAnIdleGapAndQueriesAloneMakeNone) {
    PrinterConfig config;
    config.keepJobs = true;
    config.jobGapMs = 2000;
    R3Engine engine(config);
    Exchange(engine, B({0x1B, 0x40, 0x1D, 'I', 1, 0x10, 0x04, 1}), 0);
    engine.tick(5000);
    EXPECT_TRUE(engine.takeJobs().empty()) << "nothing was printed";

    Exchange(engine, T("one\n"), 6000);
    Exchange(engine, B({0x1D, 'V', 0}), 6100);
    Exchange(engine, T("two\n"), 6200);
    engine.tick(8199);
    auto jobs = engine.takeJobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].endedBy, "cut");
    EXPECT_THAT(jobs[0].text, ElementsAre("one", "--- full cut ---"));
    engine.tick(8200);
    jobs = engine.takeJobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].endedBy, "idle");
    EXPECT_EQ(jobs[0].startMs, 6200);
}

TEST(PrinterStatus, JobsNotTakenHoldThePrinterInsteadOfPilingUp) {
    PrinterConfig config;
    config.keepJobs = true;
    config.maxWaitingJobs = 2;
    R3Engine engine(config);
    const Bytes receipt = B({'r', '\n', 0x1D, 'V', 0});
    for (int i = 0; i < 3; ++i) engine.receive(receipt.data(), receipt.size(), i);
    EXPECT_EQ(engine.inputWaiting(), receipt.size()) << "the third waits";
    EXPECT_EQ(engine.takeJobs().size(), 2u);
    engine.tick(10);
    EXPECT_EQ(engine.takeJobs().size(), 1u);
}

}  // namespace
}  // namespace tessaly::sim
