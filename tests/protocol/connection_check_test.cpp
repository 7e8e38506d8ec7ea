#include "connection_check.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "commands.h"
#include "r3_engine.h"
#include "recording_notifier.h"
#include "reply_bytes.h"
#include "simulated_port.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using testing::Framed;
using testing::RecordingNotifier;

PortSettings Named(const std::string& name) {
    PortSettings s;
    s.portName = name;
    return s;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

// The connection check against the virtual printer on virtual time.
struct CheckOnVirtualPrinter : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    VirtualClock clock;
    RecordingNotifier notifier;
    std::unique_ptr<PrinterPort> port;
    sim::SimulatedPort::Options portOptions;

    CheckReport report;
    // Bytes the printer has waiting before the check starts.
    std::vector<std::uint8_t> staleInput;

    CheckResult Run(const std::string& name = "COM1") {
        engine = std::make_unique<sim::R3Engine>(config);
        if (!staleInput.empty()) {
            // Queries answered before the check make the printer's output stale.
            engine->receive(staleInput.data(), staleInput.size(), 0);
        }
        port = std::make_unique<PrinterPort>(
            sim::MakeSimulatedPortFactory(*engine, clock, portOptions));
        Session s{*port, clock, notifier};
        const auto type = ChoosePort(name) ? ChoosePort(name)->type : PortType::Serial;
        return CheckCommunication(s, Named(name), type, CheckLimits{}, &report);
    }
};

// The documented message with the check's explanation below it.
::testing::Matcher<const Message&> Explained(const Message& documented, const std::string& detail) {
    using ::testing::AllOf;
    using ::testing::Field;
    return AllOf(Field(&Message::text, documented.text),
                 Field(&Message::caption, documented.caption),
                 Field(&Message::icon, documented.icon),
                 Field(&Message::details, ::testing::HasSubstr(detail)));
}

TEST_F(CheckOnVirtualPrinter, AcceptsTheR3AndLeavesThePortOpen) {
    EXPECT_EQ(Run(), CheckResult::Connected);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kConnected));
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(engine->receivedLog(), Bytes({0x1B, 0x40, 0x1B, 0x3D, 0x01, 0x1D, 0x61, 0x00, 0x1D,
                                            0x49, 0x01, 0x1D, 0x49, 0x42}));
}

TEST_F(CheckOnVirtualPrinter, AcceptsOverUsbWithoutDraining) {
    EXPECT_EQ(Run("R-3:/dev/usb/lp0"), CheckResult::Connected);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kConnected));
    // Two 200 ms waits before the replies and no 50 ms drain steps before them.
    EXPECT_LT(clock.now(), 1000);
}

