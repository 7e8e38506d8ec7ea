#include "settings_profile.h"

#include <fmt/format.h>

// toml++ 3.3 asserts that a table name starts with a character a key may start
// with, before the check after it reports anything else as a parse error: with
// the assertion, "[(x]" would end the program instead of being refused.
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <limits>

#include "regular_file.h"
#include "status_file.h"

namespace tessaly {
namespace {

constexpr std::size_t kSwitches = kRecordSwitches.size();
constexpr const char* kSwitchesTable = "switches";
constexpr const char* kStatusFileTable = "status_file";
constexpr const char* kBuyerSetIndexKey = "buyer_set_index";

// Switch 2 bits 3..8 hold the default code page, switch 12 the buyer set, and
// switch 9 bit 1 marks a national buyer set.
constexpr int kCodePageSwitch = 2;
constexpr std::uint8_t kCodePageMask = 0xFC;
constexpr int kBuyerSwitch = 12;
constexpr int kNationalMarkSwitch = 9;
constexpr std::uint8_t kNationalMarkMask = 0x01;
// Set Status writes switch 1 through the template "22200222": bits 4 and 5 only.
constexpr std::uint8_t kSwitch1WrittenMask = 0x18;

std::size_t IndexOf(int switchNumber) {
    const auto it = std::find(kRecordSwitches.begin(), kRecordSwitches.end(), switchNumber);
    return static_cast<std::size_t>(it - kRecordSwitches.begin());
}

std::uint8_t Mask(int bit) {
    return static_cast<std::uint8_t>(1u << (bit - 1));
}

std::string SwitchName(std::size_t index) {
    return fmt::format("msw{}", kRecordSwitches[index]);
}

// Bits 8..1 as characters; bits outside `shown` as 'x'.
std::string BitsString(std::uint8_t value, std::uint8_t shown = 0xFF) {
    std::string text;
    for (int k = 8; k >= 1; --k) {
        const std::uint8_t m = Mask(k);
        text += (shown & m) == 0 ? 'x' : (value & m) != 0 ? '1' : '0';
    }
    return text;
}

// A text as a TOML basic string.
std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += fmt::format("\\u{:04X}", u);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string QuotedList(const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += i + 1 == values.size() ? " or " : ", ";
        out += Quote(values[i]);
    }
    return out;
}

std::string CodePageText(int index) {
    return UniqueCodePageName(index).value_or(std::to_string(index));
}

std::string BuyerValueText(int value) {
    const char* name = BuyerValueName(value);
    return name ? std::string(name) : std::to_string(value);
}

// A value as the file wrote it, for messages.
std::string NodeText(const toml::node& node) {
    if (const auto* s = node.as_string()) return Quote(s->get());
    if (const auto* i = node.as_integer()) return std::to_string(i->get());
    if (const auto* b = node.as_boolean()) return b->get() ? "true" : "false";
    if (const auto* f = node.as_floating_point()) return fmt::format("{}", f->get());
    if (node.is_table()) return "a table";
    if (node.is_array()) return "an array";
    return "a date or time";
}

std::string Line(const toml::node& node) {
    return fmt::format("line {}", node.source().begin.line);
}

// toml++ 3.3 reaches code it marks unreachable when it looks for white space at
// certain characters outside ASCII (U+00A1, for one) in keys, values or at the
// line-ending backslash of a multi-line string: undefined behaviour on a bad file.
// Every text a profile may hold is ASCII, so outside comments nothing else is
// let through to it. Returns the place of the first such character.
std::optional<std::string> NonAsciiOutsideComments(std::string_view text) {
    enum class State { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral };
    State state = State::Plain;
    std::size_t line = 1;
    std::size_t lineStart = 0;
    // A byte order mark at the start is no content.
    std::size_t i = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    auto run = [&](char quote) {
        std::size_t n = 0;
        while (i + n < text.size() && text[i + n] == quote) ++n;
        return n;
    };
    // At a quote inside a string: one ends a one-line string; a multi-line one
    // ends at three or more (up to two before the closing three are its text).
    auto closeString = [&](State oneLine, char quote) {
        if (state == oneLine) {
            state = State::Plain;
            return;
        }
        const std::size_t n = run(quote);
        if (n >= 3) state = State::Plain;
        i += n - 1;
    };
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            lineStart = i + 1;
            if (state != State::MultiBasic && state != State::MultiLiteral) state = State::Plain;
            continue;
        }
        if (state == State::Comment) continue;
        if (static_cast<unsigned char>(c) >= 0x80) {
            return fmt::format(
                "line {}, column {}: only comments may hold characters outside "
                "ASCII",
                line, i - lineStart + 1);
        }
        switch (state) {
            case State::Plain:
                if (c == '#') state = State::Comment;
                if (c == '"' || c == '\'') {
                    const std::size_t n = run(c);
                    const bool multi = n >= 3;
                    if (c == '"') state = multi ? State::MultiBasic : State::Basic;
                    if (c == '\'') state = multi ? State::MultiLiteral : State::Literal;
                    // "" and '' are empty strings: nothing opens.
                    if (n == 2) state = State::Plain;
                    i += (multi ? 3 : n) - 1;
                }
                break;
            case State::Basic:
            case State::MultiBasic:
                if (c == '\\') {
                    // Skip the escaped character; a non-ASCII one is caught next round.
                    if (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0x80 &&
                        text[i + 1] != '\n')
                        ++i;
                } else if (c == '"') {
                    closeString(State::Basic, '"');
                }
                break;
            case State::Literal:
            case State::MultiLiteral:
                if (c == '\'') closeString(State::Literal, '\'');
                break;
            case State::Comment:
                break;
        }
    }
    return std::nullopt;
}

