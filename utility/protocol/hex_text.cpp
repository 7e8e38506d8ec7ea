#include "hex_text.h"

#include <fmt/format.h>

#include <algorithm>
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

namespace {

// The character that starts at text[i]: its code point and the length of its
// UTF-8 sequence, or a length of 0 when the bytes there are not UTF-8 (a stray
// continuation byte, a cut-off or overlong sequence, a surrogate).
struct Utf8Char {
    char32_t codePoint = 0;
    std::size_t length = 0;
};

Utf8Char DecodeUtf8(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) return {lead, 1};
    // Lead byte pattern, the bits it carries, and the smallest code point that
    // needs that many bytes (anything below is an overlong form).
    struct Form {
        unsigned mask, pattern;
        std::size_t length;
        char32_t smallest;
    };
    constexpr Form kForms[] = {
        {0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
    const Form* form = nullptr;
    for (const Form& f : kForms) {
        if ((lead & f.mask) == f.pattern) form = &f;
    }
    if (!form) return {};
    const std::size_t length = form->length;
    char32_t codePoint = lead & ~form->mask & 0xFFu;
    if (text.size() - i < length) return {};
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return {};
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    if (codePoint < form->smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint < 0xE000))
        return {};
    return {codePoint, length};
}

}  // namespace

std::optional<HexTextError> FindHexTextError(std::string_view text) {
    std::size_t position = 0;
    for (std::size_t i = 0; i < text.size(); ++position) {
        const char c = text[i];
        if (IsHexSeparator(c) || std::isxdigit(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        const std::size_t length = std::max<std::size_t>(DecodeUtf8(text, i).length, 1);
        return HexTextError{position, std::string(text.substr(i, length))};
    }
    return std::nullopt;
}

std::string HexTextError::Describe() const {
    const Utf8Char decoded = character.empty() ? Utf8Char{} : DecodeUtf8(character, 0);
    std::string shown;
    if (decoded.length == 0 || decoded.length != character.size()) {
        shown = fmt::format("the byte 0x{:02x} (not UTF-8 text)",
                            static_cast<unsigned char>(character.empty() ? 0 : character[0]));
    } else if (decoded.codePoint < 0x20 ||
               (decoded.codePoint >= 0x7F && decoded.codePoint < 0xA0)) {
        shown = fmt::format("the control character U+{:04X}",
                            static_cast<std::uint32_t>(decoded.codePoint));
    } else if (decoded.codePoint < 0x80) {
        shown = fmt::format("'{}'", character);
    } else {
        // The code point tells look-alikes apart (a no-break space, a full-width digit).
        shown = fmt::format("'{}' (U+{:04X})", character,
                            static_cast<std::uint32_t>(decoded.codePoint));
    }
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
