#pragma once

#include <array>
#include <cstdint>

#include "status_query.h"

namespace tessaly {

// Receives the hand-over from Set Status when a national buyer set was written.
class FontDownloadStarter {
  public:
    virtual ~FontDownloadStarter() = default;
    virtual void StartFontDownload(int buyerSetIndex) = 0;
};

enum class SetStatusOutcome {
    HandshakeFailed,      // nothing was written; only Exit is usable
    Done,                 // switches written, success shown, buttons usable again
    FontDownloadStarted,  // switches written, the font download now owns the dialog
    WriteFailed,          // a write was not taken whole; only Exit is usable
    StandInsDeclined,     // the user would not send stand-in font data; nothing written
};

// The characters of a switch write, bit 8 first: '1' for a set bit, '0' otherwise.
std::array<char, 8> SwitchCharacters(const SwitchBits& bits);
// Switch 1 is written through the template "22200222": only bit 5 (Auto Line Feed)
// and bit 4 (Internal Buzzer Control) are set or cleared, the printer keeps the rest.
std::array<char, 8> Switch1Characters(const SwitchBits& msw1);

// Writes memory switch n; on byte links reads (and ignores) the 3-byte answer.
// False when the port did not take the whole command.
bool WriteMemorySwitch(StatusExchange& exchange, int n, const std::array<char, 8>& chars,
                       bool step = true);

// Writes the record into the printer inside one user-setup period. Once IN has
// been sent, OUT is always sent. A write the port does not take whole ends the
// run: OUT is still tried once, then the failure is reported and only Exit stays
// usable. Hands over to the font download when a national buyer set (KOR,
// CHN-GB2312, CHN-BIG5, JAP) was chosen.
SetStatusOutcome SetStatus(StatusExchange& exchange, FontDownloadStarter& download);

// Resets the user-settable part of the record (Auto Line Feed and the other bits
// of switch 1 stay) and selects "STD"; no printer traffic.
void InitializeStatus(PrinterSettings& settings, StatusView& view);

namespace messages {
inline const Message kSwitch8NotSetUp{"The Memory Switch 8 doesn't set up!!", "Warning",
                                      MessageIcon::Exclamation};
inline const Message kSwitch10NotSetUp{"The Memory Switch 10 doesn't set up!!", "Warning",
                                       MessageIcon::Exclamation};
inline const Message kSwitch11NotSetUp{"The Memory Switch 11 doesn't set up!!", "Warning",
                                       MessageIcon::Exclamation};
inline const Message kStartFontDownload{
    "Success to Change the Firmware,\n And Now Start Font Download!", "Notice",
    MessageIcon::Exclamation};
inline const Message kSetStatusSuccess{"Success to set status of printer", "Information",
                                       MessageIcon::Information};
// Set Status stopped because the printer did not take the write of `step`.
Message SetStatusFailed(const std::string& step);
}  // namespace messages

}  // namespace tessaly