TEST_F(CheckOnVirtualPrinter, RefusalsKeepTheDocumentedMessageAndSayWhatWasSeen) {
    struct Case {
        sim::FaultMode fault;
        const char* port;
        CheckResult result;
        Message message;
        CheckCause cause;
        const char* detail;
        std::int64_t replyDelayMs = 1500;
    };
    for (const Case& c : {
             Case{sim::FaultMode::WrongModel, "COM1", CheckResult::WrongModel,
                  messages::kWrongModel, CheckCause::UnexpectedBytes,
                  "answered 21 (hex) instead of its model byte 20"},
             Case{sim::FaultMode::Silence, "COM1", CheckResult::WrongModel, messages::kWrongModel,
                  CheckCause::NoAnswer, "No byte came back"},
             Case{sim::FaultMode::Silence, "R-3:/dev/usb/lp0", CheckResult::WrongModel,
                  messages::kWrongModel, CheckCause::NoAnswer, "wrong, or the baud rate"},
             Case{sim::FaultMode::WrongNames, "COM1", CheckResult::WrongManufacturer,
                  messages::kWrongManufacturer, CheckCause::UnexpectedBytes,
                  "maker's name as \"Vantreel Druckwerken GMBH\""},
             Case{sim::FaultMode::WrongNames, "R-3:/dev/usb/lp0", CheckResult::WrongManufacturer,
                  messages::kWrongManufacturer, CheckCause::UnexpectedBytes,
                  "maker's name as \"Vantreel Druckwerken GMBH\""},
             // The ten tries give the model byte 2.3 s, the name no such patience.
             Case{sim::FaultMode::LateReplies, "COM1", CheckResult::WrongManufacturer,
                  messages::kWrongManufacturer, CheckCause::LateAnswer,
                  "printer is busy; try again"},
             Case{sim::FaultMode::LateReplies, "COM1", CheckResult::WrongModel,
                  messages::kWrongModel, CheckCause::LateAnswer, "only 3.0 s after", 3000},
             Case{sim::FaultMode::LateReplies, "R-3:/dev/usb/lp0", CheckResult::WrongManufacturer,
                  messages::kWrongManufacturer, CheckCause::LateAnswer, "only 3.0 s after", 3000},
         }) {
        const std::string what = std::string(sim::FaultModeName(c.fault)) + " on " + c.port;
        config.fault = c.fault;
        config.replyDelayMs = c.replyDelayMs;
        notifier.shown.clear();
        EXPECT_EQ(Run(c.port), c.result) << what;
        EXPECT_THAT(notifier.shown, ElementsAre(Explained(c.message, c.detail))) << what;
        EXPECT_EQ(report.cause, c.cause) << what;
        EXPECT_EQ(report.message, notifier.shown.at(0)) << what;
        EXPECT_FALSE(port->HasPort()) << "the port is closed after a refusal";
    }
}

TEST_F(CheckOnVirtualPrinter, LateAnswerIsTimedFromItsQuery) {
    config.fault = sim::FaultMode::LateReplies;
    config.replyDelayMs = 1500;
    ASSERT_EQ(Run(), CheckResult::WrongManufacturer);
    EXPECT_EQ(report.cause, CheckCause::LateAnswer);
    // The name query's answer comes 1500 ms after it; one 260 ms listening read
    // and its 10 ms between bytes may lie between.
    EXPECT_GE(report.answerAfterMs, 1500);
    EXPECT_LE(report.answerAfterMs, 1800);
    EXPECT_EQ(report.bytes.front(), 0x5F) << "the late answer is the name itself";
    EXPECT_THAT(report.message.details, ::testing::HasSubstr("only 1.5 s after the query"));
}

TEST_F(CheckOnVirtualPrinter, SilenceIsListenedForOnlyABoundedTime) {
    config.fault = sim::FaultMode::Silence;
    Run();
    // Drain, model byte and its ten tries as before, then at most two seconds of
    // listening for a late answer.
    const std::int64_t documented = 5 * 160 + 100 + 110 + 10 * 210;
    EXPECT_GE(clock.now(), documented + 2000);
    EXPECT_LE(clock.now(), documented + 2000 + 260);
    EXPECT_TRUE(report.bytes.empty());
}

TEST_F(CheckOnVirtualPrinter, GarbageIsShownInHex) {
    config.fault = sim::FaultMode::Garbage;
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        config.garbageSeed = seed;
        notifier.shown.clear();
        Run();
        ASSERT_EQ(notifier.shown.size(), 1u);
        EXPECT_EQ(report.cause, CheckCause::UnexpectedBytes) << seed;
        ASSERT_FALSE(report.bytes.empty());
        EXPECT_LE(report.bytes.size(), 16u);
        EXPECT_THAT(notifier.shown[0].details,
                    ::testing::HasSubstr(fmt::format("{:02x}", report.bytes[0])));
    }
}

TEST_F(CheckOnVirtualPrinter, LineThatHangsUpAfterTheResetIsNamedAsSuch) {
    config.fault = sim::FaultMode::Disconnect;
    config.disconnectAfterBytes = 2;  // takes ESC @, then the link is dead
    EXPECT_EQ(Run(), CheckResult::WrongModel);
    EXPECT_THAT(notifier.shown, ElementsAre(Explained(messages::kWrongModel, "line hung up")));
    EXPECT_EQ(report.cause, CheckCause::LineHungUp);
    // Nothing can come on a dead line: no time is spent listening for it.
    EXPECT_LE(clock.now(), 5 * 160 + 100 + 110 + 10 * 210);
}

