#include "payloads.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessaly::payloads {
namespace {

TEST(FontPayloads, AllFiveHaveTheirSizeAndFraming) {
    const std::pair<int, std::size_t> expected[] = {
        {141, 1025807}, {142, 615695}, {143, 843791}, {144, 615695}, {146, 1244687}};
    for (auto [id, size] : expected) {
        SCOPED_TRACE(id);
        const auto payload = FindFontPayload(id);
        ASSERT_TRUE(payload.has_value());
        EXPECT_EQ(DocumentedSize(id), size);
        // A vendor file is carried unchanged even when its size differs (the
        // build warns); a stand-in always has the documented size and framing.
        if (payload->standIn) {
            EXPECT_EQ(payload->data.size(), size);
            EXPECT_TRUE(HasValidFraming(payload->data));
        }
    }
    EXPECT_FALSE(FindFontPayload(145).has_value());
    EXPECT_EQ(DocumentedSize(145), 0u);
}

TEST(FontPayloads, EqualSizedPayloadsDiffer) {
    const auto a = FindFontPayload(142);
    const auto b = FindFontPayload(144);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(std::equal(a->data.begin(), a->data.end(), b->data.begin(), b->data.end()));
}

TEST(FontPayloads, DescriptionNamesTheStandIns) {
    bool any = false;
    for (int id : kFontPayloadIds) any = any || FindFontPayload(id)->standIn;
    EXPECT_EQ(AnyStandIns(), any);
    EXPECT_EQ(Description().find("STAND-IN") != std::string::npos, any);
    if (FindFontPayload(141)->standIn) {
        EXPECT_NE(Description().find("141"), std::string::npos);
    }
}

TEST(FontPayloads, FramingCheck) {
    std::vector<std::uint8_t> p{0x1C, 0x6C, 0x64, 0x73, 0x58, 3, 0, 0, 0, 1, 2, 3};
    EXPECT_TRUE(HasValidFraming(p));
    p[5] = 4;
    EXPECT_FALSE(HasValidFraming(p));
    p[5] = 3;
    p[0] = 0x1D;
    EXPECT_FALSE(HasValidFraming(p));
    EXPECT_FALSE(HasValidFraming(std::span(p.data(), 8)));
}

}  // namespace
}  // namespace tessaly::payloads
