#include <algorithm>
#include <cstring>
#include <sstream>

#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

namespace {

constexpr DWORD kPrinterAccessUse = 0x8;

}  // namespace

// ---- Spooler -------------------------------------------------------------------------------

bool FakeWindows::ValidEnvironment(const std::string& environment) const {
    return IEquals(environment, "Windows x64") || IEquals(environment, "Windows NT x86");
}

std::string FakeWindows::EnvironmentOf(const char* environment) const {
    if (!environment) return config_.defaultEnvironment;
    if (IEquals(environment, "Windows x64")) return "Windows x64";
    if (IEquals(environment, "Windows NT x86")) return "Windows NT x86";
    return environment;
}

std::string FakeWindows::PrintKey(const std::string& tail) {
    return "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\" + tail;
}

std::string FakeWindows::DriverKey(const std::string& environment, const std::string& name) const {
    return PrintKey("Environments\\" + environment + "\\Drivers\\Version-3\\" + name);
}

std::string FakeWindows::PrintProcessorKey(const std::string& environment,
                                           const std::string& name) const {
    return PrintKey("Environments\\" + environment + "\\Print Processors\\" + name);
}

FakeWindows::FakePrinter* FakeWindows::PrinterByName(const std::string& name) {
    for (auto& printer : printers_)
        if (IEquals(printer.info.printerName, name)) return &printer;
    return nullptr;
}

void FakeWindows::AddPrinter(const PrinterInfo2& info) {
    printers_.push_back({info, {}, 0});
    // The spooler keeps each queue's settings in a key with subkeys of its own.
    for (const char* sub : {"DsSpooler", "PrinterDriverData"})
        CreateKey(PrintKey("Printers\\" + info.printerName + "\\" + sub));
}

void FakeWindows::AddPrintJobs(const std::string& printer, DWORD count) {
    if (FakePrinter* p = PrinterByName(printer)) p->jobs += count;
}

void FakeWindows::SetPrinterDataDword(const std::string& printer, const std::string& value,
                                      DWORD data) {
    FakePrinter* p = PrinterByName(printer);
    if (!p) return;
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((data >> (8 * i)) & 0xFF);
    p->data[Key(value)] = {REG_DWORD, bytes};
}

void FakeWindows::AddDriver(const DriverInfo3& info) {
    drivers_.push_back(info);
    CreateKey(DriverKey(info.environment, info.name));
}

void FakeWindows::AddMonitor(const MonitorInfo2& info) {
    monitors_.push_back(info);
    CreateKey(PrintKey("Monitors\\" + info.name));
}

void FakeWindows::AddPrintProcessor(const std::string& environment, const std::string& name,
                                    const std::string& dll) {
    printProcessors_.push_back({environment, name, dll});
    CreateKey(PrintProcessorKey(environment, name));
}

void FakeWindows::AddForm(const std::string& name) {
    forms_.push_back({0, name});
}

bool FakeWindows::HasPrinter(const std::string& name) const {
    return FindPrinter(name) != nullptr;
}

const PrinterInfo2* FakeWindows::FindPrinter(const std::string& name) const {
    for (const auto& printer : printers_)
        if (IEquals(printer.info.printerName, name)) return &printer.info;
    return nullptr;
}

std::vector<std::string> FakeWindows::PrinterNames() const {
    std::vector<std::string> out;
    for (const auto& printer : printers_) out.push_back(printer.info.printerName);
    return out;
}

const DriverInfo3* FakeWindows::FindDriver(const std::string& environment,
                                           const std::string& name) const {
    for (const auto& driver : drivers_)
        if (IEquals(driver.environment, environment) && IEquals(driver.name, name)) return &driver;
    return nullptr;
}

bool FakeWindows::HasDriver(const std::string& environment, const std::string& name) const {
    return FindDriver(environment, name) != nullptr;
}

bool FakeWindows::HasMonitor(const std::string& name) const {
    return std::any_of(monitors_.begin(), monitors_.end(),
                       [&](const MonitorInfo2& m) { return IEquals(m.name, name); });
}

bool FakeWindows::HasPrintProcessor(const std::string& environment, const std::string& name) const {
    return std::any_of(printProcessors_.begin(), printProcessors_.end(), [&](const auto& p) {
        return IEquals(p.environment, environment) && IEquals(p.name, name);
    });
}

bool FakeWindows::HasForm(const std::string& name) const {
    return std::any_of(forms_.begin(), forms_.end(),
                       [&](const FormInfo1& f) { return IEquals(f.name, name); });
}

