// r3-sim: a virtual Vantreel R-3 on a pseudo-terminal and, if asked, a TCP port.

#include <fmt/format.h>
#include <signal.h>
#include <time.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control_socket.h"
#include "paper_folder.h"
#include "pty_printer.h"
#include "r3_engine.h"
#include "tcp_printer.h"

namespace {

using tessaly::sim::EngineEvent;
using tessaly::sim::PrinterConfig;

constexpr const char* kDescription = R"(NAME
    r3-sim - a virtual Vantreel R-3 receipt printer

SYNOPSIS
    r3-sim [OPTIONS]

DESCRIPTION
    Creates a pseudo-terminal and answers the printer's command language on it
    the way an R-3 does: model identification, manufacturer and printer names,
    firmware version, memory switches (written only inside a user setup period,
    applied when the printer restarts after it), serial conditions, the self-test
    page, font payloads, and receipts: text styles, code tables, images, bar
    codes, 2-D codes, cuts and drawer pulses, with the status answers that
    follow from its paper, cover, drawer and error conditions. Open the printed
    terminal path (or the --link path) as a serial port, or connect to the
    --tcp port as to a networked receipt printer (one client at a time; others
    wait until it has gone).

    With --paper DIR every job (from its first byte to a cut, or to a pause of
    --job-gap ms) is drawn at the printer's resolution as DIR/NNNN.png (576 dots
    wide on 80 mm paper, 384 on 58 mm: memory switch 10 bit 5), with its text in
    NNNN.txt and its text, codes, images, commands and conditions in NNNN.json,
    written last. Numbers go on from the highest already in DIR.

    Conditions are set at start with --set and while running through the
    --control socket, one command per line, each answered with "ok" and the
    conditions now, or "error:" and why:
        paper ok|near-end|end   cover open|closed   drawer open|closed
        online   offline        error none|cutter|unrecoverable|auto-recoverable
        status   help
    While the paper is out, the cover open, the printer offline or in error,
    it prints nothing and the input waits; when the input buffer is full the
    sender is held (its writes block, or TCP's window closes). Status queries
    (DLE EOT, GS r, ESC u, ESC v, automatic status back) answer from the
    conditions; a drawer pulse opens the drawer.

    The first line printed is the terminal path; with --tcp the second is "tcp
    ADDRESS:PORT". Unless --quiet is given, every received chunk follows as a
    hex dump with the decoded commands, the answers sent back, the printed text
    ("paper") and the files written. Stop with Ctrl-C (SIGINT) or SIGTERM; the
    job in progress is written, and the link and the control socket are
    removed on exit.)";

constexpr const char* kFooter = R"(FAULT MODES
    none         behave like a healthy printer (default)
    wrong-model  answer the model query with --wrong-model (default 0x21)
    wrong-names  answer the name queries with --wrong-manufacturer and
                 --wrong-printer-name
    silence      take everything, answer nothing
    garbage      replace every answer by random bytes (--seed makes them repeatable)
    endless      after --endless-after received bytes, send non-zero bytes forever
    late         make every answer readable only --reply-delay ms after its query
    disconnect   after --disconnect-after received bytes, close the terminal
    no-switch-answer
                 leave the read of memory switch --silent-switch unanswered
    hang-up-after-in
                 answer IN (enter user setup), then close the terminal at the
                 next byte received
    font-stall   after --stall-after bytes of font data, take nothing more, for
                 --stall-ms or (0, the default) for good
    partial-write
                 after --stall-after received bytes, take nothing for --stall-ms;
                 a pause longer than the client's write time-out cuts that write
                 short
    restart-loses-input
                 lose the input that arrives while restarting after OUT
                 (--restart-ms) instead of carrying it out afterwards
    ignore-switch-write
                 answer the writes of memory switch --ignored-switch as usual but
                 keep the switch as it was

EXAMPLES
    r3-sim --link /tmp/r3
        a healthy printer reachable as /tmp/r3
    r3-sim --tcp 9100 --paper out/ --control /tmp/r3.ctl
        a networked printer on 127.0.0.1:9100 that draws every receipt into
        out/; "echo paper end | socat - UNIX-CONNECT:/tmp/r3.ctl" takes its
        paper away
    r3-sim --fault late --reply-delay 2000 --quiet
        a printer that answers two seconds late
    r3-sim --fault font-stall --stall-after 600000
        a printer that stops taking a font payload near its end
    r3-sim --switch 12=00000001 --state ~/.r3-switches
        buyer set KOR, switches kept between runs

