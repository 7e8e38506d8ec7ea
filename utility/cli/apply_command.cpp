#include "apply_command.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "port_list.h"
#include "profile_commands.h"
#include "regular_file.h"
#include "settings_profile.h"
#include "status_commands.h"
#include "status_file.h"

#ifndef _WIN32
#include <sys/ioctl.h>
#endif

namespace tessaly::cli {
namespace {

struct ApplyOptions {
    std::string file;
    bool diffOnly = false;
    bool json = false;
    std::string portsFrom;
    bool allR3 = false;
};

// A port to bring to the profile. A probed port (a serial port that --all-r3
// tries) that fails the connection check holds no R-3 and is skipped.
struct Target {
    std::string port;
    bool probe = false;
};

struct PrinterResult {
    std::string port;
    int status = kOk;
    bool skipped = false;
    bool changed = false;  // with --diff: would change
    std::optional<PrinterSettings> before;
    std::optional<PrinterSettings> after;
    std::vector<SettingChange> diff;
    std::vector<std::string> warnings;
    std::string error;
};

// One printer's messages. Questions are answered by --yes alone: several printers
// may ask at the same time, and nobody could tell which one asks.
class PrinterNotifier final : public Notifier {
  public:
    explicit PrinterNotifier(bool yes) : yes_(yes) {}
    MessageAnswer notify(const Message& message) override {
        const bool question = message.buttons != MessageButtons::Ok;
        if (question && !yes_) {
            warnings.push_back(message.text + " (answered no: pass --yes to accept)");
        } else if (message.icon == MessageIcon::Exclamation || message.icon == MessageIcon::Stop) {
            warnings.push_back(message.text);
        }
        if (!question) return MessageAnswer::Ok;
        const bool yesNo = message.buttons == MessageButtons::YesNo;
        if (yes_) return yesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
        return yesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    }
    std::vector<std::string> warnings;

  private:
    bool yes_;
};

std::string ChangeText(const SettingChange& c) {
    return fmt::format("{}: {} -> {} ({})", c.key, c.from, c.to, c.BitsText());
}

// A profile on standard input ("-"), for callers that have it at hand and no
// file to put it in (Ansible's check mode).
bool ReadProfileFromStandardInput(SettingsProfile& profile, std::string& error) {
    std::string text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin)) {
        text.append(buffer, n);
        if (text.size() > kMaxProfileBytes) {
            error = fmt::format("The profile on standard input is larger than {} bytes.",
                                kMaxProfileBytes);
            return false;
        }
    }
    if (std::ferror(stdin)) {
        error = "Can't read the profile from standard input.";
        return false;
    }
    return ParseProfileFrom(text, "on standard input", profile, error);
}

// Reads a profile, or a status file as what Set Status of it would write.
bool ReadTargetSettings(const std::string& path, SettingsProfile& profile, std::string& error) {
    if (path == "-") return ReadProfileFromStandardInput(profile, error);
    if (HasProfileFileName(path)) return ReadProfileFile(path, profile, error);
    if (!HasStatusFileName(path)) {
        error = fmt::format("'{}' is neither a profile (*.toml) nor a status file (*.sts).", path);
        return false;
    }
    PrinterSettings settings;
    if (const auto result = ReadStatusFile(path, settings, &error);
        result != StatusFileResult::Ok) {
        error = StatusFileFailure(result, path, error).text;
        return false;
    }
    profile = WrittenProfile(settings);
    return true;
}

