#include "wine_helpers.h"

#include <commctrl.h>
#include <winspool.h>

#include <cstdio>

namespace r3test {
namespace {

int g_failures = 0;
std::string g_shots;
// Every query waits at most this long. The programs do their removal work on the dialog's
// thread, so a message box that has just appeared belongs to a thread that has not fetched a
// message for several seconds; an "abort if hung" query would give up on it at once.
constexpr UINT kAnswerMs = 2000;

std::string Narrow(const wchar_t* text, int chars) {
    if (chars <= 0) return {};
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, chars, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, chars, out.data(), bytes, nullptr, nullptr);
    return out;
}

template <typename Info, typename Enum, typename Name>
std::vector<std::string> EnumNames(Enum enumerate, Name name) {
    DWORD needed = 0;
    DWORD count = 0;
    std::vector<std::string> names;
    if (!enumerate(nullptr, 0, &needed, &count) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return names;
    if (needed == 0) return names;
    std::vector<BYTE> buffer(needed);
    if (!enumerate(buffer.data(), needed, &needed, &count)) return names;
    const auto* items = reinterpret_cast<const Info*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) names.push_back(name(items[i]) ? name(items[i]) : "");
    return names;
}

}  // namespace

bool Check(bool ok, const std::string& name, const std::string& detail) {
    if (ok) {
        std::printf("PASS %s\n", name.c_str());
    } else {
        ++g_failures;
        std::printf("FAIL %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
    return ok;
}

int Failures() {
    return g_failures;
}

std::string Visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(100);
    }
}

Program Launch(const std::string& exe, const std::string& directory) {
    Program program;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    program.started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, directory.c_str(), &startup, &program.info) != 0;
    Check(program.started, "start " + exe, "CreateProcess error " + std::to_string(GetLastError()));
    return program;
}

long WaitExit(Program& program, DWORD timeoutMs, const std::string& what) {
    if (!program.started) return -1;
    const DWORD waited = WaitForSingleObject(program.info.hProcess, timeoutMs);
    if (waited != WAIT_OBJECT_0) {
        Check(false, what + " ends in time",
              "still running after " + std::to_string(timeoutMs) + " ms; terminated");
        TerminateProcess(program.info.hProcess, 99);
        WaitForSingleObject(program.info.hProcess, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(program.info.hProcess, &code);
    return static_cast<long>(code);
}

bool IsRunning(const Program& program) {
    return program.started && WaitForSingleObject(program.info.hProcess, 0) == WAIT_TIMEOUT;
}

namespace {
struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid) search->found.push_back(window);
    return TRUE;
}
}  // namespace

std::vector<HWND> TopWindows(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string Caption(HWND window) {
    wchar_t text[512] = {};
    // InternalGetWindowText reads the stored caption without sending WM_GETTEXT.
    const int length = InternalGetWindowText(window, text, 512);
    return Narrow(text, length);
}

std::string ClassOf(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

HWND FindTopWindow(DWORD processId, const std::string& caption, bool mustBeVisible) {
    for (HWND window : TopWindows(processId))
        if (Caption(window) == caption && (!mustBeVisible || IsWindowVisible(window)))
            return window;
    return nullptr;
}

HWND WaitTopWindow(DWORD processId, const std::string& caption, DWORD timeoutMs,
                   bool mustBeVisible) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            found = FindTopWindow(processId, caption, mustBeVisible);
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

std::string ReadText(HWND window) {
    if (!window) return "<no window>";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kAnswerMs, &length))
        return "<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, kAnswerMs, &copied))
        return "<no answer>";
    return Narrow(text.c_str(), static_cast<int>(copied));
}

std::string ReadItemText(HWND dialog, int id) {
    return ReadText(GetDlgItem(dialog, id));
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* ok) {
    DWORD_PTR result = 0;
    const bool answered =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerMs, &result) != 0;
    if (ok) *ok = answered;
    return static_cast<LRESULT>(result);
}

void PostClick(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void PostItemClick(HWND dialog, int id) {
    PostClick(GetDlgItem(dialog, id));
}

MessageBoxSeen WaitMessageBox(DWORD processId, const std::string& caption, DWORD timeoutMs,
                              HWND notThis) {
    MessageBoxSeen seen;
    WaitFor(
        [&] {
            for (HWND window : TopWindows(processId)) {
                if (window == notThis) continue;
                if (ClassOf(window) != "#32770" || !IsWindowVisible(window)) continue;
                if (Caption(window) != caption) continue;
                seen.window = window;
                return true;
            }
            return false;
        },
        timeoutMs);
    if (!seen.window) return seen;
    seen.caption = Caption(seen.window);
    seen.owner = GetWindow(seen.window, GW_OWNER);
    // The message is the longest static text of the box (the icon is a static without text).
    for (HWND child = GetWindow(seen.window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != "Static") continue;
        const std::string text = ReadText(child);
        if (text.size() > seen.text.size()) seen.text = text;
    }
    return seen;
}

void Answer(const MessageBoxSeen& box, int buttonId) {
    if (box.window) PostItemClick(box.window, buttonId);
}

int ListCount(HWND list) {
    return static_cast<int>(Ask(list, LB_GETCOUNT, 0, 0));
}

std::string ListText(HWND list, int index) {
    bool ok = false;
    const auto length = Ask(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0, &ok);
    if (!ok || length < 0) return "<no answer>";
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXT, static_cast<WPARAM>(index),
                             reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kAnswerMs,
                             &copied))
        return "<no answer>";
    return Narrow(text.c_str(), static_cast<int>(copied));
}

