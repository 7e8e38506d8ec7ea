// Drives Tessaly.exe's dialogs from outside, as a user would, against the virtual
// printer inside Tessaly.exe: the main dialog, the About box, the interface
// choices, Check Communication, Run Manager with Get Status and Set Status with a
// font download, the command test editor and its three selectors. Every wait is
// bounded; a screenshot is taken of every dialog.
//
//   tessaly_gui_tests.exe <Tessaly.exe> <screenshot folder>
//   tessaly_gui_tests.exe <Tessaly.exe> <screenshot folder> <COM port> <queue on it>
// The second form runs Tessaly.exe on the machine's own ports.

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <winspool.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "wine_helpers.h"

using namespace r3test;

namespace {

constexpr const char* kMainCaption = "Tessaly V1.0.0";
constexpr const char* kStatusCaption = "Printer Status for Vantreel R-3 V1.0.0";
DWORD pid = 0;

int ComboCount(HWND dialog, int id) {
    return static_cast<int>(Ask(GetDlgItem(dialog, id), CB_GETCOUNT, 0, 0));
}
int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(Ask(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}
// Combo entries read with the wide message (the ANSI one returns UTF-16 across processes).
std::string ComboText(HWND dialog, int id, int index) {
    HWND combo = GetDlgItem(dialog, id);
    const auto length = Ask(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0 || length > 200) return {};
    wchar_t text[256] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 2000, &result);
    std::string narrow;
    for (const wchar_t* p = text; *p != 0; ++p) narrow += static_cast<char>(*p);
    return narrow;
}
bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
bool Checked(HWND dialog, int id) {
    return Ask(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
// Chooses a list entry as the user would, so that the dialog hears of the change.
void ChooseEntry(HWND dialog, int id, int index) {
    HWND combo = GetDlgItem(dialog, id);
    Ask(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

// A key pressed and released on a control as the keyboard delivers it: posted to
// the control, so that the dialog's message loop and the control handle it.
void PressKey(HWND control, WORD key) {
    const auto scan = static_cast<LPARAM>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)) << 16;
    PostMessageA(control, WM_KEYDOWN, key, scan | 1);
    PostMessageA(control, WM_KEYUP, key, scan | 1 | (LPARAM{3} << 30));
}

// Text in and out of a control of Tessaly.exe as UTF-16, so that characters
// outside ASCII arrive as typed.
void SetWideText(HWND control, const std::wstring& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                        2000, &result);
}
std::wstring WideText(HWND control) {
    wchar_t text[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        2000, &result);
    return text;
}
// Types text into a control, one character message per character, as the
// keyboard's translated keys arrive; waits until the control shows it.
void Type(HWND control, const std::wstring& text) {
    const std::wstring before = WideText(control);
    for (wchar_t c : text) PostMessageW(control, WM_CHAR, c, 1);
    WaitFor([&] { return WideText(control) == before + text; }, 5000);
}

// The message of a message box: its longest static text.
std::wstring BoxText(HWND box) {
    std::wstring longest;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring text = ClassOf(child) == "Static" ? WideText(child) : L"";
        if (text.size() > longest.size()) longest = text;
    }
    return longest;
}

// Answers every message box of the given caption until `done` holds; returns the
// texts seen, in order.
std::vector<std::string> AnswerUntil(const std::function<bool()>& done, DWORD timeoutMs, int answer,
                                     const std::string& shot) {
    std::vector<std::string> texts;
    const DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < timeoutMs) {
        for (const char* caption : {"Information", "Notice", "Warning"}) {
            HWND box = FindTopWindow(pid, caption, true);
            if (box == nullptr || ClassOf(box) != "#32770") continue;
            MessageBoxSeen seen{box, caption, ReadItemText(box, 0xFFFF), nullptr};
            texts.push_back(seen.text);
            if (!shot.empty() && texts.size() == 1) Screenshot(shot);
            const bool yesNo = GetDlgItem(box, IDYES) != nullptr;
            Answer(seen, yesNo ? answer : IDOK);
            WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
        }
        Sleep(100);
    }
    return texts;
}

