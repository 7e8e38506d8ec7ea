// The engine's centre: input cut into commands, the input buffer, carrying
// commands out, answers, jobs. The settings protocol is in r3_engine_setup.cpp,
// the status answers and conditions in r3_engine_status.cpp.
#include "r3_engine.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

namespace tessaly::sim {

namespace {

// Received-bytes events keep at most this many bytes each.
constexpr std::size_t kEventBytes = 256;

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

}  // namespace

// Hands the decoder's output to the engine: real-time commands are carried out
// as they arrive, everything else goes through the input buffer.
class R3Engine::Feed final : public CommandDecoder::Sink {
  public:
    Feed(R3Engine& engine, std::int64_t now) : engine_(engine), now_(now) {}
    void text(const std::uint8_t* data, std::size_t n) override {
        engine_.arrive({Token::Kind::Text, engine_.host_, {data, data + n}, {}}, now_);
    }
    void command(Command c) override {
        if (c.entry != nullptr && c.entry->realTime() && !c.incomplete) {
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
    const CommandEntry& s = *c.entry;
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
    if (c.entry == nullptr) {
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
    if (c.entry->prefix == kEsc && c.entry->code == 'p' && (c.at(2) % 48) <= 1) {
        Conditions next = conditions_;
        next.drawerOpen = true;  // the pulse opens the drawer
        changeConditions(next, now);
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
    // Commands held while printing or restarting may answer once that is over
    // (held for other reasons, there is no telling when).
    const bool jobsWaiting = config_.keepJobs && jobs_.size() >= config_.maxWaitingJobs;
    if (!input_.empty() && !conditions_.stopped() && !jobsWaiting) {
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
// Jobs

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

std::uint8_t R3Engine::switchValue(int number) const {
    if (number < 1 || number > kSwitchCount) return 0;
    return switches_[static_cast<std::size_t>(number - 1)];
}

bool R3Engine::connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

std::vector<std::uint8_t> R3Engine::receivedLog() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::string> R3Engine::paper() const {
    std::lock_guard lock(mutex_);
    return paper_;
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

}  // namespace tessaly::sim
