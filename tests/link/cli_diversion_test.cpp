// tessaly-cli keeps the print queues off the serial port it uses, against a CUPS
// daemon of the test's own and the virtual printer on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

    // Starts the virtual printer and points the queue "onport" at its terminal; the
    // queue "held" on the same terminal was stopped by an administrator before.
    void StartPrinter(sim::FaultMode fault) {
        ASSERT_TRUE(cupsd_->Ready()) << "the private cupsd did not start";
        sim::PrinterConfig config;
        config.fault = fault;
        engine_ = std::make_unique<sim::R3Engine>(config);
        printer_ = std::make_unique<sim::PtyPrinter>(*engine_);
        ASSERT_TRUE(printer_->start()) << printer_->error();
        ASSERT_TRUE(
            PrivateCupsd::AddQueue("onport", "serial:" + printer_->slavePath() + "?baud=19200"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("held", "serial:" + printer_->slavePath()));
        ASSERT_TRUE(PrivateCupsd::PauseQueue("held", "Out of paper"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("other", "serial:/dev/ttyS5?baud=19200"));
        ASSERT_FALSE(PrivateCupsd::Paused("onport"));
    }

    // Runs the command line (after `prefix`, e.g. to run it as another user) on the
    // printer's port; reports whether the queue on the port was seen paused while
    // it ran, and sends `signal` once it was.
    Program::Outcome Run(const std::vector<std::string>& command, bool* seenPaused, int signal = 0,
                         const std::vector<std::string>& prefix = {}) {
        std::vector<std::string> args = prefix;
        if (!prefix.empty()) args.push_back(TESSALY_CLI);
        args.insert(args.end(), {"--port", printer_->slavePath()});
        args.insert(args.end(), command.begin(), command.end());
        const std::string program = prefix.empty() ? TESSALY_CLI : args.front();
        if (!prefix.empty()) args.erase(args.begin());
        Program cli(program, args);
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
    Program::Outcome Run(const std::vector<std::string>& command) {
        bool seenPaused = false;
        return Run(command, &seenPaused);
    }

    static PrivateCupsd* cupsd_;
    std::unique_ptr<sim::R3Engine> engine_;
    std::unique_ptr<sim::PtyPrinter> printer_;
};
PrivateCupsd* CliDiversion::cupsd_ = nullptr;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CliDiversion, AfterARunKilledMidExchangeTheNextRunGivesTheQueueBackAndSaysSo) {
    StartPrinter(sim::FaultMode::None);
    bool seenPaused = false;
    const auto killed = Run({"get-status"}, &seenPaused, SIGKILL);
    ASSERT_TRUE(seenPaused);
    ASSERT_EQ(killed.signal, SIGKILL);
    // Nothing could clean up: the pause stays, marked for the administrator, and
    // the journal tells the next run.
    EXPECT_TRUE(PrivateCupsd::Paused("onport"));
    EXPECT_TRUE(Has(PrivateCupsd::Status("onport"),
                    "Paused by Tessaly while it uses " + printer_->slavePath() + " (pid "))
        << PrivateCupsd::Status("onport");
    EXPECT_EQ(cupsd_->JournalFiles().size(), 1u);

    const auto listed = Run({"queues"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(
        Has(listed.out, "that did not finish; `tessaly-cli queues --restore` gives it back"))
        << listed.out;
    EXPECT_TRUE(Has(listed.out, "paused by someone else: Out of paper")) << listed.out;
    EXPECT_FALSE(Has(listed.out, "other")) << "only the queues on the port: " << listed.out;

    const auto next = Run({"check"}, &seenPaused);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_TRUE(seenPaused) << "the next run pauses the queue for itself";
    EXPECT_TRUE(
        Has(next.err, "Resumed queue onport, left paused by an earlier run that did not finish."))
        << next.err;
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
    EXPECT_TRUE(PrivateCupsd::Paused("held")) << "paused by someone else before: left alone";
    EXPECT_TRUE(Has(PrivateCupsd::Status("held"), "Out of paper"));
    EXPECT_TRUE(cupsd_->JournalFiles().empty());
}

TEST_F(CliDiversion, QueuesRestoreGivesBackWhatAKilledRunLeftAndReportsDamagedRecords) {
    StartPrinter(sim::FaultMode::Silence);
    bool seenPaused = false;
    Run({"check"}, &seenPaused, SIGKILL);
    ASSERT_TRUE(seenPaused);
    std::ofstream(cupsd_->journalFolder() / "damaged.journal") << "{\"format\": ";

    const auto restored = Run({"queues", "--restore"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_TRUE(Has(restored.err, "Resumed queue onport")) << restored.err;
    EXPECT_TRUE(Has(restored.err, "damaged.journal: it is not a Tessaly queue record"))
        << restored.err;
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
    EXPECT_TRUE(PrivateCupsd::Paused("held"));
    EXPECT_EQ(cupsd_->JournalFiles().size(), 1u)
        << "the damaged file is left for a person to look at";

    const auto again = Run({"queues", "--restore"});
    EXPECT_EQ(again.status, 0);
    EXPECT_FALSE(Has(again.err, "Resumed")) << again.err;
}

TEST_F(CliDiversion, APauseThatCannotBeRecordedIsNotMadeAndRequireDiversionStops) {
    StartPrinter(sim::FaultMode::None);
    const std::string saved = getenv("XDG_STATE_HOME");
    std::ofstream(cupsd_->dir() / "plain-file") << "x";
    setenv("XDG_STATE_HOME", (cupsd_->dir() / "plain-file/state").c_str(), 1);

    bool seenPaused = false;
    const auto warned = Run({"check"}, &seenPaused);
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_FALSE(seenPaused) << "never change what could not be written down";
    EXPECT_TRUE(Has(warned.err, "Warning: The print queue 'onport' also prints to")) << warned.err;
    EXPECT_TRUE(Has(warned.err, "could not be written")) << warned.err;

    const auto stopped = Run({"--require-diversion", "send", "41 0a"}, &seenPaused);
    setenv("XDG_STATE_HOME", saved.c_str(), 1);
    EXPECT_EQ(stopped.status, 3) << stopped.err;
    EXPECT_TRUE(Has(stopped.err, "--require-diversion")) << stopped.err;
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
}

// The default policy lets only the system group pause a queue: an ordinary user's
// pause is refused by the scheduler.
TEST_F(CliDiversion, ARefusedPauseIsNamedAndRequireDiversionStopsBeforeThePortIsTouched) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    StartPrinter(sim::FaultMode::None);
    namespace fs = std::filesystem;
    const fs::path state = cupsd_->dir() / "nobody-state";
    fs::create_directories(state);
    fs::permissions(state, fs::perms::all);
    fs::permissions(printer_->slavePath(), fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::group_write |
                                               fs::perms::others_read | fs::perms::others_write);
    const std::vector<std::string> asNobody{"/usr/sbin/runuser",
                                            "-u",
                                            "nobody",
                                            "--",
                                            "/usr/bin/env",
                                            "XDG_STATE_HOME=" + state.string(),
                                            "CUPS_SERVER=" + cupsd_->socket(),
                                            "ASAN_OPTIONS=detect_leaks=0"};

    bool seenPaused = false;
    const auto stopped = Run({"--require-diversion", "send", "41 0a"}, &seenPaused, 0, asNobody);
    EXPECT_EQ(stopped.status, 3) << stopped.out << stopped.err;
    EXPECT_TRUE(Has(stopped.err, "The print queue 'onport' also prints to " +
                                     printer_->slavePath() + " and was not paused: Forbidden"))
        << stopped.err;
    EXPECT_TRUE(Has(stopped.err,
                    "Add your user to the 'lpadmin' group, or stop the queue "
                    "yourself with `cupsdisable onport`."))
        << stopped.err;
    printer_->waitIdle();
    EXPECT_TRUE(engine_->receivedLog().empty()) << "the port was not touched";
    EXPECT_FALSE(seenPaused);

    const auto warned = Run({"send", "41 0a"}, &seenPaused, 0, asNobody);
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_TRUE(Has(warned.err, "Warning: The print queue 'onport'")) << warned.err;
    EXPECT_TRUE(Has(warned.out, "Sent 2 bytes.")) << warned.out;
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
    EXPECT_TRUE(cupsd_->JournalFiles(state / "tessaly").empty())
        << "no record of a pause that was not made";
}

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

// apply on two ports at once: each port's thread keeps that port's queue off it,
// both diversions share the process's journal, and both queues come back.
TEST_F(CliDiversion, ApplyOnTwoPortsAtOnceKeepsEachQueueOffItsPortAndGivesBothBack) {
    StartPrinter(sim::FaultMode::None);
    sim::R3Engine secondEngine;
    sim::PtyPrinter second(secondEngine);
    ASSERT_TRUE(second.start()) << second.error();
    ASSERT_TRUE(PrivateCupsd::AddQueue("second", "serial:" + second.slavePath() + "?baud=19200"));
    const auto profile = std::filesystem::temp_directory_path() /
                         ("cli-diversion-" + std::to_string(::getpid()) + ".toml");
    std::ofstream(profile) << "paper_width = \"2 Inch\"\n";

    Program cli(TESSALY_CLI, {"--port", printer_->slavePath(), "--port", second.slavePath(),
                              "apply", profile.string()});
    ASSERT_TRUE(cli.started());
    bool bothPaused = false;
    for (int i = 0; i < 200 && !bothPaused; ++i) {
        bothPaused = PrivateCupsd::Paused("onport") && PrivateCupsd::Paused("second");
        if (!bothPaused) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto o = cli.Wait(60000);
    std::filesystem::remove(profile);
    EXPECT_TRUE(bothPaused);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(Has(o.out, "2 printers: 2 changed, 0 unchanged, 0 failed")) << o.out;
    EXPECT_FALSE(PrivateCupsd::Paused("onport"));
    EXPECT_FALSE(PrivateCupsd::Paused("second"));
    EXPECT_TRUE(PrivateCupsd::Paused("held")) << "paused by someone else before: left alone";
    EXPECT_TRUE(cupsd_->JournalFiles().empty());
    EXPECT_EQ(secondEngine.memorySwitch(10), 0x10);
}

}  // namespace
}  // namespace tessaly
