#include "cli_runtime.h"

#include <fmt/format.h>
#include <unistd.h>

#include <iostream>

#include "diversion_safety_net.h"
#include "virtual_printer.h"

namespace tessaly::cli {

MessageAnswer ConsoleNotifier::notify(const Message& message) {
    const bool warning =
        message.icon == MessageIcon::Exclamation || message.icon == MessageIcon::Stop;
    std::FILE* out = warning ? stderr : stdout;
    if (!(options_.quiet && !warning)) {
        fmt::print(out, "{}: {}\n", message.caption, message.text);
        if (!message.details.empty()) fmt::print(out, "{}\n", message.details);
    }
    std::fflush(out);
    if (message.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    const MessageAnswer yes =
        message.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    const MessageAnswer no =
        message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    if (options_.yes) {
        fmt::print(out, "(answered yes: --yes was given)\n");
        return yes;
    }
    if (isatty(STDIN_FILENO) == 0) {
        fmt::print(out, "(answered no: pass --yes to accept without asking)\n");
        return no;
    }
    fmt::print(out, "Proceed? [y/N] ");
    std::fflush(out);
    std::string answer;
    std::getline(std::cin, answer);
    return (answer == "y" || answer == "Y" || answer == "yes") ? yes : no;
}

struct Runtime::VirtualPrinter {
    BuiltInPrinter printer;
};

#ifdef _WIN32
Runtime::Runtime()
    : clock_(SystemClock::instance()),
      notifier_(options),
      port_([this](PortType type) -> std::unique_ptr<ConcretePort> {
          if (virtualPrinter_) return virtualPrinter_->printer.Factory(clock_)(type);
          return MakePlatformPort(type);
      }) {}
#else
Runtime::Runtime() : clock_(SystemClock::instance()), notifier_(options) {}
#endif

Runtime::~Runtime() {
    port_.Close();
    for (const std::string& problem : diversion_.Restore())
        fmt::print(stderr, "Warning: {}\n", problem);
    virtualPrinter_.reset();
}

bool Runtime::RecoverQueues(bool explicitly) {
    const RecoveryReport report = diversion_.RecoverAbandoned();
    for (const std::string& line : report.givenBack) fmt::print(stderr, "{}\n", line);
    for (const std::string& line : report.problems) fmt::print(stderr, "Warning: {}\n", line);
    for (const std::string& line : report.warnings) fmt::print(stderr, "Warning: {}\n", line);
    const bool ok = report.warnings.empty() && !report.unreachable;
    if (!explicitly) return ok;
    if (report.unreachable)
        fmt::print(stderr,
                   "Warning: the print system does not answer, so the print queues that "
                   "earlier runs left paused cannot be given back now. Try again once it runs.\n");
    if (ok && report.givenBack.empty()) Print("No print queue waits to be given back.");
    return ok;
}

void Runtime::Error(const std::string& text) const {
    if (onError_) return onError_(text);
    fmt::print(stderr, "{}\n", text);
}

void Runtime::Print(const std::string& line) const {
    if (!options.quiet) fmt::print("{}\n", line);
}

bool Runtime::BuildSettings(PortSettings& settings, std::string& error) {
    if (options.virtualPrinter && !virtualPrinter_) {
        virtualPrinter_ = std::make_unique<VirtualPrinter>();
        if (!virtualPrinter_->printer.Start(error)) {
            virtualPrinter_.reset();
            return false;
        }
        if (options.port.empty()) options.port = virtualPrinter_->printer.PortName();
        Print(fmt::format("Built-in virtual printer on {}", virtualPrinter_->printer.PortName()));
    }
    if (options.port.empty()) {
        error =
            "No printer port given. Name one with --port (see 'tessaly-cli ports'), or use "
            "--virtual-printer to try the built-in virtual printer.";
        return false;
    }
    settings.portName = options.port;
    settings.baudRate = options.baud;
    settings.dataBits = options.dataBits;
    settings.parity = options.parity == "odd" ? 1 : options.parity == "even" ? 2 : 0;
    settings.stopBits = options.stopBits == "1.5" ? 1 : options.stopBits == "2" ? 2 : 0;
    settings.flowControl = options.flow == "xonxoff" ? 1 : 0;
    return true;
}

int Runtime::Connect() {
    if (options.ports.size() > 1) {
        Error(
            fmt::format("--port was given {} times, but only 'apply' works on several printers "
                        "at once.",
                        options.ports.size()));
        return kUsage;
    }
    PortSettings settings;
    std::string error;
    if (!BuildSettings(settings, error)) {
        Error(error);
        return options.port.empty() ? kUsage : kFileOrPort;
    }
    const auto choice = ChoosePort(settings.portName);
    interfaceType_ = choice ? choice->type : PortType::Serial;
    // Keep the print system off the port while we use it; the queues are resumed
    // when the runtime ends, and on exit() or a signal too. What earlier runs that
    // did not finish left paused is given back first.
    if (!options.virtualPrinter) {
        InstallDiversionSafetyNet();
        RecoverQueues(false);
        const DiversionReport diverted = diversion_.Divert(settings.portName);
        for (const std::string& refusal : diverted.refused) Error("Warning: " + refusal);
        if (!diverted.refused.empty() && options.requireDiversion) {
            Error(fmt::format(
                "Stopped before opening {}: --require-diversion was given and not every print "
                "queue on it could be kept off. Nothing was sent to the printer.",
                settings.portName));
            return kFileOrPort;
        }
    }
    Session s = session();
    lastCheck_.emplace();
    const CheckResult result =
        CheckCommunication(s, settings, interfaceType_, CheckLimits{}, &*lastCheck_);
    switch (result) {
        case CheckResult::Connected:
            return kOk;
        case CheckResult::SetupFailed:
            Error(fmt::format(
                "'{}' is not a printer port name. Use a name that 'tessaly-cli ports' lists, a "
                "device path such as /dev/ttyS0, or COM1.",
                settings.portName));
            return kFileOrPort;
        case CheckResult::OpenFailed:
        case CheckResult::PortError:
            return kFileOrPort;
        case CheckResult::EndlessInput:
        case CheckResult::WrongModel:
        case CheckResult::WrongManufacturer:
            return kPrinterFailed;
    }
    return kPrinterFailed;
}

}  // namespace tessaly::cli
