#include "command_table.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace tessaly::sim {

namespace {

using R = LengthRule;

// The command set of the printer. Entries of the ( and 8 families with a
// function letter come before their family's catch-all entry (sub -1).
const std::vector<CommandEntry> kTable = {
    {kEsc, 0x0C, -1, R::Fixed, 0, "ESC FF", "print data in page mode"},
    {kEsc, ' ', -1, R::Fixed, 1, "ESC SP", "set right-side character spacing"},
    {kEsc, '!', -1, R::Fixed, 1, "ESC !", "select print mode"},
    {kEsc, '$', -1, R::Fixed, 2, "ESC $", "set absolute print position"},
    {kEsc, '%', -1, R::Fixed, 1, "ESC %", "select user-defined character set"},
    {kEsc, '&', -1, R::UserChars, 0, "ESC &", "define user-defined characters"},
    {kEsc, '(', 'A', R::Block16, 0, "ESC ( A", "sound buzzer"},
    {kEsc, '(', 'Y', R::Block16, 0, "ESC ( Y", "specify batch print"},
    {kEsc, '(', -1, R::Block16, 0, "ESC (", "extended function"},
    {kEsc, '*', -1, R::BitImage, 0, "ESC *", "select bit-image mode"},
    {kEsc, '-', -1, R::Fixed, 1, "ESC -", "underline mode"},
    {kEsc, '2', -1, R::Fixed, 0, "ESC 2", "default line spacing"},
    {kEsc, '3', -1, R::Fixed, 1, "ESC 3", "set line spacing"},
    {kEsc, '<', -1, R::Fixed, 0, "ESC <", "return home"},
    {kEsc, '=', -1, R::Fixed, 1, "ESC =", "select peripheral device"},
    {kEsc, '?', -1, R::Fixed, 1, "ESC ?", "cancel user-defined character"},
    {kEsc, '@', -1, R::Fixed, 0, "ESC @", "initialise"},
    {kEsc, 'B', -1, R::Fixed, 2, "ESC B", "sound buzzer"},
    {kEsc, 'D', -1, R::TabList, 0, "ESC D", "set horizontal tab positions"},
    {kEsc, 'E', -1, R::Fixed, 1, "ESC E", "emphasised mode"},
    {kEsc, 'G', -1, R::Fixed, 1, "ESC G", "double-strike mode"},
    {kEsc, 'J', -1, R::Fixed, 1, "ESC J", "print and feed"},
    {kEsc, 'K', -1, R::Fixed, 1, "ESC K", "print and reverse feed"},
    {kEsc, 'L', -1, R::Fixed, 0, "ESC L", "select page mode"},
    {kEsc, 'M', -1, R::Fixed, 1, "ESC M", "select character font"},
    {kEsc, 'R', -1, R::Fixed, 1, "ESC R", "select international character set"},
    {kEsc, 'S', -1, R::Fixed, 0, "ESC S", "select standard mode"},
    {kEsc, 'T', -1, R::Fixed, 1, "ESC T", "select print direction in page mode"},
    {kEsc, 'U', -1, R::Fixed, 1, "ESC U", "unidirectional printing"},
    {kEsc, 'V', -1, R::Fixed, 1, "ESC V", "90-degree rotation"},
    {kEsc, 'W', -1, R::Fixed, 8, "ESC W", "set print area in page mode"},
    {kEsc, '\\', -1, R::Fixed, 2, "ESC \\", "set relative print position"},
    {kEsc, 'a', -1, R::Fixed, 1, "ESC a", "select justification"},
    {kEsc, 'c', -1, R::Fixed, 2, "ESC c", "select paper sensors or panel buttons"},
    {kEsc, 'd', -1, R::Fixed, 1, "ESC d", "print and feed lines"},
    {kEsc, 'e', -1, R::Fixed, 1, "ESC e", "print and reverse feed lines"},
    {kEsc, 'i', -1, R::Fixed, 0, "ESC i", "partial cut"},
    {kEsc, 'm', -1, R::Fixed, 0, "ESC m", "partial cut"},
    {kEsc, 'p', -1, R::Fixed, 3, "ESC p", "generate pulse"},
    {kEsc, 'r', -1, R::Fixed, 1, "ESC r", "select print colour"},
    {kEsc, 't', -1, R::Fixed, 1, "ESC t", "select character code table"},
    {kEsc, 'u', -1, R::Fixed, 1, "ESC u", "transmit peripheral device status"},
    {kEsc, 'v', -1, R::Fixed, 0, "ESC v", "transmit paper sensor status"},
    {kEsc, '{', -1, R::Fixed, 1, "ESC {", "upside-down printing"},

    {kGs, '!', -1, R::Fixed, 1, "GS !", "select character size"},
    {kGs, '$', -1, R::Fixed, 2, "GS $", "set absolute vertical position in page mode"},
    {kGs, '(', 'A', R::Block16, 0, "GS ( A", "test print"},
    {kGs, '(', 'C', R::Block16, 0, "GS ( C", "edit NV user memory"},
    {kGs, '(', 'D', R::Block16, 0, "GS ( D", "enable or disable real-time commands"},
    {kGs, '(', 'E', R::Block16, 0, "GS ( E", "user setup"},
    {kGs, '(', 'H', R::Block16, 0, "GS ( H", "request response or status"},
    {kGs, '(', 'K', R::Block16, 0, "GS ( K", "print control"},
    {kGs, '(', 'L', R::Block16, 0, "GS ( L", "graphics"},
    {kGs, '(', 'M', R::Block16, 0, "GS ( M", "customise printer control value"},
    {kGs, '(', 'N', R::Block16, 0, "GS ( N", "character effects"},
    {kGs, '(', 'P', R::Block16, 0, "GS ( P", "page mode control"},
    {kGs, '(', 'Q', R::Block16, 0, "GS ( Q", "draw lines and rectangles"},
    {kGs, '(', 'k', R::Block16, 0, "GS ( k", "2-D code"},
    {kGs, '(', -1, R::Block16, 0, "GS (", "extended function"},
    {kGs, '*', -1, R::DownloadImage, 0, "GS *", "define downloaded bit image"},
    {kGs, '/', -1, R::Fixed, 1, "GS /", "print downloaded bit image"},
    {kGs, '8', 'L', R::Block32, 0, "GS 8 L", "graphics"},
    {kGs, '8', -1, R::Block32, 0, "GS 8", "extended function"},
    {kGs, ':', -1, R::Fixed, 0, "GS :", "start or end macro definition"},
    {kGs, 'B', -1, R::Fixed, 1, "GS B", "white/black reverse printing"},
    {kGs, 'C', -1, R::Counter, 0, "GS C", "counter printing"},
    {kGs, 'E', -1, R::Fixed, 1, "GS E", "select head control method"},
    {kGs, 'H', -1, R::Fixed, 1, "GS H", "select HRI character position"},
    {kGs, 'I', -1, R::Fixed, 1, "GS I", "transmit printer ID"},
    {kGs, 'L', -1, R::Fixed, 2, "GS L", "set left margin"},
    {kGs, 'P', -1, R::Fixed, 2, "GS P", "set motion units"},
    {kGs, 'Q', -1, R::Raster, 0, "GS Q 0", "print variable vertical size bit image"},
    {kGs, 'T', -1, R::Fixed, 1, "GS T", "set print position to the line start"},
    {kGs, 'V', -1, R::Cut, 0, "GS V", "cut paper"},
    {kGs, 'W', -1, R::Fixed, 2, "GS W", "set print area width"},
    {kGs, '\\', -1, R::Fixed, 2, "GS \\", "set relative vertical position in page mode"},
    {kGs, '^', -1, R::Fixed, 3, "GS ^", "execute macro"},
    {kGs, 'a', -1, R::Fixed, 1, "GS a", "automatic status back"},
    {kGs, 'b', -1, R::Fixed, 1, "GS b", "smoothing mode"},
    {kGs, 'c', -1, R::Fixed, 0, "GS c", "print counter"},
    {kGs, 'f', -1, R::Fixed, 1, "GS f", "select HRI font"},
    {kGs, 'g', -1, R::Fixed, 4, "GS g", "maintenance counter"},
    {kGs, 'h', -1, R::Fixed, 1, "GS h", "set bar code height"},
    {kGs, 'j', -1, R::Fixed, 1, "GS j", "automatic status back for ink"},
    {kGs, 'k', -1, R::Barcode, 0, "GS k", "print bar code"},
    {kGs, 'r', -1, R::Fixed, 1, "GS r", "transmit status"},
    {kGs, 'v', -1, R::Raster, 0, "GS v 0", "print raster bit image"},
    {kGs, 'w', -1, R::Fixed, 1, "GS w", "set bar code width"},
    {kGs, 'z', -1, R::Fixed, 3, "GS z", "set online recovery wait time"},

    {kFs, '!', -1, R::Fixed, 1, "FS !", "select Kanji print mode"},
    {kFs, '&', -1, R::Fixed, 0, "FS &", "select Kanji mode"},
    {kFs, '(', 'A', R::Block16, 0, "FS ( A", "Kanji character settings"},
    {kFs, '(', 'C', R::Block16, 0, "FS ( C", "character code conversion"},
    {kFs, '(', 'E', R::Block16, 0, "FS ( E", "receipt enhancement"},
    {kFs, '(', 'L', R::Block16, 0, "FS ( L", "label and black mark"},
    {kFs, '(', 'e', R::Block16, 0, "FS ( e", "extended status back"},
    {kFs, '(', -1, R::Block16, 0, "FS (", "extended function"},
    {kFs, '-', -1, R::Fixed, 1, "FS -", "Kanji underline"},
    {kFs, '.', -1, R::Fixed, 0, "FS .", "cancel Kanji mode"},
    {kFs, '2', -1, R::Fixed, 74, "FS 2", "define user-defined Kanji"},
    {kFs, '?', -1, R::Fixed, 2, "FS ?", "cancel user-defined Kanji"},
    {kFs, 'C', -1, R::Fixed, 1, "FS C", "select Kanji code system"},
    {kFs, 'S', -1, R::Fixed, 2, "FS S", "set Kanji spacing"},
    {kFs, 'W', -1, R::Fixed, 1, "FS W", "quadruple-size Kanji"},
    {kFs, 'g', -1, R::NvMemory, 0, "FS g", "NV user memory"},
    {kFs, 'l', -1, R::FontPayload, 0, "FS l", "national font data"},
    {kFs, 'p', -1, R::Fixed, 2, "FS p", "print NV bit image"},
    {kFs, 'q', -1, R::NvImages, 0, "FS q", "define NV bit images"},

    {kDle, 0x04, -1, R::RealTimeStatus, 0, "DLE EOT", "transmit real-time status"},
    {kDle, 0x05, -1, R::RealTimeFixed, 1, "DLE ENQ", "real-time request"},
    {kDle, 0x14, -1, R::RealTimeRequest, 0, "DLE DC4", "real-time command"},
};

constexpr std::uint8_t kFontMagic[5] = {0x1C, 0x6C, 0x64, 0x73, 0x58};
constexpr std::size_t kFontHeaderSize = 9;

bool IsPrefix(std::uint8_t b) {
    return b == kEsc || b == kGs || b == kFs || b == kDle;
}

int PrefixIndex(std::uint8_t prefix) {
    switch (prefix) {
        case kEsc:
            return 0;
        case kGs:
            return 1;
        case kFs:
            return 2;
        case kDle:
            return 3;
        default:
            return -1;
    }
}

// First table entry per prefix and code, so that a lookup is one index.
struct Index {
    std::array<std::array<std::int16_t, 256>, 4> first{};
    Index() {
        for (auto& row : first) row.fill(-1);
        for (std::size_t i = kTable.size(); i-- > 0;) {
            first[static_cast<std::size_t>(PrefixIndex(kTable[i].prefix))][kTable[i].code] =
                static_cast<std::int16_t>(i);
        }
    }
};

const Index& TableIndex() {
    static const Index index;
    return index;
}

struct Need {
    std::uint64_t total;
    bool final;
};

std::uint64_t Word(const std::uint8_t* c, std::size_t at) {
    return c[at] + 256u * c[at + 1];
}

// How many bytes the command needs: its whole length once the bytes so far
// decide it (final), otherwise how many to have before deciding again.
Need NeedFor(const CommandEntry& s, const std::uint8_t* c, std::size_t have) {
    auto more = [](std::uint64_t total) { return Need{total, false}; };
    auto whole = [](std::uint64_t total) { return Need{total, true}; };
    switch (s.rule) {
        case R::Fixed:
        case R::RealTimeFixed:
            return whole(2u + s.params);
        case R::Block16:
            if (have < 5) return more(5);
            return whole(5 + Word(c, 3));
        case R::Block32:
            if (have < 7) return more(7);
            return whole(7 + (static_cast<std::uint64_t>(c[3]) | std::uint64_t{c[4]} << 8 |
                              std::uint64_t{c[5]} << 16 | std::uint64_t{c[6]} << 24));
        case R::BitImage: {
            if (have < 3) return more(3);
            const std::uint8_t m = c[2];
            // Another density is no bit image: the bytes after m are read afresh.
            if (m != 0 && m != 1 && m != 32 && m != 33) return whole(3);
            if (have < 5) return more(5);
            return whole(5 + Word(c, 3) * (m >= 32 ? 3u : 1u));
        }
        case R::Raster:
            if (have < 3) return more(3);
            if (c[2] != '0' && c[2] != 0) return whole(3);
            if (have < 8) return more(8);
            return whole(8 + Word(c, 4) * Word(c, 6));
        case R::DownloadImage:
            if (have < 4) return more(4);
            return whole(4 + std::uint64_t{c[2]} * c[3] * 8u);
        case R::Barcode: {
            if (have < 3) return more(3);
            const std::uint8_t m = c[2];
            if (m <= 6) {
                // Data up to NUL; a printer takes at most 255 bytes of it.
                if (have > 3 && (c[have - 1] == 0 || have >= 3 + 256)) return whole(have);
                return more(have + 1);
            }
            if (m < 65 || m > 79) return whole(3);
            if (have < 4) return more(4);
            return whole(4 + std::uint64_t{c[3]});
        }
        case R::Cut: {
            if (have < 3) return more(3);
            const std::uint8_t m = c[2];
            const bool feeds = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
            return whole(feeds ? 4 : 3);
        }
        case R::UserChars: {
            if (have < 5) return more(5);
            const std::uint8_t y = c[2], c1 = c[3], c2 = c[4];
            if (c1 > c2 || c1 < 32 || c2 > 126) return whole(5);
            std::uint64_t at = 5;
            for (int ch = c1; ch <= c2; ++ch) {
                if (have <= at) return more(at + 1);
                at += 1 + std::uint64_t{y} * c[at];
            }
            return whole(at);
        }
        case R::NvImages: {
            if (have < 3) return more(3);
            std::uint64_t at = 3;
            for (int image = 0; image < c[2]; ++image) {
                if (have < at + 4) return more(at + 4);
                const auto i = static_cast<std::size_t>(at);  // below have
                at += 4 + Word(c, i) * Word(c, i + 2) * 8u;
                if (at > have && image + 1 < c[2]) return more(at + 4);
            }
            return whole(at);
        }
        case R::TabList:
            // Up to 32 positions, ended by NUL; a 33rd byte is read afresh.
            if (have > 2 && c[have - 1] == 0) return whole(have);
            if (have >= 2 + 32) return whole(have);
            return more(have + 1);
        case R::Counter: {
            if (have < 3) return more(3);
            switch (c[2]) {
                case 0:
                case '0':
                case 2:
                case '2':
                    return whole(5);
                case 1:
                case '1':
                    return whole(9);
                case ';': {
                    // GS C ; sa ; sb ; sn ; sr ; sc ; : five numbers, each ended by ';'.
                    const auto semicolons = std::count(c + 2, c + have, ';');
                    if (semicolons >= 6 || have >= 2 + 6 + 5 * 5) return whole(have);
                    return more(have + 1);
                }
                default:
                    return whole(3);
            }
        }
        case R::NvMemory:
            if (have < 3) return more(3);
            if (c[2] != '1' && c[2] != '2') return whole(3);
            if (have < 10) return more(10);
            return whole(c[2] == '1' ? 10 + Word(c, 8) : 10);
        case R::RealTimeStatus:
            if (have < 3) return more(3);
            return whole(c[2] == 7 || c[2] == 8 ? 4 : 3);
        case R::RealTimeRequest:
            if (have < 3) return more(3);
            switch (c[2]) {
                case 3:
                    return whole(8);
                case 7:
                    return whole(4);
                case 8:
                    return whole(10);
                default:
                    return whole(5);
            }
        case R::FontPayload:
            return more(kFontHeaderSize);  // the decoder reads the header itself
    }
    return whole(have);
}

}  // namespace

