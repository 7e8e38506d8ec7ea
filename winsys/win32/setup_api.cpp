// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include <cstring>

#include "win32_windows.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;

// ---- Setup API and devices -----------------------------------------------------------

bool Win32Windows::SetupCopyOEMInfA(const char* sourceInfFileName,
                                    const char* oemSourceMediaLocation, DWORD oemSourceMediaType,
                                    DWORD copyStyle, std::string& destinationName,
                                    DWORD destinationSize) {
    std::vector<char> buffer(destinationSize + 1, '\0');
    ::DWORD required = 0;
    const bool ok =
        ::SetupCopyOEMInfA(sourceInfFileName, oemSourceMediaLocation, oemSourceMediaType, copyStyle,
                           buffer.data(), destinationSize, &required, nullptr);
    const ::DWORD error = ::GetLastError();
    // The buffer is meaningful after a copy that succeeded, and after one that found the same
    // INF already in the INF folder (it then names that copy); after other failures it may
    // hold anything.
    destinationName.clear();
    if (ok || error == ERROR_FILE_EXISTS) {
        buffer[destinationSize] = '\0';
        destinationName = buffer.data();
    }
    ::SetLastError(error);
    return ok;
}

bool Win32Windows::SetupGetInfFileListA(const char* directoryPath, DWORD infStyle,
                                        std::vector<std::string>& names) {
    names.clear();
    // The list is read through the wide form and converted to the ANSI code page: the ANSI
    // form's size query for the system INF directory is not answered reliably everywhere.
    std::wstring directory;
    if (directoryPath) {
        const int chars = ::MultiByteToWideChar(CP_ACP, 0, directoryPath, -1, nullptr, 0);
        directory.assign(static_cast<std::size_t>(chars > 0 ? chars : 1), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, directoryPath, -1, directory.data(), chars);
    }
    const wchar_t* dir = directoryPath ? directory.c_str() : nullptr;
    ::DWORD required = 0;
    if (!::SetupGetInfFileListW(dir, infStyle, nullptr, 0, &required) || required == 0)
        return false;
    std::vector<wchar_t> list(required + 1, L'\0');
    if (!::SetupGetInfFileListW(dir, infStyle, list.data(), required, &required)) return false;
    for (const wchar_t* name = list.data(); *name; name += std::wcslen(name) + 1) {
        const int bytes = ::WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
        if (bytes <= 1) continue;
        std::string narrow(static_cast<std::size_t>(bytes), '\0');
        ::WideCharToMultiByte(CP_ACP, 0, name, -1, narrow.data(), bytes, nullptr, nullptr);
        narrow.resize(static_cast<std::size_t>(bytes - 1));
        names.push_back(std::move(narrow));
    }
    return true;
}

Handle Win32Windows::SetupOpenInfFileA(const char* fileName, const char* infClass, DWORD infStyle) {
    const ::HINF inf = ::SetupOpenInfFileA(fileName, infClass, infStyle, nullptr);
    return inf == INVALID_HANDLE_VALUE ? kInvalid : FromHandle(inf);
}

void Win32Windows::SetupCloseInfFile(Handle inf) {
    ::SetupCloseInfFile(ToHandle(inf));
}

bool Win32Windows::SetupFindFirstLineA(Handle inf, const char* section, const char* key,
                                       InfContext* context) {
    ::INFCONTEXT real{};
    const bool ok = ::SetupFindFirstLineA(ToHandle(inf), section, key, &real);
    if (ok && context) {
        context->inf = FromHandle(real.Inf);
        context->section = real.Section;
        context->line = real.Line;
    }
    return ok;
}

bool Win32Windows::SetupUninstallOEMInfA(const char* infFileName, DWORD flags,
                                         const void* reserved) {
    return ::SetupUninstallOEMInfA(infFileName, flags, const_cast<void*>(reserved));
}

Handle Win32Windows::SetupDiGetClassDevsA(const void* classGuid, const char* enumerator,
                                          Handle parent, DWORD flags) {
    const ::HDEVINFO set = ::SetupDiGetClassDevsA(static_cast<const ::GUID*>(classGuid), enumerator,
                                                  reinterpret_cast<::HWND>(parent), flags);
    return set == INVALID_HANDLE_VALUE ? kInvalid : FromHandle(set);
}

bool Win32Windows::SetupDiEnumDeviceInfo(Handle deviceInfoSet, DWORD memberIndex,
                                         SpDevinfoData* deviceInfoData) {
    ::SP_DEVINFO_DATA device{};
    device.cbSize = deviceInfoData ? deviceInfoData->cbSize : sizeof device;
    if (!::SetupDiEnumDeviceInfo(ToHandle(deviceInfoSet), memberIndex, &device)) return false;
    if (deviceInfoData) deviceInfoData->devInst = device.DevInst;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&device);
    devices_[{deviceInfoSet, device.DevInst}].assign(bytes, bytes + sizeof device);
    return true;
}

namespace {
// The stored SP_DEVINFO_DATA of a device, or an empty one (which Windows rejects) when the
// device was not handed out by SetupDiEnumDeviceInfo.
::SP_DEVINFO_DATA StoredDevice(
    const std::map<std::pair<Handle, DWORD>, std::vector<unsigned char>>& devices, Handle set,
    const SpDevinfoData* data) {
    ::SP_DEVINFO_DATA device{};
    if (!data) return device;
    const auto found = devices.find({set, data->devInst});
    if (found != devices.end() && found->second.size() == sizeof device)
        std::memcpy(&device, found->second.data(), sizeof device);
    device.cbSize = data->cbSize;
    return device;
}
}  // namespace

bool Win32Windows::SetupDiGetDeviceRegistryPropertyA(Handle deviceInfoSet,
                                                     const SpDevinfoData* deviceInfoData,
                                                     DWORD property, DWORD* propertyRegDataType,
                                                     unsigned char* buffer, DWORD bufferSize,
                                                     DWORD* requiredSize) {
    ::SP_DEVINFO_DATA device = StoredDevice(devices_, deviceInfoSet, deviceInfoData);
    ::DWORD type = 0;
    ::DWORD required = 0;
    const bool ok = ::SetupDiGetDeviceRegistryPropertyA(ToHandle(deviceInfoSet), &device, property,
                                                        &type, buffer, bufferSize, &required);
    if (propertyRegDataType) *propertyRegDataType = type;
    if (requiredSize) *requiredSize = required;
    return ok;
}

bool Win32Windows::SetupDiRemoveDevice(Handle deviceInfoSet, SpDevinfoData* deviceInfoData) {
    ::SP_DEVINFO_DATA device = StoredDevice(devices_, deviceInfoSet, deviceInfoData);
    return ::SetupDiRemoveDevice(ToHandle(deviceInfoSet), &device);
}

bool Win32Windows::SetupDiDestroyDeviceInfoList(Handle deviceInfoSet) {
    std::erase_if(devices_, [&](const auto& entry) { return entry.first.first == deviceInfoSet; });
    return ::SetupDiDestroyDeviceInfoList(ToHandle(deviceInfoSet));
}

}  // namespace tessaly::winsys
