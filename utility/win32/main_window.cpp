// The Win32 faces of the utility's dialogs, bound to the toolkit-free dialog logic.
// Printer exchanges run on the worker; while one runs, the dialogs keep painting
// and answering but hold user actions back (the logic ignores them anyway).

#include "main_window.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <string>
#include <vector>

#include "about.h"
#include "command_editor.h"
#include "dialog_support.h"
#include "port_diversion.h"
#include "resource.h"
#include "status_dialog.h"

namespace tessaly::win32 {
namespace {

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
            case WM_ENDSESSION:
                // The session ends (logoff, shutdown): the process is ended once this
                // returns, so the queues go back to their ports now.
                if (wParam) RestoreAllDiversions();
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
        // Queues that a run which did not finish left on FILE: go back first.
        logic_.RecoverQueues();
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
                    RunStatusDialog(window_, logic_, worker_);
                    SetOwnerWindow(window_);
                }
                break;
            case IDC_COMMAND_EDITOR:
                if (code == BN_CLICKED) {
                    RunCommandEditor(window_, logic_, worker_);
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
