// Reads the dialog, icon, bitmap and version resources out of the built programs (loaded as
// data files, as Windows reads them) and compares them with the documented layouts: resource
// numbers, control ids, classes, styles, texts, fonts and dialog-unit positions.
#include "resource_checks.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "wine_helpers.h"

namespace r3test {
namespace {

constexpr DWORD kNoId = 0xFFFFFFFF;  // controls without an id

// Control classes as the template names them (predefined classes are ordinals).
constexpr const char* kButton = "#128";
constexpr const char* kStatic = "#130";
constexpr const char* kListBox = "#131";
constexpr const char* kProgress = "msctls_progress32";

struct Control {
    DWORD id = 0;
    std::string cls;
    std::string text;  // "#n" for an ordinal (a picture's bitmap)
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
};

struct Dialog {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    int pointSize = 0;
    std::string font;
    std::vector<Control> controls;
};

// Reads DLGTEMPLATEEX and its DLGITEMTEMPLATEEX entries.
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}

    bool Read(Dialog& dialog) {
        if (Word() != 1 || Word() != 0xFFFF) return false;  // version 1, extended template
        Dword();                                            // help id
        dialog.exStyle = Dword();
        dialog.style = Dword();
        const int count = Word();
        dialog.x = Short();
        dialog.y = Short();
        dialog.cx = Short();
        dialog.cy = Short();
        NameOrOrdinal();  // menu
        NameOrOrdinal();  // class
        dialog.title = String();
        if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
            dialog.pointSize = Word();
            Word();     // weight
            pos_ += 2;  // italic, character set
            dialog.font = String();
        }
        for (int i = 0; i < count; ++i) {
            Align();
            Control control;
            Dword();  // help id
            control.exStyle = Dword();
            control.style = Dword();
            control.x = Short();
            control.y = Short();
            control.cx = Short();
            control.cy = Short();
            control.id = Dword();
            control.cls = NameOrOrdinal();
            control.text = NameOrOrdinal();
            pos_ += Word();  // creation data
            if (pos_ > size_) return false;
            dialog.controls.push_back(control);
        }
        return pos_ <= size_;
    }

  private:
    WORD Word() {
        WORD value = 0;
        if (pos_ + 2 <= size_) value = static_cast<WORD>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return value;
    }
    DWORD Dword() {
        const DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    int Short() { return static_cast<std::int16_t>(Word()); }
    void Align() { pos_ = (pos_ + 3) & ~static_cast<DWORD>(3); }
    std::string String() {
        std::string text;
        for (WORD c = Word(); c != 0 && pos_ <= size_; c = Word())
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }
    std::string NameOrOrdinal() {
        if (pos_ + 2 > size_) return {};
        const WORD first = static_cast<WORD>(data_[pos_] | data_[pos_ + 1] << 8);
        if (first == 0) {
            pos_ += 2;
            return {};
        }
        if (first == 0xFFFF) {
            pos_ += 2;
            return "#" + std::to_string(Word());
        }
        return String();
    }

    const BYTE* data_;
    DWORD size_;
    DWORD pos_ = 0;
};

const BYTE* LoadResourceData(HMODULE module, const char* type, int id, DWORD* size) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    *size = SizeofResource(module, found);
    return loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
}

bool ReadDialog(HMODULE module, int id, Dialog& dialog) {
    DWORD size = 0;
    const BYTE* data = LoadResourceData(module, MAKEINTRESOURCEA(5), id, &size);  // RT_DIALOG
    return data && TemplateReader(data, size).Read(dialog);
}

// Class names as Windows compares them: case-insensitive, and the predefined classes the
// same whether the template names them or gives their ordinal.
std::string NormalClass(std::string name) {
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (name == "BUTTON") return kButton;
    if (name == "STATIC") return kStatic;
    if (name == "LISTBOX") return kListBox;
    return name;
}

std::string Describe(const Control& c) {
    return "id " + std::to_string(static_cast<int>(c.id)) + " " + c.cls + " \"" + c.text +
           "\" at " + std::to_string(c.x) + "," + std::to_string(c.y) + " " + std::to_string(c.cx) +
           "x" + std::to_string(c.cy) + " style 0x" + [](DWORD v) {
               char buffer[16];
               wsprintfA(buffer, "%08lX", v);
               return std::string(buffer);
           }(c.style);
}

// Compares the dialog's controls, in template (tab) order, with the expected ones. Only the
// style bits given in `required` are compared, plus the button or static kind (low 4 bits
// for buttons, the SS_TYPEMASK bits for statics) where `kind` is not negative.
struct Expected {
    DWORD id;
    const char* cls;
    const char* text;
    int x, y, cx, cy;
    int kind;
    DWORD required;
};

