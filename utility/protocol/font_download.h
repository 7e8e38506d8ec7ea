#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "pacing_engine.h"
#include "payloads.h"
#include "printer_settings.h"
#include "progress_sink.h"
#include "session.h"
#include "set_status.h"
#include "status_view.h"

namespace tessaly {

// Timer ids of the font download; each runs with a 10 ms period.
enum DownloadTimerId : int { kSendTimer = 1, kSuccessTimer = 2, kFailureTimer = 3 };
inline constexpr std::uint32_t kDownloadTimerPeriodMs = 10;
inline constexpr std::uint32_t kHeaderBlockSize = 64;
// After the header block the printer gets five 3-second pauses (none for 146).
inline constexpr std::uint32_t kPausePartMs = 3000;
inline constexpr int kPauseParts = 5;
// Wait after each non-final 4096-byte block.
inline constexpr std::uint32_t kBlockWaitMs = 10;

// The payload a buyer set needs: 2 KOR -> 144, 3 CHN-GB2312 -> 142, 5 JAP -> 143,
// 4 CHN-BIG5 -> 146 for model 0 with firmware major below 4, else 141. 0 for any
// other buyer set.
int ChooseFontPayload(int buyerSetIndex, int modelIndex, int firmwareMajor);
// Bytes per timer event: 64 on USB with model 0, 4096 otherwise.
std::uint32_t DownloadBlockSize(PortType link, int modelIndex);

// Sends a font payload after Set Status changed the buyer set: a 64-byte header
// block and a pause, then one block per SendTimer event, then a closing message.
// Short writes, the final one included, resume where the port stopped taking;
// success is reported only once every byte has left the computer.
// The caller routes every timer event of `timers` to OnDownloadTimer.
class FontDownload final : public FontDownloadStarter {
  public:
    enum class Outcome { None, Running, Succeeded, Failed, NothingToSend };
    using PayloadLookup = std::function<std::optional<payloads::FontPayload>(int id)>;

    FontDownload(Session& session, PortType link, int modelIndex, ProgressSink& progress,
                 StatusView& view, TimerControl& timers, const PrinterIdentity& identity,
                 PayloadLookup lookup = payloads::FindFontPayload);

    // Buyer sets other than 2..5 send nothing. Whoever starts Set Status asks
    // about stand-in payloads before anything is written (StandInPayloads).
    void StartFontDownload(int buyerSetIndex) override;
    void OnDownloadTimer(int timerId);

    Outcome outcome() const { return outcome_; }
    bool active() const { return outcome_ == Outcome::Running; }
    int payloadId() const { return payloadId_; }
    std::uint32_t blockCounter() const { return blockCounter_; }
    std::uint32_t remaining() const { return remaining_; }

  private:
    void End(Outcome outcome, const Message* message);

    Session& session_;
    PortType link_;
    int modelIndex_;
    ProgressSink& progress_;
    StatusView& view_;
    TimerControl& timers_;
    const PrinterIdentity& identity_;
    PayloadLookup lookup_;

    std::vector<std::uint8_t> copy_;  // private copy of the payload being sent
    std::size_t cursor_ = 0;
    std::uint32_t remaining_ = 0;
    std::uint32_t blockCounter_ = 0;
    int payloadId_ = 0;
    Outcome outcome_ = Outcome::None;
};

// The stand-in payloads that a Set Status with this buyer-set list entry may
// send, in the order to name them; empty when it sends none or only real font
// data. CHN-BIG5 sends 141 or 146 by the firmware that is read after the write.
std::vector<int> StandInPayloads(int buyerSetIndex, int modelIndex,
                                 const FontDownload::PayloadLookup& lookup);

namespace messages {
inline const Message kFontDownloadSuccess{"Success to Download Font!, And Reboot Printer",
                                          "Information", MessageIcon::Information};
inline const Message kFontDownloadFailure{"Fail to download Font!", "Warning", MessageIcon::Stop};
// Asked before Set Status writes anything that leads to stand-in font data.
Message StandInPayloadWarning(int payloadId);
}  // namespace messages

}  // namespace tessaly