void FakeWindows::ReloadSpoolerFromRegistry() {
    printers_.erase(
        std::remove_if(printers_.begin(), printers_.end(),
                       [&](const FakePrinter& p) {
                           return !KeyExists(PrintKey("Printers\\" + p.info.printerName));
                       }),
        printers_.end());
    drivers_.erase(std::remove_if(drivers_.begin(), drivers_.end(),
                                  [&](const DriverInfo3& d) {
                                      return !KeyExists(DriverKey(d.environment, d.name));
                                  }),
                   drivers_.end());
    monitors_.erase(std::remove_if(monitors_.begin(), monitors_.end(),
                                   [&](const MonitorInfo2& m) {
                                       return !KeyExists(PrintKey("Monitors\\" + m.name));
                                   }),
                    monitors_.end());
    printProcessors_.erase(
        std::remove_if(printProcessors_.begin(), printProcessors_.end(),
                       [&](const FakePrintProcessor& p) {
                           return !KeyExists(PrintProcessorKey(p.environment, p.name));
                       }),
        printProcessors_.end());
}

bool FakeWindows::OpenPrinterA(const char* printerName, Handle* printer,
                               const PrinterDefaults* defaults) {
    const std::string args = Args(S(printerName), defaults ? Cat("{", S(defaults->datatype), ", ",
                                                                 Hex(defaults->desiredAccess), "}")
                                                           : std::string("NULL"));
    if (auto code = Injected("OpenPrinterA", args)) return BoolResult("OpenPrinterA", args, *code);
    if (!SpoolerRunning()) return BoolResult("OpenPrinterA", args, RPC_S_SERVER_UNAVAILABLE);
    const DWORD access = defaults ? defaults->desiredAccess : kPrinterAccessUse;
    std::string name;
    if (printerName) {
        FakePrinter* p = PrinterByName(printerName);
        if (!p) return BoolResult("OpenPrinterA", args, ERROR_INVALID_PRINTER_NAME);
        name = p->info.printerName;
    }
    const Handle h = NewHandle(name.empty() ? "print server" : "printer " + name);
    printerHandles_[h] = PrinterHandle{name, access};
    *printer = h;
    return BoolResult("OpenPrinterA", args, 0, Cat("[", HandleText(h), "]"));
}

bool FakeWindows::ClosePrinter(Handle printer) {
    const std::string args = HandleText(printer);
    if (!printerHandles_.erase(printer))
        return BoolResult("ClosePrinter", args, ERROR_INVALID_HANDLE);
    ReleaseHandle(printer);
    return BoolResult("ClosePrinter", args, 0);
}

bool FakeWindows::DeletePrinter(Handle printer) {
    const std::string args = HandleText(printer);
    if (auto code = Injected("DeletePrinter", args))
        return BoolResult("DeletePrinter", args, *code);
    const auto h = printerHandles_.find(printer);
    if (h == printerHandles_.end() || h->second.printer.empty())
        return BoolResult("DeletePrinter", args, ERROR_INVALID_HANDLE);
    if (!(h->second.access & DELETE)) return BoolResult("DeletePrinter", args, ERROR_ACCESS_DENIED);
    const std::string name = h->second.printer;
    FakePrinter* queue = PrinterByName(name);
    if (!queue) return BoolResult("DeletePrinter", args, ERROR_INVALID_PRINTER_NAME);
    if (queue->jobs > 0) {
        // A queue with jobs is only marked: it goes when its jobs are gone, or when the
        // spooler starts again. Until then it is listed and still uses its driver.
        queue->info.status |= PRINTER_STATUS_PENDING_DELETION;
        return BoolResult("DeletePrinter", args, 0, "[" + name + ", pending deletion]");
    }
    printers_.erase(
        std::remove_if(printers_.begin(), printers_.end(),
                       [&](const FakePrinter& p) { return IEquals(p.info.printerName, name); }),
        printers_.end());
    EraseKeyTree(PrintKey("Printers\\" + name));
    return BoolResult("DeletePrinter", args, 0, "[" + name + "]");
}

