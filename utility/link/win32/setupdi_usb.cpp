#include "setupdi_usb.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>

#include "bounded_io.h"

namespace tessaly {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE
constexpr GUID kUsbDeviceInterface{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr const char* kLegacyInstanceKey =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\"
    "{a5dcbf10-6530-11d2-901f-00c04fb951ed}\\##.#";
constexpr std::size_t kPathBufferSize = 256;
// Far beyond any real machine; stops the batches should the system never say "no more".
constexpr DWORD kLastBatchEnd = 1u << 16;
constexpr const char* kWindowClass = "TessalyUsbNotifyWindow";

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28 || sizeof(void*) != 4);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5 || sizeof(void*) != 4);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32 || sizeof(void*) != 4);
static_assert(sizeof(DEV_BROADCAST_HANDLE) == 44 || sizeof(void*) != 4);

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

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

// ---- discovery ----

SetupDiUsbInterfaces::SetupDiUsbInterfaces()
    : list_(SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr,
                                 DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}

SetupDiUsbInterfaces::~SetupDiUsbInterfaces() {
    if (valid()) SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(list_));
}

bool SetupDiUsbInterfaces::valid() const {
    return list_ != nullptr && list_ != INVALID_HANDLE_VALUE;
}

UsbInterfaceSource::Result SetupDiUsbInterfaces::PathAt(DWORD index, std::string& path) {
    if (!valid()) return Result::NoMore;
    const auto list = static_cast<HDEVINFO>(list_);
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof(entry);
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &kUsbDeviceInterface, index, &entry))
        return GetLastError() == ERROR_NO_MORE_ITEMS ? Result::NoMore : Result::Skip;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(list, &entry, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return Result::Skip;
    std::vector<unsigned char> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list, &entry, detail, size, nullptr, nullptr))
        return Result::Skip;
    const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const char* text = reinterpret_cast<const char*>(buffer.data() + offset);
    path.assign(text, strnlen(text, size - offset));
    return Result::Found;
}

bool SetupDiUsbInterfaces::CanOpen(const std::string& path) {
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

bool SetupDiUsbInterfaces::IsKnownInstance(const std::string& path) {
    return IsKnownUsbPrinterInstance(path);
}

std::vector<std::string> FindUsbPrinters(UsbInterfaceSource& source, bool legacy,
                                         const std::function<void(const std::string&)>& log) {
    std::vector<std::string> printers;
    bool openable = false;
    DWORD index = 0;
    for (DWORD end = 8; end <= kLastBatchEnd; end *= 2) {
        for (; index < end; ++index) {
            std::string path;
            const auto result = source.PathAt(index, path);
            if (result == UsbInterfaceSource::Result::NoMore) return printers;
            if (result == UsbInterfaceSource::Result::Skip) continue;
            if (path.size() >= kPathBufferSize) continue;
            log("Attempting to open " + path + "\n");
            if (!source.CanOpen(path)) {
                log("FAILED to open " + path + "\n");
                continue;
            }
            openable = true;
            if (legacy) {
                if (source.IsKnownInstance(path)) printers.push_back(kLegacyUsbPrefix + path);
            } else if (path.find(kR3PathVendor) != std::string::npos &&
                       path.find(kR3PathProduct) != std::string::npos) {
                printers.push_back(kR3UsbPrefix + path);
            }
        }
        if (openable) break;
    }
    return printers;
}

std::vector<std::string> FindUsbPrinters() {
    SetupDiUsbInterfaces interfaces;
    return FindUsbPrinters(interfaces, isLegacyWindows(), [](const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    });
}

bool IsKnownInstanceText(const std::string& instance) {
    return instance.find("VID_2E9B") != std::string::npos &&
           (instance.find("PID_0006") != std::string::npos ||
            instance.find("PID_000B") != std::string::npos ||
            instance.find("PID_000b") != std::string::npos);
}

bool IsKnownUsbPrinterInstance(const std::string& path) {
    if (path.size() < 4) return false;
    const std::string name = kLegacyInstanceKey + path.substr(4);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    char value[255] = {};
    DWORD size = sizeof(value) - 1;  // keeps room for the terminating zero
    DWORD type = 0;
    const bool read = RegQueryValueExA(key, "DeviceInstance", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read && type == REG_SZ && IsKnownInstanceText(value);
}

std::optional<UsbIdentity> UsbIdentityFromPath(const std::string& path) {
    const std::string lower = Lower(path);
    const auto vid = lower.find("vid_");
    const auto pid = lower.find("pid_");
    if (vid == std::string::npos || pid == std::string::npos || vid + 8 > lower.size() ||
        pid + 8 > lower.size())
        return std::nullopt;
    UsbIdentity identity{lower.substr(vid + 4, 4), lower.substr(pid + 4, 4), {}};
    // The instance part between the second and third '#' is the serial number when
    // the device reports one; Windows makes one up (with '&' in it) otherwise.
    const auto first = lower.find('#');
    const auto second = first == std::string::npos ? first : lower.find('#', first + 1);
    const auto third = second == std::string::npos ? second : lower.find('#', second + 1);
    if (third != std::string::npos) {
        const std::string instance = lower.substr(second + 1, third - second - 1);
        if (instance.find('&') == std::string::npos) identity.serial = instance;
    }
    return identity;
}

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
        std::lock_guard lock(eventsMutex_);
        events_.push_back(std::move(change));
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
    }
    std::lock_guard lock(eventsMutex_);
    events_.push_back(UsbEvent{UsbEvent::Action::Removed, path, std::nullopt});
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
    for (DWORD index = 0; index < kLastBatchEnd; ++index) {
        const auto result = interfaces.PathAt(index, path);
        if (result == UsbInterfaceSource::Result::NoMore) break;
        if (result == UsbInterfaceSource::Result::Found && UsbIdentityFromPath(path) == identity)
            return path;
    }
    return std::nullopt;
}

}  // namespace tessaly
