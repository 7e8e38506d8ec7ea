// Readiness of the parallel and serial lines as the drivers report it, answered by
// umockdev ioctl handlers on fake device nodes. Runs under umockdev-wrapper.
#include "testbed.h"
// testbed.h first: glib's headers must come before the link layer's.
#include <linux/lp.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "port_list.h"
#include "printer_port.h"

namespace tessaly {
namespace {

using testing::Testbed;

constexpr const char* kLp0 =
    "P: /devices/pci0000:00/0000:00:1f.0/parport0/lp0\n"
    "N: lp0\n"
    "E: DEVNAME=/dev/lp0\n"
    "E: SUBSYSTEM=lp\n"
    "A: dev=6:0\n";

constexpr const char* kTtyS0 =
    "P: /devices/pnp0/00:05/tty/ttyS0\n"
    "N: ttyS0\n"
    "E: DEVNAME=/dev/ttyS0\n"
    "E: SUBSYSTEM=tty\n"
    "A: dev=4:64\n";

// What the fake driver answers to one status request.
struct Answer {
    std::atomic<unsigned long> request{0};  // the ioctl answered with value
    std::atomic<int> value{0};
    std::atomic<bool> fail{false};  // the request fails with EIO instead
    std::atomic<int> asked{0};
};

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    if (umockdev_ioctl_client_get_request(client) != answer->request)
        return testing::PassThrough(client);
    ++answer->asked;
    if (answer->fail) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    return testing::AnswerInt(client, answer->value);
}

PortSettings Named(const char* name) {
    PortSettings settings;
    settings.portName = name;
    return settings;
}

struct ParallelReadiness : ::testing::Test {
    Testbed bed;
    Answer answer;
    void SetUp() override {
        bed.Add(kLp0);
        answer.request = LPGETSTATUS;
        bed.AttachIoctl("/dev/lp0", G_CALLBACK(HandleIoctl), &answer);
    }
};

TEST_F(ParallelReadiness, ConnectsOnlyToASelectedIdlePrinterWithPaperAndNoError) {
    struct Case {
        const char* condition;
        int lines;  // status lines as the lp driver reports them
        bool ready;
        const char* reason;
    };
    const Case cases[] = {
        {"ready", LP_PBUSY | LP_PSELECD | LP_PERRORP, true, ""},
        {"ready, acknowledge line high", LP_PBUSY | LP_PACK | LP_PSELECD | LP_PERRORP, true, ""},
        {"busy", LP_PSELECD | LP_PERRORP, false, "busy"},
        {"paper out", LP_PBUSY | LP_POUTPA | LP_PSELECD | LP_PERRORP, false, "out of paper"},
        {"off line", LP_PBUSY | LP_PERRORP, false, "off line"},
        {"error", LP_PBUSY | LP_PSELECD, false, "error"},
        {"nothing attached", 0, false, "off line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        answer.value = c.lines;
        PrinterPort port;
        ASSERT_TRUE(port.Setup(Named("LPT1")));
        EXPECT_EQ(port.type(), PortType::Parallel);
        EXPECT_EQ(port.Open(0), c.ready);
        EXPECT_EQ(port.IsOpen(), c.ready);
        EXPECT_NE(port.LastError().find(c.reason), std::string::npos) << port.LastError();
        port.Close();
    }
    EXPECT_EQ(answer.asked, 7);
}

TEST_F(ParallelReadiness, AFailedStatusQueryIsNotReadyAndFreesThePort) {
    answer.fail = true;
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named("/dev/lp0")));
    EXPECT_FALSE(port.Open(0));
    EXPECT_NE(port.LastError().find("cannot be read"), std::string::npos) << port.LastError();
    // The refused open let go of the node: once the printer answers, it connects.
    answer.fail = false;
    answer.value = LP_PBUSY | LP_PSELECD | LP_PERRORP;
    EXPECT_TRUE(port.Open(0));
}

