#include "set_status.h"

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

}  // namespace

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

void WriteMemorySwitch(StatusExchange& exchange, int n, const std::array<char, 8>& chars,
                       bool step) {
    exchange.session().Write(cmd::CmdWriteSwitch(static_cast<std::uint8_t>(n), chars));
    if (step) exchange.progress().step();
    if (!exchange.usb()) ReadAcknowledge(exchange);
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
    // return before OUT has been sent.
    session.Write(cmd::CmdEnterSetup);
    if (exchange.usb()) {
        exchange.ClearBuffer();
        exchange.UsbRead();
    } else {
        ReadAcknowledge(exchange);
    }
    progress.step();

    const BuyerChoice choice = view.buyerChoice();
    const int y = choice.listIndex;
    bool wroteSwitch12 = false;
    if (y != 0) {
        WriteMemorySwitch(exchange, 12, SwitchCharacters(settings.msw12), false);
        wroteSwitch12 = true;
        if (!IsNationalBuyerValue(choice.currentBuyerValue)) view.setCodePageListEnabled(true);
    }
    progress.step();

    WriteMemorySwitch(exchange, 1, Switch1Characters(settings.msw1));
    WriteMemorySwitch(exchange, 2, SwitchCharacters(settings.msw2));
    if (AllBitsSet(settings.msw8)) session.notifier.notify(messages::kSwitch8NotSetUp);
    WriteMemorySwitch(exchange, 8, SwitchCharacters(settings.msw8));
    WriteMemorySwitch(exchange, 9, SwitchCharacters(settings.msw9));
    if (AllBitsSet(settings.msw10)) session.notifier.notify(messages::kSwitch10NotSetUp);
    WriteMemorySwitch(exchange, 10, SwitchCharacters(settings.msw10));
    if (AllBitsSet(settings.msw11)) session.notifier.notify(messages::kSwitch11NotSetUp);
    WriteMemorySwitch(exchange, 11, SwitchCharacters(settings.msw11));

    session.Write(cmd::CmdLeaveSetup);
    exchange.Wait(100);
    if (exchange.usb()) {
        // Nothing reads the answers to the switch writes and OUT on USB; left
        // queued they would be taken for the firmware version re-read below.
        DiscardPendingUsbInput(exchange);
    } else {
        ReadAcknowledge(exchange);
    }
    // The printer restarts with the new settings.
    session.Write(cmd::CmdSelectPrinter);
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
