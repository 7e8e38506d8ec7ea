#include "fd_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace tessaly {
namespace {

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Pause after a driver said "ready" but then "would block", so such a driver is
// polled every few milliseconds instead of in a busy loop.
constexpr std::int64_t kRetryPauseMs = 5;

void PauseUpTo(std::int64_t leftMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kRetryPauseMs, leftMs)));
}

}  // namespace

std::uint32_t ReadBounded(int fd, std::uint8_t* buffer, std::uint32_t count,
                          const ReadBounds& bounds, int* error) {
    *error = 0;
    const std::int64_t deadline = NowMs() + bounds.totalMs;
    std::int64_t lastByte = 0;
    std::uint32_t got = 0;
    while (got < count) {
        const std::int64_t now = NowMs();
        std::int64_t wait = deadline - now;
        if (got > 0 && bounds.intervalMs != 0)
            wait = std::min<std::int64_t>(wait, lastByte + bounds.intervalMs - now);
        if (wait < 0) break;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(wait));
        if (ready < 0) {
            if (errno == EINTR) continue;
            *error = errno;
            break;
        }
        if (ready == 0) {
            if (wait == 0) break;
            continue;  // the loop head sees the limit has passed
        }
        if (p.revents & POLLNVAL) {
            *error = EBADF;
            break;
        }
        const ssize_t n = ::read(fd, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            lastByte = NowMs();
        } else if (n == 0) {
            break;  // end of file: the other side went away
        } else if (errno == EAGAIN || errno == EINTR) {
            if (p.revents & (POLLHUP | POLLERR)) break;
            if (wait == 0) break;
            PauseUpTo(wait);
        } else {
            *error = errno;
            break;
        }
    }
    return got;
}

std::uint32_t WriteBounded(int fd, const std::uint8_t* data, std::uint32_t count,
                           const WriteBounds& bounds, int* error) {
    *error = 0;
    const std::int64_t start = NowMs();
    std::int64_t lastProgress = start;
    std::uint32_t written = 0;
    bool pollSaidReady = false;
    while (written < count) {
        const ssize_t n = ::write(fd, data + written, count - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            lastProgress = NowMs();
            pollSaidReady = false;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            *error = errno;
            break;
        }
        const std::int64_t now = NowMs();
        std::int64_t wait = -1;
        if (bounds.totalMs != 0) wait = start + bounds.totalMs - now;
        if (bounds.stallMs != 0) {
            const std::int64_t stallLeft = lastProgress + bounds.stallMs - now;
            wait = wait < 0 ? stallLeft : std::min(wait, stallLeft);
        }
        if (bounds.totalMs != 0 || bounds.stallMs != 0) {
            if (wait <= 0) {
                *error = ETIMEDOUT;
                break;
            }
        }
        // A driver without poll support (lp) reports ready at once and then
        // refuses the write again; do not spin on it.
        if (pollSaidReady) PauseUpTo(wait < 0 ? kRetryPauseMs : wait);
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) {
            *error = errno;
            break;
        }
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            *error = EIO;
            break;
        }
        pollSaidReady = ready > 0;
    }
    return written;
}

int OpenExclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

std::string DescribeNodeHolders(const std::string& path) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) return {};
    const auto same = [&node](const struct stat& other) {
        if (S_ISCHR(node.st_mode)) return S_ISCHR(other.st_mode) && other.st_rdev == node.st_rdev;
        return other.st_dev == node.st_dev && other.st_ino == node.st_ino;
    };
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
            struct stat open {};
            if (fdEntry->d_name[0] != '.' &&
                stat((fdDir + "/" + fdEntry->d_name).c_str(), &open) == 0 && same(open)) {
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

std::string DescribeNodeError(const NodeAdvice& advice, const std::string& path, const char* what,
                              int error) {
    const std::string node = std::string("The ") + advice.kind + " " + path;
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return node + " " + advice.missing;
        case EACCES:
        case EPERM:
            return "Permission denied on " + path + ". " + advice.permission;
        case EBUSY:
        case EWOULDBLOCK: {
            const std::string holders = DescribeNodeHolders(path);
            return node + " is in use by " + (holders.empty() ? "another program" : holders) +
                   ". " + advice.busy;
        }
        case ETIMEDOUT:
            return "The printer on " + path +
                   " stopped taking data: check that it is on line and has paper.";
        default:
            return std::string(what) + " " + path + " failed: " + std::strerror(error);
    }
}

void NodeFile::Fail(const char* what, int error) {
    lastError_ = DescribeNodeError(advice_, path_, what, error);
}

bool NodeFile::Open(const std::string& path) {
    Close();
    lastError_.clear();
    path_ = path;
    fd_ = OpenExclusive(path_);
    if (fd_ < 0) Fail("Opening", errno);
    return fd_ >= 0;
}

std::uint32_t NodeFile::Write(const std::uint8_t* data, std::uint32_t count,
                              const WriteBounds& bounds) {
    if (fd_ < 0) return 0;
    int error = 0;
    const std::uint32_t written = WriteBounded(fd_, data, count, bounds, &error);
    if (error != 0) Fail("Writing to", error);
    return written;
}

std::uint32_t NodeFile::Read(std::uint8_t* buffer, std::uint32_t count, const ReadBounds& bounds) {
    if (fd_ < 0) return 0;
    int error = 0;
    const std::uint32_t got = ReadBounded(fd_, buffer, count, bounds, &error);
    if (error != 0) Fail("Reading from", error);
    return got;
}

bool NodeFile::WaitWritable(std::uint32_t timeoutMs) {
    if (fd_ < 0) return false;
    const std::int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = std::max<std::int64_t>(0, deadline - NowMs());
        pollfd p{fd_, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            Fail("Writing to", errno);
            return false;
        }
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            Fail("Writing to", EIO);
            return false;
        }
        if (ready > 0) return true;
        Fail("Writing to", ETIMEDOUT);
        return false;
    }
}

void NodeFile::Close() {
    if (fd_ < 0) return;
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tessaly
