#include "r3_engine.h"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>

namespace tessaly::sim {

namespace {

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

// Hands the decoder's output to the engine: real-time commands are carried out
// as they arrive, everything else goes through the input buffer.
class R3Engine::Feed final : public CommandDecoder::Sink {
  public:
    Feed(R3Engine& engine, std::int64_t now) : engine_(engine), now_(now) {}
    void text(const std::uint8_t* data, std::size_t n) override {
        engine_.arrive({Token::Kind::Text, engine_.host_, {data, data + n}, {}}, now_);
    }
    void command(Command c) override {
        if (c.spec != nullptr && c.spec->realTime() && !c.incomplete) {
            if (now_ < engine_.restartUntil_) return;  // restarting: lost
            engine_.commandHost_ = engine_.host_;
            engine_.realTime(c, now_);
            engine_.collectPaper(now_);
            return;
        }
        engine_.arrive({Token::Kind::Command, engine_.host_, {}, std::move(c)}, now_);
    }
    void fontData(const std::uint8_t* data, std::size_t n) override {
        engine_.fontDataCount_ += n;
        engine_.arrive({Token::Kind::FontData, engine_.host_, {data, data + n}, {}}, now_);
    }
    void fontAbandoned() override {
        engine_.arrive({Token::Kind::FontAbandoned, engine_.host_, {}, {}}, now_);
    }

