#include "command_test_editor.h"

#include <fmt/format.h>

#include <memory>

#include "hex_text.h"
#include "regular_file.h"
#include "status_file.h"

namespace tessaly::ui {

const Message CommandTestEditor::kNoDataToWrite{"No data to write", "Warning",
                                                MessageIcon::Exclamation};
const Message CommandTestEditor::kNoSaveFile{"Don't select save file", "Warning",
                                             MessageIcon::Exclamation};
const Message CommandTestEditor::kNoLoadFile{"Don't select load file", "warning",
                                             MessageIcon::Exclamation};
const FileDialogRequest CommandTestEditor::kSaveRequest{
    "command.bin", {{"Binary files(*.bin)", "*.bin"}, {"All files(*.*)", "*.*"}}, "bin", false};
const FileDialogRequest CommandTestEditor::kLoadRequest{
    "*.bin", {{"Binary files(*.bin)", "*.bin"}, {"All files(*.*)", "*.*"}}, "bin", false};
const std::string CommandTestEditor::kTestString =
    "Command Test String Line1\r\nCommand Test String Line2";
const std::vector<std::uint8_t> CommandTestEditor::kPrintAndFeed{0x1B, 0x4A, 0xFF};

CommandTestEditor::CommandTestEditor(PrinterPort& port, Notifier& notifier, OperationRunner& runner,
                                     EditorHost& host)
    : port_(port), notifier_(notifier), runner_(runner), host_(host) {}

const char* CommandTestEditor::CannedText(Canned command) {
    switch (command) {
        case Canned::FontA:
            return "1b 21 00 ";
        case Canned::FontB:
            return "1b 21 01 ";
        case Canned::LeftAlignment:
            return "1b 61 00 ";
        case Canned::CenterAlignment:
            return "1b 61 01 ";
        case Canned::RightAlignment:
            return "1b 61 02 ";
        case Canned::PaperCut:
            return "0a 1d 56 42 00 ";
        case Canned::Feed:
            return "0a ";
        case Canned::Drawer1:
            return "1b 70 00 19 ff ";
        case Canned::Drawer2:
            return "1b 70 01 19 ff ";
    }
    return "";
}

std::string CommandTestEditor::LineSpacingText(bool useDefault, int value) {
    if (useDefault) return "1b 32 ";
    return fmt::format("1b 33 {:02x} ", static_cast<unsigned>(value) & 0xFFu);
}

std::string CommandTestEditor::SetCodepageText(const std::array<bool, 6>& bits) {
    std::string text = "1d 28 45 03 00 01 49 4e ";  // enter the user setting mode
    text += "1d 28 45 0a 00 03 02 ";                // memory switch 2, bits 8 down to 1
    for (const std::size_t bit : {4u, 3u, 2u, 1u, 0u, 5u}) text += bits[bit] ? "31 " : "30 ";
    text += "30 30 1d 28 45 04 00 02 4f 55 54 ";  // bits 2 and 1, then leave setup
    return text;
}

void CommandTestEditor::OnTextChanged(std::string text) {
    commandText_ = std::move(text);
}

void CommandTestEditor::ShowText() {
    if (onTextReplaced) onTextReplaced();
}

void CommandTestEditor::AppendCommand(const std::string& text) {
    commandText_ += text;
    ShowText();
}

void CommandTestEditor::OnCanned(Canned command) {
    if (busy_) return;
    AppendCommand(CannedText(command));
}

void CommandTestEditor::OnBoldClicked(bool ticked) {
    if (busy_) return;
    bold_ = ticked;
    AppendCommand(ticked ? "1b 45 01 " : "1b 45 00 ");
}

void CommandTestEditor::OnUnderlineClicked(bool ticked) {
    if (busy_) return;
    underline_ = ticked;
    AppendCommand(ticked ? "1b 2d 01 " : "1b 2d 00 ");
}

void CommandTestEditor::OnLineSpacing() {
    if (busy_) return;
    SelectRangeDialog dialog;
    if (host_.Run(dialog))
        commandText_ += LineSpacingText(dialog.useDefault(), dialog.rangeValue());
    ShowText();
}

void CommandTestEditor::OnSelectCodepage() {
    if (busy_) return;
    SelectCodepageDialog dialog;
    if (host_.Run(dialog) && dialog.selectedIndex() >= 0) {
        commandText_ += "1b 74 ";
        commandText_ +=
            SelectCodepageDialog::kEntries[static_cast<std::size_t>(dialog.selectedIndex())]
                .escTValue;
    }
    ShowText();
}

void CommandTestEditor::OnSetCodepage() {
    if (busy_) return;
    SelectCodepageDialog dialog;
    if (host_.Run(dialog)) commandText_ += SetCodepageText(dialog.indexBits());
    ShowText();
}

void CommandTestEditor::OnPrintNvImage() {
    if (busy_) return;
    SelectAddressDialog dialog;
    if (host_.Run(dialog)) commandText_ += "1c 70 " + dialog.addressText() + " 00 ";
    ShowText();
}

// A text that is neither hexadecimal digits nor separators has no defined bytes;
// it is refused with a message instead of sending or saving made-up values.
bool CommandTestEditor::RefuseNonHexText() {
    const auto error = FindHexTextError(commandText_);
    if (!error) return false;
    notifier_.notify({error->Describe(), "Warning", MessageIcon::Exclamation});
    return true;
}

void CommandTestEditor::Write(std::vector<std::vector<std::uint8_t>> writes) {
    busy_ = true;
    auto shared = std::make_shared<std::vector<std::vector<std::uint8_t>>>(std::move(writes));
    runner_.Run(
        [this, shared] {
            // Fire and forget: the printer's answer to a raw command is not ours
            // to judge, so a short write is not reported.
            for (const auto& bytes : *shared)
                port_.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        },
        [this] {
            busy_ = false;
            if (onChanged) onChanged();
        });
}

void CommandTestEditor::OnWriteCommand() {
    if (busy_ || commandText_.empty()) return;
    if (RefuseNonHexText()) return;
    std::vector<std::uint8_t> bytes = ParseHexText(commandText_);
    if (bytes.empty()) return;
    Write({std::move(bytes)});
}

void CommandTestEditor::OnPrintTestString() {
    if (busy_) return;
    Write({std::vector<std::uint8_t>(kTestString.begin(), kTestString.end()), kPrintAndFeed});
}

void CommandTestEditor::OnClear() {
    if (busy_) return;
    commandText_.clear();
    ShowText();
}

void CommandTestEditor::OnSave() {
    if (busy_) return;
    if (commandText_.empty()) {
        notifier_.notify(kNoDataToWrite);
        return;
    }
    const auto path = host_.ChooseSaveFile(kSaveRequest);
    if (!path) {
        notifier_.notify(kNoSaveFile);
        return;
    }
    if (RefuseNonHexText()) return;
    const std::vector<std::uint8_t> bytes = ParseHexText(commandText_);
    // Written beside the target and renamed over it: a failed save leaves any
    // existing file whole, and a named pipe or device is refused at once.
    std::string reason;
    if (WriteFileReplacing(*path, bytes, &reason) != StatusFileResult::Ok) {
        notifier_.notify({fmt::format("Can't write the command file \"{}\": {}.", *path, reason),
                          "Warning", MessageIcon::Exclamation});
    }
}

void CommandTestEditor::OnLoad() {
    if (busy_) return;
    commandText_.clear();
    ShowText();
    const auto path = host_.ChooseLoadFile(kLoadRequest);
    if (!path) {
        notifier_.notify(kNoLoadFile);
        return;
    }
    // A directory, a named pipe, a device or an oversized file is refused at once
    // instead of freezing the window or filling its memory.
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!ReadCommandFile(*path, bytes, reason)) {
        notifier_.notify({CommandFileProblem(*path, reason), "Warning", MessageIcon::Exclamation});
        return;
    }
    commandText_ = FormatHexText(bytes);
    ShowText();
}

}  // namespace tessaly::ui