// Reads a parsed TOML document into a profile. Every bit a key names is a claim;
// two claims on one bit must agree.
class ProfileReader {
  public:
    std::optional<SettingsProfile> Read(const toml::table& root) {
        for (const auto& [key, node] : root) ReadTopLevel(std::string(key.str()), node);
        DeriveNationalMark();
        if (!errors_.empty()) return std::nullopt;
        SettingsProfile profile;
        for (std::size_t i = 0; i < kSwitches; ++i) {
            for (int k = 1; k <= 8; ++k) {
                const auto& claim = claims_[i][static_cast<std::size_t>(k)];
                if (!claim) continue;
                profile.switches[i].named |= Mask(k);
                if (claim->value) profile.switches[i].value |= Mask(k);
            }
        }
        profile.elements = elements_;
        profile.buyerSetIndex = buyerSetIndex_.value_or(0);
        return profile;
    }

    std::string Errors() const {
        std::string text;
        for (const auto& e : errors_) text += (text.empty() ? "" : "\n") + e;
        return text;
    }

  private:
    struct Claim {
        bool value;
        std::string source;  // 'key = value (line n)'
    };

    static std::string Source(const std::string& key, const toml::node& node) {
        return fmt::format("{} = {} ({})", key, NodeText(node), Line(node));
    }

    void Fail(const std::string& key, const toml::node& node, const std::string& allowed,
              const std::string& problem = "is not allowed") {
        errors_.push_back(fmt::format("{} {}. Allowed: {}.", Source(key, node), problem, allowed));
    }

    void ClaimBits(std::size_t index, std::uint8_t mask, std::uint8_t value,
                   const std::string& source) {
        for (int k = 1; k <= 8; ++k) {
            if ((mask & Mask(k)) == 0) continue;
            const bool bit = (value & Mask(k)) != 0;
            auto& claim = claims_[index][static_cast<std::size_t>(k)];
            if (!claim) {
                claim = Claim{bit, source};
            } else if (claim->value != bit) {
                errors_.push_back(fmt::format(
                    "{} conflicts with {}: they set {} bit {} to {} and {}.", source, claim->source,
                    SwitchName(index), k, bit ? 1 : 0, claim->value ? 1 : 0));
            }
        }
    }

    void ReadTopLevel(const std::string& key, const toml::node& node) {
        for (const SwitchSetting& setting : kSwitchSettings) {
            if (key == SettingKey(setting)) return ReadSetting(key, setting, node);
        }
        if (key == kCodePageKey) return ReadCodePage(key, node);
        if (key == kBuyerSetKey) return ReadBuyerSet(key, node);
        if (key == kSwitchesTable) return ReadSwitches(node);
        if (key == kStatusFileTable) return ReadStatusFile(node);
        std::vector<std::string> keys;
        for (const SwitchSetting& setting : kSwitchSettings) keys.push_back(SettingKey(setting));
        keys.insert(keys.end(), {kCodePageKey, kBuyerSetKey});
        std::string allowed;
        for (const auto& k : keys) allowed += k + ", ";
        errors_.push_back(fmt::format("Unknown key \"{}\" ({}). Allowed keys: {}[{}], [{}].", key,
                                      Line(node), allowed, kSwitchesTable, kStatusFileTable));
    }

