#include "r3_engine.h"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>

namespace tessaly::sim {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kGs = 0x1D;
constexpr std::uint8_t kFs = 0x1C;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kHt = 0x09;

// Parameter blocks of GS ( commands longer than this are skipped, not stored.
constexpr std::size_t kMaxParameterBlock = 1024;
// Font payloads announce their size; anything beyond this is not a font.
constexpr std::uint32_t kMaxFontCount = 16u << 20;
constexpr std::uint8_t kFontMagic[5] = {0x1C, 0x6C, 0x64, 0x73, 0x58};
constexpr std::size_t kFontHeaderSize = 9;
// Received-bytes events keep at most this many bytes each.
constexpr std::size_t kEventBytes = 256;

std::string SwitchBits(std::uint8_t value) {
    std::string bits(8, '0');
    for (int k = 8; k >= 1; --k) {
        if (value & (1u << (k - 1))) bits[static_cast<std::size_t>(8 - k)] = '1';
    }
    return bits;
}

// What a byte sent at one line speed looks like when read at another: a fixed,
// scrambling mapping, so the same mistake always gives the same junk.
std::uint8_t Garble(std::uint8_t byte) {
    return static_cast<std::uint8_t>(byte * 0x9D + 0x3B);
}

int ToInt(const std::string& text) {
    try {
        return std::stoi(text);
    } catch (...) {
        return -1;
    }
}

std::uint32_t Fnv1a(std::uint32_t hash, const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

constexpr std::uint32_t kFnvBasis = 2166136261u;

}  // namespace

std::optional<FaultMode> ParseFaultMode(const std::string& text) {
    static const std::pair<const char*, FaultMode> kNames[] = {
        {"none", FaultMode::None},
        {"wrong-model", FaultMode::WrongModel},
        {"wrong-names", FaultMode::WrongNames},
        {"silence", FaultMode::Silence},
        {"garbage", FaultMode::Garbage},
        {"endless", FaultMode::EndlessSender},
        {"late", FaultMode::LateReplies},
        {"disconnect", FaultMode::Disconnect},
        {"no-switch-answer", FaultMode::NoSwitchAnswer},
        {"hang-up-after-in", FaultMode::HangUpAfterIn},
        {"font-stall", FaultMode::FontStall},
        {"partial-write", FaultMode::PartialWrite},
        {"restart-loses-input", FaultMode::RestartLosesInput},
    };
    for (const auto& [name, mode] : kNames) {
        if (text == name) return mode;
    }
    return std::nullopt;
}

const char* FaultModeName(FaultMode mode) {
    switch (mode) {
        case FaultMode::None:
            return "none";
        case FaultMode::WrongModel:
            return "wrong-model";
        case FaultMode::WrongNames:
            return "wrong-names";
        case FaultMode::Silence:
            return "silence";
        case FaultMode::Garbage:
            return "garbage";
        case FaultMode::EndlessSender:
            return "endless";
        case FaultMode::LateReplies:
            return "late";
        case FaultMode::Disconnect:
            return "disconnect";
        case FaultMode::NoSwitchAnswer:
            return "no-switch-answer";
        case FaultMode::HangUpAfterIn:
            return "hang-up-after-in";
        case FaultMode::FontStall:
            return "font-stall";
        case FaultMode::PartialWrite:
            return "partial-write";
        case FaultMode::RestartLosesInput:
            return "restart-loses-input";
    }
    return "?";
}

const char* FontResultName(FontReception::Result result) {
    switch (result) {
        case FontReception::Result::Receiving:
            return "receiving";
        case FontReception::Result::Ok:
            return "ok";
        case FontReception::Result::BadFraming:
            return "bad framing";
        case FontReception::Result::Short:
            return "short";
    }
    return "?";
}

R3Engine::R3Engine(PrinterConfig config)
    : config_(std::move(config)), switches_(config_.switches), random_(config_.garbageSeed) {
    if (!config_.stateFile.empty()) LoadSwitches(config_.stateFile, switches_);
    pending_ = switches_;
    if (config_.fault == FaultMode::Disconnect && config_.disconnectAfterBytes == 0) {
        connected_ = false;
    }
    if (config_.fault == FaultMode::EndlessSender && config_.endlessAfterBytes == 0) {
        endless_ = true;
    }
}

// ---------------------------------------------------------------------------------
// Input

std::size_t R3Engine::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (!connected_ || data == nullptr) return 0;
    if (hangUpArmed_) {
        connected_ = false;
        output_.clear();
        note("line hung up after answering IN", nowMs);
        return 0;
    }
    catchUp(nowMs);
    if (stalled(nowMs)) return 0;

