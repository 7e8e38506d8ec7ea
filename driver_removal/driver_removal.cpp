#include "driver_removal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "key_permission.h"

namespace tessaly::removal {
namespace {

using namespace winsys;

// Names and paths are built in 256-byte buffers.
constexpr std::size_t kNameChars = 255;
constexpr std::size_t kHardwareIdPrefixChars = 49;  // 50-byte buffer
constexpr DWORD kHardwareIdBufferSize = 100;
constexpr std::size_t kHardwareIdCompareChars = 21;
constexpr DWORD kDriverVersion3 = 3;
constexpr char kPrintKeyRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\";
// The spooler service gets this long to stop, and again to start; its state is asked for this
// often meanwhile.
constexpr DWORD kServiceWaitMs = 30000;
constexpr DWORD kServicePollMs = 250;

std::string Cut(std::string text, std::size_t chars = kNameChars) {
    if (text.size() > chars) text.resize(chars);
    return text;
}

// Case-insensitive comparison of at most n characters, stopping at the end of either text.
bool SameStart(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::toupper(static_cast<unsigned char>(a[i]));
        const int cb = std::toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
    return true;
}

void DeleteDriverForms(WindowsServices& sys, const std::string& formTag) {
    Handle server = kNullHandle;
    if (!sys.OpenPrinterA(nullptr, &server, nullptr)) return;
    std::vector<FormInfo1> forms;
    if (sys.EnumFormsA(server, 1, forms)) {
        for (const FormInfo1& form : forms)
            if (form.name.find(formTag) != std::string::npos)
                sys.DeleteFormA(server, form.name.c_str());
    }
    sys.ClosePrinter(server);
}

// Deletes a key with every subkey under it (64-bit view). Returns the result of deleting the
// key itself (ERROR_FILE_NOT_FOUND when there was none).
DWORD DeleteKeyTree(WindowsServices& sys, const std::string& subKey) {
    HKEY key = kNullHandle;
    if (sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0,
                          KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        // The first subkey each time, since each one found is deleted; one that cannot be
        // deleted ends the walk (the key's own deletion then fails and says why).
        std::string child;
        while (sys.RegEnumKeyExA(key, 0, child) == ERROR_SUCCESS)
            if (DeleteKeyTree(sys, subKey + "\\" + child) != ERROR_SUCCESS) break;
        sys.RegCloseKey(key);
    }
    return sys.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_64KEY, 0);
}

bool Gone(DWORD error) {
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}

// Whether the driver is still installed after the spooler restarted; when the spooler cannot
// say, whether its keys were left.
bool DriverRemains(WindowsServices& sys, const std::string& driverName, bool keysTried,
                   DWORD keyError) {
    std::vector<DriverInfo3> drivers;
    if (!sys.EnumPrinterDriversA(nullptr, kEnvironmentX64, 3, drivers))
        return !keysTried || !Gone(keyError);
    return std::any_of(drivers.begin(), drivers.end(),
                       [&](const DriverInfo3& driver) { return driver.name == driverName; });
}

// Waits until the service reaches `wanted`; false (with the reason in `error`) when it does
// not within the bound or cannot be asked.
bool WaitForServiceState(WindowsServices& sys, Handle service, DWORD wanted, DWORD& error) {
    for (DWORD waited = 0;; waited += kServicePollMs) {
        ServiceStatus status;
        if (!sys.QueryServiceStatus(service, &status)) {
            error = sys.GetLastError();
            return false;
        }
        if (status.currentState == wanted) return true;
        // Stopped while it was to start: it will not get there by waiting.
        if (wanted == SERVICE_RUNNING && status.currentState == SERVICE_STOPPED) {
            error = status.win32ExitCode != ERROR_SUCCESS ? status.win32ExitCode
                                                          : ERROR_SERVICE_REQUEST_TIMEOUT;
            return false;
        }
        if (waited >= kServiceWaitMs) {
            error = ERROR_SERVICE_REQUEST_TIMEOUT;
            return false;
        }
        sys.Sleep(kServicePollMs);
    }
}

// Deletes the driver through the spooler: with all its files, and when another driver shares
// one of them, with only the files nobody else uses, then without its files. Returns the
// last failure's code, ERROR_SUCCESS once one of them succeeded.
DWORD DeleteDriverThroughSpooler(WindowsServices& sys, const std::string& driverName) {
    DWORD error = ERROR_SUCCESS;
    for (const DWORD files : {DPD_DELETE_ALL_FILES, DPD_DELETE_UNUSED_FILES, DWORD{0}}) {
        if (sys.DeletePrinterDriverExA(nullptr, kEnvironmentX64, driverName.c_str(), files,
                                       kDriverVersion3))
            return ERROR_SUCCESS;
        error = sys.GetLastError();
        // Nothing to delete: no other way will find the driver either.
        if (error == ERROR_UNKNOWN_PRINTER_DRIVER) break;
    }
    return error;
}

// Deletes directory + "\" + name unless the directory could not be had: a path without its
// folder would name a file at the root of the current drive.
void DeleteIn(WindowsServices& sys, bool haveDirectory, const std::string& directory,
              const std::string& name) {
    if (!haveDirectory) return;
    sys.DeleteFileA(Cut(directory + "\\" + name).c_str());
}

void DeleteDriverFiles(WindowsServices& sys, const RemovalNames& names) {
    std::string dir;
    bool have = sys.GetSystemDirectoryA(dir) != 0;
    DeleteIn(sys, have, dir, names.monitorDll);
    have = sys.GetSystemWow64DirectoryA(dir) != 0;
    DeleteIn(sys, have, dir, names.monitorDll);
    // A 32-bit program (which this is) has a 32-bit system folder only on 64-bit Windows,
    // where the system folder's name leads it to that same folder; the 64-bit one is reached
    // through the Windows folder's "Sysnative".
    const bool wow64 = have;
    have = sys.GetWindowsDirectoryA(dir) != 0;
    if (wow64) DeleteIn(sys, have, dir + "\\Sysnative", names.monitorDll);
    DeleteIn(sys, have, dir, names.monitorDll);
    have = sys.GetPrintProcessorDirectoryA(nullptr, kEnvironmentX64, 1, dir);
    DeleteIn(sys, have, dir, names.printProcessorDll);
    have = sys.GetPrinterDriverDirectoryA(nullptr, kEnvironmentX64, 1, dir);
    for (const std::string* file : {&names.resourceDll, &names.dataFile, &names.budFile,
                                    &names.uiDll, &names.iniFile, &names.renderDll})
        DeleteIn(sys, have, dir + "\\3", *file);
}

void UninstallRecordedInf(WindowsServices& sys, const std::string& uninstallKey) {
    HKEY key = kNullHandle;
    // The installer writes this key in the 64-bit view; a 32-bit program must ask for that
    // view to find it.
    if (sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstallKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                          &key) != ERROR_SUCCESS)
        return;
    std::array<unsigned char, 256> buffer{};
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD type = 0;
    if (sys.RegQueryValueExA(key, "InfFile", &type, buffer.data(), &size) == ERROR_SUCCESS) {
        const std::size_t stored = std::min<std::size_t>(size, buffer.size() - 1);
        const std::string value(reinterpret_cast<const char*>(buffer.data()),
                                strnlen(reinterpret_cast<const char*>(buffer.data()), stored));
        std::string windows;
        // Only the length of Windows directory + "\inf\" is taken off; the text is not compared.
        // Without that length the cut would land anywhere.
        if (sys.GetWindowsDirectoryA(windows) != 0) {
            const std::size_t prefix = windows.size() + std::strlen("\\inf\\");
            const std::string name = value.size() > prefix ? value.substr(prefix) : std::string{};
            sys.SetupUninstallOEMInfA(name.c_str(), SUOI_FORCEDELETE, nullptr);
        }
    }
    sys.RegCloseKey(key);
}

}  // namespace

