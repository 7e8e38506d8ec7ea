#include "conditions.h"

#include <fmt/format.h>

#include <cctype>

namespace tessaly::sim {

namespace {

const char* PaperName(Conditions::Paper paper) {
    switch (paper) {
        case Conditions::Paper::Ok:
            return "ok";
        case Conditions::Paper::NearEnd:
            return "near-end";
        case Conditions::Paper::End:
            return "end";
    }
    return "?";
}

const char* ErrorName(Conditions::Error error) {
    switch (error) {
        case Conditions::Error::None:
            return "none";
        case Conditions::Error::Cutter:
            return "cutter";
        case Conditions::Error::Unrecoverable:
            return "unrecoverable";
        case Conditions::Error::AutoRecoverable:
            return "auto-recoverable";
    }
    return "?";
}

unsigned Bit(bool on, int bit) {
    return on ? 1u << bit : 0u;
}

std::uint8_t Byte(unsigned bits) {
    return static_cast<std::uint8_t>(bits);
}

bool NearEnd(const Conditions& c) {
    return c.paper != Conditions::Paper::Ok;  // the near-end sensor sees no paper either
}

std::string Trim(const std::string& text) {
    std::size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
    return text.substr(a, b - a);
}

}  // namespace

std::optional<std::string> ApplyCondition(Conditions& c, const std::string& setting) {
    const std::string text = Trim(setting);
    const auto cut = text.find_first_of("= \t");
    const std::string key = text.substr(0, cut);
    const std::string value = cut == std::string::npos ? "" : Trim(text.substr(cut + 1));
    auto bad = [&](const char* expected) { return fmt::format("{}: expected {}", key, expected); };
    if (key == "paper") {
        if (value == "ok") {
            c.paper = Conditions::Paper::Ok;
        } else if (value == "near-end") {
            c.paper = Conditions::Paper::NearEnd;
        } else if (value == "end") {
            c.paper = Conditions::Paper::End;
        } else {
            return bad("ok, near-end or end");
        }
    } else if (key == "cover" || key == "drawer") {
        if (value != "open" && value != "closed") return bad("open or closed");
        (key == "cover" ? c.coverOpen : c.drawerOpen) = value == "open";
    } else if ((key == "online" || key == "offline") && value.empty()) {
        c.offline = key == "offline";
    } else if (key == "error") {
        if (value == "none") {
            c.error = Conditions::Error::None;
        } else if (value == "cutter") {
            c.error = Conditions::Error::Cutter;
        } else if (value == "unrecoverable") {
            c.error = Conditions::Error::Unrecoverable;
        } else if (value == "auto-recoverable") {
            c.error = Conditions::Error::AutoRecoverable;
        } else {
            return bad("none, cutter, unrecoverable or auto-recoverable");
        }
    } else {
        return fmt::format("unknown condition '{}' (paper, cover, drawer, online, offline, error)",
                           text);
    }
    return std::nullopt;
}

std::string DescribeConditions(const Conditions& c) {
    return fmt::format("paper={} cover={} drawer={} {} error={}{}", PaperName(c.paper),
                       c.coverOpen ? "open" : "closed", c.drawerOpen ? "open" : "closed",
                       c.offline ? "offline" : "online", ErrorName(c.error),
                       c.stopped() ? " (printing stopped)" : "");
}

std::uint8_t RealTimeStatus(const Conditions& c, int n) {
    constexpr unsigned kFixed = 0x12;  // bits 1 and 4 are always set
    switch (n) {
        case 1:  // printer: drawer pin 3, offline
            return Byte(kFixed | Bit(!c.drawerOpen, 2) | Bit(c.stopped(), 3));
        case 2:  // offline cause: cover, paper end stop, error
            return Byte(kFixed | Bit(c.coverOpen, 2) | Bit(c.paper == Conditions::Paper::End, 5) |
                        Bit(c.error != Conditions::Error::None, 6));
        case 3:  // error cause: cutter, unrecoverable, auto-recoverable
            return Byte(kFixed | Bit(c.error == Conditions::Error::Cutter, 3) |
                        Bit(c.error == Conditions::Error::Unrecoverable, 5) |
                        Bit(c.error == Conditions::Error::AutoRecoverable, 6));
        case 4:  // roll paper sensors: near end (bits 2, 3), end (bits 5, 6)
            return Byte(kFixed | (NearEnd(c) ? 0x0Cu : 0u) |
                        (c.paper == Conditions::Paper::End ? 0x60u : 0u));
        default:
            return Byte(kFixed);
    }
}

std::uint8_t PaperSensorStatus(const Conditions& c) {
    return Byte((NearEnd(c) ? 0x03u : 0u) | (c.paper == Conditions::Paper::End ? 0x0Cu : 0u));
}

std::uint8_t DrawerStatus(const Conditions& c) {
    return Byte(Bit(!c.drawerOpen, 0));
}

std::array<std::uint8_t, 4> AutomaticStatus(const Conditions& c) {
    return {
        Byte(0x10u | Bit(!c.drawerOpen, 2) | Bit(c.stopped(), 3) | Bit(c.coverOpen, 5)),
        Byte(Bit(c.error == Conditions::Error::Cutter, 3) |
             Bit(c.error == Conditions::Error::Unrecoverable, 5) |
             Bit(c.error == Conditions::Error::AutoRecoverable, 6)),
        PaperSensorStatus(c),
        0x00,
    };
}

bool AutomaticStatusChanged(const Conditions& a, const Conditions& b, std::uint8_t enabled) {
    return ((enabled & 0x01) && a.drawerOpen != b.drawerOpen) ||
           ((enabled & 0x02) && (a.stopped() != b.stopped() || a.coverOpen != b.coverOpen)) ||
           ((enabled & 0x04) && a.error != b.error) || ((enabled & 0x08) && a.paper != b.paper);
}

}  // namespace tessaly::sim