    std::size_t offered = n;
    if (config_.fault == FaultMode::Disconnect) {
        const std::uint64_t left = config_.disconnectAfterBytes - receivedCount_;
        offered = static_cast<std::size_t>(std::min<std::uint64_t>(n, left));
    }
    bool stallHere = false;
    if (config_.fault == FaultMode::PartialWrite && !stallDone_ &&
        receivedCount_ + offered > config_.stallAfterBytes) {
        offered = static_cast<std::size_t>(config_.stallAfterBytes - receivedCount_);
        stallHere = true;
    }

    std::vector<std::uint8_t> garbled;
    const std::uint8_t* input = data;
    if (lineMismatch_) {
        garbled.assign(data, data + offered);
        for (auto& b : garbled) b = Garble(b);
        input = garbled.data();
    }
    const bool fontData = inFont_ && offered <= fonts_.back().expected - fonts_.back().received;
    const std::size_t accepted = process(input, offered, nowMs);
    if (stallHere) startStall(nowMs);

    if (log_.size() < kMaxLog) {
        const std::size_t room = std::min(accepted, kMaxLog - log_.size());
        log_.insert(log_.end(), data, data + room);
    }
    if (accepted > 0 && fontData) {
        // Font data is summarised: a payload is a megabyte of it.
        const FontReception& font = fonts_.back();
        event(EngineEvent::Kind::Received,
              fmt::format("{} bytes of font data, {} of {} so far", accepted, font.received,
                          font.expected),
              {}, nowMs);
    } else if (accepted > 0) {
        event(EngineEvent::Kind::Received,
              accepted > kEventBytes
                  ? fmt::format("{} bytes, first {} shown", accepted, kEventBytes)
                  : std::string(),
              std::vector<std::uint8_t>(data, data + std::min(accepted, kEventBytes)), nowMs);
    }

    receivedCount_ += accepted;
    if (config_.fault == FaultMode::EndlessSender && receivedCount_ >= config_.endlessAfterBytes) {
        endless_ = true;
    }
    if (config_.fault == FaultMode::Disconnect && receivedCount_ >= config_.disconnectAfterBytes) {
        connected_ = false;
        output_.clear();
        note(fmt::format("link dropped after {} bytes", receivedCount_), nowMs);
    }
    return accepted;
}

std::optional<std::int64_t> R3Engine::resumesAt(std::int64_t nowMs) const {
    std::lock_guard lock(mutex_);
    if (!connected_ || !stalled(nowMs)) return std::nullopt;
    return *stalledUntil_;
}

void R3Engine::startStall(std::int64_t now) {
    stallDone_ = true;
    stalledUntil_ =
        config_.stallMs > 0 ? now + config_.stallMs : std::numeric_limits<std::int64_t>::max();
    note(config_.stallMs > 0 ? fmt::format("taking no data for {} ms after {} bytes",
                                           config_.stallMs, receivedCount_)
                             : fmt::format("taking no more data after {} bytes", receivedCount_),
         now);
}

// Carries out received bytes in order. While the self-test page prints or the
// printer restarts, the rest waits in the input buffer, as on the printer, and is
// carried out afterwards.
std::size_t R3Engine::process(const std::uint8_t* data, std::size_t n, std::int64_t now) {
    std::size_t i = 0;
    while (i < n) {
        if (now < busyUntil_) {
            hold(data + i, n - i, now);
            return n;
        }
        if (inFont_) {
            // Payload data is taken in bulk: it can be a megabyte.
            FontReception& font = fonts_.back();
            std::size_t take = std::min<std::size_t>(n - i, font.expected - font.received);
            bool stallNow = false;
            if (config_.fault == FaultMode::FontStall && !stallDone_ &&
                fontDataCount_ + take >= config_.stallAfterBytes) {
                take = static_cast<std::size_t>(config_.stallAfterBytes - fontDataCount_);
                stallNow = true;
            }
            font.checksum = Fnv1a(font.checksum, data + i, take);
            font.received += static_cast<std::uint32_t>(take);
            fontDataCount_ += take;
            fontLastByte_ = now;
            i += take;
            if (font.received == font.expected) {
                font.result = FontReception::Result::Ok;
                inFont_ = false;
                note(fmt::format("font payload complete: {} bytes", font.received), now);
            }
            if (stallNow) {
                startStall(now);
                return i;
            }
            continue;
        }
        consume(data[i], now);
        ++i;
    }
    return n;
}

