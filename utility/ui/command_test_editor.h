#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "notifier.h"
#include "operation_runner.h"
#include "printer_port.h"
#include "selector_dialogs.h"

namespace tessaly::ui {

// A file dialog as the editor asks for it.
struct FileDialogRequest {
    std::string fileName;                                      // proposed name
    std::vector<std::pair<std::string, std::string>> filters;  // label, pattern
    std::string defaultExtension;                              // "bin"
    bool promptOverwrite = false;
};

// The modal dialogs the editor opens. The GUI shows real dialogs; tests script them.
class EditorHost {
  public:
    virtual ~EditorHost() = default;
    // Each runs the dialog over the given logic and returns true when it ended
    // with OK.
    virtual bool Run(SelectCodepageDialog& dialog) = 0;
    virtual bool Run(SelectRangeDialog& dialog) = 0;
    virtual bool Run(SelectAddressDialog& dialog) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> ChooseLoadFile(const FileDialogRequest& request) = 0;
};

// The command test editor without a toolkit: the command text, the canned
// commands appended to its end, writing it to the printer and command files.
// Writes to the printer go through the runner; while one runs (`busy()`) the
// handlers are ignored.
class CommandTestEditor {
  public:
    enum class Canned {
        FontA,
        FontB,
        LeftAlignment,
        CenterAlignment,
        RightAlignment,
        PaperCut,
        Feed,
        Drawer1,
        Drawer2,
    };

    static constexpr const char* kCaption = "Command Test Editor";
    static const Message kNoDataToWrite;
    static const Message kNoSaveFile;
    static const Message kNoLoadFile;
    static const FileDialogRequest kSaveRequest;
    static const FileDialogRequest kLoadRequest;
    // The 52 bytes of the test print, then print-and-feed.
    static const std::string kTestString;
    static const std::vector<std::uint8_t> kPrintAndFeed;

    CommandTestEditor(PrinterPort& port, Notifier& notifier, OperationRunner& runner,
                      EditorHost& host);

    static const char* CannedText(Canned command);
    // The text "Set Codepage" appends for a code page chosen by its index bits.
    static std::string SetCodepageText(const std::array<bool, 6>& indexBits);
    static std::string LineSpacingText(bool useDefault, int value);

    // The user edited the box.
    void OnTextChanged(std::string text);
    void AppendCommand(const std::string& text);

    void OnCanned(Canned command);
    // The check boxes report their state after the click.
    void OnBoldClicked(bool ticked);
    void OnUnderlineClicked(bool ticked);
    void OnLineSpacing();
    void OnSelectCodepage();
    void OnSetCodepage();
    void OnPrintNvImage();
    void OnWriteCommand();
    void OnPrintTestString();
    void OnClear();
    void OnSave();
    void OnLoad();

    const std::string& commandText() const { return commandText_; }
    bool boldChecked() const { return bold_; }
    bool underlineChecked() const { return underline_; }
    bool busy() const { return busy_; }

    // The editor replaced the box's text: show it and scroll to its end.
    std::function<void()> onTextReplaced;
    // An operation finished.
    std::function<void()> onChanged;

  private:
    void ShowText();
    void Write(std::vector<std::vector<std::uint8_t>> writes);
    bool RefuseNonHexText();

    PrinterPort& port_;
    Notifier& notifier_;
    OperationRunner& runner_;
    EditorHost& host_;
    std::string commandText_;
    bool bold_ = false;
    bool underline_ = false;
    bool busy_ = false;
};

}  // namespace tessaly::ui
