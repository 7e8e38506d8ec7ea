#include "parallel_port.h"

#include <utility>

namespace tessaly {

ParallelPort::ParallelPort(std::unique_ptr<ParallelDevice> device) : device_(std::move(device)) {}

ParallelPort::~ParallelPort() {
    Close();
}

bool ParallelPort::Setup(const PortSettings& settings) {
    portName_ = settings.portName;
    timeouts_ = settings.timeouts;
    return !portName_.empty();
}

std::string ParallelPort::NotReadyReason(const ParallelStatus& status,
                                         const std::string& portName) {
    const std::string printer = "The printer on " + portName;
    if (!status.selected)
        return printer +
               " is off line: switch it on, press its ON LINE button and check the "
               "cable.";
    if (status.paperOut) return printer + " is out of paper: load paper and close the cover.";
    if (status.error)
        return printer +
               " reports an error: check the cover and the paper, then switch it off "
               "and on again.";
    if (status.busy) return printer + " is busy: wait until it has finished and try again.";
    return {};
}

bool ParallelPort::Open(int) {
    if (device_->IsOpen()) return isOpen_;
    lastError_.clear();
    if (!device_->Open(portName_)) {
        lastError_ = device_->LastError();
        return false;
    }
    const auto status = device_->QueryStatus();
    std::string reason;
    if (!status) {
        reason = device_->LastError();
        if (reason.empty())
            reason = "The status of the printer on " + portName_ +
                     " cannot be read: check that a printer is connected and switched on.";
    } else {
        reason = NotReadyReason(*status, portName_);
    }
    if (!reason.empty()) {
        device_->Close();
        lastError_ = std::move(reason);
        return false;
    }
    isOpen_ = true;
    return true;
}

std::uint32_t ParallelPort::Write(const std::uint8_t* data, std::uint32_t count) {
    if (!isOpen_ || data == nullptr || count == 0) return 0;
    const std::uint64_t total = timeouts_[4] + static_cast<std::uint64_t>(timeouts_[3]) * count;
    const WriteBounds bounds{static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX)),
                             kWriteStallMs};
    const std::uint32_t written = device_->Write(data, count, bounds);
    if (written != count) lastError_ = device_->LastError();
    return written;
}

std::uint32_t ParallelPort::Read(std::uint8_t* buffer, std::uint32_t count,
                                 std::uint32_t timeoutMs) {
    if (!isOpen_ || buffer == nullptr || count == 0) return 0;
    // Configured time-outs first; with no total limit configured the port would wait
    // for the whole count without end, so the caller's timeout bounds it instead.
    std::uint64_t total = timeouts_[2] + static_cast<std::uint64_t>(timeouts_[1]) * count;
    if (total == 0) total = timeoutMs;
    const ReadBounds bounds{static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX)),
                            timeouts_[0]};
    return device_->Read(buffer, count, bounds);
}

void ParallelPort::Close() {
    if (device_->IsOpen()) device_->Close();
    isOpen_ = false;
}

}  // namespace tessaly
