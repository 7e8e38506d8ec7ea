#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// Separators between hexadecimal pairs: space, carriage return, line feed, tab
// and backspace.
bool IsHexSeparator(char c);

// Turns command text into bytes. Characters are taken strictly two at a time
// after skipping separators, and each pair is read the way "%x" reads a number
// ("1D61FF0A" and "1d 61 ff 0a" give the same four bytes; "123" gives 12 03).
std::vector<std::uint8_t> ParseHexText(std::string_view text);

// The first character of a command text (UTF-8) that is neither a hexadecimal
// digit nor a separator; none when the text is clean. The position counts
// characters, as the user sees them, from 0; a byte that is not UTF-8 counts as
// one character.
struct HexTextError {
    std::size_t position = 0;
    std::string character;  // as typed: its UTF-8 bytes, or the one stray byte
    std::string Describe() const;
};
std::optional<HexTextError> FindHexTextError(std::string_view text);

// Bytes as command text: each as two lower-case digits followed by one space.
std::string FormatHexText(std::span<const std::uint8_t> bytes);
// Bytes for a message: two lower-case digits each, one space between them.
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace tessaly
