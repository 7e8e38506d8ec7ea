#include "print_model.h"

#include <fmt/format.h>

#include <algorithm>

namespace tessaly::sim {

namespace {

int Clamp(int value, int low, int high) {
    return std::max(low, std::min(value, high));
}

}  // namespace

Bitmap::Bitmap(int w, int h)
    : width(std::max(0, w)),
      height(std::max(0, h)),
      bits(static_cast<std::size_t>(stride() * height), 0) {}

Bitmap Bitmap::scaled(int sx, int sy) const {
    if (sx == 1 && sy == 1) return *this;
    Bitmap out(std::min(width * sx, kMaxImageDots), std::min(height * sy, kMaxImageDots));
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            if (get(x / sx, y / sy)) out.set(x, y);
        }
    }
    return out;
}

Bitmap Bitmap::cropped(int w) const {
    if (w >= width) return *this;
    Bitmap out(std::max(0, w), height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            if (get(x, y)) out.set(x, y);
        }
    }
    return out;
}

bool PrintJob::printed() const {
    for (const auto& e : elements) {
        const auto* line = std::get_if<PrintLine>(&e);
        if (line != nullptr ? !line->chars.empty() || !line->images.empty()
                            : !std::holds_alternative<FeedElement>(e)) {
            return true;
        }
    }
    for (const auto& line : text) {
        if (!line.empty()) return true;  // markers of what printed nothing, such as [NV image 3]
    }
    return false;
}

PaperSetup PaperSetup::FromSwitches(std::uint8_t switch1, std::uint8_t switch2,
                                    std::uint8_t switch10) {
    PaperSetup s;
    s.widthDots = (switch10 & 0x10) ? 384 : 576;  // bit 5: 2 inch paper
    s.codePageIndex = SwitchCodePageIndex(switch2);
    s.fontB = (switch2 & 0x01) != 0;
    s.autoLineFeed = (switch1 & 0x10) != 0;
    return s;
}

PrintModel::PrintModel(PaperSetup setup) : setup_(setup) {
    job_.widthDots = setup_.widthDots;
    resetModes();
}

void PrintModel::setup(PaperSetup setup) {
    setup_ = setup;
    job_.widthDots = setup_.widthDots;
    initialise();
}

void PrintModel::initialise() {
    line_ = {};
    x_ = 0;
    graphicsBuffer_ = {};
    resetModes();
}

void PrintModel::resetModes() {
    style_ = TextStyle{};
    style_.font = setup_.fontB ? 1 : 0;
    emphasized_ = doubleStrike_ = false;
    printMode_ = 0;
    upsideDown_ = false;
    rightSpacing_ = 0;
    alignment_ = 0;
    leftMargin_ = 0;
    printWidth_ = 0;
    spacing_ = kDefaultSpacing;
    spacingSet_ = false;
    page_ = CodePageForSwitchIndex(setup_.codePageIndex);
    if (page_ == nullptr) page_ = FindCodePage(0);
    tabs_.clear();
    for (int t = 8 * kFontAWidth; t < setup_.widthDots; t += 8 * kFontAWidth) tabs_.push_back(t);
    pageMode_ = false;
    barHeight_ = 162;
    barModule_ = 3;
    hri_ = 0;
    hriFont_ = 0;
    codes2d_ = {};
}

int PrintModel::areaLeft() const {
    return Clamp(leftMargin_, 0, setup_.widthDots - 1);
}

int PrintModel::areaWidth() const {
    const int room = setup_.widthDots - areaLeft();
    return printWidth_ > 0 ? std::min(printWidth_, room) : room;
}

int PrintModel::alignedX(int width) const {
    const int slack = std::max(0, areaWidth() - width);
    return areaLeft() + (alignment_ == 1 ? slack / 2 : alignment_ == 2 ? slack : 0);
}

void PrintModel::note(std::string text) {
    if (job_.notes.size() < 1000) job_.notes.push_back(text);
    notes_.push_back(std::move(text));
}

std::vector<std::string> PrintModel::takeNotes() {
    std::vector<std::string> out;
    out.swap(notes_);
    return out;
}

void PrintModel::clearLine() {
    line_ = {};
    x_ = 0;
}

void PrintModel::put(Element element, std::string text) {
    add(std::move(element));
    putText(std::move(text));
}

void PrintModel::putText(std::string text) {
    job_.text.push_back(text);
    lines_.push_back(std::move(text));
}

PrintJob PrintModel::take() {
    PrintJob out = std::move(job_);
    job_ = PrintJob{};
    job_.widthDots = setup_.widthDots;
    cut_ = false;
    return out;
}

std::vector<std::string> PrintModel::takeLines() {
    std::vector<std::string> out;
    out.swap(lines_);
    return out;
}

// ---------------------------------------------------------------------------------
// Text

void PrintModel::text(const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t byte = data[i];
        switch (byte) {
            case 0x0A:  // LF
                printLine(spacing_);
                break;
            case 0x0D:  // CR prints only with automatic line feed
                if (setup_.autoLineFeed) printLine(spacing_);
                break;
            case 0x09:
                tab();
                break;
            case 0x0C:  // FF: print the page and go back to standard mode
                if (pageMode_) {
                    flushLine();
                    pageMode_ = false;
                }
                break;
            default:
                if (byte >= 0x20 && byte != 0x7F) character(byte);
                break;  // other control codes do nothing
        }
    }
}

