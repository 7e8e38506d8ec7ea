#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "r3_engine.h"
#include "virtual_paper_view.h"

namespace tessaly::ui::qt {
namespace {

using ::testing::HasSubstr;

void Print(sim::R3Engine& engine, const std::string& text, std::int64_t now) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), {0x1D, 'V', 0x00});
    engine.receive(bytes.data(), bytes.size(), now);
}

TEST(VirtualPaperView, ShowsTheLastReceiptAtThePrintersWidth) {
    sim::PrinterConfig config;
    config.keepJobs = true;
    sim::R3Engine engine(config);
    VirtualPaperView view(engine);
    EXPECT_FALSE(view.collect());
    EXPECT_EQ(view.caption(), "Nothing printed yet.");

    Print(engine, "first\n", 0);
    Print(engine, "second\nthird\n", 10);
    ASSERT_TRUE(view.collect());
    EXPECT_THAT(view.caption().toStdString(), HasSubstr("Receipt 2 (ended by cut)"));
    const QImage& image = view.image();
    EXPECT_EQ(image.width(), 576);
    EXPECT_GE(image.height(), 2 * 30) << "two lines";
    int black = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 12 * 6; ++x) black += image.pixel(x, y) == qRgb(0, 0, 0);
    }
    EXPECT_GT(black, 20) << "the text is drawn";
    EXPECT_TRUE(engine.takeJobs().empty()) << "the window took the printer's jobs";
}

}  // namespace
}  // namespace tessaly::ui::qt
