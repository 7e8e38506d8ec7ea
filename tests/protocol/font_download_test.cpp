#include "font_download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "scripted_r3.h"
#include "status_fixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using namespace tessaly::testing;

TEST(ChooseFontPayload, BuyerSetsAndTheBig5Rule) {
    EXPECT_EQ(ChooseFontPayload(2, 0, 4), 144);
    EXPECT_EQ(ChooseFontPayload(3, 0, 4), 142);
    EXPECT_EQ(ChooseFontPayload(5, 0, 4), 143);
    EXPECT_EQ(ChooseFontPayload(4, 0, 3), 146);
    EXPECT_EQ(ChooseFontPayload(4, 0, 4), 141);
    EXPECT_EQ(ChooseFontPayload(4, 1, 3), 141);  // the rule holds for model 0 only
    EXPECT_EQ(ChooseFontPayload(1, 0, 4), 0);
    EXPECT_EQ(ChooseFontPayload(0, 0, 4), 0);
    EXPECT_EQ(DownloadBlockSize(PortType::Usb, 0), 64u);
    EXPECT_EQ(DownloadBlockSize(PortType::Usb, 1), 4096u);
    EXPECT_EQ(DownloadBlockSize(PortType::Serial, 0), 4096u);
}

TEST(StandInPayloads, NamesWhatASetStatusMaySendThatIsAStandIn) {
    std::set<int> standIn{141, 144};
    const FontDownload::PayloadLookup lookup = [&](int id) {
        return std::optional<payloads::FontPayload>({id, {}, standIn.count(id) != 0});
    };
    EXPECT_THAT(StandInPayloads(2, 0, lookup), ElementsAre(144));
    EXPECT_TRUE(StandInPayloads(3, 0, lookup).empty());
    // CHN-BIG5 may send either payload: either being a stand-in counts.
    EXPECT_THAT(StandInPayloads(4, 0, lookup), ElementsAre(141));
    standIn = {146};
    EXPECT_THAT(StandInPayloads(4, 0, lookup), ElementsAre(146));
    EXPECT_TRUE(StandInPayloads(4, 1, lookup).empty()) << "other models always send 141";
    for (int entry : {0, 1, 9}) EXPECT_TRUE(StandInPayloads(entry, 0, lookup).empty());
}

struct Download : ::testing::Test {
    VirtualClock clock;
    RecordingNotifier notifier;
    RecordingProgress progress;
    RecordingView view;
    PrinterIdentity identity;
    ScriptedPort script{clock};
    PacingEngine timers{clock};
    std::unique_ptr<PrinterPort> port;
    std::unique_ptr<Session> session;
    std::unique_ptr<FontDownload> download;
    std::vector<int> positionAtWrite;  // progress position when each write happened

    void SetUp() override {
        notifier.answer = MessageAnswer::Yes;
        view.enabled = 0;
        identity.firmwareMajor = 4;
        script.writeResult = [this](const Bytes& w, std::size_t i) {
            positionAtWrite.push_back(progress.position);
            return writeResult ? writeResult(w, i) : static_cast<std::uint32_t>(w.size());
        };
    }
    // What each write reports; all bytes written when unset.
    std::function<std::uint32_t(const Bytes&, std::size_t)> writeResult;

    void Start(int buyerSet, const std::string& name = "COM1",
               FontDownload::PayloadLookup lookup = payloads::FindFontPayload) {
        port = std::make_unique<PrinterPort>(script.Factory());
        PortSettings settings;
        settings.portName = name;
        port->Setup(settings);
        port->Open(0);
        session = std::make_unique<Session>(Session{*port, clock, notifier});
        download = std::make_unique<FontDownload>(*session, port->type(), 0, progress, view, timers,
                                                  identity, lookup);
        download->StartFontDownload(buyerSet);
        timers.run([this](int id) { download->OnDownloadTimer(id); });
    }

    std::vector<std::size_t> WriteSizes() const {
        std::vector<std::size_t> sizes;
        for (const auto& w : script.writes) sizes.push_back(w.size());
        return sizes;
    }
    Bytes Payload(int id) const {
        const auto p = payloads::FindFontPayload(id);
        return Bytes(p->data.begin(), p->data.end());
    }
};

