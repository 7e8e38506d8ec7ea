// The project's own headers come first: they declare constants with the names that
// <windows.h> later defines as macros of the same value.
#include <cstring>

#include "win32_windows.h"

// clang-format off
#include <windows.h>
#include <winspool.h>
// clang-format on

#include "conversions.h"

namespace tessaly::winsys {
using namespace detail;
namespace {

// Directory and name buffers of the documented sizes.
constexpr ::DWORD kDirectoryBuffer = 256;

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

}  // namespace tessaly::winsys
