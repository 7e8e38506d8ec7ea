#include "posix_serial_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

namespace tessaly {
namespace {

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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

std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
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

std::string DescribeHolders(const std::string& devicePath) {
    const std::string target = ResolvedPath(devicePath);
    std::string holders;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return holders;
    const std::string self = std::to_string(getpid());
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        bool holds = false;
        while (dirent* fdEntry = readdir(fds)) {
            char link[PATH_MAX];
            const std::string fdPath = fdDir + "/" + fdEntry->d_name;
            const ssize_t n = readlink(fdPath.c_str(), link, sizeof link - 1);
            if (n > 0 && std::string(link, static_cast<size_t>(n)) == target) {
                holds = true;
                break;
            }
        }
        closedir(fds);
        if (!holds) continue;
        std::string comm;
        std::ifstream("/proc/" + pid + "/comm") >> comm;
        if (!holders.empty()) holders += ", ";
        holders += (comm.empty() ? std::string("unknown") : comm) + " (pid " + pid + ")";
    }
    closedir(proc);
    return holders;
}

PosixSerialDevice::~PosixSerialDevice() {
    Close();
}

void PosixSerialDevice::SetErrno(const char* what, int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            lastError_ = "The serial port " + path_ +
                         " does not exist. Check the port name and that the adapter is plugged in.";
            break;
        case EACCES:
        case EPERM:
            lastError_ = "Permission denied on " + path_ +
                         ". Add your user to the 'dialout' group (sudo usermod -aG dialout "
                         "$USER), then log in again.";
            break;
        case EBUSY:
        case EWOULDBLOCK: {
            const std::string holders = DescribeHolders(path_);
            lastError_ = "The serial port " + path_ + " is in use by " +
                         (holders.empty() ? std::string("another program") : holders) +
                         ". Close it and try again.";
            break;
        }
        default:
            lastError_ = std::string(what) + " " + path_ + " failed: " + std::strerror(error);
    }
}

bool PosixSerialDevice::Open(const std::string& name) {
    Close();
    lastError_.clear();
    path_ = DevicePath(name);
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetErrno("Opening", errno);
        return false;
    }
    if (!isatty(fd)) {
        ::close(fd);
        lastError_ = path_ + " is not a serial port.";
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
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

std::uint32_t PosixSerialDevice::Write(const std::uint8_t* data, std::uint32_t count) {
    if (fd_ < 0) return 0;
    const std::int64_t limit = timeouts_.writeTotalConstant +
                               static_cast<std::int64_t>(timeouts_.writeTotalMultiplier) * count;
    const std::int64_t deadline = NowMs() + limit;
    std::uint32_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd_, data + written, count - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            SetErrno("Writing to", errno);
            break;
        }
        const std::int64_t left = limit == 0 ? -1 : deadline - NowMs();
        if (limit != 0 && left <= 0) break;
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
    }
    return written;
}

std::uint32_t PosixSerialDevice::Read(std::uint8_t* buffer, std::uint32_t count) {
    if (fd_ < 0) return 0;
    const std::int64_t total = timeouts_.readTotalConstant +
                               static_cast<std::int64_t>(timeouts_.readTotalMultiplier) * count;
    const std::int64_t deadline = NowMs() + total;
    std::uint32_t got = 0;
    while (got < count) {
        std::int64_t wait = deadline - NowMs();
        if (got > 0 && timeouts_.readInterval != 0 && wait > timeouts_.readInterval)
            wait = timeouts_.readInterval;
        if (wait <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(wait));
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) break;             // total or interval time-out
        if (!(p.revents & POLLIN)) break;  // hang-up or error: nothing more will come
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return got;
}

void PosixSerialDevice::Close() {
    if (fd_ < 0) return;
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tessaly
