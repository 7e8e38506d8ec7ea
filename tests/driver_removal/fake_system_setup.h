// Shared set-ups of the fake Windows for the removal, installer and uninstaller tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "winsys/fake/fake_windows.h"
#include "winsys/fake/journal_status_display.h"

namespace tessaly::testing {

using winsys::fake::FakeWindows;

inline constexpr char kUninstallKey64[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantreel_R-3";
inline constexpr char kUsbPrintKey[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3";
inline constexpr char kLptEnumKey[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\Vantreel_R-3";
inline constexpr char kDriverInf[] =
    "[Version]\nSignature=\"$Windows NT$\"\n\n[Vantreel]\nVantreel R-3 = R3E.GPD\n";

// Files beside the installer: the driver folder, the INF and the four tools.
inline void AddInstallerMedia(FakeWindows& win) {
    for (const char* file :
         {"MONR3.DLL", "PROR3.DLL", "UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL",
          "R3E.DLL", "UIR3.DLL", "UNIR3.DLL", "UIR3.INI", "R3E.GPD", "STDNAMES.GPD"})
        win.AddFile(std::string("C:\\Setup\\driver\\") + file, file);
    win.AddFile("C:\\Setup\\Driver\\R3.INF", kDriverInf);
    for (const char* tool : {"R3_Uninstaller.exe", "NVLogo.exe", "NVPack.inf", "Tessaly.exe"})
        win.AddFile(std::string("C:\\Setup\\") + tool, tool);
}

// An enumeration key as Windows keeps it: only SYSTEM may change it, Everyone may read (the
// administrators, as its owner here, may change its permissions).
inline const winsys::fake::Acl kEnumKeyDacl{{"SYSTEM", 0xF003F, false, 2, false},
                                            {"Everyone", 0x20019, false, 2, false}};
inline void AddProtectedEnumKey(FakeWindows& win, const std::string& path) {
    win.SetKeyDacl(path, kEnumKeyDacl);
}

// The device instance Windows keeps under a USBPRINT key once the printer was plugged in.
inline const std::string kUsbPrintInstance = std::string(kUsbPrintKey) + "\\7&2A3B4C&0&USB001";

// A driver built on the universal printer driver, whose files such drivers share.
inline winsys::DriverInfo3 UnidrvDriver(const std::string& name, const std::string& dataFile) {
    winsys::DriverInfo3 driver;
    driver.version = 3;
    driver.name = name;
    driver.environment = "Windows x64";
    driver.driverPath = "UNIDRV.DLL";
    driver.dataFile = dataFile;
    driver.configFile = "UNIDRVUI.DLL";
    driver.helpFile = "UNIDRV.HLP";
    driver.dependentFiles = std::string("UNIRES.DLL\0STDNAMES.GPD\0", 25);
    return driver;
}

inline winsys::PrinterInfo2 Queue(const std::string& name, const std::string& port = "COM1:",
                                  const std::string& driver = "Vantreel R-3") {
    winsys::PrinterInfo2 info;
    info.printerName = name;
    info.portName = port;
    info.driverName = driver;
    info.printProcessor = "Vantreel PRINT PROCESSOR R-3";
    info.datatype = "RAW";
    return info;
}

// A system on which the R-3 driver was installed with one queue on COM1 (version 1.0.0.0).
inline void SeedInstalledDriver(FakeWindows& win) {
    const std::string w = win.WindowsDir();
    win.AddFile(w + "\\MONR3.DLL");
    win.AddFile(win.PrintProcessorDir() + "\\PROR3.dll");
    for (const char* file :
         {"UNIDRV.DLL", "UNIDRVUI.DLL", "UNIDRV.HLP", "UNIRES.DLL", "R3E.DLL", "UIR3.DLL",
          "UNIR3.DLL", "UIR3.INI", "R3E.GPD", "R3E.BUD", "STDNAMES.GPD"})
        win.AddFile(win.DriverDir() + "\\3\\" + file);
    win.AddMonitor({"Vantreel Language Monitor R-3", "Windows x64", "MONR3.DLL"});
    win.AddPrintProcessor("Windows x64", "Vantreel PRINT PROCESSOR R-3", "PROR3.dll");
    winsys::DriverInfo3 driver = UnidrvDriver("Vantreel R-3", "R3E.GPD");
    driver.monitorName = "Vantreel Language Monitor R-3";
    win.AddDriver(driver);
    win.AddPrinter(Queue("Vantreel R-3"));
    for (const char* name : {"MajorVersion", "MinorVersion", "BuildVersion", "ExtraVersion"})
        win.SetPrinterDataDword("Vantreel R-3", name, 0);
    win.SetPrinterDataDword("Vantreel R-3", "MajorVersion", 1);
    win.CreateKey("HKLM\\SOFTWARE\\VANTREEL_POS_PRINTER\\Vantreel_R-3\\Settings");
    // Another driver on the universal printer driver: it shares its files.
    win.AddDriver(UnidrvDriver("Label Printer", "OTHER.GPD"));
    win.AddFile(win.DriverDir() + "\\3\\OTHER.GPD");
    win.AddForm("[R3] 80mm x 297mm");
    win.AddForm("R3 Roll");
    win.AddInf("oem3.inf", kDriverInf);
    win.SetStringValue(kUninstallKey64, "InfFile", win.InfDir() + "\\oem3.inf");
    win.SetStringValue(kUninstallKey64, "DisplayName", "Vantreel R-3 Windows Driver V1.0.0E");
    win.SetProfileString("windows", "DeviceNotSelectedTimeout", "3");
    win.SetProfileString("windows", "TransmissionRetryTimeout", "3");
    win.AddUsbDevice({"USB\\VID_2E9B&PID_0006&REV_0100", "USB\\VID_2E9B&PID_0006"});
    AddProtectedEnumKey(win, kUsbPrintKey);
    AddProtectedEnumKey(win, kUsbPrintInstance + "\\Device Parameters");
    AddProtectedEnumKey(win, kLptEnumKey);
    const std::string folder = win.DriverDir() + "\\vantreel_r_3a103";
    win.AddDirectory(folder, winsys::FILE_ATTRIBUTE_READONLY);
    win.AddFile(folder + "\\R3E.GPD", "", winsys::FILE_ATTRIBUTE_READONLY);
    win.AddFile(folder + "\\sub\\UIR3.INI");
}

// Fails the test with the journal when any handle or allocation was left open.
inline void ExpectNoLeaks(FakeWindows& win) {
    const auto leaks = win.LeakedHandles();
    if (!leaks.empty()) {
        std::string text;
        for (const auto& leak : leaks) text += leak + "\n";
        ADD_FAILURE() << "leaked:\n" << text;
    }
}

// Prints the journal into the test output, so a reviewer can read a whole run.
inline void PrintJournal(FakeWindows& win, const char* title) {
    std::cout << "---- " << title << " ----\n";
    win.journal().Print(std::cout);
}

}  // namespace tessaly::testing