void R3Engine::hold(const std::uint8_t* data, std::size_t n, std::int64_t now) {
    const std::size_t room = kMaxHeld - std::min(kMaxHeld, held_.size());
    held_.insert(held_.end(), data, data + std::min(n, room));
    if (n > room) note(fmt::format("input buffer full: {} bytes lost", n - room), now);
}

void R3Engine::catchUp(std::int64_t now) {
    expireFont(now);
    if (held_.empty() || now < busyUntil_ || stalled(now)) return;
    std::vector<std::uint8_t> waiting;
    waiting.swap(held_);
    const std::size_t used = process(waiting.data(), waiting.size(), now);
    // A stall that began in the held input leaves the rest waiting.
    held_.insert(held_.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(used), waiting.end());
}

void R3Engine::consume(std::uint8_t byte, std::int64_t now) {
    if (now < restartUntil_) return;  // still restarting and losing input

    if (skipRemaining_ > 0) {
        --skipRemaining_;
        return;
    }

    if (!command_.empty()) {
        command_.push_back(byte);
        parseCommand(now);
        return;
    }

    switch (byte) {
        case kEsc:
        case kGs:
        case kFs:
        case kDle:
            command_.push_back(byte);
            return;
        case kLf:
            recordCommand("LF", {byte}, now);
            printLine(now);
            return;
        case kCr:
            // With automatic line feed (switch 1 bit 5) CR prints like LF.
            if (switchValue(1) & 0x10) printLine(now);
            return;
        case kHt:
            do {
                line_.push_back(' ');
            } while (line_.size() % 8 != 0);
            if (line_.size() >= kMaxLine) printLine(now);
            return;
        default:
            break;
    }
    if (byte < 0x20 || byte == 0x7F) return;  // other control codes do nothing
    line_.push_back(static_cast<char>(byte));
    if (line_.size() >= kMaxLine) printLine(now);  // the paper is only so wide
}

void R3Engine::recordCommand(const std::string& name, std::vector<std::uint8_t> bytes,
                             std::int64_t now) {
    if (commands_.size() < kMaxEvents) commands_.push_back(name);
    event(EngineEvent::Kind::Command, name, std::move(bytes), now);
}

