#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// A command file holds printer commands as raw bytes; a larger file is refused.
inline constexpr std::uint64_t kMaxCommandFileBytes = 1024 * 1024;
inline constexpr const char* kMaxCommandFileText = "1 MiB (1048576 bytes)";

// A file opened for reading only when it is a regular file (or a link to one).
// A directory, named pipe, device or socket is refused before it is opened, so
// that nothing blocks on the open and no device is touched; the opened file is
// checked once more in case the path was swapped in between.
class RegularFile {
  public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // False when the path cannot be opened or is not a regular file; error() then
    // gives the reason, such as "it is a directory, not a file".
    bool Open(const std::string& path);
    // Reads up to count bytes: how many were read, 0 at the end, -1 on a failure
    // (error() says which).
    std::int64_t Read(std::uint8_t* buffer, std::size_t count);
    // The size when the file was opened.
    std::uint64_t size() const { return size_; }
    const std::string& error() const { return error_; }

    // Gives up the file with a reason of the caller's.
    void Refuse(std::string reason);

  private:
    void Close();

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string error_;
};

// Why an existing path is no file to write over: a directory, named pipe,
// device or socket (opening a named pipe for writing waits for a reader, and
// renaming a new file over a device node replaces the node). Empty when the
// path is a regular file, a link to one, or does not exist yet.
std::string NotAFileToReplace(const std::string& path);

// Opens a regular file of at most maxBytes; a larger one is refused with "it holds
// N bytes; <kind> may hold at most <limit>".
bool OpenLimitedFile(RegularFile& file, const std::string& path, std::uint64_t maxBytes,
                     const std::string& kind, const std::string& limit);
// Reads the whole of a file OpenLimitedFile accepts. False, with the reason in
// `error`, for anything it refuses.
bool ReadLimitedFile(const std::string& path, std::uint64_t maxBytes, const std::string& kind,
                     const std::string& limit, std::vector<std::uint8_t>& bytes,
                     std::string& error);

// Opens a command file: a regular file of at most kMaxCommandFileBytes.
bool OpenCommandFile(RegularFile& file, const std::string& path);

// Reads a whole command file. False, with the reason in `error`, for anything
// OpenCommandFile refuses.
bool ReadCommandFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

// What the user is told about a command file that cannot be read.
std::string CommandFileProblem(const std::string& path, const std::string& reason);

}  // namespace tessaly
