#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "usb_device.h"
#include "win32_system.h"

namespace tessaly {

// Marks of the R-3 in a device-interface path (Windows NT family; case-sensitive).
inline constexpr const char* kR3PathVendor = "vid_2e9b";
inline constexpr const char* kR3PathProduct = "pid_0006";
// Port-list prefix on the Windows 95/98/Me family.
inline constexpr const char* kLegacyUsbPrefix = "USBPORT:";

// What discovery needs from the system, so that its rules can be checked against
// made-up interface lists.
class UsbInterfaceSource {
  public:
    virtual ~UsbInterfaceSource() = default;
    enum class Result { Found, Skip, NoMore };
    // The device path of the interface at this index.
    virtual Result PathAt(DWORD index, std::string& path) = 0;
    // Whether the interface can be opened now (another program may hold it).
    virtual bool CanOpen(const std::string& path) = 0;
    // Registry test of the Windows 95/98/Me family.
    virtual bool IsKnownInstance(const std::string& path) = 0;
};

// The present USB device interfaces through SetupDi.
class SetupDiUsbInterfaces final : public UsbInterfaceSource {
  public:
    SetupDiUsbInterfaces();
    ~SetupDiUsbInterfaces() override;
    SetupDiUsbInterfaces(const SetupDiUsbInterfaces&) = delete;
    SetupDiUsbInterfaces& operator=(const SetupDiUsbInterfaces&) = delete;

    bool valid() const;
    Result PathAt(DWORD index, std::string& path) override;
    bool CanOpen(const std::string& path) override;
    bool IsKnownInstance(const std::string& path) override;

  private:
    void* list_;  // HDEVINFO
};

// Discovery over any interface source. Indexes are tried in batches ending before
// 8, 16, 32, ...; the search ends with the batch in which an openable interface was
// seen, or when the system has no more interfaces. Each printer becomes "R-3:"
// followed by its path (on the legacy family "USBPORT:" and the path). Progress
// lines go to log (standard output in production).
std::vector<std::string> FindUsbPrinters(UsbInterfaceSource& source, bool legacy,
                                         const std::function<void(const std::string&)>& log);

// True when the registered device instance of this path (legacy family) names the
// "VID_2E9B" with "PID_0006", "PID_000B" or "PID_000b".
bool IsKnownUsbPrinterInstance(const std::string& path);
bool IsKnownInstanceText(const std::string& instance);

// Vendor, product and serial number read from a device-interface path such as
// \\?\usb#vid_2e9b&pid_0006#A1234#{a5dcbf10-...}; nothing for other paths.
std::optional<UsbIdentity> UsbIdentityFromPath(const std::string& path);

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

// Device-change notices through a hidden window that a thread of its own serves,
// so that notices arrive whatever thread uses the port. The window refuses the
// system's request to remove the printer while the port holds it, and reports its
// removal and the arrival of USB devices as events.
class Win32UsbWatcher final : public UsbWatcher {
  public:
    static constexpr int kControlId = 1234;
    static constexpr const char* kWindowName = "USBPNPWindow";

    explicit Win32UsbWatcher(std::shared_ptr<UsbHandleSlot> slot);
    ~Win32UsbWatcher() override;

    bool Start() override;
    void Stop() override;
    int Fd() const override { return -1; }  // notices are taken at every read and write
    std::vector<UsbEvent> TakeEvents() override;
    std::optional<UsbIdentity> IdentityOf(const std::string& node) override;
    std::optional<std::string> FindNode(const UsbIdentity& identity) override;
    std::string LastError() const override { return lastError_; }

    // What the window answers to WM_DEVICECHANGE, and the events it records; the
    // window procedure calls this on the watcher's thread.
    LRESULT OnDeviceChange(WPARAM event, LPARAM data);

  private:
    void Serve(std::promise<bool>* ready);

    std::shared_ptr<UsbHandleSlot> slot_;
    std::thread thread_;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
    HDEVNOTIFY classRegistration_ = nullptr;
    std::mutex eventsMutex_;
    std::deque<UsbEvent> events_;
    std::string lastError_;
};

}  // namespace tessaly
