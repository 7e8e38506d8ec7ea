#include "posix_usb_device.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fd_io.h"

namespace tessaly {

PosixUsbDevice::~PosixUsbDevice() {
    Close();
}

void PosixUsbDevice::SetErrno(const char* what, int error) {
    static constexpr NodeAdvice kAdvice{
        "USB printer", "is not there: check that it is plugged in and switched on.",
        "Install the udev rule 70-vantreel-r3.rules (cmake --install) and plug the printer in "
        "again, or add your user to the 'lp' group (sudo usermod -aG lp $USER) and log in again.",
        "Close it (or pause its print queue) and try again."};
    lastError_ = DescribeNodeError(kAdvice, path_, what, error);
}

bool PosixUsbDevice::Open(const std::string& node) {
    Close();
    lastError_.clear();
    path_ = node;
    const int fd = OpenExclusive(path_);
    if (fd < 0) {
        SetErrno("Opening", errno);
        return false;
    }
    fd_ = fd;
    return true;
}

std::uint32_t PosixUsbDevice::Write(const std::uint8_t* data, std::uint32_t count,
                                    const WriteBounds& bounds) {
    if (fd_ < 0) return 0;
    int error = 0;
    const std::uint32_t written = WriteBounded(fd_, data, count, bounds, &error);
    if (error != 0) SetErrno("Writing to", error);
    return written;
}

std::uint32_t PosixUsbDevice::Read(std::uint8_t* buffer, std::uint32_t count,
                                   const ReadBounds& bounds) {
    if (fd_ < 0) return 0;
    int error = 0;
    const std::uint32_t got = ReadBounded(fd_, buffer, count, bounds, &error);
    if (error != 0) SetErrno("Reading from", error);
    return got;
}

void PosixUsbDevice::Close() {
    if (fd_ < 0) return;
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tessaly
