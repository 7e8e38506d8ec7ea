#include "hex_text.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdio>

namespace tessaly {

bool IsHexSeparator(char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\b';
}

std::vector<std::uint8_t> ParseHexText(std::string_view text) {
    while (!text.empty() && IsHexSeparator(text.back())) text.remove_suffix(1);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2 + 1);
    // A pair that holds no number leaves the value read before it.
    unsigned int value = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsHexSeparator(text[i])) ++i;
        if (i >= text.size()) break;
        char pair[3] = {text[i], i + 1 < text.size() ? text[i + 1] : '\0', '\0'};
        unsigned int read = 0;
        if (std::sscanf(pair, "%x", &read) == 1) value = read;
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        i += 2;
    }
    return bytes;
}

std::optional<HexTextError> FindHexTextError(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!IsHexSeparator(c) && !std::isxdigit(static_cast<unsigned char>(c)))
            return HexTextError{i, c};
    }
    return std::nullopt;
}

std::string HexTextError::Describe() const {
    const auto byte = static_cast<unsigned char>(character);
    const std::string shown =
        std::isprint(byte) ? fmt::format("'{}'", character) : fmt::format("byte 0x{:02x}", byte);
    return fmt::format(
        "The command text holds {} at position {}, which is not a hexadecimal digit. Write "
        "each byte as two hexadecimal digits (0-9, a-f), for example: 1b 40 0a",
        shown, position + 1);
}

std::string FormatHexText(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) text += fmt::format("{:02x} ", b);
    return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text = FormatHexText(bytes);
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace tessaly
