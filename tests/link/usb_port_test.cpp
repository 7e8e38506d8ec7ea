// USB printers on fake usblp nodes: discovery, talking to the printer, and
// unplugging and plugging it in again with real uevents received by the real udev
// monitor. Runs under umockdev-wrapper.
#include "testbed.h"
// testbed.h first: glib's headers must come before the link layer's.
#include <algorithm>
#include <thread>

#include "port_list.h"
#include "posix_usb_device.h"
#include "printer_port.h"
#include "udev_usb.h"
#include "usb_port.h"

namespace tessaly {
namespace {

using testing::Drain;
using testing::Testbed;
using testing::UsbPrinter;
using testing::WaitReadable;

PortSettings Named(const std::string& name) {
    PortSettings settings;
    settings.portName = name;
    return settings;
}

std::uint32_t WriteText(PrinterPort& port, const std::string& text) {
    return port.Write(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::uint32_t>(text.size()));
}

std::uint32_t WriteText(UsbPort& port, const std::string& text) {
    return port.Write(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::uint32_t>(text.size()));
}

void Send(int fd, const std::string& text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

struct UsbPrinters : ::testing::Test {
    Testbed bed;
    void SetUp() override {
        bed.Add(UsbPrinter("1-1", "lp0", "2e9b", "0006", "SN123"));
        bed.Add(UsbPrinter("1-2", "lp1", "04b8", "0202", "OTHER1"));  // another make
        bed.Add(UsbPrinter("1-3", "lp2", "2e9b", "0007", "SN999"));   // another model
    }
};

TEST_F(UsbPrinters, OnlyTheR3IsListedAsItsNodeWithThePrefix) {
    EXPECT_EQ(FindUsbPrinters(), std::vector<std::string>{"R-3:/dev/usb/lp0"});

    const std::vector<PortEntry> ports = ListPorts();
    std::vector<PortEntry> usb;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(usb),
                 [](const PortEntry& e) { return e.type == PortType::Usb; });
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0].name, "R-3:/dev/usb/lp0");
    EXPECT_NE(usb[0].description.find("SN123"), std::string::npos);
}

TEST_F(UsbPrinters, SeveralR3AreListedInEnumerationOrder) {
    bed.Add(UsbPrinter("1-4", "lp3", "2e9b", "0006", "SN456"));
    EXPECT_EQ(FindUsbPrinters(),
              (std::vector<std::string>{"R-3:/dev/usb/lp0", "R-3:/dev/usb/lp3"}));
}

TEST_F(UsbPrinters, TheListedEntryOpensWritesAndReadsWithinTheTimeout) {
    const int printer = bed.DeviceFd("/dev/usb/lp0");
    ASSERT_GE(printer, 0);
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named(FindUsbPrinters().at(0))));
    EXPECT_EQ(port.type(), PortType::Usb);
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    EXPECT_TRUE(port.Open(0));            // already open
    EXPECT_GE(port.NotificationFd(), 0);  // for the caller's event loop

    EXPECT_EQ(WriteText(port, "\x1b@hello"), 7u);
    EXPECT_EQ(Drain(printer, 7), "\x1b@hello");

    Send(printer, std::string("R3\0", 3));
    std::uint8_t reply[16] = {};
    EXPECT_EQ(port.Read(reply, sizeof reply, 1000), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 2), "R3");

    // Nothing pending: the read gives up after the caller's timeout, not later.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(reply, sizeof reply, 200), 0u);
    const auto waited = ElapsedMs(start);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 800);
}

// A short reply ends a USB read: a one-byte answer does not hold the read for
// the rest of its timeout.
TEST_F(UsbPrinters, AShortReplyEndsTheReadAtOnce) {
    const int printer = bed.DeviceFd("/dev/usb/lp0");
    PrinterPort port;
    ASSERT_TRUE(port.Setup(Named("R-3:/dev/usb/lp0")));
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    Send(printer, "\x20");
    std::uint8_t reply[16] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(reply, sizeof reply, 1000), 1u);
    EXPECT_LT(ElapsedMs(start), 200);
    EXPECT_EQ(reply[0], 0x20);
}