// Brings one printer to the profile: Get Status, the difference, Set Status only
// when something differs, and a second Get Status after the restart to prove the
// printer took every bit. Runs on its own thread with its own runtime (port, print
// queue diversion, built-in printer), so nothing is shared with other printers.
PrinterResult ApplyToPrinter(const GlobalOptions& global, const Target& target,
                             const SettingsProfile& profile, bool diffOnly,
                             const std::function<void(const std::string&)>& progress) {
    PrinterResult result;
    result.port = target.port;
    Runtime rt;
    rt.options = global;
    rt.options.port = target.port;
    rt.options.ports.clear();
    rt.options.quiet = true;
    PrinterNotifier notifier(global.yes);
    std::vector<std::string> errors;
    rt.Redirect(notifier, [&errors](const std::string& e) { errors.push_back(e); });
    // What the port and the printer said on the way, for a run that succeeded.
    auto warnings = [&] {
        std::vector<std::string> all = errors;
        all.insert(all.end(), notifier.warnings.begin(), notifier.warnings.end());
        return all;
    };
    auto fail = [&](int status, const std::string& what) {
        result.status = status;
        result.error = what;
        for (const auto& e : errors) result.error += "\n" + e;
        for (const auto& w : notifier.warnings) result.error += "\n" + w;
        notifier.warnings.clear();
        return result;
    };

    progress("checking the connection");
    if (const int status = rt.Connect(); status != kOk) {
        if (target.probe) {
            result.skipped = true;
            return result;
        }
        return fail(status, "The connection check failed; nothing was written.");
    }
    result.port = rt.options.port;  // the built-in printer's terminal, when it is one
    DialogParts parts(rt);
    ui::PrinterStatusDialog& dialog = *parts.dialog;

    progress("reading the settings");
    dialog.OnGetStatus();
    if (!dialog.lastGetStatusOk())
        return fail(kPrinterFailed, "Get Status failed; nothing was written.");
    const PrinterSettings before = dialog.record().settings;
    result.before = before;
    const ApplyPlan plan = PlanApply(before, profile);
    result.diff = plan.changes;
    if (!plan.refusal.empty())
        return fail(kPrinterFailed,
                    "The profile cannot be applied to this printer; nothing was "
                    "written:\n" +
                        plan.refusal);
    if (plan.changes.empty()) {
        result.after = before;
        result.warnings = warnings();
        return result;
    }
    if (diffOnly) {
        result.changed = true;
        result.warnings = warnings();
        return result;
    }
    progress(fmt::format("writing {} change{}", plan.changes.size(),
                         plan.changes.size() == 1 ? "" : "s"));
    dialog.progress().onPosition = [&](int position) {
        if (position > 0) progress(fmt::format("writing, {}%", position));
    };
    dialog.OnLoadSettings(plan.target);
    const int written = parts.SetStatus();
    dialog.progress().onPosition = nullptr;
    // A failed handshake wrote nothing and leaves the dialog good for nothing else.
    if (dialog.lastSetStatus() == SetStatusOutcome::HandshakeFailed)
        return fail(written, "Set Status could not reach the printer; nothing was written.");
    if (dialog.lastSetStatus() == SetStatusOutcome::StandInsDeclined)
        return fail(written, "Nothing was written: the buyer set needs stand-in font data.");

    progress("reading the settings back");
    dialog.OnGetStatus();
    if (!dialog.enabled(kGetButton) || !dialog.lastGetStatusOk()) {
        result.changed = true;
        return fail(kPrinterFailed,
                    "The settings were written, but reading them back failed: whether the "
                    "printer took them is not known.");
    }
    result.after = dialog.record().settings;
    result.changed = !DiffSettings(before, *result.after).empty();
    const auto missed = DiffSettings(plan.target, *result.after);
    if (!missed.empty()) {
        std::string text = "The printer did not take these settings (written, then read back):";
        for (const SettingChange& c : missed)
            text +=
                fmt::format("\n  {}: wrote {}, reads {} ({})", c.key, c.from, c.to, c.BitsText());
        return fail(kPrinterFailed, text);
    }
    if (written != kOk)
        return fail(written,
                    "The switches were written and read back, but the font download "
                    "failed.");
    result.warnings = warnings();
    return result;
}

nlohmann::ordered_json ResultJson(const PrinterResult& r) {
    auto record = [](const std::optional<PrinterSettings>& s) {
        return s ? RecordJson(*s) : nlohmann::ordered_json(nullptr);
    };
    return {{"port", r.port},
            {"changed", r.changed},
            {"before", record(r.before)},
            {"after", record(r.after)},
            {"diff", ChangesJson(r.diff)},
            {"error",
             r.error.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.error)},
            {"warnings", r.warnings}};
}

std::string Outcome(const PrinterResult& r, bool diffOnly) {
    if (r.status != kOk) return "failed";
    if (!r.changed) return "unchanged";
    return diffOnly ? "would change (--diff: nothing written)" : "changed";
}

void PrintResult(const PrinterResult& r, bool json, bool diffOnly) {
    if (json) {
        fmt::print("{}\n", ResultJson(r).dump());
        std::fflush(stdout);
        return;
    }
    for (const SettingChange& c : r.diff) fmt::print("{}: {}\n", r.port, ChangeText(c));
    for (const auto& w : r.warnings) fmt::print(stderr, "{}: warning: {}\n", r.port, w);
    fmt::print("{}: {}\n", r.port, Outcome(r, diffOnly));
    std::fflush(stdout);
    if (!r.error.empty()) fmt::print(stderr, "{}: {}\n", r.port, r.error);
}