void CheckControls(const std::string& name, const Dialog& dialog,
                   const std::vector<Expected>& expected) {
    Check(dialog.controls.size() == expected.size(), name + ": number of controls",
          std::to_string(dialog.controls.size()));
    for (std::size_t i = 0; i < expected.size() && i < dialog.controls.size(); ++i) {
        const Expected& e = expected[i];
        const Control& c = dialog.controls[i];
        const DWORD id = c.id == 0xFFFF ? kNoId : c.id;
        bool ok = id == e.id && NormalClass(c.cls) == NormalClass(e.cls) && c.text == e.text &&
                  c.x == e.x && c.y == e.y && c.cx == e.cx && c.cy == e.cy &&
                  (c.style & e.required) == e.required;
        if (e.kind >= 0) {
            const DWORD mask = NormalClass(e.cls) == kStatic ? SS_TYPEMASK : 0xF;
            ok = ok && (c.style & mask) == static_cast<DWORD>(e.kind);
        }
        Check(ok, name + ": control " + std::to_string(i) + " (" + e.text + ")", Describe(c));
    }
}

void CheckFrame(const std::string& name, const Dialog& dialog, const std::string& title, int cx,
                int cy, bool appWindow) {
    Check(dialog.title == title, name + ": caption", dialog.title);
    Check(dialog.cx == cx && dialog.cy == cy, name + ": size in dialog units",
          std::to_string(dialog.cx) + "x" + std::to_string(dialog.cy));
    Check(dialog.pointSize == 8 && dialog.font == "MS Sans Serif", name + ": font",
          dialog.font + " " + std::to_string(dialog.pointSize));
    const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    Check((dialog.style & frame) == frame, name + ": modal frame with caption and system menu");
    Check(((dialog.exStyle & WS_EX_APPWINDOW) != 0) == appWindow,
          name + (appWindow ? ": shown in the task bar" : ": not an application window"));
}

void CheckVersion(const std::string& exe, const std::string& description,
                  const std::string& comment) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    std::vector<BYTE> info(size);
    if (!Check(size != 0 && GetFileVersionInfoA(exe.c_str(), 0, size, info.data()),
               exe + ": version resource"))
        return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        Check(fixed->dwFileVersionMS == MAKELONG(3, 2010) &&
                  fixed->dwFileVersionLS == MAKELONG(1, 29),
              exe + ": file version 2010.3.29.1");
        Check(fixed->dwProductVersionMS == MAKELONG(0, 1) && fixed->dwProductVersionLS == 0,
              exe + ": product version 1.0.0.0");
    }
    auto text = [&](const char* key) -> std::string {
        char* value = nullptr;
        UINT chars = 0;
        const std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
        if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars) ||
            !value)
            return "<missing>";
        return value;
    };
    Check(text("FileDescription") == description, exe + ": file description",
          text("FileDescription"));
    Check(text("FileVersion") == "2010.3.29.1", exe + ": file version text", text("FileVersion"));
    Check(text("ProductVersion") == "1.0.0.0", exe + ": product version text",
          text("ProductVersion"));
    if (!comment.empty()) Check(text("Comments") == comment, exe + ": comment", text("Comments"));
}

void CheckIcon(HMODULE module, const std::string& name) {
    DWORD size = 0;
    const BYTE* group = LoadResourceData(module, MAKEINTRESOURCEA(14), 128, &size);  // group icon
    bool has32 = false, has16 = false;
    if (group && size >= 6) {
        const int count = group[4] | group[5] << 8;
        for (int i = 0; i < count && 6u + 14u * (i + 1) <= size; ++i) {
            const BYTE* entry = group + 6 + 14 * i;
            has32 |= entry[0] == 32 && entry[1] == 32;
            has16 |= entry[0] == 16 && entry[1] == 16;
        }
    }
    Check(has32 && has16, name + ": icon 128 in 32x32 and 16x16");
}

}  // namespace

