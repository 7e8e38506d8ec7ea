#include "print_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "command_table.h"

namespace tessaly::sim {
namespace {

using test::B;
using test::Bytes;
using test::Cat;
using test::T;

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Feeds bytes through the decoder into a model, as the engine does.
struct Printer final : CommandDecoder::Sink {
    PrintModel model;
    CommandDecoder decoder;
    explicit Printer(PaperSetup setup = {}) : model(setup) {}
    Printer& operator<<(const Bytes& bytes) {
        decoder.feed(bytes.data(), bytes.size(), 0, *this);
        return *this;
    }
    void text(const std::uint8_t* data, std::size_t n) override { model.text(data, n); }
    void command(Command c) override { model.command(c); }
    void fontData(const std::uint8_t*, std::size_t) override {}
    void fontAbandoned() override {}

    template <typename T>
    std::vector<T> all() {
        std::vector<T> out;
        for (const auto& e : model.job().elements) {
            if (const auto* x = std::get_if<T>(&e)) out.push_back(*x);
        }
        return out;
    }
};

TEST(PrintModel, AlignmentMarginAndAreaPlaceTheLine) {
    Printer p;
    p << B({0x1B, 'a', 1}) << T("ABCD\n")  // centred on 576 dots
      << B({0x1B, 'a', '2'}) << T("AB\n")  // right, as a digit
      << B({0x1B, 'a', 0, 0x1D, 'L', 40, 0, 0x1D, 'W', 200, 0}) << T("X\n");
    const auto lines = p.all<PrintLine>();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].chars[0].x, (576 - 4 * 12) / 2);
    EXPECT_EQ(lines[1].chars[0].x, 576 - 2 * 12);
    EXPECT_EQ(lines[2].chars[0].x, 40);
    // The print area ends at 240 dots: a 17th character goes to the next line.
    p << T(std::string(17, 'y') + "\n");
    EXPECT_EQ(p.model.takeLines().back(), "y");
}

TEST(PrintModel, StylesSizeTheCellsAndLineSpacingIsTopToTop) {
    Printer p;
    p << B({0x1D, '!', 0x11}) << T("W") << B({0x1D, '!', 0x00, 0x1B, 'E', 1}) << T("b")
      << B({0x1B, '!', 0x81}) << T("u\n")  // font B, underlined
      << B({0x1B, '3', 60}) << T("s\n") << B({0x1B, '2'}) << T("d\n");
    const auto lines = p.all<PrintLine>();
    ASSERT_EQ(lines.size(), 3u);
    const auto& c = lines[0].chars;
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].style.width, 2);
    EXPECT_EQ(c[0].style.height, 2);
    EXPECT_EQ(c[1].x - c[0].x, 24) << "double width font A";
    EXPECT_TRUE(c[1].style.bold);
    EXPECT_EQ(c[2].style.font, 1);
    EXPECT_EQ(c[2].style.underline, 1);
    EXPECT_FALSE(c[2].style.bold) << "ESC ! sets emphasis off again";
    EXPECT_EQ(lines[0].height, 48);
    EXPECT_EQ(lines[0].feed, 48) << "a line taller than the spacing feeds its height";
    EXPECT_EQ(lines[1].feed, 60);
    EXPECT_EQ(lines[2].feed, PrintModel::kDefaultSpacing);
}

TEST(PrintModel, CodeTablesComeFromTheSwitchAndEscT) {
    PaperSetup setup;
    setup.codePageIndex = 17;  // WPC1251 (Cyrillic) as the default
    Printer p(setup);
    p << B({0xC0, 0x0A})                         // WPC1251: А
      << B({0x1B, 't', 0x10, 0x80, 0xE9, 0x0A})  // WPC1252: euro sign, e acute
      << B({0x1B, 't', 0x14, 0x80, 0x0A})        // 0x14 is no table: kept
      << B({0x1B, '@', 0xC0, 0x0A});             // initialise: back to the default
    EXPECT_THAT(p.model.takeLines(), ElementsAre("А", "€é", "€", "А"));
    EXPECT_THAT(p.model.job().notes, Contains(HasSubstr("no such code table")));
}

TEST(PrintModel, RasterAndBitImagesHaveTheirPrintedSize) {
    Printer p;
    Bytes raster = B({0x1D, 'v', '0', 3, 2, 0, 10, 0});  // 16 x 10, quadruple
    raster.resize(raster.size() + 20, 0xFF);
    Bytes column = B({0x1B, '*', 33, 5, 0});  // 5 columns of 24 dots
    column.resize(column.size() + 15, 0x81);
    p << B({0x1B, 'a', 1}) << raster << column << T("\n");
    const auto images = p.all<ImageElement>();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].bitmap.width, 32);
    EXPECT_EQ(images[0].bitmap.height, 20);
    EXPECT_EQ(images[0].x, (576 - 32) / 2);
    const auto lines = p.all<PrintLine>();
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].images.size(), 1u);
    EXPECT_EQ(lines[0].images[0].bitmap.width, 5);
    EXPECT_EQ(lines[0].height, 24);
    EXPECT_TRUE(lines[0].images[0].bitmap.get(0, 0));
    EXPECT_FALSE(lines[0].images[0].bitmap.get(0, 1));
}

