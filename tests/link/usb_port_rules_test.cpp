// The USB port's own rules against a device that behaves as a USB printer class driver does:
// a read takes the printer's next packet whole and fails, losing the packet, when its buffer
// is smaller; and a watcher that delivers notices on a thread of its own.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "usb_port.h"

namespace tessaly {
namespace {

class PacketDevice final : public UsbDevice {
  public:
    struct State {
        std::deque<std::vector<std::uint8_t>> packets;
        std::vector<std::uint32_t> readSizes;
        bool open = false;
        bool present = true;
        int opens = 0;
    };
    explicit PacketDevice(State& state) : state_(state) {}

    bool Open(const std::string&) override {
        if (!state_.present) return false;
        state_.open = true;
        ++state_.opens;
        return true;
    }
    std::uint32_t Write(const std::uint8_t*, std::uint32_t count, const WriteBounds&) override {
        return state_.open ? count : 0;
    }
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, const ReadBounds&) override {
        if (!state_.open) return 0;
        state_.readSizes.push_back(count);
        if (state_.packets.empty()) return 0;
        const std::vector<std::uint8_t> packet = state_.packets.front();
        state_.packets.pop_front();
        if (packet.size() > count) return 0;  // overflow: the packet is lost
        std::copy(packet.begin(), packet.end(), buffer);
        return static_cast<std::uint32_t>(packet.size());
    }
    void Close() override { state_.open = false; }
    bool IsOpen() const override { return state_.open; }
    std::string LastError() const override { return "gone"; }

  private:
    State& state_;
};

// Delivers each notice to the port's handler as it arrives, as a watcher with a thread of
// its own does.
class NotifyingWatcher final : public UsbWatcher {
  public:
    bool Start() override { return true; }
    void Stop() override {}
    int Fd() const override { return -1; }
    std::vector<UsbEvent> TakeEvents() override {
        std::vector<UsbEvent> taken;
        taken.swap(events_);
        return taken;
    }
    std::optional<UsbIdentity> IdentityOf(const std::string&) override { return std::nullopt; }
    std::optional<std::string> FindNode(const UsbIdentity&) override { return std::nullopt; }
    std::string LastError() const override { return {}; }
    void SetNoticeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

    void Notice(UsbEvent::Action action) {
        events_.push_back(UsbEvent{action, "usb#printer", std::nullopt});
        if (handler_) handler_();
    }

  private:
    std::vector<UsbEvent> events_;
    std::function<void()> handler_;
};

struct UsbPortRules : ::testing::Test {
    void SetUp() override {
        auto watcherOwned = std::make_unique<NotifyingWatcher>();
        watcher = watcherOwned.get();
        port = std::make_unique<UsbPort>(std::make_unique<PacketDevice>(device),
                                         std::move(watcherOwned));
        PortSettings settings;
        settings.portName = "usb#printer";
        ASSERT_TRUE(port->Setup(settings));
        ASSERT_TRUE(port->Open(0));
    }

    PacketDevice::State device;
    NotifyingWatcher* watcher = nullptr;
    std::unique_ptr<UsbPort> port;
};

TEST_F(UsbPortRules, EveryReadAsksForTheWholeReplyAtOnce) {
    const std::vector<std::uint8_t> reply(16, 0x5F);
    device.packets.push_back(reply);
    std::uint8_t buffer[16] = {};
    ASSERT_EQ(port->Read(buffer, 16, 200), 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 16), reply);
    EXPECT_EQ(device.readSizes.front(), 16u);

    // A reply in two packets: the second read asks for the rest.
    device.readSizes.clear();
    device.packets = {std::vector<std::uint8_t>(8, 1), std::vector<std::uint8_t>(8, 2)};
    ASSERT_EQ(port->Read(buffer, 16, 200), 16u);
    EXPECT_EQ(device.readSizes, (std::vector<std::uint32_t>{16, 8}));
    EXPECT_EQ(buffer[15], 2);

    // A shorter reply is returned as it is.
    device.packets = {std::vector<std::uint8_t>{0x20, 0x00, 0x01}};
    EXPECT_EQ(port->Read(buffer, 16, 200), 3u);
}

TEST_F(UsbPortRules, NoticesAreActedOnWhenTheyArriveNotAtTheNextReadOrWrite) {
    watcher->Notice(UsbEvent::Action::Removed);
    EXPECT_FALSE(device.open);
    EXPECT_EQ(port->deviceState(), -1);
    EXPECT_EQ(device.opens, 1);  // not looked for again in the same notice

    // Another notice while the printer is still away changes nothing.
    device.present = false;
    watcher->Notice(UsbEvent::Action::Added);
    EXPECT_EQ(port->deviceState(), -1);

    device.present = true;
    watcher->Notice(UsbEvent::Action::Added);
    EXPECT_TRUE(device.open);
    EXPECT_EQ(port->deviceState(), 1);
    const std::uint8_t init[] = {0x1B, 0x40};
    EXPECT_EQ(port->Write(init, 2), 2u);

    // Closed, the port no longer follows the printer.
    port->Close();
    watcher->Notice(UsbEvent::Action::Removed);
    EXPECT_FALSE(port->IsOpen());
}

}  // namespace
}  // namespace tessaly
