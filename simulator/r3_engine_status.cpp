// What the printer says about itself in real time and on request: DLE EOT,
// DLE ENQ, DLE DC4, GS r, ESC u, ESC v, automatic status back, identification,
// all from its conditions.
#include <fmt/format.h>

#include <cctype>

#include "r3_engine.h"

namespace tessaly::sim {

// The printer's own commands: identification, status, setup, test print, font
// payloads. Returns false for everything else.
bool R3Engine::query(const Command& c, std::int64_t now) {
    const CommandEntry& s = *c.entry;
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
                const bool digits = v.size() >= 4 &&
                                    std::isdigit(static_cast<unsigned char>(v[2])) &&
                                    std::isdigit(static_cast<unsigned char>(v[3]));
                reply({static_cast<std::uint8_t>(digits ? (v[2] - '0') * 10 + (v[3] - '0') : 0)},
                      now);
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

}  // namespace tessaly::sim
