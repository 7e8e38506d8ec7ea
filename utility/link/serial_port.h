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
    void Close() override;
    bool IsOpen() const override { return isOpen_; }
    std::string LastError() const override { return lastError_; }
    bool LineLost() const override { return device_->HungUp(); }

  private:
    void Fail(std::string why);

    std::unique_ptr<SerialDevice> device_;
    Clock& clock_;
    std::string portName_;
    LineSettings line_;
    bool isOpen_ = false;
    std::string lastError_;
    std::mutex ioLock_;
};

}  // namespace tessaly
