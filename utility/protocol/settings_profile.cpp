#include "settings_profile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "profile_bits.h"
#include "regular_file.h"
#include "status_file.h"

namespace tessaly {
namespace {

using namespace profile_bits;

// Whether a switch holds exactly what its eight bits say: reserved element 0 and
// every bit element 0 or 1.
bool PlainBits(const SwitchBits& bits) {
    if (bits[0] != 0) return false;
    return std::all_of(bits.begin() + 1, bits.end(),
                       [](std::int32_t e) { return e == 0 || e == 1; });
}

// The bits of each switch that the named settings, the code page and the buyer
// set cover; the rest are reported per switch.
std::array<std::uint8_t, kSwitches> NamedBits() {
    std::array<std::uint8_t, kSwitches> covered{};
    for (const SwitchSetting& s : kSwitchSettings) covered[IndexOf(s.switchNumber)] |= Mask(s.bit);
    covered[IndexOf(kCodePageSwitch)] |= kCodePageMask;
    covered[IndexOf(kBuyerSwitch)] = 0xFF;
    return covered;
}

std::vector<std::pair<int, int>> BitList(int switchNumber, std::uint8_t mask) {
    std::vector<std::pair<int, int>> bits;
    for (int k = 1; k <= 8; ++k) {
        if (mask & Mask(k)) bits.emplace_back(switchNumber, k);
    }
    return bits;
}

}  // namespace

std::optional<std::string> UniqueCodePageName(int index) {
    const char* name = ListEntry(kCodePageNames, index);
    if (name == nullptr) return std::nullopt;
    const auto same = std::count_if(kCodePageNames.begin(), kCodePageNames.end(),
                                    [name](const char* n) { return std::string_view(n) == name; });
    if (same != 1) return std::nullopt;
    return std::string(name);
}

bool SettingsProfile::Complete() const {
    return std::all_of(switches.begin(), switches.end(),
                       [](const SwitchRequest& r) { return r.named == 0xFF; });
}

const SwitchRequest& SettingsProfile::request(int switchNumber) const {
    return switches.at(IndexOf(switchNumber));
}

std::string RequestText(const SwitchRequest& request) {
    return BitsString(request.value, request.named);
}

std::string SettingKey(const SwitchSetting& setting) {
    std::string key = setting.label;
    for (char& c : key)
        c = c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string FormatProfile(const SettingsProfile& p, std::string_view heading) {
    std::string out;
    std::size_t start = 0;
    while (start < heading.size()) {
        const std::size_t end = std::min(heading.find('\n', start), heading.size());
        out += fmt::format("# {}\n", heading.substr(start, end - start));
        start = end + 1;
    }
    if (!heading.empty()) out += "\n";
    out +=
        "# Vantreel R-3 settings profile. Settings not named here are kept as the\n"
        "# printer has them. [switches] gives raw memory-switch bits, bit 8 first;\n"
        "# x leaves a bit to the settings above or to the printer.\n\n";

    std::array<std::uint8_t, kSwitches> covered{};
    auto named = [&](int number, std::uint8_t mask) {
        return (p.switches[IndexOf(number)].named & mask) == mask;
    };
    auto value = [&](int number) { return p.switches[IndexOf(number)].value; };

    for (const SwitchSetting& s : kSwitchSettings) {
        if (!named(s.switchNumber, Mask(s.bit))) continue;
        out += fmt::format("{} = {}\n", SettingKey(s),
                           Quote((value(s.switchNumber) & Mask(s.bit)) ? s.choice1 : s.choice0));
        covered[IndexOf(s.switchNumber)] |= Mask(s.bit);
    }
    if (named(kCodePageSwitch, kCodePageMask)) {
        SwitchBits bits{};
        SetSwitchValue(bits, value(kCodePageSwitch));
        const int index = CodePageIndex(bits);
        const auto name = UniqueCodePageName(index);
        out += fmt::format("{} = {}\n", kCodePageKey, name ? Quote(*name) : std::to_string(index));
        covered[IndexOf(kCodePageSwitch)] |= kCodePageMask;
    }
    const std::int32_t y = p.buyerSetIndex;
    const bool buyerNamed = y >= 1 && y <= 5 && named(kBuyerSwitch, 0xFF) &&
                            value(kBuyerSwitch) == BuyerValueForListIndex(y);
    if (buyerNamed) {
        out += fmt::format("{} = {}\n", kBuyerSetKey,
                           Quote(kBuyerSetNames[static_cast<std::size_t>(y)]));
        covered[IndexOf(kBuyerSwitch)] = 0xFF;
        const bool national = y != 1;
        if (named(kNationalMarkSwitch, kNationalMarkMask) &&
            ((value(kNationalMarkSwitch) & kNationalMarkMask) != 0) == national)
            covered[IndexOf(kNationalMarkSwitch)] |= kNationalMarkMask;
    }

    std::string raw;
    std::string statusFile;
    if (!buyerNamed && y != 0) statusFile += fmt::format("{} = {}\n", kBuyerSetIndexKey, y);
    for (std::size_t i = 0; i < kSwitches; ++i) {
        if (const auto& elements = p.elements[i]) {
            std::string list;
            for (std::size_t k = 0; k < elements->size(); ++k)
                list += fmt::format("{}{}", k ? ", " : "", (*elements)[k]);
            statusFile += fmt::format("{} = [{}]\n", SwitchName(i), list);
            continue;
        }
        const std::uint8_t shown = p.switches[i].named & ~covered[i];
        if (shown != 0)
            raw += fmt::format("{} = {}\n", SwitchName(i),
                               Quote(BitsString(p.switches[i].value, shown)));
    }
    if (!raw.empty()) out += fmt::format("\n[{}]\n{}", kSwitchesTable, raw);
    if (!statusFile.empty()) {
        out += fmt::format(
            "\n# Values of the status file that the settings above do not show.\n[{}]\n{}",
            kStatusFileTable, statusFile);
    }
    return out;
}

SettingsProfile ProfileFromSettings(const PrinterSettings& settings) {
    SettingsProfile profile;
    for (std::size_t i = 0; i < kSwitches; ++i) {
        const SwitchBits& bits = *SwitchByNumber(settings, kRecordSwitches[i]);
        profile.switches[i] = {SwitchValue(bits), 0xFF};
        if (!PlainBits(bits)) profile.elements[i] = bits;
    }
    profile.buyerSetIndex = settings.buyerSetIndex;
    return profile;
}

SettingsProfile WrittenProfile(const PrinterSettings& settings) {
    SettingsProfile profile = ProfileFromSettings(settings);
    SwitchRequest& msw1 = profile.switches[IndexOf(1)];
    msw1.named = kSwitch1WrittenMask;
    msw1.value &= kSwitch1WrittenMask;
    profile.elements[IndexOf(1)].reset();
    if (settings.buyerSetIndex == 0) {
        profile.switches[IndexOf(kBuyerSwitch)] = {};
        profile.elements[IndexOf(kBuyerSwitch)].reset();
    }
    return profile;
}

std::optional<PrinterSettings> SettingsFromProfile(const SettingsProfile& profile,
                                                   std::string& error) {
    if (!profile.Complete()) {
        std::string missing;
        for (std::size_t i = 0; i < kSwitches; ++i) {
            const auto unnamed = static_cast<std::uint8_t>(~profile.switches[i].named);
            if (unnamed == 0) continue;
            std::string bits;
            for (int k = 8; k >= 1; --k) {
                if (unnamed & Mask(k)) bits += fmt::format("{}{}", bits.empty() ? "" : ", ", k);
            }
            missing += fmt::format("{}{} bit{} {}", missing.empty() ? "" : "; ", SwitchName(i),
                                   bits.size() > 1 ? "s" : "", bits);
        }
        error = fmt::format(
            "A status file holds every memory-switch bit, but the profile leaves these to the "
            "printer: {}. Name them in the profile (under [{}], 0 or 1 instead of x).",
            missing, kSwitchesTable);
        return std::nullopt;
    }
    return OverlayProfile(PrinterSettings{}, profile);
}

PrinterSettings OverlayProfile(const PrinterSettings& record, const SettingsProfile& profile) {
    PrinterSettings settings = record;
    for (std::size_t i = 0; i < kSwitches; ++i) {
        SwitchBits& bits = *SwitchByNumber(settings, kRecordSwitches[i]);
        if (const auto& elements = profile.elements[i]) {
            bits = *elements;
            continue;
        }
        const SwitchRequest& request = profile.switches[i];
        for (int k = 1; k <= 8; ++k) {
            if (request.named & Mask(k))
                bits[static_cast<std::size_t>(k)] = (request.value & Mask(k)) ? 1 : 0;
        }
    }
    settings.buyerSetIndex = profile.buyerSetIndex;
    return settings;
}

std::string SettingChange::BitsText() const {
    std::string text;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        const bool sameSwitch = i > 0 && bits[i].first == bits[i - 1].first;
        text += sameSwitch
                    ? fmt::format(", {}", bits[i].second)
                    : fmt::format(
                          "{}msw{} bit{} {}", i ? "; " : "", bits[i].first,
                          std::count_if(bits.begin(), bits.end(),
                                        [&](const auto& b) { return b.first == bits[i].first; }) > 1
                              ? "s"
                              : "",
                          bits[i].second);
    }
    return text;
}

std::string SettingChange::Label() const {
    for (const SwitchSetting& s : kSwitchSettings) {
        if (key == SettingKey(s)) return s.label;
    }
    if (key == kCodePageKey) return "Default Code Page";
    if (key == kBuyerSetKey) return "Buyer Set";
    return fmt::format("Memory switch {} (bits 8..1)", bits.empty() ? 0 : bits.front().first);
}

std::vector<SettingChange> DiffSettings(const PrinterSettings& from, const PrinterSettings& to) {
    std::vector<SettingChange> changes;
    auto value = [](const PrinterSettings& s, int number) {
        return SwitchValue(*SwitchByNumber(s, number));
    };
    auto differing = [&](int number) {
        return static_cast<std::uint8_t>(value(from, number) ^ value(to, number));
    };
    for (const SwitchSetting& s : kSwitchSettings) {
        const std::uint8_t m = Mask(s.bit);
        if ((differing(s.switchNumber) & m) == 0) continue;
        changes.push_back({SettingKey(s), (value(from, s.switchNumber) & m) ? s.choice1 : s.choice0,
                           (value(to, s.switchNumber) & m) ? s.choice1 : s.choice0,
                           BitList(s.switchNumber, m)});
    }
    if (const std::uint8_t d = differing(kCodePageSwitch) & kCodePageMask) {
        changes.push_back({kCodePageKey, CodePageText(CodePageIndex(from.msw2)),
                           CodePageText(CodePageIndex(to.msw2)), BitList(kCodePageSwitch, d)});
    }
    if (const std::uint8_t d = differing(kBuyerSwitch)) {
        changes.push_back({kBuyerSetKey, BuyerValueText(value(from, kBuyerSwitch)),
                           BuyerValueText(value(to, kBuyerSwitch)), BitList(kBuyerSwitch, d)});
    }
    const auto covered = NamedBits();
    for (std::size_t i = 0; i < kSwitches; ++i) {
        const int number = kRecordSwitches[i];
        const auto d = static_cast<std::uint8_t>(differing(number) & ~covered[i]);
        if (d == 0) continue;
        changes.push_back({fmt::format("{}.{}", kSwitchesTable, SwitchName(i)),
                           BitsString(value(from, number)), BitsString(value(to, number)),
                           BitList(number, d)});
    }
    return changes;
}

ApplyPlan PlanApply(const PrinterSettings& printer, const SettingsProfile& profile) {
    ApplyPlan plan;
    plan.target = OverlayProfile(printer, profile);
    std::vector<std::string> refusals;

    const auto unwritable = static_cast<std::uint8_t>(
        (SwitchValue(printer.msw1) ^ SwitchValue(plan.target.msw1)) & ~kSwitch1WrittenMask);
    for (int k = 1; k <= 8; ++k) {
        if ((unwritable & Mask(k)) == 0) continue;
        refusals.push_back(fmt::format(
            "msw1 bit {} is {} on the printer and {} in the profile, but Set Status writes only "
            "bits 4 and 5 of switch 1; write x for it in the profile to keep the printer's bit",
            k, BitSet(printer.msw1, k) ? 1 : 0, BitSet(plan.target.msw1, k) ? 1 : 0));
    }

    const int printerBuyer = BuyerValue(printer.msw12);
    const int wantedBuyer = BuyerValue(plan.target.msw12);
    int y = 0;
    if (printerBuyer != wantedBuyer) {
        y = profile.buyerSetIndex;
        if (y == 0) {
            // The profile names switch 12 only as bits: the list entry that writes them.
            y = ListIndexForBuyerValue(wantedBuyer);
            if (y == 0 && wantedBuyer == BuyerValueForListIndex(4)) {
                refusals.push_back(
                    "switch 12 asks for a Chinese buyer set; name it as buyer_set = "
                    "\"CHN-GB2312\" or \"CHN-BIG5\" so that the matching font is downloaded");
            } else if (y == 0) {
                refusals.push_back(
                    fmt::format("switch 12 value {} is no buyer set (STD 0, KOR 1, CHN 2, JAP 3)",
                                wantedBuyer));
            }
        } else if (y < 1 || y > 5) {
            refusals.push_back(
                fmt::format("buyer-set list entry {} does not exist (1 STD to 5 JAP)", y));
            y = 0;
        }
    }
    plan.buyerSetIndex = y;
    plan.target.buyerSetIndex = y;
    plan.changes = DiffSettings(printer, plan.target);
    for (const auto& r : refusals) plan.refusal += (plan.refusal.empty() ? "" : "\n") + r;
    return plan;
}

bool HasProfileFileName(std::string_view path) {
    constexpr std::string_view kExtension = ".toml";
    return path.size() > kExtension.size() &&
           path.substr(path.size() - kExtension.size()) == kExtension;
}

bool ReadProfileFile(const std::string& path, SettingsProfile& profile, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!ReadLimitedFile(path, kMaxProfileBytes, "a profile", kMaxProfileText, bytes, reason)) {
        error = fmt::format("Can't read the profile \"{}\": {}.", path, reason);
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return ParseProfileFrom(text, fmt::format("\"{}\"", path), profile, error);
}

bool ParseProfileFrom(std::string_view text, const std::string& source, SettingsProfile& profile,
                      std::string& error) {
    std::string reason;
    auto parsed = ParseProfile(text, reason);
    if (!parsed) {
        error = fmt::format("The profile {} was refused:\n{}", source, reason);
        return false;
    }
    profile = *parsed;
    return true;
}

bool WriteProfileFile(const std::string& path, const SettingsProfile& profile,
                      std::string_view heading, std::string& error) {
    const std::string text = FormatProfile(profile, heading);
    std::string reason;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (WriteFileReplacing(path, {bytes, text.size()}, &reason) != StatusFileResult::Ok) {
        error = fmt::format(
            "Can't write the profile \"{}\": {}.\nAny existing file of that name is unchanged.",
            path, reason);
        return false;
    }
    return true;
}

bool LoadProfile(const std::string& path, PrinterSettings& settings, StatusView& view,
                 Notifier& notifier) {
    SettingsProfile profile;
    std::string error;
    if (!ReadProfileFile(path, profile, error)) {
        notifier.notify({error, "Warning", MessageIcon::Exclamation});
        return false;
    }
    settings = OverlayProfile(settings, profile);
    ShowLoadedStatus(settings, view);
    return true;
}

bool SaveProfile(const std::string& path, const PrinterSettings& settings, Notifier& notifier) {
    std::string error;
    if (WriteProfileFile(path, ProfileFromSettings(settings), {}, error)) return true;
    notifier.notify({error, "Warning", MessageIcon::Exclamation});
    return false;
}

}  // namespace tessaly
