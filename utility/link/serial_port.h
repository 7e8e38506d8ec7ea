#pragma once

#include <memory>
#include <mutex>

#include "clock.h"
#include "concrete_port.h"
#include "serial_device.h"

namespace tessaly {

// A printer on a serial line. Opens the line exclusively, programs it, refuses a
// line on which the printer does not assert DSR, and reads and writes under fixed
// time-outs whatever the settings record carries.
class SerialPort final : public ConcretePort {
  public:
    static constexpr SerialTimeouts kFixedTimeouts{10, 10, 100, 5, 3000};
    static constexpr std::uint32_t kSettleAfterOpenMs = 100;

    SerialPort(std::unique_ptr<SerialDevice> device, Clock& clock);
    ~SerialPort() override;

    bool Setup(const PortSettings& settings) override;
    bool Open(int unused) override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) override;
    // Waits until the line's output queue is empty; false when it stopped
    // shrinking for writeTotalConstant ms (a printer holding its handshake off).
    bool WaitSent() override;
    void Close() override;
    bool IsOpen() const override { return isOpen_; }
    std::string LastError() const override { return lastError_; }
    bool LineLost() const override { return device_->HungUp(); }

    // How often DSR and the output queue are looked at while waiting for them.
    static constexpr std::uint32_t kPollMs = 10;

  private:
    void Fail(std::string why);
    // Output flow on DSR where the driver has none: waits while DSR is low, until
    // deadline (clock time). False, with the reason, when it stayed low.
    bool WaitForDsr(std::int64_t deadline);

    std::unique_ptr<SerialDevice> device_;
    Clock& clock_;
    std::string portName_;
    LineSettings line_;
    bool isOpen_ = false;
    bool modemLines_ = true;  // false on a pseudo-terminal: no DSR to wait for
    std::string lastError_;
    std::mutex ioLock_;
};

}  // namespace tessaly
