#pragma once

#include <map>
#include <string>

#include "reply_bytes.h"
#include "status_commands.h"
#include "status_fakes.h"

namespace tessaly::testing {

// A hand-written R-3 for byte-exact checks and odd replies: answers each command
// with the documented reply, unless the test replaced that reply.
struct ScriptedR3 {
    std::string firmware = "VT04.20 R-3";
    std::string suffix = "B031";
    std::string name = "Vantreel R-3";
    std::array<std::uint8_t, 13> switches{};  // index = switch number
    std::map<int, std::string> serial{{1, "19200"}, {2, "0"}, {3, "0"}, {4, "8"}};
    std::map<Bytes, Bytes, BytesOrder> replies;  // replaces the reply to exactly these bytes
    bool silent = false;

    static Bytes Condition(std::uint8_t a, const std::string& text) {
        return TextReply({0x37, 0x33, a, 0x1F}, text);
    }
    static Bytes SwitchReply(std::uint8_t value) {
        Bytes b{0x37, 0x21};
        for (int k = 8; k >= 1; --k) b.push_back((value >> (k - 1)) & 1 ? '1' : '0');
        b.push_back(0);
        return b;
    }

    Bytes Reply(const Bytes& w) const {
        if (auto it = replies.find(w); it != replies.end()) return it->second;
        if (silent) return {};
        if (w == ToBytes(cmd::CmdModelId)) return {0x20};
        if (w == ToBytes(cmd::CmdFirmwareVersion)) return Framed(firmware);
        if (w == ToBytes(cmd::CmdPrinterName)) return Framed(name);
        if (w == ToBytes(cmd::CmdVersionSuffix)) return Condition(8, suffix);
        if (w.size() == 7 && w[5] == 0x04) return SwitchReply(switches.at(w[6]));
        if (w.size() == 7 && w[5] == 0x0C) return Condition(w[6], serial.at(w[6]));
        if (w.size() >= 6 && w[0] == 0x1D && w[1] == 0x28 && w[2] == 0x45 &&
            (w[5] == 1 || w[5] == 2 || w[5] == 3))
            return {0x37, 0x20, 0x00};
        return {};
    }

    void Attach(ScriptedPort& port) {
        port.onWrite = [this, &port](const Bytes& w) { port.Queue(Reply(w)); };
    }
};

}  // namespace tessaly::testing