EXIT STATUS
    0 after a signal or a dropped link, 1 if the terminal, link, TCP port,
    control socket or paper folder could not be made, 2 for a usage error.)";

bool ParseSwitch(const std::string& text, PrinterConfig& config, std::string& error) {
    const auto eq = text.find('=');
    const std::string bits = eq == std::string::npos ? "" : text.substr(eq + 1);
    int number = 0;
    try {
        number = std::stoi(text.substr(0, eq));
    } catch (...) {
        number = 0;
    }
    if (number < 1 || number > tessaly::sim::kSwitchCount || bits.size() != 8 ||
        bits.find_first_not_of("01") != std::string::npos) {
        error = fmt::format("--switch {}: expected N=BBBBBBBB with N 1..{} and bits 8..1", text,
                            tessaly::sim::kSwitchCount);
        return false;
    }
    std::uint8_t value = 0;
    for (char ch : bits) value = static_cast<std::uint8_t>((value << 1) | (ch == '1'));
    config.switches[static_cast<std::size_t>(number - 1)] = value;
    return true;
}

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char ch : text) {
        if (ch >= 0x20 && ch < 0x7F) {
            out.push_back(static_cast<char>(ch));
        } else {
            out += fmt::format("\\x{:02x}", ch);
        }
    }
    return out;
}

void PrintHex(double seconds, const char* direction, const std::vector<std::uint8_t>& bytes,
              const std::string& total) {
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        std::string hex, ascii;
        for (std::size_t i = at; i < at + 16; ++i) {
            if (i < bytes.size()) {
                hex += fmt::format("{:02x} ", bytes[i]);
                ascii.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i])
                                                                    : '.');
            } else {
                hex += "   ";
            }
        }
        if (at == 0) {
            fmt::print("{:9.3f} {} {}|{}|\n", seconds, direction, hex, ascii);
        } else {
            fmt::print("{:9} {} {}|{}|\n", "", "  ", hex, ascii);
        }
    }
    if (!total.empty()) fmt::print("{:9} {} ({})\n", "", "  ", total);
}