R3Engine::Parse R3Engine::parseCommand(std::int64_t now) {
    const std::vector<std::uint8_t>& c = command_;
    const std::size_t size = c.size();
    const std::uint8_t prefix = c[0];
    const std::uint8_t code = c[1];
    auto done = [&](const std::string& name) {
        std::vector<std::uint8_t> bytes;
        bytes.swap(command_);
        recordCommand(name, std::move(bytes), now);
        return Parse::Done;
    };
    auto need = [&](std::size_t total) { return size < total; };

    if (prefix == kEsc) {
        switch (code) {
            case '@':
                resetModes();
                return done("ESC @ initialise");
            case '2':
                modes_.lineSpacing = 0;
                return done("ESC 2 default line spacing");
            case '=':
                if (need(3)) return Parse::NeedMore;
                modes_.peripheralSelected = (c[2] & 1) != 0;
                return done(fmt::format("ESC = {} select peripheral", c[2]));
            case '!':
                if (need(3)) return Parse::NeedMore;
                modes_.printMode = c[2];
                return done(
                    fmt::format("ESC ! {} print mode (font {})", c[2], (c[2] & 1) ? 'B' : 'A'));
            case 'E':
                if (need(3)) return Parse::NeedMore;
                modes_.bold = (c[2] & 1) != 0;
                return done(fmt::format("ESC E {} bold {}", c[2], modes_.bold ? "on" : "off"));
            case '-':
                if (need(3)) return Parse::NeedMore;
                modes_.underline = c[2];
                return done(fmt::format("ESC - {} underline", c[2]));
            case 'a':
                if (need(3)) return Parse::NeedMore;
                modes_.alignment = c[2];
                return done(fmt::format("ESC a {} alignment {}", c[2],
                                        (c[2] % 48) == 0   ? "left"
                                        : (c[2] % 48) == 1 ? "centre"
                                                           : "right"));
            case 't':
                if (need(3)) return Parse::NeedMore;
                modes_.codeTable = c[2];
                return done(fmt::format("ESC t {} code table", c[2]));
            case '3':
                if (need(3)) return Parse::NeedMore;
                modes_.lineSpacing = c[2];
                return done(fmt::format("ESC 3 {} line spacing", c[2]));
            case 'J': {
                if (need(3)) return Parse::NeedMore;
                done(fmt::format("ESC J {} print and feed", c[2]));
                printLine(now);
                return Parse::Done;
            }
            case 'd': {
                if (need(3)) return Parse::NeedMore;
                const std::uint8_t lines = c[2];
                done(fmt::format("ESC d {} print and feed lines", lines));
                printLine(now);
                for (int k = 1; k < lines; ++k) addPaper("", now);
                return Parse::Done;
            }
            case 'p': {
                if (need(5)) return Parse::NeedMore;
                const int pin = (c[2] % 48) == 0 ? 2 : 5;
                const std::string name =
                    fmt::format("ESC p {} {} {} drawer kick pin {}: {} ms on, {} ms off", c[2],
                                c[3], c[4], pin, c[3] * 2, c[4] * 2);
                return done(name);
            }
            case ' ':
            case 'M':
            case 'R':
            case 'G':
            case 'V':
            case '{':
            case 'c':
                if (need(3)) return Parse::NeedMore;
                return done(fmt::format("ESC {:c} {}", static_cast<char>(code), c[2]));
            default:
                return done(fmt::format("ESC 0x{:02X} (unknown, skipped)", code));
        }
    }

    if (prefix == kGs) {
        switch (code) {
            case 'I': {
                if (need(3)) return Parse::NeedMore;
                const std::uint8_t n = c[2];
                const std::string name = fmt::format("GS I {} transmit printer id", n);
                done(name);
                const bool wrongNames = config_.fault == FaultMode::WrongNames;
                switch (n) {
                    case 1:
                    case 49:
                        reply({config_.fault == FaultMode::WrongModel ? config_.wrongModelByte
                                                                      : config_.modelByte},
                              now);
                        break;
                    case 2:
                    case 50:
                        reply({0x02}, now);  // type: auto cutter fitted
                        break;
                    case 65:
                        replyName(config_.firmwareVersion, now);
                        break;
                    case 66:
                        replyName(wrongNames ? config_.wrongManufacturer : config_.manufacturer,
                                  now);
                        break;
                    case 67:
                        replyName(wrongNames ? config_.wrongPrinterName : config_.printerName, now);
                        break;
                    default:
                        break;  // no such id: no answer
                }
                return Parse::Done;
            }
            case 'a':
                if (need(3)) return Parse::NeedMore;
                modes_.statusBack = c[2];
                return done(fmt::format("GS a {} automatic status back", c[2]));
            case 'V': {
                if (need(3)) return Parse::NeedMore;
                const std::uint8_t m = c[2];
                const bool withFeed =
                    m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
                if (withFeed && need(4)) return Parse::NeedMore;
                const bool partial = (m % 2) == 1 || m == 66 || m == 98 || m == 104;
                done(withFeed ? fmt::format("GS V {} {} feed and cut", m, c[3])
                              : fmt::format("GS V {} cut", m));
                flushLine(now);
                addPaper(partial ? "--- partial cut ---" : "--- full cut ---", now);
                return Parse::Done;
            }
            case '!':
            case 'B':
            case 'H':
            case 'f':
            case 'h':
            case 'w':
            case 'b':
            case 'L':
                if (need(3)) return Parse::NeedMore;
                return done(fmt::format("GS {:c} {}", static_cast<char>(code), c[2]));
            case '(': {
                if (need(5)) return Parse::NeedMore;
                const std::size_t length = c[3] + 256u * c[4];
                if (length > kMaxParameterBlock) {
                    // Too long to be anything this printer understands: skip it whole.
                    skipRemaining_ = length - (size - 5);
                    return done(fmt::format("GS ( {:c} with {} parameter bytes (skipped)",
                                            static_cast<char>(c[2]), length));
                }
                if (need(5 + length)) return Parse::NeedMore;
                const std::uint8_t kind = c[2];
                const std::vector<std::uint8_t> block(c.begin() + 5, c.end());
                command_.clear();
                handleGsParen(kind, block, now);
                return Parse::Done;
            }
            default:
                return done(fmt::format("GS 0x{:02X} (unknown, skipped)", code));
        }
    }

    if (prefix == kFs) {
        switch (code) {
            case 'p': {
                if (need(4)) return Parse::NeedMore;
                const std::uint8_t image = c[2];
                done(fmt::format("FS p {} {} print NV image", image, c[3]));
                flushLine(now);
                addPaper(fmt::format("[NV image {}]", image), now);
                return Parse::Done;
            }
            case 'l': {
                // Font payload header: 1C 6C 64 73 58, then a 32-bit count.
                const std::size_t at = size - 1;
                if (at < 5 && c[at] != kFontMagic[at]) {
                    FontReception bad;
                    bad.result = FontReception::Result::BadFraming;
                    fonts_.push_back(bad);
                    const std::uint8_t stray = c[at];
                    command_.pop_back();
                    done("FS l (bad font header)");
                    note("font payload refused: bad header", now);
                    consume(stray, now);  // the stray byte may start something new
                    return Parse::Done;
                }
                if (need(kFontHeaderSize)) return Parse::NeedMore;
                const std::uint32_t count = static_cast<std::uint32_t>(c[5]) |
                                            (static_cast<std::uint32_t>(c[6]) << 8) |
                                            (static_cast<std::uint32_t>(c[7]) << 16) |
                                            (static_cast<std::uint32_t>(c[8]) << 24);
                FontReception font;
                font.expected = count;
                font.checksum = kFnvBasis;
                if (count == 0 || count > kMaxFontCount) {
                    font.result = FontReception::Result::BadFraming;
                    fonts_.push_back(font);
                    done("FS l (bad font count)");
                    note(fmt::format("font payload refused: count {} out of range", count), now);
                    return Parse::Done;
                }
                fonts_.push_back(font);
                inFont_ = true;
                fontLastByte_ = now;
                return done(fmt::format("FS l font payload, {} bytes follow", count));
            }
            case '!':
            case '-':
            case 'C':
            case 'W':
                if (need(3)) return Parse::NeedMore;
                return done(fmt::format("FS {:c} {}", static_cast<char>(code), c[2]));
            default:
                return done(fmt::format("FS 0x{:02X} (unknown, skipped)", code));
        }
    }

    // DLE
    if (code == 0x04 || code == 0x05) {
        if (need(3)) return Parse::NeedMore;
        const std::uint8_t n = c[2];
        if (code == 0x05) return done(fmt::format("DLE ENQ {} real-time request", n));
        done(fmt::format("DLE EOT {} transmit real-time status", n));
        // Online, cover closed, paper present, no error: only the fixed bits are set.
        if (n == 1) reply({0x16}, now);
        if (n >= 2 && n <= 4) reply({0x12}, now);
        return Parse::Done;
    }
    return done(fmt::format("DLE 0x{:02X} (unknown, skipped)", code));
}