RemovalNames ComposeRemovalNames(std::string_view modelCode, char editionLetter) {
    const std::string model(modelCode);
    std::string shortCode = model;
    if (shortCode.size() >= 2) shortCode.erase(1, 1);
    const std::string edition(1, editionLetter);
    RemovalNames n;
    n.formTag = Cut("[" + shortCode + "]");
    n.driverName = Cut("Vantreel " + model);
    n.monitorName = Cut("Vantreel Language Monitor " + model);
    n.printProcessorName = Cut("Vantreel PRINT PROCESSOR " + model);
    n.monitorDll = Cut("MON" + shortCode + ".DLL");
    n.printProcessorDll = Cut("PRO" + shortCode + ".dll");
    n.resourceDll = Cut(shortCode + edition + ".dll");
    n.dataFile = Cut(shortCode + edition + ".GPD");
    n.budFile = Cut(shortCode + edition + ".BUD");
    n.uiDll = Cut("UI" + shortCode + ".dll");
    n.iniFile = Cut("UI" + shortCode + ".INI");
    n.renderDll = Cut("UNI" + shortCode + ".dll");
    n.uninstallKey = Cut(kUninstallKeyPrefix + model);
    return n;
}

DWORD RemoveDriver(WindowsServices& sys, std::string_view modelCode, char editionLetter,
                   RemovalReport& report) {
    const RemovalNames names = ComposeRemovalNames(modelCode, editionLetter);
    const std::string model(modelCode);

    DeleteDriverForms(sys, names.formTag);

    const DWORD driverError = DeleteDriverThroughSpooler(sys, names.driverName);
    // When the spooler would not delete the driver, its keys are deleted instead, while the
    // spooler is stopped: a running spooler keeps, and may write back, what it has loaded.
    bool stopped = false;
    DWORD keyError = driverError;
    RestartSpooler(sys, report, [&](bool spoolerStopped) {
        stopped = spoolerStopped;
        if (driverError == ERROR_SUCCESS || !stopped) return;
        keyError = DeleteKeyTree(
            sys, Cut(std::string(kPrintKeyRoot) +
                     "Environments\\Windows x64\\Drivers\\Version-3\\Vantreel " + model));
        DeleteKeyTree(sys, Cut(std::string(kPrintKeyRoot) + "Printers\\Vantreel " + model));
    });
    if (driverError != ERROR_SUCCESS && DriverRemains(sys, names.driverName, stopped, keyError)) {
        report.Add("the driver " + names.driverName + " could not be removed",
                   Gone(keyError) ? driverError : keyError);
        report.DriverRemains();
    }

    if (!sys.DeleteMonitorA(nullptr, kEnvironmentX64, names.monitorName.c_str())) {
        const DWORD error = sys.GetLastError();
        const std::string key =
            Cut(std::string(kPrintKeyRoot) + "Monitors\\Vantreel Language Monitor " + model);
        if (!Gone(sys.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0)) &&
            error != ERROR_UNKNOWN_PRINT_MONITOR)
            report.Add("the language monitor " + names.monitorName + " could not be removed",
                       error);
    }

    if (!sys.DeletePrintProcessorA(nullptr, kEnvironmentX64, names.printProcessorName.c_str())) {
        const DWORD error = sys.GetLastError();
        const std::string key =
            Cut(std::string(kPrintKeyRoot) +
                "Environments\\Windows x64\\Print Processors\\Vantreel PRINT PROCESSOR " + model);
        if (!Gone(sys.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0)) &&
            error != ERROR_UNKNOWN_PRINTPROCESSOR)
            report.Add("the print processor " + names.printProcessorName + " could not be removed",
                       error);
    }

    DeleteDriverFiles(sys, names);
    UninstallRecordedInf(sys, names.uninstallKey);
    const DWORD result =
        sys.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, names.uninstallKey.c_str(), KEY_WOW64_64KEY, 0);
    if (!Gone(result))
        report.Add("the entry in the list of installed programs could not be deleted", result);
    return result;
}

