#include "renderer.h"

#include <fmt/format.h>
#include <png.h>
#include <zint.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "glyphs.h"

namespace tessaly::sim {

namespace {

constexpr int kHriHeight = kCellHeight;
constexpr int kMarkBand = 20;  // height of a pulse or buzzer mark

// The paper, growing downwards as the job is drawn.
class Paper {
  public:
    explicit Paper(int width) { canvas_.width = width; }

    void reserve(int bottom) {
        if (bottom <= canvas_.height) return;
        canvas_.height = bottom;
        canvas_.dots.resize(
            static_cast<std::size_t>(canvas_.width) * static_cast<std::size_t>(bottom),
            Canvas::kWhite);
    }
    void put(int x, int y, std::uint8_t colour) {
        if (x < 0 || y < 0 || x >= canvas_.width || y >= canvas_.height) return;
        canvas_.dots[static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas_.width) +
                     static_cast<std::size_t>(x)] = colour;
    }
    void fill(int x, int y, int w, int h, std::uint8_t colour) {
        const int x0 = std::max(0, x), x1 = std::min(canvas_.width, x + w);
        const int y0 = std::max(0, y), y1 = std::min(canvas_.height, y + h);
        for (int yy = y0; yy < y1; ++yy) {
            auto* row = canvas_.dots.data() + static_cast<std::size_t>(yy) * canvas_.width;
            std::fill(row + x0, row + std::max(x0, x1), colour);
        }
    }
    void bitmap(const Bitmap& b, int x, int y) {
        reserve(y + b.height);
        for (int yy = 0; yy < b.height; ++yy) {
            for (int xx = 0; xx < b.width; ++xx) {
                if (b.get(xx, yy)) put(x + xx, y + yy, Canvas::kBlack);
            }
        }
    }
    // Turns the band of rows [top, top + h) by 180 degrees.
    void rotateBand(int top, int h) {
        auto* base = canvas_.dots.data() + static_cast<std::size_t>(top) * canvas_.width;
        std::reverse(base, base + static_cast<std::size_t>(h) * canvas_.width);
    }
    Canvas take() { return std::move(canvas_); }
    int width() const { return canvas_.width; }