bool FakeWindows::EnumPrintersA(DWORD flags, const char* name, DWORD level,
                                std::vector<PrinterInfo2>& printers) {
    const std::string args = Args(Hex(flags), S(name), Dec(level));
    if (auto code = Injected("EnumPrintersA", args))
        return BoolResult("EnumPrintersA", args, *code);
    if (!SpoolerRunning()) return BoolResult("EnumPrintersA", args, RPC_S_SERVER_UNAVAILABLE);
    printers.clear();
    if (flags & PRINTER_ENUM_LOCAL)
        for (const auto& p : printers_) printers.push_back(p.info);
    std::string listed;
    for (const auto& p : printers) listed += (listed.empty() ? "" : ", ") + S(p.printerName);
    return BoolResult("EnumPrintersA", args, 0, "[" + listed + "]");
}

Handle FakeWindows::AddPrinterA(const char* serverName, DWORD level, const PrinterInfo2& info) {
    const std::string args =
        Args(S(serverName), Dec(level),
             Cat("{name ", S(info.printerName), ", port ", S(info.portName), ", driver ",
                 S(info.driverName), ", processor ", S(info.printProcessor), ", datatype ",
                 S(info.datatype), ", attributes ", Hex(info.attributes), ", priority ",
                 Dec(info.priority), ", status ", Hex(info.status), "}"));
    auto fail = [&](DWORD code) {
        lastError_ = code;
        Log("AddPrinterA", args, Cat("NULL, error ", Dec(code)));
        return kNullHandle;
    };
    if (auto code = Injected("AddPrinterA", args)) return fail(*code);
    if (!SpoolerRunning()) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (level != 2 || info.printerName.empty()) return fail(ERROR_INVALID_PRINTER_NAME);
    if (PrinterByName(info.printerName)) return fail(ERROR_PRINTER_ALREADY_EXISTS);
    if (std::none_of(ports_.begin(), ports_.end(),
                     [&](const std::string& p) { return IEquals(p, info.portName); }))
        return fail(ERROR_UNKNOWN_PORT);
    if (!HasDriver("Windows x64", info.driverName)) return fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    if (!HasPrintProcessor("Windows x64", info.printProcessor))
        return fail(ERROR_UNKNOWN_PRINTPROCESSOR);
    AddPrinter(info);
    const Handle h = NewHandle("printer " + info.printerName);
    printerHandles_[h] = PrinterHandle{info.printerName, PRINTER_ALL_ACCESS};
    Log("AddPrinterA", args, HandleText(h));
    return h;
}

DWORD FakeWindows::GetPrinterDataA(Handle printer, const char* valueName, DWORD* type,
                                   unsigned char* data, DWORD size, DWORD* needed) {
    const std::string args = Args(HandleText(printer), S(valueName), Dec(size));
    if (auto code = Injected("GetPrinterDataA", args))
        return CodeResult("GetPrinterDataA", args, *code);
    const auto h = printerHandles_.find(printer);
    if (h == printerHandles_.end())
        return CodeResult("GetPrinterDataA", args, ERROR_INVALID_HANDLE);
    FakePrinter* p = PrinterByName(h->second.printer);
    if (!p) return CodeResult("GetPrinterDataA", args, ERROR_INVALID_HANDLE);
    const auto value = p->data.find(Key(valueName ? valueName : ""));
    if (value == p->data.end()) return CodeResult("GetPrinterDataA", args, ERROR_FILE_NOT_FOUND);
    const std::string& bytes = value->second.second;
    if (needed) *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) return CodeResult("GetPrinterDataA", args, ERROR_MORE_DATA);
    if (type) *type = value->second.first;
    std::memcpy(data, bytes.data(), bytes.size());
    DWORD number = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        number |= static_cast<DWORD>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return CodeResult("GetPrinterDataA", args, 0, Cat("[", Dec(number), "]"));
}

bool FakeWindows::EnumPrinterDriversA(const char* serverName, const char* environment, DWORD level,
                                      std::vector<DriverInfo3>& drivers) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("EnumPrinterDriversA", args))
        return BoolResult("EnumPrinterDriversA", args, *code);
    if (!SpoolerRunning()) return BoolResult("EnumPrinterDriversA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("EnumPrinterDriversA", args, ERROR_INVALID_ENVIRONMENT);
    drivers.clear();
    std::string listed;
    for (const auto& d : drivers_)
        if (IEquals(d.environment, env)) {
            drivers.push_back(d);
            listed += (listed.empty() ? "" : ", ") + S(d.name);
        }
    return BoolResult("EnumPrinterDriversA", args, 0, "[" + listed + "]");
}