std::vector<std::string> ReadPortsFile(const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!ReadLimitedFile(path, kMaxProfileBytes, "a port list", kMaxProfileText, bytes, reason)) {
        error = fmt::format("Can't read the port list \"{}\": {}.", path, reason);
        return {};
    }
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> ports;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        ports.push_back(line.substr(first, line.find_last_not_of(" \t\r") + 1 - first));
    }
    if (ports.empty()) error = fmt::format("The port list \"{}\" names no port.", path);
    return ports;
}

// The device a port name stands for: the same port named twice (or by two names,
// such as a link and its node) would have two threads fight over it.
std::string DeviceKey(const std::string& port) {
    const auto choice = ChoosePort(port);
    if (!choice) return port;
#ifndef _WIN32
    // Windows reports no inode numbers: there the name is all there is.
    struct stat node {};
    if (::stat(choice->device.c_str(), &node) == 0)
        return fmt::format("{}:{}", node.st_dev, node.st_ino);
#endif
    return choice->device;
}

void AddTarget(std::vector<Target>& targets, std::vector<std::string>& devices, Target target) {
    std::string device = DeviceKey(target.port);
    if (std::find(devices.begin(), devices.end(), device) != devices.end()) return;
    devices.push_back(device);
    targets.push_back(std::move(target));
}

int ApplyCommand(Runtime& rt, const ApplyOptions& options) {
    const GlobalOptions& global = rt.options;
    SettingsProfile profile;
    std::string error;
    if (!ReadTargetSettings(options.file, profile, error)) {
        rt.Error(error);
        return kFileOrPort;
    }

    std::vector<Target> targets;
    std::vector<std::string> devices;
    for (const auto& port : global.ports) AddTarget(targets, devices, {port});
    if (!options.portsFrom.empty()) {
        const auto ports = ReadPortsFile(options.portsFrom, error);
        if (!error.empty()) {
            rt.Error(error);
            return kFileOrPort;
        }
        for (const auto& port : ports) AddTarget(targets, devices, {port});
    }
    if (options.allR3) {
        // USB printers are R-3s by their identity; a serial port is one when an R-3
        // answers the connection check on it.
        for (const PortEntry& entry : ListPorts()) {
            if (entry.type == PortType::Parallel) continue;
            AddTarget(targets, devices, {entry.name, entry.type == PortType::Serial});
        }
    }
    if (global.virtualPrinter) {
        if (!targets.empty()) {
            rt.Error(
                "--virtual-printer stands for one printer of its own: give it without "
                "--port, --ports-from and --all-r3.");
            return kUsage;
        }
        targets.push_back({});
    }
    if (targets.empty()) {
        rt.Error(options.allR3
                     ? "This machine has no USB or serial port that could hold an R-3."
                     : "No printer port given. Name one or more with --port, list them in a file "
                       "for --ports-from, or use --all-r3.");
        return options.allR3 ? kFileOrPort : kUsage;
    }

    std::vector<std::string> names;
    for (const Target& t : targets) names.push_back(t.port.empty() ? "virtual printer" : t.port);
    ProgressBoard board(stderr, names, !global.quiet && ProgressBoard::TerminalOnStandardError(),
                        ProgressBoard::TerminalWidth());
    std::mutex outputMutex;
    std::vector<PrinterResult> results(targets.size());
    std::vector<std::thread> threads;
    threads.reserve(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        threads.emplace_back([&, i] {
            PrinterResult& r = results[i];
            try {
                r = ApplyToPrinter(global, targets[i], profile, options.diffOnly,
                                   [&board, i](const std::string& text) { board.Set(i, text); });
            } catch (const std::exception& e) {
                r.port = targets[i].port;
                r.status = kPrinterFailed;
                r.error = fmt::format("Stopped by an internal error: {}", e.what());
            }
            board.Set(i, r.skipped ? "no R-3 here" : Outcome(r, options.diffOnly));
            // Without a board the results go out as the printers finish.
            if (!board.enabled() && !r.skipped) {
                std::lock_guard lock(outputMutex);
                PrintResult(r, options.json, options.diffOnly);
            }
        });
    }
    for (auto& t : threads) t.join();

    int changed = 0, unchanged = 0, failed = 0, skipped = 0;
    std::optional<int> failure;
    for (const PrinterResult& r : results) {
        if (r.skipped) {
            ++skipped;
            continue;
        }
        if (board.enabled()) PrintResult(r, options.json, options.diffOnly);
        if (r.status != kOk) {
            ++failed;
            // Several kinds of failure: the printer's, 1.
            failure = !failure || *failure == r.status ? r.status : kPrinterFailed;
        } else {
            ++(r.changed ? changed : unchanged);
        }
    }
    const int printers = changed + unchanged + failed;
    if (printers == 0) {
        rt.Error("No R-3 answered the connection check on a USB or serial port of this machine.");
        return kFileOrPort;
    }
    if (targets.size() > 1) {
        const char* changedWord = options.diffOnly ? "would change" : "changed";
        if (options.json) {
            nlohmann::ordered_json summary{{"printers", printers},
                                           {"changed", changed},
                                           {"unchanged", unchanged},
                                           {"failed", failed},
                                           {"skipped", skipped}};
            fmt::print("{}\n", nlohmann::ordered_json{{"summary", summary}}.dump());
        } else {
            fmt::print("{} printer{}: {} {}, {} unchanged, {} failed{}\n", printers,
                       printers == 1 ? "" : "s", changed, changedWord, unchanged, failed,
                       skipped ? fmt::format(" ({} serial port{} without an R-3 skipped)", skipped,
                                             skipped == 1 ? "" : "s")
                               : "");
        }
    }
    return failure.value_or(kOk);
}

}  // namespace

