// The utility reads most answers with fixed byte counts, so an answer one byte too
// long or too short shifts every later exchange. These tests run the utility's
// documented read patterns against the virtual printer and check that each answer
// is used up exactly, on serial-style links and on USB.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "simulated_port.h"

namespace tessaly::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kInit{0x1B, 0x40};
const Bytes kSelect{0x1B, 0x3D, 0x01};
const Bytes kNoStatusBack{0x1D, 0x61, 0x00};
const Bytes kModel{0x1D, 0x49, 0x01};
const Bytes kFirmware{0x1D, 0x49, 0x41};
const Bytes kName{0x1D, 0x49, 0x43};
const Bytes kSuffix{0x1D, 0x28, 0x45, 0x02, 0x00, 0x0C, 0x08};
const Bytes kEnterSetup{0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E};
const Bytes kLeaveSetup{0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54};

Bytes ReadSwitch(int n) {
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, static_cast<std::uint8_t>(n)};
}
Bytes Condition(int a) {
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x0C, static_cast<std::uint8_t>(a)};
}
Bytes WriteSwitch(int n, const std::string& chars) {
    Bytes b{0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, static_cast<std::uint8_t>(n)};
    b.insert(b.end(), chars.begin(), chars.end());
    return b;
}

// The utility's side, reduced to its writes, waits and reads.
class Utility {
  public:
    Utility(PrinterConfig config, PortType type)
        : engine_(std::move(config)), port_(engine_, clock_, type), usb_(type == PortType::Usb) {
        port_.Open(0);
    }

    void write(const Bytes& b) { port_.Write(b.data(), static_cast<std::uint32_t>(b.size())); }
    void wait(std::uint32_t ms) { clock_.sleep(ms); }
    std::uint32_t read(std::uint32_t n, std::size_t at = 0) {
        return port_.Read(buffer_.data() + at, n, 1000);
    }
    void clear() { buffer_.fill(0); }
    std::string bufferText(std::size_t from) const {
        return std::string(reinterpret_cast<const char*>(buffer_.data() + from));
    }
    std::uint8_t at(std::size_t i) const { return buffer_[i]; }

    // Wait 200 ms, read 16 bytes, once more if nothing came.
    void usbRead() {
        wait(200);
        if (read(16) == 0) read(16);
    }
    // Byte links: single-byte reads up to the NUL, dropping '_'; bounded here.
    std::string textUntilNul() {
        std::string text;
        wait(100);
        for (int i = 0; i < 64; ++i) {
            std::uint8_t byte = 0;
            if (port_.Read(&byte, 1, 1000) == 0 || byte == 0) break;
            if (byte != '_') text.push_back(static_cast<char>(byte));
        }
        return text;
    }
    // Whatever is still waiting in the link.
    std::uint32_t leftover() {
        std::uint8_t sink[256];
        return port_.Read(sink, sizeof sink, 1000);
    }
    bool usb() const { return usb_; }
    R3Engine& engine() { return engine_; }

  private:
    VirtualClock clock_;
    R3Engine engine_;
    SimulatedPort port_;
    bool usb_;
    std::array<std::uint8_t, 64> buffer_{};
};

std::string QueryFirmware(Utility& u) {
    u.write(kFirmware);
    u.clear();
    if (u.usb()) {
        u.usbRead();
        return u.bufferText(1);
    }
    return u.textUntilNul();
}

std::string QuerySuffix(Utility& u) {
    u.write(kSuffix);
    u.clear();
    if (u.usb()) {
        u.usbRead();
        return u.bufferText(4);
    }
    u.wait(100);
    for (int i = 0; i < 5; ++i) u.read(1);
    for (std::size_t i = 1; i <= 4; ++i) u.read(1, i);
    return u.bufferText(0);
}

std::string QuerySwitch(Utility& u, int n) {
    u.write(ReadSwitch(n));
    u.clear();
    if (u.usb()) {
        u.usbRead();
        return std::string(reinterpret_cast<const char*>(&u.bufferText(0)[2]), 8);
    }
    u.wait(100);
    u.read(1);
    EXPECT_EQ(u.at(0), 0x37);
    u.read(10);
    return u.bufferText(1).substr(0, 8);
}

