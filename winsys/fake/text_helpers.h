// Text helpers shared by the fake Windows' API families: names compared without regard to
// case, as Windows compares them, and the parts of the journal lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "../win_types.h"

namespace tessaly::winsys::fake::detail {

std::string Upper(std::string_view s);
bool IEquals(std::string_view a, std::string_view b);
bool IStartsWith(std::string_view text, std::string_view prefix);

// A string argument as the journal shows it: quoted and escaped, or NULL.
std::string S(const char* text);
std::string S(const std::string& text);
std::string Hex(DWORD value);
std::string Dec(std::uint64_t value);
// Pieces of text joined in one buffer. A chain of + that starts with a literal
// makes GCC 12 at -O3 warn about overlapping copies (-Wrestrict), wrongly.
template <typename... T>
std::string Cat(const T&... parts) {
    std::string out;
    ((out += parts), ...);
    return out;
}
// Journal arguments, separated by ", ".
template <typename... T>
std::string Args(const T&... parts) {
    std::string out;
    ((out += (out.empty() ? "" : ", "), out += parts), ...);
    return out;
}
// Names of the predefined registry roots, long and short; empty for other keys.
std::string RootName(HKEY key);
std::string RootShort(HKEY key);

std::string FileNameOf(const std::string& path);
bool IsAbsolutePath(const char* path);

}  // namespace tessaly::winsys::fake::detail