ProgressBoard::ProgressBoard(std::FILE* out, std::vector<std::string> names, bool enabled,
                             int width)
    : out_(out),
      names_(std::move(names)),
      texts_(names_.size(), "waiting"),
      enabled_(enabled),
      width_(std::max(width, 20)) {
    for (const auto& n : names_)
        nameWidth_ = std::max(nameWidth_, std::min<std::size_t>(n.size(), 40));
    if (!enabled_) return;
    for (std::size_t i = 0; i < names_.size(); ++i) fmt::print(out_, "{}\n", Line(i));
    std::fflush(out_);
}

void ProgressBoard::Set(std::size_t row, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (row >= texts_.size() || texts_[row] == text) return;
    texts_[row] = text;
    if (!enabled_) return;
    // Up to the row, rewrite it, and back below the last row.
    const std::size_t up = names_.size() - row;
    fmt::print(out_, "\x1b[{}A\r\x1b[2K{}\x1b[{}B\r", up, Line(row), up);
    std::fflush(out_);
}

std::string ProgressBoard::Line(std::size_t row) const {
    std::string line = fmt::format("{:<{}}  {}", names_[row], nameWidth_, texts_[row]);
    if (line.size() >= static_cast<std::size_t>(width_))
        line.resize(static_cast<std::size_t>(width_ - 1));
    return line;
}

bool ProgressBoard::TerminalOnStandardError() {
#ifdef _WIN32
    return false;  // no cursor movement in the classic console
#else
    const char* term = std::getenv("TERM");
    return isatty(STDERR_FILENO) != 0 && term != nullptr && std::string_view(term) != "dumb";
#endif
}

int ProgressBoard::TerminalWidth() {
#ifndef _WIN32
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 80;
}

void AddApplyCommand(CLI::App& app, Runtime& rt, int& exit) {
    auto options = std::make_shared<ApplyOptions>();
    auto* apply = app.add_subcommand(
        "apply",
        "Bring printers to a settings profile: write only what differs, then read it back.");
    apply
        ->add_option("FILE", options->file,
                     "Settings profile (*.toml; - reads one from standard input) or status "
                     "file (*.sts)")
        ->required();
    apply->add_flag("--diff", options->diffOnly, "Only print what would change; write nothing");
    apply->add_flag("--json", options->json,
                    "Print one JSON object per printer (and a summary line for several)");
    apply->add_option("--ports-from", options->portsFrom,
                      "Also apply to the ports listed in this file, one per line (# comments)");
    apply->add_flag("--all-r3", options->allR3,
                    "Also apply to every R-3 on USB and every serial port an R-3 answers on");
    apply->footer(R"(
Every printer is read first (Get Status). When its settings already match the
profile nothing is written and it is reported "unchanged"; otherwise Set Status
writes the switches (and downloads the font when the buyer set changes), and a
second Get Status after the restart checks that the printer took every bit:
"changed", or a failure naming the bits it did not take. Settings the profile
does not name stay as each printer has them. Several printers (--port given
several times, --ports-from, --all-r3) are done at the same time, one thread
each; the exit status is 0 only when every printer succeeded.)");
    apply->callback([&, options] { exit = ApplyCommand(rt, *options); });
}

}  // namespace tessaly::cli
