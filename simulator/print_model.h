#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "code_pages.h"
#include "command_table.h"

namespace tessaly::sim {

// Images wider or taller than this are not kept (a printer has no such room).
inline constexpr int kMaxImageDots = 8192;

// A 1-bit picture: rows of (width + 7) / 8 bytes, most significant bit first,
// 1 = a black dot.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bits;

    Bitmap() = default;
    Bitmap(int w, int h);
    int stride() const { return (width + 7) / 8; }
    bool get(int x, int y) const {
        return x >= 0 && y >= 0 && x < width && y < height &&
               (bits[static_cast<std::size_t>(y * stride() + x / 8)] & (0x80 >> (x % 8))) != 0;
    }
    void set(int x, int y) {
        if (x >= 0 && y >= 0 && x < width && y < height)
            bits[static_cast<std::size_t>(y * stride() + x / 8)] |=
                static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    // Each dot becomes sx by sy dots.
    Bitmap scaled(int sx, int sy) const;
    // Only the first `w` columns.
    Bitmap cropped(int w) const;
};

// Character cells of the two fonts, in dots.
constexpr int kFontAWidth = 12;
constexpr int kFontBWidth = 9;
constexpr int kCellHeight = 24;

struct TextStyle {
    std::uint8_t font = 0;   // 0 font A, 1 font B
    std::uint8_t width = 1;  // size multipliers, 1..8
    std::uint8_t height = 1;
    bool bold = false;
    std::uint8_t underline = 0;  // thickness in dots: 0, 1, 2
    bool inverse = false;
    int cellWidth() const { return (font == 1 ? kFontBWidth : kFontAWidth) * width; }
    int cellHeight() const { return kCellHeight * height; }
};

struct PlacedChar {
    char32_t ch;  // 0: the table has no character for the byte
    int x;        // left edge, dots from the paper's left edge
    int advance;  // dots it takes, with the right-side spacing
    TextStyle style;
};

struct PlacedImage {
    int x;
    Bitmap bitmap;  // at its printed size
};

// One printed line: characters and bit images on a common bottom line.
struct PrintLine {
    std::vector<PlacedChar> chars;
    std::vector<PlacedImage> images;
    int height = 0;  // dots its tallest piece takes
    int feed = 0;    // dots the paper moves for it, from its top to the next line's
    bool upsideDown = false;
    std::string text;  // UTF-8
};

// A picture printed on its own: raster, graphics, downloaded or NV images.
struct ImageElement {
    int x = 0;
    Bitmap bitmap;       // at its printed size
    std::string source;  // "GS v 0", "GS ( L", ...
};

struct BarcodeElement {
    int system = 0;    // m of GS k
    std::string name;  // "EAN13"
    std::string data;  // as sent (CODE128: code set selections resolved)
    int module = 3;    // GS w
    int height = 162;  // GS h
    int hri = 0;       // GS H: 0 none, 1 above, 2 below, 3 both
    int hriFont = 0;   // GS f
    int left = 0, areaWidth = 0, alignment = 0;
};

struct Code2DElement {
    enum class Kind { Qr, MicroQr, Pdf417, DataMatrix, Aztec };
    Kind kind = Kind::Qr;
    std::string name;  // "QR"
    std::string data;
    int moduleSize = 3;
    int ecc = 0;                // the symbology's own level, 0 for its default
    int columns = 0, rows = 0;  // PDF417 (0: automatic)
    int rowHeight = 3;          // PDF417: times the module width
    bool truncated = false;     // PDF417 option
    int left = 0, areaWidth = 0, alignment = 0;
};

struct FeedElement {
    int dots = 0;
};
struct CutElement {
    bool partial = true;
};
struct PulseElement {
    int pin = 2;  // 2 or 5
    int onMs = 0;
    int offMs = 0;
    bool realTime = false;
};
struct BuzzerElement {
    int times = 1;
    int ms = 0;
};

using Element = std::variant<PrintLine, ImageElement, BarcodeElement, Code2DElement, FeedElement,
                             CutElement, PulseElement, BuzzerElement>;

// What a job put on the paper and what the printer was told on the way.
struct PrintJob {
    int number = 0;
    int widthDots = 576;
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string endedBy;  // "cut", "idle", "end" (printer stopped serving)
    std::uint64_t bytes = 0;
    std::vector<Element> elements;
    std::vector<std::string> text;      // printed lines, as text, with [markers]
    std::vector<std::string> commands;  // decoded commands, in order
    std::vector<std::string> unknown;   // unknown commands, each once
    std::vector<std::string> notes;     // what the printer ignored or refused, and why
    std::string conditions;             // at the end of the job

    // Whether anything but blank paper came out (a job of line feeds alone, such
    // as a client's feed after its cut, is not worth a picture).
    bool printed() const;
};

// Memory switch settings that shape the print.
struct PaperSetup {
    int widthDots = 576;        // 576 for 80 mm paper, 384 for 58 mm
    int codePageIndex = 0;      // default code page (memory switch 2)
    bool fontB = false;         // default font (memory switch 2 bit 1)
    bool autoLineFeed = false;  // CR prints like LF (memory switch 1 bit 5)

