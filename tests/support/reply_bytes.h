#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace tessaly::testing {

// A printer's text reply: the leading bytes, the text, a closing 0. Built at its
// final size: growing a short vector by insert() makes GCC 12 at -O3 warn
// (-Warray-bounds) about the copy it inlines, wrongly.
inline std::vector<std::uint8_t> TextReply(std::initializer_list<std::uint8_t> head,
                                           std::string_view text) {
    std::vector<std::uint8_t> out(head.size() + text.size() + 1, 0);
    std::copy(head.begin(), head.end(), out.begin());
    std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return out;
}

// A name or version reply: 5F, the text, 00.
inline std::vector<std::uint8_t> Framed(std::string_view text, std::uint8_t header = 0x5F) {
    return TextReply({header}, text);
}

// Orders byte strings for map keys. std::vector's own ordering goes through a
// memcmp that GCC 12 at -O3 warns about (-Wstringop-overread), wrongly.
struct BytesOrder {
    bool operator()(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
        const std::size_t common = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i] != b[i]) return a[i] < b[i];
        }
        return a.size() < b.size();
    }
};

}  // namespace tessaly::testing
