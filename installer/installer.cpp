#include "installer.h"

#include <vector>

#include "driver_removal.h"
#include "error_report.h"

namespace tessaly::installer {
namespace {

using namespace winsys;

constexpr char kDriverName[] = "Vantreel R-3";
constexpr char kPrintProcessorName[] = "Vantreel PRINT PROCESSOR R-3";
constexpr DWORD kPrinterDataSize = 4;

void Inform(WindowsServices& sys, Handle owner, const char* text) {
    sys.MessageBoxA(owner, text, kCaption, MB_OK | MB_ICONINFORMATION);
}

// Reads a 4-byte printer data value; false (value untouched) when it cannot be read.
bool ReadNumber(WindowsServices& sys, Handle printer, const char* name, DWORD& value) {
    unsigned char data[kPrinterDataSize] = {};
    DWORD type = 0;
    DWORD needed = 0;
    if (sys.GetPrinterDataA(printer, name, &type, data, kPrinterDataSize, &needed) != ERROR_SUCCESS)
        return false;
    value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
            static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    return true;
}

VersionCheckResult CompareVersions(const InstallerVersion& ours, const InstallerVersion& theirs) {
    const DWORD a[] = {ours.major, ours.minor, ours.build, ours.extra};
    const DWORD b[] = {theirs.major, theirs.minor, theirs.build, theirs.extra};
    for (int i = 0; i < 4; ++i) {
        if (a[i] > b[i]) return VersionCheckResult::StaleOrOlder;
        if (a[i] < b[i]) return VersionCheckResult::Newer;
    }
    return VersionCheckResult::Same;
}

}  // namespace

bool IsWow64(WindowsServices& sys) {
    const Handle kernel = sys.GetModuleHandleA("kernel32");
    if (sys.GetProcAddress(kernel, "IsWow64Process") == 0) return false;
    bool wow64 = false;
    if (!sys.IsWow64Process(sys.GetCurrentProcess(), &wow64)) return false;
    return wow64;
}

int GetOsCode(WindowsServices& sys) {
    OsVersionInfo info;
    info.osVersionInfoSize = kOsVersionInfoSize;
    if (!sys.GetVersionExA(&info)) {
        info.osVersionInfoSize = kOsVersionInfoSize;
        sys.GetVersionExA(&info);
    }
    const DWORD major = info.majorVersion;
    const DWORD minor = info.minorVersion;
    if (info.platformId == 1 && major == 4) {
        if (minor == 0) return 2000;
        if (minor == 10) return 2001;
        if (minor == 90) return 2002;
    }
    if (info.platformId == 2) {
        if (major <= 4) return 2003;
        if (major == 5 && minor == 0) return 2004;
        if (major == 5 && minor == 1) return 2005;
        if (major == 5 && minor == 2) return 2006;
        if (major == 6 && minor == 0) return 2007;
    }
    return 2009;
}

VersionCheckResult CheckInstalledVersion(WindowsServices& sys, const std::string& driverName,
                                         const std::string& printProcessorName,
                                         const InstallerVersion& version) {
    std::vector<PrinterInfo2> printers;
    if (sys.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, printers)) {
        for (const PrinterInfo2& printer : printers) {
            if (printer.driverName != driverName) continue;
            // Only the first queue of the driver is examined.
            InstallerVersion installed{0, 0, 0, 0};
            bool haveExtra = false;
            const PrinterDefaults defaults{"RAW", PRINTER_ALL_ACCESS};
            Handle handle = kNullHandle;
            if (sys.OpenPrinterA(printer.printerName.c_str(), &handle, &defaults)) {
                ReadNumber(sys, handle, "MajorVersion", installed.major);
                ReadNumber(sys, handle, "MinorVersion", installed.minor);
                ReadNumber(sys, handle, "BuildVersion", installed.build);
                haveExtra = ReadNumber(sys, handle, "ExtraVersion", installed.extra);
                sys.ClosePrinter(handle);
            }
            if (!haveExtra) return VersionCheckResult::StaleOrOlder;
            return CompareVersions(version, installed);
        }
    }
    // Drivers and print processors are looked for in the environment they are installed for.
    std::vector<DriverInfo3> drivers;
    if (sys.EnumPrinterDriversA(nullptr, removal::kEnvironmentX64, 4, drivers))
        for (const DriverInfo3& driver : drivers)
            if (driver.name == driverName) return VersionCheckResult::StaleOrOlder;
    std::vector<std::string> processors;
    if (sys.EnumPrintProcessorsA(nullptr, removal::kEnvironmentX64, 1, processors))
        for (const std::string& name : processors)
            if (name == printProcessorName) return VersionCheckResult::StaleOrOlder;
    return VersionCheckResult::NotInstalled;
}

