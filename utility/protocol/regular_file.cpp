#include "regular_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#endif

namespace tessaly {
namespace {

#ifdef _WIN32
using FileStatus = struct _stat64;
int StatPath(const std::string& path, FileStatus& st) {
    return _stat64(path.c_str(), &st);
}
int StatOpen(int fd, FileStatus& st) {
    return _fstat64(fd, &st);
}
constexpr int kOpenFlags = O_RDONLY | O_BINARY | O_NOINHERIT;
#else
using FileStatus = struct stat;
int StatPath(const std::string& path, FileStatus& st) {
    return ::stat(path.c_str(), &st);
}
int StatOpen(int fd, FileStatus& st) {
    return ::fstat(fd, &st);
}
// O_NONBLOCK: should the path have become a named pipe after the check, the
// open still returns at once, and the check on the descriptor refuses it.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
#endif

// Why a path that exists is not a file to read, or empty when it is one.
std::string NotARegularFile(const FileStatus& st) {
    const auto mode = st.st_mode;
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "it is a directory, not a file";
    if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
#ifdef S_ISSOCK
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
#endif
    return "it is not a regular file";
}

}  // namespace

RegularFile::~RegularFile() {
    Close();
}

void RegularFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool RegularFile::Open(const std::string& path) {
    Close();
    error_.clear();
    size_ = 0;
    // The path is looked at before it is opened, and the opened file once more.
    FileStatus st{};
    std::string why;
    if (StatPath(path, st) != 0) {
        why = std::strerror(errno);
    } else if (why = NotARegularFile(st); why.empty()) {
        fd_ = ::open(path.c_str(), kOpenFlags);
        if (fd_ < 0 || StatOpen(fd_, st) != 0) {
            why = std::strerror(errno);
        } else {
            why = NotARegularFile(st);
        }
    }
    if (!why.empty()) {
        Refuse(std::move(why));
        return false;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::string NotAFileToReplace(const std::string& path) {
    FileStatus st{};
    if (StatPath(path, st) != 0) return {};  // creating it says what is wrong, if anything
    return NotARegularFile(st);
}

void RegularFile::Refuse(std::string reason) {
    Close();
    error_ = std::move(reason);
}

std::int64_t RegularFile::Read(std::uint8_t* buffer, std::size_t count) {
    if (fd_ < 0) return -1;
    for (;;) {
        const auto n = ::read(fd_, buffer, static_cast<unsigned>(count));
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        error_ = std::strerror(errno);
        return -1;
    }
}

bool OpenLimitedFile(RegularFile& file, const std::string& path, std::uint64_t maxBytes,
                     const std::string& kind, const std::string& limit) {
    if (!file.Open(path)) return false;
    if (file.size() <= maxBytes) return true;
    file.Refuse(fmt::format("it holds {} bytes; {} may hold at most {}", file.size(), kind, limit));
    return false;
}

bool ReadLimitedFile(const std::string& path, std::uint64_t maxBytes, const std::string& kind,
                     const std::string& limit, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
    RegularFile file;
    if (!OpenLimitedFile(file, path, maxBytes, kind, limit)) {
        error = file.error();
        return false;
    }
    // The size checked at the open is what is read, whatever is added meanwhile.
    std::vector<std::uint8_t> read(static_cast<std::size_t>(file.size()));
    std::size_t got = 0;
    while (got < read.size()) {
        const std::int64_t n = file.Read(read.data() + got, read.size() - got);
        if (n < 0) {
            error = file.error();
            return false;
        }
        if (n == 0) break;  // it got shorter meanwhile
        got += static_cast<std::size_t>(n);
    }
    read.resize(got);
    bytes = std::move(read);
    return true;
}

bool OpenCommandFile(RegularFile& file, const std::string& path) {
    return OpenLimitedFile(file, path, kMaxCommandFileBytes, "a command file", kMaxCommandFileText);
}

bool ReadCommandFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
    return ReadLimitedFile(path, kMaxCommandFileBytes, "a command file", kMaxCommandFileText, bytes,
                           error);
}

std::string CommandFileProblem(const std::string& path, const std::string& reason) {
    return fmt::format("Can't read the command file \"{}\": {}.", path, reason);
}

}  // namespace tessaly
