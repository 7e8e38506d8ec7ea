#include "win32_usb_device.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include "bounded_io.h"

namespace tessaly {

// ---- the open printer's handle ----

void UsbHandleSlot::Unregister() {
    if (registration != nullptr) UnregisterDeviceNotification(registration);
    registration = nullptr;
}

void UsbHandleSlot::SetHandle(HANDLE opened, const std::string& openedPath) {
    std::lock_guard lock(mutex);
    Unregister();
    handle = opened;
    path = openedPath;
    if (window == nullptr || opened == INVALID_HANDLE_VALUE) return;
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = opened;
    registration = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

Win32UsbDevice::Win32UsbDevice(std::shared_ptr<UsbHandleSlot> slot) : slot_(std::move(slot)) {}

Win32UsbDevice::~Win32UsbDevice() {
    Close();
}

bool Win32UsbDevice::Open(const std::string& node) {
    Close();
    path_ = node;
    lastError_.clear();
    HANDLE handle =
        CreateFileA(node.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        lastError_ = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                         ? "The USB printer is not there any more: plug it in, switch it on "
                           "and choose it again from the list."
                         : OpenFailureText("The USB printer", code);
        return false;
    }
    handle_.reset(handle);
    slot_->SetHandle(handle, node);
    return true;
}

std::uint32_t Win32UsbDevice::Write(const std::uint8_t* data, std::uint32_t count,
                                    const WriteBounds& bounds) {
    const IoOutcome outcome = BoundedWrite(handle_.get(), data, count, bounds);
    if (outcome.bytes != count)
        lastError_ =
            outcome.error == ERROR_TIMEOUT || outcome.error == ERROR_WRITE_FAULT
                ? "The USB printer stopped taking data: check that it is switched on "
                  "and has paper."
                : "Writing to the USB printer failed: " + SystemMessage(outcome.error) + ".";
    return outcome.bytes;
}

std::uint32_t Win32UsbDevice::Read(std::uint8_t* buffer, std::uint32_t count,
                                   const ReadBounds& bounds) {
    return BoundedRead(handle_.get(), buffer, count, bounds).bytes;
}

void Win32UsbDevice::Close() {
    if (!handle_.valid()) return;
    CancelIo(handle_.get());
    slot_->SetHandle(INVALID_HANDLE_VALUE, {});
    handle_.reset();
}

}  // namespace tessaly