// Reads the main dialog again and again while an exchange runs: the window must
// answer every time within a second (a blocked window would stay silent for the whole exchange).
bool StaysResponsive(HWND window, const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    bool answered = true;
    while (!done() && GetTickCount() - start < timeoutMs) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result))
            answered = false;
        Sleep(50);
    }
    return answered;
}

void MainDialogChecks(HWND main) {
    Check(ReadItemText(main, 1001) == "Check Communication",
          "button 1001 reads Check Communication");
    Check(!Enabled(main, 1023) && !Enabled(main, 1030) && !Enabled(main, 1033),
          "Self Test, Run Manager and Command Test Editor start disabled");
    Check(ComboCount(main, 1032) == 1 && ComboText(main, 1032, 0) == "Vantreel R-3",
          "the model list holds Vantreel R-3 only");
    Check(ComboCount(main, 1022) == 14 && ComboText(main, 1022, 0) == "COM1" &&
              ComboText(main, 1022, 9) == "\\\\.\\COM10" && ComboSelection(main, 1022) == 0,
          "the port list offers COM1 to COM9 and \\\\.\\COM10 to \\\\.\\COM14, COM1 chosen",
          ComboText(main, 1022, 9));
    Check(ComboText(main, 1024, ComboSelection(main, 1024)) == "19200", "19200 baud is chosen");
    Check(ComboCount(main, 1026) == 3 && ComboCount(main, 1027) == 3 && ComboCount(main, 1031) == 2,
          "parity, stop bits and flow control offer 3, 3 and 2 entries");
    Check(Checked(main, 1018) && !Checked(main, 1019) && !Checked(main, 1020), "SERIAL is chosen");
    Check(ReadItemText(main, 2) == "Exit", "button 2 reads Exit");
    Screenshot("01-main-dialog");

    PostMessageA(main, WM_SYSCOMMAND, 16, 0);
    HWND about = WaitTopWindow(pid, "About Tessaly", 10000);
    Check(about != nullptr, "system menu command 16 opens the About box");
    if (about != nullptr) {
        Check(ReadItemText(about, 1050) == "Tessaly Version 1.0.0",
              "the About box names the version");
        Screenshot("02-about");
        PostItemClick(about, IDOK);
        Check(WaitFor([&] { return !IsWindow(about); }, 5000), "OK closes the About box");
    }
    PostItemClick(main, 1020);
    const auto box = WaitMessageBox(pid, "Information", 15000);
    Check(box.window != nullptr &&
              box.text == "Printer is not connected by USB.\nPlease, turn on the printer!!",
          "USB without a printer says so", Visible(box.text));
    if (box.window != nullptr) {
        Screenshot("03-no-usb-printer");
        Answer(box, IDOK);
    }
    Check(WaitFor([&] { return Checked(main, 1018) && !Checked(main, 1020); }, 5000),
          "the dialog falls back to SERIAL");
    Check(ComboCount(main, 1022) == 14 && Enabled(main, 1024),
          "with the serial ports and line settings");

    PostItemClick(main, 1019);
    Check(WaitFor([&] { return ComboCount(main, 1022) == 3; }, 5000) &&
              ComboText(main, 1022, 0) == "LPT1",
          "PARALLEL offers LPT1 to LPT3");
    Check(!Enabled(main, 1024) && !Enabled(main, 1025) && !Enabled(main, 1026) &&
              !Enabled(main, 1027) && !Enabled(main, 1031),
          "PARALLEL disables the five line-setting lists");
    Screenshot("04-parallel");
    PostItemClick(main, 1018);
    Check(WaitFor([&] { return ComboCount(main, 1022) == 14 && Enabled(main, 1024); }, 5000),
          "SERIAL enables the line settings again");
}

void Connect(HWND main) {
    PostItemClick(main, 1001);
    const bool responsive = StaysResponsive(
        main, [&] { return FindTopWindow(pid, "Information", true) != nullptr; }, 20000);
    Check(responsive, "the window answers while the connection is checked");
    const auto texts =
        AnswerUntil([&] { return Enabled(main, 1030); }, 20000, IDOK, "05-printer-connected");
    Check(!texts.empty() && texts.front() == "Printer is connected.",
          "the check reports: Printer is connected.", texts.empty() ? "" : texts.front());
    Check(Enabled(main, 1023) && Enabled(main, 1030) && Enabled(main, 1033) && !Enabled(main, 1001),
          "connected: the printer functions are enabled, Check Communication is not");
    Screenshot("06-connected");
}