const std::vector<CommandEntry>& CommandTable() {
    return kTable;
}

const CommandEntry* FindCommand(const std::uint8_t* bytes, std::size_t have) {
    const int p = PrefixIndex(bytes[0]);
    if (p < 0 || have < 2) return nullptr;
    const std::int16_t first = TableIndex().first[static_cast<std::size_t>(p)][bytes[1]];
    if (first < 0) return nullptr;
    for (auto i = static_cast<std::size_t>(first);
         i < kTable.size() && kTable[i].prefix == bytes[0] && kTable[i].code == bytes[1]; ++i) {
        if (kTable[i].sub < 0 || (have > 2 && kTable[i].sub == bytes[2])) return &kTable[i];
    }
    return nullptr;
}

std::string PrefixName(std::uint8_t prefix) {
    switch (prefix) {
        case kEsc:
            return "ESC";
        case kGs:
            return "GS";
        case kFs:
            return "FS";
        case kDle:
            return "DLE";
        default:
            return fmt::format("0x{:02X}", prefix);
    }
}

std::string CommandLabel(const std::uint8_t* bytes, std::size_t have) {
    if (have == 0) return {};
    if (have < 2) return PrefixName(bytes[0]);
    const CommandEntry* entry = FindCommand(bytes, have);
    if (entry == nullptr) return fmt::format("{} 0x{:02X}", PrefixName(bytes[0]), bytes[1]);
    if (entry->sub < 0 && (entry->rule == R::Block16 || entry->rule == R::Block32) && have > 2) {
        const std::uint8_t fn = bytes[2];
        return fn > 0x20 && fn < 0x7F ? fmt::format("{} {:c}", entry->name, static_cast<char>(fn))
                                      : fmt::format("{} 0x{:02X}", entry->name, fn);
    }
    return entry->name;
}

