// The Win32 faces of the utility's dialogs, bound to the toolkit-free dialog logic.
// Printer exchanges run on the worker; while one runs, the dialogs keep painting
// and answering but hold user actions back (the logic ignores them anyway).

#include "main_window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "about_dialog.h"
#include "command_test_editor.h"
#include "pacing_engine.h"
#include "printer_settings.h"
#include "printer_status_dialog.h"
#include "resource.h"
#include "selector_dialogs.h"

namespace tessaly::win32 {
namespace {

HINSTANCE appInstance = nullptr;

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void FillCombo(HWND dialog, int id, const std::vector<std::string>& entries) {
    SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

template <typename Names>
std::vector<std::string> Texts(const Names& names) {
    return std::vector<std::string>(std::begin(names), std::end(names));
}

void Select(HWND dialog, int id, int index) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Selection(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

void Enable(HWND dialog, int id, bool on) {
    EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE);
}

// The owner of message boxes follows the dialog the user works in.
class OwnerScope {
  public:
    explicit OwnerScope(HWND window) : previous_(OwnerWindow()) { SetOwnerWindow(window); }
    ~OwnerScope() { SetOwnerWindow(previous_); }

  private:
    HWND previous_;
};

// Keeps a dialog's idle handler in place while it is the topmost dialog.
class IdleScope {
  public:
    IdleScope(Worker& worker, std::function<void()> handler)
        : worker_(worker), previous_(std::move(worker.onIdle)) {
        worker_.onIdle = std::move(handler);
    }
    ~IdleScope() { worker_.onIdle = std::move(previous_); }

  private:
    Worker& worker_;
    std::function<void()> previous_;
};

std::optional<std::string> ChooseFile(HWND owner, const ui::FileDialogRequest& request, bool save,
                                      const char* title) {
    std::string filter;
    for (const auto& [label, pattern] : request.filters) filter += label + '\0' + pattern + '\0';
    filter += '\0';
    char path[MAX_PATH] = {};
    request.fileName.copy(path, MAX_PATH - 1);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt =
        request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                   (save ? (request.promptOverwrite ? OFN_OVERWRITEPROMPT : 0) : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    if (!chosen) return std::nullopt;
    return std::string(path);
}

// The object a dialog works for: handed over with WM_INITDIALOG and kept in the
// dialog's user data for every message after it.
template <typename T>
T* Attached(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return reinterpret_cast<T*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// OK hands the choice to the selector; OK and Cancel both end its dialog.
template <typename Selector>
bool EndedByOkOrCancel(HWND dialog, WPARAM wParam, Selector& selector) {
    if (LOWORD(wParam) == IDOK) {
        selector.OnOk();
        EndDialog(dialog, IDOK);
        return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return true;
    }
    return false;
}

// ---- About ----

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, ui::AboutDialog::kVersionLine);
            SetDlgItemTextA(dialog, IDC_ABOUT_YEAR, ui::AboutDialog::kYearLine);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
    }
    return FALSE;
}

// ---- selector dialogs ----

INT_PTR CALLBACK CodepageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* logic = Attached<ui::SelectCodepageDialog>(dialog, message, lParam);
    switch (message) {
        case WM_INITDIALOG: {
            std::vector<std::string> names;
            for (const auto& entry : ui::SelectCodepageDialog::kEntries)
                names.emplace_back(entry.name);
            FillCombo(dialog, IDC_CODEPAGE_LIST, names);
            Select(dialog, IDC_CODEPAGE_LIST, logic->currentIndex());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_CODEPAGE_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
                logic->OnSelectionChanged(Selection(dialog, IDC_CODEPAGE_LIST));
                return TRUE;
            }
            if (EndedByOkOrCancel(dialog, wParam, *logic)) return TRUE;
            break;
    }
    return FALSE;
}

void ShowRange(HWND dialog, const ui::SelectRangeDialog& logic) {
    SendDlgItemMessageA(dialog, IDC_RANGE_SPIN, UDM_SETPOS32, 0, logic.value());
    SetDlgItemInt(dialog, IDC_RANGE_VALUE, static_cast<UINT>(logic.value()), FALSE);
    CheckDlgButton(dialog, IDC_DEFAULT_SPACING,
                   logic.defaultTicked() ? BST_CHECKED : BST_UNCHECKED);
    Enable(dialog, IDC_RANGE_VALUE, logic.valueEnabled());
    Enable(dialog, IDC_RANGE_SPIN, logic.valueEnabled());
}

INT_PTR CALLBACK RangeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* logic = Attached<ui::SelectRangeDialog>(dialog, message, lParam);
    switch (message) {
        case WM_INITDIALOG:
            SendDlgItemMessageA(dialog, IDC_RANGE_SPIN, UDM_SETRANGE32,
                                ui::SelectRangeDialog::kMinimum, ui::SelectRangeDialog::kMaximum);
            ShowRange(dialog, *logic);
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_RANGE_SPIN && header->code == UDN_DELTAPOS) {
                // The logic owns the value and its wrapping; the control only shows it.
                logic->Step(reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta);
                ShowRange(dialog, *logic);
                SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            break;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_DEFAULT_SPACING && HIWORD(wParam) == BN_CLICKED) {
                logic->OnDefaultClicked(IsDlgButtonChecked(dialog, IDC_DEFAULT_SPACING) ==
                                        BST_CHECKED);
                ShowRange(dialog, *logic);
                return TRUE;
            }
            if (EndedByOkOrCancel(dialog, wParam, *logic)) return TRUE;
            break;
    }
    return FALSE;
}

