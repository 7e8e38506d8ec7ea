#include "driver_model.h"

#include <array>
#include <vector>

#include "driver_removal.h"
#include "error_report.h"

namespace tessaly::installer {
namespace {

using namespace winsys;
using removal::kEnvironmentX64;

constexpr char kInfSource[] = "Driver\\R3.INF";
constexpr DWORD kInfDestinationSize = 260;
constexpr char kDisplayName[] = "Vantreel R-3 Windows Driver V1.0.0E";
constexpr char kRestartQuestion[] =
    "Restart the computer can take effect.\nPlease restart the computer."
    "\n\n[Yes] I want to restart my computer now.\n[No] I will restart my computer later.";
constexpr char kPowerCycleMessage[] =
    "Installation is completed.\nPlease turn-off printer and turn-on printer.";
constexpr char kPermissionAdvice[] =
    "\n\nOpen that key in the Registry Editor (regedit) and remove Everyone from its "
    "permissions.";
// The driver's dependent files: one fixed list, each name ended by a zero, the list by one more.
constexpr char kDependentFiles[] =
    "UNIRES.DLL\0STDNAMES.GPD\0R3E.DLL\0UIR3.DLL\0UNIR3.DLL\0UIR3.INI\0";
constexpr std::array<const char*, 4> kTools{"R3_Uninstaller.exe", "NVLogo.exe", "NVPack.inf",
                                            "Tessaly.exe"};

const char* PortName(int portCode) {
    static constexpr std::array<const char*, 6> kPorts{
        "COM1:", "COM2:", "COM3:", "COM4:", "LPT1:", "LPT2:"};
    // An unknown code gives no port name, which the spooler refuses.
    if (portCode < kPortCom1 || portCode > kPortLpt2) return "";
    return kPorts[static_cast<std::size_t>(portCode - kPortCom1)];
}

void SetString(WindowsServices& sys, HKEY key, const char* name, const std::string& value) {
    sys.RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const unsigned char*>(value.data()),
                       static_cast<DWORD>(value.size()));
}

}  // namespace

void DriverModel::ComposeNames(std::string_view modelNumber, char editionLetter,
                               bool hasProcessor) {
    const std::string number(modelNumber);
    hasPrintProcessor = hasProcessor;
    monitorDll += number + ".DLL";
    uiDll += number + ".DLL";
    renderDll += number + ".DLL";
    if (hasPrintProcessor) printProcessorDll += number + ".DLL";
    resourceDll += number + std::string(1, editionLetter) + ".DLL";
    monitorName += number;
    driverName += number;
    if (hasPrintProcessor) printProcessorName += number;
}

void DriverModel::Step(const std::string& text) {
    status_.SetStatus(text);
    status_.StepIt();
    status_.Refresh();
    sys_.Sleep(500);
}

void DriverModel::Report(std::string_view call, DWORD code) {
    removal::ShowErrorReport(sys_, kNullHandle, call, code, kCaption);
}

std::string DriverModel::ChooseQueueName(bool driverInstalled) {
    std::string name = driverName;
    if (!driverInstalled) return name;
    for (int n = 1;; ++n) {
        Handle printer = kNullHandle;
        if (!sys_.OpenPrinterA(name.c_str(), &printer, nullptr)) return name;
        sys_.ClosePrinter(printer);
        name = driverName + "(#" + std::to_string(n) + ")";
    }
}