// ---------------------------------------------------------------------------------
// Decoder

void CommandDecoder::feed(const std::uint8_t* data, std::size_t n, std::int64_t now, Sink& sink) {
    if (n > 0) lastByte_ = now;
    std::size_t i = 0;
    while (i < n) {
        if (fontLeft_ > 0) {
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n - i, fontLeft_));
            fontLeft_ -= take;
            sink.fontData(data + i, take);
            i += take;
            continue;
        }
        if (!command_.empty()) {
            i += take(data + i, n - i, sink);
            continue;
        }
        std::size_t j = i;
        while (j < n && !IsPrefix(data[j])) ++j;
        if (j > i) {
            sink.text(data + i, j - i);
            i = j;
            continue;
        }
        command_.push_back(data[i++]);
        seen_ = 1;
        need_ = 2;
        final_ = false;
        entry_ = nullptr;
    }
}

std::size_t CommandDecoder::take(const std::uint8_t* data, std::size_t n, Sink& sink) {
    std::size_t used = 0;
    for (;;) {
        if (entry_ != nullptr && entry_->rule == R::FontPayload) {
            if (used == n) return used;
            if (!fontHeader(data[used], sink)) return used;  // the byte starts afresh
            ++used;
            if (command_.empty()) return used;  // header complete
            continue;
        }
        if (seen_ < need_) {
            if (used == n) return used;
            const auto k =
                static_cast<std::size_t>(std::min<std::uint64_t>(need_ - seen_, n - used));
            const std::size_t room = kMaxKept - std::min(kMaxKept, command_.size());
            command_.insert(command_.end(), data + used, data + used + std::min(k, room));
            seen_ += k;
            used += k;
            if (seen_ < need_) return used;
        }
        if (final_) {
            finish(sink);
            return used;
        }
        if (entry_ == nullptr) {
            // The code byte has just arrived (used >= 1): look the command up.
            entry_ = FindCommand(command_.data(), 2);
            if (entry_ == nullptr) {
                const std::uint8_t prefix = command_[0];
                if (IsPrefix(command_[1]) || prefix == kDle) {
                    // A lone prefix: DLE is then just a control code, and another
                    // prefix starts a command of its own.
                    reset();
                    if (prefix == kDle) {
                        sink.text(&prefix, 1);
                    } else {
                        Command c;
                        c.bytes = {prefix};
                        c.length = 1;
                        sink.command(std::move(c));
                    }
                    return used - 1;  // the code byte is read again
                }
                final_ = true;  // unknown: its family's rule is prefix and code
                finish(sink);
                return used;
            }
            if (entry_->rule == R::FontPayload) continue;
        }
        const Need next = NeedFor(*entry_, command_.data(), command_.size());
        need_ = std::max<std::uint64_t>(next.total, seen_);
        final_ = next.final;
    }
}

