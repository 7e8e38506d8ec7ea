#include "status_commands.h"

#include <fmt/format.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "pacing_engine.h"
#include "payloads.h"
#include "printer_status_dialog.h"
#include "profile_commands.h"
#include "status_file.h"

namespace tessaly::cli {
namespace {

std::string ListText(const char* entry, int index) {
    return entry ? std::string(entry) : fmt::format("unknown ({})", index);
}

// Marks a value that no printer setting has (a status file from another tool).
std::string Marked(std::string text, bool known) {
    return known ? text : text + "  <- no printer setting has this value";
}

constexpr std::array<const char*, 7> kSwitchNames{"msw1",  "msw2",  "msw8", "msw9",
                                                  "msw10", "msw11", "msw12"};

}  // namespace

std::string StatusTable(const PrinterSettings& s, const PrinterIdentity* identity,
                        const SerialConditions* serial, bool fromFile) {
    std::string out;
    auto row = [&out](const std::string& name, const std::string& value) {
        out += fmt::format("{:<26} {}\n", name, value);
    };
    if (identity) {
        row("Printer Model", identity->modelNameText);
        row("Firmware Version", identity->firmwareVersionText);
    }
    out += "Memory switches\n";
    for (const SwitchSetting& setting : kSwitchSettings) {
        const SwitchBits& bits = *SwitchByNumber(s, setting.switchNumber);
        const bool set = BitSet(bits, setting.bit);
        out +=
            fmt::format("  {:<24} {:<16} (switch {} bit {})\n", setting.label,
                        set ? setting.choice1 : setting.choice0, setting.switchNumber, setting.bit);
    }
    const int buyer = BuyerValue(s.msw12);
    const int codePage = CodePageIndex(s.msw2);
    row("Default Code Page",
        fmt::format("{} {}{}", codePage, ListText(ListEntry(kCodePageNames, codePage), codePage),
                    IsNationalBuyerValue(buyer) ? " (not applied: national buyer set)" : ""));
    row("Buyer Set (switch 12)",
        Marked(fmt::format("{} {}", buyer, ListText(BuyerValueName(buyer), buyer)),
               IsKnownBuyerValue(buyer)));
    if (fromFile) {
        row("Buyer-set list entry",
            Marked(
                fmt::format("{} {}", s.buyerSetIndex,
                            ListText(ListEntry(kBuyerSetNames, s.buyerSetIndex), s.buyerSetIndex)),
                IsKnownBuyerSetIndex(s.buyerSetIndex)));
    }
    if (serial) {
        auto text = [](const char* entry) { return entry ? std::string(entry) : "unknown"; };
        row("Baud Rate", text(ListEntry(kBaudTexts, serial->baudIndex)));
        row("Data Bits", text(ListEntry(kDataBitsTexts, serial->dataBitsIndex)));
        row("Parity", text(ListEntry(kParityTexts, serial->parityIndex)));
        row("Flow Control", text(ListEntry(kFlowTexts, serial->flowIndex)));
    }
    std::string bits;
    for (std::size_t i = 0; i < kRecordSwitches.size(); ++i) {
        bits += fmt::format("{}{}={}", i ? " " : "", kSwitchNames[i],
                            SwitchBitsText(*SwitchByNumber(s, kRecordSwitches[i])));
    }
    row("Switch bits (8..1)", bits);
    return out;
}

std::string StatusJson(const PrinterSettings& s, const PrinterIdentity* identity,
                       const SerialConditions* serial, bool fromFile) {
    using nlohmann::json;
    json j;
    if (identity) {
        j["model"] = identity->modelNameText;
        j["firmwareVersion"] = identity->firmwareVersionText;
        j["firmwareMajor"] = identity->firmwareMajor;
    }
    json rows = json::array();
    for (const SwitchSetting& setting : kSwitchSettings) {
        const bool set = BitSet(*SwitchByNumber(s, setting.switchNumber), setting.bit);
        rows.push_back({{"name", setting.label},
                        {"switch", setting.switchNumber},
                        {"bit", setting.bit},
                        {"value", set ? 1 : 0},
                        {"text", set ? setting.choice1 : setting.choice0}});
    }
    j["memorySwitches"] = rows;
    json raw = json::object();
    for (std::size_t i = 0; i < kRecordSwitches.size(); ++i) {
        const SwitchBits& bits = *SwitchByNumber(s, kRecordSwitches[i]);
        raw[kSwitchNames[i]] = {
            {"value", SwitchValue(bits)}, {"bits", SwitchBitsText(bits)}, {"elements", bits}};
    }
    j["switches"] = raw;
    const int buyer = BuyerValue(s.msw12);
    const int codePage = CodePageIndex(s.msw2);
    const char* codePageName = ListEntry(kCodePageNames, codePage);
    j["defaultCodePage"] = {{"index", codePage},
                            {"name", codePageName ? json(codePageName) : json(nullptr)},
                            {"applies", !IsNationalBuyerValue(buyer)}};
    const char* buyerName = BuyerValueName(buyer);
    j["buyerSet"] = {{"value", buyer},
                     {"name", buyerName ? json(buyerName) : json(nullptr)},
                     {"known", IsKnownBuyerValue(buyer)}};
    if (fromFile) {
        const char* entry = ListEntry(kBuyerSetNames, s.buyerSetIndex);
        j["buyerSetIndex"] = {{"index", s.buyerSetIndex},
                              {"entry", entry ? json(entry) : json(nullptr)},
                              {"known", IsKnownBuyerSetIndex(s.buyerSetIndex)}};
    }
    if (serial) {
        auto text = [](const char* entry) { return entry ? json(entry) : json(nullptr); };
        j["serial"] = {{"baud", text(ListEntry(kBaudTexts, serial->baudIndex))},
                       {"dataBits", text(ListEntry(kDataBitsTexts, serial->dataBitsIndex))},
                       {"parity", text(ListEntry(kParityTexts, serial->parityIndex))},
                       {"flowControl", text(ListEntry(kFlowTexts, serial->flowIndex))}};
    }
    return j.dump(2) + "\n";
}

DialogParts::DialogParts(Runtime& rt) : timers(rt.clock()) {
    // The dialog asks before Set Status writes anything whether stand-in font data
    // may go to a printer; a virtual printer takes it without asking.
    FontDownload::PayloadLookup payloads = payloads::FindFontPayload;
    if (rt.options.virtualPrinter) {
        payloads = [](int id) {
            auto payload = payloads::FindFontPayload(id);
            if (payload) payload->standIn = false;
            return payload;
        };
    }
    dialog = std::make_unique<ui::PrinterStatusDialog>(ui::StatusDialogDeps{
        rt.port(), rt.clock(), rt.notifier(), runner, timers, 0, std::move(payloads)});
}

int DialogParts::SetStatus() {
    dialog->OnSetStatus();
    if (dialog->downloading()) timers.run([this](int id) { dialog->OnTimer(id); });
    switch (dialog->lastSetStatus()) {
        case SetStatusOutcome::Done:
            return kOk;
        case SetStatusOutcome::FontDownloadStarted:
            return dialog->downloadOutcome() == FontDownload::Outcome::Succeeded ? kOk
                                                                                 : kPrinterFailed;
        default:
            return kPrinterFailed;
    }
}

std::unique_ptr<DialogParts> ReadPrinter(Runtime& rt, int& status) {
    status = rt.Connect();
    if (status != kOk) return nullptr;
    auto parts = std::make_unique<DialogParts>(rt);
    parts->dialog->OnGetStatus();
    if (parts->dialog->lastGetStatusOk()) return parts;
    status = kPrinterFailed;
    return nullptr;
}

namespace {

// A progress bar on standard error, drawn only for a terminal.
class TerminalProgress {
  public:
    explicit TerminalProgress(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) != 0) {}
    ~TerminalProgress() { Finish(); }
    void Show(int position) {
        if (!enabled_ || position == last_) return;
        last_ = position;
        const int filled = position * 40 / 100;
        fmt::print(stderr, "\r[{}{}] {:3}%", std::string(static_cast<std::size_t>(filled), '#'),
                   std::string(static_cast<std::size_t>(40 - filled), '.'), position);
        std::fflush(stderr);
        drawn_ = true;
    }
    void Finish() {
        if (drawn_) fmt::print(stderr, "\n");
        drawn_ = false;
    }

