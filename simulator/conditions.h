#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tessaly::sim {

// The printer's mechanical and error conditions, as its sensors report them.
struct Conditions {
    enum class Paper { Ok, NearEnd, End };
    enum class Error { None, Cutter, Unrecoverable, AutoRecoverable };

    Paper paper = Paper::Ok;
    bool coverOpen = false;
    bool drawerOpen = false;  // the drawer's switch on connector pin 3
    bool offline = false;     // taken offline by hand (the panel)
    Error error = Error::None;

    // Printing stops (and input waits) while any of these holds.
    bool stopped() const {
        return offline || coverOpen || paper == Paper::End || error != Error::None;
    }
    bool operator==(const Conditions&) const = default;
};

// Changes one condition from "key value" (or key=value), the words of the
// control socket and of r3-sim's --set: paper ok|near-end|end, cover
// open|closed, drawer open|closed, online, offline, error
// none|cutter|unrecoverable|auto-recoverable. Returns an error text or nothing.
std::optional<std::string> ApplyCondition(Conditions& conditions, const std::string& setting);
// "paper=ok cover=closed drawer=closed online error=none"
std::string DescribeConditions(const Conditions& conditions);

// The status bytes the printer sends, bit by bit as its command reference gives
// them. The drawer switch reads high (1) while the drawer is closed.
std::uint8_t RealTimeStatus(const Conditions& conditions, int n);  // DLE EOT n, n 1..4
std::uint8_t PaperSensorStatus(const Conditions& conditions);      // GS r 1, ESC v
std::uint8_t DrawerStatus(const Conditions& conditions);           // GS r 2, ESC u
// Automatic status back: four bytes, sent on every change of an enabled kind.
std::array<std::uint8_t, 4> AutomaticStatus(const Conditions& conditions);
// Whether the kinds GS a n enables (bit 0 drawer, 1 online, 2 error, 3 paper)
// differ between two sets of conditions.
bool AutomaticStatusChanged(const Conditions& before, const Conditions& after,
                            std::uint8_t enabled);

}  // namespace tessaly::sim
