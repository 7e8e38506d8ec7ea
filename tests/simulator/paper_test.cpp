// The paper: receipts drawn as PNG against golden pictures, and the job files.
//
// R3_UPDATE_GOLDEN=1 writes the golden pictures anew (look at them before you
// commit them).
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "paper_folder.h"
#include "r3_engine.h"
#include "receipts.h"
#include "renderer.h"

namespace tessaly::sim {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;

PrintJob Print(const receipts::Bytes& bytes, PrinterConfig config = {}) {
    config.keepJobs = true;
    R3Engine engine(config);
    engine.receive(bytes.data(), bytes.size(), 0);
    engine.endJob(100000, "end");
    auto jobs = engine.takeJobs();
    EXPECT_EQ(jobs.size(), 1u);
    return jobs.empty() ? PrintJob{} : std::move(jobs.front());
}

struct TempDir {
    fs::path path = fs::temp_directory_path() /
                    ("r3-paper-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { fs::remove_all(path); }
    ~TempDir() { fs::remove_all(path); }
};

nlohmann::json ReadJson(const fs::path& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

// Same size, and at most `tolerance` of the dots differ: fonts and the bar code
// library may draw a dot differently from one version to the next.
void ExpectLooksLike(const Canvas& canvas, const std::string& golden, double tolerance = 0.01) {
    const std::string path = std::string(GOLDEN_DIR) + "/" + golden;
    std::string error;
    if (std::getenv("R3_UPDATE_GOLDEN") != nullptr) {
        ASSERT_TRUE(WritePng(canvas, path, error)) << error;
    }
    Canvas expected;
    ASSERT_TRUE(ReadPng(path, expected, error)) << error;
    ASSERT_EQ(canvas.width, expected.width) << golden;
    ASSERT_NEAR(canvas.height, expected.height, expected.height / 50) << golden;
    std::size_t differ = 0;
    const int h = std::min(canvas.height, expected.height);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < canvas.width; ++x) differ += canvas.at(x, y) != expected.at(x, y);
    }
    const double share = static_cast<double>(differ) / (static_cast<double>(canvas.width) * h);
    EXPECT_LE(share, tolerance) << golden << ": " << differ << " dots differ";
}

TEST(Paper, ShopReceiptLooksLikeItsGolden) {
    const RenderedJob r = RenderJob(Print(receipts::Shop()));
    EXPECT_EQ(r.canvas.width, 576);
    ExpectLooksLike(r.canvas, "shop-80mm.png");
}

TEST(Paper, NarrowPaperReceiptLooksLikeItsGolden) {
    PrinterConfig config;
    config.switches[9] = 0x10;  // 2 inch paper
    const RenderedJob r = RenderJob(Print(receipts::Narrow(), config));
    EXPECT_EQ(r.canvas.width, 384);
    ExpectLooksLike(r.canvas, "narrow-58mm.png");
}

TEST(Paper, SelfTestPageLooksLikeItsGolden) {
    const RenderedJob r = RenderJob(Print({0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}));
    ExpectLooksLike(r.canvas, "self-test.png");
}

TEST(Paper, CodesThatCannotPrintSayWhy) {
    receipts::Builder b;
    b.raw({0x1D, 'w', 6, 0x1D, 'k', 73, 42, '{', 'B'}).text(std::string(40, 'W'));  // too wide
    b.raw({0x1D, 'k', 2}).text("12345X").raw({0});                                  // not digits
    const RenderedJob r = RenderJob(Print(b.bytes()));
    ASSERT_EQ(r.codes.size(), 2u);
    EXPECT_FALSE(r.codes[0].printed);
    EXPECT_THAT(r.codes[0].problem, HasSubstr("more than the print area"));
    EXPECT_FALSE(r.codes[1].printed);
    EXPECT_FALSE(r.codes[1].problem.empty());
}

TEST(Paper, JobFilesCarryTextCodesAndImagesAndNumbersGoOn) {
    TempDir dir;
    {
        PaperFolder folder(dir.path.string());
        std::string error;
        ASSERT_TRUE(folder.open(error)) << error;
        ASSERT_TRUE(folder.write(Print(receipts::Shop(512, 200)), error)) << error;
    }
    for (const char* ext : {"png", "txt", "json"}) {
        EXPECT_TRUE(fs::exists(dir.path / fmt::format("0001.{}", ext))) << ext;
    }
    const auto json = ReadJson(dir.path / "0001.json");
    EXPECT_EQ(json["paper"]["widthDots"], 576);
    EXPECT_EQ(json["endedBy"], "cut");
    EXPECT_THAT(json["text"].get<std::vector<std::string>>(), Contains("Merci, à € é"));
    std::vector<std::string> kinds;
    for (const auto& e : json["elements"]) {
        kinds.push_back(e["type"]);
        if (e["type"] == "image") {
            EXPECT_EQ(e["width"], 512);
            EXPECT_EQ(e["height"], 200);
        }
        if (e["type"] == "barcode") {
            EXPECT_EQ(e["data"], "5901234123457");
            EXPECT_EQ(e["hri"], "5901234123457");
            EXPECT_TRUE(e["printed"]);
        }
        if (e["type"] == "2d") {
            EXPECT_EQ(e["symbology"], "QR");
            EXPECT_EQ(e["data"], "https://example.com/r/7");
        }
        if (e["type"] == "line" && e["text"] == "TOTAL                         7.40") {
            EXPECT_EQ(e["runs"][0]["height"], 2);
            EXPECT_TRUE(e["runs"][0]["bold"]);
        }
    }
    for (const char* kind : {"image", "line", "barcode", "2d", "pulse", "cut"}) {
        EXPECT_THAT(kinds, Contains(kind));
    }
    std::ifstream text(dir.path / "0001.txt");
    const std::string all((std::istreambuf_iterator<char>(text)), {});
    EXPECT_THAT(all, HasSubstr("[barcode EAN13: 5901234123457]"));
    EXPECT_THAT(all, HasSubstr("[QR code: https://example.com/r/7]"));

    // A second run in the same folder goes on after what is there.
    PaperFolder again(dir.path.string());
    std::string error;
    ASSERT_TRUE(again.open(error)) << error;
    ASSERT_TRUE(again.write(Print(receipts::Narrow()), error)) << error;
    EXPECT_TRUE(fs::exists(dir.path / "0002.json"));
    EXPECT_EQ(ReadJson(dir.path / "0001.json")["paper"]["widthDots"], 576) << "not overwritten";
}

TEST(Paper, AFolderThatCannotBeUsedIsRefusedAndNothingHalfWrittenStays) {
    TempDir dir;
    fs::create_directories(dir.path);
    std::ofstream(dir.path / "file") << "x";
    PaperFolder folder((dir.path / "file").string());
    std::string error;
    EXPECT_FALSE(folder.open(error));
    EXPECT_THAT(error, HasSubstr("paper folder"));

    // A job whose picture cannot be written leaves no files behind.
    PaperFolder good(dir.path.string());
    ASSERT_TRUE(good.open(error));
    fs::create_directories(dir.path / "0001.txt");  // the text cannot be made
    EXPECT_FALSE(good.write(Print(receipts::Narrow()), error));
    EXPECT_THAT(error, HasSubstr("0001.txt"));
    EXPECT_FALSE(fs::exists(dir.path / "0001.png"));
    EXPECT_FALSE(fs::exists(dir.path / "0001.json"));
}

}  // namespace
}  // namespace tessaly::sim