TEST_F(Download, Payload141OnSerialGoesOutIn250BlocksAndA1743ByteTail) {
    Start(4);
    EXPECT_EQ(download->payloadId(), 141);
    ASSERT_EQ(script.writes.size(), 252u);
    EXPECT_EQ(script.writes.front().size(), 64u);
    for (std::size_t i = 1; i <= 250; ++i) ASSERT_EQ(script.writes[i].size(), 4096u) << i;
    EXPECT_EQ(script.writes.back().size(), 1743u);
    EXPECT_EQ(script.Wire(), Payload(141));

    EXPECT_EQ(positionAtWrite.front(), 10);
    EXPECT_EQ(positionAtWrite[1], 16);  // after the 15-second pause
    EXPECT_EQ(positionAtWrite.back(), 78);
    EXPECT_THAT(progress.positions, ElementsAre(10, 100, 0));
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kFontDownloadSuccess));
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Succeeded);
    EXPECT_EQ(view.enabled, kAllButtons);
    EXPECT_TRUE(view.buyerListEnabled);
    // 15 s pause, 252 timer events of 10 ms, a 10 ms wait after 250 blocks.
    EXPECT_EQ(clock.now(), 15000 + 252 * 10 + 250 * 10);
}

TEST_F(Download, Payload141OnUsbGoesOutIn64ByteBlocksWithoutWaits) {
    Start(4, "R-3:/dev/usb/lp0");
    ASSERT_EQ(script.writes.size(), 1u + 16027u + 1u);
    EXPECT_EQ(script.writes.back().size(), 15u);
    EXPECT_EQ(script.Wire(), Payload(141));
    EXPECT_EQ(positionAtWrite.back(), 78);
    // Write i is block counter i + 1: the step follows the write of counter 256.
    EXPECT_EQ(positionAtWrite[255], 16);
    EXPECT_EQ(positionAtWrite[256], 17);
    EXPECT_EQ(clock.now(), 15000 + (16028 + 1) * 10);
}

TEST_F(Download, Big5ChoiceFollowsTheFirmwareMajorWithoutPauseFor146) {
    identity.firmwareMajor = 3;
    Start(4);
    EXPECT_EQ(download->payloadId(), 146);
    EXPECT_EQ(script.Wire(), Payload(146));
    EXPECT_EQ(positionAtWrite[1], 11);
    const std::int64_t blocks = (1244687 - 64 + 4095) / 4096;
    EXPECT_EQ(clock.now(), (blocks + 1) * 10 + (blocks - 1) * 10);
}

TEST_F(Download, OtherBuyerSetsSendTheirPayloadsWithThePause) {
    for (auto [set, id] : {std::pair{2, 144}, {3, 142}, {5, 143}}) {
        script.writes.clear();
        positionAtWrite.clear();
        Start(set);
        EXPECT_EQ(download->payloadId(), id);
        EXPECT_EQ(script.Wire(), Payload(id));
        EXPECT_EQ(positionAtWrite[1], 16);
    }
}

TEST_F(Download, WriteFailureInTheMiddleEndsWithTheFailureMessage) {
    writeResult = [](const Bytes& w, std::size_t i) {
        return i == 100 ? 0u : static_cast<std::uint32_t>(w.size());
    };
    Start(2);
    EXPECT_EQ(script.writes.size(), 101u);
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Failed);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kFontDownloadFailure));
    EXPECT_EQ(view.enabled, kAllButtons);
    EXPECT_TRUE(view.buyerListEnabled);
    EXPECT_EQ(progress.position, 0);
}