bool FakeWindows::AddPrinterDriverA(const char* serverName, DWORD level, const DriverInfo3& info) {
    std::string deps;
    for (std::size_t pos = 0; pos < info.dependentFiles.size();) {
        const auto end = info.dependentFiles.find('\0', pos);
        const std::string name = info.dependentFiles.substr(pos, end - pos);
        if (name.empty()) break;
        deps += (deps.empty() ? "" : " ") + name;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    const std::string args = Args(
        S(serverName), Dec(level),
        Cat("{version ", Dec(info.version), ", name ", S(info.name), ", environment ",
            S(info.environment), ", driver ", S(info.driverPath), ", data ", S(info.dataFile),
            ", config ", S(info.configFile), ", help ", S(info.helpFile), ", dependent [", deps,
            "], monitor ", S(info.monitorName), ", datatype ", S(info.defaultDataType), "}"));
    if (auto code = Injected("AddPrinterDriverA", args))
        return BoolResult("AddPrinterDriverA", args, *code);
    if (!SpoolerRunning()) return BoolResult("AddPrinterDriverA", args, RPC_S_SERVER_UNAVAILABLE);
    if (level != 3 || info.version != 3)
        return BoolResult("AddPrinterDriverA", args, ERROR_INVALID_PARAMETER);
    const std::string env = EnvironmentOf(info.environment.c_str());
    if (!ValidEnvironment(env))
        return BoolResult("AddPrinterDriverA", args, ERROR_INVALID_ENVIRONMENT);
    std::vector<std::string> files{info.driverPath, info.dataFile, info.configFile, info.helpFile};
    std::stringstream depStream(deps);
    for (std::string name; depStream >> name;) files.push_back(name);
    const std::string dir = DriverDir(env);
    for (const auto& file : files)
        if (!FileExists(dir + "\\" + file) && !FileExists(dir + "\\3\\" + file))
            return BoolResult("AddPrinterDriverA", args, ERROR_FILE_NOT_FOUND);
    for (const auto& file : files)
        if (FileExists(dir + "\\" + file))
            AddFile(dir + "\\3\\" + file, FileContent(dir + "\\" + file));
    drivers_.erase(std::remove_if(drivers_.begin(), drivers_.end(),
                                  [&](const DriverInfo3& d) {
                                      return IEquals(d.environment, env) &&
                                             IEquals(d.name, info.name);
                                  }),
                   drivers_.end());
    DriverInfo3 stored = info;
    stored.environment = env;
    AddDriver(stored);
    return BoolResult("AddPrinterDriverA", args, 0);
}

bool FakeWindows::DeletePrinterDriverExA(const char* serverName, const char* environment,
                                         const char* driverName, DWORD deleteFlag,
                                         DWORD versionFlag) {
    const std::string args =
        Args(S(serverName), S(environment), S(driverName), Hex(deleteFlag), Dec(versionFlag));
    if (auto code = Injected("DeletePrinterDriverExA", args))
        return BoolResult("DeletePrinterDriverExA", args, *code);
    if (!SpoolerRunning())
        return BoolResult("DeletePrinterDriverExA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("DeletePrinterDriverExA", args, ERROR_INVALID_ENVIRONMENT);
    const std::string name = driverName ? driverName : "";
    const DriverInfo3* driver = FindDriver(env, name);
    if (!driver) return BoolResult("DeletePrinterDriverExA", args, ERROR_UNKNOWN_PRINTER_DRIVER);
    if (std::any_of(printers_.begin(), printers_.end(),
                    [&](const FakePrinter& p) { return IEquals(p.info.driverName, name); }))
        return BoolResult("DeletePrinterDriverExA", args, ERROR_PRINTER_DRIVER_IN_USE);
    // Files another installed driver of the environment also uses (as the universal driver's
    // files are): "all files" refuses to delete the driver, "unused files" keeps them.
    const auto filesOf = [](const DriverInfo3& d) {
        std::vector<std::string> files{d.driverPath, d.dataFile, d.configFile, d.helpFile};
        std::string deps = d.dependentFiles;
        std::replace(deps.begin(), deps.end(), '\0', ' ');
        std::stringstream depStream(deps);
        for (std::string file; depStream >> file;) files.push_back(file);
        return files;
    };
    const auto shared = [&](const std::string& file) {
        return std::any_of(drivers_.begin(), drivers_.end(), [&](const DriverInfo3& other) {
            if (&other == driver || !IEquals(other.environment, env)) return false;
            const auto theirs = filesOf(other);
            return std::any_of(theirs.begin(), theirs.end(),
                               [&](const std::string& f) { return IEquals(f, file); });
        });
    };
    const std::vector<std::string> files = filesOf(*driver);
    if ((deleteFlag & DPD_DELETE_ALL_FILES) && std::any_of(files.begin(), files.end(), shared))
        return BoolResult("DeletePrinterDriverExA", args, ERROR_PRINTER_DRIVER_IN_USE);
    if (deleteFlag & (DPD_DELETE_ALL_FILES | DPD_DELETE_UNUSED_FILES))
        for (const auto& file : files)
            if (!shared(file)) files_.erase(Key(FullPath(DriverDir(env) + "\\3\\" + file)));
    EraseKeyTree(DriverKey(env, name));
    ReloadSpoolerFromRegistry();
    return BoolResult("DeletePrinterDriverExA", args, 0);
}

bool FakeWindows::GetPrinterDriverDirectoryA(const char* serverName, const char* environment,
                                             DWORD level, std::string& directory) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("GetPrinterDriverDirectoryA", args))
        return BoolResult("GetPrinterDriverDirectoryA", args, *code);
    if (!SpoolerRunning())
        return BoolResult("GetPrinterDriverDirectoryA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("GetPrinterDriverDirectoryA", args, ERROR_INVALID_ENVIRONMENT);
    if (level != 1) return BoolResult("GetPrinterDriverDirectoryA", args, ERROR_INVALID_PARAMETER);
    directory = DriverDir(env);
    return BoolResult("GetPrinterDriverDirectoryA", args, 0, S(directory));
}

bool FakeWindows::EnumPrintProcessorsA(const char* serverName, const char* environment, DWORD level,
                                       std::vector<std::string>& names) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("EnumPrintProcessorsA", args))
        return BoolResult("EnumPrintProcessorsA", args, *code);
    if (!SpoolerRunning())
        return BoolResult("EnumPrintProcessorsA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("EnumPrintProcessorsA", args, ERROR_INVALID_ENVIRONMENT);
    names.clear();
    std::string listed;
    for (const auto& p : printProcessors_)
        if (IEquals(p.environment, env)) {
            names.push_back(p.name);
            listed += (listed.empty() ? "" : ", ") + S(p.name);
        }
    return BoolResult("EnumPrintProcessorsA", args, 0, "[" + listed + "]");
}

