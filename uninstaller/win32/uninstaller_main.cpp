// R3_Uninstaller: the dialog that lists the driver's printer queues from its first timer tick,
// lets the user tick the ones to delete and removes them (and the driver when none is left).
//
// The project's headers come before <windows.h>: they declare constants with names that
// <windows.h> defines as macros of the same value.
#include "uninstaller.h"
#include "winsys/win32/win32_windows.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>

#include "check_list.h"
#include "uninstaller_resources.h"
#include "winsys/win32/dialog_support.h"

namespace {

using tessaly::uninstaller::Uninstaller;

constexpr UINT_PTR kStartTimer = 1;
HINSTANCE g_instance = nullptr;

class UninstallerDialog final : public tessaly::uninstaller::UninstallerView {
  public:
    int Run() {
        return static_cast<int>(DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_UNINSTALLER),
                                                nullptr, &Proc, reinterpret_cast<LPARAM>(this)));
    }

    // Status display: SetStatus only keeps the text, Refresh shows it.
    void SetStatus(const std::string& text) override { progress_.SetStatus(text); }
    void StepIt() override { progress_.StepIt(); }
    void SetPos(int position) override { progress_.SetPos(position); }
    void Refresh() override { progress_.Refresh(); }

    void AddListItem(const std::string& name) override {
        SendMessageA(List(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    int ListCount() const override {
        return static_cast<int>(SendMessageA(List(), LB_GETCOUNT, 0, 0));
    }
    bool IsChecked(int index) const override {
        return tessaly::uninstaller::checklist::IsChecked(List(), index);
    }
    std::string ListText(int index) const override {
        const auto length = SendMessageA(List(), LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length == LB_ERR) return {};
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        SendMessageA(List(), LB_GETTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(length));
        return text;
    }
    void EnableUninstall(bool enable) override {
        EnableWindow(GetDlgItem(window_, IDC_UNINSTALL), enable);
    }
    void EnableCancel(bool enable) override { EnableWindow(GetDlgItem(window_, IDCANCEL), enable); }
    void ShowWaitCursor() override {
        waiting_ = true;
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    }
    void ShowArrowCursor() override {
        waiting_ = false;
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    }
    void ReadControls() override {
        progress_.SetStatus(tessaly::winsys::ControlText(window_, IDC_STATUS_TEXT));
    }
    void CloseOk() override { EndDialog(window_, IDOK); }
    tessaly::winsys::Handle Window() const override {
        return reinterpret_cast<tessaly::winsys::Handle>(window_);
    }

  private:
    HWND List() const { return GetDlgItem(window_, IDC_PRINTER_LIST); }

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_MEASUREITEM) {
            // Sent while the list is created, before WM_INITDIALOG.
            tessaly::uninstaller::checklist::MeasureItem(
                dialog, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
            return TRUE;
        }
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            reinterpret_cast<UninstallerDialog*>(lParam)->Initialize(dialog);
            return TRUE;
        }
        auto* self = reinterpret_cast<UninstallerDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (!self) return FALSE;
        switch (message) {
            case WM_DRAWITEM:
                tessaly::uninstaller::checklist::DrawItem(
                    reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            case WM_TIMER:
                if (wParam == kStartTimer) self->Start();
                return TRUE;
            case WM_SETCURSOR:
                if (!self->waiting_) break;
                SetCursor(LoadCursorA(nullptr, IDC_WAIT));
                SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
                return TRUE;
            case WM_PAINT:
                return tessaly::winsys::PaintMinimizedIcon(dialog, self->icons_.big) ? TRUE : FALSE;
            case WM_QUERYDRAGICON:
                SetWindowLongPtrA(dialog, DWLP_MSGRESULT,
                                  reinterpret_cast<LONG_PTR>(self->icons_.big));
                return TRUE;
            case WM_COMMAND:
                return self->Command(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
            default:
                break;
        }
        return FALSE;
    }

    void Initialize(HWND dialog) {
        window_ = dialog;
        tessaly::winsys::CenterDialog(dialog);
        icons_ = tessaly::winsys::SetDialogIcons(dialog, g_instance, IDR_MAINFRAME);
        tessaly::uninstaller::checklist::Attach(List());
        progress_.Attach(dialog, IDC_STATUS_TEXT, IDC_PROGRESS,
                         tessaly::uninstaller::kProgressStep);
        // Without a timer the list would never be filled; the tick is then posted instead.
        if (!SetTimer(dialog, kStartTimer, 1, nullptr))
            PostMessageA(dialog, WM_TIMER, kStartTimer, 0);
    }

    void Start() {
        KillTimer(window_, kStartTimer);
        if (started_) return;
        started_ = true;
        running_ = true;
        logic_.PopulatePrinterList();
        running_ = false;
    }

    bool Command(int id, int code) {
        switch (id) {
            case IDC_UNINSTALL:
                // A click that was queued before the button went disabled must not start a
                // second removal from inside the first one's message boxes.
                if (code == BN_CLICKED && !running_) {
                    running_ = true;
                    logic_.RunUninstall();
                    running_ = false;
                }
                return true;
            case IDC_PRINTER_LIST:
                if (code == CLBN_CHKCHANGE && !running_) logic_.UpdateUninstallButton();
                return true;
            case IDCANCEL:
                if (!running_) EndDialog(window_, IDCANCEL);
                return true;
            default:
                return false;
        }
    }

    tessaly::winsys::Win32Windows system_;
    Uninstaller logic_{system_, *this};
    HWND window_ = nullptr;
    tessaly::winsys::AppIcons icons_;
    tessaly::winsys::ProgressStatus progress_;
    bool started_ = false;
    bool running_ = false;
    bool waiting_ = false;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_instance = instance;
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    UninstallerDialog dialog;
    // A dialog that cannot be created is not a successful run.
    if (dialog.Run() == -1) return static_cast<int>(GetLastError() ? GetLastError() : 1);
    return 0;
}