// The final block must be taken whole: a short final write is resumed like any
// other block, and the download succeeds only once every byte went out.
TEST_F(Download, ShortFinalBlockIsResumedAndFailsWhenTheRestIsNotTaken) {
    const auto isTail = [](const Bytes& w) { return w.size() < 4096 && w.size() != 64; };
    writeResult = [&](const Bytes& w, std::size_t) {
        return isTail(w) ? 0u : static_cast<std::uint32_t>(w.size());
    };
    Start(3);
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Failed);

    // The printer takes all but 616 bytes of the last block, then nothing more.
    script.writes.clear();
    notifier.shown.clear();
    bool cut = false;
    writeResult = [&](const Bytes& w, std::size_t) -> std::uint32_t {
        if (!isTail(w)) return static_cast<std::uint32_t>(w.size());
        if (cut) return 0u;
        cut = true;
        return static_cast<std::uint32_t>(w.size() - 616);
    };
    Start(3);
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Failed);
    EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadFailure);
    EXPECT_EQ(script.writes.back().size(), 616u) << "the rest was offered again";
    EXPECT_EQ(progress.position, 0);

    // The same with a printer that takes the rest: success, every byte once.
    script.writes.clear();
    cut = false;
    writeResult = [&](const Bytes& w, std::size_t) -> std::uint32_t {
        if (!isTail(w) || cut) return static_cast<std::uint32_t>(w.size());
        cut = true;
        return static_cast<std::uint32_t>(w.size() - 616);
    };
    Start(3);
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Succeeded);
    EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadSuccess);
    Bytes taken = script.Wire();
    const auto tail = script.writes.end() - 2;
    taken.erase(taken.end() - static_cast<std::ptrdiff_t>(tail[1].size()) - 616,
                taken.end() - static_cast<std::ptrdiff_t>(tail[1].size()));
    EXPECT_EQ(taken, Payload(142));
}

TEST_F(Download, BytesThatNeverLeftTheComputerAreNoSuccess) {
    script.sent = [] { return false; };
    Start(5);
    EXPECT_EQ(script.Wire(), Payload(143));
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Failed);
    EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadFailure);
}

TEST_F(Download, ShortWritesResumeAtTheFirstByteNotTaken) {
    writeResult = [](const Bytes& w, std::size_t i) {
        return i % 7 == 3 ? 1000u : static_cast<std::uint32_t>(w.size());
    };
    Start(5);
    // Every byte went out exactly once, in order, despite the short writes.
    Bytes taken;
    for (std::size_t i = 0; i < script.writes.size(); ++i) {
        const auto& w = script.writes[i];
        const std::size_t n = i % 7 == 3 ? std::min<std::size_t>(1000, w.size()) : w.size();
        taken.insert(taken.end(), w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n));
    }
    EXPECT_EQ(taken, Payload(143));
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Succeeded);
}

TEST_F(Download, FailedHeaderWriteRestartsAtByteZero) {
    writeResult = [](const Bytes& w, std::size_t i) {
        return i == 0 ? 0u : static_cast<std::uint32_t>(w.size());
    };
    Start(2);
    EXPECT_TRUE(notifier.shown.back() == messages::kFontDownloadSuccess);
    Bytes afterHeader = script.Wire();
    afterHeader.erase(afterHeader.begin(), afterHeader.begin() + 64);
    EXPECT_EQ(afterHeader, Payload(144));
}

TEST_F(Download, RemainingEqualToTheBlockSizeIsTheFinalBlock) {
    Bytes payload(64 + 2 * 4096, 0x55);
    Start(2, "COM1", [&](int id) {
        return std::optional<payloads::FontPayload>({id, payload, false});
    });
    EXPECT_THAT(WriteSizes(), ElementsAre(64u, 4096u, 4096u));
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::Succeeded);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kFontDownloadSuccess));
}

TEST_F(Download, BuyerSetWithoutFontDataSendsNothingAndUnlocksTheDialog) {
    Start(1);
    EXPECT_TRUE(script.writes.empty());
    EXPECT_TRUE(notifier.shown.empty());
    EXPECT_EQ(download->outcome(), FontDownload::Outcome::NothingToSend);
    EXPECT_EQ(view.enabled, kAllButtons);
}

TEST(PacingEngine, DeliversOneEventAtATimeInDueOrder) {
    VirtualClock clock;
    PacingEngine engine(clock);
    std::vector<std::pair<int, std::int64_t>> events;
    engine.startTimer(2, 25);
    engine.startTimer(1, 10);
    engine.run([&](int id) {
        events.emplace_back(id, clock.now());
        clock.sleep(3);  // handler time does not shift the periodic timer
        if (events.size() == 4) engine.stopTimer(1);
        if (id == 2) engine.stopTimer(2);
    });
    EXPECT_THAT(events, ElementsAre(std::pair{1, 10}, std::pair{1, 20}, std::pair{2, 25},
                                    std::pair{1, 30}));
    EXPECT_TRUE(engine.idle());
}

