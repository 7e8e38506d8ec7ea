#include "win32_usb_watcher.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include "setupdi_usb.h"
#include "win32_system.h"

namespace tessaly {
namespace {

constexpr const char* kWindowClass = "TessalyUsbNotifyWindow";

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32 || sizeof(void*) != 4);
static_assert(sizeof(DEV_BROADCAST_HANDLE) == 44 || sizeof(void*) != 4);

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        auto* watcher =
            reinterpret_cast<Win32UsbWatcher*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (watcher != nullptr) return watcher->OnDeviceChange(wParam, lParam);
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

// ---- device notices ----

Win32UsbWatcher::Win32UsbWatcher(std::shared_ptr<UsbHandleSlot> slot) : slot_(std::move(slot)) {}

Win32UsbWatcher::~Win32UsbWatcher() {
    Stop();
}

bool Win32UsbWatcher::Start() {
    if (thread_.joinable()) return true;
    std::promise<bool> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, &ready] { Serve(&ready); });
    if (started.get()) return true;
    thread_.join();
    return false;
}

void Win32UsbWatcher::Serve(std::promise<bool>* ready) {
    threadId_ = GetCurrentThreadId();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = NotifyWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExA(
        0, kWindowClass, kWindowName, WS_CHILD, 0, 0, 0, 0, GetDesktopWindow(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kControlId)), instance, nullptr);
    if (window_ == nullptr) {
        // A session without a desktop (a service, a console program run headless)
        // still has message-only windows, which device notices reach as well.
        window_ = CreateWindowExA(0, kWindowClass, kWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, instance, nullptr);
    }
    if (window_ == nullptr) {
        lastError_ = "the notice window cannot be created: " + SystemMessage(GetLastError());
        ready->set_value(false);
        return;
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbDeviceInterface;
    classRegistration_ = RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (classRegistration_ == nullptr) {
        lastError_ = "the system refuses USB device notices: " + SystemMessage(GetLastError());
        DestroyWindow(window_);
        window_ = nullptr;
        ready->set_value(false);
        return;
    }
    {
        std::lock_guard lock(slot_->mutex);
        slot_->window = window_;
    }
    // A printer opened before the watcher ran gets its handle notices now.
    HANDLE open = INVALID_HANDLE_VALUE;
    std::string path;
    {
        std::lock_guard lock(slot_->mutex);
        open = slot_->handle;
        path = slot_->path;
    }
    if (open != INVALID_HANDLE_VALUE) slot_->SetHandle(open, path);
    // Make sure the queue exists before Stop may post to it.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    ready->set_value(true);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    {
        std::lock_guard lock(slot_->mutex);
        slot_->Unregister();
        slot_->window = nullptr;
    }
    UnregisterDeviceNotification(classRegistration_);
    classRegistration_ = nullptr;
    DestroyWindow(window_);
    window_ = nullptr;
}

void Win32UsbWatcher::Stop() {
    if (!thread_.joinable()) return;
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
}

LRESULT Win32UsbWatcher::OnDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr) return TRUE;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return TRUE;
        const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
        UsbEvent change{
            event == DBT_DEVICEARRIVAL ? UsbEvent::Action::Added : UsbEvent::Action::Removed,
            notice->dbcc_name, std::nullopt};
        if (change.action == UsbEvent::Action::Added) {
            change.identity = UsbIdentityFromPath(change.node);
        } else {
            // The system may spell the path in another case than discovery did.
            std::lock_guard lock(slot_->mutex);
            if (Lower(slot_->path) == Lower(change.node)) change.node = slot_->path;
        }
        {
            std::lock_guard lock(eventsMutex_);
            events_.push_back(std::move(change));
        }
        if (handler_) handler_();
        return TRUE;
    }
    if (header->dbch_devicetype != DBT_DEVTYP_HANDLE) return TRUE;
    const auto* notice = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header);
    std::string path;
    {
        std::lock_guard lock(slot_->mutex);
        if (slot_->handle == INVALID_HANDLE_VALUE || notice->dbch_handle != slot_->handle)
            return TRUE;
        if (event == DBT_DEVICEQUERYREMOVE) return BROADCAST_QUERY_DENY;
        if (event != DBT_DEVICEREMOVEPENDING && event != DBT_DEVICEREMOVECOMPLETE) return TRUE;
        slot_->Unregister();
        path = slot_->path;
        // A read or write under way on the printer ends now, so the port can let go of it.
        CancelIoEx(slot_->handle, nullptr);
    }
    {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(UsbEvent{UsbEvent::Action::Removed, path, std::nullopt});
    }
    if (handler_) handler_();
    return TRUE;
}

std::vector<UsbEvent> Win32UsbWatcher::TakeEvents() {
    std::lock_guard lock(eventsMutex_);
    std::vector<UsbEvent> taken(events_.begin(), events_.end());
    events_.clear();
    return taken;
}

std::optional<UsbIdentity> Win32UsbWatcher::IdentityOf(const std::string& node) {
    return UsbIdentityFromPath(node);
}

std::optional<std::string> Win32UsbWatcher::FindNode(const UsbIdentity& identity) {
    SetupDiUsbInterfaces interfaces;
    std::string path;
    for (DWORD index = 0; index < kLastInterfaceIndex; ++index) {
        const auto result = interfaces.PathAt(index, path);
        if (result == UsbInterfaceSource::Result::NoMore) break;
        if (result == UsbInterfaceSource::Result::Found && UsbIdentityFromPath(path) == identity)
            return path;
    }
    return std::nullopt;
}

}  // namespace tessaly