void CheckResources(const std::string& kit) {
    const std::string installer = kit + "\\R3_Installer.exe";
    const std::string uninstaller = kit + "\\R3_Uninstaller.exe";

    HMODULE module = LoadLibraryExA(installer.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (Check(module != nullptr, "installer loads as a data file")) {
        Dialog progress;
        if (Check(ReadDialog(module, 102, progress), "installer dialog 102")) {
            CheckFrame("progress dialog", progress, "Vantreel R-3 Installation Progress", 373, 126,
                       true);
            CheckControls(
                "progress dialog", progress,
                {
                    {kNoId, kButton, "", 7, 7, 359, 111, BS_GROUPBOX, 0},
                    {kNoId, kStatic, "#130", 13, 17, 101, 93, SS_BITMAP, 0},
                    {kNoId, kStatic, "Vantreel R-3", 157, 24, 129, 8, SS_LEFT, 0},
                    {1001, kStatic, "Driver Version: V1.0.0E", 157, 38, 133, 8, SS_LEFT, 0},
                    {kNoId, kButton, "", 151, 60, 210, 50, BS_GROUPBOX, 0},
                    {kNoId, kStatic, "Progress Status : ", 159, 73, 55, 8, SS_LEFT, 0},
                    {1003, kStatic, "", 220, 74, 95, 8, SS_LEFT, 0},
                    {1000, kProgress, "", 159, 89, 195, 13, -1, PBS_SMOOTH | WS_BORDER},
                });
        }
        Dialog port;
        if (Check(ReadDialog(module, 129, port), "installer dialog 129")) {
            CheckFrame("port dialog", port, "Select Port Type", 224, 82, false);
            const DWORD radio = BS_AUTORADIOBUTTON;
            CheckControls(
                "port dialog", port,
                {
                    {1006, kButton, "COM1", 15, 23, 37, 12, static_cast<int>(radio), WS_GROUP},
                    {1008, kButton, "COM2", 15, 38, 39, 12, static_cast<int>(radio), 0},
                    {1009, kButton, "COM3", 59, 23, 39, 12, static_cast<int>(radio), 0},
                    {1011, kButton, "COM4", 59, 38, 38, 12, static_cast<int>(radio), 0},
                    {1007, kButton, "LPT1", 119, 23, 37, 12, static_cast<int>(radio), 0},
                    {1010, kButton, "LPT2", 119, 38, 39, 12, static_cast<int>(radio), 0},
                    {1001, kButton, "USB", 174, 29, 37, 12, static_cast<int>(radio), 0},
                    {IDOK, kButton, "&Next", 176, 61, 41, 14, BS_DEFPUSHBUTTON, 0},
                    {kNoId, kButton, "Serial Port", 7, 7, 100, 51, BS_GROUPBOX, 0},
                    {kNoId, kButton, "Parallel Port", 109, 7, 56, 51, BS_GROUPBOX, 0},
                    {kNoId, kButton, "USB Port", 167, 7, 50, 51, BS_GROUPBOX, 0},
                });
        }
        DWORD size = 0;
        const BYTE* bitmap = LoadResourceData(module, MAKEINTRESOURCEA(2), 130, &size);
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(bitmap);
        Check(header && size >= sizeof(BITMAPINFOHEADER) && header->biWidth == 158 &&
                  header->biHeight == 152 && header->biBitCount == 24,
              "installer bitmap 130 is 158x152 with 24 bits");
        CheckIcon(module, "installer");
        FreeLibrary(module);
    }
    CheckVersion(installer, "R-3 Installer", "");

    module = LoadLibraryExA(uninstaller.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (Check(module != nullptr, "uninstaller loads as a data file")) {
        Dialog dialog;
        if (Check(ReadDialog(module, 102, dialog), "uninstaller dialog 102")) {
            CheckFrame("uninstaller dialog", dialog, "Vantreel R-3 uninstaller", 281, 292, true);
            CheckControls(
                "uninstaller dialog", dialog,
                {
                    {1006, kListBox, "", 7, 7, 267, 232, -1,
                     LBS_SORT | LBS_HASSTRINGS | LBS_OWNERDRAWFIXED | WS_VSCROLL},
                    {kNoId, kStatic, "Progress Status :", 7, 243, 53, 9, SS_LEFT, 0},
                    {1000, kStatic, "", 69, 243, 115, 8, SS_LEFT, 0},
                    {1002, kProgress, "", 7, 256, 267, 11, -1, PBS_SMOOTH | WS_BORDER},
                    {1001, kButton, "Uninstall", 7, 271, 50, 14, BS_DEFPUSHBUTTON, WS_DISABLED},
                    {IDCANCEL, kButton, "Cancel", 224, 271, 50, 14, BS_PUSHBUTTON, 0},
                });
        }
        CheckIcon(module, "uninstaller");
        FreeLibrary(module);
    }
    CheckVersion(uninstaller, "R-3 Uninstaller", "For x64");
}

}  // namespace r3test
