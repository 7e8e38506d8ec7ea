#include "win32_serial_device.h"

namespace tessaly {

Win32SerialDevice::~Win32SerialDevice() {
    Close();
}

void Win32SerialDevice::Fail(const char* call, DWORD code) {
    lastError_ = "Setting up " + name_ + " failed (" + call + "): " + SystemMessage(code) +
                 ". Check that it is a serial port and that its driver works.";
}

bool Win32SerialDevice::Open(const std::string& name) {
    Close();
    name_ = name;
    lastError_.clear();
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        lastError_ = OpenFailureText(name, GetLastError());
        return false;
    }
    handle_.reset(handle);
    return true;
}

void Win32SerialDevice::ApplyLine(DCB& dcb, const LineSettings& line) {
    dcb.BaudRate = static_cast<DWORD>(line.baudRate);
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = static_cast<BYTE>(line.parity);
    dcb.StopBits = static_cast<BYTE>(line.stopBits);
    dcb.fParity = line.parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fNull = 0;
    const bool software = line.flowControl == 1;
    dcb.fOutX = software;
    dcb.fInX = software;
}

bool Win32SerialDevice::SetLine(const LineSettings& line) {
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    if (!GetCommState(handle_.get(), &dcb)) {
        Fail("GetCommState", GetLastError());
        return false;
    }
    ApplyLine(dcb, line);
    if (!SetCommState(handle_.get(), &dcb)) {
        const DWORD code = GetLastError();
        lastError_ = name_ + " does not accept " + std::to_string(line.baudRate) + " baud, " +
                     std::to_string(line.dataBits) + " data bits with the chosen parity, stop " +
                     "bits and flow control (" + SystemMessage(code) + "). Choose other settings.";
        return false;
    }
    return true;
}

DsrState Win32SerialDevice::QueryDsr() {
    DWORD status = 0;
    if (!GetCommModemStatus(handle_.get(), &status)) {
        lastError_ = "The modem signals of " + name_ + " cannot be read (" +
                     SystemMessage(GetLastError()) +
                     "), so it cannot tell whether a printer is switched on at its end. Use a "
                     "serial port with modem lines and a cable that carries DSR.";
        return DsrState::QueryFailed;
    }
    return (status & MS_DSR_ON) != 0 ? DsrState::On : DsrState::Off;
}

bool Win32SerialDevice::SetTimeouts(const SerialTimeouts& t) {
    COMMTIMEOUTS timeouts{t.readInterval, t.readTotalMultiplier, t.readTotalConstant,
                          t.writeTotalMultiplier, t.writeTotalConstant};
    if (!SetCommTimeouts(handle_.get(), &timeouts)) {
        Fail("SetCommTimeouts", GetLastError());
        return false;
    }
    return true;
}

bool Win32SerialDevice::Purge() {
    return PurgeComm(handle_.get(), kPurgeAll) != 0;
}

std::optional<std::uint32_t> Win32SerialDevice::PendingOutput() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_.get(), &errors, &status)) {
        lastError_ = "The output queue of " + name_ +
                     " cannot be read: " + SystemMessage(GetLastError()) + ".";
        return std::nullopt;
    }
    return status.cbOutQue;
}

std::uint32_t Win32SerialDevice::Write(const std::uint8_t* data, std::uint32_t count) {
    DWORD written = 0;
    if (!WriteFile(handle_.get(), data, count, &written, nullptr))
        lastError_ = "Writing to " + name_ + " failed: " + SystemMessage(GetLastError()) + ".";
    return written;
}

std::uint32_t Win32SerialDevice::Read(std::uint8_t* buffer, std::uint32_t count) {
    DWORD got = 0;
    if (!ReadFile(handle_.get(), buffer, count, &got, nullptr)) {
        lastError_ = "Reading from " + name_ + " failed: " + SystemMessage(GetLastError()) + ".";
        return 0;
    }
    return got;
}

void Win32SerialDevice::Close() {
    handle_.reset();
}

}  // namespace tessaly
