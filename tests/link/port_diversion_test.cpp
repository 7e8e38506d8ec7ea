// Keeping print queues off the port in use, against a CUPS daemon the test starts.
#include "port_diversion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "cups_print_queues.h"
#include "diversion_safety_net.h"
#include "file_journal_store.h"
#include "private_cupsd.h"

namespace tessaly {
namespace {

using testing::PrivateCupsd;
namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A process that ran and is gone: its pid is free, its start time never comes back.
ProcessIdentity EndedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return {child, ThisProcess().start};
}

// A process that runs until the test ends, and its identity.
struct RunningChild {
    ProcessIdentity identity;
    RunningChild() {
        int fds[2];
        if (pipe(fds) != 0) return;
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string start = ThisProcess().start;
            [[maybe_unused]] const ssize_t n = write(fds[1], start.data(), start.size());
            close(fds[1]);
            for (;;) pause();
        }
        close(fds[1]);
        char buffer[256];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        close(fds[0]);
        identity = {pid, std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0)};
    }
    ~RunningChild() {
        kill(static_cast<pid_t>(identity.pid), SIGKILL);
        waitpid(static_cast<pid_t>(identity.pid), nullptr, 0);
    }
};

class Diversion : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        cupsd_ = new PrivateCupsd;
        ASSERT_TRUE(cupsd_->Ready()) << "the private cupsd did not start";
        ASSERT_TRUE(PrivateCupsd::AddQueue("s0", "serial:/dev/ttyS0?baud=19200"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("s10", "serial:/dev/ttyS10?baud=9600"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("s1", "serial:/dev/ttyS1?baud=19200"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("held", "serial:/dev/ttyS0?baud=115200"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("lp0", "parallel:/dev/lp0"));
        ASSERT_TRUE(PrivateCupsd::AddQueue("usb", "usb://Vantreel/R-3?serial=SN123"));
    }
    static void TearDownTestSuite() {
        delete cupsd_;
        cupsd_ = nullptr;
    }
    // Every test starts with all queues running except "held", which an
    // administrator stopped before the utility came.
    void SetUp() override {
        for (const char* queue : {"s0", "s10", "s1", "lp0", "usb"})
            ASSERT_TRUE(PrivateCupsd::ResumeQueue(queue));
        ASSERT_TRUE(PrivateCupsd::PauseQueue("held"));
    }

    static void ExpectRunning(std::initializer_list<const char*> queues) {
        for (const char* queue : queues) EXPECT_FALSE(PrivateCupsd::Paused(queue)) << queue;
    }
    static void ExpectPaused(std::initializer_list<const char*> queues) {
        for (const char* queue : queues) EXPECT_TRUE(PrivateCupsd::Paused(queue)) << queue;
    }

    // What a run of the given process that was killed while it held the port
    // leaves behind: the record in the journal and the queue paused with our mark.
    static void LeaveAbandonedPause(const ProcessIdentity& owner, const std::string& queue,
                                    const std::string& port) {
        DiversionJournal journal(
            std::make_unique<FileJournalStore>(cupsd_->journalFolder().string()), owner);
        const std::string note = PortDiversion::PauseNote(port, owner.pid);
        std::string error;
        ASSERT_TRUE(
            journal.Add(port, {queue, CupsPrintQueues().Server(), "serial:" + port, note}, error))
            << error;
        ASSERT_TRUE(PrivateCupsd::PauseQueue(queue, note));
    }

    void TearDown() override {
        std::error_code ec;
        fs::remove_all(cupsd_->journalFolder(), ec);
    }

    static PrivateCupsd* cupsd_;
};
PrivateCupsd* Diversion::cupsd_ = nullptr;

TEST_F(Diversion, PausesTheQueuesOnThePortAndResumesOnlyThose) {
    PortDiversion diversion;
    diversion.Divert("COM2");  // /dev/ttyS1, and by the substring rule /dev/ttyS10
    ExpectPaused({"s1", "s10", "held"});
    ExpectRunning({"s0", "lp0", "usb"});
    diversion.Divert("COM1");  // /dev/ttyS0
    ExpectPaused({"s0"});

    const auto records = diversion.records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_TRUE(records.at("s0").pausedByUs);
    EXPECT_FALSE(records.at("s0").wasPaused);
    EXPECT_TRUE(records.at("held").wasPaused);
    EXPECT_FALSE(records.at("held").pausedByUs);

    // A second check finds the queues paused by us: the first record stands, so the
    // restoration still resumes them.
    diversion.Divert("COM1");
    EXPECT_TRUE(diversion.records().at("s0").pausedByUs);
    EXPECT_FALSE(diversion.records().at("s0").wasPaused);

    diversion.Restore();
    ExpectRunning({"s0", "s10", "s1", "lp0", "usb"});
    ExpectPaused({"held"});  // it was stopped before: left as it was
    EXPECT_TRUE(diversion.records().empty());
}

TEST_F(Diversion, ThePauseIsMarkedInCupsAndRecordedUntilTheQueueIsGivenBack) {
    PortDiversion diversion;
    const DiversionReport report = diversion.Divert("COM1");
    EXPECT_EQ(report.paused, std::vector<std::string>{"s0"});
    EXPECT_TRUE(report.refused.empty());

    // What an administrator sees.
    const std::string note =
        "Paused by Tessaly while it uses /dev/ttyS0 (pid " + std::to_string(getpid()) + ")";
    EXPECT_NE(PrivateCupsd::Status("s0").find(note), std::string::npos)
        << PrivateCupsd::Status("s0");
    // What the next run finds if this one dies now.
    const auto files = cupsd_->JournalFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename(), "_dev_ttyS0." + std::to_string(getpid()) + ".journal");
    const std::string text = Contents(files[0]);
    EXPECT_NE(text.find("\"s0\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"held\""), std::string::npos) << "not ours: not recorded";

    diversion.Restore();
    EXPECT_EQ(PrivateCupsd::Status("s0").find("Tessaly"), std::string::npos);
    EXPECT_TRUE(cupsd_->JournalFiles().empty());
}

TEST_F(Diversion, AQueueWhosePauseCannotBeRecordedIsNotPausedAndTheReportSaysWhy) {
    std::ofstream(cupsd_->dir() / "plain-file") << "x";
    DiversionJournal journal(
        std::make_unique<FileJournalStore>((cupsd_->dir() / "plain-file/tessaly").string()),
        ThisProcess());
    PortDiversion diversion(MakePlatformPrintQueues(), journal);
    const DiversionReport report = diversion.Divert("COM2");
    ExpectRunning({"s1", "s10"});
    EXPECT_TRUE(report.paused.empty());
    ASSERT_EQ(report.refused.size(), 2u);
    EXPECT_NE(report.refused[0].find("'s1'"), std::string::npos) << report.refused[0];
    EXPECT_NE(report.refused[0].find("could not be written"), std::string::npos);
    EXPECT_NE(report.refused[0].find("Not a directory"), std::string::npos);
    EXPECT_TRUE(diversion.Restore().empty());
}

TEST_F(Diversion, TheNextRunGivesBackOnlyWhatAnEndedRunLeftAsItLeftIt) {
    const ProcessIdentity ended = EndedProcess();
    LeaveAbandonedPause(ended, "s0", "/dev/ttyS0");
    // Paused by the ended run, then paused again by an administrator: now theirs.
    LeaveAbandonedPause(ended, "s1", "/dev/ttyS1");
    ASSERT_TRUE(PrivateCupsd::PauseQueue("s1", "Paper jam, do not print"));
    // Paused by a run that still goes on.
    RunningChild running;
    LeaveAbandonedPause(running.identity, "s10", "/dev/ttyS10");
    // Recorded by the ended run, but another process now has its pid.
    RunningChild later;
    LeaveAbandonedPause({later.identity.pid, ended.start}, "lp0", "/dev/lp0");

    PortDiversion diversion;
    const RecoveryReport report = diversion.RecoverAbandoned();
    EXPECT_EQ(report.givenBack,
              (std::vector<std::string>{
                  "Resumed queue lp0, left paused by an earlier run that did not finish.",
                  "Resumed queue s0, left paused by an earlier run that did not finish."}));
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_TRUE(report.problems.empty());
    ExpectRunning({"s0", "lp0"});
    ExpectPaused({"s1", "s10", "held"});
    EXPECT_NE(PrivateCupsd::Status("s1").find("Paper jam"), std::string::npos);
    // Only the running process's record is left.
    const auto files = cupsd_->JournalFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find(std::to_string(running.identity.pid)),
              std::string::npos);

    // Nothing more to do the second time.
    EXPECT_TRUE(diversion.RecoverAbandoned().givenBack.empty());
}

