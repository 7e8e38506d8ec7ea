#include "selectors.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>
#include <vector>

#include "dialog_support.h"
#include "resource.h"
#include "selector_dialogs.h"

namespace tessaly::win32 {
namespace {

void ShowRange(HWND dialog, const ui::SelectRangeDialog& logic) {
    SendDlgItemMessageA(dialog, IDC_RANGE_SPIN, UDM_SETPOS32, 0, logic.value());
    SetDlgItemInt(dialog, IDC_RANGE_VALUE, static_cast<UINT>(logic.value()), FALSE);
    CheckDlgButton(dialog, IDC_DEFAULT_SPACING,
                   logic.defaultTicked() ? BST_CHECKED : BST_UNCHECKED);
    Enable(dialog, IDC_RANGE_VALUE, logic.valueEnabled());
    Enable(dialog, IDC_RANGE_SPIN, logic.valueEnabled());
}

}  // namespace

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
                logic->OnTextChanged(WindowTextUtf8(GetDlgItem(dialog, IDC_ADDRESS)));
            if (EndedByOkOrCancel(dialog, wParam, *logic)) return TRUE;
            break;
    }
    return FALSE;
}

}  // namespace tessaly::win32
