#include "simulated_port.h"

#include <gtest/gtest.h>

#include <vector>

#include "printer_port.h"

namespace tessaly::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kModelId{0x1D, 0x49, 0x01};
const Bytes kManufacturer{0x1D, 0x49, 0x42};

struct Fixture {
    explicit Fixture(PrinterConfig config = {}, PortType type = PortType::Serial)
        : engine(std::move(config)), port(engine, clock, type) {
        port.Setup({});
        port.Open(0);
    }
    std::uint32_t write(const Bytes& b) {
        return port.Write(b.data(), static_cast<std::uint32_t>(b.size()));
    }
    VirtualClock clock;
    R3Engine engine;
    SimulatedPort port;
};

TEST(SimulatedPortTiming, EmptySerialReadWaitsTheWholeTotalTimeout) {
    Fixture f;
    std::uint8_t buffer[16];
    EXPECT_EQ(f.port.Read(buffer, 1, 1000), 0u);
    EXPECT_EQ(f.clock.now(), 110);
    EXPECT_EQ(f.port.Read(buffer, 10, 1000), 0u);
    EXPECT_EQ(f.clock.now(), 110 + 200);
}

TEST(SimulatedPortTiming, ParallelWaitsLikeSerial) {
    Fixture f({}, PortType::Parallel);
    std::uint8_t buffer[4];
    EXPECT_EQ(f.port.Read(buffer, 4, 1000), 0u);
    EXPECT_EQ(f.clock.now(), 140);
}

TEST(SimulatedPortTiming, EmptyUsbReadWaitsItsTimeout) {
    Fixture f({}, PortType::Usb);
    std::uint8_t buffer[16];
    EXPECT_EQ(f.port.Read(buffer, 16, 1000), 0u);
    EXPECT_EQ(f.clock.now(), 1000);
}

TEST(SimulatedPortTiming, ReadyReplyReturnsWithoutWaiting) {
    Fixture f;
    f.write(kModelId);
    std::uint8_t byte = 0;
    EXPECT_EQ(f.port.Read(&byte, 1, 1000), 1u);
    EXPECT_EQ(byte, 0x20);
    EXPECT_EQ(f.clock.now(), 0);
}

TEST(SimulatedPortTiming, PartialSerialReadEndsAfterTheIntervalGap) {
    Fixture f;
    f.write(kManufacturer);  // 27 bytes ready at once
    std::uint8_t buffer[40] = {};
    EXPECT_EQ(f.port.Read(buffer, 40, 1000), 27u);
    EXPECT_EQ(f.clock.now(), 10) << "10 ms without a new byte ends the read";
    EXPECT_EQ(buffer[0], 0x5F);
    EXPECT_EQ(buffer[26], 0x00);
}

TEST(SimulatedPortTiming, SerialReadStopsAtAGapLongerThanTheInterval) {
    PrinterConfig config;
    config.replyByteGapUs = 15000;
    Fixture slow(config);
    slow.write(kManufacturer);
    std::uint8_t buffer[32] = {};
    EXPECT_EQ(slow.port.Read(buffer, 32, 1000), 1u);
    EXPECT_EQ(slow.clock.now(), 10);
    EXPECT_EQ(slow.port.Read(buffer, 32, 1000), 1u) << "the next byte follows 15 ms after";

    config.replyByteGapUs = 5000;
    Fixture paced(config);
    paced.write(kManufacturer);
    EXPECT_EQ(paced.port.Read(buffer, 32, 1000), 27u);
    EXPECT_EQ(paced.clock.now(), 26 * 5 + 10);
}

TEST(SimulatedPortTiming, LateReplyArrivesInsideTheWindowOrNot) {
    PrinterConfig config;
    config.fault = FaultMode::LateReplies;
    config.replyDelayMs = 50;
    Fixture f(config);
    f.write(kModelId);
    std::uint8_t byte = 0;
    EXPECT_EQ(f.port.Read(&byte, 1, 1000), 1u);
    EXPECT_EQ(f.clock.now(), 50);

    config.replyDelayMs = 500;
    Fixture slow(config);
    slow.write(kModelId);
    EXPECT_EQ(slow.port.Read(&byte, 1, 1000), 0u);
    EXPECT_EQ(slow.clock.now(), 110);
    slow.clock.sleep(390);
    EXPECT_EQ(slow.port.Read(&byte, 1, 1000), 1u) << "the byte is still there later";
}