TEST_F(Diversion, OurMarkWithoutARecordIsGivenBackOnceTheProcessItNamesIsGone) {
    // The journal was lost (a reboot empties /run), the marks in CUPS are left.
    ASSERT_TRUE(
        PrivateCupsd::PauseQueue("s0", PortDiversion::PauseNote("/dev/ttyS0", EndedProcess().pid)));
    // The pid now belongs to another program (the print server itself).
    ASSERT_TRUE(
        PrivateCupsd::PauseQueue("s1", PortDiversion::PauseNote("/dev/ttyS1", cupsd_->pid())));
    // This very process: a pause of its own whose record went missing is left
    // alone rather than given back in the middle of its exchange.
    ASSERT_TRUE(PrivateCupsd::PauseQueue("s10", PortDiversion::PauseNote("/dev/ttyS10", getpid())));
    // Looks like ours, but is not quite.
    ASSERT_TRUE(PrivateCupsd::PauseQueue("lp0", "Paused by Tessaly while it uses /dev/lp0"));

    PortDiversion diversion;
    const RecoveryReport report = diversion.RecoverAbandoned();
    EXPECT_EQ(report.givenBack.size(), 2u);
    ExpectRunning({"s0", "s1"});
    ExpectPaused({"s10", "lp0", "held"});
}

