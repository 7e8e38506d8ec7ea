// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include "win32_windows.h"

#include <cstring>
#include <limits>

// clang-format off
#include <windows.h>
#include <winspool.h>
#include <aclapi.h>
#include <setupapi.h>
// clang-format on

namespace tessaly::winsys {
namespace {

constexpr Handle kInvalid = std::numeric_limits<Handle>::max();
// Directory and name buffers of the documented sizes.
constexpr ::DWORD kDirectoryBuffer = 256;

::HANDLE ToHandle(Handle h) {
    return reinterpret_cast<::HANDLE>(h);
}
Handle FromHandle(const void* h) {
    return reinterpret_cast<Handle>(h);
}

// The predefined roots are small negative numbers as handles; others are real handles.
::HKEY ToKey(HKEY key) {
    if (key >= 0x80000000u && key <= 0x80000006u)
        return reinterpret_cast<::HKEY>(
            static_cast<::LONG_PTR>(static_cast<std::int32_t>(static_cast<std::uint32_t>(key))));
    return reinterpret_cast<::HKEY>(key);
}

// Win32 wants writable pointers for strings it only reads.
char* Mutable(const char* text) {
    return const_cast<char*>(text);
}
char* MutableOrNull(const std::string& text) {
    return text.empty() ? nullptr : const_cast<char*>(text.c_str());
}
std::string Text(const char* text) {
    return text ? std::string(text) : std::string();
}

// A zero-separated list ended by one more zero, with both zeros kept.
std::string MultiString(const char* list) {
    if (!list) return std::string(1, '\0');
    const char* end = list;
    while (*end) end += std::strlen(end) + 1;
    return std::string(list, static_cast<std::size_t>(end - list) + 1);
}

// Performs the size query and, with a buffer of `factor` times the reported size, the call
// that fills it. Returns false (with the call's last error) when either call fails.
template <typename Call>
bool QueryInto(std::vector<unsigned char>& buffer, ::DWORD& count, ::DWORD factor, Call call) {
    ::DWORD needed = 0;
    count = 0;
    if (call(nullptr, 0, &needed, &count)) {
        buffer.clear();
        return true;  // nothing to list
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(static_cast<std::size_t>(needed) * factor, 0);
    return call(buffer.data(), static_cast<::DWORD>(buffer.size()), &needed, &count) != FALSE;
}

}  // namespace

// ---- Errors and messages -------------------------------------------------------------

DWORD Win32Windows::GetLastError() {
    return ::GetLastError();
}

std::string Win32Windows::FormatMessageA(DWORD flags, DWORD messageId, DWORD languageId) {
    char* text = nullptr;
    // The text is returned as a string, so the system always allocates the buffer.
    const ::DWORD length =
        ::FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, messageId, languageId,
                         reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = (length != 0 && text) ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    return result;
}

int Win32Windows::MessageBoxA(Handle owner, const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(reinterpret_cast<::HWND>(owner), text, caption, type);
}

// ---- Print spooler -------------------------------------------------------------------

bool Win32Windows::OpenPrinterA(const char* printerName, Handle* printer,
                                const PrinterDefaults* defaults) {
    ::PRINTER_DEFAULTSA real{};
    if (defaults) {
        real.pDatatype = Mutable(defaults->datatype);
        real.pDevMode = nullptr;
        real.DesiredAccess = defaults->desiredAccess;
    }
    ::HANDLE handle = nullptr;
    const bool ok = ::OpenPrinterA(Mutable(printerName), &handle, defaults ? &real : nullptr);
    *printer = ok ? FromHandle(handle) : kNullHandle;
    return ok;
}

bool Win32Windows::ClosePrinter(Handle printer) {
    return ::ClosePrinter(ToHandle(printer));
}

bool Win32Windows::DeletePrinter(Handle printer) {
    return ::DeletePrinter(ToHandle(printer));
}

bool Win32Windows::EnumPrintersA(DWORD flags, const char* name, DWORD level,
                                 std::vector<PrinterInfo2>& printers) {
    printers.clear();
    std::vector<unsigned char> buffer;
    ::DWORD count = 0;
    // The list is read into a buffer four times the reported size.
    const bool ok =
        QueryInto(buffer, count, 4, [&](unsigned char* b, ::DWORD s, ::DWORD* n, ::DWORD* c) {
            return ::EnumPrintersA(flags, Mutable(name), level, b, s, n, c);
        });
    if (!ok || level != 2) return ok;
    const auto* info = reinterpret_cast<const ::PRINTER_INFO_2A*>(buffer.data());
    for (::DWORD i = 0; i < count; ++i) {
        const ::PRINTER_INFO_2A& p = info[i];
        PrinterInfo2 out;
        out.serverName = Text(p.pServerName);
        out.printerName = Text(p.pPrinterName);
        out.shareName = Text(p.pShareName);
        out.portName = Text(p.pPortName);
        out.driverName = Text(p.pDriverName);
        out.comment = Text(p.pComment);
        out.location = Text(p.pLocation);
        out.sepFile = Text(p.pSepFile);
        out.printProcessor = Text(p.pPrintProcessor);
        out.datatype = Text(p.pDatatype);
        out.parameters = Text(p.pParameters);
        out.attributes = p.Attributes;
        out.priority = p.Priority;
        out.defaultPriority = p.DefaultPriority;
        out.startTime = p.StartTime;
        out.untilTime = p.UntilTime;
        out.status = p.Status;
        out.cJobs = p.cJobs;
        out.averagePPM = p.AveragePPM;
        printers.push_back(std::move(out));
    }
    return true;
}

Handle Win32Windows::AddPrinterA(const char* serverName, DWORD level, const PrinterInfo2& info) {
    ::PRINTER_INFO_2A p{};
    p.pServerName = MutableOrNull(info.serverName);
    p.pPrinterName = MutableOrNull(info.printerName);
    p.pShareName = MutableOrNull(info.shareName);
    p.pPortName = MutableOrNull(info.portName);
    p.pDriverName = MutableOrNull(info.driverName);
    p.pComment = MutableOrNull(info.comment);
    p.pLocation = MutableOrNull(info.location);
    p.pDevMode = nullptr;
    p.pSepFile = MutableOrNull(info.sepFile);
    p.pPrintProcessor = MutableOrNull(info.printProcessor);
    p.pDatatype = MutableOrNull(info.datatype);
    p.pParameters = MutableOrNull(info.parameters);
    p.pSecurityDescriptor = nullptr;
    p.Attributes = info.attributes;
    p.Priority = info.priority;
    p.DefaultPriority = info.defaultPriority;
    p.StartTime = info.startTime;
    p.UntilTime = info.untilTime;
    p.Status = info.status;
    p.cJobs = info.cJobs;
    p.AveragePPM = info.averagePPM;
    return FromHandle(::AddPrinterA(Mutable(serverName), level, reinterpret_cast<BYTE*>(&p)));
}

DWORD Win32Windows::GetPrinterDataA(Handle printer, const char* valueName, DWORD* type,
                                    unsigned char* data, DWORD size, DWORD* needed) {
    ::DWORD realType = 0;
    ::DWORD realNeeded = 0;
    const ::DWORD result = ::GetPrinterDataA(ToHandle(printer), Mutable(valueName), &realType, data,
                                             size, &realNeeded);
    if (type) *type = realType;
    if (needed) *needed = realNeeded;
    return result;
}

bool Win32Windows::EnumPrinterDriversA(const char* serverName, const char* environment, DWORD level,
                                       std::vector<DriverInfo3>& drivers) {
    drivers.clear();
    std::vector<unsigned char> buffer;
    ::DWORD count = 0;
    // Level 4 is read into a buffer four times the reported size, as documented.
    const bool ok = QueryInto(buffer, count, level == 4 ? 4 : 1,
                              [&](unsigned char* b, ::DWORD s, ::DWORD* n, ::DWORD* c) {
                                  return ::EnumPrinterDriversA(
                                      Mutable(serverName), Mutable(environment), level, b, s, n, c);
                              });
    if (!ok) return false;
    // DRIVER_INFO_4 starts with the fields of DRIVER_INFO_3; only those are kept.
    const std::size_t stride = level == 4   ? sizeof(::DRIVER_INFO_4A)
                               : level == 3 ? sizeof(::DRIVER_INFO_3A)
                                            : 0;
    if (stride == 0) return true;
    for (::DWORD i = 0; i < count; ++i) {
        const auto& d = *reinterpret_cast<const ::DRIVER_INFO_3A*>(buffer.data() + i * stride);
        DriverInfo3 out;
        out.version = d.cVersion;
        out.name = Text(d.pName);
        out.environment = Text(d.pEnvironment);
        out.driverPath = Text(d.pDriverPath);
        out.dataFile = Text(d.pDataFile);
        out.configFile = Text(d.pConfigFile);
        out.helpFile = Text(d.pHelpFile);
        out.dependentFiles = MultiString(d.pDependentFiles);
        out.monitorName = Text(d.pMonitorName);
        out.defaultDataType = Text(d.pDefaultDataType);
        drivers.push_back(std::move(out));
    }
    return true;
}

bool Win32Windows::AddPrinterDriverA(const char* serverName, DWORD level, const DriverInfo3& info) {
    ::DRIVER_INFO_3A d{};
    d.cVersion = info.version;
    d.pName = MutableOrNull(info.name);
    d.pEnvironment = MutableOrNull(info.environment);
    d.pDriverPath = MutableOrNull(info.driverPath);
    d.pDataFile = MutableOrNull(info.dataFile);
    d.pConfigFile = MutableOrNull(info.configFile);
    d.pHelpFile = MutableOrNull(info.helpFile);
    // The list keeps its embedded zeros; c_str() adds one more after its own final zero.
    d.pDependentFiles =
        info.dependentFiles.empty() ? nullptr : Mutable(info.dependentFiles.c_str());
    d.pMonitorName = MutableOrNull(info.monitorName);
    d.pDefaultDataType = MutableOrNull(info.defaultDataType);
    return ::AddPrinterDriverA(Mutable(serverName), level, reinterpret_cast<BYTE*>(&d));
}

bool Win32Windows::DeletePrinterDriverExA(const char* serverName, const char* environment,
                                          const char* driverName, DWORD deleteFlag,
                                          DWORD versionFlag) {
    return ::DeletePrinterDriverExA(Mutable(serverName), Mutable(environment), Mutable(driverName),
                                    deleteFlag, versionFlag);
}

bool Win32Windows::GetPrinterDriverDirectoryA(const char* serverName, const char* environment,
                                              DWORD level, std::string& directory) {
    char buffer[kDirectoryBuffer] = {};
    ::DWORD needed = 0;
    const bool ok =
        ::GetPrinterDriverDirectoryA(Mutable(serverName), Mutable(environment), level,
                                     reinterpret_cast<BYTE*>(buffer), sizeof buffer, &needed);
    directory = ok ? std::string(buffer) : std::string();
    return ok;
}

bool Win32Windows::EnumPrintProcessorsA(const char* serverName, const char* environment,
                                        DWORD level, std::vector<std::string>& names) {
    names.clear();
    std::vector<unsigned char> buffer;
    ::DWORD count = 0;
    const bool ok =
        QueryInto(buffer, count, 1, [&](unsigned char* b, ::DWORD s, ::DWORD* n, ::DWORD* c) {
            return ::EnumPrintProcessorsA(Mutable(serverName), Mutable(environment), level, b, s, n,
                                          c);
        });
    if (!ok || level != 1) return ok;
    const auto* info = reinterpret_cast<const ::PRINTPROCESSOR_INFO_1A*>(buffer.data());
    for (::DWORD i = 0; i < count; ++i) names.push_back(Text(info[i].pName));
    return true;
}

bool Win32Windows::AddPrintProcessorA(const char* serverName, const char* environment,
                                      const char* pathName, const char* printProcessorName) {
    return ::AddPrintProcessorA(Mutable(serverName), Mutable(environment), Mutable(pathName),
                                Mutable(printProcessorName));
}

bool Win32Windows::DeletePrintProcessorA(const char* serverName, const char* environment,
                                         const char* printProcessorName) {
    return ::DeletePrintProcessorA(Mutable(serverName), Mutable(environment),
                                   Mutable(printProcessorName));
}

bool Win32Windows::GetPrintProcessorDirectoryA(const char* serverName, const char* environment,
                                               DWORD level, std::string& directory) {
    char buffer[kDirectoryBuffer] = {};
    ::DWORD needed = 0;
    const bool ok =
        ::GetPrintProcessorDirectoryA(Mutable(serverName), Mutable(environment), level,
                                      reinterpret_cast<BYTE*>(buffer), sizeof buffer, &needed);
    directory = ok ? std::string(buffer) : std::string();
    return ok;
}

bool Win32Windows::AddMonitorA(const char* serverName, DWORD level, const MonitorInfo2& info) {
    ::MONITOR_INFO_2A m{};
    m.pName = MutableOrNull(info.name);
    m.pEnvironment = MutableOrNull(info.environment);
    m.pDLLName = MutableOrNull(info.dllName);
    return ::AddMonitorA(Mutable(serverName), level, reinterpret_cast<BYTE*>(&m));
}

bool Win32Windows::DeleteMonitorA(const char* serverName, const char* environment,
                                  const char* monitorName) {
    return ::DeleteMonitorA(Mutable(serverName), Mutable(environment), Mutable(monitorName));
}

bool Win32Windows::EnumFormsA(Handle printer, DWORD level, std::vector<FormInfo1>& forms) {
    forms.clear();
    std::vector<unsigned char> buffer;
    ::DWORD count = 0;
    const bool ok =
        QueryInto(buffer, count, 4, [&](unsigned char* b, ::DWORD s, ::DWORD* n, ::DWORD* c) {
            return ::EnumFormsA(ToHandle(printer), level, b, s, n, c);
        });
    if (!ok || level != 1) return ok;
    const auto* info = reinterpret_cast<const ::FORM_INFO_1A*>(buffer.data());
    for (::DWORD i = 0; i < count; ++i) forms.push_back({info[i].Flags, Text(info[i].pName)});
    return true;
}

bool Win32Windows::DeleteFormA(Handle printer, const char* formName) {
    return ::DeleteFormA(ToHandle(printer), Mutable(formName));
}

// ---- Registry ------------------------------------------------------------------------

DWORD Win32Windows::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                  HKEY* result) {
    ::HKEY opened = nullptr;
    const ::LONG error = ::RegOpenKeyExA(ToKey(key), subKey, options, samDesired, &opened);
    *result = error == ERROR_SUCCESS ? FromHandle(opened) : kNullHandle;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegCreateKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                    HKEY* result, DWORD* disposition) {
    ::HKEY created = nullptr;
    ::DWORD realDisposition = 0;
    const ::LONG error = ::RegCreateKeyExA(ToKey(key), subKey, 0, nullptr, options, samDesired,
                                           nullptr, &created, &realDisposition);
    *result = error == ERROR_SUCCESS ? FromHandle(created) : kNullHandle;
    if (disposition) *disposition = realDisposition;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegSetValueExA(HKEY key, const char* valueName, DWORD type,
                                   const unsigned char* data, DWORD size) {
    return static_cast<DWORD>(::RegSetValueExA(ToKey(key), valueName, 0, type, data, size));
}

DWORD Win32Windows::RegQueryValueExA(HKEY key, const char* valueName, DWORD* type,
                                     unsigned char* data, DWORD* size) {
    ::DWORD realType = 0;
    ::DWORD realSize = size ? *size : 0;
    const ::LONG error = ::RegQueryValueExA(ToKey(key), valueName, nullptr, &realType, data,
                                            size ? &realSize : nullptr);
    if (type) *type = realType;
    if (size) *size = realSize;
    return static_cast<DWORD>(error);
}

DWORD Win32Windows::RegDeleteKeyExA(HKEY key, const char* subKey, DWORD samDesired,
                                    DWORD reserved) {
    return static_cast<DWORD>(::RegDeleteKeyExA(ToKey(key), subKey, samDesired, reserved));
}

DWORD Win32Windows::RegCloseKey(HKEY key) {
    return static_cast<DWORD>(::RegCloseKey(ToKey(key)));
}

DWORD Win32Windows::RegConnectRegistryA(const char* machineName, HKEY key, HKEY* result) {
    ::HKEY connected = nullptr;
    const ::LONG error = ::RegConnectRegistryA(machineName, ToKey(key), &connected);
    *result = error == ERROR_SUCCESS ? FromHandle(connected) : kNullHandle;
    return static_cast<DWORD>(error);
}

// ---- Security ------------------------------------------------------------------------

DWORD Win32Windows::GetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                    Handle* dacl, Handle* securityDescriptor) {
    ::PACL realDacl = nullptr;
    ::PSECURITY_DESCRIPTOR descriptor = nullptr;
    const ::DWORD error =
        ::GetSecurityInfo(ToHandle(object), static_cast<::SE_OBJECT_TYPE>(objectType), securityInfo,
                          nullptr, nullptr, &realDacl, nullptr, &descriptor);
    if (dacl) *dacl = FromHandle(realDacl);
    if (securityDescriptor) *securityDescriptor = FromHandle(descriptor);
    return error;
}

void Win32Windows::BuildExplicitAccessWithNameA(ExplicitAccess* entry, const char* trusteeName,
                                                DWORD accessPermissions, DWORD accessMode,
                                                DWORD inheritance) {
    // The Win32 entry points at the trustee's name; it is built from these fields where it is
    // used (SetEntriesInAclA), while the name is still alive.
    entry->trusteeName = Text(trusteeName);
    entry->accessPermissions = accessPermissions;
    entry->accessMode = accessMode;
    entry->inheritance = inheritance;
}

DWORD Win32Windows::SetEntriesInAclA(DWORD count, const ExplicitAccess* entries, Handle oldAcl,
                                     Handle* newAcl) {
    std::vector<::EXPLICIT_ACCESS_A> real(count);
    for (DWORD i = 0; i < count; ++i)
        ::BuildExplicitAccessWithNameA(
            &real[i], Mutable(entries[i].trusteeName.c_str()), entries[i].accessPermissions,
            static_cast<::ACCESS_MODE>(entries[i].accessMode), entries[i].inheritance);
    ::PACL created = nullptr;
    const ::DWORD error =
        ::SetEntriesInAclA(count, real.data(), reinterpret_cast<::PACL>(oldAcl), &created);
    *newAcl = error == ERROR_SUCCESS ? FromHandle(created) : kNullHandle;
    return error;
}

DWORD Win32Windows::SetSecurityInfo(Handle object, DWORD objectType, DWORD securityInfo,
                                    Handle dacl) {
    return ::SetSecurityInfo(ToHandle(object), static_cast<::SE_OBJECT_TYPE>(objectType),
                             securityInfo, nullptr, nullptr, reinterpret_cast<::PACL>(dacl),
                             nullptr);
}

Handle Win32Windows::LocalFree(Handle memory) {
    return FromHandle(::LocalFree(reinterpret_cast<::HLOCAL>(memory)));
}

// ---- Files and directories -----------------------------------------------------------

bool Win32Windows::CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
    return ::CopyFileA(existingFile, newFile, failIfExists);
}