void PrintModel::startLine() {
    if (!lineEmpty()) return;
    lineAlignment_ = alignment_;
    lineLeft_ = areaLeft();
    lineArea_ = areaWidth();
    line_.upsideDown = upsideDown_;
}

void PrintModel::character(std::uint8_t byte) {
    const char32_t ch = DecodeByte(*page_, byte);
    TextStyle style = style_;
    style.bold = emphasized_ || doubleStrike_;
    const int width = style.cellWidth();
    const int advance = width + rightSpacing_ * style.width;
    startLine();
    if (x_ + width > lineArea_ && !lineEmpty()) {
        printLine(spacing_);  // the line is full: the printer goes on with the next one
        startLine();
    }
    line_.chars.push_back({ch, x_, advance, style});
    x_ += advance;
    line_.height = std::max(line_.height, style.cellHeight());
    AppendUtf8(line_.text, ch != 0 ? ch : U'\uFFFD');
    if (line_.text.size() >= kMaxLineText - 4) printLine(spacing_);
}

void PrintModel::placeImage(Bitmap bitmap) {
    startLine();
    const int room = std::max(0, lineArea_ - x_);
    if (bitmap.width > room) {
        note(fmt::format("bit image cut to the print area ({} of {} dots)", room, bitmap.width));
        bitmap = bitmap.cropped(room);
    }
    if (bitmap.width == 0) return;
    const int width = bitmap.width;
    line_.height = std::max(line_.height, bitmap.height);
    line_.images.push_back({x_, std::move(bitmap)});
    x_ += width;
}

void PrintModel::tab() {
    startLine();
    for (int stop : tabs_) {
        if (stop > x_ && stop <= lineArea_) {
            moveTo(stop);
            return;
        }
    }
}

void PrintModel::moveTo(int x) {
    startLine();
    if (x < 0 || x > lineArea_) return;  // outside the print area: ignored
    const int cell = style_.cellWidth() + rightSpacing_ * style_.width;
    for (int at = x_; at + cell <= x; at += cell) line_.text.push_back(' ');
    x_ = x;
}

void PrintModel::printLine(int feed) {
    if (!lineEmpty()) {
        int used = 0;
        for (const auto& c : line_.chars) used = std::max(used, c.x + c.advance);
        for (const auto& i : line_.images) used = std::max(used, i.x + i.bitmap.width);
        const int slack = std::max(0, lineArea_ - used);
        const int shift = lineLeft_ + (lineAlignment_ == 1   ? slack / 2
                                       : lineAlignment_ == 2 ? slack
                                                             : 0);
        for (auto& c : line_.chars) c.x += shift;
        for (auto& i : line_.images) i.x += shift;
        if (line_.chars.empty() && line_.text.empty()) {
            line_.text = fmt::format("[bit image {}x{}]", used, line_.height);
        }
    } else {
        line_.upsideDown = upsideDown_;
    }
    line_.feed = std::max(feed, line_.height);
    std::string text = line_.text;
    put(std::move(line_), std::move(text));
    line_ = {};
    x_ = 0;
}

void PrintModel::flushLine() {
    if (!lineEmpty()) printLine(spacing_);
}

bool PrintModel::lineBusy(const char* what) {
    if (lineEmpty()) return false;
    note(
        fmt::format("{} ignored: it is carried out only at the start of a line, and the line "
                    "buffer holds data",
                    what));
    return true;
}

void PrintModel::printLines(const std::vector<std::string>& lines) {
    flushLine();
    const TextStyle saved = style_;
    const std::uint8_t savedAlignment = alignment_;
    style_ = TextStyle{};
    style_.font = 1;
    alignment_ = 0;
    for (const auto& line : lines) {
        text(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
        printLine(spacing_);
    }
    style_ = saved;
    alignment_ = savedAlignment;
}

void PrintModel::pulse(int pin, int onMs, int offMs, bool realTime) {
    add(PulseElement{pin, onMs, offMs, realTime});
}

void PrintModel::buzzer(int times, int ms) {
    add(BuzzerElement{times, ms});
}

void PrintModel::cut(bool partial, int feed) {
    flushLine();
    if (feed > 0) add(FeedElement{feed});
    put(CutElement{partial}, partial ? "--- partial cut ---" : "--- full cut ---");
    cut_ = true;
}

void PrintModel::printImage(Bitmap bitmap, const std::string& source) {
    if (bitmap.width == 0 || bitmap.height == 0) return;
    if (bitmap.width > areaWidth()) {
        note(fmt::format("{} cut to the print area ({} of {} dots)", source, areaWidth(),
                         bitmap.width));
        bitmap = bitmap.cropped(areaWidth());
    }
    const int x = alignedX(bitmap.width);
    std::string marker = fmt::format("[image {}x{}]", bitmap.width, bitmap.height);
    put(ImageElement{x, std::move(bitmap), source}, std::move(marker));
}

}  // namespace tessaly::sim