TEST_F(Diversion, DamagedAndForeignRecordsAreReportedKeptAndNeverActedOn) {
    const fs::path folder = cupsd_->journalFolder();
    fs::create_directories(folder);
    std::ofstream(folder / "garbage.journal") << "\x7f\x01 garbage";
    std::ofstream(folder / "foreign.journal") << R"({"format": "other", "queues": ["s0"]})";
    // A record of an ended run that names "held", cut short.
    DiversionRecord record{"",
                           EndedProcess(),
                           "/dev/ttyS0",
                           {{"held", CupsPrintQueues().Server(), "serial:/dev/ttyS0", "Paused"}}};
    const std::string text = DiversionJournal::Encode(record);
    std::ofstream(folder / "cut.journal") << text.substr(0, text.size() - 20);

    PortDiversion diversion;
    const RecoveryReport report = diversion.RecoverAbandoned();
    EXPECT_TRUE(report.givenBack.empty());
    ASSERT_EQ(report.problems.size(), 3u);
    for (const std::string& problem : report.problems)
        EXPECT_NE(problem.find(folder.string()), std::string::npos) << problem;
    ExpectPaused({"held"});
    EXPECT_EQ(cupsd_->JournalFiles(folder).size(), 3u);

    // Diverting still works around them.
    diversion.Divert("COM1");
    ExpectPaused({"s0"});
    diversion.Restore();
    ExpectRunning({"s0"});
}

TEST_F(Diversion, ParallelPortsAndDevicePathsAreDiverted) {
    PortDiversion diversion;
    diversion.Divert("LPT1");
    ExpectPaused({"lp0"});
    ExpectRunning({"s0", "s1", "usb"});
    diversion.Divert("/dev/ttyS1");
    ExpectPaused({"s1", "s10"});
    ExpectRunning({"s0"});
    diversion.Restore();
    ExpectRunning({"s0", "s10", "s1", "lp0", "usb"});
}

TEST_F(Diversion, LeavingTheScopeOnAnErrorRestores) {
    try {
        PortDiversion diversion;
        diversion.Divert("COM1");
        ExpectPaused({"s0"});
        throw std::runtime_error("the connection check failed");
    } catch (const std::runtime_error&) {
    }
    ExpectRunning({"s0", "s10"});
    ExpectPaused({"held"});
}

// A child process that diverts COM1 and then waits for Go() before it runs body.
struct Child {
    pid_t pid = -1;
    int go = -1;
    void Go() const { [[maybe_unused]] const ssize_t n = write(go, "g", 1); }
};