bool FakeWindows::AddPrintProcessorA(const char* serverName, const char* environment,
                                     const char* pathName, const char* printProcessorName) {
    const std::string args =
        Args(S(serverName), S(environment), S(pathName), S(printProcessorName));
    if (auto code = Injected("AddPrintProcessorA", args))
        return BoolResult("AddPrintProcessorA", args, *code);
    if (!SpoolerRunning()) return BoolResult("AddPrintProcessorA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("AddPrintProcessorA", args, ERROR_INVALID_ENVIRONMENT);
    const std::string name = printProcessorName ? printProcessorName : "";
    if (HasPrintProcessor(env, name))
        return BoolResult("AddPrintProcessorA", args, ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED);
    if (!pathName || !FileExists(PrintProcessorDir(env) + "\\" + pathName))
        return BoolResult("AddPrintProcessorA", args, ERROR_FILE_NOT_FOUND);
    AddPrintProcessor(env, name, pathName);
    return BoolResult("AddPrintProcessorA", args, 0);
}

bool FakeWindows::DeletePrintProcessorA(const char* serverName, const char* environment,
                                        const char* printProcessorName) {
    const std::string args = Args(S(serverName), S(environment), S(printProcessorName));
    if (auto code = Injected("DeletePrintProcessorA", args))
        return BoolResult("DeletePrintProcessorA", args, *code);
    if (!SpoolerRunning())
        return BoolResult("DeletePrintProcessorA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    const std::string name = printProcessorName ? printProcessorName : "";
    if (!HasPrintProcessor(env, name))
        return BoolResult("DeletePrintProcessorA", args, ERROR_UNKNOWN_PRINTPROCESSOR);
    EraseKeyTree(PrintProcessorKey(env, name));
    ReloadSpoolerFromRegistry();
    return BoolResult("DeletePrintProcessorA", args, 0);
}

bool FakeWindows::GetPrintProcessorDirectoryA(const char* serverName, const char* environment,
                                              DWORD level, std::string& directory) {
    const std::string args = Args(S(serverName), S(environment), Dec(level));
    if (auto code = Injected("GetPrintProcessorDirectoryA", args))
        return BoolResult("GetPrintProcessorDirectoryA", args, *code);
    if (!SpoolerRunning())
        return BoolResult("GetPrintProcessorDirectoryA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string env = EnvironmentOf(environment);
    if (!ValidEnvironment(env))
        return BoolResult("GetPrintProcessorDirectoryA", args, ERROR_INVALID_ENVIRONMENT);
    directory = PrintProcessorDir(env);
    return BoolResult("GetPrintProcessorDirectoryA", args, 0, S(directory));
}

bool FakeWindows::AddMonitorA(const char* serverName, DWORD level, const MonitorInfo2& info) {
    const std::string args =
        Args(S(serverName), Dec(level),
             Cat("{", S(info.name), ", ", S(info.environment), ", ", S(info.dllName), "}"));
    if (auto code = Injected("AddMonitorA", args)) return BoolResult("AddMonitorA", args, *code);
    if (!SpoolerRunning()) return BoolResult("AddMonitorA", args, RPC_S_SERVER_UNAVAILABLE);
    if (level != 2 || !ValidEnvironment(info.environment))
        return BoolResult("AddMonitorA", args, ERROR_INVALID_ENVIRONMENT);
    if (HasMonitor(info.name))
        return BoolResult("AddMonitorA", args, ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    // The spooler loads the DLL through the usual search path (system, then Windows folder).
    if (!FileExists(config_.windowsDirectory + "\\system32\\" + info.dllName) &&
        !FileExists(config_.windowsDirectory + "\\" + info.dllName))
        return BoolResult("AddMonitorA", args, ERROR_MOD_NOT_FOUND);
    AddMonitor(info);
    return BoolResult("AddMonitorA", args, 0);
}

bool FakeWindows::DeleteMonitorA(const char* serverName, const char* environment,
                                 const char* monitorName) {
    const std::string args = Args(S(serverName), S(environment), S(monitorName));
    if (auto code = Injected("DeleteMonitorA", args))
        return BoolResult("DeleteMonitorA", args, *code);
    if (!SpoolerRunning()) return BoolResult("DeleteMonitorA", args, RPC_S_SERVER_UNAVAILABLE);
    const std::string name = monitorName ? monitorName : "";
    if (!HasMonitor(name)) return BoolResult("DeleteMonitorA", args, ERROR_UNKNOWN_PRINT_MONITOR);
    if (std::any_of(drivers_.begin(), drivers_.end(),
                    [&](const DriverInfo3& d) { return IEquals(d.monitorName, name); }))
        return BoolResult("DeleteMonitorA", args, ERROR_PRINT_MONITOR_IN_USE);
    EraseKeyTree(PrintKey("Monitors\\" + name));
    ReloadSpoolerFromRegistry();
    return BoolResult("DeleteMonitorA", args, 0);
}

bool FakeWindows::EnumFormsA(Handle printer, DWORD level, std::vector<FormInfo1>& forms) {
    const std::string args = Args(HandleText(printer), Dec(level));
    if (auto code = Injected("EnumFormsA", args)) return BoolResult("EnumFormsA", args, *code);
    if (!printerHandles_.count(printer))
        return BoolResult("EnumFormsA", args, ERROR_INVALID_HANDLE);
    forms = forms_;
    std::string listed;
    for (const auto& f : forms) listed += (listed.empty() ? "" : ", ") + S(f.name);
    return BoolResult("EnumFormsA", args, 0, "[" + listed + "]");
}

bool FakeWindows::DeleteFormA(Handle printer, const char* formName) {
    const std::string args = Args(HandleText(printer), S(formName));
    if (auto code = Injected("DeleteFormA", args)) return BoolResult("DeleteFormA", args, *code);
    if (!printerHandles_.count(printer))
        return BoolResult("DeleteFormA", args, ERROR_INVALID_HANDLE);
    const auto it = std::find_if(forms_.begin(), forms_.end(), [&](const FormInfo1& f) {
        return formName && IEquals(f.name, formName);
    });
    if (it == forms_.end()) return BoolResult("DeleteFormA", args, ERROR_INVALID_FORM_NAME);
    if (it->flags == 1) return BoolResult("DeleteFormA", args, ERROR_INVALID_PARAMETER);
    forms_.erase(it);
    return BoolResult("DeleteFormA", args, 0);
}

}  // namespace tessaly::winsys::fake
