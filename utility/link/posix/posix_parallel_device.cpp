#include "posix_parallel_device.h"

#include <linux/lp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fd_io.h"

namespace tessaly {

std::string PosixParallelDevice::DevicePath(const std::string& name) {
    if (name.rfind("LPT", 0) != 0) return name;
    const std::string digits = name.substr(3);
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return name;
    const int number = std::stoi(digits);
    if (number < 1) return name;
    return "/dev/lp" + std::to_string(number - 1);
}

ParallelStatus PosixParallelDevice::DecodeStatus(int lpStatus) {
    ParallelStatus status;
    status.selected = (lpStatus & LP_PSELECD) != 0;
    status.busy = (lpStatus & LP_PBUSY) == 0;  // the driver reports the busy line inverted
    status.paperOut = (lpStatus & LP_POUTPA) != 0;
    status.error = (lpStatus & LP_PERRORP) == 0;  // the error line is active low
    return status;
}

PosixParallelDevice::~PosixParallelDevice() {
    Close();
}

void PosixParallelDevice::SetErrno(const char* what, int error) {
    static constexpr NodeAdvice kAdvice{
        "parallel port",
        "does not exist. Check the port name and that the lp driver is loaded (sudo modprobe lp).",
        "Add your user to the 'lp' group (sudo usermod -aG lp $USER), then log in again.",
        "Close it and try again."};
    lastError_ = DescribeNodeError(kAdvice, path_, what, error);
}

bool PosixParallelDevice::Open(const std::string& name) {
    Close();
    lastError_.clear();
    path_ = DevicePath(name);
    const int fd = OpenExclusive(path_);
    if (fd < 0) {
        SetErrno("Opening", errno);
        return false;
    }
    fd_ = fd;
    return true;
}

std::optional<ParallelStatus> PosixParallelDevice::QueryStatus() {
    int status = 0;
    if (ioctl(fd_, LPGETSTATUS, &status) != 0) {
        const int error = errno;
        lastError_ = "The status of the printer on " + path_ + " cannot be read (" +
                     std::strerror(error) +
                     "): check that it is a parallel port with a printer switched on.";
        return std::nullopt;
    }
    return DecodeStatus(status);
}

std::uint32_t PosixParallelDevice::Write(const std::uint8_t* data, std::uint32_t count,
                                         const WriteBounds& bounds) {
    if (fd_ < 0) return 0;
    int error = 0;
    const std::uint32_t written = WriteBounded(fd_, data, count, bounds, &error);
    if (error != 0) SetErrno("Writing to", error);
    return written;
}

std::uint32_t PosixParallelDevice::Read(std::uint8_t* buffer, std::uint32_t count,
                                        const ReadBounds& bounds) {
    if (fd_ < 0) return 0;
    int error = 0;
    const std::uint32_t got = ReadBounded(fd_, buffer, count, bounds, &error);
    if (error != 0) SetErrno("Reading from", error);
    return got;
}

void PosixParallelDevice::Close() {
    if (fd_ < 0) return;
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tessaly
