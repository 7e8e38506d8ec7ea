// The settings protocol of the R-3: identification names, user setup periods
// and memory switches, the self-test page, national font payloads, fault names.
#include <fmt/format.h>

#include <fstream>
#include <sstream>

#include "r3_engine.h"

namespace tessaly::sim {

namespace {

std::string SwitchBits(std::uint8_t value) {
    std::string bits(8, '0');
    for (int k = 8; k >= 1; --k) {
        if (value & (1u << (k - 1))) bits[static_cast<std::size_t>(8 - k)] = '1';
    }
    return bits;
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
        {"ignore-switch-write", FaultMode::IgnoreSwitchWrite},
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
        case FaultMode::IgnoreSwitchWrite:
            return "ignore-switch-write";
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
                if (config_.fault == FaultMode::IgnoreSwitchWrite &&
                    number == config_.ignoredSwitch) {
                    note(fmt::format("memory switch {} write answered but dropped", number), now);
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

std::vector<FontReception> R3Engine::fontReceptions() const {
    std::lock_guard lock(mutex_);
    return fonts_;
}

int R3Engine::selfTestCount() const {
    std::lock_guard lock(mutex_);
    return selfTests_;
}

int R3Engine::restartCount() const {
    std::lock_guard lock(mutex_);
    return restarts_;
}

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
