#include "serial_port.h"

#include <optional>
#include <utility>

namespace tessaly {

SerialPort::SerialPort(std::unique_ptr<SerialDevice> device, Clock& clock)
    : device_(std::move(device)), clock_(clock) {}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Setup(const PortSettings& settings) {
    portName_ = settings.portName;
    line_ = LineSettings{settings.baudRate, settings.dataBits, settings.stopBits, settings.parity,
                         settings.flowControl};
    return !portName_.empty();
}

void SerialPort::Fail(std::string why) {
    lastError_ = std::move(why);
    device_->Close();
    isOpen_ = false;
}

bool SerialPort::Open(int) {
    if (device_->IsOpen()) return isOpen_;
    lastError_.clear();
    const bool opened = device_->Open(portName_);
    clock_.sleep(kSettleAfterOpenMs);
    if (!opened) {
        lastError_ = device_->LastError();
        return false;
    }
    if (!device_->SetLine(line_)) {
        Fail(device_->LastError());
        return false;
    }
    const DsrState dsr = device_->QueryDsr();
    modemLines_ = dsr != DsrState::NoModemLines;
    switch (dsr) {
        case DsrState::On:
        case DsrState::NoModemLines:  // a pseudo-terminal cannot signal DSR
            break;
        case DsrState::Off:
            Fail("The printer on " + portName_ +
                 " does not signal DSR: check that it is switched on and that the cable is "
                 "connected.");
            return false;
        case DsrState::QueryFailed:
            Fail(device_->LastError());
            return false;
    }
    if (!device_->SetTimeouts(kFixedTimeouts)) {
        Fail(device_->LastError());
        return false;
    }
    device_->Purge();
    isOpen_ = true;
    return true;
}

std::uint32_t SerialPort::Write(const std::uint8_t* data, std::uint32_t count) {
    if (!isOpen_ || data == nullptr || count == 0) return 0;
    std::lock_guard lock(ioLock_);
    // The printer asks the host to stop sending by dropping DSR. Where the driver
    // does not honour that, each write waits for DSR within its own time limit.
    if (modemLines_ && !device_->HoldsOutputWhileDsrLow()) {
        const std::int64_t limit = kFixedTimeouts.writeTotalConstant +
                                   std::int64_t{kFixedTimeouts.writeTotalMultiplier} * count;
        if (!WaitForDsr(clock_.now() + limit)) return 0;
    }
    return device_->Write(data, count);
}

bool SerialPort::WaitForDsr(std::int64_t deadline) {
    for (;;) {
        switch (device_->QueryDsr()) {
            case DsrState::On:
            case DsrState::NoModemLines:
                return true;
            case DsrState::QueryFailed:
                lastError_ = device_->LastError();
                return false;
            case DsrState::Off:
                break;
        }
        if (clock_.now() >= deadline) {
            lastError_ = "The printer on " + portName_ +
                         " holds DSR off and takes no data: check that it is on line, has "
                         "paper and its cover is closed.";
            return false;
        }
        clock_.sleep(kPollMs);
    }
}

bool SerialPort::WaitSent() {
    if (!isOpen_) return false;
    std::lock_guard lock(ioLock_);
    std::optional<std::uint32_t> least;
    std::int64_t lastProgress = clock_.now();
    for (;;) {
        const auto pending = device_->PendingOutput();
        if (!pending) {
            lastError_ = device_->LastError();
            return false;
        }
        if (*pending == 0) return true;
        const std::int64_t now = clock_.now();
        if (!least || *pending < *least) {
            least = pending;
            lastProgress = now;
        } else if (now - lastProgress >= kFixedTimeouts.writeTotalConstant) {
            lastError_ = "The printer on " + portName_ + " did not take the last " +
                         std::to_string(*pending) +
                         " bytes: check that it is switched on, on line, and that the cable "
                         "carries its handshake lines.";
            return false;
        }
        clock_.sleep(kPollMs);
    }
}

std::uint32_t SerialPort::Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t) {
    if (!isOpen_ || buffer == nullptr || count == 0) return 0;
    std::lock_guard lock(ioLock_);
    return device_->Read(buffer, count);
}

void SerialPort::Close() {
    if (device_->IsOpen()) device_->Close();
    isOpen_ = false;
}

}  // namespace tessaly