void RemoveDifferentVersion(WindowsServices& sys, StatusDisplay& status, Handle dialog) {
    Inform(sys, dialog,
           "There is different version driver in this system.\r\n\r\n"
           "The installed driver will be removed.");
    status.SetStatus("Delete printers...");
    status.StepIt();
    std::vector<PrinterInfo2> printers;
    if (!sys.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, printers)) {
        removal::ShowErrorReport(sys, dialog, "EnumPrinters", sys.GetLastError(), kCaption);
        sys.ExitProcess(0);
        return;
    }
    removal::RemovalReport report;
    for (const PrinterInfo2& printer : printers)
        if (printer.driverName == kDriverName)
            removal::DeletePrinterQueue(sys, printer.printerName, report);

    status.SetStatus("Preparing to remove...");
    status.StepIt();
    status.Refresh();
    sys.Sleep(1000);
    status.SetStatus("Remove printer driver...");
    status.StepIt();
    status.Refresh();
    sys.Sleep(1000);
    removal::RemoveDriverPackage(sys, "R-3", 'E', report);
    status.SetStatus(report.Empty() ? "Uninstall completed!" : "Uninstall incomplete!");
    status.SetPos(100);
    status.Refresh();
    sys.Sleep(1000);
    if (report.Empty()) {
        Inform(sys, dialog,
               "Installer  has successfully removed different version.\n"
               "Now it's going to restart your computer to take effect. Please wait."
               "\n\nAfter restarting, you may reinstall our driver again.");
    } else {
        // A restart still helps (the spooler lets go of what it holds), and the next run of
        // the installer finds and removes what is left.
        const std::string text =
            "Installer could not remove the different version completely.\n\n" +
            report.Text(sys, true) +
            "\n\nNow it's going to restart your computer. Please wait."
            "\n\nAfter restarting, run the installer again.";
        sys.MessageBoxA(dialog, text.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
    }
    removal::RestartWindows(sys);
    sys.ExitProcess(0);
}

void RunInstaller(WindowsServices& sys, StatusDisplay& status, PortChoice& ports,
                  DriverModel& model, Handle dialog) {
    if (!IsWow64(sys)) {
        Inform(sys, dialog, "Not running on WOW64!!");
        sys.ExitProcess(0);
        return;
    }
    if (GetOsCode(sys) < kLowestSupportedOsCode) {
        Inform(sys, dialog, "This driver is not supported by this OS!!");
        sys.ExitProcess(0);
        return;
    }
    const VersionCheckResult check =
        CheckInstalledVersion(sys, kDriverName, kPrintProcessorName, InstallerVersion{});
    if (check == VersionCheckResult::StaleOrOlder || check == VersionCheckResult::Newer) {
        RemoveDifferentVersion(sys, status, dialog);
        return;
    }
    model.ComposeNames("3", 'E', true);
    const std::optional<int> choice = ports.Choose();
    if (!choice) {
        Inform(sys, dialog, "Install Canceled.");
        sys.ExitProcess(0);
        return;
    }
    if (*choice < 0 || *choice > kPortUsb - kPortCom1) {
        sys.ExitProcess(0);
        return;
    }
    if (!model.InstallDriver(kPortCom1 + *choice)) return;
    sys.ExitProcess(0);
}

}  // namespace tessaly::installer
