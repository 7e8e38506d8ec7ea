#include "serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "posix_serial_device.h"

namespace tessaly {
namespace {

// A device whose answers a test chooses, recording what the port asks of it.
struct FakeDevice final : SerialDevice {
    struct State {
        bool openResult = true;
        bool setLineResult = true;
        DsrState dsr = DsrState::On;
        // When set, answers DSR queries instead of `dsr` (a line that changes).
        std::function<DsrState()> dsrNow;
        int dsrQueries = 0;
        bool driverHoldsOutput = false;
        // Answers to successive output-queue queries; the last one repeats.
        std::vector<std::optional<std::uint32_t>> pending{0u};
        std::size_t pendingQueries = 0;
        bool open = false;
        int opens = 0;
        bool purged = false;
        std::size_t written = 0;
        LineSettings line;
        SerialTimeouts timeouts;
    };
    explicit FakeDevice(State& s) : s_(s) {}
    bool Open(const std::string&) override {
        ++s_.opens;
        return s_.open = s_.openResult;
    }
    bool SetLine(const LineSettings& l) override {
        s_.line = l;
        return s_.setLineResult;
    }
    DsrState QueryDsr() override {
        ++s_.dsrQueries;
        return s_.dsrNow ? s_.dsrNow() : s_.dsr;
    }
    bool SetTimeouts(const SerialTimeouts& t) override {
        s_.timeouts = t;
        return true;
    }
    bool Purge() override { return s_.purged = true; }
    std::optional<std::uint32_t> PendingOutput() override {
        const std::size_t i = std::min(s_.pendingQueries++, s_.pending.size() - 1);
        return s_.pending[i];
    }
    bool HoldsOutputWhileDsrLow() const override { return s_.driverHoldsOutput; }
    std::uint32_t Write(const std::uint8_t*, std::uint32_t n) override {
        s_.written += n;
        return n;
    }
    std::uint32_t Read(std::uint8_t*, std::uint32_t) override { return 0; }
    void Close() override { s_.open = false; }
    bool IsOpen() const override { return s_.open; }
    std::string LastError() const override { return "device says no"; }
    State& s_;
};

struct SerialRules : ::testing::Test {
    FakeDevice::State device;
    VirtualClock clock;
    SerialPort port{std::make_unique<FakeDevice>(device), clock};

