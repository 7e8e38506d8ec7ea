#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tessaly {

// One memory switch as the utility keeps it: element 0 is reserved, element k
// (1..8) holds bit k of the switch, bit 1 being the least significant. A value
// read from the printer is the reply character minus '0', so an element may hold
// any number; every bit test treats a non-zero element as set.
using SwitchBits = std::array<std::int32_t, 9>;

// The memory-switch record. Its 256-byte image (64 signed 32-bit little-endian
// integers in field order) is also the whole content of a status file.
struct PrinterSettings {
    SwitchBits msw1{};
    SwitchBits msw2{};
    SwitchBits msw8{};
    SwitchBits msw9{};
    SwitchBits msw10{};
    SwitchBits msw11{};
    SwitchBits msw12{};
    std::int32_t buyerSetIndex = 0;  // selection index of the buyer-set list

    bool operator==(const PrinterSettings&) const = default;
};

inline constexpr std::size_t kSettingsImageSize = 256;
using SettingsImage = std::array<std::uint8_t, kSettingsImageSize>;

SettingsImage EncodeSettings(const PrinterSettings& settings);
// Missing bytes of a shorter image count as zero; bytes past 256 are ignored.
PrinterSettings DecodeSettings(std::span<const std::uint8_t> bytes);

// The memory switches the utility reads and writes, in record order.
inline constexpr std::array<int, 7> kRecordSwitches{1, 2, 8, 9, 10, 11, 12};
// The record's array for switch 1, 2, 8, 9, 10, 11 or 12; nullptr for any other.
SwitchBits* SwitchByNumber(PrinterSettings& settings, int number);
const SwitchBits* SwitchByNumber(const PrinterSettings& settings, int number);

inline bool BitSet(const SwitchBits& bits, int k) {
    return bits[static_cast<std::size_t>(k)] != 0;
}
// The switch as an 8-bit number: bit k contributes 2^(k-1) when set.
std::uint8_t SwitchValue(const SwitchBits& bits);
// Sets bits 1..8 from an 8-bit number; element 0 is kept.
void SetSwitchValue(SwitchBits& bits, std::uint8_t value);
// Bits 8 down to 1 as '1' (set) and '0' characters, as "00000101".
std::string SwitchBitsText(const SwitchBits& bits);

// Default code page held in memory switch 2 bits 3..8. Bit 4 is the least
// significant and bit 3 the most significant: bit4*1 + bit5*2 + bit6*4 + bit7*8 +
// bit8*16 + bit3*32.
int CodePageIndex(const SwitchBits& msw2);
// Clears bits 3..8 of switch 2, then sets them to encode index (0..63).
void SetCodePageIndex(SwitchBits& msw2, int index);

// National buyer set held in memory switch 12 (its 8-bit value).
inline int BuyerValue(const SwitchBits& msw12) {
    return SwitchValue(msw12);
}
// The buyer value a buyer-set list entry writes: 1 "STD" -> 0, 2 "KOR" -> 1,
// 3 "CHN-GB2312" and 4 "CHN-BIG5" -> 2, 5 "JAP" -> 3; -1 for the prompt entry 0
// (which keeps the printer's own value) and for anything out of range.
int BuyerValueForListIndex(int listIndex);
// The other way round: 0 STD -> 1, 1 KOR -> 2, 3 JAP -> 5; 0 (no entry) for the
// Chinese value 2, which two entries write, and for values no entry writes.
int ListIndexForBuyerValue(int buyerValue);
// The national set a switch 12 value stands for ("STD", "KOR", "CHN (GB2312 or
// BIG5)", "JAP"); nullptr for any other value.
const char* BuyerValueName(int value);
// True while the default code page does not apply (buyer value 1, 2 or 3).
inline bool IsNationalBuyerValue(int buyerValue) {
    return buyerValue >= 1 && buyerValue <= 3;
}

inline constexpr std::array<const char*, 37> kCodePageNames{
    "PC437 (USA: Standard Europe)",
    "Katakana",
    "PC850 (Multilingual)",
    "PC860 (Portugues)",
    "PC863 (Canadian-French)",
    "PC865 (Nordic)",
    "WPC1252 (Lantin 1)",
    "PC866 (Cyrillic #2)",
    "PC852 (Latin 2)",
    "PC858 (Euro)",
    "PC862 (Hebrew DOS code)",
    "PC864 (Arabic)",
    "Thai character code 42",
    "WPC1253 (Greek)",
    "WPC1254 (Turkish)",
    "WPC1257 (Baltic)",
    "Farsi",
    "WPC1251 (Cyrillic)",
    "PC737 (Greek)",
    "PC775 (Baltic)",
    "Thai character code 14",
    "Hebrew Old code",
    "WPC1255 (Hebrew)",
    "Thai character code 11",
    "Thai character code 18",
    "PC855 (Cyrillic)",
    "PC857 (Turkish)",
    "PC928 (Greek)",
    "Thai character code 16",
    "WPC 1256 (Arabic)",
    "Reserved",
    "Reserved",
    "User Codepage(Page 43)",
    "User Codepage(Page 44)",
    "User Codepage(Page 45)",
    "User Codepage(Page 46)",
    "Reserved",
};

inline constexpr std::array<const char*, 6> kBuyerSetNames{
    "Select the Buyer's CodePage Set", "STD", "KOR", "CHN-GB2312", "CHN-BIG5", "JAP",
};

inline constexpr std::array<const char*, 7> kBaudTexts{"2400",  "4800",  "9600",  "19200",
                                                       "38400", "57600", "115200"};
inline constexpr std::array<const char*, 2> kDataBitsTexts{"7", "8"};
inline constexpr std::array<const char*, 3> kParityTexts{"None", "Odd", "Even"};
inline constexpr std::array<const char*, 2> kFlowTexts{"DTR/DSR", "Xon/Xoff"};

// The entry of a list for an index, or nullptr when the index has none (the list
// then shows no selection).
template <std::size_t N>
const char* ListEntry(const std::array<const char*, N>& list, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? list[static_cast<std::size_t>(index)]
                                                             : nullptr;
}

// The two-way settings of the memory switch page, in row order.
struct SwitchSetting {
    const char* label;
    int switchNumber;
    int bit;
    const char* choice0;
    const char* choice1;
};
inline constexpr std::array<SwitchSetting, 7> kSwitchSettings{{
    {"Internal Buzzer Control", 1, 4, "Disable", "Enable"},
    {"Font Type", 2, 1, "Font A (12X24)", "Font B (9X24)"},
    {"Auto Cutter", 2, 2, "Partial Cut", "Full Cut"},
    {"External Buzzer Control", 10, 1, "Disable", "Enable"},
    {"Paper Width", 10, 5, "3 Inch", "2 Inch"},
    {"Two Color Print", 10, 6, "Mono", "2 Color"},
    {"Auto Line Feed", 1, 5, "Disable", "Enable"},
}};

// Who the printer says it is; filled by the firmware and printer-name queries.
struct PrinterIdentity {
    std::string firmwareVersionText;  // empty until the firmware has been queried
    std::string modelNameText;
    int firmwareMajor = 0;  // decides which BIG5 font data a download sends

    bool operator==(const PrinterIdentity&) const = default;
};

// Serial conditions reported by the printer, as list indices; -1 while unknown.
struct SerialConditions {
    int baudIndex = -1;      // kBaudTexts
    int dataBitsIndex = -1;  // kDataBitsTexts
    int parityIndex = -1;    // kParityTexts
    int flowIndex = -1;      // kFlowTexts

    bool operator==(const SerialConditions&) const = default;
};

}  // namespace tessaly