// The tab pages: child dialogs of the status dialog, in creation order.
// The tab page that holds the control with this id: a child dialog of the status dialog.
HWND Page(HWND status, int controlId) {
    for (HWND child = GetWindow(status, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        if (ClassOf(child) == "#32770" && GetDlgItem(child, controlId) != nullptr) return child;
    return nullptr;
}

bool AnyMessageBox() {
    for (const char* caption : {"Information", "Notice", "Warning"}) {
        HWND box = FindTopWindow(pid, caption, true);
        if (box != nullptr && ClassOf(box) == "#32770") return true;
    }
    return false;
}

// Types a name into a common file dialog and presses its OK button.
void ChooseInFileDialog(HWND dialog, const std::string& name) {
    // The file name field: a combo box in the newer dialogs, an edit box in the older.
    HWND field = GetDlgItem(dialog, 0x47C);
    if (field == nullptr) field = GetDlgItem(dialog, 0x480);
    SetWideText(field, std::wstring(name.begin(), name.end()));
    PostItemClick(dialog, IDOK);
}

// Save Status takes a typed name as typed and asks before it creates the file;
// "No" goes back to the file dialog. Load Status takes a typed name as typed too.
void StatusFiles(HWND status) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string typed = std::string(temp) + "tessaly-shop";
    DeleteFileA(typed.c_str());
    DeleteFileA((typed + ".sts").c_str());
    constexpr const char* kSaveTitle = "Save current status";
    PostItemClick(status, 1103);
    HWND save = WaitTopWindow(pid, kSaveTitle, 10000);
    Check(save != nullptr, "Save Status opens the save dialog");
    if (save == nullptr) return;
    Screenshot("14a-save-status-dialog");
    ChooseInFileDialog(save, typed);
    auto question = WaitMessageBox(pid, kSaveTitle, 10000, save);
    Check(question.text == "tessaly-shop does not exist.\nDo you want to create it?",
          "a new status file is asked for before it is created", Visible(question.text));
    Check(!FileExists(typed) && !FileExists(typed + ".sts"),
          "nothing is created before the answer");
    if (question.window == nullptr) return;
    Screenshot("14b-create-status-file");
    Answer(question, IDNO);
    // The question carries the dialog's title: wait for it to go first.
    WaitFor([&] { return !IsWindow(question.window); }, 5000);
    save = WaitTopWindow(pid, kSaveTitle, 10000);
    Check(save != nullptr && save != question.window, "No goes back to the save dialog");
    if (save == nullptr) return;
    ChooseInFileDialog(save, typed);
    question = WaitMessageBox(pid, kSaveTitle, 10000, save);
    if (question.window != nullptr) Answer(question, IDYES);
    Check(WaitFor([&] { return FileExists(typed); }, 10000) && !FileExists(typed + ".sts"),
          "Yes creates the file under the name as typed, without .sts added");

    PostItemClick(status, 1104);
    HWND load = WaitTopWindow(pid, "Load saved status", 10000);
    Check(load != nullptr, "Load Status opens the open dialog");
    if (load == nullptr) return;
    ChooseInFileDialog(load, typed);
    const auto refused = WaitMessageBox(pid, "Warning", 10000);
    Check(refused.text == "Wrong format files loaded.",
          "a typed name is loaded as typed: without sts at its end it is refused",
          Visible(refused.text));
    if (refused.window != nullptr) Answer(refused, IDOK);
    DeleteFileA(typed.c_str());
}

void StatusDialog(HWND main) {
    PostItemClick(main, 1030);
    HWND status = WaitTopWindow(pid, kStatusCaption, 10000);
    Check(status != nullptr, "Run Manager opens the printer status dialog");
    if (status == nullptr) return;
    HWND tab = GetDlgItem(status, 1100);
    Check(Ask(tab, TCM_GETITEMCOUNT, 0, 0) == 2, "the dialog has two tabs");
    Check(Enabled(status, 1101) && !Enabled(status, 1102) && !Enabled(status, 1103) &&
              Enabled(status, 1104) && Enabled(status, 1105),
          "Get, Load and Initialize Status are enabled, Set and Save Status are not");
    HWND memory = Page(status, 1200);
    HWND setting = Page(status, 1301);
    Check(memory != nullptr && setting != nullptr && IsWindowVisible(memory) &&
              !IsWindowVisible(setting),
          "the Memory switch page shows first");
    Screenshot("07-status-dialog");

    PostItemClick(status, 1101);
    const auto texts =
        AnswerUntil([&] { return Enabled(status, 1102); }, 30000, IDOK, "08-get-status-message");
    Check(Enabled(status, 1102) && Enabled(status, 1103),
          "after Get Status, Set and Save Status are enabled");
    Check(memory && Enabled(memory, 1200) && !Enabled(memory, 1206) &&
              (Checked(memory, 1210) || Checked(memory, 1211)),
          "rows 1 to 6 show the printer's switches; Auto Line Feed stays disabled");
    Screenshot("09-memory-switch-page");

    PostMessageA(tab, WM_KEYDOWN, VK_RIGHT, 0);
    Check(WaitFor([&] { return setting && IsWindowVisible(setting); }, 5000),
          "the second tab shows the Printer Setting page");
    Check(ReadItemText(setting, 1301).find("R-3") != std::string::npos &&
              !ReadItemText(setting, 1302).empty(),
          "the page shows the model and the firmware version", ReadItemText(setting, 1301));
    Check(ComboCount(setting, 1320) == 37 && ComboCount(setting, 1321) == 6,
          "37 code pages and 6 buyer sets are offered");
    Screenshot("10-printer-setting-page");

    ChooseEntry(setting, 1321, 2);  // KOR
    Check(WaitFor([&] { return !Enabled(setting, 1320); }, 5000) &&
              ComboSelection(setting, 1320) == -1,
          "choosing KOR disables the code-page list without a selection");
    Screenshot("11-buyer-set-kor");

    PostItemClick(status, 1102);
    HWND progress = GetDlgItem(status, 1106);
    int highest = 0;
    const auto setTexts = AnswerUntil(
        [&] {
            highest = std::max(highest, static_cast<int>(Ask(progress, PBM_GETPOS, 0, 0)));
            if (highest > 0 && highest < 100) {
                static bool shot = false;
                if (!shot) {
                    shot = true;
                    Screenshot("13-font-download");
                }
            }
            // Done once the buttons are back and no message is left to answer.
            return Enabled(status, 1101) && !AnyMessageBox() &&
                   (Sleep(1500), Enabled(status, 1101)) && !AnyMessageBox();
        },
        180000, IDYES, "12-set-status-message");
    for (const auto& text : setTexts) std::printf("   message: %s\n", Visible(text).c_str());
    Check(Enabled(status, 1101),
          "Set Status with the font download ends and gives the buttons back");
    Check(highest > 0, "the progress bar moved", std::to_string(highest));
    Screenshot("14-after-set-status");
    StatusFiles(status);

    PostItemClick(status, IDCANCEL);
    Check(WaitFor([&] { return !IsWindow(status); }, 10000), "Exit closes the status dialog");
}

void Editor(HWND main) {
    PostItemClick(main, 1033);
    HWND editor = WaitTopWindow(pid, "Command Test Editor", 10000);
    Check(editor != nullptr, "Command Test Editor opens");
    if (editor == nullptr) return;
    Check(ReadItemText(editor, 1009).empty(), "the command box starts empty");
    PostItemClick(editor, 1115);
    Check(WaitFor([&] { return !ReadItemText(editor, 1009).empty(); }, 5000),
          "Font A appends its command", ReadItemText(editor, 1009));
    const std::string afterFontA = ReadItemText(editor, 1009);
    PostItemClick(editor, 1012);
    Check(WaitFor([&] { return ReadItemText(editor, 1009) != afterFontA; }, 5000) &&
              Checked(editor, 1012),
          "Bold ticks and appends its command");

    PostItemClick(editor, 15);
    HWND range = WaitTopWindow(pid, "Select Range(0~255)", 10000);
    Check(range != nullptr && ReadItemText(range, 1009) == "0",
          "Line Spacing asks for a value from 0");
    if (range != nullptr) {
        // The arrow keys in the number's box step it, wrapping at either end.
        HWND number = GetDlgItem(range, 1009);
        PressKey(number, VK_DOWN);
        Check(WaitFor([&] { return ReadItemText(range, 1009) == "255"; }, 5000),
              "Down from 0 wraps to 255", ReadItemText(range, 1009));
        PressKey(number, VK_UP);
        PressKey(number, VK_UP);
        Check(WaitFor([&] { return ReadItemText(range, 1009) == "1"; }, 5000),
              "Up twice from 255 gives 1", ReadItemText(range, 1009));
        Screenshot("16-select-range");
        PostItemClick(range, IDOK);
        WaitFor([&] { return !IsWindow(range); }, 5000);
        Check(WaitFor(
                  [&] { return ReadItemText(editor, 1009).find("1b 33 01 ") != std::string::npos; },
                  5000),
              "the chosen spacing is appended as 1b 33 01", Visible(ReadItemText(editor, 1009)));
    }
    PostItemClick(editor, 18);
    HWND codepage = WaitTopWindow(pid, "Select Codepage", 10000);
    Check(
        codepage != nullptr && ComboCount(codepage, 11) == 30 && ComboSelection(codepage, 11) == 0,
        "Select Codepage offers 30 code pages, the first chosen");
    if (codepage != nullptr) {
        Screenshot("17-select-codepage");
        ChooseEntry(codepage, 11, 5);
        Sleep(200);
        PostItemClick(codepage, IDOK);
        WaitFor([&] { return !IsWindow(codepage); }, 5000);
    }
    Check(WaitFor([&] { return ReadItemText(editor, 1009).find("1b 74 05 ") != std::string::npos; },
                  5000),
          "the chosen code page is appended as 1b 74 05", Visible(ReadItemText(editor, 1009)));
    PostItemClick(editor, 1117);
    HWND address = WaitTopWindow(pid, "Select Address", 10000);
    Check(address != nullptr && ReadItemText(address, 1016) == "01",
          "Print NV Image asks for an address, 01 first");
    if (address != nullptr) {
        Screenshot("18-select-address");
        // The close box (Escape): no address is taken.
        PostMessageA(address, WM_COMMAND, IDCANCEL, 0);
        Check(WaitFor([&] { return !IsWindow(address); }, 5000),
              "the close box ends Select Address");
    }
    Screenshot("15-command-test-editor");
    PostItemClick(editor, 11);
    const auto texts = AnswerUntil([] { return false; }, 3000, IDOK, "");
    Check(texts.empty(), "Write Command sends the text without complaint",
          texts.empty() ? "" : Visible(texts.front()));
    PostItemClick(editor, 17);
    Check(WaitFor([&] { return ReadItemText(editor, 1009).empty(); }, 5000),
          "Clear empties the command box");

    // A character that is no hexadecimal digit is named as typed.
    HWND box = GetDlgItem(editor, 1009);
    Type(box, L"1b 40 \u00e9");
    PostItemClick(editor, 11);
    const auto refused = WaitMessageBox(pid, "Warning", 10000);
    const std::wstring refusal = refused.window ? BoxText(refused.window) : L"";
    Check(refusal.find(L"'\u00e9' (U+00E9) at position 7") != std::wstring::npos,
          "the warning names the character as typed and its position", Visible(refused.text));
    if (refused.window != nullptr) Answer(refused, IDOK);

    PostItemClick(editor, IDOK);
    Check(WaitFor([&] { return !IsWindow(editor); }, 10000), "Close ends the editor");
}

// Starts Tessaly.exe with its virtual printer and the given further arguments.
bool StartTessaly(const std::string& exe, const std::string& arguments, PROCESS_INFORMATION& info) {
    std::string command = "\"" + exe + "\" --virtual-printer" + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &info) != 0;
    Check(started, "Tessaly.exe starts" + arguments, std::to_string(GetLastError()));
    if (started) pid = info.dwProcessId;
    return started;
}

