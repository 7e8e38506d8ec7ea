#pragma once

// Switch and bit helpers shared by the settings profile's reader, writer and
// planner: where a setting lives, and how bits and values are written in a
// profile and in messages.

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "settings_profile.h"

namespace tessaly::profile_bits {

inline constexpr std::size_t kSwitches = kRecordSwitches.size();
inline constexpr const char* kSwitchesTable = "switches";
inline constexpr const char* kStatusFileTable = "status_file";
inline constexpr const char* kBuyerSetIndexKey = "buyer_set_index";

// Switch 2 bits 3..8 hold the default code page, switch 12 the buyer set, and
// switch 9 bit 1 marks a national buyer set.
inline constexpr int kCodePageSwitch = 2;
inline constexpr std::uint8_t kCodePageMask = 0xFC;
inline constexpr int kBuyerSwitch = 12;
inline constexpr int kNationalMarkSwitch = 9;
inline constexpr std::uint8_t kNationalMarkMask = 0x01;
// Set Status writes switch 1 through the template "22200222": bits 4 and 5 only.
inline constexpr std::uint8_t kSwitch1WrittenMask = 0x18;

inline std::size_t IndexOf(int switchNumber) {
    const auto it = std::find(kRecordSwitches.begin(), kRecordSwitches.end(), switchNumber);
    return static_cast<std::size_t>(it - kRecordSwitches.begin());
}

inline std::uint8_t Mask(int bit) {
    return static_cast<std::uint8_t>(1u << (bit - 1));
}

inline std::string SwitchName(std::size_t index) {
    return fmt::format("msw{}", kRecordSwitches[index]);
}

// Bits 8..1 as characters; bits outside `shown` as 'x'.
inline std::string BitsString(std::uint8_t value, std::uint8_t shown = 0xFF) {
    std::string text;
    for (int k = 8; k >= 1; --k) {
        const std::uint8_t m = Mask(k);
        text += (shown & m) == 0 ? 'x' : (value & m) != 0 ? '1' : '0';
    }
    return text;
}

// A text as a TOML basic string.
inline std::string Quote(std::string_view text) {
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

inline std::string QuotedList(const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += i + 1 == values.size() ? " or " : ", ";
        out += Quote(values[i]);
    }
    return out;
}

inline std::string CodePageText(int index) {
    return UniqueCodePageName(index).value_or(std::to_string(index));
}

inline std::string BuyerValueText(int value) {
    const char* name = BuyerValueName(value);
    return name ? std::string(name) : std::to_string(value);
}

}  // namespace tessaly::profile_bits