    void SetUp() override {
        PortSettings s;
        s.portName = "\\\\.\\COM12";
        s.baudRate = 38400;
        s.parity = 2;
        s.flowControl = 1;
        s.timeouts = {1, 2, 3, 4, 5};
        ASSERT_TRUE(port.Setup(s));
    }
};

TEST_F(SerialRules, OpenProgramsTheLineAndUsesFixedTimeouts) {
    ASSERT_TRUE(port.Open(0));
    EXPECT_EQ(device.line.baudRate, 38400);
    EXPECT_EQ(device.line.parity, 2);
    EXPECT_EQ(device.line.flowControl, 1);
    // The record's own time-outs have no effect on a serial port.
    EXPECT_EQ(device.timeouts.readInterval, 10u);
    EXPECT_EQ(device.timeouts.readTotalMultiplier, 10u);
    EXPECT_EQ(device.timeouts.readTotalConstant, 100u);
    EXPECT_EQ(device.timeouts.writeTotalMultiplier, 5u);
    EXPECT_EQ(device.timeouts.writeTotalConstant, 3000u);
    EXPECT_TRUE(device.purged);
    EXPECT_EQ(clock.now(), 100) << "the line settles 100 ms after the open";
    EXPECT_TRUE(port.Open(0)) << "a second open reports the open port";
    EXPECT_EQ(device.opens, 1);
}

TEST_F(SerialRules, PrinterWithoutDsrIsRefusedAndLeftClosed) {
    device.dsr = DsrState::Off;
    EXPECT_FALSE(port.Open(0));
    EXPECT_FALSE(device.open);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(port.LastError().find("DSR"), std::string::npos);
    std::uint8_t b = 0;
    EXPECT_EQ(port.Write(&b, 1), 0u);
    // A later open tries again.
    device.dsr = DsrState::On;
    EXPECT_TRUE(port.Open(0));
}

TEST_F(SerialRules, FailedQueriesAndSettingsCloseTheDevice) {
    device.dsr = DsrState::QueryFailed;
    EXPECT_FALSE(port.Open(0));
    EXPECT_FALSE(device.open);
    device.dsr = DsrState::NoModemLines;
    device.setLineResult = false;
    EXPECT_FALSE(port.Open(0));
    EXPECT_FALSE(device.open);
    EXPECT_EQ(port.LastError(), "device says no");
    device.setLineResult = true;
    EXPECT_TRUE(port.Open(0)) << "a line without modem signals skips the DSR test";
}

TEST_F(SerialRules, FailedOpenStillWaitsAndReportsWhy) {
    device.openResult = false;
    EXPECT_FALSE(port.Open(0));
    EXPECT_EQ(clock.now(), 100);
    EXPECT_EQ(port.LastError(), "device says no");
    PortSettings empty;
    EXPECT_FALSE(port.Setup(empty));
}

// Termios has no DSR output flow: the port waits for DSR before each write, within
// the write's own time limit, and gives up with a short write.
TEST_F(SerialRules, WritesWaitWhileThePrinterHoldsDsrOff) {
    ASSERT_TRUE(port.Open(0));
    const std::uint8_t block[100] = {};
    device.dsrNow = [&] { return clock.now() < 600 ? DsrState::Off : DsrState::On; };
    EXPECT_EQ(port.Write(block, sizeof block), 100u);
    EXPECT_GE(clock.now(), 600) << "held until DSR came back";

    device.dsrNow = [] { return DsrState::Off; };
    const std::int64_t start = clock.now();
    const std::size_t before = device.written;
    EXPECT_EQ(port.Write(block, sizeof block), 0u);
    EXPECT_EQ(device.written, before) << "nothing reached the line";
    EXPECT_GE(clock.now() - start, 3000 + 5 * 100);
    EXPECT_LT(clock.now() - start, 3000 + 5 * 100 + 50);
    EXPECT_NE(port.LastError().find("DSR"), std::string::npos) << port.LastError();
}

TEST_F(SerialRules, DsrIsNotWaitedForByADriverThatDoesItOrOnALineWithoutIt) {
    device.driverHoldsOutput = true;
    ASSERT_TRUE(port.Open(0));
    device.dsr = DsrState::Off;
    device.dsrQueries = 0;
    const std::uint8_t byte = 0x41;
    EXPECT_EQ(port.Write(&byte, 1), 1u);
    EXPECT_EQ(device.dsrQueries, 0);

    port.Close();
    device.driverHoldsOutput = false;
    device.dsr = DsrState::NoModemLines;  // a pseudo-terminal
    ASSERT_TRUE(port.Open(0));
    device.dsrQueries = 0;
    EXPECT_EQ(port.Write(&byte, 1), 1u);
    EXPECT_EQ(device.dsrQueries, 0);
}

// Success is reported only once the driver's output queue has emptied; a queue
// that stops shrinking (CTS held off) is a failure after the write time-out.
TEST_F(SerialRules, WaitSentWaitsForTheOutputQueueToEmpty) {
    ASSERT_TRUE(port.Open(0));
    device.pending = {4096u, 4096u, 2000u, 10u, 0u};
    EXPECT_TRUE(port.WaitSent());
    EXPECT_EQ(device.pendingQueries, 5u);

    device.pending = {1743u, 616u};
    device.pendingQueries = 0;
    const std::int64_t start = clock.now();
    EXPECT_FALSE(port.WaitSent());
    EXPECT_GE(clock.now() - start, 3000);
    EXPECT_LT(clock.now() - start, 3100);
    EXPECT_NE(port.LastError().find("616 bytes"), std::string::npos) << port.LastError();

    device.pending = {std::nullopt};
    device.pendingQueries = 0;
    EXPECT_FALSE(port.WaitSent());
    EXPECT_EQ(port.LastError(), "device says no");
    port.Close();
    EXPECT_FALSE(port.WaitSent());
}

// The real termios device on a pseudo-terminal: the test holds the master side.
struct PtyLine : ::testing::Test {
    int master = -1;
    std::string slave;

    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = ptsname(master);
        termios tio{};
        tcgetattr(master, &tio);
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    void TearDown() override { close(master); }

