#include "code_pages.h"

#include <algorithm>

namespace tessaly::sim {

namespace {

const CodePage kPages[] = {
#include "code_page_data.inc"
};

}  // namespace

const CodePage* FindCodePage(std::uint8_t escT) {
    for (const auto& page : kPages) {
        if (page.escT == escT) return &page;
    }
    return nullptr;
}

const CodePage* CodePageForSwitchIndex(int index) {
    // The list runs 00..05, 10..13, 15..28 in ESC t numbers (14 is not used).
    if (index < 0 || index > 29) return nullptr;
    const int escT = index <= 5 ? index : index <= 9 ? index + 10 : index + 11;
    return FindCodePage(static_cast<std::uint8_t>(escT));
}

int SwitchCodePageIndex(std::uint8_t switch2) {
    return ((switch2 >> 3) & 0x1F) | ((switch2 & 0x04) ? 32 : 0);
}

char32_t DecodeByte(const CodePage& page, std::uint8_t byte) {
    if (byte < 0x80) return byte >= 0x20 && byte < 0x7F ? byte : 0;
    return page.upper[byte - 0x80u];
}

std::vector<char32_t> PrintableCharacters() {
    std::vector<char32_t> out;
    for (char32_t ch = 0x20; ch < 0x7F; ++ch) out.push_back(ch);
    for (const auto& page : kPages) {
        for (std::uint16_t ch : page.upper) {
            if (ch != 0) out.push_back(ch);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

void AppendUtf8(std::string& out, char32_t ch) {
    auto put = [&](unsigned v) { out.push_back(static_cast<char>(v)); };
    if (ch < 0x80) {
        put(ch);
    } else if (ch < 0x800) {
        put(0xC0 | (ch >> 6));
        put(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        put(0xE0 | (ch >> 12));
        put(0x80 | ((ch >> 6) & 0x3F));
        put(0x80 | (ch & 0x3F));
    } else {
        put(0xF0 | (ch >> 18));
        put(0x80 | ((ch >> 12) & 0x3F));
        put(0x80 | ((ch >> 6) & 0x3F));
        put(0x80 | (ch & 0x3F));
    }
}

}  // namespace tessaly::sim
