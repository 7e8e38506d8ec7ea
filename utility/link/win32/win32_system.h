// utility/link/win32/ holds the Windows side of the link: serial lines through the
// communications functions, parallel and USB printers through overlapped handles (USB found with
// the Setup API), spooler queues for the diversion and its registry journal. win32_system.h
// holds the system helpers they share.
#pragma once

#include <windows.h>

#include <string>

namespace tessaly {

// The system's own text for an error code, without the trailing line break.
std::string SystemMessage(DWORD code);

// True on the Windows 95/98/Me family, where the parallel and USB ports are reached
// differently: GetVersion sets the high bit there, with a major version of 4 or more.
bool isLegacyWindows();
// The same test on a value GetVersion returned.
bool IsLegacyVersion(DWORD version);

// Owns a kernel handle; closes it when replaced or destroyed.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Why a device could not be opened, phrased for the user with what to do about it.
std::string OpenFailureText(const std::string& name, DWORD code);

}  // namespace tessaly