INT_PTR CALLBACK AddressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* logic = Attached<ui::SelectAddressDialog>(dialog, message, lParam);
    switch (message) {
        case WM_INITDIALOG:
            FillCombo(dialog, IDC_ADDRESS, ui::SelectAddressDialog::kEntries);
            SetDlgItemTextA(dialog, IDC_ADDRESS, logic->editText().c_str());
            return TRUE;
        case WM_COMMAND:
            // The edit field's text as it stands: a chosen entry or whatever was typed.
            if (LOWORD(wParam) == IDOK)
                logic->OnTextChanged(WindowText(GetDlgItem(dialog, IDC_ADDRESS)));
            if (EndedByOkOrCancel(dialog, wParam, *logic)) return TRUE;
            break;
    }
    return FALSE;
}

// ---- command test editor ----

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
        idle_ = std::make_unique<IdleScope>(worker_, [this] { Sync(); });
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
        SetWindowTextA(box, logic_.commandText().c_str());
        settingText_ = false;
        const auto end = static_cast<WPARAM>(logic_.commandText().size());
        SendMessageA(box, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageA(box, EM_SCROLLCARET, 0, 0);
    }

    void Sync() {
        if (window_ == nullptr || worker_.busy()) return;
        CheckDlgButton(window_, IDC_BOLD, logic_.boldChecked() ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(window_, IDC_UNDERLINE,
                       logic_.underlineChecked() ? BST_CHECKED : BST_UNCHECKED);
    }

    INT_PTR Command(int id, int code) {
        if (id == IDC_COMMAND_TEXT) {
            if (code == EN_CHANGE && !settingText_)
                logic_.OnTextChanged(WindowText(GetDlgItem(window_, IDC_COMMAND_TEXT)));
            return TRUE;
        }
        if (code != BN_CLICKED) return FALSE;
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
            case IDOK:
            case IDCANCEL:
                idle_.reset();
                owner_.reset();
                EndDialog(window_, id);
                return TRUE;
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
    std::unique_ptr<OwnerScope> owner_;
    std::unique_ptr<IdleScope> idle_;
};

// ---- printer status dialog and its pages ----

class StatusView {
  public:
    StatusView(ui::MainDialog& main, Worker& worker)
        : worker_(worker),
          pacing_(main.clock()),
          logic_(ui::StatusDialogDeps{main.port(), main.clock(), main.notifier(), worker, pacing_,
                                      main.modelIndex()}) {}
    ~StatusView() {
        // Never leave the worker inside this dialog's logic.
        pacing_.cancel();
        worker_.WaitIdle();
        *alive_ = false;
        logic_.onChanged = nullptr;
        logic_.progress().onPosition = nullptr;
    }

    INT_PTR Run(HWND parent) {
        return DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_PRINTER_STATUS), parent, Proc,
                               reinterpret_cast<LPARAM>(this));
    }

  private:
    bool working() const { return worker_.busy() || pacingRunning_; }

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* view = Attached<StatusView>(dialog, message, lParam);
        if (message == WM_INITDIALOG) {
            view->Init(dialog);
            return TRUE;
        }
        if (view == nullptr) return FALSE;
        switch (message) {
            case WM_COMMAND:
                return view->Command(LOWORD(wParam), HIWORD(wParam));
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                if (header->idFrom == IDC_STATUS_TAB && header->code == TCN_SELCHANGE) {
                    view->ShowPage(
                        static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
                    return TRUE;
                }
                break;
            }
        }
        return FALSE;
    }

    static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* view = reinterpret_cast<StatusView*>(GetWindowLongPtrA(page, DWLP_USER));
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(page, DWLP_USER, lParam);
            return TRUE;
        }
        if (view == nullptr) return FALSE;
        if (message == WM_COMMAND) return view->PageCommand(LOWORD(wParam), HIWORD(wParam));
        if (message == WM_CTLCOLORSTATIC) {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            const int row = id - IDC_SWITCH_LABEL0;
            if (row >= 0 && row < ui::MemorySwitchPage::kRows &&
                view->filled_[static_cast<std::size_t>(row)]) {
                const auto colours = ui::MemorySwitchPage::kFilledLabel;
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, RGB(colours.text.r, colours.text.g, colours.text.b));
                SetBkColor(dc,
                           RGB(colours.background.r, colours.background.g, colours.background.b));
                return reinterpret_cast<INT_PTR>(view->filledBrush_);
            }
        }
        return FALSE;
    }

    void Init(HWND dialog) {
        window_ = dialog;
        owner_ = std::make_unique<OwnerScope>(dialog);
        idle_ = std::make_unique<IdleScope>(worker_, [this] { OnIdle(); });
        const auto colours = ui::MemorySwitchPage::kFilledLabel;
        filledBrush_ =
            CreateSolidBrush(RGB(colours.background.r, colours.background.g, colours.background.b));

        HWND tab = GetDlgItem(dialog, IDC_STATUS_TAB);
        const std::array<const char*, 2> names{"Memory switch", "Printer Setting"};
        for (int i = 0; i < 2; ++i) {
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<char*>(names[static_cast<std::size_t>(i)]);
            SendMessageA(tab, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&item));
        }
        pages_[0] = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_MEMORY_SWITCH_PAGE),
                                       dialog, PageProc, reinterpret_cast<LPARAM>(this));
        pages_[1] = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_PRINTER_SETTING_PAGE),
                                       dialog, PageProc, reinterpret_cast<LPARAM>(this));
        RECT area;
        GetWindowRect(tab, &area);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
        SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        for (HWND page : pages_)
            SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left,
                         area.bottom - area.top, SWP_NOACTIVATE);
        HWND setting = pages_[1];
        FillCombo(setting, IDC_STATUS_BAUD, Texts(kBaudTexts));
        FillCombo(setting, IDC_STATUS_DATA_BITS, Texts(kDataBitsTexts));
        FillCombo(setting, IDC_STATUS_PARITY, Texts(kParityTexts));
        FillCombo(setting, IDC_STATUS_FLOW, Texts(kFlowTexts));
        FillCombo(setting, IDC_CODE_PAGE, Texts(kCodePageNames));
        FillCombo(setting, IDC_BUYER_SET, Texts(kBuyerSetNames));
        ShowPage(0);

        SendDlgItemMessageA(dialog, IDC_STATUS_PROGRESS, PBM_SETRANGE32, 0, 100);
        logic_.onChanged = [this] {
            if (UiBridge::instance().onUiThread()) Refresh();
        };
        // The bar follows every position at once, with the buttons as the operation
        // has set them by then.
        logic_.progress().onPosition = [this, alive = alive_](int position) {
            const unsigned enabled = logic_.enabledButtons();
            UiBridge::instance().Post([this, alive, position, enabled] {
                if (!*alive || window_ == nullptr) return;
                SendDlgItemMessageA(window_, IDC_STATUS_PROGRESS, PBM_SETPOS,
                                    static_cast<WPARAM>(position), 0);
                if (working()) ApplyButtons(enabled);
            });
        };
        Refresh();
    }

    void ShowPage(int index) {
        for (int i = 0; i < 2; ++i)
            ShowWindow(pages_[static_cast<std::size_t>(i)], i == index ? SW_SHOW : SW_HIDE);
    }

    void ApplyButtons(unsigned enabled) {
        const std::array<std::pair<int, unsigned>, 6> buttons{
            {{IDC_GET_STATUS, kGetButton},
             {IDC_SET_STATUS, kSetButton},
             {IDC_SAVE_STATUS, kSaveButton},
             {IDC_LOAD_STATUS, kLoadButton},
             {IDC_INITIALIZE_STATUS, kInitializeButton},
             {IDCANCEL, kExitButton}}};
        for (const auto& [id, bit] : buttons) Enable(window_, id, (enabled & bit) != 0);
    }

    void Refresh() {
        // The operation on the worker owns the state until it ends.
        if (window_ == nullptr || working()) return;
        ApplyButtons(logic_.enabledButtons());
        SendDlgItemMessageA(window_, IDC_STATUS_PROGRESS, PBM_SETPOS,
                            static_cast<WPARAM>(logic_.progress().position()), 0);
        RefreshPages();
        if (logic_.downloading()) StartDownloadEvents();
    }

    void RefreshPages() {
        auto& memory = logic_.memorySwitchPage();
        HWND page = pages_[0];
        for (int row = 0; row < ui::MemorySwitchPage::kRows; ++row) {
            filled_[static_cast<std::size_t>(row)] = memory.labelColours(row).has_value();
            Enable(page, IDC_SWITCH_LABEL0 + row, memory.labelEnabled(row));
            for (int choice = 0; choice < 2; ++choice) {
                const int id = IDC_SWITCH_CHOICE0 + 2 * row + choice;
                Enable(page, id, memory.choicesEnabled(row));
                CheckDlgButton(page, id,
                               memory.selection(row) == choice ? BST_CHECKED : BST_UNCHECKED);
            }
        }
        InvalidateRect(page, nullptr, TRUE);

        auto& setting = logic_.printerSettingPage();
        page = pages_[1];
        SetDlgItemTextA(page, IDC_MODEL_NAME, setting.modelNameText().c_str());
        SetDlgItemTextA(page, IDC_FIRMWARE_VERSION, setting.firmwareVersionText().c_str());
        const SerialConditions& serial = setting.serialSelections();
        Select(page, IDC_STATUS_BAUD, serial.baudIndex);
        Select(page, IDC_STATUS_DATA_BITS, serial.dataBitsIndex);
        Select(page, IDC_STATUS_PARITY, serial.parityIndex);
        Select(page, IDC_STATUS_FLOW, serial.flowIndex);
        Select(page, IDC_CODE_PAGE, setting.codePageSelection());
        Enable(page, IDC_CODE_PAGE, setting.codePageListEnabled());
        Select(page, IDC_BUYER_SET, setting.buyerSetSelection());
        Enable(page, IDC_BUYER_SET, setting.buyerListEnabled());
    }

    void StartDownloadEvents() {
        if (pacingRunning_ || closeRequested_) return;
        pacingRunning_ = true;
        ApplyButtons(logic_.enabledButtons());
        worker_.Run([this] { pacing_.run([this](int timerId) { logic_.OnTimer(timerId); }); },
                    [this] { pacingRunning_ = false; });
    }

    void OnIdle() {
        if (closeRequested_) {
            Close(closeResult_);
            return;
        }
        Refresh();
    }

    void Close(int result) {
        idle_.reset();
        owner_.reset();
        DeleteObject(filledBrush_);
        filledBrush_ = nullptr;
        HWND window = window_;
        window_ = nullptr;
        EndDialog(window, result);
    }

    INT_PTR Command(int id, int code) {
        if (code != BN_CLICKED) return FALSE;
        if (id == IDCANCEL || id == IDOK) {
            // Exit works during an exchange too: the dialog closes when it ends.
            if (working()) {
                closeRequested_ = true;
                closeResult_ = id;
                return TRUE;
            }
            Close(id);
            return TRUE;
        }
        if (working()) return TRUE;
        switch (id) {
            case IDC_GET_STATUS:
                logic_.OnGetStatus();
                break;
            case IDC_SET_STATUS:
                logic_.OnSetStatus();
                break;
            case IDC_INITIALIZE_STATUS:
                logic_.OnInitializeStatus();
                break;
            case IDC_SAVE_STATUS: {
                ui::FileDialogRequest request{
                    "Noname.sts", {{"Status Files (*.sts)", "*.sts"}}, "sts", true};
                if (const auto path = ChooseFile(window_, request, true, "Save current status"))
                    logic_.OnSaveStatus(*path);
                break;
            }
            case IDC_LOAD_STATUS: {
                ui::FileDialogRequest request{
                    "*.sts", {{"Status Files (*.sts)", "*.sts"}}, "sts", false};
                if (const auto path = ChooseFile(window_, request, false, "Load saved status"))
                    logic_.OnLoadStatus(*path);
                break;
            }
            default:
                return FALSE;
        }
        Refresh();
        return TRUE;
    }

    INT_PTR PageCommand(int id, int code) {
        // A choice made while an exchange runs is shown back as the logic has it
        // once the exchange ends.
        if (working()) return TRUE;
        const int choice = id - IDC_SWITCH_CHOICE0;
        if (code == BN_CLICKED && choice >= 0 && choice < 2 * ui::MemorySwitchPage::kRows) {
            logic_.memorySwitchPage().Click(choice / 2, choice % 2);
        } else if (code == CBN_SELCHANGE && id == IDC_CODE_PAGE) {
            logic_.printerSettingPage().OnCodePageSelected(Selection(pages_[1], IDC_CODE_PAGE));
        } else if (code == CBN_SELCHANGE && id == IDC_BUYER_SET) {
            logic_.printerSettingPage().OnBuyerSetSelected(Selection(pages_[1], IDC_BUYER_SET));
        } else {
            return FALSE;
        }
        RefreshPages();
        return TRUE;
    }

    Worker& worker_;
    PacingEngine pacing_;
    ui::PrinterStatusDialog logic_;
    HWND window_ = nullptr;
    std::array<HWND, 2> pages_{};
    std::array<bool, ui::MemorySwitchPage::kRows> filled_{};
    HBRUSH filledBrush_ = nullptr;
    bool pacingRunning_ = false;
    bool closeRequested_ = false;
    int closeResult_ = IDCANCEL;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<OwnerScope> owner_;
    std::unique_ptr<IdleScope> idle_;
};