  private:
    R3Engine& engine_;
    std::int64_t now_;
};

R3Engine::R3Engine(PrinterConfig config)
    : config_(std::move(config)),
      switches_(config_.switches),
      decoder_(config_.fontIdleTimeoutMs),
      conditions_(config_.conditions),
      random_(config_.garbageSeed) {
    if (!config_.stateFile.empty()) LoadSwitches(config_.stateFile, switches_);
    pending_ = switches_;
    model_.setup(paperSetup());
    if (config_.fault == FaultMode::Disconnect && config_.disconnectAfterBytes == 0) {
        connected_ = false;
    }
    if (config_.fault == FaultMode::EndlessSender && config_.endlessAfterBytes == 0) {
        endless_ = true;
    }
}

// ---------------------------------------------------------------------------------
// Input

std::size_t R3Engine::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowMs,
                              int host) {
    std::lock_guard lock(mutex_);
    if (!connected_ || data == nullptr) return 0;
    if (hangUpArmed_) {
        connected_ = false;
        dropOutput();
        note("line hung up after answering IN", nowMs);
        return 0;
    }
    catchUp(nowMs);
    if (stalled(nowMs)) return 0;
    host_ = host == kNetworkHost ? kNetworkHost : kSerialHost;

    std::size_t offered = std::min(n, inputRoom(nowMs));
    if (config_.fault == FaultMode::Disconnect) {
        const std::uint64_t left = config_.disconnectAfterBytes - receivedCount_;
        offered = static_cast<std::size_t>(std::min<std::uint64_t>(offered, left));
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
    const bool fontData = decoder_.inFontPayload();
    const std::size_t accepted = process(input, offered, nowMs);
    if (stallHere) startStall(nowMs);

    if (config_.keepHistory && log_.size() < kMaxLog) {
        const std::size_t room = std::min(accepted, kMaxLog - log_.size());
        log_.insert(log_.end(), data, data + room);
    }
    if (accepted > 0 && fontData && inFont_) {
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

    if (accepted > 0) lastInput_ = nowMs;
    receivedCount_ += accepted;
    if (config_.fault == FaultMode::EndlessSender && receivedCount_ >= config_.endlessAfterBytes) {
        endless_ = true;
    }
    if (config_.fault == FaultMode::Disconnect && receivedCount_ >= config_.disconnectAfterBytes) {
        connected_ = false;
        dropOutput();
        note(fmt::format("link dropped after {} bytes", receivedCount_), nowMs);
    }
    return accepted;
}

std::optional<std::int64_t> R3Engine::resumesAt(std::int64_t nowMs) const {
    std::lock_guard lock(mutex_);
    if (!connected_) return std::nullopt;
    if (stalled(nowMs)) return *stalledUntil_;
    if (inputRoom(nowMs) > 0) return std::nullopt;
    // The input buffer is full: it empties when the printer can print again.
    if (nowMs < busyUntil_ && !conditions_.stopped()) return busyUntil_;
    return std::numeric_limits<std::int64_t>::max();
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

bool R3Engine::canPrint(std::int64_t now) const {
    return now >= busyUntil_ && !conditions_.stopped() && !stalled(now) &&
           !(config_.keepJobs && jobs_.size() >= config_.maxWaitingJobs);
}

std::size_t R3Engine::inputRoom(std::int64_t now) const {
    if (input_.empty() && canPrint(now)) return std::numeric_limits<std::size_t>::max();
    return config_.inputBufferBytes - std::min(config_.inputBufferBytes, inputBytes_);
}

std::size_t R3Engine::inputWaiting() const {
    std::lock_guard lock(mutex_);
    return inputBytes_;
}

// Cuts received bytes into tokens. With the font stall fault the bytes go in
// pieces, so that the stall strikes at its exact font data byte.
std::size_t R3Engine::process(const std::uint8_t* data, std::size_t n, std::int64_t now) {
    if (now < restartUntil_) return n;  // restarting and losing input
    Feed feed(*this, now);
    if (config_.fault != FaultMode::FontStall || stallDone_) {
        decoder_.feed(data, n, now, feed);
        return n;
    }
    std::size_t i = 0;
    while (i < n) {
        std::size_t piece = 1;
        if (decoder_.inFontPayload()) {
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(
                n - i,
                config_.stallAfterBytes - std::min(config_.stallAfterBytes, fontDataCount_)));
        }
        decoder_.feed(data + i, piece, now, feed);
        i += piece;
        if (decoder_.inFontPayload() && fontDataCount_ >= config_.stallAfterBytes) {
            startStall(now);
            return i;
        }
    }
    return n;
}

void R3Engine::arrive(Token token, std::int64_t now) {
    if (now < restartUntil_) return;  // restarting and losing input
    if (input_.empty() && canPrint(now)) {
        execute(token, now);
        return;
    }
    inputBytes_ += token.size();
    input_.push_back(std::move(token));
}

void R3Engine::catchUp(std::int64_t now) {
    {
        Feed feed(*this, now);
        decoder_.expire(now, feed);
    }
    while (!input_.empty() && canPrint(now)) {
        Token token = std::move(input_.front());
        input_.pop_front();
        inputBytes_ -= std::min(inputBytes_, token.size());
        execute(token, now);
    }
    if (jobOpen_ && input_.empty() && !decoder_.inCommand() &&
        now - lastInput_ >= config_.jobGapMs) {
        finishJob(now, "idle");
    }
}

void R3Engine::execute(Token& token, std::int64_t now) {
    commandHost_ = token.host;
    if (!jobOpen_) {
        jobOpen_ = true;
        model_.job().startMs = now;
    }
    model_.job().bytes += token.size();
    switch (token.kind) {
        case Token::Kind::Text:
            for (std::uint8_t b : token.bytes) {
                if (b == 0x0A) recordCommand("LF", {b}, now);
            }
            model_.text(token.bytes.data(), token.bytes.size());
            break;
        case Token::Kind::Command:
            command(token.command, now);
            break;
        case Token::Kind::FontData:
            fontData(token.bytes.data(), token.bytes.size(), now);
            break;
        case Token::Kind::FontAbandoned:
            if (inFont_) {
                inFont_ = false;
                fonts_.back().result = FontReception::Result::Short;
                note(fmt::format("font payload short: {} of {} bytes", fonts_.back().received,
                                 fonts_.back().expected),
                     now);
            }
            break;
    }
    collectPaper(now);
    if (model_.cutSeen()) finishJob(now, "cut");
}

void R3Engine::recordCommand(const std::string& name, std::vector<std::uint8_t> bytes,
                             std::int64_t now) {
    if (config_.keepHistory && commands_.size() < kMaxEvents) commands_.push_back(name);
    auto& jobCommands = model_.job().commands;
    if (jobCommands.size() < kMaxJobCommands) jobCommands.push_back(name);
    if (bytes.size() > kEventBytes) bytes.resize(kEventBytes);
    event(EngineEvent::Kind::Command, name, std::move(bytes), now);
}

std::string R3Engine::describe(const Command& c) const {
    const CommandSpec& s = *c.spec;
    std::string name = c.label();
    if (s.prefix == kEsc && s.code == 'p') {
        const int pin = (c.at(2) % 48) == 0 ? 2 : 5;
        return fmt::format("ESC p {} {} {} drawer kick pin {}: {} ms on, {} ms off", c.at(2),
                           c.at(3), c.at(4), pin, c.at(3) * 2, c.at(4) * 2);
    }
    if (s.rule == LengthRule::Fixed && s.params <= 4) {
        for (std::size_t i = 2; i < c.bytes.size(); ++i) name += fmt::format(" {}", c.bytes[i]);
        return fmt::format("{} {}", name, s.what);
    }
    name += fmt::format(" {} ({} bytes)", s.what, c.length);
    if (c.truncated) name += ", data past what the printer keeps skipped";
    return name;
}

void R3Engine::command(const Command& c, std::int64_t now) {
    const std::vector<std::uint8_t> head(
        c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(
                                               std::min<std::size_t>(c.bytes.size(), kEventBytes)));
    if (c.incomplete) {
        recordCommand(fmt::format("{} (incomplete, abandoned)", c.label()), head, now);
        note(fmt::format("{}: its bytes stopped coming; the rest of it was abandoned", c.label()),
             now);
        return;
    }
    if (c.spec == nullptr) {
        const std::string label = c.label();
        recordCommand(fmt::format("{} (unknown, skipped)", label), head, now);
        auto& unknown = model_.job().unknown;
        if (std::find(unknown.begin(), unknown.end(), label) == unknown.end()) {
            unknown.push_back(label);
        }
        if (std::find(reportedUnknown_.begin(), reportedUnknown_.end(), label) ==
            reportedUnknown_.end()) {
            reportedUnknown_.push_back(label);
            note(fmt::format("unknown command {} skipped (reported once)", label), now);
        }
        return;
    }
    if (query(c, now)) return;
    recordCommand(describe(c), head, now);
    model_.command(c);
    if (c.spec->prefix == kEsc && c.spec->code == 'p' && (c.at(2) % 48) <= 1) {
        Conditions next = conditions_;
        next.drawerOpen = true;  // the pulse opens the drawer
        changeConditions(next, now);
    }
}

// The printer's own commands: identification, status, setup, test print, font
// payloads. Returns false for everything else.
bool R3Engine::query(const Command& c, std::int64_t now) {
    const CommandSpec& s = *c.spec;
    const std::uint8_t n = c.at(2);
    auto done = [&](const std::string& name) {
        recordCommand(name, c.bytes, now);
        return true;
    };
    if (s.prefix == kGs && s.code == 'I') {
        done(fmt::format("GS I {} transmit printer id", n));
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
            case 3:
            case 51: {
                // Version id: the firmware's major number ("VT04.20" gives 4).
                const std::string& v = config_.firmwareVersion;
                const int major = v.size() >= 4 ? ToInt(v.substr(2, 2)) : -1;
                reply({static_cast<std::uint8_t>(major > 0 ? major : 0)}, now);
                break;
            }
            case 65:
                replyName(config_.firmwareVersion, now);
                break;
            case 66:
                replyName(wrongNames ? config_.wrongManufacturer : config_.manufacturer, now);
                break;
            case 67:
                replyName(wrongNames ? config_.wrongPrinterName : config_.printerName, now);
                break;
            default:
                break;  // no such id: no answer
        }
        return true;
    }
    if (s.prefix == kGs && s.code == 'a') {
        statusBack_ = n;
        done(fmt::format("GS a {} automatic status back", n));
        if (n != 0) sendAutomaticStatus(now);  // the first status goes at once
        return true;
    }
    if (s.prefix == kGs && s.code == 'r') {
        done(fmt::format("GS r {} transmit status", n));
        if (n == 1 || n == 49) reply({PaperSensorStatus(conditions_)}, now);
        if (n == 2 || n == 50) reply({DrawerStatus(conditions_)}, now);
        return true;
    }
    if (s.prefix == kEsc && s.code == 'u') {
        done(fmt::format("ESC u {} transmit peripheral device status", n));
        if (n == 0 || n == 48) reply({DrawerStatus(conditions_)}, now);
        return true;
    }
    if (s.prefix == kEsc && s.code == 'v') {
        done("ESC v transmit paper sensor status");
        reply({PaperSensorStatus(conditions_)}, now);
        return true;
    }
    if (s.prefix == kEsc && s.code == '=') {
        peripheralSelected_ = (n & 1) != 0;
        return done(fmt::format("ESC = {} select peripheral", n));
    }
    if (s.prefix == kGs && s.code == '(' && (n == 'A' || n == 'E') && c.bytes.size() >= 5) {
        handleGsParen(n, std::vector<std::uint8_t>(c.bytes.begin() + 5, c.bytes.end()), now);
        return true;
    }
    if (s.prefix == kGs && s.code == '(' && n == 'H') {
        done(fmt::format("GS ( H fn {} request response", c.at(5)));
        // Process id response: 37 22, the four id bytes, NUL.
        if (c.length == 11 && c.at(5) == 48 && c.at(6) == 48) {
            reply({0x37, 0x22, c.at(7), c.at(8), c.at(9), c.at(10), 0x00}, now);
        }
        return true;
    }
    if (s.prefix == kFs && s.code == 'l') {
        fontHeader(c, now);
        return true;
    }
    return false;
}

void R3Engine::realTime(const Command& c, std::int64_t now) {
    const std::uint8_t code = c.at(1), n = c.at(2);
    if (code == 0x04) {
        recordCommand(fmt::format("DLE EOT {} transmit real-time status", n), c.bytes, now);
        if (n >= 1 && n <= 4) reply({RealTimeStatus(conditions_, n)}, now);
        return;
    }
    if (code == 0x05) {
        recordCommand(fmt::format("DLE ENQ {} real-time request", n), c.bytes, now);
        // Recovery from an error that allows it (the cutter); 2 also clears the buffers.
        if ((n == 1 || n == 2) && conditions_.error == Conditions::Error::Cutter) {
            if (n == 2) clearInput(now);
            Conditions next = conditions_;
            next.error = Conditions::Error::None;
            changeConditions(next, now);
        }
        return;
    }
    // DLE DC4 fn
    switch (n) {
        case 1: {
            const int pin = c.at(3) == 0 ? 2 : c.at(3) == 1 ? 5 : 0;
            const int ms = c.at(4) * 100;
            recordCommand(fmt::format("DLE DC4 1 {} {} real-time drawer pulse pin {}: {} ms",
                                      c.at(3), c.at(4), pin, ms),
                          c.bytes, now);
            if (pin == 0 || c.at(4) < 1 || c.at(4) > 8) return;
            if (!jobOpen_) {
                jobOpen_ = true;
                model_.job().startMs = now;
            }
            model_.pulse(pin, ms, ms, true);
            Conditions next = conditions_;
            next.drawerOpen = true;
            changeConditions(next, now);
            return;
        }
        case 2:
            recordCommand("DLE DC4 2 power off (ignored)", c.bytes, now);
            return;
        case 3:
            recordCommand(fmt::format("DLE DC4 3 real-time buzzer {} times", c.at(5)), c.bytes,
                          now);
            model_.buzzer(c.at(5), c.at(6) * 100);
            return;
        case 7:
            recordCommand(fmt::format("DLE DC4 7 {} transmit status", c.at(3)), c.bytes, now);
            if (c.at(3) == 1) {
                const auto asb = AutomaticStatus(conditions_);
                reply({asb.begin(), asb.end()}, now);
            }
            return;
        case 8:
            recordCommand("DLE DC4 8 clear buffers", c.bytes, now);
            clearInput(now);
            return;
        default:
            recordCommand(fmt::format("DLE DC4 {} real-time command (ignored)", n), c.bytes, now);
            return;
    }
}

void R3Engine::clearInput(std::int64_t now) {
    const std::size_t dropped = inputBytes_;
    input_.clear();
    inputBytes_ = 0;
    model_.clearLine();
    note(fmt::format("input buffer and line buffer cleared ({} bytes)", dropped), now);
}

void R3Engine::fontHeader(const Command& c, std::int64_t now) {
    FontReception font;
    if (c.badFraming && c.bytes.size() < 9) {
        font.result = FontReception::Result::BadFraming;
        fonts_.push_back(font);
        recordCommand("FS l (bad font header)", c.bytes, now);
        note("font payload refused: bad header", now);
        return;
    }
    const std::uint32_t count =
        static_cast<std::uint32_t>(c.at(5)) | (static_cast<std::uint32_t>(c.at(6)) << 8) |
        (static_cast<std::uint32_t>(c.at(7)) << 16) | (static_cast<std::uint32_t>(c.at(8)) << 24);
    font.expected = count;
    font.checksum = kFnvBasis;
    if (c.badFraming) {
        font.result = FontReception::Result::BadFraming;
        fonts_.push_back(font);
        recordCommand("FS l (bad font count)", c.bytes, now);
        note(fmt::format("font payload refused: count {} out of range", count), now);
        return;
    }
    fonts_.push_back(font);
    inFont_ = true;
    recordCommand(fmt::format("FS l font payload, {} bytes follow", count), c.bytes, now);
}

void R3Engine::fontData(const std::uint8_t* data, std::size_t n, std::int64_t now) {
    if (!inFont_) return;
    FontReception& font = fonts_.back();
    font.checksum = Fnv1a(font.checksum, data, n);
    font.received += static_cast<std::uint32_t>(n);
    if (font.received == font.expected) {
        font.result = FontReception::Result::Ok;
        inFont_ = false;
        note(fmt::format("font payload complete: {} bytes", font.received), now);
    }
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
    auto& output = output_[static_cast<std::size_t>(commandHost_)];
    if (output.size() + bytes.size() > kMaxOutput) {
        droppedOutput_ += bytes.size();
        return;
    }
    const std::int64_t readyAt =
        now + (config_.fault == FaultMode::LateReplies ? config_.replyDelayMs : 0);
    // Answers leave one after another: a paced byte never overtakes the last one.
    std::int64_t gapUs = 0;
    for (std::uint8_t b : bytes) {
        std::int64_t at = readyAt + gapUs / 1000;
        if (!output.empty()) at = std::max(at, output.back().readyAt);
        output.push_back({at, b});
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

void R3Engine::dropOutput() {
    for (auto& output : output_) output.clear();
}

std::size_t R3Engine::takeOutput(std::uint8_t* buffer, std::size_t max, std::int64_t nowMs,
                                 int host) {
    std::lock_guard lock(mutex_);
    catchUp(nowMs);
    if (!connected_ || buffer == nullptr) return 0;
    auto& output = output_[host == kNetworkHost ? 1u : 0u];
    std::size_t n = 0;
    while (n < max && !output.empty() && output.front().readyAt <= nowMs) {
        buffer[n++] = output.front().byte;
        output.pop_front();
    }
    if (endless_) {
        while (n < max) {
            const auto b = static_cast<std::uint8_t>(random_() & 0xFF);
            if (b != 0x00) buffer[n++] = b;
        }
    }
    return n;
}

std::optional<std::int64_t> R3Engine::nextOutputTime(int host) const {
    std::lock_guard lock(mutex_);
    if (!connected_) return std::nullopt;
    if (endless_) return std::numeric_limits<std::int64_t>::min();
    const auto& output = output_[host == kNetworkHost ? 1u : 0u];
    std::optional<std::int64_t> next;
    if (!output.empty()) next = output.front().readyAt;
    // Commands held while printing or restarting may answer once that is over.
    if (!input_.empty() && !conditions_.stopped()) {
        next = std::min(next.value_or(busyUntil_), busyUntil_);
    }
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
// Conditions and jobs

Conditions R3Engine::conditions() const {
    std::lock_guard lock(mutex_);
    return conditions_;
}

std::optional<std::string> R3Engine::setCondition(const std::string& setting, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    Conditions next = conditions_;
    if (auto error = ApplyCondition(next, setting)) return error;
    changeConditions(next, nowMs);
    catchUp(nowMs);
    return std::nullopt;
}

void R3Engine::setConditions(const Conditions& conditions, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    changeConditions(conditions, nowMs);
    catchUp(nowMs);
}

void R3Engine::changeConditions(const Conditions& next, std::int64_t now) {
    const Conditions before = conditions_;
    if (next == before) return;
    conditions_ = next;
    note(fmt::format("conditions: {}", DescribeConditions(conditions_)), now);
    if (statusBack_ != 0 && AutomaticStatusChanged(before, next, statusBack_)) {
        sendAutomaticStatus(now);
    }
}

void R3Engine::sendAutomaticStatus(std::int64_t now) {
    const int saved = commandHost_;
    commandHost_ = host_;  // unsolicited: to the host that sent last
    const auto status = AutomaticStatus(conditions_);
    reply({status.begin(), status.end()}, now);
    commandHost_ = saved;
}

std::vector<PrintJob> R3Engine::takeJobs() {
    std::lock_guard lock(mutex_);
    std::vector<PrintJob> out(std::make_move_iterator(jobs_.begin()),
                              std::make_move_iterator(jobs_.end()));
    jobs_.clear();
    return out;
}

void R3Engine::endJob(std::int64_t nowMs, const char* reason) {
    std::lock_guard lock(mutex_);
    catchUp(nowMs);
    if (input_.empty() && !decoder_.inCommand()) finishJob(nowMs, reason);
}

void R3Engine::discardOutput(int host, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    auto& output = output_[host == kNetworkHost ? 1u : 0u];
    if (!output.empty())
        note(fmt::format("{} answer bytes dropped: the host went away", output.size()), nowMs);
    output.clear();
}

void R3Engine::finishJob(std::int64_t now, const char* reason) {
    if (!jobOpen_) return;
    jobOpen_ = false;
    PrintJob job = model_.take();
    job.endMs = now;
    job.endedBy = reason;
    job.conditions = DescribeConditions(conditions_);
    if (!job.printed()) return;  // nothing but blank paper came out
    job.number = ++jobsStarted_;
    note(fmt::format("job {} ended ({}): {} lines", job.number, reason, job.text.size()), now);
    if (config_.keepJobs) jobs_.push_back(std::move(job));
}

// ---------------------------------------------------------------------------------
// Paper and state

void R3Engine::collectPaper(std::int64_t now) {
    for (auto& line : model_.takeLines()) {
        if (config_.keepHistory && paper_.size() < kMaxPaperLines) paper_.push_back(line);
        event(EngineEvent::Kind::Paper, std::move(line), {}, now);
    }
    for (auto& text : model_.takeNotes()) note(std::move(text), now);
}

void R3Engine::note(std::string text, std::int64_t now) {
    event(EngineEvent::Kind::Note, std::move(text), {}, now);
}

void R3Engine::event(EngineEvent::Kind kind, std::string text, std::vector<std::uint8_t> bytes,
                     std::int64_t now) {
    if (events_.size() >= kMaxEvents) events_.pop_front();
    events_.push_back({kind, now, std::move(text), std::move(bytes)});
}

PaperSetup R3Engine::paperSetup() const {
    return PaperSetup::FromSwitches(switchValue(1), switchValue(2), switchValue(10));
}

void R3Engine::restart(std::int64_t now) {
    finishJob(now, "restart");
    model_.setup(paperSetup());
    peripheralSelected_ = true;
    statusBack_ = 0;
    ++restarts_;
    if (config_.fault == FaultMode::RestartLosesInput) {
        restartUntil_ = now + config_.restartMs;
        decoder_.reset();
        clearInput(now);
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
    const auto& s = config_.serial;
    const int parity = s.parity.empty() ? 0 : s.parity[0] - '0';
    const std::uint8_t buyer = switchValue(12);
    std::vector<std::string> lines = {
        "*** SELF TEST ***",
        config_.manufacturer,
        fmt::format("Model: {}", config_.printerName),
        fmt::format("Firmware: {} {}", config_.firmwareVersion, config_.versionSuffix),
        fmt::format("Serial: {} bps, {} data bits, parity {}, {}", s.baud, s.dataBits,
                    parity >= 0 && parity <= 2 ? kParity[parity] : "?",
                    s.flow == "1" ? "Xon/Xoff" : "DTR/DSR"),
    };
    for (int number : {1, 2, 8, 9, 10, 11, 12}) {
        lines.push_back(fmt::format("MSW{:<2} {}", number, SwitchBits(switchValue(number))));
    }
    lines.push_back(fmt::format("Code page: {}", SwitchCodePageIndex(switchValue(2))));
    lines.push_back(fmt::format("Buyer set: {}", buyer < 4 ? kBuyer[buyer] : "?"));
    lines.push_back("*** COMPLETED ***");
    model_.printLines(lines);
    model_.cut(true, 0);
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
    model_.setup(paperSetup());
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
    TextModes m;
    m.printMode = model_.printMode();
    m.bold = model_.bold();
    m.underline = model_.underline();
    m.alignment = model_.alignment();
    m.codeTable = model_.codeTable();
    m.lineSpacing = model_.lineSpacing();
    m.peripheralSelected = peripheralSelected_;
    m.statusBack = statusBack_;
    return m;
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