    void ReadSetting(const std::string& key, const SwitchSetting& setting, const toml::node& node) {
        const std::string allowed = QuotedList({setting.choice0, setting.choice1});
        const auto* text = node.as_string();
        int choice = -1;
        if (text && text->get() == setting.choice0) choice = 0;
        if (text && text->get() == setting.choice1) choice = 1;
        if (choice < 0) return Fail(key, node, allowed);
        ClaimBits(IndexOf(setting.switchNumber), Mask(setting.bit), choice ? Mask(setting.bit) : 0,
                  Source(key, node));
    }

    void ReadCodePage(const std::string& key, const toml::node& node) {
        int index = -1;
        if (const auto* text = node.as_string()) {
            std::vector<int> matches;
            for (std::size_t i = 0; i < kCodePageNames.size(); ++i) {
                if (text->get() == kCodePageNames[i]) matches.push_back(static_cast<int>(i));
            }
            if (matches.size() > 1) {
                std::string numbers;
                for (std::size_t i = 0; i < matches.size(); ++i)
                    numbers += fmt::format("{}{}", i ? ", " : "", matches[i]);
                return Fail(key, node, fmt::format("one of the numbers {}", numbers),
                            "names more than one entry of the list");
            }
            if (matches.size() == 1) index = matches.front();
        } else if (const auto* number = node.as_integer()) {
            if (number->get() >= 0 && number->get() <= 63) index = static_cast<int>(number->get());
        }
        if (index < 0) {
            std::vector<std::string> names;
            for (std::size_t i = 0; i < kCodePageNames.size(); ++i) {
                if (UniqueCodePageName(static_cast<int>(i))) names.emplace_back(kCodePageNames[i]);
            }
            return Fail(key, node,
                        "an entry of the code-page list (" + QuotedList(names) +
                            ") or its number, 0 to 63");
        }
        SwitchBits bits{};
        SetCodePageIndex(bits, index);
        ClaimBits(IndexOf(kCodePageSwitch), kCodePageMask, SwitchValue(bits), Source(key, node));
    }

    void ReadBuyerSet(const std::string& key, const toml::node& node) {
        std::vector<std::string> names(kBuyerSetNames.begin() + 1, kBuyerSetNames.end());
        const auto* text = node.as_string();
        const auto it = text ? std::find(names.begin(), names.end(), text->get()) : names.end();
        if (it == names.end()) return Fail(key, node, QuotedList(names));
        const int index = static_cast<int>(it - names.begin()) + 1;
        SetBuyerSetIndex(index, Source(key, node));
        namedBuyerSet_ = index;
        ClaimBits(IndexOf(kBuyerSwitch), 0xFF,
                  static_cast<std::uint8_t>(BuyerValueForListIndex(index)), Source(key, node));
    }

    void SetBuyerSetIndex(std::int32_t index, const std::string& source) {
        if (buyerSetIndex_ && *buyerSetIndex_ != index) {
            errors_.push_back(
                fmt::format("{} conflicts with {}: they name buyer-set entries {} and {}.", source,
                            buyerSetSource_, index, *buyerSetIndex_));
            return;
        }
        buyerSetIndex_ = index;
        buyerSetSource_ = source;
    }

    void ReadSwitches(const toml::node& node) {
        const auto* table = node.as_table();
        if (table == nullptr) {
            errors_.push_back(
                fmt::format("\"{}\" ({}) must be a table: [{}] with msw1 = \"...\" lines.",
                            kSwitchesTable, Line(node), kSwitchesTable));
            return;
        }
        for (const auto& [name, value] : *table) {
            const std::string key = fmt::format("{}.{}", kSwitchesTable, name.str());
            const std::size_t index = SwitchIndexByName(key, name.str(), value);
            if (index == kSwitches) continue;
            const auto* text = value.as_string();
            const bool valid = text && text->get().size() == 8 &&
                               text->get().find_first_not_of("01xX") == std::string::npos;
            if (!valid) {
                Fail(key, value,
                     "eight characters 0, 1 or x for bits 8 to 1, such as \"0100001x\" (x keeps "
                     "the printer's bit)");
                continue;
            }
            std::uint8_t mask = 0;
            std::uint8_t bits = 0;
            for (int k = 8; k >= 1; --k) {
                const char c = text->get()[static_cast<std::size_t>(8 - k)];
                if (c == 'x' || c == 'X') continue;
                mask |= Mask(k);
                if (c == '1') bits |= Mask(k);
            }
            ClaimBits(index, mask, bits, Source(key, value));
        }
    }

