#include "hex_text.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

std::vector<std::uint8_t> B(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

TEST(ParseHexText, PairsAreTakenTwoCharactersAtATime) {
    EXPECT_EQ(ParseHexText("1d 61 ff 0a"), B({0x1D, 0x61, 0xFF, 0x0A}));
    EXPECT_EQ(ParseHexText("1D61FF0A"), B({0x1D, 0x61, 0xFF, 0x0A}));
    EXPECT_EQ(ParseHexText("123"), B({0x12, 0x03}));
    EXPECT_EQ(ParseHexText("a 1b"), B({0x0A, 0x1B}));
    EXPECT_EQ(ParseHexText("1 2 3"), B({0x01, 0x02, 0x03}));
    EXPECT_EQ(ParseHexText("1b 40\r\n0a\t"), B({0x1B, 0x40, 0x0A}));
    EXPECT_EQ(ParseHexText("1b\b40"), B({0x1B, 0x40}));
}

TEST(ParseHexText, SeparatorsOnlyGiveNoBytes) {
    EXPECT_TRUE(ParseHexText("").empty());
    EXPECT_TRUE(ParseHexText(" \r\n\t\b ").empty());
}

TEST(ParseHexText, OddPairsReadLikeScanf) {
    // "%x" stops at the first non-digit; a pair with no number keeps the value
    // read before it.
    EXPECT_EQ(ParseHexText("1g"), B({0x01}));
    EXPECT_EQ(ParseHexText("41 zz"), B({0x41, 0x41}));
    EXPECT_EQ(ParseHexText("-1"), B({0xFF}));
}

TEST(HexTextValidation, NamesTheFirstBadCharacter) {
    EXPECT_FALSE(FindHexTextError("1b 40\r\n0A\tff").has_value());
    const auto bad = FindHexTextError("1b 4g 0x");
    ASSERT_TRUE(bad.has_value());
    EXPECT_EQ(bad->position, 4u);
    EXPECT_EQ(bad->character, "g");
    EXPECT_NE(bad->Describe().find("'g' at position 5"), std::string::npos) << bad->Describe();
}

TEST(HexTextValidation, NamesTheCharacterAsTypedNotItsBytes) {
    struct Case {
        std::string_view text;
        std::string_view shown;
    };
    for (const Case& c : {
             Case{"1b 40 \u00e9 0a", "'\u00e9' (U+00E9) at position 7"},
             Case{"1b 40 \u20ac", "'\u20ac' (U+20AC) at position 7"},
             Case{"1b 40 \U0001F600", "'\U0001F600' (U+1F600) at position 7"},
             // Look-alikes of a separator and of a digit.
             Case{"1b\u00a040", "'\u00a0' (U+00A0) at position 3"},
             Case{"\uff11b", "'\uff11' (U+FF11) at position 1"},
             Case{"1b\x01", "the control character U+0001 at position 3"},
             Case{"1b\u0085", "the control character U+0085 at position 3"},
             // Bytes that are not UTF-8: Latin-1 text, a cut-off sequence, an
             // overlong form, a surrogate, a stray continuation byte.
             Case{"1b \xe9", "the byte 0xe9 (not UTF-8 text) at position 4"},
             Case{"1b \xc3", "the byte 0xc3 (not UTF-8 text) at position 4"},
             Case{"\xc0\xaf", "the byte 0xc0 (not UTF-8 text) at position 1"},
             Case{"\xed\xa0\x80", "the byte 0xed (not UTF-8 text) at position 1"},
             Case{"\x80", "the byte 0x80 (not UTF-8 text) at position 1"},
         }) {
        const auto bad = FindHexTextError(c.text);
        ASSERT_TRUE(bad.has_value()) << c.text;
        EXPECT_NE(bad->Describe().find(c.shown), std::string::npos) << bad->Describe();
    }
    EXPECT_EQ(FindHexTextError("0a \u00e9")->character, "\u00e9");
}

TEST(FormatHexText, RoundTripsToCanonicalText) {
    EXPECT_EQ(FormatHexText(B({0x1B, 0x40, 0x0A})), "1b 40 0a ");
    EXPECT_EQ(FormatHexText(ParseHexText("1B400A")), "1b 40 0a ");
    EXPECT_EQ(FormatHexText({}), "");
}

}  // namespace
}  // namespace tessaly
