#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "concrete_port.h"
#include "notifier.h"
#include "printer_port.h"
#include "progress_sink.h"
#include "recording_notifier.h"
#include "status_view.h"

namespace tessaly::testing {

using Bytes = std::vector<std::uint8_t>;

template <typename Container>
Bytes ToBytes(const Container& c) {
    return Bytes(c.begin(), c.end());
}
inline Bytes TextBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Keeps the bar's position the way a progress control would and logs the calls.
struct RecordingProgress final : ProgressSink {
    int stepSize = 0;
    int position = 0;
    int steps = 0;
    std::vector<int> positions;  // every position set explicitly
    void setStep(int s) override { stepSize = s; }
    void step() override {
        ++steps;
        position += stepSize;
        if (position > 100) position = 100;
    }
    void setPosition(int p) override {
        position = p;
        positions.push_back(p);
    }
};

// Records what the status operations do to the dialog and its pages.
struct RecordingView final : StatusView {
    unsigned enabled = kGetButton | kLoadButton | kInitializeButton | kExitButton;
    std::vector<std::string> calls;
    BuyerChoice choice;
    bool codePageListEnabled = false;
    bool buyerListEnabled = false;
    int selectedBuyerSet = -1;
    PrinterIdentity identity;
    SerialConditions serial;
    // Called for refreshPages(true), so that tests can play the page's part.
    std::function<void()> onRefresh;

    void setButtonsEnabled(unsigned buttons, bool on) override {
        enabled = on ? (enabled | buttons) : (enabled & ~buttons);
        calls.push_back(std::string(on ? "enable " : "disable ") + std::to_string(buttons));
    }
    void refreshPages(bool on) override {
        calls.push_back(on ? "refresh on" : "refresh off");
        if (on && onRefresh) onRefresh();
    }
    void showIdentity(const PrinterIdentity& i) override {
        identity = i;
        calls.push_back("identity");
    }
    void showSerialConditions(const SerialConditions& s) override {
        serial = s;
        calls.push_back("serial");
    }
    void setCodePageListEnabled(bool on) override {
        codePageListEnabled = on;
        calls.push_back(on ? "codepage on" : "codepage off");
    }
    void setBuyerListEnabled(bool on) override {
        buyerListEnabled = on;
        calls.push_back(on ? "buyer on" : "buyer off");
    }
    void selectBuyerSet(int index) override {
        selectedBuyerSet = index;
        choice.listIndex = index;
        calls.push_back("select buyer " + std::to_string(index));
    }
    BuyerChoice buyerChoice() const override { return choice; }
    void repaint() override { calls.push_back("repaint"); }
};

// A port whose printer is a script: each write may queue reply bytes, reads take
// what is queued and, when nothing is, let the full time-out pass on the clock.
class ScriptedPort {
  public:
    explicit ScriptedPort(Clock& clock) : clock_(clock) {}

    std::vector<Bytes> writes;
    std::deque<std::uint8_t> input;
    std::function<void(const Bytes&)> onWrite;
    // Number of bytes a write reports; by default all of them.
    std::function<std::uint32_t(const Bytes&, std::size_t writeIndex)> writeResult;
    // Whether the bytes written so far left the computer; by default they did.
    std::function<bool()> sent;
    std::size_t reads = 0;

    void Queue(const Bytes& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

    Bytes Wire() const {
        Bytes all;
        for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
        return all;
    }

    PortFactory Factory() {
        return [this](PortType) { return std::make_unique<Forwarder>(*this); };
    }

  private:
    struct Forwarder final : ConcretePort {
        explicit Forwarder(ScriptedPort& p) : port(p) {}
        ScriptedPort& port;
        bool open = false;
        bool Setup(const PortSettings&) override { return true; }
        bool Open(int) override { return open = true; }
        std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override {
            Bytes bytes(data, data + count);
            port.writes.push_back(bytes);
            const std::uint32_t n =
                port.writeResult ? port.writeResult(bytes, port.writes.size() - 1) : count;
            if (port.onWrite) port.onWrite(bytes);
            return n;
        }
        std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t timeoutMs) override {
            ++port.reads;
            std::uint32_t n = 0;
            while (n < count && !port.input.empty()) {
                buffer[n++] = port.input.front();
                port.input.pop_front();
            }
            port.clock_.sleep(n == 0 ? timeoutMs : 1);
            return n;
        }
        bool WaitSent() override { return open && (!port.sent || port.sent()); }
        void Close() override { open = false; }
        bool IsOpen() const override { return open; }
    };

    Clock& clock_;
};

}  // namespace tessaly::testing