TEST(SimulatedPortTiming, UsbReadReturnsAsSoonAsAReplyArrives) {
    PrinterConfig config;
    config.fault = FaultMode::LateReplies;
    config.replyDelayMs = 300;
    Fixture f(config, PortType::Usb);
    f.write(kManufacturer);
    std::uint8_t buffer[32] = {};
    EXPECT_EQ(f.port.Read(buffer, 32, 1000), 27u);
    EXPECT_EQ(f.clock.now(), 300);
}

TEST(SimulatedPortLink, DisconnectGivesAShortWriteThenNothing) {
    PrinterConfig config;
    config.fault = FaultMode::Disconnect;
    config.disconnectAfterBytes = 4;
    Fixture f(config);
    EXPECT_EQ(f.write(kModelId), 3u);
    EXPECT_EQ(f.write(kModelId), 1u);
    EXPECT_EQ(f.write(kModelId), 0u);
    EXPECT_FALSE(f.port.LastError().empty());
    std::uint8_t byte = 0;
    EXPECT_EQ(f.port.Read(&byte, 1, 1000), 0u);
}

// A printer that takes no data holds a write up to the link's own write
// time-out; a pause shorter than that only delays it.
TEST(SimulatedPortLink, StalledPrinterHoldsAWriteUpToItsTimeout) {
    PrinterConfig config;
    config.fault = FaultMode::PartialWrite;
    config.stallAfterBytes = 2;
    config.stallMs = 1000;
    Fixture shortPause(config);
    EXPECT_EQ(shortPause.write(kModelId), 3u);
    EXPECT_EQ(shortPause.clock.now(), 1000);

    config.stallMs = 60000;
    Fixture serial(config);
    EXPECT_EQ(serial.write(kModelId), 2u);
    EXPECT_EQ(serial.clock.now(), 3000 + 5 * 3) << "3000 ms + 5 ms per byte";
    EXPECT_FALSE(serial.port.LastError().empty());

    Fixture usb(config, PortType::Usb);
    EXPECT_EQ(usb.write(kModelId), 2u);
    EXPECT_EQ(usb.clock.now(), 5000) << "5000 ms without progress";
}

TEST(SimulatedPortLink, ClosedPortNeitherWritesNorReads) {
    Fixture f;
    f.port.Close();
    EXPECT_FALSE(f.port.IsOpen());
    EXPECT_EQ(f.write(kModelId), 0u);
    EXPECT_TRUE(f.engine.receivedLog().empty());
}

TEST(SimulatedPortLink, WrongBaudRateCorruptsTheExchangeWhenChecked) {
    PrinterConfig config;
    config.checkLineSettings = true;  // the printer runs at 19200 8N1
    Fixture f(config);
    PortSettings wrong;
    wrong.baudRate = 9600;
    ASSERT_TRUE(f.port.Setup(wrong));
    f.write(kModelId);
    std::uint8_t buffer[8] = {};
    const std::uint32_t n = f.port.Read(buffer, 8, 1000);
    EXPECT_FALSE(n == 1 && buffer[0] == 0x20);

    ASSERT_TRUE(f.port.Setup({}));  // 19200 8N1
    f.write(kModelId);
    EXPECT_EQ(f.port.Read(buffer, 1, 1000), 1u);
    EXPECT_EQ(buffer[0], 0x20);
}

TEST(SimulatedPortFactory, PrinterPortRunsOverTheSharedEngine) {
    VirtualClock clock;
    R3Engine engine;
    PrinterPort printer(MakeSimulatedPortFactory(engine, clock));
    PortSettings settings;
    settings.portName = "COM1";
    ASSERT_TRUE(printer.Setup(settings));
    ASSERT_TRUE(printer.Open(0));
    EXPECT_EQ(printer.Write(kModelId.data(), 3), 3u);
    std::uint8_t byte = 0;
    EXPECT_EQ(printer.Read(&byte, 1, 1000), 1u);
    EXPECT_EQ(byte, 0x20);
    EXPECT_EQ(engine.receivedLog(), kModelId);
}

TEST(SimulatedPortFactory, OpenFailureIsReported) {
    VirtualClock clock;
    R3Engine engine;
    auto factory = MakeSimulatedPortFactory(engine, clock, {.failSetup = false, .failOpen = true});
    auto port = factory(PortType::Usb);
    EXPECT_TRUE(port->Setup({}));
    EXPECT_FALSE(port->Open(0));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(port->LastError().empty());
}

}  // namespace
}  // namespace tessaly::sim