void PrintEvents(std::vector<EngineEvent> events, std::int64_t origin) {
    for (const auto& e : events) {
        const double seconds = static_cast<double>(e.timeMs - origin) / 1000.0;
        switch (e.kind) {
            case EngineEvent::Kind::Received:
                if (e.bytes.empty()) {
                    fmt::print("{:9.3f} rx ({})\n", seconds, e.text);
                } else {
                    PrintHex(seconds, "rx", e.bytes, e.text);
                }
                break;
            case EngineEvent::Kind::Reply:
                PrintHex(seconds, "tx", e.bytes, "");
                break;
            case EngineEvent::Kind::Command:
                fmt::print("{:9}    = {}\n", "", e.text);
                break;
            case EngineEvent::Kind::Paper:
                fmt::print("{:9}    | {}\n", "", Printable(e.text));
                break;
            case EngineEvent::Kind::Note:
                fmt::print("{:9}    * {}\n", "", e.text);
                break;
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    PrinterConfig config;
    std::string model = "0x20";
    std::string wrongModel = "0x21";
    std::string fault = "none";
    std::vector<std::string> switches;
    std::string linkPath;
    std::string tcp;
    std::string paperDir;
    std::string controlPath;
    std::vector<std::string> settings;
    bool quiet = false;

    CLI::App app{kDescription, "r3-sim"};
    app.footer(kFooter);
    app.get_formatter()->column_width(34);
    app.add_option("--manufacturer", config.manufacturer, "Answer to the manufacturer query")
        ->type_name("TEXT")
        ->capture_default_str();
    app.add_option("--printer-name", config.printerName, "Answer to the printer name query")
        ->capture_default_str();
    app.add_option("--model", model, "Model identification byte (0x.. or decimal)")
        ->type_name("BYTE")
        ->capture_default_str();
    app.add_option("--firmware", config.firmwareVersion, "Firmware version text")
        ->capture_default_str();
    app.add_option("--version-suffix", config.versionSuffix, "Firmware version suffix")
        ->capture_default_str();
    app.add_option("--switch", switches,
                   "Initial memory switch, N=BBBBBBBB (bits 8..1); repeatable")
        ->type_name("N=BITS");
    app.add_option("--baud", config.serial.baud, "Reported baud rate")->capture_default_str();
    app.add_option("--parity", config.serial.parity, "Reported parity: 0 none, 1 odd, 2 even")
        ->capture_default_str();
    app.add_option("--flow", config.serial.flow, "Reported flow control: 0 DTR/DSR, 1 Xon/Xoff")
        ->capture_default_str();
    app.add_option("--data-bits", config.serial.dataBits, "Reported data bits: 7 or 8")
        ->capture_default_str();
    app.add_option("--fault", fault, "Fault mode (see FAULT MODES)")
        ->type_name("MODE")
        ->capture_default_str();
    app.add_option("--wrong-model", wrongModel, "Model byte of the wrong-model fault")
        ->type_name("BYTE")
        ->capture_default_str();
    app.add_option("--wrong-manufacturer", config.wrongManufacturer,
                   "Manufacturer of the wrong-names fault")
        ->capture_default_str();
    app.add_option("--wrong-printer-name", config.wrongPrinterName,
                   "Printer name of the wrong-names fault")
        ->capture_default_str();
    app.add_option("--seed", config.garbageSeed, "Random seed of the garbage and endless faults")
        ->capture_default_str();
    app.add_option("--endless-after", config.endlessAfterBytes,
                   "Received bytes before the endless fault starts")
        ->capture_default_str();
    app.add_option("--reply-delay", config.replyDelayMs, "Delay of the late fault, ms")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--disconnect-after", config.disconnectAfterBytes,
                   "Received bytes before the disconnect fault")
        ->capture_default_str();
    app.add_option("--silent-switch", config.silentSwitch,
                   "Memory switch whose read the no-switch-answer fault leaves unanswered")
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--ignored-switch", config.ignoredSwitch,
                   "Memory switch whose writes the ignore-switch-write fault drops")
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--stall-after", config.stallAfterBytes,
                   "Bytes taken before the font-stall and partial-write faults stop taking data")
        ->capture_default_str();
    app.add_option("--stall-ms", config.stallMs,
                   "How long the printer then takes nothing; 0 for good")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--byte-gap-us", config.replyByteGapUs,
                   "Time between the bytes of an answer (520 is about 19200 baud)")
        ->type_name("US")
        ->capture_default_str();
    app.add_flag("--check-line", config.checkLineSettings,
                 "Corrupt the bytes when the client's baud rate differs from --baud");
    app.add_option("--restart-ms", config.restartMs,
                   "Restart time after a setup period; input meanwhile waits")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--self-test-ms", config.selfTestMs,
                   "Time the self-test page takes to print; commands meanwhile wait")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--state", config.stateFile,
                   "Load memory switches from FILE (they win over --switch) and save them after "
                   "each setup period")
        ->type_name("FILE");
    app.add_option("--link", linkPath, "Make a symbolic link PATH to the terminal")
        ->type_name("PATH");
    app.add_option("--tcp", tcp,
                   "Also serve raw TCP on [ADDRESS:]PORT (127.0.0.1:9100; port 0: any)")
        ->type_name("[ADDR:]PORT")
        ->expected(0, 1)
        ->default_str("9100");
    app.add_option("--paper", paperDir, "Write every job as DIR/NNNN.png, .txt and .json")
        ->type_name("DIR");
    app.add_option("--control", controlPath, "Take condition changes on a Unix socket at PATH")
        ->type_name("PATH");
    app.add_option("--set", settings, "A condition at start, as KEY=VALUE (paper=end); repeatable")
        ->type_name("KEY=VALUE");
    app.add_option("--job-gap", config.jobGapMs, "A pause this long ends a job")
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--input-buffer", config.inputBufferBytes,
                   "Input buffer: beyond it the sender is held while the printer cannot print")
        ->type_name("BYTES")
        ->capture_default_str();
    app.add_flag("-q,--quiet", quiet, "Print only the terminal path (and the TCP address)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    auto parseByte = [](const std::string& text, std::uint8_t& out) {
        try {
            std::size_t used = 0;
            const unsigned long v = std::stoul(text, &used, 0);
            if (used != text.size() || v > 0xFF) return false;
            out = static_cast<std::uint8_t>(v);
            return true;
        } catch (...) {
            return false;
        }
    };
    if (!parseByte(model, config.modelByte) || !parseByte(wrongModel, config.wrongModelByte)) {
        fmt::print(stderr, "r3-sim: a model byte must be 0..255 (decimal or 0x..)\n");
        return 2;
    }
    const auto mode = tessaly::sim::ParseFaultMode(fault);
    if (!mode) {
        fmt::print(stderr, "r3-sim: unknown fault mode '{}' (see --help)\n", fault);
        return 2;
    }
    config.fault = *mode;
    for (const auto& s : switches) {
        std::string error;
        if (!ParseSwitch(s, config, error)) {
            fmt::print(stderr, "r3-sim: {}\n", error);
            return 2;
        }
    }
    for (const auto& setting : settings) {
        if (auto error = tessaly::sim::ApplyCondition(config.conditions, setting)) {
            fmt::print(stderr, "r3-sim: --set {}: {}\n", setting, *error);
            return 2;
        }
    }
    tessaly::sim::TcpPrinter::Options tcpOptions;
    if (app.count("--tcp") > 0) {
        std::string error;
        if (!tessaly::sim::ParseTcpAddress(tcp.empty() ? "9100" : tcp, tcpOptions, error)) {
            fmt::print(stderr, "r3-sim: {}\n", error);
            return 2;
        }
    }
    if (config.inputBufferBytes == 0 || config.jobGapMs <= 0) {
        fmt::print(stderr, "r3-sim: --input-buffer and --job-gap must be more than 0\n");
        return 2;
    }
    std::unique_ptr<tessaly::sim::PaperFolder> folder;
    if (!paperDir.empty()) {
        folder = std::make_unique<tessaly::sim::PaperFolder>(paperDir);
        std::string error;
        if (!folder->open(error)) {
            fmt::print(stderr, "r3-sim: {}\n", error);
            return 1;
        }
        config.keepJobs = true;
    }
    config.keepHistory = false;  // r3-sim reports through events and jobs only

    // Signals are taken synchronously below; block them before the server thread
    // starts so that it inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    tessaly::sim::R3Engine engine(config);
    tessaly::sim::PtyPrinter printer(engine, {.linkPath = linkPath});
    if (!printer.start()) {
        fmt::print(stderr, "r3-sim: {}\n", printer.error());
        return 1;
    }
    fmt::print("{}\n", printer.slavePath());
    std::unique_ptr<tessaly::sim::TcpPrinter> network;
    if (app.count("--tcp") > 0) {
        network = std::make_unique<tessaly::sim::TcpPrinter>(engine, tcpOptions);
        if (!network->start()) {
            fmt::print(stderr, "r3-sim: {}\n", network->error());
            return 1;
        }
        fmt::print("tcp {}:{}\n", network->address(), network->port());
    }
    std::unique_ptr<tessaly::sim::ControlSocket> control;
    if (!controlPath.empty()) {
        control = std::make_unique<tessaly::sim::ControlSocket>(engine, controlPath);
        if (!control->start()) {
            fmt::print(stderr, "r3-sim: {}\n", control->error());
            return 1;
        }
    }
    if (!quiet) {
        if (!linkPath.empty()) fmt::print("link {} -> {}\n", linkPath, printer.slavePath());
        fmt::print("virtual {} ({}), model byte 0x{:02x}, fault {}\n", config.printerName,
                   config.manufacturer, config.modelByte,
                   tessaly::sim::FaultModeName(config.fault));
        fmt::print("conditions: {}\n", tessaly::sim::DescribeConditions(engine.conditions()));
        if (control) fmt::print("control socket {}\n", controlPath);
        if (folder) fmt::print("paper folder {}\n", paperDir);
    }
    std::fflush(stdout);

    // Jobs are drawn here, off the transports' threads; while they wait the
    // printer holds its input (PrinterConfig::maxWaitingJobs).
    auto writeJobs = [&] {
        if (!folder) return;
        for (auto& job : engine.takeJobs()) {
            std::string error;
            if (!folder->write(std::move(job), error)) {
                fmt::print(stderr, "r3-sim: a job was not saved: {}\n", error);
            } else if (!quiet) {
                fmt::print("{:9}    > {}\n", "", folder->file("png", folder->lastNumber()));
            }
        }
    };
    const std::int64_t origin = tessaly::SystemClock::instance().now();
    for (;;) {
        timespec wait{0, 50'000'000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &wait);
        writeJobs();
        if (!quiet)
            PrintEvents(engine.takeEvents(), origin);
        else
            engine.takeEvents();
        if (sig == SIGINT || sig == SIGTERM) break;
        if (!printer.running()) {
            if (printer.linkDropped()) fmt::print("link dropped: terminal closed\n");
            break;
        }
    }
    if (network) network->stop();
    if (control) control->stop();
    printer.stop();
    engine.endJob(tessaly::SystemClock::instance().now(), "end");
    writeJobs();
    if (!quiet) {
        PrintEvents(engine.takeEvents(), origin);
        fmt::print("stopped\n");
    }
    return 0;
}