void DriverModel::PreInstallCleanUp() {
    std::string directory;
    // Without the directory the path would name a folder at the root of the drive.
    if (sys_.GetPrinterDriverDirectoryA(nullptr, nullptr, 1, directory))
        removal::DeleteFolderTree(sys_, directory + "\\" + removal::kDriverFolderName);
    removal::RemoveUsbDevices(sys_, removal::kUsbHardwareIdPrefix);
    removal::RemovalReport report;
    removal::GrantEveryoneAndDeleteEnumKeys(sys_, report);
    if (!report.Empty()) {
        const std::string text = report.Text(sys_, false) + kPermissionAdvice;
        sys_.MessageBoxA(kNullHandle, text.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
    }
}

bool DriverModel::Folder(const char* call, bool found, const std::string& folder) {
    // A folder that cannot be had would leave "\" + name: a path at the root of the drive.
    if (found && !folder.empty()) return true;
    Report(call, sys_.GetLastError());
    return false;
}

bool DriverModel::InstallComponents(std::string& driverDirectory) {
    std::string windows;
    if (Folder("GetWindowsDirectory", sys_.GetWindowsDirectoryA(windows) != 0, windows))
        sys_.CopyFileA(("driver\\" + monitorDll).c_str(), (windows + "\\" + monitorDll).c_str(),
                       false);
    if (hasPrintProcessor) {
        std::string processors;
        if (Folder("GetPrintProcessorDirectory",
                   sys_.GetPrintProcessorDirectoryA(nullptr, kEnvironmentX64, 1, processors),
                   processors))
            sys_.CopyFileA(("driver\\" + printProcessorDll).c_str(),
                           (processors + "\\" + printProcessorDll).c_str(), false);
    }

    Step("Install language monitor...\r\n");
    const MonitorInfo2 monitor{monitorName, kEnvironmentX64, monitorDll};
    if (!sys_.AddMonitorA(nullptr, 2, monitor)) Report("AddMonitor", sys_.GetLastError());

    if (hasPrintProcessor) {
        Step("Install print processor...\r\n");
        if (!sys_.AddPrintProcessorA(nullptr, kEnvironmentX64, printProcessorDll.c_str(),
                                     printProcessorName.c_str()))
            Report("AddProcess", sys_.GetLastError());
    }

    Step("Copy files...\r\n");
    const bool haveDriverDirectory =
        Folder("GetPrinterDriverDirectory",
               sys_.GetPrinterDriverDirectoryA(nullptr, kEnvironmentX64, 1, driverDirectory),
               driverDirectory);
    if (haveDriverDirectory)
        for (const std::string& file :
             {std::string("UNIDRV.DLL"), std::string("UNIDRVUI.DLL"), std::string("UNIDRV.HLP"),
              std::string("UNIRES.DLL"), resourceDll, uiDll, renderDll, IniFile(), DataFile(),
              std::string("STDNAMES.GPD")})
            sys_.CopyFileA(("driver\\" + file).c_str(), (driverDirectory + "\\" + file).c_str(),
                           false);

    Step("Install printer driver...\r\n");
    DriverInfo3 driver;
    driver.version = 3;
    driver.name = driverName;
    driver.environment = kEnvironmentX64;
    driver.driverPath = "UNIDRV.DLL";
    driver.dataFile = DataFile();
    driver.configFile = "UNIDRVUI.DLL";
    driver.helpFile = "UNIDRV.HLP";
    driver.dependentFiles.assign(kDependentFiles, sizeof kDependentFiles);
    driver.monitorName = monitorName;
    driver.defaultDataType = "RAW";
    if (!sys_.AddPrinterDriverA(nullptr, 3, driver))
        Report("AddPrinterDriver", sys_.GetLastError());
    return haveDriverDirectory;
}

bool DriverModel::AddQueue(int portCode, const std::string& queueName) {
    Step("Install printer...\r\n");
    PrinterInfo2 info;
    info.printerName = queueName;
    info.portName = PortName(portCode);
    info.driverName = driverName;
    info.printProcessor = hasPrintProcessor ? printProcessorName : "WinPrint";
    info.datatype = "RAW";
    info.attributes = hasPrintProcessor
                          ? PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY
                          : PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
    info.priority = 1;
    info.status = PRINTER_STATUS_OFFLINE;
    const Handle printer = sys_.AddPrinterA(nullptr, 2, info);
    if (printer == kNullHandle) {
        Report("AddPrinter", sys_.GetLastError());
        sys_.ExitProcess(0);
        return false;
    }
    sys_.ClosePrinter(printer);
    return true;
}

void DriverModel::CopyInf() {
    // The INF copy refuses a relative source path, so the path is made full first. The
    // destination name is taken from a copy that succeeded, and from one that found the same
    // INF already in the INF folder: that one fails with ERROR_FILE_EXISTS and names the
    // copy that is there, which the removal must find.
    std::string source;
    if (sys_.GetFullPathNameA(kInfSource, source) != 0) {
        std::string destination;
        if (sys_.SetupCopyOEMInfA(source.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE,
                                  destination, kInfDestinationSize) ||
            sys_.GetLastError() == ERROR_FILE_EXISTS)
            infFile = destination;
    }
    sys_.WriteProfileStringA(removal::kProfileSection, removal::kDeviceNotSelectedTimeout, "3");
    sys_.WriteProfileStringA(removal::kProfileSection, removal::kTransmissionRetryTimeout, "3");
}

void DriverModel::DeleteInstalledFiles(const std::string& driverDirectory) {
    Step("Delete installed files...\r\n");
    std::vector<std::string> files{"UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL",
                                   monitorDll};
    if (hasPrintProcessor) files.push_back(printProcessorDll);
    for (const std::string& file :
         {resourceDll, uiDll, renderDll, IniFile(), DataFile(), std::string("STDNAMES.GPD")})
        files.push_back(file);
    for (const std::string& file : files) sys_.DeleteFileA((driverDirectory + "\\" + file).c_str());
}

void DriverModel::RegisterInstallation(int portCode) {
    const std::string keyName = std::string(removal::kUninstallKeyPrefix) + "R-3";
    HKEY key = kNullHandle;
    // The key lives in the 64-bit view (where it is created below), so it is looked for there.
    if (sys_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, 0x2001F | KEY_WOW64_64KEY,
                           &key) == ERROR_SUCCESS) {
        sys_.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), KEY_WOW64_64KEY, 0);
        sys_.RegCloseKey(key);
    }
    std::string windows;
    // Both the uninstall command and the tools folder are in the Windows folder: without it
    // the entry would name nothing and the folder would be made at the drive's root.
    const bool haveWindows =
        Folder("GetWindowsDirectory", sys_.GetWindowsDirectoryA(windows) != 0, windows);
    DWORD disposition = 0;
    if (haveWindows &&
        sys_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), REG_OPTION_NON_VOLATILE,
                             KEY_WRITE | KEY_WOW64_64KEY, &key, &disposition) == ERROR_SUCCESS) {
        SetString(sys_, key, "DisplayName", kDisplayName);
        SetString(sys_, key, "Vantreel R-3", "");
        SetString(sys_, key, "UninstallString", windows + "\\R-3\\R3_Uninstaller.exe");
        SetString(sys_, key, "InfFile", infFile);
        sys_.RegCloseKey(key);
    }

    const std::string tools = windows + "\\R-3";
    if (haveWindows) {
        sys_.CreateDirectoryA(tools.c_str());
        for (const char* tool : kTools) sys_.CopyFileA(tool, (tools + "\\" + tool).c_str(), false);
    }

    status_.SetStatus("Completed!");
    status_.SetPos(100);
    status_.Refresh();
    if (portCode == kPortUsb) {
        sys_.MessageBoxA(kNullHandle, kPowerCycleMessage, kCaption, MB_OK | MB_ICONINFORMATION);
    } else if (sys_.MessageBoxA(kNullHandle, kRestartQuestion, kCaption,
                                MB_YESNO | MB_ICONQUESTION) == IDYES) {
        removal::RestartWindows(sys_);
    }
}

