// The print model's commands: what each command, as the decoder cut it from the
// input, does to the page; barcodes, two-dimensional codes and graphics.
#include <fmt/format.h>

#include <algorithm>

#include "print_model.h"

namespace tessaly::sim {

namespace {

// Markers in the text log keep at most this much of a code's data.
constexpr std::size_t kMarkerData = 200;

// 0..2 for the justification, scale and font arguments that also come as '0'..'2'.
int Digit(std::uint8_t n) {
    return n >= '0' ? n - '0' : n;
}

// A picture in raster format: rows of (width + 7) / 8 bytes.
Bitmap Raster(const std::uint8_t* data, std::size_t have, int width, int height) {
    Bitmap b(std::min(width, kMaxImageDots), std::min(height, kMaxImageDots));
    const auto stride = static_cast<std::size_t>((width + 7) / 8);
    for (int y = 0; y < b.height; ++y) {
        for (int xb = 0; xb < b.stride(); ++xb) {
            const std::size_t at =
                static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(xb);
            if (at < have) b.bits[static_cast<std::size_t>(y * b.stride() + xb)] = data[at];
        }
    }
    if (b.width % 8 != 0) {  // bits past the width are not dots
        const auto mask = static_cast<std::uint8_t>(0xFF << (8 - b.width % 8));
        for (int y = 0; y < b.height; ++y)
            b.bits[static_cast<std::size_t>((y + 1) * b.stride() - 1)] &= mask;
    }
    return b;
}

// A picture in column format: each column `bytesPerColumn` bytes, top first.
Bitmap Columns(const std::uint8_t* data, std::size_t have, int columns, int bytesPerColumn) {
    Bitmap b(std::min(columns, kMaxImageDots), std::min(bytesPerColumn * 8, kMaxImageDots));
    for (int x = 0; x < b.width; ++x) {
        for (int yb = 0; yb < bytesPerColumn; ++yb) {
            const std::size_t at =
                static_cast<std::size_t>(x) * bytesPerColumn + static_cast<std::size_t>(yb);
            if (at >= have) return b;
            for (int bit = 0; bit < 8; ++bit) {
                if (data[at] & (0x80 >> bit)) b.set(x, yb * 8 + bit);
            }
        }
    }
    return b;
}

// Scale mode m of GS v 0, GS /, FS p: bit 0 double width, bit 1 double height.
Bitmap ScaledByMode(const Bitmap& b, std::uint8_t m) {
    const int mode = Digit(m) & 3;
    return b.scaled(mode & 1 ? 2 : 1, mode & 2 ? 2 : 1);
}

std::string Printable(const std::string& data) {
    std::string out;
    for (unsigned char ch : data.substr(0, kMarkerData)) {
        if (ch >= 0x20 && ch < 0x7F) {
            out.push_back(static_cast<char>(ch));
        } else {
            out += fmt::format("\\x{:02x}", ch);
        }
    }
    if (data.size() > kMarkerData) out += "...";
    return out;
}

const char* BarcodeName(int m) {
    static const char* const kOld[] = {"UPC-A",  "UPC-E", "EAN13",  "EAN8",
                                       "CODE39", "ITF",   "CODABAR"};
    static const char* const kNew[] = {"UPC-A",
                                       "UPC-E",
                                       "EAN13",
                                       "EAN8",
                                       "CODE39",
                                       "ITF",
                                       "CODABAR",
                                       "CODE93",
                                       "CODE128",
                                       "GS1-128",
                                       "GS1 DataBar Omnidirectional",
                                       "GS1 DataBar Truncated",
                                       "GS1 DataBar Limited",
                                       "GS1 DataBar Expanded",
                                       "CODE128 (automatic)"};
    if (m >= 0 && m <= 6) return kOld[m];
    if (m >= 65 && m <= 79) return kNew[m - 65];
    return "?";
}

// CODE128 data as sent: code set selections ({A, {B, {C) and function codes
// ({1..{4, {S) resolved into the characters they stand for. Set C sends each
// pair of digits as one byte 0..99.
std::string Code128Data(const std::string& sent, std::string& note) {
    std::string out;
    char set = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto ch = static_cast<std::uint8_t>(sent[i]);
        if (ch == '{' && i + 1 < sent.size()) {
            const char sel = sent[++i];
            if (sel == 'A' || sel == 'B' || sel == 'C') {
                set = sel;
            } else if (sel == '{') {
                out.push_back('{');
            } else if (sel != 'S' && sel != '1' && sel != '2' && sel != '3' && sel != '4') {
                note = fmt::format("CODE128: unknown selection {{{}", sel);
            }
            continue;
        }
        if (set == 0) note = "CODE128 data does not start with a code set ({A, {B or {C)";
        if (set == 'C') {
            out += fmt::format("{:02d}", ch % 100);
        } else {
            out.push_back(static_cast<char>(ch));
        }
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Commands

bool PrintModel::command(const Command& c) {
    if (c.entry == nullptr || c.incomplete) return false;
    const std::uint8_t p = c.at(2);  // the first parameter of most commands
    const std::string label = c.label();
    if (c.entry->prefix == kEsc) {
        switch (c.entry->code) {
            case '@':
                initialise();
                return true;
            case ' ':
                rightSpacing_ = p;
                return true;
            case '!':
                printMode_ = p;
                style_.font = p & 0x01;
                emphasized_ = (p & 0x08) != 0;
                style_.height = (p & 0x10) ? 2 : 1;
                style_.width = (p & 0x20) ? 2 : 1;
                style_.underline = (p & 0x80) ? 1 : 0;
                return true;
            case '$':
                moveTo(static_cast<int>(c.word(2)));
                return true;
            case '\\':
                moveTo(x_ + static_cast<std::int16_t>(c.word(2)));
                return true;
            case '-':
                if (Digit(p) <= 2) style_.underline = static_cast<std::uint8_t>(Digit(p));
                return true;
            case '2':
                spacing_ = kDefaultSpacing;
                spacingSet_ = false;
                return true;
            case '3':
                spacing_ = p;
                spacingSet_ = true;
                return true;
            case 'E':
                emphasized_ = (p & 1) != 0;
                return true;
            case 'G':
                doubleStrike_ = (p & 1) != 0;
                return true;
            case 'M':
                if (Digit(p) <= 1) style_.font = static_cast<std::uint8_t>(Digit(p));
                return true;
            case 'a':
                if (Digit(p) <= 2) alignment_ = static_cast<std::uint8_t>(Digit(p));
                return true;
            case 't':
                if (const CodePage* page = FindCodePage(p)) {
                    page_ = page;
                } else {
                    note(fmt::format("ESC t {}: the printer has no such code table; {} kept", p,
                                     page_->label));
                }
                return true;
            case '{':
                upsideDown_ = (p & 1) != 0;
                return true;
            case 'D': {
                tabs_.clear();
                const int cell = style_.cellWidth() + rightSpacing_ * style_.width;
                for (std::size_t i = 2; i < c.bytes.size() && c.bytes[i] != 0; ++i) {
                    if (!tabs_.empty() && c.bytes[i] * cell <= tabs_.back()) break;
                    tabs_.push_back(c.bytes[i] * cell);
                }
                return true;
            }
            case 'J':
                printLine(p);
                return true;
            case 'd':
                printLine(p == 0 ? 0 : spacing_);
                for (int k = 1; k < p; ++k) printLine(spacing_);
                return true;
            case 'K':
            case 'e':
                flushLine();
                note(fmt::format("{}: reverse feed is not drawn", label));
                return true;
            case 'i':
            case 'm':
                cut(true, 0);
                return true;
            case 'p': {
                const int m = Digit(p);
                if (m <= 1) pulse(m == 0 ? 2 : 5, c.at(3) * 2, c.at(4) * 2, false);
                return true;
            }
            case 'B':
                buzzer(p, c.at(3) * 100);
                return true;
            case '*': {
                const int m = p;
                const int columns = static_cast<int>(c.word(3));
                const int bytes = m >= 32 ? 3 : 1;
                if (c.bytes.size() < 5) return true;  // no bit image: its density is wrong
                const Bitmap b = Columns(c.bytes.data() + 5, c.bytes.size() - 5, columns, bytes);
                placeImage(b.scaled(m == 0 || m == 32 ? 2 : 1, m < 32 ? 3 : 1));
                return true;
            }
            case 'L':
                pageMode_ = true;
                note("page mode is printed as standard mode");
                return true;
            case 'S':
                pageMode_ = false;
                return true;
            case 0x0C:
                if (pageMode_) flushLine();
                return true;
            case 'V':
                if (p & 1) note("90-degree rotation is not drawn");
                return true;
            case 'R':
            case '%':
            case '&':
            case '?':
                note(fmt::format("{} is not drawn (international and user-defined characters)",
                                 label));
                return true;
            case '(':
                if (c.at(2) == 'A') buzzer(c.at(7), c.at(8) * 100);
                return true;
            case '<':
            case 'U':
            case 'r':
            case 'T':
            case 'W':
                return true;
            default:
                return false;
        }
    }
    if (c.entry->prefix == kGs) {
        switch (c.entry->code) {
            case '!':
                style_.width = static_cast<std::uint8_t>(((p >> 4) & 7) + 1);
                style_.height = static_cast<std::uint8_t>((p & 7) + 1);
                return true;
            case 'B':
                style_.inverse = (p & 1) != 0;
                return true;
            case 'L':
                leftMargin_ = static_cast<int>(c.word(2));
                return true;
            case 'W':
                printWidth_ = static_cast<int>(c.word(2));
                return true;
            case 'T':
                if (lineEmpty()) x_ = 0;
                return true;
            case 'V': {
                const int m = p;
                const bool partial = (m % 2) == 1 || m == 66 || m == 98 || m == 104;
                cut(partial, c.bytes.size() > 3 ? c.at(3) : 0);
                return true;
            }
            case 'h':
                if (p > 0) barHeight_ = p;
                return true;
            case 'w':
                if (p >= 1 && p <= 6) barModule_ = p;
                return true;
            case 'H':
                if (Digit(p) <= 3) hri_ = Digit(p);
                return true;
            case 'f':
                if (Digit(p) <= 1) hriFont_ = Digit(p);
                return true;
            case 'k':
                barcode(c);
                return true;
            case 'v':
                if (c.at(2) != '0' && c.at(2) != 0) return true;
                if (lineBusy("GS v 0")) return true;
                printImage(ScaledByMode(
                               Raster(c.bytes.data() + std::min<std::size_t>(8, c.bytes.size()),
                                      c.bytes.size() - std::min<std::size_t>(8, c.bytes.size()),
                                      static_cast<int>(c.word(4)) * 8, static_cast<int>(c.word(6))),
                               c.at(3)),
                           "GS v 0");
                return true;
            case '*':
                downloadedImage_ =
                    Columns(c.bytes.data() + std::min<std::size_t>(4, c.bytes.size()),
                            c.bytes.size() - std::min<std::size_t>(4, c.bytes.size()), c.at(2) * 8,
                            c.at(3));
                return true;
            case '/':
                if (lineBusy("GS /")) return true;
                printImage(ScaledByMode(downloadedImage_, p), "GS /");
                return true;
            case '(':
                if (c.at(2) == 'L') {
                    graphics(c, 5);
                    return true;
                }
                if (c.at(2) == 'k') {
                    twoDimensional(c);
                    return true;
                }
                return false;
            case '8':
                if (c.at(2) == 'L') {
                    graphics(c, 7);
                    return true;
                }
                return false;
            case 'Q':
                note("GS Q 0 (variable vertical size bit image) is not drawn");
                return true;
            case '$':
            case '\\':
            case 'P':
            case 'b':
            case 'E':
            case ':':
            case '^':
            case 'c':
            case 'C':
                return true;
            default:
                return false;
        }
    }
    if (c.entry->prefix == kFs) {
        switch (c.entry->code) {
            case 'q': {
                nvImages_.clear();
                std::size_t at = 3;
                for (int image = 0; image < c.at(2) && at + 4 <= c.bytes.size(); ++image) {
                    const int x = static_cast<int>(c.word(at)),
                              y = static_cast<int>(c.word(at + 2));
                    at += 4;
                    nvImages_.push_back(
                        Columns(c.bytes.data() + at, c.bytes.size() - at, x * 8, y));
                    at += static_cast<std::size_t>(x) * static_cast<std::size_t>(y) * 8;
                }
                return true;
            }
            case 'p': {
                const int n = p;
                if (lineBusy("FS p")) return true;
                if (n >= 1 && n <= static_cast<int>(nvImages_.size())) {
                    Bitmap b = ScaledByMode(nvImages_[static_cast<std::size_t>(n - 1)], c.at(3));
                    const int x = alignedX(b.width);
                    put(ImageElement{x, std::move(b), fmt::format("FS p {}", n)},
                        fmt::format("[NV image {}]", n));
                } else {
                    note(fmt::format("FS p {}: no NV bit image of that number is defined", n));
                    putText(fmt::format("[NV image {}]", n));
                }
                return true;
            }
            case '!':
            case '&':
            case '-':
            case '.':
            case '2':
            case '?':
            case 'C':
            case 'S':
            case 'W':
                return true;
            default:
                return false;
        }
    }
    return false;
}

void PrintModel::barcode(const Command& c) {
    const int m = c.at(2);
    std::string data;
    if (m <= 6) {
        for (std::size_t i = 3; i < c.bytes.size() && c.bytes[i] != 0; ++i)
            data.push_back(static_cast<char>(c.bytes[i]));
    } else {
        data.assign(c.bytes.begin() + std::min<std::size_t>(4, c.bytes.size()), c.bytes.end());
    }
    if ((m > 6 && m < 65) || m > 79) return;  // no bar code: the bytes after m were text
    if (lineBusy("GS k")) return;
    std::string problem;
    if (m == 73) data = Code128Data(data, problem);
    if (!problem.empty()) note(problem);
    BarcodeElement b;
    b.system = m;
    b.name = BarcodeName(m);
    b.data = data;
    b.module = barModule_;
    b.height = barHeight_;
    b.hri = hri_;
    b.hriFont = hriFont_;
    b.left = areaLeft();
    b.areaWidth = areaWidth();
    b.alignment = alignment_;
    std::string marker = fmt::format("[barcode {}: {}]", b.name, Printable(data));
    put(std::move(b), std::move(marker));
}

void PrintModel::twoDimensional(const Command& c) {
    const int cn = c.at(5), fn = c.at(6);
    if (cn < 48 || cn > 54) return;
    Stored2D& s = codes2d_[static_cast<std::size_t>(cn - 48)];
    const std::uint8_t n = c.at(7);
    auto store = [&] {
        if (c.bytes.size() > 8) s.data.assign(c.bytes.begin() + 8, c.bytes.end());
    };
    switch (cn) {
        case 49:  // QR
            if (fn == 65) s.model = n == 51 ? 3 : n == 49 ? 1 : 2;
            if (fn == 67 && n >= 1 && n <= 16) s.module = n;
            if (fn == 69 && n >= 48 && n <= 51) s.ecc = n - 47;
            break;
        case 48:  // PDF417
            if (fn == 65 && n <= 30) s.columns = n;
            if (fn == 66 && (n == 0 || (n >= 3 && n <= 90))) s.rows = n;
            if (fn == 67 && n >= 2 && n <= 8) s.module = n;
            if (fn == 68 && n >= 2 && n <= 8) s.rowHeight = n;
            if (fn == 69 && n == 48 && c.at(8) >= 48 && c.at(8) <= 56) s.ecc = c.at(8) - 48 + 1;
            if (fn == 70) s.truncated = (n & 1) != 0;
            break;
        default:  // Aztec (53), DataMatrix (54): module size
            if ((cn == 53 && fn == 68) || (cn == 54 && fn == 67)) {
                if (n >= 2 && n <= 16) s.module = n;
            }
            break;
    }
    if (fn == 80) store();
    if (fn == 82) note(fmt::format("GS ( k cn {} fn 82: the size information is not sent", cn));
    if (fn != 81) return;
    if (lineBusy("GS ( k print")) return;
    Code2DElement e;
    switch (cn) {
        case 48:
            e.kind = Code2DElement::Kind::Pdf417;
            e.name = "PDF417";
            break;
        case 49:
            e.kind = s.model == 3 ? Code2DElement::Kind::MicroQr : Code2DElement::Kind::Qr;
            e.name = s.model == 3 ? "Micro QR" : "QR";
            break;
        case 53:
            e.kind = Code2DElement::Kind::Aztec;
            e.name = "Aztec";
            break;
        case 54:
            e.kind = Code2DElement::Kind::DataMatrix;
            e.name = "DataMatrix";
            break;
        default:
            note(fmt::format("GS ( k cn {}: this 2-D code is not drawn", cn));
            return;
    }
    if (s.data.empty()) {
        note(fmt::format("{} print without stored data: nothing printed", e.name));
        return;
    }
    e.data = s.data;
    e.moduleSize = s.module;
    e.ecc = s.ecc;
    e.columns = s.columns;
    e.rows = s.rows;
    e.rowHeight = s.rowHeight;
    e.truncated = s.truncated;
    e.left = areaLeft();
    e.areaWidth = areaWidth();
    e.alignment = alignment_;
    std::string marker = fmt::format("[{} code: {}]", e.name, Printable(e.data));
    put(std::move(e), std::move(marker));
}

void PrintModel::graphics(const Command& c, std::size_t at) {
    // at: offset of m; then fn and the function's parameters.
    const int fn = c.at(at + 1);
    const std::uint8_t* data = c.bytes.data();
    const std::size_t size = c.bytes.size();
    auto word = [&](std::size_t i) { return static_cast<int>(c.word(at + i)); };
    auto tail = [&](std::size_t from) -> std::pair<const std::uint8_t*, std::size_t> {
        return from < size ? std::pair{data + from, size - from}
                           : std::pair{data + size, std::size_t{0}};
    };
    // Define NV (67, 68) or download (83, 84) graphics: a kc1 kc2 b x y [c data]...
    auto define = [&](std::map<std::uint16_t, Bitmap>& store, bool columns) {
        const auto key = static_cast<std::uint16_t>(c.at(at + 3) << 8 | c.at(at + 4));
        const int x = word(6), y = word(8);
        const auto [d, n] = tail(at + 11);  // after the first colour byte
        store[key] = columns ? Columns(d, n, x, (y + 7) / 8) : Raster(d, n, x, y);
    };
    auto print = [&](std::map<std::uint16_t, Bitmap>& store, const char* kind) {
        const auto key = static_cast<std::uint16_t>(c.at(at + 2) << 8 | c.at(at + 3));
        const auto found = store.find(key);
        if (found == store.end()) {
            note(fmt::format("{} graphics {:c}{:c} are not defined", kind, c.at(at + 2),
                             c.at(at + 3)));
            return;
        }
        if (lineBusy("GS ( L print")) return;
        printImage(found->second.scaled(std::clamp<int>(c.at(at + 4), 1, 2),
                                        std::clamp<int>(c.at(at + 5), 1, 2)),
                   fmt::format("{} graphics", kind));
    };
    switch (fn) {
        case 112:    // store raster graphics in the print buffer: a bx by c x y data
        case 113: {  // the same in column format
            if (c.at(at + 2) != 48) {
                note("multiple-tone graphics are not drawn");
                return;
            }
            const int x = word(6), y = word(8);
            const auto [d, n] = tail(at + 10);
            const Bitmap b = fn == 112 ? Raster(d, n, x, y) : Columns(d, n, x, (y + 7) / 8);
            graphicsBuffer_ =
                b.scaled(std::clamp<int>(c.at(at + 3), 1, 2), std::clamp<int>(c.at(at + 4), 1, 2));
            return;
        }
        case 2:
        case 50:  // print the graphics in the print buffer
            if (lineBusy("GS ( L print")) return;
            printImage(std::move(graphicsBuffer_), "GS ( L");
            graphicsBuffer_ = {};
            return;
        case 67:
        case 68:
            define(nvGraphics_, fn == 68);
            return;
        case 83:
        case 84:
            define(downloadGraphics_, fn == 84);
            return;
        case 69:
            print(nvGraphics_, "NV");
            return;
        case 85:
            print(downloadGraphics_, "download");
            return;
        case 65:
            nvGraphics_.clear();
            return;
        case 81:
            downloadGraphics_.clear();
            return;
        case 48:
        case 51:
        case 64:
        case 80:
            note(fmt::format("graphics function {}: the answer is not sent", fn));
            return;
        default:
            return;
    }
}

}  // namespace tessaly::sim
