#include "about.h"

#include "about_dialog.h"
#include "resource.h"

namespace tessaly::win32 {

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

}  // namespace tessaly::win32
