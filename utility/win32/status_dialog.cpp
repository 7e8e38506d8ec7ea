#include "status_dialog.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog_support.h"
#include "pacing_engine.h"
#include "printer_settings.h"
#include "printer_status_dialog.h"
#include "resource.h"

namespace tessaly::win32 {
namespace {

// Status files, and settings profiles: the file's extension says which it is.
const std::vector<std::pair<std::string, std::string>> kStatusFileFilters{
    {"Status Files (*.sts)", "*.sts"}, {"Settings Profiles (*.toml)", "*.toml"}};

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
            case IDC_SAVE_STATUS:
                SaveStatus();
                break;
            case IDC_LOAD_STATUS: {
                // No default extension: a name typed without one is used as typed.
                ui::FileDialogRequest request{"*.sts", kStatusFileFilters, "", false};
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

    // A name typed without extension is used as typed. The user is asked before a
    // new file is created (the file dialog's own create prompt is not honoured by
    // save dialogs), and "No" goes back to the file dialog with that name.
    void SaveStatus() {
        ui::FileDialogRequest request{"Noname.sts", kStatusFileFilters, "", true};
        constexpr const char* kTitle = "Save current status";
        while (const auto path = ChooseFile(window_, request, true, kTitle)) {
            const bool exists = GetFileAttributesA(path->c_str()) != INVALID_FILE_ATTRIBUTES;
            const std::string name = path->substr(path->find_last_of("\\/") + 1);
            if (exists ||
                MessageBoxW(window_,
                            ToWide(ui::PrinterStatusDialog::CreateFileQuestion(name)).c_str(),
                            ToWide(kTitle).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES) {
                logic_.OnSaveStatus(*path);
                return;
            }
            request.fileName = *path;
        }
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

}  // namespace

INT_PTR RunStatusDialog(HWND parent, ui::MainDialog& main, Worker& worker) {
    StatusView view(main, worker);
    return view.Run(parent);
}

}  // namespace tessaly::win32