std::string QueryCondition(Utility& u, int a) {
    u.write(Condition(a));
    u.clear();
    if (u.usb()) {
        u.usbRead();
        return u.bufferText(4);
    }
    u.wait(100);
    for (int i = 0; i < 5; ++i) u.read(1);
    for (std::size_t i = 1; i <= (a == 1 ? 6u : 2u); ++i) u.read(1, i);
    return u.bufferText(0);
}

class UtilityExchange : public ::testing::TestWithParam<PortType> {};

TEST_P(UtilityExchange, GetStatusUsesUpEveryAnswer) {
    PrinterConfig config;
    config.versionSuffix = "B312";
    config.switches[1] = 0x2B;
    config.serial.baud = "115200";
    Utility u(config, GetParam());
    u.write(kInit);
    u.write(kSelect);
    EXPECT_EQ(QueryFirmware(u), "VT04.20 R-3");
    EXPECT_EQ(QuerySuffix(u), "B312");
    u.write(kName);
    u.clear();
    if (u.usb()) {
        u.usbRead();
        EXPECT_EQ(u.bufferText(1), "Vantreel R-3");
    } else {
        EXPECT_EQ(u.textUntilNul(), "Vantreel R-3");
    }
    u.write(kNoStatusBack);
    u.write(kModel);
    u.clear();
    if (u.usb())
        u.usbRead();
    else {
        u.wait(100);
        u.read(1);
    }
    EXPECT_EQ(u.at(0), 0x20);
    EXPECT_EQ(QuerySwitch(u, 2), "00101011");
    for (int n : {8, 9, 1, 10, 11, 12}) QuerySwitch(u, n);
    EXPECT_EQ(QueryCondition(u, 1), "115200");
    EXPECT_EQ(QueryCondition(u, 2), "0");
    EXPECT_EQ(QueryCondition(u, 3), "0");
    EXPECT_EQ(QueryCondition(u, 4), "8");
    EXPECT_EQ(u.leftover(), 0u);
}

TEST_P(UtilityExchange, SetStatusLeavesNothingForTheFirmwareQueryAfterIt) {
    Utility u({}, GetParam());
    u.write(kEnterSetup);
    u.clear();
    if (u.usb()) {
        u.usbRead();
    } else {
        u.wait(100);
        u.read(3);
    }
    EXPECT_EQ(u.at(0), 0x37);
    for (int n : {12, 1, 2, 8, 9, 10, 11}) {
        u.write(WriteSwitch(n, n == 1 ? "22210222" : "00000011"));
        if (!u.usb()) {
            u.wait(100);
            u.read(3);
        }
    }
    u.write(kLeaveSetup);
    u.wait(100);
    if (u.usb()) {
        // Nothing reads the answers to the seven writes and OUT on USB as they
        // come; they wait in the link for the utility to read them away.
        EXPECT_EQ(u.leftover(), 8u * 3u);
    } else {
        u.wait(100);
        u.read(3);
        EXPECT_EQ(u.at(0), 0x37);
    }
    u.write(kSelect);
    u.wait(2000);
    EXPECT_EQ(QueryFirmware(u), "VT04.20 R-3");
    EXPECT_EQ(u.engine().memorySwitch(12), 0x03);
    EXPECT_EQ(u.engine().memorySwitch(1), 0x10);  // bit 5 set, bit 4 cleared
}

std::string LinkName(const ::testing::TestParamInfo<PortType>& param) {
    switch (param.param) {
        case PortType::Usb:
            return "Usb";
        case PortType::Parallel:
            return "Parallel";
        default:
            return "Serial";
    }
}

INSTANTIATE_TEST_SUITE_P(Links, UtilityExchange,
                         ::testing::Values(PortType::Serial, PortType::Parallel, PortType::Usb),
                         LinkName);

TEST(UtilityExchangeSuffix, FiveCharacterSuffixLeavesItsNulForTheNextRead) {
    Utility u({}, PortType::Serial);  // default suffix "B0312"
    EXPECT_EQ(QuerySuffix(u), "B0312");
    EXPECT_EQ(u.read(1), 1u);
    EXPECT_EQ(u.at(0), 0x00) << "a reader must consume this NUL before the name query";
    EXPECT_EQ(u.leftover(), 0u);
}

}  // namespace
}  // namespace tessaly::sim