TEST(PacingEngine, ALateEventDoesNotDelayTheChainItStarts) {
    VirtualClock clock;
    PacingEngine engine(clock);
    std::vector<std::pair<int, std::int64_t>> events;
    engine.startTimer(1, 10);
    engine.startTimer(2, 10);
    engine.run([&](int id) {
        events.emplace_back(id, clock.now());
        engine.stopTimer(id);
        if (id == 1) clock.sleep(5);  // holds back timer 2, due at the same time
        if (id == 2 && events.size() < 4) engine.startTimer(2, 10);
    });
    // Timer 2 was delivered 5 ms late; its next event keeps the 10 ms grid.
    EXPECT_THAT(events, ElementsAre(std::pair{1, 10}, std::pair{2, 15}, std::pair{2, 20},
                                    std::pair{2, 30}));
}

TEST(PacingEngine, CancelStopsTheRunAndKeepsTheTimers) {
    VirtualClock clock;
    PacingEngine engine(clock);
    engine.startTimer(1, 10);
    int events = 0;
    EXPECT_EQ(engine.run([&](int) {
        if (++events == 3) engine.cancel();
    }),
              3u);
    EXPECT_TRUE(engine.running(1));
}

// Set Status on the virtual printer hands over to a download the printer accepts.
TEST_F(VirtualPrinterFixture, SetStatusHandsOverToADownloadThePrinterAccepts) {
    config.firmwareVersion = "VT03.10 R-3";
    Connect();
    notifier.answer = MessageAnswer::Yes;
    PacingEngine timers(clock);
    FontDownload download(*session, port->type(), 0, progress, view, timers, record.identity);
    ASSERT_TRUE(exchange->GetStatus());

    SetSwitchValue(record.settings.msw12, 2);
    SetSwitchValue(record.settings.msw9, 1);
    view.choice = {4, 2, 0};
    ASSERT_EQ(SetStatus(*exchange, download), SetStatusOutcome::FontDownloadStarted);
    timers.run([&](int id) { download.OnDownloadTimer(id); });

    EXPECT_EQ(engine->memorySwitch(12), 2);
    EXPECT_EQ(download.payloadId(), 146);  // firmware 03 as re-read after OUT
    const auto receptions = engine->fontReceptions();
    ASSERT_EQ(receptions.size(), 1u);
    EXPECT_EQ(receptions[0].result, sim::FontReception::Result::Ok);
    EXPECT_EQ(receptions[0].expected, 1244678u);
    EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadSuccess);
}

// Against the virtual printer: a printer that stops taking data inside the last
// block holds that write up to the serial write time-out; the download fails
// unless it takes the rest before the next write's time-out runs out.
TEST_F(VirtualPrinterFixture, PrinterThatStopsInsideTheLastBlockFailsTheDownload) {
    const std::uint32_t size = 615695;  // payload 144, KOR
    config.fault = sim::FaultMode::PartialWrite;
    config.stallAfterBytes = size - 616;
    for (const std::int64_t pause : {std::int64_t{60000}, std::int64_t{12000}}) {
        SCOPED_TRACE(pause);
        config.stallMs = pause;
        notifier.shown.clear();
        Connect();
        notifier.answer = MessageAnswer::Yes;
        PacingEngine timers(clock);
        FontDownload download(*session, port->type(), 0, progress, view, timers, record.identity);
        download.StartFontDownload(2);
        timers.run([&](int id) { download.OnDownloadTimer(id); });
        const auto font = engine->fontReceptions().at(0);
        if (pause == 60000) {
            EXPECT_EQ(download.outcome(), FontDownload::Outcome::Failed);
            EXPECT_EQ(notifier.shown.back(), messages::kFontDownloadFailure);
            EXPECT_EQ(font.received, font.expected - 616);
        } else {
            EXPECT_EQ(download.outcome(), FontDownload::Outcome::Succeeded);
            EXPECT_EQ(font.result, sim::FontReception::Result::Ok);
        }
    }
}

}  // namespace
}  // namespace tessaly