bool CommandDecoder::fontHeader(std::uint8_t byte, Sink& sink) {
    const std::size_t at = command_.size();
    if (at < 5 && byte != kFontMagic[at]) {
        Command c;
        c.entry = entry_;
        c.bytes = std::move(command_);
        c.length = c.bytes.size();
        c.badFraming = true;
        reset();
        sink.command(std::move(c));
        return false;
    }
    command_.push_back(byte);
    ++seen_;
    if (command_.size() < kFontHeaderSize) return true;
    const std::uint32_t count = static_cast<std::uint32_t>(command_[5]) |
                                static_cast<std::uint32_t>(command_[6]) << 8 |
                                static_cast<std::uint32_t>(command_[7]) << 16 |
                                static_cast<std::uint32_t>(command_[8]) << 24;
    Command c;
    c.entry = entry_;
    c.bytes = std::move(command_);
    c.length = kFontHeaderSize;
    c.badFraming = count == 0 || count > kMaxFontCount;
    reset();
    if (!c.badFraming) fontLeft_ = count;
    sink.command(std::move(c));
    return true;
}

void CommandDecoder::finish(Sink& sink) {
    Command c;
    c.entry = FindCommand(command_.data(), command_.size());
    c.length = seen_;
    c.truncated = seen_ > command_.size();
    c.bytes = std::move(command_);
    reset();
    sink.command(std::move(c));
}

void CommandDecoder::expire(std::int64_t now, Sink& sink) {
    if (!inCommand() || now - lastByte_ <= idleMs_) return;
    if (fontLeft_ > 0) {
        fontLeft_ = 0;
        sink.fontAbandoned();
        return;
    }
    Command c;
    c.entry = command_.size() >= 2 ? FindCommand(command_.data(), command_.size()) : nullptr;
    c.length = seen_;
    c.incomplete = true;
    c.bytes = std::move(command_);
    reset();
    sink.command(std::move(c));
}

void CommandDecoder::reset() {
    command_ = {};
    seen_ = 0;
    need_ = 0;
    final_ = false;
    entry_ = nullptr;
}

}  // namespace tessaly::sim