    static PaperSetup FromSwitches(std::uint8_t switch1, std::uint8_t switch2,
                                   std::uint8_t switch10);
};

// The printing side of the printer: takes text and print commands, lays out
// lines as the printer does (fonts, sizes, alignment, margins, code tables,
// wrapping at the print area), and collects what it prints as the elements of
// a job.
class PrintModel {
  public:
    explicit PrintModel(PaperSetup setup = {});

    void setup(PaperSetup setup);  // new switches (after a restart); resets the modes
    const PaperSetup& paperSetup() const { return setup_; }

    void text(const std::uint8_t* data, std::size_t n);
    // Carries out a print command; returns false for a command that is not about
    // printing (the engine's own).
    bool command(const Command& c);
    void pulse(int pin, int onMs, int offMs, bool realTime);
    void buzzer(int times, int ms);
    void printLines(const std::vector<std::string>& lines);  // plain lines, font B
    void cut(bool partial, int feed);                        // prints the line so far, feeds, cuts
    void note(std::string text);
    void initialise();  // ESC @: modes and buffers back to the defaults

    // The job so far; take() hands it over and starts the next one.
    PrintJob& job() { return job_; }
    PrintJob take();
    // Printed lines since the last call, as text (for the printer's paper log),
    // and notes since the last call.
    std::vector<std::string> takeLines();
    std::vector<std::string> takeNotes();
    void clearLine();  // forgets the line not yet printed
    bool lineEmpty() const { return line_.chars.empty() && line_.images.empty(); }
    bool cutSeen() const { return cut_; }

    // Modes as the last commands set them.
    std::uint8_t printMode() const { return printMode_; }
    bool bold() const { return emphasized_; }
    std::uint8_t underline() const { return style_.underline; }
    std::uint8_t alignment() const { return alignment_; }
    std::uint8_t codeTable() const { return page_ != nullptr ? page_->escT : 0; }
    std::uint8_t lineSpacing() const {
        return spacingSet_ ? static_cast<std::uint8_t>(spacing_) : 0;
    }

    static constexpr int kDefaultSpacing = 30;
    static constexpr std::size_t kMaxLineText = 512;

  private:
    void character(std::uint8_t byte);
    void startLine();  // takes the line's alignment and area when it starts
    void placeImage(Bitmap bitmap);
    void printLine(int feed);
    void flushLine();
    // Commands that print on their own are carried out only at the start of a
    // line; true (and a note) when the line buffer holds data.
    bool lineBusy(const char* what);
    // Built in place: moving a finished variant into the job makes GCC 12 at -O3
    // take its other alternatives for uninitialised (-Wmaybe-uninitialized).
    template <typename Alternative>
    void add(Alternative element) {
        job_.elements.emplace_back(std::move(element));
    }
    void put(Element element, std::string text);
    void putText(std::string text);
    void tab();
    void moveTo(int x);
    void resetModes();
    int areaLeft() const;
    int areaWidth() const;
    int alignedX(int width) const;
    void graphics(const Command& c, std::size_t at);
    void twoDimensional(const Command& c);
    void barcode(const Command& c);
    void printImage(Bitmap bitmap, const std::string& source);

    PaperSetup setup_;
    PrintJob job_;
    std::vector<std::string> lines_;
    std::vector<std::string> notes_;

    // Modes.
    TextStyle style_;
    bool emphasized_ = false;
    bool doubleStrike_ = false;
    std::uint8_t printMode_ = 0;
    bool upsideDown_ = false;
    int rightSpacing_ = 0;
    std::uint8_t alignment_ = 0;
    int leftMargin_ = 0;
    int printWidth_ = 0;  // 0: to the paper's edge
    int spacing_ = kDefaultSpacing;
    bool spacingSet_ = false;
    const CodePage* page_ = nullptr;
    std::vector<int> tabs_;  // dots from the print area's left edge
    bool pageMode_ = false;

    // Bar codes and 2-D codes.
    int barHeight_ = 162;
    int barModule_ = 3;
    int hri_ = 0;
    int hriFont_ = 0;
    struct Stored2D {
        std::string data;
        int model = 2, module = 3, ecc = 0, columns = 0, rows = 0, rowHeight = 3;
        bool truncated = false;
    };
    std::array<Stored2D, 7> codes2d_;  // by cn - 48

    // Graphics.
    Bitmap graphicsBuffer_;
    std::map<std::uint16_t, Bitmap> nvGraphics_;  // by key code
    std::map<std::uint16_t, Bitmap> downloadGraphics_;
    std::vector<Bitmap> nvImages_;  // FS q
    Bitmap downloadedImage_;        // GS *

    // The line being filled.
    PrintLine line_;
    int x_ = 0;  // next print position, dots from the print area's left edge
    int lineAlignment_ = 0;
    int lineLeft_ = 0;
    int lineArea_ = 0;
    bool cut_ = false;
};

}  // namespace tessaly::sim