bool Win32Windows::DeleteFileA(const char* fileName) {
    return ::DeleteFileA(fileName);
}

DWORD Win32Windows::GetFileAttributesA(const char* fileName) {
    return ::GetFileAttributesA(fileName);
}

bool Win32Windows::SetFileAttributesA(const char* fileName, DWORD attributes) {
    return ::SetFileAttributesA(fileName, attributes);
}

Handle Win32Windows::FindFirstFileA(const char* pattern, FindData* data) {
    ::WIN32_FIND_DATAA found{};
    const ::HANDLE find = ::FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return kInvalid;
    data->fileAttributes = found.dwFileAttributes;
    data->fileName = found.cFileName;
    return FromHandle(find);
}

bool Win32Windows::FindNextFileA(Handle find, FindData* data) {
    ::WIN32_FIND_DATAA found{};
    if (!::FindNextFileA(ToHandle(find), &found)) return false;
    data->fileAttributes = found.dwFileAttributes;
    data->fileName = found.cFileName;
    return true;
}

bool Win32Windows::FindClose(Handle find) {
    return ::FindClose(ToHandle(find));
}

bool Win32Windows::CreateDirectoryA(const char* pathName) {
    return ::CreateDirectoryA(pathName, nullptr);
}

bool Win32Windows::RemoveDirectoryA(const char* pathName) {
    return ::RemoveDirectoryA(pathName);
}