  private:
    Canvas canvas_;
};

void DrawChar(Paper& paper, char32_t ch, const TextStyle& style, int x, int y, int advance,
              std::uint8_t colour = Canvas::kBlack) {
    const int cellWidth = style.font == 1 ? kFontBWidth : kFontAWidth;
    const int w = style.width, h = style.height;
    std::uint8_t ink = colour;
    if (style.inverse) {
        paper.fill(x, y, advance, style.cellHeight(), Canvas::kBlack);
        ink = Canvas::kWhite;
    }
    const GlyphRecord* glyph = ch != 0 ? FindGlyph(ch) : nullptr;
    if (glyph == nullptr) {
        // A character the fonts lack: an empty box, as printers show it.
        const int bx = x + w, by = y + 4 * h, bw = (cellWidth - 2) * w, bh = 16 * h;
        paper.fill(bx, by, bw, 1, ink);
        paper.fill(bx, by + bh - 1, bw, 1, ink);
        paper.fill(bx, by, 1, bh, ink);
        paper.fill(bx + bw - 1, by, 1, bh, ink);
    } else {
        const std::uint16_t* rows = style.font == 1 ? glyph->b : glyph->a;
        for (int r = 0; r < kCellHeight; ++r) {
            if (rows[r] == 0) continue;
            for (int c = 0; c < cellWidth; ++c) {
                if (!(rows[r] & (0x8000 >> c))) continue;
                // Emphasis prints each dot once more, one dot to the right.
                paper.fill(x + c * w, y + r * h, w + (style.bold ? 1 : 0), h, ink);
            }
        }
    }
    if (style.underline > 0) {
        paper.fill(x, y + style.cellHeight() - style.underline, advance, style.underline, ink);
    }
}

void DrawText(Paper& paper, const std::string& text, int font, int x, int y, std::uint8_t colour) {
    TextStyle style;
    style.font = static_cast<std::uint8_t>(font);
    paper.reserve(y + kCellHeight);
    for (unsigned char ch : text) {
        DrawChar(paper, ch, style, x, y, style.cellWidth(), colour);
        x += style.cellWidth();
    }
}

int LineTop(int y, const PrintLine& line) {
    return y + line.height;  // pieces stand on the line's bottom
}

void DrawLine(Paper& paper, const PrintLine& line, int y) {
    paper.reserve(y + std::max(line.height, line.feed));
    const int bottom = LineTop(y, line);
    for (const auto& c : line.chars) {
        DrawChar(paper, c.ch, c.style, c.x, bottom - c.style.cellHeight(), c.advance);
    }
    for (const auto& image : line.images)
        paper.bitmap(image.bitmap, image.x, bottom - image.bitmap.height);
    if (line.upsideDown && line.height > 0) paper.rotateBand(y, line.height);
}

struct Symbol {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> s{ZBarcode_Create(), ZBarcode_Delete};
    bool set(int row, int column) const {
        return (s->encoded_data[row][column >> 3] >> (column & 7)) & 1;
    }
};

// Encodes with the symbology's own rules; the error text when it refuses.
std::string Encode(Symbol& symbol, const std::string& data) {
    if (!symbol.s) return "the bar code library could not start";
    const int rc =
        ZBarcode_Encode(symbol.s.get(), reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<int>(data.size()));
    if (rc >= ZINT_ERROR) return symbol.s->errtxt;
    return {};
}

int Aligned(int left, int area, int alignment, int width) {
    const int slack = std::max(0, area - width);
    return left + (alignment == 1 ? slack / 2 : alignment == 2 ? slack : 0);
}

// The symbology and data for GS k system m; 0 when the library has none.
int BarcodeSymbology(int m, std::string& data, int& inputMode) {
    const std::size_t digits = data.size();
    switch (m) {
        case 0:
        case 65:
            return digits == 12 ? BARCODE_UPCA_CHK : BARCODE_UPCA;
        case 1:
        case 66:
            return digits == 8 ? BARCODE_UPCE_CHK : BARCODE_UPCE;
        case 2:
        case 67:
            return digits == 13 ? BARCODE_EANX_CHK : BARCODE_EANX;
        case 3:
        case 68:
            return digits == 8 ? BARCODE_EANX_CHK : BARCODE_EANX;
        case 4:
        case 69:
            // The printer adds the start and stop characters itself.
            if (data.size() >= 2 && data.front() == '*' && data.back() == '*')
                data = data.substr(1, data.size() - 2);
            return BARCODE_CODE39;
        case 5:
        case 70:
            return BARCODE_C25INTER;
        case 6:
        case 71:
            return BARCODE_CODABAR;
        case 72:
            return BARCODE_CODE93;
        case 73:
        case 79:
            return BARCODE_CODE128;
        case 74:
        case 78:
            std::replace(data.begin(), data.end(), '(', '[');
            std::replace(data.begin(), data.end(), ')', ']');
            inputMode = GS1_MODE;
            return m == 74 ? BARCODE_GS1_128 : BARCODE_DBAR_EXP;
        case 75:
        case 76:
            return BARCODE_DBAR_OMN;
        case 77:
            return BARCODE_DBAR_LTD;
        default:
            return 0;
    }
}

int DrawBarcode(Paper& paper, const BarcodeElement& b, int y, RenderedCode& out) {
    out.kind = "barcode";
    out.name = b.name;
    out.data = b.data;
    Symbol symbol;
    std::string data = b.data;
    int inputMode = DATA_MODE;
    const int symbology = BarcodeSymbology(b.system, data, inputMode);
    if (symbology == 0) {
        out.problem = "no such bar code system";
        return 0;
    }
    symbol.s->symbology = symbology;
    symbol.s->input_mode = inputMode;
    symbol.s->show_hrt = 1;
    if (const std::string error = Encode(symbol, data); !error.empty()) {
        out.problem = error;
        return 0;
    }
    out.hri = reinterpret_cast<const char*>(symbol.s->text);
    if (out.hri.empty()) out.hri = data;
    const int width = symbol.s->width * b.module;
    if (width > b.areaWidth) {
        out.problem =
            fmt::format("{} dots wide: more than the print area ({} dots)", width, b.areaWidth);
        return 0;
    }
    const int x = Aligned(b.left, b.areaWidth, b.alignment, width);
    const int hriWidth =
        static_cast<int>(out.hri.size()) * (b.hriFont == 1 ? kFontBWidth : kFontAWidth);
    const int hriX = Aligned(b.left, b.areaWidth, b.alignment, width) + (width - hriWidth) / 2;
    int top = y;
    if (b.hri == 1 || b.hri == 3) {
        DrawText(paper, out.hri, b.hriFont, hriX, top, Canvas::kBlack);
        top += kHriHeight;
    }
    paper.reserve(top + b.height);
    const int rows = std::max(1, symbol.s->rows);
    const int rowHeight = std::max(1, b.height / rows);
    for (int r = 0; r < rows; ++r) {
        for (int m = 0; m < symbol.s->width; ++m) {
            if (symbol.set(r, m))
                paper.fill(x + m * b.module, top + r * rowHeight, b.module, rowHeight,
                           Canvas::kBlack);
        }
    }
    out.printed = true;
    out.x = x;
    out.y = y;
    out.width = width;
    top += b.height;
    if (b.hri == 2 || b.hri == 3) {
        DrawText(paper, out.hri, b.hriFont, hriX, top, Canvas::kBlack);
        top += kHriHeight;
    }
    out.height = top - y;
    return top - y;
}

int DrawCode2D(Paper& paper, const Code2DElement& e, int y, RenderedCode& out) {
    out.kind = "2d";
    out.name = e.name;
    out.data = e.data;
    Symbol symbol;
    int moduleWidth = e.moduleSize, moduleHeight = e.moduleSize;
    switch (e.kind) {
        case Code2DElement::Kind::Qr:
            symbol.s->symbology = BARCODE_QRCODE;
            symbol.s->option_1 = e.ecc > 0 ? e.ecc : 1;  // the printer's default is level L
            break;
        case Code2DElement::Kind::MicroQr:
            symbol.s->symbology = BARCODE_MICROQR;
            if (e.ecc > 0) symbol.s->option_1 = e.ecc;
            break;
        case Code2DElement::Kind::Pdf417:
            symbol.s->symbology = e.truncated ? BARCODE_PDF417COMP : BARCODE_PDF417;
            if (e.ecc > 0) symbol.s->option_1 = e.ecc - 1;
            if (e.columns > 0) symbol.s->option_2 = e.columns;
            moduleHeight = e.moduleSize * e.rowHeight;
            break;
        case Code2DElement::Kind::DataMatrix:
            symbol.s->symbology = BARCODE_DATAMATRIX;
            break;
        case Code2DElement::Kind::Aztec:
            symbol.s->symbology = BARCODE_AZTEC;
            break;
    }
    if (const std::string error = Encode(symbol, e.data); !error.empty()) {
        out.problem = error;
        return 0;
    }
    const int width = symbol.s->width * moduleWidth;
    const int height = symbol.s->rows * moduleHeight;
    if (width > e.areaWidth) {
        out.problem =
            fmt::format("{} dots wide: more than the print area ({} dots)", width, e.areaWidth);
        return 0;
    }
    const int x = Aligned(e.left, e.areaWidth, e.alignment, width);
    paper.reserve(y + height);
    for (int r = 0; r < symbol.s->rows; ++r) {
        for (int m = 0; m < symbol.s->width; ++m) {
            if (symbol.set(r, m))
                paper.fill(x + m * moduleWidth, y + r * moduleHeight, moduleWidth, moduleHeight,
                           Canvas::kBlack);
        }
    }
    out.printed = true;
    out.x = x;
    out.y = y;
    out.width = width;
    out.height = height;
    return height;
}

// A mark in the margin for something that is not on the paper: a dashed line
// and a short text.
int DrawMark(Paper& paper, const std::string& text, int y) {
    paper.reserve(y + kMarkBand);
    for (int x = 0; x < paper.width(); x += 8)
        paper.fill(x, y + kMarkBand / 2, 4, 1, Canvas::kMark);
    const int w = static_cast<int>(text.size()) * kFontBWidth + 8;
    paper.fill(paper.width() - w - 4, y, w, kMarkBand, Canvas::kWhite);
    DrawText(paper, text, 1, paper.width() - w, y - 2, Canvas::kMark);
    return kMarkBand;
}

}  // namespace