TEST_F(CheckOnVirtualPrinter, WrongModelWaitsTenMoreReadsWithoutAskingAgain) {
    config.fault = sim::FaultMode::WrongModel;
    Run();
    const auto log = engine->receivedLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), 0x49), 1) << "GS I 1 is sent once";
    // Drain: 5 x (50 + 110); 100 before the wrong byte; then 10 x (100 + 110).
    EXPECT_EQ(clock.now(), 5 * 160 + 100 + 10 * 210);
}

TEST_F(CheckOnVirtualPrinter, SlowModelByteIsAwaited) {
    config.fault = sim::FaultMode::LateReplies;
    config.replyDelayMs = 900;
    // The ten extra tries give the model byte time; the name, read with no such
    // patience, is then missed.
    EXPECT_EQ(Run(), CheckResult::WrongManufacturer);
}

TEST_F(CheckOnVirtualPrinter, PrinterThatNeverStopsSendingIsGivenUpOn) {
    config.fault = sim::FaultMode::EndlessSender;
    config.endlessAfterBytes = 0;
    EXPECT_EQ(Run(), CheckResult::EndlessInput);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kEndlessInput));
    EXPECT_LE(clock.now(), 5200) << "the drain is bounded";
}

// A finite burst drains however long it is, up to well past 64 KiB; only a
// printer that goes on sending is refused.
TEST_F(CheckOnVirtualPrinter, LongStaleBurstDrainsAndConnects) {
    for (int i = 0; i < 2500; ++i) staleInput.insert(staleInput.end(), {0x1D, 0x49, 0x42});
    EXPECT_EQ(Run(), CheckResult::Connected);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kConnected));
    EXPECT_LT(clock.now(), 5000);
}

TEST_F(CheckOnVirtualPrinter, GarbageNeverConnects) {
    config.fault = sim::FaultMode::Garbage;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        config.garbageSeed = seed;
        notifier.shown.clear();
        EXPECT_NE(Run(), CheckResult::Connected);
        EXPECT_EQ(notifier.shown.size(), 1u);
    }
}

TEST_F(CheckOnVirtualPrinter, PortFailuresBeforeAnyExchange) {
    EXPECT_EQ(Run("com1"), CheckResult::SetupFailed);
    EXPECT_THAT(notifier.shown, ElementsAre(messages::kSetupFailed));
    notifier.shown.clear();
    portOptions.failOpen = true;
    EXPECT_EQ(Run(), CheckResult::OpenFailed);
    // The port's own reason is shown below the documented message.
    EXPECT_THAT(notifier.shown,
                ElementsAre(Explained(messages::kOpenFailed, "could not be opened")));
    EXPECT_TRUE(engine->receivedLog().empty());
}

TEST_F(CheckOnVirtualPrinter, ShortFirstWriteIsAPortError) {
    config.fault = sim::FaultMode::Disconnect;
    config.disconnectAfterBytes = 1;
    EXPECT_EQ(Run(), CheckResult::PortError);
    EXPECT_THAT(notifier.shown, ElementsAre(Explained(messages::kPortError, "line hung up")));
    EXPECT_FALSE(port->HasPort());
}

TEST_F(CheckOnVirtualPrinter, SelfTestSendsItsCommandAndWaits) {
    ASSERT_EQ(Run(), CheckResult::Connected);
    Session s{*port, clock, notifier};
    const auto before = clock.now();
    SelfTest(s);
    EXPECT_EQ(clock.now() - before, 4300);
    const auto log = engine->receivedLog();
    EXPECT_EQ(std::vector<std::uint8_t>(log.end() - 7, log.end()),
              Bytes({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}));
    EXPECT_EQ(engine->selfTestCount(), 1);
    // The printer holds input while the page prints; the wait covers it, so a check
    // straight afterwards is answered.
    EXPECT_EQ(CheckCommunication(s, Named("COM1"), PortType::Serial), CheckResult::Connected);
}