void R3Engine::handleGsParen(std::uint8_t kind, const std::vector<std::uint8_t>& data,
                             std::int64_t now) {
    auto record = [&](const std::string& name) {
        std::vector<std::uint8_t> bytes{kGs, '(', kind, static_cast<std::uint8_t>(data.size()),
                                        static_cast<std::uint8_t>(data.size() >> 8)};
        bytes.insert(bytes.end(), data.begin(), data.end());
        recordCommand(name, std::move(bytes), now);
    };

    if (kind == 'A') {
        if (data.size() == 2 && data[1] == 2) {
            record("GS ( A test print: status page");
            printSelfTest(now);
        } else {
            record(fmt::format("GS ( A test print ({} parameter bytes, not a status page)",
                               data.size()));
        }
        return;
    }
    if (kind == 'E') {
        if (data.empty()) {
            record("GS ( E without function (ignored)");
            return;
        }
        const std::uint8_t fn = data[0];
        static const char* const kFunctions[] = {"?", "enter user setup", "leave user setup",
                                                 "write memory switches", "read memory switch"};
        const char* what = fn <= 4 ? kFunctions[fn] : fn == 12 ? "read serial condition" : "?";
        std::string name = fmt::format("GS ( E fn {} {}", fn, what);
        if (fn == 4 && data.size() >= 2) name += fmt::format(" {}", data[1]);
        if (fn == 12 && data.size() >= 2) name += fmt::format(" a={}", data[1]);
        record(name);
        handleSetup(data, now);
        return;
    }
    record(fmt::format("GS ( {:c} ({} parameter bytes, ignored)", static_cast<char>(kind),
                       data.size()));
}

