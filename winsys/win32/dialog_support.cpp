#include "dialog_support.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace tessaly::winsys {

AppIcons SetDialogIcons(HWND dialog, HINSTANCE instance, int iconId) {
    AppIcons icons;
    icons.big = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON),
                                              GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    icons.small = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.big));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.small));
    return icons;
}

bool PaintMinimizedIcon(HWND dialog, HICON icon) {
    if (!IsIconic(dialog)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    SendMessageA(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(dialog, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon);
    EndPaint(dialog, &paint);
    return true;
}

void CenterDialog(HWND dialog) {
    RECT window;
    GetWindowRect(dialog, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT area = monitor.rcWork;
    RECT around = area;
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = around.left + (around.right - around.left - width) / 2;
    LONG y = around.top + (around.bottom - around.top - height) / 2;
    x = std::max(area.left, std::min(x, area.right - width));
    y = std::max(area.top, std::min(y, area.bottom - height));
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string ControlText(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    const int length = GetWindowTextLengthA(control);
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(control, buffer.data(), length + 1);
    return buffer.data();
}

void ProgressStatus::Attach(HWND dialog, int textId, int barId, int step) {
    dialog_ = dialog;
    textId_ = textId;
    barId_ = barId;
    SendDlgItemMessageA(dialog, barId, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageA(dialog, barId, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void ProgressStatus::StepIt() const {
    SendDlgItemMessageA(dialog_, barId_, PBM_STEPIT, 0, 0);
}

void ProgressStatus::SetPos(int position) const {
    SendDlgItemMessageA(dialog_, barId_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ProgressStatus::Refresh() const {
    ShowTextNow(dialog_, textId_, text_);
}

void ShowTextNow(HWND dialog, int controlId, const std::string& text) {
    SetDlgItemTextA(dialog, controlId, text.c_str());
    RedrawWindow(GetDlgItem(dialog, controlId), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

}  // namespace tessaly::winsys