RenderedJob RenderJob(const PrintJob& job) {
    Paper paper(job.widthDots);
    RenderedJob out;
    int y = 0;
    for (const auto& element : job.elements) {
        if (const auto* line = std::get_if<PrintLine>(&element)) {
            DrawLine(paper, *line, y);
            y += line->feed;
        } else if (const auto* image = std::get_if<ImageElement>(&element)) {
            paper.bitmap(image->bitmap, image->x, y);
            y += image->bitmap.height;
        } else if (const auto* barcode = std::get_if<BarcodeElement>(&element)) {
            out.codes.emplace_back();
            y += DrawBarcode(paper, *barcode, y, out.codes.back());
        } else if (const auto* code = std::get_if<Code2DElement>(&element)) {
            out.codes.emplace_back();
            y += DrawCode2D(paper, *code, y, out.codes.back());
        } else if (const auto* feed = std::get_if<FeedElement>(&element)) {
            y += feed->dots;
            paper.reserve(y);
        } else if (const auto* cut = std::get_if<CutElement>(&element)) {
            paper.reserve(y + 4);
            for (int x = 0; x < paper.width(); x += cut->partial ? 12 : 1)
                paper.fill(x, y + 1, cut->partial ? 8 : 1, 2, Canvas::kMark);
            y += 4;
        } else if (const auto* pulse = std::get_if<PulseElement>(&element)) {
            y += DrawMark(paper,
                          fmt::format("drawer pulse pin {} {} ms{}", pulse->pin, pulse->onMs,
                                      pulse->realTime ? " (real-time)" : ""),
                          y);
        } else if (const auto* buzzer = std::get_if<BuzzerElement>(&element)) {
            y += DrawMark(paper, fmt::format("buzzer {} x {} ms", buzzer->times, buzzer->ms), y);
        }
    }
    paper.reserve(std::max(y, 1));
    out.canvas = paper.take();
    return out;
}

