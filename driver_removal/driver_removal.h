// Removal of the printer driver and everything the installer puts in place: the driver, its
// language monitor, print processor, forms, files, system INF copies, USB device nodes,
// enumeration keys and uninstall entry; plus deleting one queue, a folder tree and restarting.
//
// The routines tolerate a partly installed or already removed driver: nearly every result is
// ignored, and where the spooler refuses to delete an object its registry key is deleted
// directly. None of them touches the user interface.
//
// driver_removal/ holds these routines and the registry permission helper (key_permission.h),
// which the installer and the uninstaller both carry.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "removal_report.h"
#include "winsys/windows_services.h"

namespace tessaly::removal {

using winsys::DWORD;
using winsys::WindowsServices;

inline constexpr char kEnvironmentX64[] = "Windows x64";
inline constexpr char kUsbHardwareIdPrefix[] = "USB\\Vid_2E9B&Pid_0006";
inline constexpr char kUsbPrintEnumKey[] =
    "SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3";
inline constexpr char kLptEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\Vantreel_R-3";
inline constexpr char kInfSection[] = "Vantreel";
inline constexpr char kInfKey[] = "Vantreel R-3";
inline constexpr char kDriverFolderName[] = "vantreel_r_3a103";
inline constexpr char kPerPrinterKeyPrefix[] = "SOFTWARE\\VANTREEL_POS_PRINTER\\";
inline constexpr char kUninstallKeyPrefix[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantreel_";
inline constexpr char kProfileSection[] = "windows";
inline constexpr char kDeviceNotSelectedTimeout[] = "DeviceNotSelectedTimeout";
inline constexpr char kTransmissionRetryTimeout[] = "TransmissionRetryTimeout";

// Names of one model's objects, composed from the model code ("R-3") and edition letter ('E').
struct RemovalNames {
    std::string formTag;             // [R3]
    std::string driverName;          // Vantreel R-3
    std::string monitorName;         // Vantreel Language Monitor R-3
    std::string printProcessorName;  // Vantreel PRINT PROCESSOR R-3
    std::string monitorDll;          // MONR3.DLL
    std::string printProcessorDll;   // PROR3.dll
    std::string resourceDll;         // R3E.dll
    std::string dataFile;            // R3E.GPD
    std::string budFile;             // R3E.BUD
    std::string uiDll;               // UIR3.dll
    std::string iniFile;             // UIR3.INI
    std::string renderDll;           // UNIR3.dll
    std::string uninstallKey;        // SOFTWARE\...\Uninstall\Vantreel_R-3
};

RemovalNames ComposeRemovalNames(std::string_view modelCode, char editionLetter);

// Removes forms, driver, monitor, print processor, files, the recorded INF copy and the
// uninstall key, restarting the print spooler on the way. Returns the result of deleting the
// uninstall key; what could not be done goes into the report.
DWORD RemoveDriver(WindowsServices& sys, std::string_view modelCode, char editionLetter,
                   RemovalReport& report);

// RemoveDriver followed by devices, enumeration keys, profile values, INF copies and folder.
void RemoveDriverPackage(WindowsServices& sys, std::string_view modelCode, char editionLetter,
                         RemovalReport& report);

// Deletes a printer queue and its per-printer key (with everything under it). A queue that is
// already gone is no problem.
void DeletePrinterQueue(WindowsServices& sys, const std::string& printerName,
                        RemovalReport& report);

// "SOFTWARE\VANTREEL_POS_PRINTER\" + the queue name with spaces replaced by "_".
std::string PerPrinterKey(const std::string& printerName);

// Removes present USB devices whose first hardware id starts (21 characters, any case) like
// the prefix. False when the device list cannot be had, a device cannot be removed or the walk
// ends on an error other than "no more items".
bool RemoveUsbDevices(WindowsServices& sys, std::string_view hardwareIdPrefix);

// Gives Everyone full control of the USBPRINT and LPTENUM enumeration keys of the model and
// deletes them (through this machine's name, as a remote path); a key that stays gets its
// permissions back.
void GrantEveryoneAndDeleteEnumKeys(WindowsServices& sys, RemovalReport& report);

// Uninstalls every system oem*.inf that lists the driver in its section.
void UninstallOemInfFiles(WindowsServices& sys);

// Deletes a folder with everything in it, read-only entries included. A junction or symbolic
// link inside it (or the folder itself being one) is removed as a link: what it leads to is
// left alone. Errors are ignored.
void DeleteFolderTree(WindowsServices& sys, const std::string& path);

// Stops the print spooler through the service control manager, runs `whileStopped` (told
// whether the spooler did stop) and starts it again, waiting a bounded time for each state.
// What fails goes into the report.
void RestartSpooler(WindowsServices& sys, RemovalReport& report,
                    const std::function<void(bool stopped)>& whileStopped);

// Enables the shutdown privilege and restarts Windows, ending only programs that do not
// answer (the others may ask their users to save); false when that cannot be done.
bool RestartWindows(WindowsServices& sys);

}  // namespace tessaly::removal