template <typename Body>
Child StartChild(Body body) {
    int ready[2];
    int go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(go[1]);
        InstallDiversionSafetyNet();
        auto* diversion = new PortDiversion;  // never destroyed: only the net can restore
        diversion->Divert("COM1");
        char byte = 'r';
        [[maybe_unused]] ssize_t n = write(ready[1], &byte, 1);
        n = read(go[0], &byte, 1);
        body();
        _exit(99);
    }
    close(ready[1]);
    close(go[0]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1) << "the child did not start";
    close(ready[0]);
    EXPECT_TRUE(PrivateCupsd::Paused("s0")) << "the child did not divert";
    return {pid, go[1]};
}

int WaitBounded(pid_t child) {
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (waitpid(child, &status, WNOHANG) == child) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << "the child did not end";
    return status;
}

TEST_F(Diversion, AProcessEndedBySignalResumesItsQueuesAndStillDiesOfTheSignal) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const Child child = StartChild([] {
            for (;;) pause();
        });
        kill(child.pid, signal);
        const int status = WaitBounded(child.pid);
        close(child.go);
        EXPECT_TRUE(WIFSIGNALED(status));
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), signal);
        }
        ExpectRunning({"s0", "s10"});
        ExpectPaused({"held"});
    }
}

TEST_F(Diversion, AProcessCallingExitResumesItsQueues) {
    const Child child = StartChild([] { std::exit(3); });
    child.Go();
    const int status = WaitBounded(child.pid);
    close(child.go);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    ExpectRunning({"s0", "s10"});
}

TEST(QueueMatch, UsbQueuesAreKnownByTheSerialNumberOfThePrinterOrByItsNode) {
    const PortQueueMatch match{"/dev/usb/lp0", "/dev/usb/lp0", "SN 123"};
    EXPECT_TRUE(match.Matches("usb://Vantreel/R-3?serial=SN%20123"));
    EXPECT_TRUE(match.Matches("usb://Vantreel/R-3?interface=0&serial=SN 123"));
    EXPECT_TRUE(match.Matches("usb:/dev/usb/lp0"));
    EXPECT_TRUE(match.Matches("parallel:/dev/usb/lp0"));
    EXPECT_FALSE(match.Matches("usb://Vantreel/R-3?serial=SN 1234"));
    EXPECT_FALSE(match.Matches("usb://Vantreel/R-3?serialx=SN 123"));
    EXPECT_FALSE(match.Matches("usb://Vantreel/R-3"));
    EXPECT_FALSE(match.Matches("ipp://host/printers/x?serial=SN 123"));
    EXPECT_FALSE(
        (PortQueueMatch{"/dev/usb/lp0", "/dev/usb/lp0", ""}).Matches("usb://Vantreel/R-3?serial="));
}

TEST(QueueMatch, OnlyASchedulerOfThisMachineIsAskedForQueues) {
    for (const char* local : {"/run/cups/cups.sock", "localhost", "localhost:631", "127.0.0.1",
                              "127.0.0.1:8631", "::1", "[::1]:631"})
        EXPECT_TRUE(CupsPrintQueues::IsLocalServer(local)) << local;
    for (const char* remote : {"printhost", "printhost:631", "10.0.0.5", "[fe80::1]:631",
                               "localhost.example.com", "127host"})
        EXPECT_FALSE(CupsPrintQueues::IsLocalServer(remote)) << remote;

    setenv("CUPS_SERVER", "printhost.invalid:631", 1);
    cupsSetServer(nullptr);
    const auto start = std::chrono::steady_clock::now();
    PortDiversion diversion;
    EXPECT_TRUE(diversion.Divert("COM1").paused.empty());
    EXPECT_TRUE(diversion.records().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
}

TEST(DiversionWithoutCups, DoesNothingAndReturnsAtOnce) {
    setenv("CUPS_SERVER", "/tmp/no-cups-here.sock", 1);
    cupsSetServer(nullptr);
    const auto start = std::chrono::steady_clock::now();
    {
        PortDiversion diversion;
        diversion.Divert("COM1");
        EXPECT_TRUE(diversion.records().empty());
        diversion.Restore();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
}

}  // namespace
}  // namespace tessaly
