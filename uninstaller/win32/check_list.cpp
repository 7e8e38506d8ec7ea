#include "check_list.h"

#include <algorithm>
#include <string>

#include "uninstaller_resources.h"

namespace tessaly::uninstaller::checklist {
namespace {

constexpr char kOriginalProc[] = "R3CheckListOriginalProc";
constexpr int kBoxSize = 13;
constexpr int kBoxMargin = 2;

// Width of the area at the left of a line in which a click toggles the check box.
int BoxAreaWidth() {
    return kBoxSize + 2 * kBoxMargin;
}

LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto original = reinterpret_cast<WNDPROC>(GetPropA(list, kOriginalProc));
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            const auto hit = static_cast<DWORD>(SendMessageA(list, LB_ITEMFROMPOINT, 0, lParam));
            const int x = static_cast<short>(LOWORD(lParam));
            // The high word is set when the point lies outside every line.
            if (HIWORD(hit) == 0 && x < BoxAreaWidth()) Toggle(list, LOWORD(hit));
            break;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) {
                const auto caret = static_cast<int>(SendMessageA(list, LB_GETCARETINDEX, 0, 0));
                if (caret >= 0) Toggle(list, caret);
                return 0;
            }
            break;
        case WM_NCDESTROY:
            RemovePropA(list, kOriginalProc);
            SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
            break;
        default:
            break;
    }
    return CallWindowProcA(original, list, message, wParam, lParam);
}

}  // namespace

void Attach(HWND list) {
    const LONG_PTR original =
        SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProc));
    SetPropA(list, kOriginalProc, reinterpret_cast<HANDLE>(original));
}

void MeasureItem(HWND dialog, MEASUREITEMSTRUCT* measure) {
    HDC dc = GetDC(dialog);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    const HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    measure->itemHeight = static_cast<UINT>(std::max<LONG>(metrics.tmHeight + 2, kBoxSize + 2));
}

void DrawItem(const DRAWITEMSTRUCT* draw) {
    if (draw->itemID == static_cast<UINT>(-1)) return;
    HWND list = draw->hwndItem;
    HDC dc = draw->hDC;
    const int index = static_cast<int>(draw->itemID);
    RECT line = draw->rcItem;

    // The check box, centred vertically at the left.
    RECT box{line.left + kBoxMargin, line.top + (line.bottom - line.top - kBoxSize) / 2,
             line.left + kBoxMargin + kBoxSize, 0};
    box.bottom = box.top + kBoxSize;
    FillRect(dc, &line, GetSysColorBrush(COLOR_WINDOW));
    DrawFrameControl(dc, &box, DFC_BUTTON,
                     DFCS_BUTTONCHECK | (IsChecked(list, index) ? DFCS_CHECKED : 0u));

    // The text, highlighted when selected.
    RECT textArea = line;
    textArea.left += BoxAreaWidth() + 1;
    const bool selected = (draw->itemState & ODS_SELECTED) != 0;
    FillRect(dc, &textArea, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const int length = static_cast<int>(SendMessageA(list, LB_GETTEXTLEN, draw->itemID, 0));
    if (length > 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, draw->itemID, reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(length));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor((draw->itemState & ODS_DISABLED) ? COLOR_GRAYTEXT
                                     : selected                       ? COLOR_HIGHLIGHTTEXT
                                                                      : COLOR_WINDOWTEXT));
        RECT textRect = textArea;
        textRect.left += 2;
        DrawTextA(dc, text.c_str(), length, &textRect,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    if (draw->itemState & ODS_FOCUS) DrawFocusRect(dc, &textArea);
}

bool IsChecked(HWND list, int index) {
    return SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0) == 1;
}

void Toggle(HWND list, int index) {
    const LPARAM ticked = IsChecked(list, index) ? 0 : 1;
    if (SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index), ticked) == LB_ERR) return;
    RECT line;
    if (SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&line)) != LB_ERR)
        InvalidateRect(list, &line, FALSE);
    SendMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CLBN_CHKCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

}  // namespace tessaly::uninstaller::checklist
