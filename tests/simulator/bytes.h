#pragma once

// Byte strings for the simulator's tests: B({0x1B, '@'}), T("text"), Cat({...}).

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tessaly::sim::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline Bytes T(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace tessaly::sim::test
