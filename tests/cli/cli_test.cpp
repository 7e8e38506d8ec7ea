// tessaly-cli run as a user runs it, against a virtual printer on a
// pseudo-terminal that belongs to the test, so every byte on the wire is seen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "fifo_watchdog.h"
#include "program.h"
#include "pty_printer.h"
#include "r3_engine.h"

namespace tessaly {
namespace {

using ::testing::HasSubstr;

using Outcome = tessaly::testing::Program::Outcome;

// Runs the command line with a hard time limit, collecting both output streams.
Outcome RunCli(const std::vector<std::string>& args, int limitMs = 30000) {
    tessaly::testing::Program program(TESSALY_CLI, args);
    EXPECT_TRUE(program.started());
    return program.Wait(limitMs);
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

const std::vector<std::uint8_t> kCheckBytes =
    Bytes({0x1B, 0x40, 0x1B, 0x3D, 0x01, 0x1D, 0x61, 0x00, 0x1D, 0x49, 0x01, 0x1D, 0x49, 0x42});

struct CliOnPty : ::testing::Test {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;
    std::unique_ptr<sim::PtyPrinter> printer;

    // Queries the printer answered before the command line came: stale input.
    std::vector<std::uint8_t> earlierQueries;

    Outcome Run(std::vector<std::string> args) {
        engine = std::make_unique<sim::R3Engine>(config);
        engine->receive(earlierQueries.data(), earlierQueries.size(), 0);
        printer = std::make_unique<sim::PtyPrinter>(*engine);
        EXPECT_TRUE(printer->start()) << printer->error();
        args.insert(args.begin(), {"--port", printer->slavePath()});
        auto o = RunCli(args);
        EXPECT_FALSE(o.timedOut) << "the command line must never hang";
        return o;
    }
    // What the printer received after the connection check.
    std::vector<std::uint8_t> AfterCheck() {
        // The command line may exit before the printer has taken its last bytes.
        printer->waitIdle();
        auto log = engine->receivedLog();
        EXPECT_GE(log.size(), kCheckBytes.size());
        EXPECT_TRUE(std::equal(kCheckBytes.begin(), kCheckBytes.end(), log.begin()));
        return {log.begin() + static_cast<long>(kCheckBytes.size()), log.end()};
    }
};

TEST_F(CliOnPty, CheckPutsTheIdentificationOnTheWire) {
    const auto o = Run({"check"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Information: Printer is connected.\n");
    printer->waitIdle();
    EXPECT_EQ(engine->receivedLog(), kCheckBytes);
}

TEST_F(CliOnPty, SelfTestSendsItsCommandAfterTheCheck) {
    const auto o = Run({"self-test"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(AfterCheck(), Bytes({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}));
    EXPECT_EQ(engine->selfTestCount(), 1);
}

TEST_F(CliOnPty, SendWritesTheParsedBytes) {
    EXPECT_EQ(Run({"send", "1D61FF0A"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x1D, 0x61, 0xFF, 0x0A}));
    EXPECT_EQ(Run({"send", "123"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x12, 0x03}));
    EXPECT_EQ(Run({"send", "1b 40\n0a"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x1B, 0x40, 0x0A}));
    EXPECT_EQ(Run({"send", "a", "1b"}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x0A, 0x1B}));
}

TEST_F(CliOnPty, BadHexTextIsRefusedBeforeAnythingIsSent) {
    const auto o = Run({"send", "1b 4g"});
    EXPECT_EQ(o.status, 2);
    EXPECT_THAT(o.err, HasSubstr("'g' at position 5"));
    const auto accent = Run({"send", "1b 40 \u00e9"});
    EXPECT_EQ(accent.status, 2);
    EXPECT_THAT(accent.err, HasSubstr("'\u00e9' (U+00E9) at position 7"));
    EXPECT_TRUE(engine->receivedLog().empty());
}

TEST_F(CliOnPty, SendFileWritesItsRawBytes) {
    const auto path = std::filesystem::temp_directory_path() / "tessaly-cli-test.bin";
    std::ofstream(path, std::ios::binary).write("\x1b\x40\x00\xff", 4);
    EXPECT_EQ(Run({"send-file", path.string()}).status, 0);
    EXPECT_EQ(AfterCheck(), Bytes({0x1B, 0x40, 0x00, 0xFF}));

    // A file of several blocks arrives whole and in order.
    std::vector<std::uint8_t> text;
    for (int i = 0; i < 10000; ++i) text.push_back(static_cast<std::uint8_t>('A' + i % 26));
    text.push_back(0x0A);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), static_cast<long>(text.size()));
    const auto o = Run({"send-file", path.string()});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Sent 10001 bytes."));
    EXPECT_EQ(AfterCheck(), text);
    std::filesystem::remove(path);
}

TEST_F(CliOnPty, SendFileRefusesWhatIsNotACommandFileBeforeThePortIsTouched) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tessaly-send-file-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "folder.bin");
    const auto big = dir / "big.bin";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, 300u << 20);  // sparse: nothing to read is stored
    tessaly::testing::FifoWatchdog fifo((dir / "fifo.bin").string());
    ASSERT_TRUE(fifo.made());
    struct Case {
        std::string path;
        std::string reason;
    };
    for (const Case& c : {
             Case{(dir / "folder.bin").string(), "it is a directory, not a file."},
             Case{fifo.path(), "it is a named pipe (FIFO), not a file."},
             Case{"/dev/zero", "it is a device, not a file."},
             Case{big.string(),
                  "it holds 314572800 bytes; a command file may hold at most 1 MiB (1048576 "
                  "bytes)."},
             Case{(dir / "missing.bin").string(), "No such file or directory."},
         }) {
        const auto o = Run({"send-file", c.path});
        EXPECT_EQ(o.status, 3) << c.path;
        EXPECT_EQ(o.err, "Can't read the command file \"" + c.path + "\": " + c.reason + "\n");
        printer->waitIdle();
        EXPECT_TRUE(engine->receivedLog().empty()) << "not even the check ran";
    }
    EXPECT_FALSE(fifo.Blocked()) << "send-file waited for a writer to the named pipe";
    std::filesystem::remove_all(dir);
}

TEST_F(CliOnPty, MisbehavingPrintersEndWithTheirMessageAndWhatWasSeen) {
    constexpr const char* kModel = "Warning: The connected printer has different device ID.\n";
    constexpr const char* kName = "Warning: This printer don't match our company name.\n";
    struct Case {
        sim::FaultMode fault;
        const char* message;
        const char* seen;  // the second line, what the check saw
    };
    for (const Case& c : {
             Case{sim::FaultMode::WrongModel, kModel,
                  "The printer answered 21 (hex) instead of its model byte 20. Likely cause: a "
                  "baud rate, data bits or parity"},
             Case{sim::FaultMode::Silence, kModel,
                  "No byte came back from the printer. Likely cause: the printer is switched "
                  "off, the cable or the port is wrong, or the baud rate"},
             Case{sim::FaultMode::Garbage, kModel, "(hex) instead of its model byte 20"},
             Case{sim::FaultMode::WrongNames, kName,
                  "The printer gave its maker's name as \"Vantreel Druckwerken GMBH\"."},
             Case{sim::FaultMode::LateReplies, kName,
                  "after the query, when the check had stopped waiting. Likely cause: the "
                  "printer is busy; try again."},
             // The printer takes the first byte of the reset, then the line is gone.
             Case{sim::FaultMode::Disconnect, kModel,
                  "The line hung up. Likely cause: the cable was pulled or the printer was "
                  "switched off."},
             Case{sim::FaultMode::EndlessSender, "Warning: The printer keeps sending data.",
                  " Check the baud rate"},
         }) {
        config.fault = c.fault;
        config.disconnectAfterBytes = 1;
        const auto o = Run({"check"});
        EXPECT_EQ(o.status, 1) << sim::FaultModeName(c.fault);
        // The documented message first, what was seen on the line after it.
        ASSERT_EQ(o.err.rfind(c.message, 0), 0u) << o.err;
        const std::string second = o.err.substr(std::strlen(c.message));
        EXPECT_THAT(second, HasSubstr(c.seen)) << sim::FaultModeName(c.fault);
        EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
}

TEST_F(CliOnPty, LongStaleBurstDrainsAndConnects) {
    for (int i = 0; i < 2500; ++i) earlierQueries.insert(earlierQueries.end(), {0x1D, 0x49, 0x42});
    const auto o = Run({"check"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Information: Printer is connected.\n");
}

TEST_F(CliOnPty, CheckJsonCarriesTheDiagnosisAsFields) {
    config.fault = sim::FaultMode::LateReplies;
    auto o = Run({"check", "--json"});
    EXPECT_EQ(o.status, 1);
    auto j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["connected"], false);
    EXPECT_EQ(j["result"], "wrong-manufacturer");
    EXPECT_EQ(j["message"], "This printer don't match our company name.");
    EXPECT_EQ(j["cause"], "late-answer");
    EXPECT_GE(j["answerAfterMs"].get<int>(), 1500);
    EXPECT_LT(j["answerAfterMs"].get<int>(), 2000);
    EXPECT_EQ(j["bytes"].get<std::string>().substr(0, 5), "5f 56") << "the name came late";
    EXPECT_THAT(j["details"].get<std::string>(), HasSubstr("printer is busy"));
    // The documented message and its details still go to standard error.
    EXPECT_THAT(o.err, HasSubstr("company name.\nThe printer answered only"));

    config.fault = sim::FaultMode::WrongModel;
    j = nlohmann::json::parse(Run({"check", "--json"}).out);
    EXPECT_EQ(j["cause"], "unexpected-bytes");
    EXPECT_EQ(j["bytes"], "21");
    EXPECT_TRUE(j["answerAfterMs"].is_null());

    config.fault = sim::FaultMode::None;
    o = Run({"check", "--json"});
    EXPECT_EQ(o.status, 0);
    j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["connected"], true);
    EXPECT_EQ(j["message"], "Printer is connected.");
    EXPECT_EQ(j["cause"], "none");
    EXPECT_TRUE(j["details"].is_null());
}

TEST(Cli, PortProblemsAndUsage) {
    auto o = RunCli({"--port", "com1", "check"});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("Warning: Port Configuration Set Error!"));
    o = RunCli({"--port", "/dev/ttyNoSuchPort9", "check"});
    EXPECT_EQ(o.status, 3);
    EXPECT_THAT(o.err, HasSubstr("Information: Can't open port and Printer is disconnected"));
    EXPECT_THAT(o.err, HasSubstr("does not exist"));
    EXPECT_EQ(RunCli({"check"}).status, 2);
    EXPECT_EQ(RunCli({"--baud", "1234", "check"}).status, 2);
    EXPECT_EQ(RunCli({"frobnicate"}).status, 2);
    o = RunCli({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("EXIT STATUS"));
    EXPECT_THAT(o.out, HasSubstr("regular file of at\n  most 1 MiB (1048576 bytes)"));
}

TEST(Cli, BuiltInVirtualPrinter) {
    const auto o = RunCli({"--virtual-printer", "send", "1b", "40"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Printer is connected."));
    EXPECT_THAT(o.out, HasSubstr("Sent 2 bytes."));
}

}  // namespace
}  // namespace tessaly
