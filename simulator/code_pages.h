#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::sim {

// One of the printer's character code tables: bytes 0x20..0x7F are ASCII, the
// upper half is the table's own.
struct CodePage {
    std::uint8_t escT;                     // its number in ESC t
    const char* label;                     // "PC437"
    std::array<std::uint16_t, 128> upper;  // Unicode of 0x80..0xFF; 0: no character
};

// The table ESC t n selects, or nullptr when the printer has none of that number.
const CodePage* FindCodePage(std::uint8_t escT);
// The table of entry `index` (0..29) of the default-code-page memory switch list,
// or nullptr for the reserved and user entries.
const CodePage* CodePageForSwitchIndex(int index);
// The default-code-page index held in memory switch 2 (bits 4..8, then bit 3).
int SwitchCodePageIndex(std::uint8_t switch2);
// Unicode of one printed byte; 0 when the table has no character for it.
char32_t DecodeByte(const CodePage& page, std::uint8_t byte);
// Every character the tables can print, for the built-in font.
std::vector<char32_t> PrintableCharacters();
void AppendUtf8(std::string& out, char32_t ch);

}  // namespace tessaly::sim
