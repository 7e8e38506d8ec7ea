#include "serial_port.h"

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
    switch (device_->QueryDsr()) {
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
    return device_->Write(data, count);
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