    void ReadStatusFile(const toml::node& node) {
        const auto* table = node.as_table();
        if (table == nullptr) {
            errors_.push_back(
                fmt::format("\"{}\" ({}) must be a table.", kStatusFileTable, Line(node)));
            return;
        }
        constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
        constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
        auto inRange = [&](const toml::node& n) {
            const auto* i = n.as_integer();
            return i && i->get() >= kMin && i->get() <= kMax;
        };
        for (const auto& [name, value] : *table) {
            const std::string key = fmt::format("{}.{}", kStatusFileTable, name.str());
            if (name.str() == kBuyerSetIndexKey) {
                if (!inRange(value)) {
                    Fail(key, value, "a whole number (the buyer-set list entry, 1 to 5 in use)");
                    continue;
                }
                SetBuyerSetIndex(static_cast<std::int32_t>(value.as_integer()->get()),
                                 Source(key, value));
                continue;
            }
            const std::size_t index = SwitchIndexByName(key, name.str(), value, true);
            if (index == kSwitches) continue;
            const auto* array = value.as_array();
            const bool valid =
                array && array->size() == 9 && std::all_of(array->begin(), array->end(), inRange);
            if (!valid) {
                Fail(key, value,
                     "nine whole numbers: the reserved element, then bits 1 to 8 as a status "
                     "file holds them");
                continue;
            }
            SwitchBits elements{};
            for (std::size_t k = 0; k < 9; ++k)
                elements[k] = static_cast<std::int32_t>((*array)[k].as_integer()->get());
            elements_[index] = elements;
            ClaimBits(index, 0xFF, SwitchValue(elements), Source(key, value));
        }
    }

    // The record index of a switch key ("msw8"); kSwitches after reporting an unknown one.
    std::size_t SwitchIndexByName(const std::string& key, std::string_view name,
                                  const toml::node& node, bool statusFile = false) {
        for (std::size_t i = 0; i < kSwitches; ++i) {
            if (name == SwitchName(i)) return i;
        }
        std::string allowed;
        for (std::size_t i = 0; i < kSwitches; ++i) allowed += (i ? ", " : "") + SwitchName(i);
        if (statusFile) allowed += std::string(", ") + kBuyerSetIndexKey;
        errors_.push_back(fmt::format("Unknown key \"{}\" ({}). Allowed keys there: {}.", key,
                                      Line(node), allowed));
        return kSwitches;
    }

    // Choosing a buyer set on the printer setting page sets switch 9 bit 1 for a
    // national set and clears it for STD; a profile does the same unless it names
    // that bit itself.
    void DeriveNationalMark() {
        if (namedBuyerSet_ == 0) return;
        auto& claim = claims_[IndexOf(kNationalMarkSwitch)][1];
        if (!claim) claim = Claim{namedBuyerSet_ != 1, std::string(kBuyerSetKey)};
    }

    std::array<std::array<std::optional<Claim>, 9>, kSwitches> claims_{};
    std::array<std::optional<SwitchBits>, kSwitches> elements_{};
    std::optional<std::int32_t> buyerSetIndex_;
    std::string buyerSetSource_;
    int namedBuyerSet_ = 0;
    std::vector<std::string> errors_;
};

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

std::optional<SettingsProfile> ParseProfile(std::string_view text, std::string& error) {
    if (auto place = NonAsciiOutsideComments(text)) {
        error = *place;
        return std::nullopt;
    }
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error& e) {
        error = fmt::format("line {}, column {}: {}", e.source().begin.line,
                            e.source().begin.column, e.description());
        return std::nullopt;
    }
    ProfileReader reader;
    auto profile = reader.Read(root);
    if (!profile) error = reader.Errors();
    return profile;
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
    auto parsed = ParseProfile(text, reason);
    if (!parsed) {
        error = fmt::format("The profile \"{}\" was refused:\n{}", path, reason);
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
