#include "font_download.h"

#include <fmt/format.h>

#include <algorithm>

namespace tessaly {

Message messages::StandInPayloadWarning(int payloadId) {
    return {fmt::format("This program was built without the printer's font data: font "
                        "payload {} is a stand-in of the right size whose characters are "
                        "meaningless. Sending it leaves the printer without usable characters "
                        "for the chosen buyer set.\n\nSend the stand-in anyway?",
                        payloadId),
            "Warning", MessageIcon::Exclamation, MessageButtons::YesNo};
}

int ChooseFontPayload(int buyerSetIndex, int modelIndex, int firmwareMajor) {
    switch (buyerSetIndex) {
        case 2:
            return 144;
        case 3:
            return 142;
        case 5:
            return 143;
        case 4:
            return modelIndex == 0 && firmwareMajor < 4 ? 146 : 141;
        default:
            return 0;
    }
}

std::vector<int> StandInPayloads(int buyerSetIndex, int modelIndex,
                                 const FontDownload::PayloadLookup& lookup) {
    std::vector<int> candidates;
    if (buyerSetIndex == 4 && modelIndex == 0) {
        candidates = {ChooseFontPayload(4, 0, 4), ChooseFontPayload(4, 0, 3)};
    } else if (const int id = ChooseFontPayload(buyerSetIndex, modelIndex, 0); id != 0) {
        candidates = {id};
    }
    std::vector<int> standIns;
    for (const int id : candidates) {
        const auto payload = lookup ? lookup(id) : std::nullopt;
        if (payload && payload->standIn) standIns.push_back(id);
    }
    return standIns;
}

std::uint32_t DownloadBlockSize(PortType link, int modelIndex) {
    return link == PortType::Usb && modelIndex == 0 ? 64 : 4096;
}

FontDownload::FontDownload(Session& session, PortType link, int modelIndex, ProgressSink& progress,
                           StatusView& view, TimerControl& timers, const PrinterIdentity& identity,
                           PayloadLookup lookup)
    : session_(session),
      link_(link),
      modelIndex_(modelIndex),
      progress_(progress),
      view_(view),
      timers_(timers),
      identity_(identity),
      lookup_(std::move(lookup)) {}

void FontDownload::StartFontDownload(int buyerSetIndex) {
    copy_.clear();
    remaining_ = 0;
    payloadId_ = ChooseFontPayload(buyerSetIndex, modelIndex_, identity_.firmwareMajor);
    const auto payload = payloadId_ != 0 && lookup_ ? lookup_(payloadId_) : std::nullopt;
    if (!payload) {
        // Nothing to send; the dialog must not stay locked waiting for a timer.
        End(Outcome::NothingToSend, payloadId_ != 0 ? &messages::kFontDownloadFailure : nullptr);
        return;
    }

    outcome_ = Outcome::Running;
    progress_.setStep(1);
    progress_.setPosition(10);
    copy_.assign(payload->data.begin(), payload->data.end());
    cursor_ = 0;
    remaining_ = static_cast<std::uint32_t>(copy_.size());
    blockCounter_ = 1;

    // The header block's result only moves the cursor: after a failed write the
    // first timed block starts again at byte 0.
    const auto header = std::min<std::uint32_t>(kHeaderBlockSize, remaining_);
    const std::uint32_t n = std::min(session_.port.Write(copy_.data(), header), header);
    cursor_ += n;
    remaining_ -= n;

    progress_.step();
    if (payloadId_ != 146) {
        for (int i = 0; i < kPauseParts; ++i) {
            session_.clock.sleep(kPausePartMs);
            progress_.step();
        }
    }
    timers_.startTimer(kSendTimer, kDownloadTimerPeriodMs);
}

void FontDownload::OnDownloadTimer(int timerId) {
    const std::uint32_t blockSize = DownloadBlockSize(link_, modelIndex_);
    timers_.stopTimer(timerId);
    if (outcome_ != Outcome::Running) return;  // a late event after the end

    if (timerId == kSendTimer) {
        ++blockCounter_;
        const bool final = remaining_ <= blockSize;
        const std::uint32_t size = final ? remaining_ : blockSize;
        const std::uint32_t n = std::min(session_.port.Write(copy_.data() + cursor_, size), size);
        if (!final) {
            if (blockSize == 64) {
                if ((blockCounter_ & 0xFF) == 0) progress_.step();
            } else {
                if (blockCounter_ % 4 == 0) progress_.step();
                session_.clock.sleep(kBlockWaitMs);
            }
        }
        // A short write resumes at the first byte the port did not take, the final
        // block too: the download succeeds only once every byte has left the
        // computer.
        cursor_ += n;
        remaining_ -= n;
        int next = kSendTimer;
        if (n == 0) {
            next = kFailureTimer;
        } else if (remaining_ == 0) {
            progress_.setPosition(100);
            next = session_.port.WaitSent() ? kSuccessTimer : kFailureTimer;
        }
        timers_.startTimer(next, kDownloadTimerPeriodMs);
        return;
    }
    if (timerId == kSuccessTimer) {
        End(Outcome::Succeeded, &messages::kFontDownloadSuccess);
    } else {
        End(Outcome::Failed, &messages::kFontDownloadFailure);
    }
}

void FontDownload::End(Outcome outcome, const Message* message) {
    outcome_ = outcome;
    if (message) session_.notifier.notify(*message);
    view_.setButtonsEnabled(kAllButtons, true);
    view_.setBuyerListEnabled(true);
    progress_.setPosition(0);
    copy_.clear();
    copy_.shrink_to_fit();
}

}  // namespace tessaly
