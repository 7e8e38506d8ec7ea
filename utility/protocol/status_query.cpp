#include "status_query.h"

#include <fmt/format.h>

#include <cstdlib>

#include "connection_check.h"
#include "status_commands.h"

namespace tessaly {
namespace {

// Switches in the order Get Status reads them.
constexpr std::array<int, 7> kReadOrder{2, 8, 9, 1, 10, 11, 12};

// A switch reply character stands for one bit only when it is '0' or '1'.
bool IsBitCharacter(std::uint8_t c) {
    return c == '0' || c == '1';
}

}  // namespace

Message messages::SwitchNotAnswered(int n) {
    return {fmt::format("The printer did not answer the query for memory switch {}. Nothing "
                        "was read or changed.\nCheck the cable and the line settings, switch the "
                        "printer off and on, and try again.",
                        n),
            "Warning", MessageIcon::Exclamation};
}

std::string CutFirmwareText(const std::string& text) {
    const auto blank = text.find(' ');
    return blank == std::string::npos ? std::string() : text.substr(0, blank + 1);
}

int FirmwareMajor(const std::string& cutText) {
    if (cutText.size() <= 2) return 0;
    const std::string window = cutText.substr(2, 2);
    std::size_t i = 0;
    while (i < window.size() && window[i] == ' ') ++i;
    bool negative = false;
    if (i < window.size() && (window[i] == '+' || window[i] == '-')) negative = window[i++] == '-';
    int value = 0;
    for (; i < window.size() && window[i] >= '0' && window[i] <= '9'; ++i)
        value = value * 10 + (window[i] - '0');
    return negative ? -value : value;
}

StatusExchange::StatusExchange(Session& session, PortType link, ProgressSink& progress,
                               StatusView& view, StatusRecord& record, StatusLimits limits)
    : session_(session),
      link_(link),
      progress_(progress),
      view_(view),
      record_(record),
      limits_(limits) {}

std::uint32_t StatusExchange::Read(std::uint32_t count, std::size_t offset) {
    if (offset >= buffer_.size()) return 0;
    const auto room = static_cast<std::uint32_t>(buffer_.size() - offset);
    return session_.port.Read(buffer_.data() + offset, count < room ? count : room,
                              kReplyTimeoutMs);
}

std::uint32_t StatusExchange::UsbRead() {
    Wait(200);
    const std::uint32_t n = Read(16);
    return n != 0 ? n : Read(16);
}

std::string StatusExchange::BufferText(std::size_t offset) const {
    std::string text;
    for (std::size_t i = offset; i < buffer_.size() && buffer_[i] != 0; ++i)
        text += static_cast<char>(buffer_[i]);
    return text;
}

void StatusExchange::DiscardReplies() {
    for (int i = 0; i < 5; ++i) {
        Wait(100);
        Read(1);
    }
}

bool StatusExchange::Fail(StatusFailure failure) {
    failure_ = failure;
    return false;
}

// Collects a 0x5F-framed text one byte at a time up to its NUL, dropping every
// '_'. A read that brings nothing ends the text as its NUL would: the byte left in
// the buffer is an old one and must not be appended again. Past the byte or time
// bound the reply is not this printer's.
StatusExchange::TextEnd StatusExchange::ReadTextBytes(std::string& text, bool stepEachByte) {
    const std::int64_t start = session_.clock.now();
    for (std::uint32_t count = 0;; ++count) {
        if (count >= limits_.maxTextBytes || session_.clock.now() - start >= limits_.textLimitMs)
            return TextEnd::Overrun;
        const std::uint8_t byte = Read(1) == 0 ? 0 : buffer_[0];
        if (byte != 0 && byte != cmd::kNameHeader) text += static_cast<char>(byte);
        if (stepEachByte) progress_.step();
        if (byte == 0) return TextEnd::Complete;
    }
}

bool StatusExchange::DrainInput() {
    const bool drained = tessaly::DrainInput(session_, limits_.drain);
    ClearBuffer();
    return drained || Fail(StatusFailure::EndlessInput);
}

bool StatusExchange::QueryFirmwareVersion() {
    if (!usb() && !DrainInput()) return false;
    session_.Write(cmd::CmdFirmwareVersion);
    std::string text;
    ClearBuffer();
    if (usb()) {
        UsbRead();
        text = BufferText(1);
    } else {
        Wait(100);
        if (ReadTextBytes(text, false) == TextEnd::Overrun) return Fail(StatusFailure::WrongName);
        if (!DrainInput()) return false;
    }
    const std::string cut = CutFirmwareText(text);
    const int major = FirmwareMajor(cut);

    session_.Write(cmd::CmdVersionSuffix);
    ClearBuffer();
    std::string suffix;
    if (usb()) {
        UsbRead();
        suffix = BufferText(4);
    } else {
        Wait(100);
        // The four leading bytes land in the first buffer byte and are overwritten
        // by the fifth, the first character of the suffix.
        for (int i = 0; i < 5; ++i) Read(1);
        for (std::size_t i = 1; i <= 4; ++i) Read(1, i);
        suffix = BufferText(0);
        // A suffix of five characters leaves at least its NUL unread, which the
        // printer-name query would then take for an empty name. Consume the rest
        // of this reply (bounded); only the first five characters count.
        if (suffix.size() == 5) {
            std::string rest;
            ReadTextBytes(rest, false);
        }
    }
    record_.identity.firmwareVersionText = cut + suffix;
    record_.identity.firmwareMajor = major;
    view_.showIdentity(record_.identity);
    return true;
}

bool StatusExchange::CheckPrinterName() {
    if (!record_.identity.firmwareVersionText.empty()) return true;
    if (!QueryFirmwareVersion()) {
        session_.notifier.notify(failure_ == StatusFailure::EndlessInput
                                     ? messages::kEndlessInput
                                     : messages::kWrongPrinterName);
        return false;
    }
    session_.Write(cmd::CmdPrinterName);
    std::string name;
    ClearBuffer();
    bool complete = true;
    if (usb()) {
        UsbRead();
        name = BufferText(1);
    } else {
        Wait(100);
        complete = ReadTextBytes(name, true) == TextEnd::Complete;
        if (complete) DiscardReplies();
    }
    record_.identity.modelNameText = name;
    if (!complete || name.find(cmd::kPrinterName) == std::string::npos) {
        session_.notifier.notify(messages::kWrongPrinterName);
        return Fail(StatusFailure::WrongName);
    }
    view_.showIdentity(record_.identity);
    return true;
}

bool StatusExchange::IdentifyPrinter() {
    failure_ = StatusFailure::None;
    if (session_.Write(cmd::CmdInitialize) != 0) {
        session_.Write(cmd::CmdSelectPrinter);
        if (!CheckPrinterName()) {
            if (failure_ != StatusFailure::EndlessInput)
                session_.notifier.notify(messages::kDontUseProgram);
            return false;
        }
        session_.Write(cmd::CmdDisableStatusBack);
        if (!usb()) DiscardReplies();
        session_.Write(cmd::CmdModelId);
        ClearBuffer();
        if (usb()) {
            UsbRead();
        } else {
            Wait(100);
            Read(1);
        }
    } else {
        // Nothing was written: the buffer still holds the reset command, which is
        // no model id.
        ClearBuffer();
        buffer_[0] = cmd::CmdInitialize[0];
    }
    if (buffer_[0] == cmd::kModelId) return true;
    if (!usb()) {
        // The query is not repeated; these reads only give a slow printer time.
        for (int attempt = 0; attempt < 10; ++attempt) {
            Wait(100);
            Read(1);
            if (buffer_[0] == cmd::kModelId) return true;
            ClearBuffer();
        }
    }
    session_.notifier.notify(messages::kCantConnect);
    progress_.setPosition(0);
    return Fail(StatusFailure::NoModelId);
}

std::optional<std::array<std::int32_t, 8>> StatusExchange::ReadMemorySwitch(int n,
                                                                            bool firstOfGetStatus) {
    session_.Write(cmd::CmdReadSwitch(static_cast<std::uint8_t>(n)));
    ClearBuffer();
    // The reply is 37, one byte, the eight characters and one byte; the
    // characters must all have come within the read that carries them.
    std::size_t offset = 1;
    bool whole = false;
    if (usb()) {
        whole = UsbRead() >= 10;
        offset = 2;
    } else {
        Wait(100);
        bool header = Read(1) == 1;
        if (firstOfGetStatus) {
            progress_.step();
            // Skips whatever precedes the reply header, within bounds.
            const std::int64_t start = session_.clock.now();
            std::uint32_t reads = 0;
            while (buffer_[0] != cmd::kSwitchReplyHeader) {
                if (reads++ >= limits_.maxHeaderReads ||
                    session_.clock.now() - start >= limits_.headerLimitMs) {
                    failure_ = StatusFailure::NoSwitchReply;
                    return std::nullopt;
                }
                header = Read(1) == 1;
            }
        }
        whole = header && Read(10) >= 9;
        if (!firstOfGetStatus) progress_.step();
    }
    std::array<std::int32_t, 8> bits{};
    for (int k = 1; k <= 8; ++k) {
        // The reply lists bit 8 first and bit 1 last.
        const std::uint8_t c = buffer_[offset + static_cast<std::size_t>(8 - k)];
        whole = whole && IsBitCharacter(c);
        bits[static_cast<std::size_t>(k - 1)] = static_cast<std::int32_t>(c) - 0x30;
        progress_.step();
    }
    if (!whole) {
        failure_ = StatusFailure::NoSwitchReply;
        return std::nullopt;
    }
    return bits;
}

std::string StatusExchange::QuerySerialCondition(std::uint8_t a) {
    session_.Write(cmd::CmdSerialCondition(a));
    if (a != 1) progress_.step();
    ClearBuffer();
    std::string text;
    if (usb()) {
        UsbRead();
        text = BufferText(4);
        buffer_.fill(0);
        for (std::size_t i = 0; i < text.size(); ++i)
            buffer_[i] = static_cast<std::uint8_t>(text[i]);
    } else {
        Wait(100);
        for (int i = 0; i < 5; ++i) Read(1);
        const std::size_t extra = a == 1 ? 6 : 2;
        for (std::size_t i = 1; i <= extra; ++i) Read(1, i);
        text = BufferText(0);
    }
    progress_.step();

    SerialConditions& serial = record_.serial;
    const int first = static_cast<int>(buffer_[0]) - 0x30;
    switch (a) {
        case 1:
            for (std::size_t i = 0; i < kBaudTexts.size(); ++i) {
                if (text == kBaudTexts[i]) serial.baudIndex = static_cast<int>(i);
            }
            break;
        case 2:
            serial.parityIndex = first;
            break;
        case 3:
            serial.flowIndex = first;
            break;
        case 4:
            if (buffer_[0] == '7') serial.dataBitsIndex = 0;
            if (buffer_[0] == '8') serial.dataBitsIndex = 1;
            break;
        default:
            break;
    }
    return text;
}

void StatusExchange::FailurePath() {
    view_.setButtonsEnabled(kSetButton | kSaveButton, false);
    view_.refreshPages(false);
    view_.setButtonsEnabled(kGetButton | kLoadButton | kInitializeButton, false);
}

bool StatusExchange::GetStatus() {
    view_.setButtonsEnabled(kOperationButtons, false);
    progress_.setStep(1);
    progress_.setPosition(0);
    if (!IdentifyPrinter()) {
        FailurePath();
        return false;
    }
    // The switches are kept only once all seven were read: a switch the printer
    // did not answer must neither be shown nor saved, nor be half of a record.
    PrinterSettings read = record_.settings;
    for (const int n : kReadOrder) {
        const auto bits = ReadMemorySwitch(n, n == kReadOrder.front());
        if (!bits) {
            session_.notifier.notify(messages::SwitchNotAnswered(n));
            progress_.setPosition(0);
            FailurePath();
            return false;
        }
        SwitchBits& target = *SwitchByNumber(read, n);
        for (std::size_t k = 1; k <= 8; ++k) target[k] = (*bits)[k - 1];
    }
    record_.settings = read;
    for (std::uint8_t a = 1; a <= 4; ++a) QuerySerialCondition(a);
    if (!usb()) DiscardReplies();
    session_.Write(cmd::CmdSelectPrinter);
    progress_.step();
    progress_.setPosition(100);
    session_.notifier.notify(messages::kGetStatusSuccess);

    view_.showSerialConditions(record_.serial);
    view_.setButtonsEnabled(kOperationButtons, true);
    view_.refreshPages(true);
    progress_.setPosition(0);
    return true;
}

}  // namespace tessaly
