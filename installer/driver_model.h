// The names of one printer model and the installation of its driver, language monitor, print
// processor and printer queue.
#pragma once

#include <string>
#include <string_view>

#include "winsys/status_display.h"
#include "winsys/windows_services.h"

namespace tessaly::installer {

using winsys::DWORD;
using winsys::Handle;
using winsys::StatusDisplay;
using winsys::WindowsServices;

inline constexpr char kCaption[] = "Vantreel R-3 installer";
inline constexpr int kProgressStep = 11;

// Port choice codes; the USB code adds no queue.
inline constexpr int kPortCom1 = 1000;
inline constexpr int kPortLpt1 = 1004;
inline constexpr int kPortLpt2 = 1005;
inline constexpr int kPortUsb = 1006;

class DriverModel {
  public:
    DriverModel(WindowsServices& sys, StatusDisplay& status) : sys_(sys), status_(status) {}

    // Completes the name stems, e.g. ("3", 'E', true) gives MONR3.DLL, Vantreel R-3, R3E.DLL.
    void ComposeNames(std::string_view modelNumber, char editionLetter, bool hasPrintProcessor);

    // Runs the installation steps for a port code 1000..1006. Returns false when the process
    // was ended (driver enumeration or AddPrinterA failed).
    bool InstallDriver(int portCode);

    // First 4 characters of the UI DLL + ".INI" (UIR3.INI).
    std::string IniFile() const { return uiDll.substr(0, 4) + ".INI"; }
    // First 3 characters of the resource DLL + ".GPD" (R3E.GPD).
    std::string DataFile() const { return resourceDll.substr(0, 3) + ".GPD"; }

    std::string monitorDll = "MONR";
    std::string monitorName = "Vantreel Language Monitor R-";
    std::string printProcessorDll = "PROR";
    std::string printProcessorName = "Vantreel PRINT PROCESSOR R-";
    std::string driverName = "Vantreel R-";
    std::string resourceDll = "R";
    std::string uiDll = "UIR";
    std::string renderDll = "UNIR";
    std::string infFile;
    bool hasPrintProcessor = true;

  private:
    void Step(const std::string& text);
    void Report(std::string_view call, DWORD code);
    // True when a folder lookup gave a folder; otherwise reports the call's failure.
    bool Folder(const char* call, bool found, const std::string& folder);
    std::string ChooseQueueName(bool driverInstalled);
    void PreInstallCleanUp();
    // Returns whether the driver directory was had (it is filled in then).
    bool InstallComponents(std::string& driverDirectory);
    bool AddQueue(int portCode, const std::string& queueName);
    void CopyInf();
    void DeleteInstalledFiles(const std::string& driverDirectory);
    void RegisterInstallation(int portCode);

    WindowsServices& sys_;
    StatusDisplay& status_;
};

}  // namespace tessaly::installer
