#pragma once

// Receipts as point-of-sale programs send them, for the paper tests and the
// benchmark.

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::sim::receipts {

using Bytes = std::vector<std::uint8_t>;

class Builder {
  public:
    Builder& raw(std::initializer_list<int> values) {
        for (int v : values) bytes_.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Builder& text(const std::string& s) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    Builder& line(const std::string& s) { return text(s + "\n"); }
    Builder& align(int n) { return raw({0x1B, 'a', n}); }
    Builder& size(int w, int h) { return raw({0x1D, '!', ((w - 1) << 4) | (h - 1)}); }
    Builder& bold(bool on) { return raw({0x1B, 'E', on ? 1 : 0}); }
    Builder& codeTable(int n) { return raw({0x1B, 't', n}); }
    Builder& ean13(const std::string& digits) {
        raw({0x1D, 'h', 80, 0x1D, 'w', 2, 0x1D, 'H', 2, 0x1D, 'k', 67,
             static_cast<int>(digits.size())});
        return text(digits);
    }
    Builder& qr(const std::string& data, int module = 4) {
        const auto n = static_cast<int>(data.size() + 3);
        raw({0x1D, '(', 'k', 3, 0, 49, 67, module});
        raw({0x1D, '(', 'k', n & 0xFF, n >> 8, 49, 80, 48});
        text(data);
        return raw({0x1D, '(', 'k', 3, 0, 49, 81, 48});
    }
    // A raster logo: a frame with a diagonal, width x height dots.
    Builder& logo(int width, int height) {
        const int stride = (width + 7) / 8;
        raw({0x1D, 'v', '0', 0, stride & 0xFF, stride >> 8, height & 0xFF, height >> 8});
        for (int y = 0; y < height; ++y) {
            for (int xb = 0; xb < stride; ++xb) {
                std::uint8_t b = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    const int x = xb * 8 + bit;
                    const bool on = y < 4 || y >= height - 4 || x < 4 || x >= width - 4 ||
                                    (x * height / width - y) * (x * height / width - y) < 9;
                    if (on && x < width) b = static_cast<std::uint8_t>(b | (0x80 >> bit));
                }
                bytes_.push_back(b);
            }
        }
        return *this;
    }
    Builder& cut() { return raw({0x1D, 'V', 66, 20}); }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

// A shop receipt: styles, a code table, a bar code, a QR code, a logo, a cut.
inline Bytes Shop(int logoWidth = 256, int logoHeight = 80) {
    Builder b;
    b.raw({0x1B, '@'}).align(1).logo(logoWidth, logoHeight).size(2, 2).line("VANTREEL CAFE");
    b.size(1, 1).line("Market Street 12").align(0).line("");
    b.bold(true).text("Item").bold(false).raw({0x09, 0x09, 0x09}).line("EUR");
    b.line("Espresso                      2.40").line("Croissant                     1.90");
    b.raw({0x1B, '-', 1}).line("Orange juice                  3.10").raw({0x1B, '-', 0});
    b.size(1, 2).bold(true).line("TOTAL                         7.40").bold(false).size(1, 1);
    b.codeTable(0x10).text("Merci, ").raw({0xE0, ' ', 0x80, ' ', 0xE9, 0x0A});
    b.raw({0x1D, 'B', 1}).line(" MEMBER 4711 ").raw({0x1D, 'B', 0});
    b.align(1).ean13("5901234123457").qr("https://example.com/r/7");
    b.raw({0x1B, 'p', 0, 25, 250}).raw({0x1B, 'd', 3}).cut();
    return b.bytes();
}

// Narrow paper, wrapping, font B, upside-down, right alignment.
inline Bytes Narrow() {
    Builder b;
    b.raw({0x1B, '@', 0x1B, '!', 1})
        .line("Font B on 58 mm paper wraps at forty-two characters here");
    b.raw({0x1B, '!', 0}).align(2).line("right").align(0);
    b.raw({0x1B, '{', 1}).line("upside down").raw({0x1B, '{', 0});
    b.raw({0x1B, '!', 0x30}).line("BIG").raw({0x1B, '!', 0});
    b.cut();
    return b.bytes();
}

}  // namespace tessaly::sim::receipts
