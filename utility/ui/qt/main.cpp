// Tessaly: the settings utility of the Vantreel R-3 receipt printer.
//
//   Tessaly                      the utility
//   Tessaly --virtual-printer    with a built-in virtual R-3 on a pseudo-terminal,
//                                offered first in the serial port list
//   Tessaly --virtual-printer --screenshots DIR
//                                walks through the dialogs by itself and saves a
//                                picture of each in DIR (for machines without a
//                                display, run it under Xvfb)

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "app_icon.h"
#include "diversion_safety_net.h"
#include "main_dialog.h"
#include "main_dialog_view.h"
#include "operation_worker.h"
#include "port_catalog.h"
#include "pty_printer.h"
#include "qt_notifier.h"
#include "r3_engine.h"
#include "screenshot_tour.h"
#include "ui_script.h"
#include "virtual_paper_view.h"

namespace {

struct VirtualPrinter {
    tessaly::sim::R3Engine engine{[] {
        tessaly::sim::PrinterConfig config;
        config.keepJobs = true;  // for the virtual paper window, which takes them
        return config;
    }()};
    tessaly::sim::PtyPrinter pty{engine};
    ~VirtualPrinter() { pty.stop(); }
};

void SavePaper(const tessaly::sim::R3Engine& engine, const QString& folder) {
    QFile file(QDir(folder).filePath(QStringLiteral("virtual-printer-paper.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    QTextStream out(&file);
    for (const auto& line : engine.paper()) out << QString::fromStdString(line) << '\n';
}

bool HasArgument(int argc, char* argv[], std::string_view name) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == name || arg.starts_with(std::string(name) + "=")) return true;
    }
    return false;
}

// Without any display the window system cannot start. The screenshot tour needs
// none (it renders offscreen); for the window itself say how to get one.
bool PrepareDisplay(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return true;
    }
    if (HasArgument(argc, argv, "--screenshots")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    if (HasArgument(argc, argv, "--help") || HasArgument(argc, argv, "-h") ||
        HasArgument(argc, argv, "--version") || HasArgument(argc, argv, "-v")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fprintf(stderr,
                 "Tessaly needs a display and there is none here.\n"
                 "  xvfb-run -a Tessaly --virtual-printer     runs it on a virtual display\n"
                 "  Tessaly --virtual-printer --screenshots DIR\n"
                 "                                           walks through every dialog with the\n"
                 "                                           built-in virtual printer and saves a\n"
                 "                                           picture of each in DIR\n");
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tessaly;
    using namespace tessaly::ui;
    using namespace tessaly::ui::qt;

    if (!PrepareDisplay(argc, argv)) return 2;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QApplication::setWindowIcon(AppIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Settings utility of the Vantreel R-3"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption virtualOption(
        QStringLiteral("virtual-printer"),
        QStringLiteral(
            "Start a virtual R-3 on a pseudo-terminal and offer it first in the port list."));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshots"),
        QStringLiteral(
            "Walk through the dialogs by itself and save a picture of each in <folder>."),
        QStringLiteral("folder"));
    parser.addOption(virtualOption);
    parser.addOption(screenshotOption);
    parser.process(app);

    // Paused print queues are resumed however the program ends.
    InstallDiversionSafetyNet();

    std::unique_ptr<VirtualPrinter> printer;
    std::vector<std::string> extraPorts;
    if (parser.isSet(virtualOption)) {
        printer = std::make_unique<VirtualPrinter>();
        if (!printer->pty.start()) {
            std::fprintf(stderr, "The built-in virtual printer could not start: %s\n",
                         printer->pty.error().c_str());
            return 1;
        }
        extraPorts.push_back(printer->pty.slavePath());
        std::printf("Virtual R-3 on %s\n", printer->pty.slavePath().c_str());
        std::fflush(stdout);
    }

    OperationWorker worker;
    QtNotifier notifier;
    SystemPortCatalog catalog(extraPorts);
    {
        MainDialog logic(
            MainDialogDeps{SystemClock::instance(), notifier, worker, catalog, {}, nullptr});
        logic.Initialize();
        MainDialogView view(logic, worker, notifier);
        notifier.setParentWindow(&view);
        // Queues that a run which did not finish left paused are given back first
        // (not on the unattended tour, which expects its own windows only).
        if (!parser.isSet(screenshotOption)) logic.RecoverQueues();
        // The built-in printer's last receipt, from the window's context menu.
        std::unique_ptr<VirtualPaperView> paper;
        if (printer) {
            paper = std::make_unique<VirtualPaperView>(printer->engine, &view);
            auto* show = new QAction(QObject::tr("Show virtual paper"), &view);
            QObject::connect(show, &QAction::triggered, paper.get(), [&paper] {
                paper->show();
                paper->raise();
            });
            view.addAction(show);
        }

        UiScript script;
        if (parser.isSet(screenshotOption)) {
            const QString folder = QDir(parser.value(screenshotOption)).absolutePath();
            if (!printer) {
                std::fprintf(stderr, "--screenshots needs --virtual-printer\n");
                return 2;
            }
            AddScreenshotTour(script, view, folder);
            // Steps wait for real exchanges: the font download alone takes a while.
            script.start(
                [&, folder](const QString& failure) {
                    SavePaper(printer->engine, folder);
                    if (!failure.isEmpty()) {
                        // Dialogs may still be open on top with an exchange under way:
                        // report and leave at once.
                        std::fprintf(stderr, "The screenshot tour stopped at: %s\n",
                                     qPrintable(failure));
                        std::fflush(stdout);
                        std::_Exit(3);
                    }
                    std::printf("Screenshots saved in %s\n", qPrintable(folder));
                    std::fflush(stdout);
                    view.reject();
                },
                180000);
        }
        view.exec();
        worker.WaitIdle(60000);
    }
    return 0;
}