TEST_F(ParallelReadiness, TheLpNodeIsListedAsAParallelPortThatSetupAccepts) {
    const auto ports = ListPorts();
    const auto lp0 = std::find_if(ports.begin(), ports.end(),
                                  [](const PortEntry& e) { return e.name == "/dev/lp0"; });
    ASSERT_NE(lp0, ports.end());
    EXPECT_EQ(lp0->type, PortType::Parallel);
    answer.value = LP_PBUSY | LP_PSELECD | LP_PERRORP;
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named(lp0->name.c_str())));
    EXPECT_EQ(port.type(), PortType::Parallel);
    EXPECT_TRUE(port.Open(0)) << port.LastError();
}

TEST(ParallelPortNames, AMissingPortSaysSo) {
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named("LPT3")));
    EXPECT_FALSE(port.Open(0));
    EXPECT_NE(port.LastError().find("/dev/lp2 does not exist"), std::string::npos)
        << port.LastError();
}

struct SerialDsr : ::testing::Test {
    Testbed bed;
    Answer answer;
    int printer = -1;
    void SetUp() override {
        bed.Add(kTtyS0);
        printer = bed.DeviceFd("/dev/ttyS0");
        answer.request = TIOCMGET;
        bed.AttachIoctl("/dev/ttyS0", G_CALLBACK(HandleIoctl), &answer);
    }
};

TEST_F(SerialDsr, APrinterThatDoesNotSignalDsrIsRefused) {
    answer.value = TIOCM_CTS | TIOCM_CD;
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named("COM1")));
    EXPECT_EQ(port.type(), PortType::Serial);
    EXPECT_FALSE(port.Open(0));
    EXPECT_GE(answer.asked, 1);
    EXPECT_NE(port.LastError().find("does not signal DSR"), std::string::npos) << port.LastError();
}

TEST_F(SerialDsr, APrinterSignallingDsrIsAccepted) {
    answer.value = TIOCM_DSR | TIOCM_CTS;
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named("COM1")));
    EXPECT_TRUE(port.Open(0)) << port.LastError();
    EXPECT_GE(answer.asked, 1);
}

// The real termios device asks the driver for DSR before each write and for its
// output queue before a success is reported; both answered here by the fake
// driver, as a printer holding its handshake off would make them.
struct SerialHandshake : ::testing::Test {
    Testbed bed;
    std::atomic<int> modem{TIOCM_DSR | TIOCM_CTS};
    std::atomic<int> queued{0};
    std::atomic<int> queueAsked{0};

    static gboolean Handle(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
        auto* self = static_cast<SerialHandshake*>(data);
        const auto request = umockdev_ioctl_client_get_request(client);
        if (request == TIOCMGET) return testing::AnswerInt(client, self->modem);
        if (request == TIOCOUTQ) {
            ++self->queueAsked;
            return testing::AnswerInt(client, self->queued);
        }
        return testing::PassThrough(client);
    }
    void SetUp() override {
        bed.Add(kTtyS0);
        bed.DeviceFd("/dev/ttyS0");
        bed.AttachIoctl("/dev/ttyS0", G_CALLBACK(Handle), this);
    }
};

TEST_F(SerialHandshake, DsrOffHoldsWritesAndAQueueThatStaysFullIsNoSuccess) {
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named("COM1")));
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    const std::uint8_t init[] = {0x1B, 0x40};
    EXPECT_EQ(port.Write(init, 2), 2u);
    EXPECT_TRUE(port.WaitSent());
    EXPECT_GE(queueAsked, 1);

    modem = TIOCM_CTS;  // the printer drops DSR: it cannot take more now
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Write(init, 2), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_NE(port.LastError().find("DSR"), std::string::npos) << port.LastError();

    modem = TIOCM_DSR | TIOCM_CTS;
    queued = 1743;  // bytes that never leave: CTS held off
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitSent());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_NE(port.LastError().find("1743 bytes"), std::string::npos) << port.LastError();
}

}  // namespace
}  // namespace tessaly