    std::unique_ptr<SerialPort> OpenPort() {
        auto port = std::make_unique<SerialPort>(std::make_unique<PosixSerialDevice>(),
                                                 SystemClock::instance());
        PortSettings s;
        s.portName = slave;
        EXPECT_TRUE(port->Setup(s));
        return port;
    }

    std::string ReadMaster(std::size_t want) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[64];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            }
        }
        return got;
    }
};

TEST_F(PtyLine, BytesTravelBothWaysAndStaleInputIsPurged) {
    auto port = OpenPort();
    ASSERT_TRUE(port->Open(0)) << port->LastError();
    const std::uint8_t query[] = {0x1D, 0x49, 0x01};
    EXPECT_EQ(port->Write(query, 3), 3u);
    EXPECT_EQ(ReadMaster(3), std::string("\x1D\x49\x01", 3));
    ASSERT_EQ(write(master, "\x20\x5FVan", 5), 5);
    std::uint8_t reply[8] = {};
    EXPECT_EQ(port->Read(reply, 5, 1000), 5u);
    EXPECT_EQ(reply[0], 0x20);
    EXPECT_EQ(reply[4], 'n');
}

TEST_F(PtyLine, EmptyReadEndsAfterItsTotalTimeout) {
    auto port = OpenPort();
    ASSERT_TRUE(port->Open(0));
    std::uint8_t b = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Read(&b, 1, 1000), 0u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    // 100 + 10 x 1 ms; generous upper bound for a loaded machine.
    EXPECT_GE(ms, 105);
    EXPECT_LT(ms, 1000);
}

TEST_F(PtyLine, ReadReturnsOnceBytesStopFlowing) {
    auto port = OpenPort();
    ASSERT_TRUE(port->Open(0));
    ASSERT_EQ(write(master, "ab", 2), 2);
    std::uint8_t buf[100] = {};
    const auto start = std::chrono::steady_clock::now();
    // Asking for 100 bytes would allow 1100 ms; the 10 ms gap ends it early.
    EXPECT_EQ(port->Read(buf, 100, 1000), 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(PtyLine, SecondOpenOfTheSameLineIsRefusedAsBusy) {
    auto first = OpenPort();
    ASSERT_TRUE(first->Open(0));
    auto second = OpenPort();
    EXPECT_FALSE(second->Open(0));
    EXPECT_NE(second->LastError().find("in use by"), std::string::npos) << second->LastError();
    first->Close();
    EXPECT_TRUE(second->Open(0)) << "closing releases the line";
}

TEST(PosixSerialDevice, ExplainsMissingDevicesAndNonTerminals) {
    PosixSerialDevice device;
    EXPECT_FALSE(device.Open("/dev/ttyDoesNotExist7"));
    EXPECT_NE(device.LastError().find("does not exist"), std::string::npos) << device.LastError();
    EXPECT_FALSE(device.Open("/dev/null"));
    EXPECT_NE(device.LastError().find("not a serial port"), std::string::npos);
    EXPECT_FALSE(device.IsOpen());
}

TEST(PosixSerialDevice, WindowsNamesMapToStandardPorts) {
    EXPECT_EQ(PosixSerialDevice::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(PosixSerialDevice::DevicePath("\\\\.\\COM12"), "/dev/ttyS11");
    EXPECT_EQ(PosixSerialDevice::DevicePath("COM0"), "COM0");
    EXPECT_EQ(PosixSerialDevice::DevicePath("COMX"), "COMX");
    EXPECT_EQ(PosixSerialDevice::DevicePath("/dev/pts/3"), "/dev/pts/3");
}

}  // namespace
}  // namespace tessaly
