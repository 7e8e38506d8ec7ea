#include "uninstaller.h"

#include <vector>

#include "driver_removal.h"
#include "error_report.h"

namespace tessaly::uninstaller {
namespace {

using namespace winsys;

constexpr char kDriverName[] = "Vantreel R-3";
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantreel_R-3";
constexpr char kRestartQuestion[] =
    "Restart the computer can take effect.\nPlease restart the computer."
    "\n\n[Yes] I want to restart my computer now.\n[No] I will restart my computer later.";
constexpr char kTryAgain[] = "\n\nRestart the computer, then run the uninstaller again.";

}  // namespace

void Uninstaller::PopulatePrinterList() {
    names_.clear();
    std::vector<PrinterInfo2> printers;
    if (!sys_.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, printers)) {
        removal::ShowErrorReport(sys_, view_.Window(), "EnumPrinters", sys_.GetLastError(),
                                 kCaption);
        sys_.ExitProcess(0);
        return;
    }
    for (const PrinterInfo2& printer : printers)
        if (printer.driverName == kDriverName) names_.push_front(printer.printerName);
    printersFound_ = static_cast<int>(names_.size());

    if (printersFound_ == 0) {
        std::vector<DriverInfo3> drivers;
        bool driverPresent = false;
        // The driver is installed for "Windows x64", which a 32-bit program must name.
        if (sys_.EnumPrinterDriversA(nullptr, removal::kEnvironmentX64, 3, drivers))
            for (const DriverInfo3& driver : drivers)
                if (driver.name == kDriverName) driverPresent = true;
        if (driverPresent) {
            view_.EnableCancel(false);
            RunUninstall();
            return;
        }
        sys_.MessageBoxA(view_.Window(), "R-3 Driver doesn't exist.\nUninstall aleady completed.",
                         kCaption, MB_OK | MB_ICONINFORMATION);
        HKEY key = kNullHandle;
        // The entry is written in the 64-bit view, so it is looked for there.
        if (sys_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, 0x2001F | KEY_WOW64_64KEY,
                               &key) == ERROR_SUCCESS) {
            sys_.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
            sys_.RegCloseKey(key);
        }
        sys_.ExitProcess(0);
        return;
    }

    view_.EnableUninstall(false);
    for (const std::string& name : names_) view_.AddListItem(name);
}

void Uninstaller::UpdateUninstallButton() {
    bool anyTicked = false;
    for (int i = 0; i < view_.ListCount(); ++i)
        if (view_.IsChecked(i)) anyTicked = true;
    view_.EnableUninstall(anyTicked);
}

void Uninstaller::RunUninstall() {
    names_.clear();
    view_.EnableCancel(false);
    view_.ShowWaitCursor();
    for (int i = 0; i < view_.ListCount(); ++i)
        if (view_.IsChecked(i)) names_.push_front(view_.ListText(i));
    const bool removeDriver = static_cast<int>(names_.size()) == printersFound_;
    view_.EnableUninstall(false);
    view_.ReadControls();

    removal::RemovalReport report;
    if (printersFound_ > 0) {
        view_.SetStatus("Delete printers...");
        view_.StepIt();
        view_.Refresh();
        sys_.Sleep(1000);
        for (const std::string& name : names_) removal::DeletePrinterQueue(sys_, name, report);
    }
    if (removeDriver) {
        view_.SetStatus("Delete printer driver...");
        view_.StepIt();
        view_.Refresh();
        sys_.Sleep(1000);
        removal::RemoveDriverPackage(sys_, "R-3", 'E', report);
    }
    view_.ShowArrowCursor();
    // What could not be done is said, and the run is not called complete.
    if (!report.Empty()) {
        const std::string text = report.Text(sys_, removeDriver) + kTryAgain;
        sys_.MessageBoxA(view_.Window(), text.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
    }
    const char* const outcome = report.Empty() ? "Uninstall completed!" : "Uninstall incomplete!";
    if (removeDriver && sys_.MessageBoxA(view_.Window(), kRestartQuestion, kCaption,
                                         MB_YESNO | MB_ICONQUESTION) == IDYES) {
        view_.SetStatus(outcome);
        view_.Refresh();
        sys_.Sleep(1000);
        removal::RestartWindows(sys_);
        sys_.ExitProcess(0);
        return;
    }

    view_.SetStatus(outcome);
    view_.SetPos(100);
    names_.clear();
    view_.Refresh();
    sys_.Sleep(1000);
    view_.CloseOk();
}

}  // namespace tessaly::uninstaller
