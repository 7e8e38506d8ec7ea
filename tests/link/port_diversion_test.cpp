// Keeping print queues off the port in use, against a CUPS daemon the test starts.
#include "port_diversion.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "diversion_safety_net.h"
#include "private_cupsd.h"

namespace tessaly {
namespace {

using testing::PrivateCupsd;

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

TEST_F(Diversion, ParallelPortsAndDevicePathsAreDivertedUsbIsNot) {
    PortDiversion diversion;
    diversion.Divert("R-3:/dev/usb/lp0");
    diversion.Divert("/dev/usb/lp0");
    ExpectRunning({"s0", "s10", "s1", "lp0", "usb"});
    EXPECT_TRUE(diversion.records().empty());

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
