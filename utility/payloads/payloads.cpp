#include "payloads.h"

#include <fmt/format.h>

#include "payload_manifest.h"

namespace tessaly::payloads {

std::optional<FontPayload> FindFontPayload(int id) {
    for (const auto& entry : detail::kManifest) {
        if (entry.id != id) continue;
        const auto size = static_cast<std::size_t>(entry.end - entry.begin);
        return FontPayload{id, std::span<const std::uint8_t>(entry.begin, size), entry.standIn};
    }
    return std::nullopt;
}

std::uint32_t DocumentedSize(int id) {
    for (const auto& entry : detail::kManifest) {
        if (entry.id == id) return entry.documentedSize;
    }
    return 0;
}

bool HasValidFraming(std::span<const std::uint8_t> payload) {
    if (payload.size() < kHeaderSize) return false;
    for (std::size_t i = 0; i < kFraming.size(); ++i) {
        if (payload[i] != kFraming[i]) return false;
    }
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < 4; ++i) count |= std::uint64_t{payload[5 + i]} << (8 * i);
    return count == payload.size() - kHeaderSize;
}

bool AnyStandIns() {
    for (const auto& entry : detail::kManifest) {
        if (entry.standIn) return true;
    }
    return false;
}

std::string Description() {
    std::string standIns;
    for (const auto& entry : detail::kManifest) {
        if (!entry.standIn) continue;
        if (!standIns.empty()) standIns += ", ";
        standIns += std::to_string(entry.id);
    }
    if (standIns.empty()) return "font payloads: vendor data";
    return fmt::format(
        "font payloads: STAND-INS for {} (built without the vendor files; "
        "not for real printers)",
        standIns);
}

}  // namespace tessaly::payloads