UINT Win32Windows::GetWindowsDirectoryA(std::string& directory) {
    char buffer[MAX_PATH] = {};
    const ::UINT length = ::GetWindowsDirectoryA(buffer, MAX_PATH);
    directory = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<UINT>(directory.size());
}

UINT Win32Windows::GetSystemDirectoryA(std::string& directory) {
    char buffer[MAX_PATH] = {};
    const ::UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
    directory = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<UINT>(directory.size());
}

UINT Win32Windows::GetSystemWow64DirectoryA(std::string& directory) {
    char buffer[MAX_PATH] = {};
    const ::UINT length = ::GetSystemWow64DirectoryA(buffer, MAX_PATH);
    directory = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<UINT>(directory.size());
}

DWORD Win32Windows::GetFullPathNameA(const char* fileName, std::string& fullPath) {
    char buffer[MAX_PATH] = {};
    const ::DWORD length = ::GetFullPathNameA(fileName, MAX_PATH, buffer, nullptr);
    fullPath = length != 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
    return static_cast<DWORD>(fullPath.size());
}

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
    // The buffer is only meaningful after a copy that succeeded.
    destinationName = ok ? std::string(buffer.data()) : std::string();
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

// ---- System information, profile, processes, power ----------------------------------

bool Win32Windows::GetComputerNameA(std::string& name, DWORD size) {
    std::vector<char> buffer(size + 1, '\0');
    ::DWORD length = size;
    const bool ok = ::GetComputerNameA(buffer.data(), &length);
    name = ok ? std::string(buffer.data(), length) : std::string();
    return ok;
}