void R3Engine::handleSetup(const std::vector<std::uint8_t>& data, std::int64_t now) {
    static const std::vector<std::uint8_t> kSetupAck{0x37, 0x20, 0x00};
    const std::uint8_t fn = data[0];
    switch (fn) {
        // Entering the setup period, each switch write and leaving it are each
        // acknowledged with 37 20 00.
        case 1:
            if (data.size() != 3 || data[1] != 'I' || data[2] != 'N') {
                note("enter setup refused: parameter is not IN", now);
                return;
            }
            if (!setupMode_) {
                setupMode_ = true;
                pending_ = switches_;
            }
            reply(kSetupAck, now);
            if (config_.fault == FaultMode::HangUpAfterIn) hangUpArmed_ = true;
            return;
        case 2:
            if (data.size() != 4 || data[1] != 'O' || data[2] != 'U' || data[3] != 'T') {
                note("leave setup refused: parameter is not OUT", now);
                return;
            }
            if (!setupMode_) {
                note("leave setup ignored: not in a setup period", now);
                return;
            }
            reply(kSetupAck, now);
            switches_ = pending_;
            setupMode_ = false;
            if (!config_.stateFile.empty() && !SaveSwitches(config_.stateFile, switches_)) {
                note("could not save the switch state file", now);
            }
            restart(now);
            return;
        case 3: {
            if (!setupMode_) {
                note("memory switch write ignored outside a setup period", now);
                return;
            }
            // One or more groups: switch number, then characters for bits 8..1.
            if (data.size() < 10 || (data.size() - 1) % 9 != 0) {
                note("memory switch write ignored: malformed", now);
                return;
            }
            for (std::size_t g = 1; g + 9 <= data.size(); g += 9) {
                const int number = data[g];
                if (number < 1 || number > kSwitchCount) {
                    note(fmt::format("memory switch {} does not exist", number), now);
                    continue;
                }
                std::uint8_t value = pending_[static_cast<std::size_t>(number - 1)];
                bool valid = true;
                for (int k = 8; k >= 1 && valid; --k) {
                    const std::uint8_t ch = data[g + 1 + static_cast<std::size_t>(8 - k)];
                    const auto mask = static_cast<std::uint8_t>(1u << (k - 1));
                    if (ch == '0') {
                        value = static_cast<std::uint8_t>(value & ~mask);
                    } else if (ch == '1') {
                        value = static_cast<std::uint8_t>(value | mask);
                    } else if (ch != '2') {
                        valid = false;
                    }
                }
                if (!valid) {
                    note(fmt::format("memory switch {} write ignored: bad setting character",
                                     number),
                         now);
                    continue;
                }
                pending_[static_cast<std::size_t>(number - 1)] = value;
                note(fmt::format("memory switch {} staged as {}", number, SwitchBits(value)), now);
            }
            reply(kSetupAck, now);
            return;
        }
        case 4: {
            if (data.size() != 2 || data[1] < 1 || data[1] > kSwitchCount) return;
            if (config_.fault == FaultMode::NoSwitchAnswer && data[1] == config_.silentSwitch) {
                note(fmt::format("no answer to the read of memory switch {}", data[1]), now);
                return;
            }
            const std::uint8_t value =
                setupMode_ ? pending_[data[1] - 1u] : switches_[data[1] - 1u];
            std::vector<std::uint8_t> answer{0x37, 0x21};
            for (char ch : SwitchBits(value)) answer.push_back(static_cast<std::uint8_t>(ch));
            answer.push_back(0x00);
            reply(std::move(answer), now);
            return;
        }
        case 12: {
            if (data.size() != 2) return;
            const std::uint8_t a = data[1];
            const std::string* text = nullptr;
            switch (a) {
                case 1:
                    text = &config_.serial.baud;
                    break;
                case 2:
                    text = &config_.serial.parity;
                    break;
                case 3:
                    text = &config_.serial.flow;
                    break;
                case 4:
                    text = &config_.serial.dataBits;
                    break;
                case 8:
                    text = &config_.versionSuffix;
                    break;
                default:
                    return;
            }
            std::vector<std::uint8_t> answer{0x37, 0x33, a, 0x1F};
            answer.insert(answer.end(), text->begin(), text->end());
            answer.push_back(0x00);
            reply(std::move(answer), now);
            return;
        }
        default:
            return;
    }
}

void R3Engine::expireFont(std::int64_t now) {
    if (inFont_ && now - fontLastByte_ > config_.fontIdleTimeoutMs) {
        inFont_ = false;
        fonts_.back().result = FontReception::Result::Short;
        note(fmt::format("font payload short: {} of {} bytes", fonts_.back().received,
                         fonts_.back().expected),
             now);
    }
}

// ---------------------------------------------------------------------------------
// Output