TEST(PrintModel, ImagesAndCodesNeedAnEmptyLineBuffer) {
    Printer p;
    p << T("pending") << B({0x1D, 'v', '0', 0, 1, 0, 1, 0, 0xFF}) << B({0x1D, 'k', 2})
      << T("400638133393") << B({0}) << T("\n");
    EXPECT_TRUE(p.all<ImageElement>().empty());
    EXPECT_TRUE(p.all<BarcodeElement>().empty());
    EXPECT_THAT(p.model.takeLines(), ElementsAre("pending"));
    EXPECT_THAT(p.model.job().notes, Contains(HasSubstr("GS v 0 ignored")));
}

TEST(PrintModel, BarcodesTakeTheirSettingsAndCode128SetsAreResolved) {
    Printer p;
    p << B({0x1D, 'h', 80, 0x1D, 'w', 2, 0x1D, 'H', 2, 0x1D, 'f', 1})
      << B({0x1D, 'k', 73, 8, '{', 'B', 'N', 'o', '{', 'C', 12, 34}) << B({0x1D, 'k', 67, 13})
      << T("5901234123457");
    const auto codes = p.all<BarcodeElement>();
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0].name, "CODE128");
    EXPECT_EQ(codes[0].data, "No1234");
    EXPECT_EQ(codes[0].height, 80);
    EXPECT_EQ(codes[0].module, 2);
    EXPECT_EQ(codes[0].hri, 2);
    EXPECT_EQ(codes[0].hriFont, 1);
    EXPECT_EQ(codes[1].name, "EAN13");
    EXPECT_EQ(codes[1].data, "5901234123457");
    EXPECT_THAT(p.model.takeLines(),
                ElementsAre("[barcode CODE128: No1234]", "[barcode EAN13: 5901234123457]"));
}

TEST(PrintModel, TwoDimensionalCodesAreStoredThenPrinted) {
    Printer p;
    const std::string url = "https://example.com/r/7";
    Bytes store = B({0x1D, '(', 'k', static_cast<int>(url.size() + 3), 0, 49, 80, 48});
    store.insert(store.end(), url.begin(), url.end());
    p << B({0x1D, '(', 'k', 3, 0, 49, 67, 6})   // module size 6
      << B({0x1D, '(', 'k', 3, 0, 49, 69, 51})  // level H
      << store << B({0x1D, '(', 'k', 3, 0, 49, 81, 48})
      << B({0x1D, '(', 'k', 3, 0, 48, 81, 48});  // PDF417 with nothing stored
    const auto codes = p.all<Code2DElement>();
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0].kind, Code2DElement::Kind::Qr);
    EXPECT_EQ(codes[0].data, url);
    EXPECT_EQ(codes[0].moduleSize, 6);
    EXPECT_EQ(codes[0].ecc, 4);
    EXPECT_THAT(p.model.job().notes, Contains(HasSubstr("without stored data")));
}

TEST(PrintModel, GraphicsAreStoredInTheBufferAndPrintedByFunction50) {
    Printer p;
    Bytes store = B({0x1D, '8', 'L', 10 + 4, 0, 0, 0, 48, 112, 48, 2, 1, 49, 16, 0, 2, 0});
    store.insert(store.end(), {0xFF, 0x00, 0x0F, 0xF0});
    p << store;
    EXPECT_TRUE(p.all<ImageElement>().empty()) << "stored, not yet printed";
    p << B({0x1D, '(', 'L', 2, 0, 48, 50});
    const auto images = p.all<ImageElement>();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].bitmap.width, 32) << "16 dots, twice as wide";
    EXPECT_EQ(images[0].bitmap.height, 2);
    EXPECT_TRUE(images[0].bitmap.get(0, 0));
    EXPECT_FALSE(images[0].bitmap.get(16, 0));
}

TEST(PrintModel, CutsEndTheJobAndPulsesAreKept) {
    Printer p;
    p << T("last") << B({0x1B, 'p', 1, 25, 250, 0x1D, 'V', 66, 30});
    EXPECT_TRUE(p.model.cutSeen());
    const auto pulses = p.all<PulseElement>();
    ASSERT_EQ(pulses.size(), 1u);
    EXPECT_EQ(pulses[0].pin, 5);
    EXPECT_EQ(pulses[0].onMs, 50);
    const PrintJob job = p.model.take();
    EXPECT_THAT(job.text, ElementsAre("last", "--- partial cut ---"));
    EXPECT_FALSE(p.model.cutSeen());
    EXPECT_TRUE(p.model.job().elements.empty());
}

}  // namespace
}  // namespace tessaly::sim