  private:
    bool enabled_;
    bool drawn_ = false;
    int last_ = -1;
};

int GetStatusCommand(Runtime& rt, const std::string& savePath, bool json) {
    if (json) rt.options.quiet = true;  // standard output carries only the JSON
    int status = kOk;
    const auto parts = ReadPrinter(rt, status);
    if (!parts) return status;
    ui::PrinterStatusDialog& dialog = *parts->dialog;
    const StatusRecord& r = dialog.record();
    if (json) {
        fmt::print("{}", StatusJson(r.settings, &r.identity, &r.serial, false));
    } else {
        fmt::print("{}", StatusTable(r.settings, &r.identity, &r.serial, false));
    }
    if (!savePath.empty()) {
        dialog.OnSaveStatus(savePath);
        if (!dialog.lastFileOk()) return kFileOrPort;
        rt.Print(fmt::format("Status saved to {}", savePath));
    }
    return kOk;
}

int SetStatusCommand(Runtime& rt, const std::string& path) {
    // Refuse a file that Load Status would refuse before touching the printer.
    PrinterSettings preview;
    std::string reason;
    if (!HasStatusFileName(path)) {
        rt.notifier().notify(messages::kWrongFormatFile);
        return kFileOrPort;
    }
    if (const auto result = ReadStatusFile(path, preview, &reason);
        result != StatusFileResult::Ok) {
        rt.notifier().notify(StatusFileFailure(result, path, reason));
        return kFileOrPort;
    }
    if (const int status = rt.Connect(); status != kOk) return status;
    DialogParts parts(rt);
    ui::PrinterStatusDialog& dialog = *parts.dialog;
    TerminalProgress bar(!rt.options.quiet);
    dialog.progress().onPosition = [&bar](int position) { bar.Show(position); };

    dialog.OnLoadStatus(path);
    if (!dialog.lastFileOk()) return kFileOrPort;
    const int status = parts.SetStatus();
    bar.Finish();
    if (dialog.lastSetStatus() == SetStatusOutcome::StandInsDeclined)
        fmt::print(stderr, "Nothing was written to the printer.\n");
    return status;
}

int ShowCommand(Runtime& rt, const std::string& path, bool json) {
    if (HasProfileFileName(path)) return ShowProfile(path, json);
    PrinterSettings settings;
    std::string reason;
    if (!HasStatusFileName(path)) {
        rt.notifier().notify(messages::kWrongFormatFile);
        return kFileOrPort;
    }
    if (const auto result = ReadStatusFile(path, settings, &reason);
        result != StatusFileResult::Ok) {
        rt.notifier().notify(StatusFileFailure(result, path, reason));
        return kFileOrPort;
    }
    fmt::print("{}", json ? StatusJson(settings, nullptr, nullptr, true)
                          : StatusTable(settings, nullptr, nullptr, true));
    return kOk;
}

}  // namespace

