#include "setupdi_usb.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>

#include "win32_system.h"

namespace tessaly {
namespace {

constexpr const char* kLegacyInstanceKey =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\"
    "{a5dcbf10-6530-11d2-901f-00c04fb951ed}\\##.#";
constexpr std::size_t kPathBufferSize = 256;

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28 || sizeof(void*) != 4);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5 || sizeof(void*) != 4);

}  // namespace

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

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
    // Every present interface is tried, whatever the order the system lists them in: a
    // printer listed after some other device is listed all the same.
    std::vector<std::string> printers;
    for (DWORD index = 0; index < kLastInterfaceIndex; ++index) {
        std::string path;
        const auto result = source.PathAt(index, path);
        if (result == UsbInterfaceSource::Result::NoMore) break;
        if (result == UsbInterfaceSource::Result::Skip) continue;
        if (path.size() >= kPathBufferSize) continue;
        log("Attempting to open " + path + "\n");
        if (!source.CanOpen(path)) {
            log("FAILED to open " + path + "\n");
            continue;
        }
        if (legacy) {
            if (source.IsKnownInstance(path)) printers.push_back(kLegacyUsbPrefix + path);
        } else if (path.find(kR3PathVendor) != std::string::npos &&
                   path.find(kR3PathProduct) != std::string::npos) {
            printers.push_back(kR3UsbPrefix + path);
        }
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

}  // namespace tessaly
