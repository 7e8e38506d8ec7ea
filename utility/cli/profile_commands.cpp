#include "profile_commands.h"

#include <fmt/format.h>

#include "status_commands.h"
#include "status_file.h"

namespace tessaly::cli {
namespace {

// The value of each named setting, code page and buyer set as a profile writes
// it; nullopt for what the profile leaves to the printer.
struct NamedValues {
    std::vector<std::pair<std::string, std::optional<std::string>>> settings;
    std::optional<int> codePage;
    std::optional<std::string> buyerSet;
};

NamedValues Values(const SettingsProfile& p) {
    NamedValues v;
    for (const SwitchSetting& s : kSwitchSettings) {
        const SwitchRequest r = p.request(s.switchNumber);
        const auto m = static_cast<std::uint8_t>(1u << (s.bit - 1));
        v.settings.emplace_back(
            SettingKey(s), (r.named & m) == 0
                               ? std::nullopt
                               : std::optional<std::string>((r.value & m) ? s.choice1 : s.choice0));
    }
    const SwitchRequest msw2 = p.request(2);
    if ((msw2.named & 0xFC) == 0xFC) {
        SwitchBits bits{};
        SetSwitchValue(bits, msw2.value);
        v.codePage = CodePageIndex(bits);
    }
    if (const char* entry = ListEntry(kBuyerSetNames, p.buyerSetIndex); entry && p.buyerSetIndex)
        v.buyerSet = entry;
    return v;
}

nlohmann::ordered_json CodePageJson(int index) {
    const auto name = UniqueCodePageName(index);
    return name ? nlohmann::ordered_json(*name) : nlohmann::ordered_json(index);
}

int ExportCommand(Runtime& rt, const std::string& path) {
    if (!HasProfileFileName(path)) {
        rt.Error(fmt::format("'{}' is no profile name: export writes a *.toml file.", path));
        return kUsage;
    }
    int status = kOk;
    const auto parts = ReadPrinter(rt, status);
    if (!parts) return status;
    const StatusRecord& r = parts->dialog->record();
    PrinterSettings settings = r.settings;
    const int buyer = BuyerValue(settings.msw12);
    settings.buyerSetIndex = ListIndexForBuyerValue(buyer);
    // Bits Set Status cannot write would only make apply refuse printers on which
    // they differ.
    const SettingsProfile profile = WrittenProfile(settings);
    std::string heading = fmt::format("Exported from {}: {}, firmware {}.", rt.options.port,
                                      r.identity.modelNameText, r.identity.firmwareVersionText);
    heading += "\nSwitch 1 bits other than 4 and 5 are left out: Set Status cannot write them.";
    if (buyer != 0 && settings.buyerSetIndex == 0) {
        heading += fmt::format(
            "\nSwitch 12 holds {} ({}) and is left out: name the buyer set, e.g. buyer_set = "
            "\"CHN-BIG5\", for apply to set it and download its font.",
            buyer, BuyerValueName(buyer) ? BuyerValueName(buyer) : "no buyer set");
    }
    std::string error;
    if (!WriteProfileFile(path, profile, heading, error)) {
        rt.Error(error);
        return kFileOrPort;
    }
    rt.Print(fmt::format("Profile written to {}", path));
    return kOk;
}

int ConvertCommand(Runtime& rt, const std::string& from, const std::string& to) {
    const bool toProfile = HasStatusFileName(from) && HasProfileFileName(to);
    const bool toStatusFile = HasProfileFileName(from) && HasStatusFileName(to);
    if (!toProfile && !toStatusFile) {
        rt.Error(
            "convert turns a status file (*.sts) into a profile (*.toml) or a profile into a "
            "status file: name one of each.");
        return kUsage;
    }
    std::string error;
    if (toProfile) {
        PrinterSettings settings;
        if (const auto result = ReadStatusFile(from, settings, &error);
            result != StatusFileResult::Ok) {
            rt.Error(StatusFileFailure(result, from, error).text);
            return kFileOrPort;
        }
        if (!WriteProfileFile(to, ProfileFromSettings(settings),
                              fmt::format("Converted from {}", from), error)) {
            rt.Error(error);
            return kFileOrPort;
        }
    } else {
        SettingsProfile profile;
        if (!ReadProfileFile(from, profile, error)) {
            rt.Error(error);
            return kFileOrPort;
        }
        const auto settings = SettingsFromProfile(profile, error);
        if (!settings) {
            rt.Error(fmt::format("{}: {}\nNothing was written.", from, error));
            return kFileOrPort;
        }
        if (const auto result = WriteStatusFile(to, *settings, &error);
            result != StatusFileResult::Ok) {
            rt.Error(StatusFileFailure(result, to, error).text);
            return kFileOrPort;
        }
    }
    rt.Print(fmt::format("Converted {} to {}", from, to));
    return kOk;
}

}  // namespace

nlohmann::ordered_json ProfileJson(const SettingsProfile& profile) {
    const NamedValues v = Values(profile);
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    for (const auto& [key, value] : v.settings)
        j[key] = value ? nlohmann::ordered_json(*value) : nullptr;
    j[kCodePageKey] = v.codePage ? CodePageJson(*v.codePage) : nullptr;
    j[kBuyerSetKey] = v.buyerSet ? nlohmann::ordered_json(*v.buyerSet) : nullptr;
    nlohmann::ordered_json switches = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < kRecordSwitches.size(); ++i)
        switches[fmt::format("msw{}", kRecordSwitches[i])] = RequestText(profile.switches[i]);
    j["switches"] = switches;
    return j;
}