// ---------------------------------------------------------------------------------
// PNG

namespace {

struct PngFile {
    std::FILE* file = nullptr;
    ~PngFile() {
        if (file != nullptr) std::fclose(file);
    }
};

const png_color kPalette[3] = {{255, 255, 255}, {0, 0, 0}, {0x1F, 0x6F, 0xD0}};

}  // namespace

bool WritePng(const Canvas& canvas, const std::string& path, std::string& error) {
    PngFile f;
    f.file = std::fopen(path.c_str(), "wb");
    if (f.file == nullptr) {
        error = fmt::format("cannot create {}", path);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory for the PNG writer";
        return false;
    }
    std::vector<png_byte> row(static_cast<std::size_t>((canvas.width + 3) / 4));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = fmt::format("writing {} failed", path);
        return false;
    }
    png_init_io(png, f.file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width),
                 static_cast<png_uint_32>(canvas.height), 2, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, kPalette, 3);
    png_set_compression_level(png, 1);  // receipts are mostly white: fast is small enough
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_write_info(png, info);
    const std::uint8_t* dots = canvas.dots.data();
    for (int y = 0; y < canvas.height; ++y, dots += canvas.width) {
        // Four dots to a byte, the first in the top bits.
        std::size_t x = 0, b = 0;
        const auto width = static_cast<std::size_t>(canvas.width);
        for (; x + 4 <= width; x += 4, ++b) {
            row[b] = static_cast<png_byte>((dots[x] & 3) << 6 | (dots[x + 1] & 3) << 4 |
                                           (dots[x + 2] & 3) << 2 | (dots[x + 3] & 3));
        }
        if (x < width) {
            row[b] = 0;
            for (int shift = 6; x < width; ++x, shift -= 2)
                row[b] = static_cast<png_byte>(row[b] | (dots[x] & 3) << shift);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(f.file) != 0) {
        error = fmt::format("writing {} failed", path);
        return false;
    }
    return true;
}

bool ReadPng(const std::string& path, Canvas& canvas, std::string& error) {
    PngFile f;
    f.file = std::fopen(path.c_str(), "rb");
    if (f.file == nullptr) {
        error = fmt::format("cannot open {}", path);
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory for the PNG reader";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = fmt::format("{} is not a readable PNG", path);
        return false;
    }
    png_init_io(png, f.file);
    png_read_info(png, info);
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = fmt::format("{} is not a paper image (no palette)", path);
        return false;
    }
    png_set_packing(png);  // one index per byte
    png_read_update_info(png, info);
    canvas.width = static_cast<int>(png_get_image_width(png, info));
    canvas.height = static_cast<int>(png_get_image_height(png, info));
    canvas.dots.assign(
        static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height), 0);
    for (int y = 0; y < canvas.height; ++y) {
        png_read_row(png, canvas.dots.data() + static_cast<std::size_t>(y) * canvas.width, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace tessaly::sim
