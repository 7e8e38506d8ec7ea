#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::sim {

// One character of the built-in fonts: font A in a 12 x 24 cell, font B in a
// 9 x 24 cell; one row per element, bit 15 the leftmost dot. Made at build time
// from the system's fonts (tools/make_glyphs.cpp).
struct GlyphRecord {
    char32_t ch;
    std::uint16_t a[24];
    std::uint16_t b[24];
};

extern const GlyphRecord kGlyphRecords[];  // sorted by ch
extern const std::size_t kGlyphRecordCount;

// The glyphs of a character, or nullptr when the fonts have none.
const GlyphRecord* FindGlyph(char32_t ch);

}  // namespace tessaly::sim
