#include "glyphs.h"

#include <algorithm>

namespace tessaly::sim {

const GlyphRecord* FindGlyph(char32_t ch) {
    const GlyphRecord* end = kGlyphRecords + kGlyphRecordCount;
    const GlyphRecord* found = std::lower_bound(
        kGlyphRecords, end, ch, [](const GlyphRecord& g, char32_t c) { return g.ch < c; });
    return found != end && found->ch == ch ? found : nullptr;
}

}  // namespace tessaly::sim
