#include "printer_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tessaly {
namespace {

// Records what the facade hands to the concrete port.
struct Journal {
    std::vector<std::string> calls;
    std::string setupName;
    int closes = 0;
    bool open = false;
};

class RecordingPort final : public ConcretePort {
  public:
    explicit RecordingPort(Journal& j) : j_(j) {}
    bool Setup(const PortSettings& s) override {
        j_.setupName = s.portName;
        return true;
    }
    bool Open(int) override { return j_.open = true; }
    std::uint32_t Write(const std::uint8_t*, std::uint32_t count) override {
        j_.calls.push_back("write");
        return count;
    }
    std::uint32_t Read(std::uint8_t*, std::uint32_t, std::uint32_t) override {
        j_.calls.push_back("read");
        return 0;
    }
    void Close() override {
        ++j_.closes;
        j_.open = false;
    }
    bool IsOpen() const override { return j_.open; }

  private:
    Journal& j_;
};

struct Facade : ::testing::Test {
    Journal journal;
    std::vector<PortType> created;
    PrinterPort port{[this](PortType t) {
        created.push_back(t);
        return std::make_unique<RecordingPort>(journal);
    }};

    bool SetupName(const std::string& name) {
        PortSettings s;
        s.portName = name;
        return port.Setup(s);
    }
};

TEST_F(Facade, WindowsNamesSelectTheirPortTypesCaseSensitively) {
    for (const char* name : {"COM1", "COM9", "\\\\.\\COM10", "\\\\.\\COM14"}) {
        ASSERT_TRUE(SetupName(name)) << name;
        EXPECT_EQ(port.type(), PortType::Serial) << name;
        EXPECT_EQ(journal.setupName, name) << "the name reaches the serial port unchanged";
    }
    for (const char* name : {"LPT1", "LPT3"}) {
        ASSERT_TRUE(SetupName(name));
        EXPECT_EQ(port.type(), PortType::Parallel);
    }
    for (const char* name : {"com1", "", "USBPORT:\\\\?\\usb#vid_2e9b", "lpt1", "/tmp"}) {
        EXPECT_FALSE(SetupName(name)) << name;
        EXPECT_FALSE(port.HasPort()) << name;
    }
}

TEST_F(Facade, UsbNameLosesItsFourCharacterPrefix) {
    ASSERT_TRUE(SetupName("R-3:/dev/usb/lp0"));
    EXPECT_EQ(port.type(), PortType::Usb);
    EXPECT_EQ(journal.setupName, "/dev/usb/lp0");
    // "R-3" may stand anywhere; the first four characters are dropped regardless.
    ASSERT_TRUE(SetupName("\\\\?\\usb#R-3#x"));
    EXPECT_EQ(journal.setupName, "usb#R-3#x");
}

TEST_F(Facade, LinuxDevicePathsSelectByDeviceKind) {
    EXPECT_EQ(ChoosePort("/dev/ttyS0")->type, PortType::Serial);
    EXPECT_EQ(ChoosePort("/dev/ttyUSB3")->type, PortType::Serial);
    EXPECT_EQ(ChoosePort("/dev/pts/7")->type, PortType::Serial);
    EXPECT_EQ(ChoosePort("/dev/lp0")->type, PortType::Parallel);
    EXPECT_EQ(ChoosePort("/dev/usb/lp1")->type, PortType::Usb);
    EXPECT_FALSE(ChoosePort("/dev/tty").has_value()) << "the controlling terminal is no printer";
    EXPECT_FALSE(ChoosePort("/dev/null").has_value());
    EXPECT_FALSE(ChoosePort("/dev/sda").has_value());
}

TEST_F(Facade, SymbolicLinkToATerminalSelectsSerial) {
    char dir[] = "/tmp/ppXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::filesystem::path link = std::filesystem::path(dir) / "printer";
    std::filesystem::create_symlink("/dev/ttyS0", link);
    auto choice = ChoosePort(link.string());
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->type, PortType::Serial);
    EXPECT_EQ(choice->device, link.string()) << "the link itself is opened";
    std::filesystem::remove_all(dir);
}

TEST_F(Facade, CallsWithoutPortOrDataDoNothing) {
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(port.Write(buffer, 4), 0u);
    EXPECT_EQ(port.Read(buffer, 4, 1000), 0u);
    EXPECT_FALSE(port.Open(0));
    ASSERT_TRUE(SetupName("COM1"));
    ASSERT_TRUE(port.Open(0));
    EXPECT_EQ(port.Write(buffer, 0), 0u);
    EXPECT_EQ(port.Write(nullptr, 4), 0u);
    EXPECT_EQ(port.Read(nullptr, 4, 1000), 0u);
    EXPECT_TRUE(journal.calls.empty()) << "nothing reached the device";
    EXPECT_EQ(port.Write(buffer, 4), 4u);
}

TEST_F(Facade, NewSetupClosesTheOpenPortFirst) {
    ASSERT_TRUE(SetupName("COM1"));
    ASSERT_TRUE(port.Open(0));
    ASSERT_TRUE(SetupName("COM2"));
    EXPECT_EQ(journal.closes, 1);
    EXPECT_FALSE(journal.open);
    port.Close();
    EXPECT_FALSE(port.HasPort());
    EXPECT_EQ(created.size(), 2u);
}

}  // namespace
}  // namespace tessaly