// A printer that answers each query with fixed bytes, for replies the virtual
// printer would never give.
class ScriptedPort final : public ConcretePort {
  public:
    ScriptedPort(
        Clock& clock, PortType type,
        std::map<std::vector<std::uint8_t>, std::vector<std::uint8_t>, testing::BytesOrder> replies)
        : clock_(clock), type_(type), replies_(std::move(replies)) {}
    bool Setup(const PortSettings&) override { return true; }
    bool Open(int) override { return open_ = true; }
    std::uint32_t Write(const std::uint8_t* d, std::uint32_t n) override {
        const auto it = replies_.find(std::vector<std::uint8_t>(d, d + n));
        if (it != replies_.end()) input_.insert(input_.end(), it->second.begin(), it->second.end());
        return n;
    }
    std::uint32_t Read(std::uint8_t* b, std::uint32_t n, std::uint32_t) override {
        std::uint32_t got = 0;
        while (got < n && !input_.empty()) {
            b[got++] = input_.front();
            input_.pop_front();
        }
        if (got == 0) clock_.sleep(type_ == PortType::Usb ? 1000 : 100 + 10 * n);
        return got;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }

  private:
    Clock& clock_;
    PortType type_;
    std::map<std::vector<std::uint8_t>, std::vector<std::uint8_t>, testing::BytesOrder> replies_;
    std::deque<std::uint8_t> input_;
    bool open_ = false;
};

CheckResult CheckWithName(const std::vector<std::uint8_t>& nameReply, const std::string& portName,
                          RecordingNotifier& notifier) {
    VirtualClock clock;
    const auto type = ChoosePort(portName)->type;
    PrinterPort port([&](PortType t) {
        return std::make_unique<ScriptedPort>(
            clock, t,
            std::map<std::vector<std::uint8_t>, std::vector<std::uint8_t>, testing::BytesOrder>{
                {Bytes({0x1D, 0x49, 0x01}), Bytes({0x20})},
                {Bytes({0x1D, 0x49, 0x42}), nameReply}});
    });
    Session s{port, clock, notifier};
    return CheckCommunication(s, Named(portName), type);
}

TEST(ManufacturerName, ComparedExactlyOnByteLinks) {
    RecordingNotifier n;
    EXPECT_EQ(CheckWithName(Framed("Vantreel Druckwerken GmbH"), "COM1", n),
              CheckResult::Connected);
    // Every 0x5F is dropped wherever it stands.
    EXPECT_EQ(CheckWithName(Framed("Vantreel_ Druckwerken GmbH_"), "COM1", n),
              CheckResult::Connected);
    EXPECT_EQ(CheckWithName(Framed("vantreel druckwerken gmbh"), "COM1", n),
              CheckResult::WrongManufacturer);
    EXPECT_EQ(CheckWithName(Framed("Vantreel Druckwerken GmbH "), "COM1", n),
              CheckResult::WrongManufacturer);
    // A name that never ends is cut off rather than read forever.
    std::vector<std::uint8_t> endless(100000, 'A');
    EXPECT_EQ(CheckWithName(endless, "COM1", n), CheckResult::WrongManufacturer);
    // No terminating 0: the empty read ends the name.
    auto unterminated = Framed("Vantreel Druckwerken GmbH");
    unterminated.pop_back();
    EXPECT_EQ(CheckWithName(unterminated, "COM1", n), CheckResult::Connected);
}

TEST(ManufacturerName, UsbTakesOneReadAndSkipsTheHeaderByte) {
    RecordingNotifier n;
    EXPECT_EQ(CheckWithName(Framed("Vantreel Druckwerken GmbH", 'X'), "R-3:/dev/usb/lp0", n),
              CheckResult::Connected);
    // A 32-byte read holds at most 31 name bytes: a longer name is cut there.
    const std::string longName = "Vantreel Druckwerken GmbH" + std::string(10, 'z');
    EXPECT_EQ(CheckWithName(Framed(longName), "R-3:/dev/usb/lp0", n),
              CheckResult::WrongManufacturer);
}

}  // namespace
}  // namespace tessaly
