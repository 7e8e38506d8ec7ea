// Reading a settings profile: TOML text into the switch bits it names, with every
// unknown key, unknown value and conflict refused by name.
#include <fmt/format.h>

// toml++ 3.3 asserts that a table name starts with a character a key may start
// with, before the check after it reports anything else as a parse error: with
// the assertion, "[(x]" would end the program instead of being refused.
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <limits>

#include "profile_bits.h"
#include "settings_profile.h"

namespace tessaly {
namespace {

using namespace profile_bits;

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

}  // namespace

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

}  // namespace tessaly
