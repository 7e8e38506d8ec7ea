#include "status_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "regular_file.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace tessaly {
namespace {

#ifdef _WIN32
// The descriptor calls of the C run-time, in binary mode (a status file is raw
// bytes), with the POSIX calls it lacks. rename() there refuses an existing
// target, so the finished file replaces the old one through MoveFileExA.
constexpr int O_CLOEXEC = O_BINARY | O_NOINHERIT;
int fchmod(int, unsigned) {
    return 0;  // Windows keeps no permission bits to carry over
}
int fsync(int fd) {
    return ::_commit(fd);
}
int rename(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    errno = EACCES;
    return -1;
}
#endif

std::string SystemReason(int error) {
    return std::strerror(error);
}

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close (the last chance for a delayed
    // write error) succeeded.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string TemporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return fmt::format("{}.tmp-{}-{}", path, ::getpid(), counter++);
}

}  // namespace

bool HasStatusFileName(std::string_view path) {
    return path.size() >= 3 && path.substr(path.size() - 3) == "sts";
}

StatusFileResult ReadStatusFile(const std::string& path, PrinterSettings& settings,
                                std::string* error) {
    // Anything but a regular file is refused before it is opened: a named pipe
    // without a writer would otherwise block the open for ever.
    RegularFile file;
    if (!file.Open(path)) {
        if (error) *error = file.error();
        return StatusFileResult::OpenFailed;
    }
    SettingsImage image{};
    std::size_t got = 0;
    while (got < image.size()) {
        const std::int64_t n = file.Read(image.data() + got, image.size() - got);
        if (n < 0) {
            if (error) *error = file.error();
            return StatusFileResult::ReadFailed;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    settings = DecodeSettings(image);
    return StatusFileResult::Ok;
}

StatusFileResult WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes,
                                    std::string* error) {
    if (std::string why = NotAFileToReplace(path); !why.empty()) {
        if (error) *error = std::move(why);
        return StatusFileResult::CreateFailed;
    }
    const std::string temporary = TemporaryNameFor(path);
    // 0666 lets the umask decide, as for any newly created file; an existing
    // file's permissions are carried over below.
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        if (error) *error = SystemReason(errno);
        return StatusFileResult::CreateFailed;
    }
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        fchmod(fd.get(), existing.st_mode & 07777);

    bool ok = WriteAll(fd.get(), bytes.data(), bytes.size()) && fsync(fd.get()) == 0;
    int saved = errno;
    if (!fd.Close() && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        if (error) *error = SystemReason(saved);
        return StatusFileResult::WriteFailed;
    }
    return StatusFileResult::Ok;
}

StatusFileResult WriteStatusFile(const std::string& path, const PrinterSettings& settings,
                                 std::string* error) {
    const SettingsImage image = EncodeSettings(settings);
    return WriteFileReplacing(path, image, error);
}

Message StatusFileFailure(StatusFileResult result, const std::string& path,
                          const std::string& reason) {
    switch (result) {
        case StatusFileResult::CreateFailed:
        case StatusFileResult::WriteFailed:
            return {fmt::format("Can't save the status to \"{}\": {}.\nAny existing file "
                                "of that name is unchanged.",
                                path, reason),
                    "Warning", MessageIcon::Exclamation};
        case StatusFileResult::OpenFailed:
        case StatusFileResult::ReadFailed:
            return {fmt::format("Can't load the status from \"{}\": {}.", path, reason), "Warning",
                    MessageIcon::Exclamation};
        case StatusFileResult::WrongName:
            return messages::kWrongFormatFile;
        case StatusFileResult::Ok:
            break;
    }
    return {};
}

bool SaveStatus(const std::string& path, const PrinterSettings& settings, Notifier& notifier) {
    std::string reason;
    const StatusFileResult result = WriteStatusFile(path, settings, &reason);
    if (result == StatusFileResult::Ok) return true;
    notifier.notify(StatusFileFailure(result, path, reason));
    return false;
}

bool IsKnownBuyerSetIndex(int index) {
    return index >= 0 && index < static_cast<int>(kBuyerSetNames.size());
}

bool IsKnownBuyerValue(int value) {
    return value >= 0 && value <= 3;  // STD, KOR, CHN, JAP
}

std::vector<std::string> UnknownSettingValues(const PrinterSettings& settings) {
    std::vector<std::string> lines;
    if (!IsKnownBuyerSetIndex(settings.buyerSetIndex)) {
        lines.push_back(fmt::format("buyer-set index {} (the buyer-set list has entries 0 to 5)",
                                    settings.buyerSetIndex));
    }
    const int buyer = BuyerValue(settings.msw12);
    if (settings.buyerSetIndex != 0 && !IsKnownBuyerValue(buyer)) {
        lines.push_back(fmt::format(
            "memory switch 12 = {} (value {} names no buyer set: 0 STD, 1 KOR, 2 CHN, 3 JAP)",
            SwitchBitsText(settings.msw12), buyer));
    }
    return lines;
}

std::optional<Message> UnknownValuesWarning(const std::string& path,
                                            const PrinterSettings& settings) {
    const std::vector<std::string> lines = UnknownSettingValues(settings);
    if (lines.empty()) return std::nullopt;
    std::string text =
        fmt::format("The status file \"{}\" holds values that no printer setting has:", path);
    for (const std::string& line : lines) text += "\n- " + line;
    text += "\nSet Status writes them into the printer as they are.";
    // Captioned as information, but marked for attention: on the command line
    // it goes to standard error and is kept by --quiet.
    return Message{text, "Information", MessageIcon::Exclamation};
}

bool LoadStatus(const std::string& path, PrinterSettings& settings, StatusView& view,
                Notifier& notifier) {
    if (!HasStatusFileName(path)) {
        notifier.notify(messages::kWrongFormatFile);
        return false;
    }
    std::string reason;
    const StatusFileResult result = ReadStatusFile(path, settings, &reason);
    if (result != StatusFileResult::Ok) {
        notifier.notify(StatusFileFailure(result, path, reason));
        return false;
    }
    ShowLoadedStatus(settings, view);
    if (const auto warning = UnknownValuesWarning(path, settings)) notifier.notify(*warning);
    return true;
}

void ShowLoadedStatus(const PrinterSettings& settings, StatusView& view) {
    view.setButtonsEnabled(kSetButton | kSaveButton, true);
    view.refreshPages(true);
    view.selectBuyerSet(settings.buyerSetIndex);
    view.repaint();
}

}  // namespace tessaly