bool Win32Windows::WriteProfileStringA(const char* section, const char* key, const char* value) {
    return ::WriteProfileStringA(section, key, value);
}

bool Win32Windows::GetVersionExA(OsVersionInfo* info) {
    ::OSVERSIONINFOA real{};
    real.dwOSVersionInfoSize = info->osVersionInfoSize;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const bool ok = ::GetVersionExA(&real);
#pragma GCC diagnostic pop
    if (!ok) return false;
    info->majorVersion = real.dwMajorVersion;
    info->minorVersion = real.dwMinorVersion;
    info->buildNumber = real.dwBuildNumber;
    info->platformId = real.dwPlatformId;
    info->csdVersion = real.szCSDVersion;
    return true;
}

Handle Win32Windows::GetCurrentProcess() {
    return FromHandle(::GetCurrentProcess());
}

Handle Win32Windows::GetModuleHandleA(const char* moduleName) {
    return FromHandle(::GetModuleHandleA(moduleName));
}

std::uintptr_t Win32Windows::GetProcAddress(Handle module, const char* procName) {
    return reinterpret_cast<std::uintptr_t>(
        ::GetProcAddress(reinterpret_cast<::HMODULE>(module), procName));
}

bool Win32Windows::IsWow64Process(Handle process, bool* wow64) {
    // Looked up at run time: systems older than Windows XP SP2 do not have it.
    using IsWow64ProcessFn = ::BOOL(WINAPI*)(::HANDLE, ::PBOOL);
    const auto call = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32"), "IsWow64Process")));
    if (!call) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    ::BOOL answer = FALSE;
    if (!call(ToHandle(process), &answer)) return false;
    *wow64 = answer != FALSE;
    return true;
}