nlohmann::ordered_json RecordJson(const PrinterSettings& settings) {
    nlohmann::ordered_json j = ProfileJson(ProfileFromSettings(settings));
    const char* name = BuyerValueName(BuyerValue(settings.msw12));
    j[kBuyerSetKey] = name ? nlohmann::ordered_json(name) : nullptr;
    return j;
}

nlohmann::ordered_json ChangesJson(const std::vector<SettingChange>& changes) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SettingChange& c : changes) {
        nlohmann::ordered_json bits = nlohmann::ordered_json::array();
        for (const auto& [number, bit] : c.bits)
            bits.push_back(fmt::format("msw{} bit {}", number, bit));
        list.push_back({{"key", c.key}, {"from", c.from}, {"to", c.to}, {"bits", bits}});
    }
    return list;
}

int ShowProfile(const std::string& path, bool json) {
    SettingsProfile profile;
    std::string error;
    if (!ReadProfileFile(path, profile, error)) {
        fmt::print(stderr, "{}\n", error);
        return kFileOrPort;
    }
    if (json) {
        fmt::print("{}\n", ProfileJson(profile).dump(2));
        return kOk;
    }
    const NamedValues v = Values(profile);
    constexpr const char* kKept = "(kept as the printer has it)";
    std::string out = fmt::format("Profile {}\nMemory switches\n", path);
    for (std::size_t i = 0; i < kSwitchSettings.size(); ++i) {
        const SwitchSetting& s = kSwitchSettings[i];
        out += fmt::format("  {:<24} {:<16} (switch {} bit {})\n", s.label,
                           v.settings[i].second.value_or(kKept), s.switchNumber, s.bit);
    }
    const char* codePage = v.codePage ? ListEntry(kCodePageNames, *v.codePage) : nullptr;
    out += fmt::format(
        "{:<26} {}\n", "Default Code Page",
        v.codePage ? fmt::format("{} {}", *v.codePage, codePage ? codePage : "") : kKept);
    out += fmt::format("{:<26} {}\n", "Buyer Set", v.buyerSet.value_or(kKept));
    std::string bits;
    for (std::size_t i = 0; i < kRecordSwitches.size(); ++i)
        bits += fmt::format("{}msw{}={}", i ? " " : "", kRecordSwitches[i],
                            RequestText(profile.switches[i]));
    out += fmt::format("{:<26} {}\n", "Switch bits (8..1)", bits);
    fmt::print("{}", out);
    return kOk;
}

void AddProfileCommands(CLI::App& app, Runtime& rt, int& exit) {
    auto* exportCommand = app.add_subcommand(
        "export", "Read the printer's settings and write them as a settings profile (*.toml).");
    auto exportPath = std::make_shared<std::string>();
    exportCommand->add_option("--profile", *exportPath, "Profile to write (*.toml)")->required();
    exportCommand->callback([&, exportPath] { exit = ExportCommand(rt, *exportPath); });

    auto* convert = app.add_subcommand(
        "convert", "Turn a status file into a settings profile or back, without a printer.");
    auto from = std::make_shared<std::string>();
    auto to = std::make_shared<std::string>();
    convert->add_option("FROM", *from, "Status file (*.sts) or profile (*.toml) to read")
        ->required();
    convert->add_option("TO", *to, "Profile or status file to write (the other kind)")->required();
    convert->callback([&, from, to] { exit = ConvertCommand(rt, *from, *to); });
}

}  // namespace tessaly::cli