void R3Engine::reply(std::vector<std::uint8_t> bytes, std::int64_t now) {
    if (!connected_ || config_.fault == FaultMode::Silence || endless_) return;
    if (config_.fault == FaultMode::Garbage) {
        // Random length and bytes; never 0x00 or 0x20, so garbage can neither end a
        // text early nor pass for the model byte by luck.
        const std::size_t length = 1 + random_() % 16;
        bytes.clear();
        while (bytes.size() < length) {
            const auto b = static_cast<std::uint8_t>(random_() & 0xFF);
            if (b != 0x00 && b != 0x20) bytes.push_back(b);
        }
    }
    if (lineMismatch_) {
        for (auto& b : bytes) b = Garble(b);
    }
    if (output_.size() + bytes.size() > kMaxOutput) {
        droppedOutput_ += bytes.size();
        return;
    }
    const std::int64_t readyAt =
        now + (config_.fault == FaultMode::LateReplies ? config_.replyDelayMs : 0);
    // Answers leave one after another: a paced byte never overtakes the last one.
    std::int64_t gapUs = 0;
    for (std::uint8_t b : bytes) {
        std::int64_t at = readyAt + gapUs / 1000;
        if (!output_.empty()) at = std::max(at, output_.back().readyAt);
        output_.push_back({at, b});
        gapUs += config_.replyByteGapUs;
    }
    event(EngineEvent::Kind::Reply, fmt::format("{} bytes ready at {} ms", bytes.size(), readyAt),
          std::move(bytes), now);
}

void R3Engine::replyName(const std::string& text, std::int64_t now) {
    std::vector<std::uint8_t> bytes{0x5F};
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0x00);
    reply(std::move(bytes), now);
}

std::size_t R3Engine::takeOutput(std::uint8_t* buffer, std::size_t max, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    catchUp(nowMs);
    if (!connected_ || buffer == nullptr) return 0;
    std::size_t n = 0;
    while (n < max && !output_.empty() && output_.front().readyAt <= nowMs) {
        buffer[n++] = output_.front().byte;
        output_.pop_front();
    }
    if (endless_) {
        while (n < max) {
            const auto b = static_cast<std::uint8_t>(random_() & 0xFF);
            if (b != 0x00) buffer[n++] = b;
        }
    }
    return n;
}

std::optional<std::int64_t> R3Engine::nextOutputTime() const {
    std::lock_guard lock(mutex_);
    if (!connected_) return std::nullopt;
    if (endless_) return std::numeric_limits<std::int64_t>::min();
    std::optional<std::int64_t> next;
    if (!output_.empty()) next = output_.front().readyAt;
    // Commands held while printing or restarting may answer once that is over.
    if (!held_.empty()) next = std::min(next.value_or(busyUntil_), busyUntil_);
    return next;
}

void R3Engine::tick(std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    catchUp(nowMs);
}

void R3Engine::setHostLine(std::int32_t baud, std::int32_t dataBits, std::int32_t parity) {
    std::lock_guard lock(mutex_);
    const auto& own = config_.serial;
    lineMismatch_ =
        config_.checkLineSettings &&
        (baud != ToInt(own.baud) || dataBits != ToInt(own.dataBits) || parity != ToInt(own.parity));
}

void R3Engine::clearHostLine() {
    std::lock_guard lock(mutex_);
    lineMismatch_ = false;
}

bool R3Engine::lineMismatch() const {
    std::lock_guard lock(mutex_);
    return lineMismatch_;
}

// ---------------------------------------------------------------------------------
// Paper and state

void R3Engine::printLine(std::int64_t now) {
    addPaper(std::move(line_), now);
    line_.clear();
}

void R3Engine::flushLine(std::int64_t now) {
    if (!line_.empty()) printLine(now);
}

void R3Engine::addPaper(std::string line, std::int64_t now) {
    if (paper_.size() < kMaxPaperLines) paper_.push_back(line);
    event(EngineEvent::Kind::Paper, std::move(line), {}, now);
}

void R3Engine::note(std::string text, std::int64_t now) {
    event(EngineEvent::Kind::Note, std::move(text), {}, now);
}

void R3Engine::event(EngineEvent::Kind kind, std::string text, std::vector<std::uint8_t> bytes,
                     std::int64_t now) {
    if (events_.size() >= kMaxEvents) events_.pop_front();
    events_.push_back({kind, now, std::move(text), std::move(bytes)});
}

void R3Engine::resetModes() {
    // ESC @ leaves the peripheral selection and status back as they were.
    line_.clear();
    const TextModes kept = modes_;
    modes_ = TextModes{};
    modes_.peripheralSelected = kept.peripheralSelected;
    modes_.statusBack = kept.statusBack;
}

void R3Engine::restart(std::int64_t now) {
    resetModes();
    modes_ = TextModes{};
    command_.clear();
    skipRemaining_ = 0;
    ++restarts_;
    if (config_.fault == FaultMode::RestartLosesInput) {
        restartUntil_ = now + config_.restartMs;
    } else {
        busyUntil_ = std::max(busyUntil_, now + config_.restartMs);
    }
    note(fmt::format("restarting with the new settings ({} ms)", config_.restartMs), now);
}

