// R3_Installer: the progress dialog that runs the whole installation from its first timer
// tick, and the dialog in which the user picks the port.
//
// The project's headers come before <windows.h>: they declare constants with names that
// <windows.h> defines as macros of the same value.
#include "driver_model.h"
#include "installer.h"
#include "winsys/win32/win32_windows.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <array>
#include <optional>
#include <string>

#include "installer_resources.h"
#include "winsys/win32/dialog_support.h"

namespace {

using tessaly::installer::DriverModel;
using tessaly::installer::PortChoice;

constexpr UINT_PTR kStartTimer = 1;
constexpr char kVersionText[] = "Driver Version: V1.0.0E";
// The radios in tab order; the position is the index the installer works with.
constexpr std::array<int, 7> kPortRadios{IDC_RADIO_COM1, IDC_RADIO_COM2, IDC_RADIO_COM3,
                                         IDC_RADIO_COM4, IDC_RADIO_LPT1, IDC_RADIO_LPT2,
                                         IDC_RADIO_USB};
constexpr int kPreselectedPort = 4;  // LPT1

HINSTANCE g_instance = nullptr;

// The modal port dialog. Next ends it with the index of the ticked radio; Esc or the close
// button cancel it.
class PortSelectDialog final : public PortChoice {
  public:
    explicit PortSelectDialog(HWND owner) : owner_(owner) {}

    std::optional<int> Choose() override {
        const INT_PTR result = DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_PORT_SELECT),
                                               owner_, &Proc, reinterpret_cast<LPARAM>(this));
        if (result != IDOK) return std::nullopt;
        return selected_;
    }

  private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            auto* self = reinterpret_cast<PortSelectDialog*>(lParam);
            tessaly::winsys::CenterDialog(dialog);
            CheckDlgButton(dialog, kPortRadios[static_cast<std::size_t>(self->selected_)],
                           BST_CHECKED);
            return TRUE;
        }
        auto* self = reinterpret_cast<PortSelectDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (message == WM_COMMAND && self) {
            switch (LOWORD(wParam)) {
                case IDOK:
                    // No ticked radio gives -1, which the installer refuses.
                    self->selected_ = -1;
                    for (std::size_t i = 0; i < kPortRadios.size(); ++i)
                        if (IsDlgButtonChecked(dialog, kPortRadios[i]) == BST_CHECKED)
                            self->selected_ = static_cast<int>(i);
                    EndDialog(dialog, IDOK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    break;
            }
        }
        return FALSE;
    }

    HWND owner_;
    int selected_ = kPreselectedPort;
};

// The progress dialog. It is the status display of the installation: SetStatus only keeps
// the text, Refresh shows it, StepIt and SetPos move the bar at once.
class InstallerDialog final : public tessaly::winsys::StatusDisplay {
  public:
    int Run() {
        return static_cast<int>(DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_INSTALLER),
                                                nullptr, &Proc, reinterpret_cast<LPARAM>(this)));
    }

    void SetStatus(const std::string& text) override { progress_.SetStatus(text); }
    void StepIt() override { progress_.StepIt(); }
    void SetPos(int position) override { progress_.SetPos(position); }
    void Refresh() override {
        progress_.Refresh();
        tessaly::winsys::ShowTextNow(window_, IDC_VERSION_TEXT, version_);
    }

  private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            reinterpret_cast<InstallerDialog*>(lParam)->Initialize(dialog);
            return TRUE;
        }
        auto* self = reinterpret_cast<InstallerDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (!self) return FALSE;
        switch (message) {
            case WM_TIMER:
                if (wParam == kStartTimer) self->Start();
                return TRUE;
            case WM_PAINT:
                return tessaly::winsys::PaintMinimizedIcon(dialog, self->icons_.big) ? TRUE : FALSE;
            case WM_QUERYDRAGICON:
                SetWindowLongPtrA(dialog, DWLP_MSGRESULT,
                                  reinterpret_cast<LONG_PTR>(self->icons_.big));
                return TRUE;
            case WM_COMMAND:
                // Once the run has started the window stays until the run ends the process:
                // closing it would only hide the progress of an installation that goes on.
                if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
                    if (!self->started_) EndDialog(dialog, LOWORD(wParam));
                    return TRUE;
                }
                break;
            default:
                break;
        }
        return FALSE;
    }

    void Initialize(HWND dialog) {
        window_ = dialog;
        tessaly::winsys::CenterDialog(dialog);
        icons_ = tessaly::winsys::SetDialogIcons(dialog, g_instance, IDR_MAINFRAME);
        version_ = kVersionText;
        SetDlgItemTextA(dialog, IDC_STATUS_TEXT, progress_.Status().c_str());
        SetDlgItemTextA(dialog, IDC_VERSION_TEXT, version_.c_str());
        progress_.Attach(dialog, IDC_STATUS_TEXT, IDC_PROGRESS, tessaly::installer::kProgressStep);
        // Without a timer the run would never start; the tick is then posted instead.
        if (!SetTimer(dialog, kStartTimer, 1, nullptr))
            PostMessageA(dialog, WM_TIMER, kStartTimer, 0);
    }

    // The first tick runs the installer; it ends the process on every path.
    void Start() {
        KillTimer(window_, kStartTimer);
        if (started_) return;
        started_ = true;
        PortSelectDialog ports(window_);
        DriverModel model(system_, *this);
        tessaly::installer::RunInstaller(system_, *this, ports, model,
                                         reinterpret_cast<tessaly::winsys::Handle>(window_));
        EndDialog(window_, IDOK);
    }

    tessaly::winsys::Win32Windows system_;
    HWND window_ = nullptr;
    tessaly::winsys::AppIcons icons_;
    tessaly::winsys::ProgressStatus progress_;
    std::string version_;
    bool started_ = false;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_instance = instance;
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    InstallerDialog dialog;
    // A dialog that cannot be created is not a successful run.
    if (dialog.Run() == -1) return static_cast<int>(GetLastError() ? GetLastError() : 1);
    return 0;
}