// Ends Tessaly.exe with Exit and checks that it ends with status 0.
void ExitTessaly(HWND main, PROCESS_INFORMATION& info) {
    if (main != nullptr) PostItemClick(main, 2);
    const bool ended = WaitForSingleObject(info.hProcess, 20000) == WAIT_OBJECT_0;
    Check(ended, "Exit ends Tessaly.exe");
    if (!ended) TerminateProcess(info.hProcess, 1);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    Check(code == 0, "Tessaly.exe ends with status 0", std::to_string(code));
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

// Escape while the editor's write waits for a printer that takes no more data:
// the editor stays until the write has ended (its time-out), then closes.
void EscapeDuringAWrite(const std::string& exe) {
    PROCESS_INFORMATION info{};
    if (!StartTessaly(exe, " --virtual-printer-stall-after=64", info)) return;
    HWND main = WaitTopWindow(pid, kMainCaption, 30000);
    if (main != nullptr) Connect(main);
    HWND editor = nullptr;
    if (main != nullptr && Enabled(main, 1033)) {
        PostItemClick(main, 1033);
        editor = WaitTopWindow(pid, "Command Test Editor", 10000);
    }
    Check(editor != nullptr, "the editor opens on the printer that stops taking data");
    if (editor != nullptr) {
        std::wstring text;
        for (int i = 0; i < 100; ++i) text += L"41 ";
        Type(GetDlgItem(editor, 1009), text);
        PostItemClick(editor, 11);
        Sleep(500);
        PressKey(GetDlgItem(editor, 11), VK_ESCAPE);
        Sleep(500);
        Check(IsWindow(editor) != FALSE, "Escape during a write keeps the editor until it ends");
        Check(WaitFor([&] { return !IsWindow(editor); }, 15000),
              "and the editor closes once the write has ended");
    }
    ExitTessaly(main, info);
}

// The port text of a local print queue, empty when there is no such queue.
std::string QueuePort(const std::string& queue) {
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(queue.c_str()), &printer, nullptr)) return {};
    DWORD needed = 0;
    GetPrinterA(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> record(needed + 1);
    std::string port;
    if (needed != 0 && GetPrinterA(printer, 2, record.data(), needed, &needed)) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(record.data());
        if (info->pPortName != nullptr) port = info->pPortName;
    }
    ClosePrinter(printer);
    return port;
}