// Success needs the last transfer to be taken: a printer that takes nothing
// leaves its transfer pending, and waiting for it gives up within its bound.
TEST_F(UsbPrinters, WaitingForTheLastTransferTellsWhetherThePrinterTookIt) {
    const int printer = bed.DeviceFd("/dev/usb/lp0");
    PosixUsbDevice device;
    ASSERT_TRUE(device.Open("/dev/usb/lp0")) << device.LastError();
    const std::string block(4096, 'x');
    const auto* data = reinterpret_cast<const std::uint8_t*>(block.data());
    EXPECT_EQ(device.Write(data, 64, WriteBounds{0, 100}), 64u);
    EXPECT_TRUE(device.WaitSent(200));
    // The printer stops reading: the link fills up and stays full.
    while (device.Write(data, 4096, WriteBounds{0, 100}) == 4096u) {
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(device.WaitSent(300));
    EXPECT_GE(ElapsedMs(start), 290);
    EXPECT_NE(device.LastError().find("stopped taking data"), std::string::npos)
        << device.LastError();
    Drain(printer, 1u << 20, 300);
    EXPECT_TRUE(device.WaitSent(300));
}

TEST_F(UsbPrinters, TheNodeIsHeldExclusively) {
    const int printer = bed.DeviceFd("/dev/usb/lp0");
    ASSERT_GE(printer, 0);
    PrinterPort first;
    PrinterPort second;
    ASSERT_TRUE(first.Setup(Named("R-3:/dev/usb/lp0")));
    ASSERT_TRUE(second.Setup(Named("R-3:/dev/usb/lp0")));
    ASSERT_TRUE(first.Open(0));
    EXPECT_FALSE(second.Open(0));
    EXPECT_NE(second.LastError().find("in use"), std::string::npos) << second.LastError();
    first.Close();
    EXPECT_TRUE(second.Open(0));
}

struct UsbHotPlug : UsbPrinters {
    UsbPort port{std::make_unique<PosixUsbDevice>(), std::make_unique<UdevUsbWatcher>()};
    int printer = -1;

    void SetUp() override {
        UsbPrinters::SetUp();
        printer = bed.DeviceFd("/dev/usb/lp0");
        ASSERT_GE(printer, 0);
        ASSERT_TRUE(port.Setup(Named("/dev/usb/lp0")));
        EXPECT_EQ(port.deviceState(), 0);
        ASSERT_TRUE(port.Open(0)) << port.LastError();
        EXPECT_EQ(port.deviceState(), 1);
        ASSERT_GE(port.NotificationFd(), 0);
    }

    void Unplug(const std::string& usbPort, const std::string& lp) {
        testing::UnplugUsbPrinter(bed, usbPort, lp);
    }
    void Plug(const std::string& usbPort, const std::string& lp, const std::string& serial) {
        testing::PlugR3(bed, usbPort, lp, serial);
    }

    // Lets the port's notice descriptor drive it, as an event loop would.
    void DeliverNotices() {
        ASSERT_TRUE(WaitReadable(port.NotificationFd(), 2000)) << "no notice arrived";
        // Both halves of a replug may arrive a little apart.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        port.HandleDeviceEvents();
    }
};

TEST_F(UsbHotPlug, UnplugReleasesTheDeviceAndReplugAtAnotherNodeReopensIt) {
    EXPECT_EQ(WriteText(port, "before"), 6u);
    EXPECT_EQ(Drain(printer, 6), "before");

    Unplug("1-1", "lp0");
    DeliverNotices();
    EXPECT_EQ(port.deviceState(), -1);
    EXPECT_TRUE(port.IsOpen());  // the session goes on while the printer is away
    EXPECT_EQ(WriteText(port, "lost"), 0u);
    EXPECT_NE(port.LastError().find("unplugged"), std::string::npos) << port.LastError();

    // Back on another USB port, hence another node.
    Plug("1-5", "lp4", "SN123");
    const int back = bed.DeviceFd("/dev/usb/lp4");
    ASSERT_GE(back, 0);
    DeliverNotices();
    EXPECT_EQ(port.deviceState(), 1);
    EXPECT_EQ(port.devicePath(), "/dev/usb/lp4");
    EXPECT_EQ(WriteText(port, "after"), 5u);
    EXPECT_EQ(Drain(back, 5), "after");
}

TEST_F(UsbHotPlug, AnotherR3ArrivingIsNotTakenForTheOneUnplugged) {
    Unplug("1-1", "lp0");
    DeliverNotices();
    ASSERT_EQ(port.deviceState(), -1);

    Plug("1-6", "lp5", "SN777");
    DeliverNotices();
    EXPECT_EQ(port.deviceState(), -1);
    EXPECT_EQ(port.devicePath(), "/dev/usb/lp0");
}

TEST_F(UsbHotPlug, AWriteCatchesUpWithNoticesNobodyDelivered) {
    Unplug("1-1", "lp0");
    Plug("1-1", "lp6", "SN123");  // umockdev cannot give a node back once removed
    const int back = bed.DeviceFd("/dev/usb/lp6");
    ASSERT_GE(back, 0);
    ASSERT_TRUE(WaitReadable(port.NotificationFd(), 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // No event loop ran: the write itself handles the pending notices first.
    EXPECT_EQ(WriteText(port, "later"), 5u);
    EXPECT_EQ(port.deviceState(), 1);
    EXPECT_EQ(Drain(back, 5), "later");
}

// Notices of a removal come while the system may still list the printer: that
// must not bring the port back to a printer that is going away.
TEST_F(UsbHotPlug, ARemovalNoticeAloneNeverReopensThePrinter) {
    bed.Uevent(testing::NodeSyspath("1-1", "lp0"), "remove");  // still listed
    DeliverNotices();
    EXPECT_EQ(port.deviceState(), -1);
    EXPECT_EQ(WriteText(port, "lost"), 0u);
    EXPECT_FALSE(port.WaitSent());
    EXPECT_NE(port.LastError().find("unplugged"), std::string::npos) << port.LastError();
}

TEST_F(UsbHotPlug, RemovalOfAnotherPrinterChangesNothing) {
    Unplug("1-2", "lp1");
    DeliverNotices();
    EXPECT_EQ(port.deviceState(), 1);
    EXPECT_EQ(WriteText(port, "still"), 5u);
    EXPECT_EQ(Drain(printer, 5), "still");
}

TEST_F(UsbHotPlug, CloseStopsWatching) {
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.NotificationFd(), -1);
    EXPECT_EQ(WriteText(port, "x"), 0u);
}

}  // namespace
}  // namespace tessaly
