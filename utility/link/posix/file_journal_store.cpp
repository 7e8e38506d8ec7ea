#include "file_journal_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tessaly {
namespace {

constexpr const char* kSuffix = ".journal";
constexpr std::size_t kMaxRead = 256 * 1024;

std::string Why(int error) {
    return std::strerror(error);
}

// Creates the folder and its missing parents, private to the user.
bool MakeFolder(const std::string& folder, std::string& error) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + Why(errno);
            return false;
        }
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    return true;
}

bool SyncFolder(const std::string& folder, std::string& error) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + folder + ": " + Why(errno);
        return false;
    }
    const bool ok = fsync(fd) == 0;
    if (!ok) error = "cannot flush " + folder + " to disk: " + Why(errno);
    close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FileJournalStore::FileJournalStore(std::string folder) : folder_(std::move(folder)) {}

FileJournalStore::~FileJournalStore() {
    Unlock();
}

std::string FileJournalStore::DefaultFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/tessaly";
    if (geteuid() == 0) return "/run/tessaly";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/tessaly";
    return {};
}

std::string FileJournalStore::PathOf(const std::string& key) const {
    return folder_ + "/" + key + kSuffix;
}

bool FileJournalStore::Write(const std::string& key, const std::string& text, std::string& error) {
    if (folder_.empty()) {
        error = "there is no folder for it (neither XDG_STATE_HOME nor HOME is set)";
        return false;
    }
    if (!MakeFolder(folder_, error)) return false;
    const std::string path = PathOf(key);
    const std::string temporary = folder_ + "/." + key + ".tmp";
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot create " + temporary + ": " + Why(errno);
        return false;
    }
    bool ok = WriteAll(fd, text);
    if (!ok) error = "cannot write " + temporary + ": " + Why(errno);
    if (ok && fsync(fd) != 0) {
        ok = false;
        error = "cannot flush " + temporary + " to disk: " + Why(errno);
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        error = "cannot write " + temporary + ": " + Why(errno);
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = "cannot rename " + temporary + " to " + path + ": " + Why(errno);
    }
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    return SyncFolder(folder_, error);
}

bool FileJournalStore::Remove(const std::string& key, std::string& error) {
    if (folder_.empty()) return true;
    const std::string path = PathOf(key);
    if (unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return true;
        error = "cannot remove " + path + ": " + Why(errno);
        return false;
    }
    return SyncFolder(folder_, error);
}

std::vector<JournalStore::Item> FileJournalStore::ReadAll() {
    std::vector<Item> items;
    if (folder_.empty()) return items;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder_.c_str()), closedir);
    if (!dir) return items;  // nothing written yet
    const std::string suffix = kSuffix;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() <= suffix.size() || name[0] == '.' ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        Item item{name.substr(0, name.size() - suffix.size()), {}, {}};
        // Not following links and not waiting on a pipe someone put there.
        const int fd =
            open(PathOf(item.key).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat st {};
        if (fd < 0) {
            item.error = "it cannot be read (" + Why(errno) + ")";
        } else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            item.error = "it is not a regular file";
        } else {
            char buffer[4096];
            for (;;) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) item.error = "it cannot be read (" + Why(errno) + ")";
                if (n <= 0) break;
                item.text.append(buffer, static_cast<std::size_t>(n));
                if (item.text.size() > kMaxRead) break;  // too large: the decoder says so
            }
        }
        if (fd >= 0) close(fd);
        if (!item.error.empty()) item.text.clear();
        items.push_back(std::move(item));
    }
    return items;
}

bool FileJournalStore::TryLock() {
    if (lockFd_ >= 0) return false;
    if (folder_.empty()) return true;  // nothing stored: nothing to share
    const std::string path = folder_ + "/.lock";
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
        struct stat st {};
        if (stat(folder_.c_str(), &st) != 0) return true;  // no records, nobody to race
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (fd < 0) return true;  // a folder we cannot write holds nothing we could change
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

void FileJournalStore::Unlock() {
    if (lockFd_ < 0) return;
    flock(lockFd_, LOCK_UN);
    close(lockFd_);
    lockFd_ = -1;
}

std::unique_ptr<JournalStore> MakePlatformJournalStore() {
    return std::make_unique<FileJournalStore>(FileJournalStore::DefaultFolder());
}

}  // namespace tessaly