void RestartSpooler(WindowsServices& sys, RemovalReport& report,
                    const std::function<void(bool stopped)>& whileStopped) {
    const Handle manager = sys.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    const Handle spooler =
        manager == kNullHandle
            ? kNullHandle
            : sys.OpenServiceA(manager, "Spooler",
                               SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
    if (spooler == kNullHandle) {
        report.Add("the print spooler could not be restarted", sys.GetLastError());
        whileStopped(false);
        if (manager != kNullHandle) sys.CloseServiceHandle(manager);
        return;
    }
    ServiceStatus status;
    DWORD error = ERROR_SUCCESS;
    bool stopped = false;
    if (sys.ControlService(spooler, SERVICE_CONTROL_STOP, &status) ||
        sys.GetLastError() == ERROR_SERVICE_NOT_ACTIVE)
        stopped = WaitForServiceState(sys, spooler, SERVICE_STOPPED, error);
    else
        error = sys.GetLastError();
    if (!stopped) report.Add("the print spooler could not be stopped", error);
    whileStopped(stopped);
    bool running = false;
    if (sys.StartServiceA(spooler) || sys.GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
        running = WaitForServiceState(sys, spooler, SERVICE_RUNNING, error);
    else
        error = sys.GetLastError();
    if (!running) report.Add("the print spooler did not start again", error);
    sys.CloseServiceHandle(spooler);
    sys.CloseServiceHandle(manager);
}

void GrantEveryoneAndDeleteEnumKeys(WindowsServices& sys, RemovalReport& report) {
    std::string computer;
    sys.GetComputerNameA(computer, 256);
    const std::string machine = "\\\\" + computer;
    GrantEveryoneAndDeleteKey(sys, machine + "\\HKLM\\" + kUsbPrintEnumKey, kUsbPrintEnumKey,
                              report);
    GrantEveryoneAndDeleteKey(sys, machine + "\\HKLM\\" + kLptEnumKey, kLptEnumKey, report);
}

void RemoveDriverPackage(WindowsServices& sys, std::string_view modelCode, char editionLetter,
                         RemovalReport& report) {
    RemoveDriver(sys, modelCode, editionLetter, report);
    if (!RemoveUsbDevices(sys, kUsbHardwareIdPrefix))
        report.Add("a USB device entry of the printer could not be removed", sys.GetLastError());
    GrantEveryoneAndDeleteEnumKeys(sys, report);
    sys.WriteProfileStringA(kProfileSection, kDeviceNotSelectedTimeout, "15");
    sys.WriteProfileStringA(kProfileSection, kTransmissionRetryTimeout, "90");
    UninstallOemInfFiles(sys);
    std::string driverDir;
    // Without the driver directory the path would name a folder at the drive's root.
    if (sys.GetPrinterDriverDirectoryA(nullptr, kEnvironmentX64, 1, driverDir))
        DeleteFolderTree(sys, Cut(driverDir + "\\" + kDriverFolderName));
}

std::string PerPrinterKey(const std::string& printerName) {
    std::string key = Cut(kPerPrinterKeyPrefix + printerName);
    for (char& c : key)
        if (c == ' ') c = '_';
    return key;
}

void DeletePrinterQueue(WindowsServices& sys, const std::string& printerName,
                        RemovalReport& report) {
    PrinterDefaults defaults{"raw", PRINTER_ALL_ACCESS};
    Handle printer = kNullHandle;
    if (sys.OpenPrinterA(printerName.c_str(), &printer, &defaults)) {
        if (!sys.DeletePrinter(printer))
            report.Add("queue " + printerName + " could not be deleted", sys.GetLastError());
        sys.ClosePrinter(printer);
    } else if (sys.GetLastError() != ERROR_INVALID_PRINTER_NAME) {
        report.Add("queue " + printerName + " could not be deleted", sys.GetLastError());
    }
    const DWORD keyError = DeleteKeyTree(sys, PerPrinterKey(printerName));
    if (!Gone(keyError))
        report.Add("the settings of queue " + printerName + " could not be deleted", keyError);
}

bool RemoveUsbDevices(WindowsServices& sys, std::string_view hardwareIdPrefix) {
    const std::string prefix = Cut(std::string(hardwareIdPrefix), kHardwareIdPrefixChars);
    const Handle devices =
        sys.SetupDiGetClassDevsA(nullptr, "USB", kNullHandle, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) return false;
    for (DWORD index = 0;; ++index) {
        SpDevinfoData device;
        device.cbSize = kSpDevinfoDataSize32;
        if (!sys.SetupDiEnumDeviceInfo(devices, index, &device)) {
            const bool finished = sys.GetLastError() == ERROR_NO_MORE_ITEMS;
            // Any other error ends the walk too: retrying the same index would never end.
            const bool destroyed = sys.SetupDiDestroyDeviceInfoList(devices);
            return finished && destroyed;
        }
        std::array<unsigned char, kHardwareIdBufferSize + 1> id{};  // keeps a terminator
        DWORD type = 0;
        DWORD required = 0;
        if (!sys.SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, &type,
                                                   id.data(), kHardwareIdBufferSize, &required))
            continue;
        // Only the first string of the multi-string takes part.
        if (SameStart(reinterpret_cast<const char*>(id.data()), prefix.c_str(),
                      kHardwareIdCompareChars) &&
            !sys.SetupDiRemoveDevice(devices, &device)) {
            sys.SetupDiDestroyDeviceInfoList(devices);
            return false;
        }
    }
}

void UninstallOemInfFiles(WindowsServices& sys) {
    std::vector<std::string> names;
    if (!sys.SetupGetInfFileListA(nullptr, INF_STYLE_WIN4, names)) return;
    for (const std::string& name : names) {
        if (name.compare(0, 3, "oem") != 0) continue;  // exact case
        const Handle inf =
            sys.SetupOpenInfFileA(name.c_str(), nullptr, INF_STYLE_OLDNT | INF_STYLE_WIN4);
        if (inf == INVALID_HANDLE_VALUE) continue;
        InfContext context;
        if (sys.SetupFindFirstLineA(inf, kInfSection, kInfKey, &context))
            sys.SetupUninstallOEMInfA(name.c_str(), SUOI_FORCEDELETE, nullptr);
        sys.SetupCloseInfFile(inf);
    }
}

void DeleteFolderTree(WindowsServices& sys, const std::string& path) {
    const DWORD attributes = sys.GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        sys.RemoveDirectoryA(path.c_str());  // the folder is itself a link
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES)
        sys.SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);

    std::string pattern = path;
    if (pattern.empty() || pattern.back() != '\\') pattern += '\\';
    const std::string folder = pattern;  // with the trailing separator
    pattern += "*.*";

    FindData entry;
    const Handle find = sys.FindFirstFileA(pattern.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (entry.fileName == "." || entry.fileName == "..") continue;
            const std::string full = folder + entry.fileName;
            if (entry.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A junction or symbolic link: remove the link, never what it leads to.
                if (entry.fileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    sys.RemoveDirectoryA(full.c_str());
                else
                    sys.DeleteFileA(full.c_str());
            } else if (entry.fileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteFolderTree(sys, full);
                sys.RemoveDirectoryA(full.c_str());
            } else {
                sys.SetFileAttributesA(full.c_str(),
                                       entry.fileAttributes & ~FILE_ATTRIBUTE_READONLY);
                sys.DeleteFileA(full.c_str());
            }
        } while (sys.FindNextFileA(find, &entry));
        sys.FindClose(find);
    }
    sys.RemoveDirectoryA(pattern.substr(0, pattern.rfind('\\')).c_str());
}

bool RestartWindows(WindowsServices& sys) {
    Handle token = kNullHandle;
    if (!sys.OpenProcessToken(sys.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                              &token))
        return false;
    TokenPrivilege privilege;
    sys.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privilege.luid);
    privilege.privilegeCount = 1;
    privilege.attributes = SE_PRIVILEGE_ENABLED;
    sys.AdjustTokenPrivileges(token, false, &privilege);
    const DWORD error = sys.GetLastError();
    sys.CloseHandle(token);
    if (error != ERROR_SUCCESS) return false;
    return sys.ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0);
}

}  // namespace tessaly::removal
