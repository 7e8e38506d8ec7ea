// utility/cli/ is tessaly-cli: each subcommand runs the same protocol and dialog logic as the
// windows, on one printer or many; with the built-in virtual printer and the systemd unit and
// udev rule that apply a profile to a printer when it is plugged in.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "connection_check.h"
#include "notifier.h"
#include "port_diversion.h"
#include "printer_port.h"
#include "session.h"

namespace tessaly::cli {

// Exit status of every command.
enum Exit : int { kOk = 0, kPrinterFailed = 1, kUsage = 2, kFileOrPort = 3 };

struct GlobalOptions {
    std::string port;                // the first --port
    std::vector<std::string> ports;  // every --port, in the order given
    int baud = 19200;
    int dataBits = 8;
    std::string parity = "none";
    std::string stopBits = "1";
    std::string flow = "hardware";
    bool virtualPrinter = false;
    bool yes = false;
    bool quiet = false;
    bool requireDiversion = false;
};

// Prints messages: information on standard output, warnings on standard error.
// Questions are answered by --yes, by the user at a terminal, or else "no".
class ConsoleNotifier final : public Notifier {
  public:
    explicit ConsoleNotifier(const GlobalOptions& options) : options_(options) {}
    MessageAnswer notify(const Message& message) override;

  private:
    const GlobalOptions& options_;
};

// Everything a printer command needs: the options, the port, the clock and the
// built-in virtual printer when one was asked for.
class Runtime {
  public:
    Runtime();
    ~Runtime();

    GlobalOptions options;

    // Builds the line settings from the options; false (and a message) when the
    // options do not describe a port.
    bool BuildSettings(PortSettings& settings, std::string& error);
    // Runs the connection check as the main window does before any printer
    // function. Returns kOk when the printer is connected, else the exit status.
    int Connect();
    Session session() { return Session{port_, clock_, notifier()}; }
    PrinterPort& port() { return port_; }
    Notifier& notifier() { return notifierOverride_ ? *notifierOverride_ : notifier_; }
    // Sends the messages and the errors of this runtime elsewhere than to the
    // console, for runs that report them per printer.
    void Redirect(Notifier& notifier, std::function<void(const std::string&)> onError) {
        notifierOverride_ = &notifier;
        onError_ = std::move(onError);
    }
    // An error or warning about the port: printed on standard error unless
    // redirected.
    void Error(const std::string& text) const;
    Clock& clock() { return clock_; }
    PortType interfaceType() const { return interfaceType_; }
    // What the last connection check saw; none when no check ran.
    const std::optional<CheckReport>& lastCheck() const { return lastCheck_; }
    PortDiversion& diversion() { return diversion_; }
    void Print(const std::string& line) const;
    // Gives back the print queues that earlier runs left paused, and says so.
    // Returns false when some could not be given back. `explicitly`: asked for by
    // the user, who is told about nothing to do and an unreachable print system too.
    bool RecoverQueues(bool explicitly);

  private:
    struct VirtualPrinter;
    std::unique_ptr<VirtualPrinter> virtualPrinter_;
    Clock& clock_;
    ConsoleNotifier notifier_;
    Notifier* notifierOverride_ = nullptr;
    std::function<void(const std::string&)> onError_;
    // Local print queues kept off the serial or parallel port in use. Declared
    // before port_ so that the port is closed before the queues are resumed.
    PortDiversion diversion_;
    PrinterPort port_;
    PortType interfaceType_ = PortType::Serial;
    std::optional<CheckReport> lastCheck_;
};

// Adds a group of subcommands. A subcommand's callback stores its exit status.
using CommandGroup = std::function<void(CLI::App& app, Runtime& runtime, int& exitStatus)>;

void AddCoreCommands(CLI::App& app, Runtime& runtime, int& exitStatus);
void AddQueueCommands(CLI::App& app, Runtime& runtime, int& exitStatus);

int RunCli(int argc, char** argv);

}  // namespace tessaly::cli
