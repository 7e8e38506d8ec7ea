#include "posix_serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "fd_io.h"

namespace tessaly {
namespace {

std::optional<speed_t> BaudConstant(std::int32_t baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return std::nullopt;
    }
}

// UNIX 98 pseudo-terminal slaves use majors 136 to 143.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned int m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

}  // namespace

std::string PosixSerialDevice::DevicePath(const std::string& name) {
    std::string digits;
    if (name.rfind("\\\\.\\COM", 0) == 0)
        digits = name.substr(7);
    else if (name.rfind("COM", 0) == 0)
        digits = name.substr(3);
    else
        return name;
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return name;
    const int number = std::stoi(digits);
    if (number < 1) return name;
    return "/dev/ttyS" + std::to_string(number - 1);
}

PosixSerialDevice::~PosixSerialDevice() {
    Close();
}

void PosixSerialDevice::SetErrno(const char* what, int error) {
    static constexpr NodeAdvice kAdvice{
        "serial port", "does not exist. Check the port name and that the adapter is plugged in.",
        "Add your user to the 'dialout' group (sudo usermod -aG dialout $USER), then log in "
        "again.",
        "Close it and try again."};
    lastError_ = DescribeNodeError(kAdvice, path_, what, error);
}

bool PosixSerialDevice::Open(const std::string& name) {
    Close();
    lastError_.clear();
    hungUp_ = false;
    path_ = DevicePath(name);
    const int fd = OpenExclusive(path_);
    if (fd < 0) {
        SetErrno("Opening", errno);
        return false;
    }
    if (!isatty(fd)) {
        ::close(fd);
        lastError_ = path_ + " is not a serial port.";
        return false;
    }
    // The flock keeps out copies of this program, even run as root; TIOCEXCL
    // keeps out every other program that does not run as root.
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        SetErrno("Locking", error);
        return false;
    }
    fd_ = fd;
    return true;
}

bool PosixSerialDevice::SetLine(const LineSettings& line) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        SetErrno("Reading the line settings of", errno);
        return false;
    }
    const auto speed = BaudConstant(line.baudRate);
    if (!speed) {
        lastError_ = "The baud rate " + std::to_string(line.baudRate) + " is not supported.";
        return false;
    }
    if (line.dataBits != 7 && line.dataBits != 8) {
        lastError_ = "Only 7 or 8 data bits are supported.";
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_cflag |= (line.dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (line.parity == 1) tio.c_cflag |= PARENB | PARODD;
    if (line.parity == 2) tio.c_cflag |= PARENB;
    // Termios knows one or two stop bits; one and a half is sent as two.
    if (line.stopBits != 0) tio.c_cflag |= CSTOPB;
    // Output waits for CTS with either flow control; Xon/Xoff is added on top.
    tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (line.flowControl == 1) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        SetErrno("Programming the line settings of", errno);
        return false;
    }
    // Raise DTR and RTS; a line without modem signals ignores the request.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd_, TIOCMBIS, &lines);
    return true;
}

DsrState PosixSerialDevice::QueryDsr() {
    int status = 0;
    if (ioctl(fd_, TIOCMGET, &status) == 0)
        return (status & TIOCM_DSR) ? DsrState::On : DsrState::Off;
    const int error = errno;
    if (IsPseudoTerminal(fd_)) return DsrState::NoModemLines;
    SetErrno("Reading the modem status of", error);
    return DsrState::QueryFailed;
}

bool PosixSerialDevice::SetTimeouts(const SerialTimeouts& timeouts) {
    timeouts_ = timeouts;
    return true;
}

bool PosixSerialDevice::Purge() {
    return tcflush(fd_, TCIOFLUSH) == 0;
}

std::optional<std::uint32_t> PosixSerialDevice::PendingOutput() {
    int pending = 0;
    if (fd_ < 0 || ioctl(fd_, TIOCOUTQ, &pending) != 0) {
        SetErrno("Reading the output queue of", fd_ < 0 ? EBADF : errno);
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(pending < 0 ? 0 : pending);
}

std::uint32_t PosixSerialDevice::Write(const std::uint8_t* data, std::uint32_t count) {
    if (fd_ < 0) return 0;
    const WriteBounds bounds{timeouts_.writeTotalConstant + timeouts_.writeTotalMultiplier * count,
                             0};
    int error = 0;
    const std::uint32_t written = WriteBounded(fd_, data, count, bounds, &error);
    if (error != 0 && error != ETIMEDOUT) SetErrno("Writing to", error);
    if (written < count) NoteHangUp(error);
    return written;
}

std::uint32_t PosixSerialDevice::Read(std::uint8_t* buffer, std::uint32_t count) {
    if (fd_ < 0) return 0;
    const ReadBounds bounds{timeouts_.readTotalConstant + timeouts_.readTotalMultiplier * count,
                            timeouts_.readInterval};
    int error = 0;
    const std::uint32_t got = ReadBounded(fd_, buffer, count, bounds, &error);
    if (error != 0) SetErrno("Reading from", error);
    if (got < count) NoteHangUp(error);
    return got;
}

void PosixSerialDevice::NoteHangUp(int error) {
    // A USB adapter that was pulled out fails with EIO or ENODEV; a line whose far
    // end closed (a pseudo-terminal's master) reports POLLHUP and reads end of file.
    if (error == EIO || error == ENODEV || error == ENXIO) {
        hungUp_ = true;
        return;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0) hungUp_ = true;
}

void PosixSerialDevice::Close() {
    if (fd_ < 0) return;
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tessaly
