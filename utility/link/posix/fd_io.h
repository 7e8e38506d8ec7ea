// utility/link/posix/ holds the Linux side of the link: termios serial lines, the lp parallel
// driver, USB printers found through libudev, CUPS queues for the diversion and its journal
// files. fd_io.h holds the bounded reads and writes on descriptors that they share.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "io_bounds.h"

namespace tessaly {

// Reads up to count bytes from a non-blocking descriptor within the bounds. Also
// copes with drivers whose poll() always reports ready (the lp driver) by waiting
// briefly after each EAGAIN. Returns the bytes read; *error receives the errno of
// a failure that ended the read early (0 otherwise).
std::uint32_t ReadBounded(int fd, std::uint8_t* buffer, std::uint32_t count,
                          const ReadBounds& bounds, int* error);

// Writes up to count bytes to a non-blocking descriptor within the bounds. Returns
// the bytes the device accepted; *error as for ReadBounded (ETIMEDOUT when a bound
// ended the write).
std::uint32_t WriteBounded(int fd, const std::uint8_t* data, std::uint32_t count,
                           const WriteBounds& bounds, int* error);

// Opens a device node for reading and writing, non-blocking, and takes an
// exclusive flock on it (drivers such as lp and usblp refuse a second open, but a
// flock also keeps out a second copy of this program on a node that does not).
// Returns the descriptor, or -1 with errno set.
int OpenExclusive(const std::string& path);

// Programs other than this one holding a device node open, as "name (pid N)"
// joined by ", "; empty when none can be seen. Nodes are compared by device
// number, so a link and the node it points to count as the same.
std::string DescribeNodeHolders(const std::string& path);

// What a user is told about a failed operation on a device node of one kind of
// port, with what to do about it.
struct NodeAdvice {
    const char* kind;        // "serial port", "parallel port", "USB printer"
    const char* missing;     // follows the node's name when it is not there
    const char* permission;  // follows "Permission denied on NODE."
    const char* busy;        // follows "... is in use by PROGRAM."
};
std::string DescribeNodeError(const NodeAdvice& advice, const std::string& path, const char* what,
                              int error);

// A device node opened exclusively, read and written within bounds, with its
// last failure phrased for the user in the words of one kind of port.
class NodeFile {
  public:
    explicit NodeFile(const NodeAdvice& advice) : advice_(advice) {}
    ~NodeFile() { Close(); }
    NodeFile(const NodeFile&) = delete;
    NodeFile& operator=(const NodeFile&) = delete;

    bool Open(const std::string& path);
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count, const WriteBounds& bounds);
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count, const ReadBounds& bounds);
    // Waits at most timeoutMs until the node reports it can take a write again,
    // which for usblp means its last transfer completed.
    bool WaitWritable(std::uint32_t timeoutMs);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    const std::string& LastError() const { return lastError_; }
    void SetError(std::string text) { lastError_ = std::move(text); }

  private:
    void Fail(const char* what, int error);

    NodeAdvice advice_;
    int fd_ = -1;
    std::string path_;
    std::string lastError_;
};

}  // namespace tessaly
