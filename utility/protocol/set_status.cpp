#include "set_status.h"

#include <fmt/format.h>

#include "status_commands.h"

namespace tessaly {
namespace {

bool AllBitsSet(const SwitchBits& bits) {
    for (int k = 1; k <= 8; ++k) {
        if (!BitSet(bits, k)) return false;
    }
    return true;
}

// Reads the printer's answer to IN, a switch write or OUT on a byte link.
void ReadAcknowledge(StatusExchange& exchange) {
    exchange.Wait(100);
    exchange.ClearBuffer();
    exchange.Read(3);
}

// Reads until a read brings nothing, at most 64 times.
void DiscardPendingUsbInput(StatusExchange& exchange) {
    for (int i = 0; i < 64; ++i) {
        exchange.ClearBuffer();
        if (exchange.Read(16) == 0) break;
    }
}

// Writes a command and tells whether the port took all of it.
template <std::size_t N>
bool Send(Session& session, const std::array<std::uint8_t, N>& command) {
    return session.Write(command) == N;
}

constexpr const char* kEnterStep = "the command that starts user setup (IN)";
constexpr const char* kLeaveStep = "the command that ends user setup (OUT)";
constexpr const char* kSelectStep = "the command that selects the printer (ESC = 1)";

// Ends a Set Status whose write of `step` failed: the user is told, and as
// after a failed handshake only Exit stays usable, for the link is in doubt.
SetStatusOutcome WriteFailed(StatusExchange& exchange, const std::string& step) {
    exchange.session().notifier.notify(messages::SetStatusFailed(step));
    exchange.progress().setPosition(0);
    exchange.FailurePath();
    exchange.view().setButtonsEnabled(kExitButton, true);
    return SetStatusOutcome::WriteFailed;
}

}  // namespace

Message messages::SetStatusFailed(const std::string& step) {
    return {fmt::format("Fail to set status of printer: {} could not be written.\nCheck the "
                        "cable and that the printer is switched on, then connect again and "
                        "repeat Set Status.",
                        step),
            "Warning", MessageIcon::Stop};
}

std::array<char, 8> SwitchCharacters(const SwitchBits& bits) {
    std::array<char, 8> chars{};
    for (int k = 1; k <= 8; ++k)
        chars[static_cast<std::size_t>(8 - k)] = BitSet(bits, k) ? '1' : '0';
    return chars;
}

std::array<char, 8> Switch1Characters(const SwitchBits& msw1) {
    std::array<char, 8> chars{'2', '2', '2', '0', '0', '2', '2', '2'};
    if (BitSet(msw1, 5)) chars[3] = '1';
    if (BitSet(msw1, 4)) chars[4] = '1';
    return chars;
}

bool WriteMemorySwitch(StatusExchange& exchange, int n, const std::array<char, 8>& chars,
                       bool step) {
    if (!Send(exchange.session(), cmd::CmdWriteSwitch(static_cast<std::uint8_t>(n), chars)))
        return false;
    if (step) exchange.progress().step();
    if (!exchange.usb()) ReadAcknowledge(exchange);
    return true;
}

SetStatusOutcome SetStatus(StatusExchange& exchange, FontDownloadStarter& download) {
    Session& session = exchange.session();
    ProgressSink& progress = exchange.progress();
    StatusView& view = exchange.view();
    const PrinterSettings& settings = exchange.record().settings;

    progress.setStep(2);
    progress.setPosition(0);
    if (!exchange.IdentifyPrinter()) {
        exchange.FailurePath();
        return SetStatusOutcome::HandshakeFailed;
    }
    view.setButtonsEnabled(kAllButtons, false);
    view.setCodePageListEnabled(false);
    view.setBuyerListEnabled(false);
    view.repaint();

    // From here on the printer is in its user-setup period: nothing below may
    // return before OUT has been sent. A write the port does not take whole ends
    // the writing; `failed` names its step.
    std::string failed;
    if (Send(session, cmd::CmdEnterSetup)) {
        if (exchange.usb()) {
            exchange.ClearBuffer();
            exchange.UsbRead();
        } else {
            ReadAcknowledge(exchange);
        }
        progress.step();
    } else {
        failed = kEnterStep;
    }

    auto writeSwitch = [&](int n, const std::array<char, 8>& chars, bool step = true) {
        if (failed.empty() && !WriteMemorySwitch(exchange, n, chars, step))
            failed = fmt::format("memory switch {}", n);
    };
    auto warnAllSet = [&](const SwitchBits& bits, const Message& warning) {
        if (failed.empty() && AllBitsSet(bits)) session.notifier.notify(warning);
    };

    const BuyerChoice choice = view.buyerChoice();
    const int y = choice.listIndex;
    bool wroteSwitch12 = false;
    if (y != 0 && failed.empty()) {
        writeSwitch(12, SwitchCharacters(settings.msw12), false);
        wroteSwitch12 = failed.empty();
        if (!IsNationalBuyerValue(choice.currentBuyerValue)) view.setCodePageListEnabled(true);
    }
    if (failed.empty()) progress.step();

    writeSwitch(1, Switch1Characters(settings.msw1));
    writeSwitch(2, SwitchCharacters(settings.msw2));
    warnAllSet(settings.msw8, messages::kSwitch8NotSetUp);
    writeSwitch(8, SwitchCharacters(settings.msw8));
    writeSwitch(9, SwitchCharacters(settings.msw9));
    warnAllSet(settings.msw10, messages::kSwitch10NotSetUp);
    writeSwitch(10, SwitchCharacters(settings.msw10));
    warnAllSet(settings.msw11, messages::kSwitch11NotSetUp);
    writeSwitch(11, SwitchCharacters(settings.msw11));

    // OUT once, whatever happened: a printer that still hears leaves user setup.
    // Success needs every byte so far to have left the computer.
    const bool left = Send(session, cmd::CmdLeaveSetup);
    if (!failed.empty() || !left || !session.port.WaitSent()) {
        if (failed.empty()) failed = kLeaveStep;
        return WriteFailed(exchange, failed);
    }
    exchange.Wait(100);
    if (exchange.usb()) {
        // Nothing reads the answers to the switch writes and OUT on USB; left
        // queued they would be taken for the firmware version re-read below.
        DiscardPendingUsbInput(exchange);
    } else {
        ReadAcknowledge(exchange);
    }
    // The printer restarts with the new settings.
    if (!Send(session, cmd::CmdSelectPrinter)) return WriteFailed(exchange, kSelectStep);
    for (int i = 0; i < 2; ++i) {
        progress.step();
        exchange.Wait(1000);
        progress.step();
    }

    if (view.buyerChoice().currentBuyerValue != -1) {
        exchange.QueryFirmwareVersion();
        view.refreshPages(true);
    }
    progress.setPosition(100);

    // Only the four national sets have font data; an out-of-range index from a
    // status file ends like any other run instead of announcing a download that
    // could never start.
    if (wroteSwitch12 && y >= 2 && y <= 5) {
        session.notifier.notify(messages::kStartFontDownload);
        progress.setPosition(0);
        view.setBuyerListEnabled(false);
        view.repaint();
        download.StartFontDownload(y);
        return SetStatusOutcome::FontDownloadStarted;
    }
    session.notifier.notify(messages::kSetStatusSuccess);
    progress.setPosition(0);
    view.setButtonsEnabled(kAllButtons, true);
    view.repaint();
    if (view.buyerChoice().printersBuyerValue == 0) view.setCodePageListEnabled(true);
    return SetStatusOutcome::Done;
}

void InitializeStatus(PrinterSettings& settings, StatusView& view) {
    settings.msw1[4] = 0;
    for (std::size_t k = 1; k <= 8; ++k) {
        settings.msw2[k] = 0;
        settings.msw8[k] = 0;
        settings.msw9[k] = 0;
        settings.msw10[k] = 0;
        settings.msw11[k] = 0;
        settings.msw12[k] = 0;
    }
    settings.buyerSetIndex = 1;
    view.setButtonsEnabled(kSetButton | kSaveButton, true);
    view.refreshPages(true);
    view.selectBuyerSet(1);
    view.repaint();
}

}  // namespace tessaly
