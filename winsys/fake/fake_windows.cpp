#include "fake_windows.h"

#include "text_helpers.h"

namespace tessaly::winsys::fake {
using namespace detail;

// ---- Construction and set-up -------------------------------------------------------------

FakeWindows::FakeWindows() : FakeWindows(FakeConfig{}) {}

FakeWindows::FakeWindows(FakeConfig config) : config_(std::move(config)) {
    const std::string win = config_.windowsDirectory;
    AddDirectory(win.substr(0, 2));
    for (const std::string& dir : {win, win + "\\system32", win + "\\SysWOW64", win + "\\INF",
                                   win + "\\system32\\spool", win + "\\system32\\spool\\drivers",
                                   win + "\\system32\\spool\\prtprocs", config_.currentDirectory})
        AddDirectory(dir);
    for (const std::string env : {"Windows x64", "Windows NT x86"}) {
        AddDirectory(DriverDir(env));
        AddDirectory(DriverDir(env) + "\\3");
        AddDirectory(PrintProcessorDir(env));
        AddPrintProcessor(env, "WinPrint", "winprint.dll");
    }
    for (const std::string key :
         {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB",
          "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USBPRINT",
          "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\LPTENUM",
          "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers",
          "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors", "HKU\\.DEFAULT",
          "HKCU\\Software", "HKCR"})
        CreateKey(key);
    ports_ = {"COM1:", "COM2:", "COM3:", "COM4:", "LPT1:", "LPT2:", "LPT3:", "FILE:"};
    forms_ = {{1, "Letter"}, {1, "A4"}};
}

std::string FakeWindows::DriverDir(const std::string& environment) const {
    return config_.windowsDirectory + "\\system32\\spool\\drivers\\" +
           (IEquals(environment, "Windows x64") ? "x64" : "W32X86");
}

std::string FakeWindows::PrintProcessorDir(const std::string& environment) const {
    return config_.windowsDirectory + "\\system32\\spool\\prtprocs\\" +
           (IEquals(environment, "Windows x64") ? "x64" : "W32X86");
}

}  // namespace tessaly::winsys::fake
