// The installer's top-level flow: start-up checks, detection and removal of a different
// installed version, port choice and installation.
//
// installer/ is R3_Installer's logic without a toolkit: this flow and the driver model
// (driver_model.h); win32/ holds the program with its dialogs and resources.
#pragma once

#include <optional>
#include <string>

#include "driver_model.h"

namespace tessaly::installer {

struct InstallerVersion {
    DWORD major = 1;
    DWORD minor = 0;
    DWORD build = 0;
    DWORD extra = 0;
};

enum class VersionCheckResult { StaleOrOlder = 0, Newer = 1, NotInstalled = 2, Same = 3 };

// The port selection dialog, run modally.
class PortChoice {
  public:
    virtual ~PortChoice() = default;
    // The chosen radio index (0..6 for COM1..COM4, LPT1, LPT2, USB) when the dialog ended with
    // OK ("Next"); nullopt otherwise.
    virtual std::optional<int> Choose() = 0;
};

// Lowest OS code the installer accepts (Windows XP).
inline constexpr int kLowestSupportedOsCode = 2005;

bool IsWow64(WindowsServices& sys);
int GetOsCode(WindowsServices& sys);
VersionCheckResult CheckInstalledVersion(WindowsServices& sys, const std::string& driverName,
                                         const std::string& printProcessorName,
                                         const InstallerVersion& version);
// Removes the installed driver and restarts Windows; ends the process.
void RemoveDifferentVersion(WindowsServices& sys, StatusDisplay& status, Handle dialog);

// The whole run, started once from the progress dialog's first timer tick. Ends the process on
// every path (`dialog` owns the information messages).
void RunInstaller(WindowsServices& sys, StatusDisplay& status, PortChoice& ports,
                  DriverModel& model, Handle dialog);

}  // namespace tessaly::installer
