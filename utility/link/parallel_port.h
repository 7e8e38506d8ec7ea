#pragma once

#include <array>
#include <memory>

#include "concrete_port.h"
#include "parallel_device.h"

namespace tessaly {

// A printer on a parallel port. Opens the port exclusively and connects only when
// the printer reports itself selected, not busy, with paper and without error.
// Reads and writes follow the time-outs of the settings record, with limits of
// its own where those would let a call wait without end.
class ParallelPort final : public ConcretePort {
  public:
    // A write returns what the printer took once it has taken nothing for this long.
    static constexpr std::uint32_t kWriteStallMs = 5000;

    explicit ParallelPort(std::unique_ptr<ParallelDevice> device);
    ~ParallelPort() override;

    bool Setup(const PortSettings& settings) override;
    bool Open(int unused) override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) override;
    void Close() override;
    bool IsOpen() const override { return isOpen_; }
    std::string LastError() const override { return lastError_; }

    // Why a printer in this condition is not ready; empty when it is ready.
    static std::string NotReadyReason(const ParallelStatus& status, const std::string& portName);

  private:
    std::unique_ptr<ParallelDevice> device_;
    std::string portName_;
    std::array<std::uint32_t, 5> timeouts_{};
    bool isOpen_ = false;
    std::string lastError_;
};

}  // namespace tessaly
