#include <fmt/format.h>

#include "apply_command.h"
#include "cli_runtime.h"
#include "payloads.h"
#include "profile_commands.h"
#include "regular_file.h"
#include "status_commands.h"

namespace tessaly::cli {
namespace {

constexpr const char* kDescription =
    R"(tessaly-cli - check, read and drive a Vantreel R-3 receipt printer

Every printer command first checks the connection as the settings utility does:
it resets the printer and accepts it only when its model byte and manufacturer
name are those of the R-3. Messages are printed as "Caption: text"; warnings go
to standard error.)";

constexpr const char* kFooter = R"(
EXIT STATUS
  0  success
  1  the printer refused or failed (wrong model or name, short write, settings
     not taken, ...); for apply on several printers: any printer failed
  2  usage error (unknown option, bad hexadecimal text, no port)
  3  file or port error (port missing, busy, no permission, unreadable file;
     with --require-diversion, a print queue on the port could not be paused)

PRINT QUEUES
  While a command uses a port, the local print queues that print to it are
  paused, and given back when it ends. A queue that cannot be paused is named
  in a warning; --require-diversion stops instead. What a run that did not
  finish (killed, crashed, power cut) left paused is given back by the next
  run, or by 'tessaly-cli queues --restore'.

EXAMPLES
  tessaly-cli ports
  tessaly-cli --port /dev/ttyUSB0 check
  tessaly-cli --port /dev/ttyS0 --baud 9600 --flow xonxoff self-test
  tessaly-cli --port R-3:/dev/usb/lp0 send 1b 40 "1b 61 01" 0a
  tessaly-cli --virtual-printer check
  tessaly-cli --port /dev/ttyUSB0 check --json      # with what the check saw
  tessaly-cli --port /dev/ttyUSB0 get-status --save shop.sts
  tessaly-cli --port /dev/ttyUSB0 --yes set-status shop.sts
  tessaly-cli show shop.sts --json
  tessaly-cli --port /dev/ttyS0 queues
  tessaly-cli --port /dev/ttyUSB0 export --profile shop.toml
  tessaly-cli convert shop.sts shop.toml
  tessaly-cli --port /dev/ttyUSB0 --port /dev/ttyUSB1 apply shop.toml
  tessaly-cli apply --all-r3 --json shop.toml

FILES
  *.bin  command files for send-file: raw printer bytes in a regular file of at
  most {}; directories, named pipes and devices are refused.
  /dev/ttyS*, /dev/ttyUSB*, /dev/lp*, /dev/usb/lp*  printer ports; access needs
  membership of the 'dialout' (serial) or 'lp' (parallel) group, or the udev
  rule installed with this program (USB).
  $XDG_STATE_HOME/tessaly/*.journal (~/.local/state/tessaly; /run/tessaly for
  root)  what this program paused, so that it can be given back after a crash.
)";

}  // namespace

int RunCli(int argc, char** argv) {
    Runtime rt;
    CLI::App app{kDescription, "tessaly-cli"};
    app.footer(fmt::format(fmt::runtime(kFooter), kMaxCommandFileText));
    app.set_version_flag("--version", std::string("tessaly-cli ") + TESSALY_VERSION + "\n" +
                                          payloads::Description());
    app.require_subcommand(1);
    app.fallthrough();
    auto& o = rt.options;
    app.add_option("--port", o.ports,
                   "Printer port: COM1, /dev/ttyS0, LPT1, R-3:/dev/usb/lp0 ... (apply takes it "
                   "several times)")
        ->each([&o](const std::string& name) {
            if (o.port.empty()) o.port = name;
        });
    app.add_option("--baud", o.baud, "Baud rate")
        ->default_val(19200)
        ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}));
    app.add_option("--data-bits", o.dataBits, "Data bits")
        ->default_val(8)
        ->check(CLI::IsMember({7, 8}));
    app.add_option("--parity", o.parity, "Parity")
        ->default_val("none")
        ->check(CLI::IsMember({"none", "odd", "even"}));
    app.add_option("--stop-bits", o.stopBits, "Stop bits")
        ->default_val("1")
        ->check(CLI::IsMember({"1", "1.5", "2"}));
    app.add_option("--flow", o.flow, "Flow control")
        ->default_val("hardware")
        ->check(CLI::IsMember({"hardware", "xonxoff"}));
    app.add_flag("--virtual-printer", o.virtualPrinter,
                 "Start the built-in virtual R-3 on a pseudo-terminal and use it as the port");
    app.add_flag("--yes", o.yes, "Answer yes to every question (for scripts)");
    app.add_flag("-q,--quiet", o.quiet, "Print only warnings and errors");
    app.add_flag("--require-diversion", o.requireDiversion,
                 "Stop (exit status 3) before using a port whose print queues could not all "
                 "be paused");

    int exitStatus = kOk;
    AddCoreCommands(app, rt, exitStatus);
    AddStatusCommands(app, rt, exitStatus);
    AddQueueCommands(app, rt, exitStatus);
    AddProfileCommands(app, rt, exitStatus);
    AddApplyCommand(app, rt, exitStatus);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsage;
    }
    return exitStatus;
}

}  // namespace tessaly::cli