// The records of moved queues that Tessaly keeps under the user's key.
DWORD JournalValues() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessaly\\QueueDiversions", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

// Starts Tessaly.exe and checks the connection on the port: a serial line without
// modem signals is refused, and its queue prints to FILE: while the utility may
// use the port. Returns the main window, or none.
HWND CheckOnPort(Program& program, const std::string& exe, const std::string& portName,
                 const std::string& queue, const char* screenshot) {
    program = Launch(exe, exe.substr(0, exe.find_last_of("\\")));
    pid = program.info.dwProcessId;
    HWND main = WaitTopWindow(pid, kMainCaption, 30000);
    Check(main != nullptr, "Tessaly.exe starts on the machine's ports");
    if (main == nullptr) return nullptr;
    int index = -1;
    for (int i = 0; i < ComboCount(main, 1022); ++i)
        if (ComboText(main, 1022, i) == portName) index = i;
    Check(index >= 0, portName + " is in the port list");
    ChooseEntry(main, 1022, index);
    Check(WaitFor([&] { return ComboSelection(main, 1022) == index; }, 5000),
          portName + " is chosen");
    PostItemClick(main, 1001);
    const auto box = WaitMessageBox(pid, "Information", 20000);
    const std::string documented = "Can't open port and Printer is disconnected";
    Check(box.text.rfind(documented, 0) == 0,
          "a line without DSR is refused: Can't open port and Printer is disconnected",
          Visible(box.text));
    Check(box.text.rfind(documented + "\n\n", 0) == 0 &&
              box.text.find("modem signals of " + portName) != std::string::npos,
          "below the message, after a blank line, the port's own reason", Visible(box.text));
    if (screenshot != nullptr) Screenshot(screenshot);
    Check(
        QueuePort(queue) == "FILE:",
        "while the utility may use " + portName + ", its queue prints to FILE:", QueuePort(queue));
    if (box.window != nullptr) Answer(box, IDOK);
    Check(WaitFor([&] { return box.window == nullptr || !IsWindow(box.window); }, 5000),
          "OK closes the message");
    Check(Enabled(main, 1001) && !Enabled(main, 1030),
          "after the refusal Check Communication is offered again, the printer functions are not");
    return main;
}

