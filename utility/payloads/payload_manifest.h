#pragma once

#include <cstdint>

namespace tessaly::payloads::detail {

struct ManifestEntry {
    int id;
    std::uint32_t documentedSize;
    bool standIn;
    const unsigned char* begin;
    const unsigned char* end;
};

extern const ManifestEntry kManifest[5];

}  // namespace tessaly::payloads::detail
