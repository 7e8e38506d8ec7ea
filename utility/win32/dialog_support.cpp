#include "dialog_support.h"

// clang-format off
#include <windows.h>
#include <commdlg.h>
// clang-format on

namespace tessaly::win32 {

HINSTANCE appInstance = nullptr;

std::string WindowTextUtf8(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return ToUtf8(text);
}

void SetWindowTextUtf8(HWND window, const std::string& text) {
    SetWindowTextW(window, ToWide(text).c_str());
}

void FillCombo(HWND dialog, int id, const std::vector<std::string>& entries) {
    SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
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

}  // namespace tessaly::win32