UINT Win32Windows::WinExec(const char* commandLine, UINT show) {
    return ::WinExec(commandLine, show);
}

void Win32Windows::Sleep(DWORD milliseconds) {
    ::Sleep(milliseconds);
}

void Win32Windows::ExitProcess(UINT exitCode) {
    ::ExitProcess(exitCode);
}

bool Win32Windows::OpenProcessToken(Handle process, DWORD desiredAccess, Handle* token) {
    ::HANDLE opened = nullptr;
    const bool ok = ::OpenProcessToken(ToHandle(process), desiredAccess, &opened);
    *token = ok ? FromHandle(opened) : kNullHandle;
    return ok;
}

bool Win32Windows::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    ::LUID real{};
    if (!::LookupPrivilegeValueA(systemName, name, &real)) return false;
    luid->lowPart = real.LowPart;
    luid->highPart = real.HighPart;
    return true;
}

bool Win32Windows::AdjustTokenPrivileges(Handle token, bool disableAllPrivileges,
                                         const TokenPrivilege* newState) {
    ::TOKEN_PRIVILEGES real{};
    real.PrivilegeCount = newState->privilegeCount;
    real.Privileges[0].Luid.LowPart = newState->luid.lowPart;
    real.Privileges[0].Luid.HighPart = newState->luid.highPart;
    real.Privileges[0].Attributes = newState->attributes;
    return ::AdjustTokenPrivileges(ToHandle(token), disableAllPrivileges, &real, 0, nullptr,
                                   nullptr);
}

bool Win32Windows::CloseHandle(Handle object) {
    return ::CloseHandle(ToHandle(object));
}

bool Win32Windows::ExitWindowsEx(UINT flags, DWORD reason) {
    return ::ExitWindowsEx(flags, reason);
}

}  // namespace tessaly::winsys
