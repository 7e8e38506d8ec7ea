#pragma once

#include <windows.h>

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
#include "win32_usb_device.h"

namespace tessaly {

// Device-change notices through a hidden window that a thread of its own serves,
// so that notices arrive whatever thread uses the port. The window refuses the
// system's request to remove the printer while the port holds it, and reports its
// removal and the arrival of USB devices as events, handing each to the port's
// notice handler at once: the port closes the printer's handle in the notice (a
// read or write under way is cancelled) and opens it again on arrival.
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
    void SetNoticeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

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
    std::function<void()> handler_;
};

}  // namespace tessaly