std::uint8_t R3Engine::switchValue(int number) const {
    if (number < 1 || number > kSwitchCount) return 0;
    return switches_[static_cast<std::size_t>(number - 1)];
}

void R3Engine::printSelfTest(std::int64_t now) {
    static const char* const kParity[] = {"none", "odd", "even"};
    static const char* const kBuyer[] = {"STD", "KOR", "CHN", "JAP"};
    ++selfTests_;
    flushLine(now);
    const auto& s = config_.serial;
    const int parity = s.parity.empty() ? 0 : s.parity[0] - '0';
    const std::uint8_t sw2 = switchValue(2);
    const int codePage = ((sw2 >> 3) & 0x1F) | ((sw2 & 0x04) ? 32 : 0);
    const std::uint8_t buyer = switchValue(12);
    addPaper("*** SELF TEST ***", now);
    addPaper(config_.manufacturer, now);
    addPaper(fmt::format("Model: {}", config_.printerName), now);
    addPaper(fmt::format("Firmware: {} {}", config_.firmwareVersion, config_.versionSuffix), now);
    addPaper(fmt::format("Serial: {} bps, {} data bits, parity {}, {}", s.baud, s.dataBits,
                         parity >= 0 && parity <= 2 ? kParity[parity] : "?",
                         s.flow == "1" ? "Xon/Xoff" : "DTR/DSR"),
             now);
    for (int number : {1, 2, 8, 9, 10, 11, 12}) {
        addPaper(fmt::format("MSW{:<2} {}", number, SwitchBits(switchValue(number))), now);
    }
    addPaper(fmt::format("Code page: {}", codePage), now);
    addPaper(fmt::format("Buyer set: {}", buyer < 4 ? kBuyer[buyer] : "?"), now);
    addPaper("*** COMPLETED ***", now);
    addPaper("--- partial cut ---", now);
    busyUntil_ = now + config_.selfTestMs;
    note(fmt::format("printing the self-test page ({} ms)", config_.selfTestMs), now);
}

bool R3Engine::connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

bool R3Engine::inSetupMode() const {
    std::lock_guard lock(mutex_);
    return setupMode_;
}

std::uint8_t R3Engine::memorySwitch(int number) const {
    std::lock_guard lock(mutex_);
    return switchValue(number);
}

void R3Engine::setMemorySwitch(int number, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    if (number < 1 || number > kSwitchCount) return;
    switches_[static_cast<std::size_t>(number - 1)] = value;
    pending_[static_cast<std::size_t>(number - 1)] = value;
}

std::vector<std::uint8_t> R3Engine::receivedLog() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::string> R3Engine::paper() const {
    std::lock_guard lock(mutex_);
    return paper_;
}

std::vector<FontReception> R3Engine::fontReceptions() const {
    std::lock_guard lock(mutex_);
    return fonts_;
}

TextModes R3Engine::textModes() const {
    std::lock_guard lock(mutex_);
    return modes_;
}

int R3Engine::selfTestCount() const {
    std::lock_guard lock(mutex_);
    return selfTests_;
}

int R3Engine::restartCount() const {
    std::lock_guard lock(mutex_);
    return restarts_;
}

std::vector<std::string> R3Engine::commandNames() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<EngineEvent> R3Engine::takeEvents() {
    std::lock_guard lock(mutex_);
    std::vector<EngineEvent> out(std::make_move_iterator(events_.begin()),
                                 std::make_move_iterator(events_.end()));
    events_.clear();
    return out;
}

// ---------------------------------------------------------------------------------
// State file

bool R3Engine::LoadSwitches(const std::string& path,
                            std::array<std::uint8_t, kSwitchCount>& switches) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key, bits;
        if (!(fields >> key >> bits) || key.rfind("msw", 0) != 0 || bits.size() != 8) continue;
        int number = 0;
        try {
            number = std::stoi(key.substr(3));
        } catch (...) {
            continue;
        }
        if (number < 1 || number > kSwitchCount) continue;
        if (bits.find_first_not_of("01") != std::string::npos) continue;
        std::uint8_t value = 0;
        for (char ch : bits) value = static_cast<std::uint8_t>((value << 1) | (ch == '1'));
        switches[static_cast<std::size_t>(number - 1)] = value;
    }
    return true;
}

bool R3Engine::SaveSwitches(const std::string& path,
                            const std::array<std::uint8_t, kSwitchCount>& switches) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out) return false;
        for (int number = 1; number <= kSwitchCount; ++number) {
            out << "msw" << number << ' '
                << SwitchBits(switches[static_cast<std::size_t>(number - 1)]) << '\n';
        }
        if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace tessaly::sim