void AddStatusCommands(CLI::App& app, Runtime& rt, int& exit) {
    auto* get = app.add_subcommand(
        "get-status", "Read the printer's identity, memory switches and serial conditions.");
    auto savePath = std::make_shared<std::string>();
    auto getJson = std::make_shared<bool>(false);
    get->add_option("--save", *savePath,
                    "Also write the settings to a status file (*.sts) or profile (*.toml)");
    get->add_flag("--json", *getJson, "Print JSON instead of a table");
    get->callback([&, savePath, getJson] { exit = GetStatusCommand(rt, *savePath, *getJson); });

    auto* set = app.add_subcommand(
        "set-status",
        "Write a status file into the printer; a national buyer set also downloads its font.");
    auto setPath = std::make_shared<std::string>();
    set->add_option("FILE", *setPath, "Status file (*.sts)")->required();
    set->callback([&, setPath] { exit = SetStatusCommand(rt, *setPath); });

    auto* show =
        app.add_subcommand("show", "Decode a status file or a settings profile without a printer.");
    auto showPath = std::make_shared<std::string>();
    auto showJson = std::make_shared<bool>(false);
    show->add_option("FILE", *showPath, "Status file (*.sts) or settings profile (*.toml)")
        ->required();
    show->add_flag("--json", *showJson, "Print JSON instead of a table");
    show->callback([&, showPath, showJson] { exit = ShowCommand(rt, *showPath, *showJson); });
}

}  // namespace tessaly::cli
