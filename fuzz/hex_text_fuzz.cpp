// Any command text must parse without fault, and its parse must agree with the
// validator and with the canonical text form.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hex_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto bytes = tessaly::ParseHexText(text);
    if (bytes.size() > size / 2 + 1) std::abort();
    if (!tessaly::FindHexTextError(text)) {
        // Clean text survives a round trip through its canonical form.
        if (tessaly::ParseHexText(tessaly::FormatHexText(bytes)) != bytes) std::abort();
    }
    return 0;
}
