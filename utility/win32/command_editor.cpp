#include "command_editor.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "command_test_editor.h"
#include "dialog_support.h"
#include "resource.h"
#include "selectors.h"

namespace tessaly::win32 {
namespace {

class EditorView final : public ui::EditorHost {
  public:
    EditorView(ui::MainDialog& main, Worker& worker)
        : worker_(worker), logic_(main.port(), main.notifier(), worker, *this) {}

    INT_PTR Run(HWND parent) {
        return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_COMMAND_EDITOR), parent, Proc,
                               reinterpret_cast<LPARAM>(this));
    }

    bool Run(ui::SelectCodepageDialog& dialog) override {
        return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_SELECT_CODEPAGE), window_,
                               CodepageProc, reinterpret_cast<LPARAM>(&dialog)) == IDOK;
    }
    bool Run(ui::SelectRangeDialog& dialog) override {
        return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_SELECT_RANGE), window_, RangeProc,
                               reinterpret_cast<LPARAM>(&dialog)) == IDOK;
    }
    bool Run(ui::SelectAddressDialog& dialog) override {
        return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_SELECT_ADDRESS), window_,
                               AddressProc, reinterpret_cast<LPARAM>(&dialog)) == IDOK;
    }
    std::optional<std::string> ChooseSaveFile(const ui::FileDialogRequest& request) override {
        return ChooseFile(window_, request, true, nullptr);
    }
    std::optional<std::string> ChooseLoadFile(const ui::FileDialogRequest& request) override {
        return ChooseFile(window_, request, false, nullptr);
    }

  private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* view = Attached<EditorView>(dialog, message, lParam);
        if (message == WM_INITDIALOG) {
            view->Init(dialog);
            return TRUE;
        }
        if (view == nullptr) return FALSE;
        if (message == WM_COMMAND) return view->Command(LOWORD(wParam), HIWORD(wParam));
        if (message == WM_DESTROY) view->window_ = nullptr;
        return FALSE;
    }

    void Init(HWND dialog) {
        window_ = dialog;
        owner_ = std::make_unique<OwnerScope>(dialog);
        idle_ = std::make_unique<IdleScope>(worker_, [this] { OnIdle(); });
        logic_.onTextReplaced = [this] { ShowText(); };
        logic_.onChanged = [this] {
            if (UiBridge::instance().onUiThread()) Sync();
        };
        ShowText();
        Sync();
    }

    void ShowText() {
        if (window_ == nullptr) return;
        HWND box = GetDlgItem(window_, IDC_COMMAND_TEXT);
        settingText_ = true;
        SetWindowTextUtf8(box, logic_.commandText());
        settingText_ = false;
        const auto end = static_cast<WPARAM>(GetWindowTextLengthW(box));
        SendMessageA(box, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageA(box, EM_SCROLLCARET, 0, 0);
    }

    void Sync() {
        if (window_ == nullptr || worker_.busy()) return;
        CheckDlgButton(window_, IDC_BOLD, logic_.boldChecked() ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(window_, IDC_UNDERLINE,
                       logic_.underlineChecked() ? BST_CHECKED : BST_UNCHECKED);
    }

    // Close, the close box or Escape during a write: the dialog closes once the
    // write has gone out.
    void OnIdle() {
        if (closeRequested_) return Close(closeResult_);
        Sync();
    }

    void Close(int result) {
        idle_.reset();
        owner_.reset();
        EndDialog(window_, result);
    }

    INT_PTR Command(int id, int code) {
        if (id == IDC_COMMAND_TEXT) {
            if (code == EN_CHANGE && !settingText_)
                logic_.OnTextChanged(WindowTextUtf8(GetDlgItem(window_, IDC_COMMAND_TEXT)));
            return TRUE;
        }
        if (code != BN_CLICKED) return FALSE;
        if (id == IDOK || id == IDCANCEL) {
            closeRequested_ = worker_.busy();
            closeResult_ = id;
            if (!closeRequested_) Close(id);
            return TRUE;
        }
        if (worker_.busy()) {
            Sync();  // a click on a check box while writing is held back
            return TRUE;
        }
        using Canned = ui::CommandTestEditor::Canned;
        // Buttons that append a fixed command to the text.
        static constexpr std::pair<int, Canned> kCannedButtons[] = {
            {IDC_FONT_A, Canned::FontA},
            {IDC_FONT_B, Canned::FontB},
            {IDC_LEFT_ALIGNMENT, Canned::LeftAlignment},
            {IDC_CENTER_ALIGNMENT, Canned::CenterAlignment},
            {IDC_RIGHT_ALIGNMENT, Canned::RightAlignment},
            {IDC_PAPER_CUT, Canned::PaperCut},
            {IDC_FEED, Canned::Feed},
            {IDC_DRAWER1, Canned::Drawer1},
            {IDC_DRAWER2, Canned::Drawer2},
        };
        for (const auto& [button, canned] : kCannedButtons) {
            if (id != button) continue;
            logic_.OnCanned(canned);
            Sync();
            return TRUE;
        }
        switch (id) {
            case IDC_WRITE_COMMAND:
                logic_.OnWriteCommand();
                break;
            case IDC_PRINT_TEST_STRING:
                logic_.OnPrintTestString();
                break;
            case IDC_BOLD:
                logic_.OnBoldClicked(IsDlgButtonChecked(window_, IDC_BOLD) == BST_CHECKED);
                break;
            case IDC_UNDERLINE:
                logic_.OnUnderlineClicked(IsDlgButtonChecked(window_, IDC_UNDERLINE) ==
                                          BST_CHECKED);
                break;
            case IDC_LINE_SPACING:
                logic_.OnLineSpacing();
                break;
            case IDC_SELECT_CODEPAGE:
                logic_.OnSelectCodepage();
                break;
            case IDC_SET_CODEPAGE:
                logic_.OnSetCodepage();
                break;
            case IDC_PRINT_NV_IMAGE:
                logic_.OnPrintNvImage();
                break;
            case IDC_CLEAR:
                logic_.OnClear();
                break;
            case IDC_SAVE:
                logic_.OnSave();
                break;
            case IDC_LOAD:
                logic_.OnLoad();
                break;
            default:
                return FALSE;
        }
        Sync();
        return TRUE;
    }

    Worker& worker_;
    ui::CommandTestEditor logic_;
    HWND window_ = nullptr;
    bool settingText_ = false;
    bool closeRequested_ = false;
    int closeResult_ = IDCANCEL;
    std::unique_ptr<OwnerScope> owner_;
    std::unique_ptr<IdleScope> idle_;
};

}  // namespace

INT_PTR RunCommandEditor(HWND parent, ui::MainDialog& main, Worker& worker) {
    EditorView view(main, worker);
    return view.Run(parent);
}

}  // namespace tessaly::win32
