#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "usb_device.h"
#include "win32_system.h"

namespace tessaly {

// The handle of the open printer, shared by the device (which opens and closes it)
// and the watcher (which asks the system for notices about it).
struct UsbHandleSlot {
    std::mutex mutex;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path;
    HWND window = nullptr;              // the watcher's window, while it runs
    HDEVNOTIFY registration = nullptr;  // notices about handle

    // Called with the handle just opened, and with INVALID_HANDLE_VALUE before it
    // is closed. Registration failures are not errors: notices about the interface
    // class still report the printer's removal.
    void SetHandle(HANDLE opened, const std::string& openedPath);
    void Unregister();
};

class Win32UsbDevice final : public UsbDevice {
  public:
    explicit Win32UsbDevice(std::shared_ptr<UsbHandleSlot> slot);
    ~Win32UsbDevice() override;

    bool Open(const std::string& node) override;
    std::uint32_t Write(const std::uint8_t* data, std::uint32_t count,
                        const WriteBounds& bounds) override;
    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t count,
                       const ReadBounds& bounds) override;
    void Close() override;
    bool IsOpen() const override { return handle_.valid(); }
    std::string LastError() const override { return lastError_; }

  private:
    std::shared_ptr<UsbHandleSlot> slot_;
    UniqueHandle handle_;
    std::string path_;
    std::string lastError_;
};

}  // namespace tessaly