LRESULT ListItemData(HWND list, int index) {
    return Ask(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

void ClickListCheckBox(HWND list, int index) {
    const auto height = static_cast<int>(Ask(list, LB_GETITEMHEIGHT, 0, 0));
    const auto top = static_cast<int>(Ask(list, LB_GETTOPINDEX, 0, 0));
    const int x = 6;
    const int y = (index - top) * height + height / 2;
    const LPARAM point = MAKELPARAM(x, y);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(list, WM_LBUTTONUP, 0, point);
}

void SetScreenshotFolder(const std::string& folder) {
    g_shots = folder;
}

void Screenshot(const std::string& name) {
    if (g_shots.empty()) return;
    Sleep(300);  // lets the screen settle after the last change
    const std::string request = g_shots + "\\" + name + ".req";
    HANDLE file = CreateFileA(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Check(false, "screenshot " + name, "cannot write the request");
        return;
    }
    CloseHandle(file);
    const bool taken = WaitFor(
        [&] { return GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 15000);
    Check(taken, "screenshot " + name, "the harness did not take it");
}

std::vector<std::string> DriverNames(const char* environment) {
    return EnumNames<DRIVER_INFO_1A>(
        [&](BYTE* b, DWORD s, DWORD* n, DWORD* c) {
            return EnumPrinterDriversA(nullptr, const_cast<char*>(environment), 1, b, s, n, c);
        },
        [](const DRIVER_INFO_1A& d) { return d.pName; });
}

std::vector<std::string> MonitorNames() {
    return EnumNames<MONITOR_INFO_1A>(
        [&](BYTE* b, DWORD s, DWORD* n, DWORD* c) { return EnumMonitorsA(nullptr, 1, b, s, n, c); },
        [](const MONITOR_INFO_1A& m) { return m.pName; });
}

std::vector<std::string> PrintProcessorNames(const char* environment) {
    return EnumNames<PRINTPROCESSOR_INFO_1A>(
        [&](BYTE* b, DWORD s, DWORD* n, DWORD* c) {
            return EnumPrintProcessorsA(nullptr, const_cast<char*>(environment), 1, b, s, n, c);
        },
        [](const PRINTPROCESSOR_INFO_1A& p) { return p.pName; });
}

std::vector<std::string> PrinterNames() {
    return EnumNames<PRINTER_INFO_2A>(
        [&](BYTE* b, DWORD s, DWORD* n, DWORD* c) {
            return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, b, s, n, c);
        },
        [](const PRINTER_INFO_2A& p) { return p.pPrinterName; });
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (n == name) return true;
    return false;
}

std::string PrinterDriverDirectory(const char* environment) {
    char buffer[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, const_cast<char*>(environment), 1,
                                    reinterpret_cast<BYTE*>(buffer), sizeof buffer, &needed))
        return {};
    return buffer;
}

std::string PrintProcessorDirectory(const char* environment) {
    char buffer[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrintProcessorDirectoryA(nullptr, const_cast<char*>(environment), 1,
                                     reinterpret_cast<BYTE*>(buffer), sizeof buffer, &needed))
        return {};
    return buffer;
}

std::string WindowsDirectory() {
    char buffer[MAX_PATH] = {};
    GetWindowsDirectoryA(buffer, MAX_PATH);
    return buffer;
}

bool KeyExists(HKEY root, const std::string& subKey, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string RegString(HKEY root, const std::string& subKey, const std::string& name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return "<missing>";
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG error =
        RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
    return std::string(buffer, strnlen(buffer, size));
}

bool SetRegString(HKEY root, const std::string& subKey, const std::string& name,
                  const std::string& value, REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG error =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

std::string Profile(const std::string& key) {
    char buffer[64] = {};
    GetProfileStringA("windows", key.c_str(), "<unset>", buffer, sizeof buffer);
    return buffer;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyInto(const std::string& from, const std::string& toDirectory, const std::string& name) {
    return CopyFileA((from + "\\" + name).c_str(), (toDirectory + "\\" + name).c_str(), FALSE) != 0;
}

}  // namespace r3test
