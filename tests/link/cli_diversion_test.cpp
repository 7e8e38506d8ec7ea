// tessaly-cli keeps the print queues off the serial port it uses, against a CUPS
// daemon of the test's own and the virtual printer on a pseudo-terminal.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "private_cupsd.h"
#include "program.h"
#include "pty_printer.h"
#include "r3_engine.h"

namespace tessaly {
namespace {

using testing::PrivateCupsd;
using testing::Program;

class CliDiversion : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { cupsd_ = new PrivateCupsd; }
    static void TearDownTestSuite() {
        delete cupsd_;
        cupsd_ = nullptr;
    }

    // Starts the virtual printer and points the queue "onport" at its terminal.
    void StartPrinter(sim::FaultMode fault) {
        ASSERT_TRUE(cupsd_->Ready()) << "the private cupsd did not start";
        sim::PrinterConfig config;
        config.fault = fault;
        engine_ = std::make_unique<sim::R3Engine>(config);
        printer_ = std::make_unique<sim::PtyPrinter>(*engine_);
        ASSERT_TRUE(printer_->start()) << printer_->error();
        ASSERT_TRUE(
            PrivateCupsd::AddQueue("onport", "serial:" + printer_->slavePath() + "?baud=19200"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("other", "serial:/dev/ttyS5?baud=19200"));
        ASSERT_FALSE(PrivateCupsd::Paused("onport"));
    }

    // Runs the command line on the printer's port; reports whether the queue on
    // the port was seen paused while it ran.
    Program::Outcome Run(const std::vector<std::string>& command, bool* seenPaused,
                         int signal = 0) {
        std::vector<std::string> args{"--port", printer_->slavePath()};
        args.insert(args.end(), command.begin(), command.end());
        Program cli(TESSALY_CLI, args);
        EXPECT_TRUE(cli.started());
        *seenPaused = false;
        for (int i = 0; i < 100 && !*seenPaused; ++i) {
            *seenPaused = PrivateCupsd::Paused("onport");
            if (!*seenPaused) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (signal != 0) cli.Signal(signal);
        auto outcome = cli.Wait(30000);
        EXPECT_FALSE(outcome.timedOut) << "the command line must never hang";
        return outcome;
    }

    static PrivateCupsd* cupsd_;
    std::unique_ptr<sim::R3Engine> engine_;
    std::unique_ptr<sim::PtyPrinter> printer_;
};
PrivateCupsd* CliDiversion::cupsd_ = nullptr;

TEST_F(CliDiversion, TheQueueOnThePortIsPausedWhileTheRunFailsAndActiveAfterwards) {
    StartPrinter(sim::FaultMode::Silence);
    bool seenPaused = false;
    const auto o = Run({"check"}, &seenPaused);
    EXPECT_NE(o.status, 0);
    EXPECT_TRUE(seenPaused);
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
    EXPECT_FALSE(PrivateCupsd::Paused("other"));
}

TEST_F(CliDiversion, ASuccessfulRunLeavesTheQueueActive) {
    StartPrinter(sim::FaultMode::None);
    bool seenPaused = false;
    const auto o = Run({"send", "41 0a"}, &seenPaused);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
}

TEST_F(CliDiversion, ARunEndedBySigtermLeavesTheQueueActive) {
    StartPrinter(sim::FaultMode::Silence);
    bool seenPaused = false;
    const auto o = Run({"check"}, &seenPaused, SIGTERM);
    ASSERT_TRUE(seenPaused);
    EXPECT_EQ(o.signal, SIGTERM);
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
}

}  // namespace
}  // namespace tessaly