// ---- main dialog ----

class MainView {
  public:
    MainView(ui::MainDialog& logic, Worker& worker) : logic_(logic), worker_(worker) {}

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* view = Attached<MainView>(dialog, message, lParam);
        if (message == WM_INITDIALOG) {
            view->Init(dialog);
            return TRUE;
        }
        if (view == nullptr) return FALSE;
        switch (message) {
            case WM_COMMAND:
                return view->Command(LOWORD(wParam), HIWORD(wParam));
            case WM_SYSCOMMAND:
                if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), dialog, AboutProc,
                                    0);
                    return TRUE;
                }
                break;
            case WM_PAINT:
                if (IsIconic(dialog)) {
                    view->PaintIcon();
                    return TRUE;
                }
                break;
            case WM_QUERYDRAGICON:
                SetWindowLongPtrA(dialog, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(view->icon_));
                return TRUE;
        }
        return FALSE;
    }

  private:
    void Init(HWND dialog) {
        window_ = dialog;
        SetOwnerWindow(dialog);
        worker_.onIdle = [this] { OnIdle(); };
        char about[64] = {};
        HMENU menu = GetSystemMenu(dialog, FALSE);
        if (menu != nullptr && LoadStringA(appInstance, IDS_ABOUTBOX, about, sizeof about) > 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
        icon_ = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_APP));
        SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
        FillCombo(dialog, IDC_MODEL, ui::MainDialog::kModels);
        FillCombo(dialog, IDC_DATA_BITS, ui::MainDialog::kDataBits);
        FillCombo(dialog, IDC_PARITY, ui::MainDialog::kParities);
        FillCombo(dialog, IDC_STOP_BITS, ui::MainDialog::kStopBits);
        FillCombo(dialog, IDC_FLOW_CONTROL, ui::MainDialog::kFlowControls);
        logic_.onChanged = [this] {
            if (UiBridge::instance().onUiThread()) Refresh();
        };
        logic_.Initialize();
        Refresh();
    }

    void Refresh() {
        if (window_ == nullptr || worker_.busy()) return;
        if (logic_.portNames() != shownPorts_) {
            shownPorts_ = logic_.portNames();
            FillCombo(window_, IDC_PORT, shownPorts_);
        }
        if (logic_.baudRates() != shownBauds_) {
            shownBauds_ = logic_.baudRates();
            FillCombo(window_, IDC_BAUD, shownBauds_);
        }
        Select(window_, IDC_MODEL, logic_.modelIndex());
        Select(window_, IDC_PORT, logic_.portIndex());
        Select(window_, IDC_BAUD, logic_.baudIndex());
        Select(window_, IDC_DATA_BITS, logic_.dataBitsIndex());
        if (logic_.parityIndex() >= 0) Select(window_, IDC_PARITY, logic_.parityIndex());
        Select(window_, IDC_STOP_BITS, logic_.stopBitsIndex());
        Select(window_, IDC_FLOW_CONTROL, logic_.flowControlIndex());
        CheckRadioButton(window_, IDC_SERIAL, IDC_USB, IDC_SERIAL + logic_.interfaceType());
        for (const int id : {IDC_BAUD, IDC_DATA_BITS, IDC_PARITY, IDC_STOP_BITS, IDC_FLOW_CONTROL})
            Enable(window_, id, logic_.lineSettingsEnabled());
        Enable(window_, IDC_PARALLEL, logic_.otherInterfacesEnabled());
        Enable(window_, IDC_USB, logic_.otherInterfacesEnabled());
        const auto& buttons = logic_.buttons();
        Enable(window_, IDC_CHECK_COMMUNICATION, buttons.checkCommunication);
        Enable(window_, IDC_SELF_TEST, buttons.selfTest);
        Enable(window_, IDC_RUN_MANAGER, buttons.runManager);
        Enable(window_, IDC_COMMAND_EDITOR, buttons.commandEditor);
        Enable(window_, IDCANCEL, buttons.exit);
    }

    INT_PTR Command(int id, int code) {
        if (worker_.busy()) {
            // Exit during an exchange ends the dialog once the exchange is over; every
            // other action is held back, and the lists show the logic's state again.
            if (id == IDCANCEL) closeRequested_ = true;
            return TRUE;
        }
        switch (id) {
            case IDC_CHECK_COMMUNICATION:
                if (code == BN_CLICKED) logic_.OnCheckCommunication();
                break;
            case IDC_SELF_TEST:
                if (code == BN_CLICKED) logic_.OnSelfTest();
                break;
            case IDC_SERIAL:
            case IDC_PARALLEL:
            case IDC_USB:
                if (code == BN_CLICKED) logic_.OnInterfaceClicked(id - IDC_SERIAL);
                break;
            case IDC_PORT:
                if (code == CBN_SELCHANGE) logic_.OnPortSelected(Selection(window_, id));
                break;
            case IDC_BAUD:
                if (code == CBN_SELCHANGE) logic_.OnBaudSelected(Selection(window_, id));
                break;
            case IDC_DATA_BITS:
                if (code == CBN_SELCHANGE) logic_.OnDataBitsSelected(Selection(window_, id));
                break;
            case IDC_PARITY:
                if (code == CBN_SELCHANGE) logic_.OnParitySelected(Selection(window_, id));
                if (code == CBN_EDITCHANGE) logic_.OnParitySelected(-1);
                break;
            case IDC_STOP_BITS:
                if (code == CBN_SELCHANGE) logic_.OnStopBitsSelected(Selection(window_, id));
                break;
            case IDC_FLOW_CONTROL:
                if (code == CBN_SELCHANGE) logic_.OnFlowControlSelected(Selection(window_, id));
                break;
            case IDC_MODEL:
                if (code == CBN_SELCHANGE) logic_.OnModelSelected(Selection(window_, id));
                break;
            case IDC_RUN_MANAGER:
                if (code == BN_CLICKED) {
                    StatusView status(logic_, worker_);
                    status.Run(window_);
                    SetOwnerWindow(window_);
                }
                break;
            case IDC_COMMAND_EDITOR:
                if (code == BN_CLICKED) {
                    EditorView editor(logic_, worker_);
                    editor.Run(window_);
                    SetOwnerWindow(window_);
                }
                break;
            case IDCANCEL:
                Close();
                return TRUE;
            default:
                return FALSE;
        }
        Refresh();
        return TRUE;
    }

    void Close() {
        logic_.Shutdown();
        HWND window = window_;
        window_ = nullptr;
        EndDialog(window, IDCANCEL);
    }

    void OnIdle() {
        if (closeRequested_ && window_ != nullptr) {
            Close();
            return;
        }
        Refresh();
    }

    void PaintIcon() {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_, &paint);
        SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(window_, &client);
        const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
        EndPaint(window_, &paint);
    }

    ui::MainDialog& logic_;
    Worker& worker_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    bool closeRequested_ = false;
    std::vector<std::string> shownPorts_;
    std::vector<std::string> shownBauds_;
};

}  // namespace

INT_PTR RunMainDialog(HINSTANCE instance, ui::MainDialog& logic, Worker& worker) {
    appInstance = instance;
    MainView view(logic, worker);
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainView::Proc,
                           reinterpret_cast<LPARAM>(&view));
}

}  // namespace tessaly::win32