// Exit at once: a click that arrives while the check is still finishing must still
// end the program.
void Exit(Program& program, HWND main) {
    PostItemClick(main, 2);
    const long code = WaitExit(program, 20000, "Tessaly.exe");
    Check(code == 0, "Exit ends Tessaly.exe", std::to_string(code));
}

// Tessaly.exe on the machine's own ports: the queue printing to the port is moved
// to FILE: while the utility may use the port, and put back when it exits, when
// the session ends, and after it was killed, at its next start.
int RealPorts(const std::string& exe, const std::string& portName, const std::string& queue) {
    const std::string before = QueuePort(queue);
    Check(before == portName, "the queue " + queue + " prints to " + portName, before);
    Program program;
    HWND main = CheckOnPort(program, exe, portName, queue, "19-serial-port-refused");
    if (main == nullptr) return 1;
    Check(JournalValues() == 1, "the move is recorded under the user's key");
    Exit(program, main);
    Check(QueuePort(queue) == portName, "on exit the queue prints to " + portName + " again",
          QueuePort(queue));
    Check(JournalValues() == 0, "and its record is gone");

    // Logging off: the session's end puts the queue back before the process ends.
    main = CheckOnPort(program, exe, portName, queue, nullptr);
    if (main == nullptr) return 1;
    Ask(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    Ask(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    Check(QueuePort(queue) == portName,
          "when the session ends the queue prints to " + portName + " again", QueuePort(queue));
    Exit(program, main);

    // Killed outright: nothing runs at the end, the record stays, and the next
    // start moves the queue back and says so.
    main = CheckOnPort(program, exe, portName, queue, nullptr);
    if (main == nullptr) return 1;
    TerminateProcess(program.info.hProcess, 9);
    WaitExit(program, 10000, "the killed Tessaly.exe");
    Check(QueuePort(queue) == "FILE:" && JournalValues() == 1,
          "a killed Tessaly.exe leaves the queue on FILE: and its record", QueuePort(queue));
    program = Launch(exe, exe.substr(0, exe.find_last_of("\\")));
    pid = program.info.dwProcessId;
    const auto note = WaitMessageBox(pid, "Information", 30000);
    const std::string expected = "Moved queue " + queue + " back to " + portName +
                                 ", left on FILE: by an earlier run that did not finish.";
    Check(note.text == expected, "the next start says: " + expected, Visible(note.text));
    Screenshot("20-queue-given-back");
    Check(QueuePort(queue) == portName, "the next start puts the queue back on " + portName,
          QueuePort(queue));
    Check(JournalValues() == 0, "and forgets the record");
    if (note.window != nullptr) Answer(note, IDOK);
    main = WaitTopWindow(pid, kMainCaption, 10000);
    if (main != nullptr) Exit(program, main);
    return Failures() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <Tessaly.exe> <screenshot folder>\n", argv[0]);
        return 2;
    }
    SetScreenshotFolder(argv[2]);
    std::string exe = argv[1];
    if (argc == 5) return RealPorts(exe, argv[3], argv[4]);
    PROCESS_INFORMATION info{};
    if (!StartTessaly(exe, "", info)) return 1;
    HWND main = WaitTopWindow(pid, kMainCaption, 30000);
    Check(main != nullptr, "the main dialog Tessaly V1.0.0 appears");
    if (main != nullptr) {
        MainDialogChecks(main);
        Connect(main);
        if (Enabled(main, 1030)) {
            StatusDialog(main);
            Editor(main);
        }
    }
    ExitTessaly(main, info);
    EscapeDuringAWrite(exe);
    return Failures() == 0 ? 0 : 1;
}