bool DriverModel::InstallDriver(int portCode) {
    Step("Check drivers...\r\n");
    std::vector<DriverInfo3> drivers;
    // The driver is installed for "Windows x64"; a 32-bit program that passed no environment
    // would be shown only the drivers of its own environment.
    if (!sys_.EnumPrinterDriversA(nullptr, kEnvironmentX64, 4, drivers)) {
        Report("EnumPrinterDrivers", sys_.GetLastError());
        sys_.ExitProcess(0);
        return false;
    }
    bool installed = false;
    for (const DriverInfo3& driver : drivers)
        if (driver.name == driverName) installed = true;

    Step("Add printer...\r\n");
    const std::string queueName = ChooseQueueName(installed);

    std::string driverDirectory;
    bool haveDriverDirectory = false;
    if (!installed) {
        PreInstallCleanUp();
        haveDriverDirectory = InstallComponents(driverDirectory);
    }

    if (portCode != kPortUsb && !AddQueue(portCode, queueName)) return false;

    if (!installed) {
        CopyInf();
        if (haveDriverDirectory)
            DeleteInstalledFiles(driverDirectory);
        else
            Step("Delete installed files...\r\n");
        RegisterInstallation(portCode);
    }

    status_.SetStatus("Completed!");
    status_.SetPos(100);
    status_.Refresh();
    sys_.Sleep(2000);
    return true;
}

}  // namespace tessaly::installer
