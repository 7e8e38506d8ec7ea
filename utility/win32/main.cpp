// Tessaly.exe: the settings utility for the Vantreel R-3 as a Win32 dialog program.
//
//   Tessaly.exe [--virtual-printer [--virtual-printer-stall-after=N]]
// With --virtual-printer every port leads to the virtual R-3 inside this process,
// and no print queue is touched. For tests, that printer can stop taking data
// after N bytes, as a printer whose input buffer stays full.

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <memory>

#include "main_dialog.h"
#include "main_window.h"
#include "port_catalog.h"
#include "print_queues.h"
#include "r3_engine.h"
#include "simulated_port.h"
#include "ui_bridge.h"
#include "usb_device.h"

namespace {

using namespace tessaly;

// The port lists of the Windows program: the fixed serial and parallel names, and
// the R-3 printers that USB discovery finds.
class FixedPortCatalog final : public ui::PortCatalog {
  public:
    std::vector<std::string> SerialPorts() override { return ui::MainDialog::kDefaultSerialPorts; }
    std::vector<std::string> ParallelPorts() override {
        return ui::MainDialog::kDefaultParallelPorts;
    }
    std::vector<std::string> UsbPrinters() override { return FindUsbPrinters(); }
};

// No print system: the virtual printer holds no real port. It answers like a
// spooler that cannot be reached, so that what earlier runs recorded is kept for
// a run on the real ports.
class NoPrintQueues final : public PrintQueues {
  public:
    std::optional<std::vector<PrintQueue>> List() override { return std::nullopt; }
    QueueChange Pause(const PrintQueue&, const std::string&) override { return {true, {}}; }
    QueueChange Resume(const std::string&, const std::string&) override { return {true, {}}; }
};

bool HasArgument(const char* wanted) {
    for (int i = 1; i < __argc; ++i)
        if (std::strcmp(__argv[i], wanted) == 0) return true;
    return false;
}

// The text after "prefix" of the argument that starts with it; null when none does.
const char* ArgumentValue(const char* prefix) {
    for (int i = 1; i < __argc; ++i)
        if (std::strncmp(__argv[i], prefix, std::strlen(prefix)) == 0)
            return __argv[i] + std::strlen(prefix);
    return nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    auto& bridge = win32::UiBridge::instance();
    if (!bridge.Create()) return 1;

    const bool virtualPrinter = HasArgument("--virtual-printer");
    Clock& clock = SystemClock::instance();
    sim::PrinterConfig printer;
    if (const char* stallAfter = ArgumentValue("--virtual-printer-stall-after=")) {
        printer.fault = sim::FaultMode::PartialWrite;
        printer.stallAfterBytes = std::strtoull(stallAfter, nullptr, 10);
    }
    sim::R3Engine engine(printer);
    win32::MessageBoxNotifier notifier;
    win32::Worker worker;
    FixedPortCatalog catalog;
    PortFactory factory;
    std::unique_ptr<PrintQueues> queues;
    if (virtualPrinter) {
        factory = sim::MakeSimulatedPortFactory(engine, clock);
        queues = std::make_unique<NoPrintQueues>();
    }
    INT_PTR result = 0;
    {
        ui::MainDialog logic(ui::MainDialogDeps{clock, notifier, worker, catalog,
                                                std::move(factory), std::move(queues)});
        result = win32::RunMainDialog(instance, logic, worker);
        worker.WaitIdle();
        logic.Shutdown();
    }
    return result == -1 ? 1 : 0;
}
