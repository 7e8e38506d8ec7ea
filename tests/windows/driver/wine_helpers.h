// What the Wine integration tests need to drive another process's dialogs and to look at the
// system's state: bounded waits, window search (hidden windows included), cross-process
// reads with time-outs, posted clicks, screenshots through the harness, and spooler and
// registry queries.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace r3test {

// ---- Results -----------------------------------------------------------------------
// Prints "PASS name" or "FAIL name: detail" at once (the process may be ended by a restart
// right after) and counts failures.
bool Check(bool ok, const std::string& name, const std::string& detail = {});
int Failures();

// Shows control characters the way they are written in C (\r, \n), for messages.
std::string Visible(const std::string& text);

// ---- Waiting -------------------------------------------------------------------------
// Polls `done` every 100 ms until it holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs);

// ---- Processes -----------------------------------------------------------------------
struct Program {
    PROCESS_INFORMATION info{};
    bool started = false;
};
Program Launch(const std::string& exe, const std::string& directory);
// Waits for the program to end; terminates it (and reports) when it does not in time.
// Returns its exit code, or -1 when it had to be terminated.
long WaitExit(Program& program, DWORD timeoutMs, const std::string& what);
bool IsRunning(const Program& program);

// ---- Windows of a process ------------------------------------------------------------
// Top-level windows of the process, hidden ones included.
std::vector<HWND> TopWindows(DWORD processId);
HWND FindTopWindow(DWORD processId, const std::string& caption, bool mustBeVisible);
HWND WaitTopWindow(DWORD processId, const std::string& caption, DWORD timeoutMs,
                   bool mustBeVisible = true);
// The caption as the window manager keeps it (no message is sent).
std::string Caption(HWND window);
// WM_GETTEXT through SendMessageTimeout, so a busy dialog cannot block the test.
std::string ReadText(HWND window);
std::string ReadItemText(HWND dialog, int id);
// SendMessageTimeout for messages without pointers; `ok` tells whether it was answered.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* ok = nullptr);
std::string ClassOf(HWND window);

// Clicks are posted, never sent: the receiving dialog may be busy for seconds.
void PostClick(HWND button);
void PostItemClick(HWND dialog, int id);

// ---- Message boxes -------------------------------------------------------------------
struct MessageBoxSeen {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
};
// Waits for a visible message box (class #32770 with the caption) of the process; `notThis`
// excludes a dialog that carries the same caption.
MessageBoxSeen WaitMessageBox(DWORD processId, const std::string& caption, DWORD timeoutMs,
                              HWND notThis = nullptr);
// Answers a message box with the button of the given id (IDOK, IDNO ...).
void Answer(const MessageBoxSeen& box, int buttonId);

// ---- List boxes (wide messages: the ANSI ones return UTF-16 across processes) ----------
int ListCount(HWND list);
std::string ListText(HWND list, int index);
LRESULT ListItemData(HWND list, int index);
// Clicks the check box at the left of a line.
void ClickListCheckBox(HWND list, int index);

// ---- Screenshots ---------------------------------------------------------------------
// Asks the harness (outside Wine) to photograph the screen: writes <folder>\<name>.req and
// waits until the harness has removed it. Does nothing when no folder was given.
void SetScreenshotFolder(const std::string& folder);
void Screenshot(const std::string& name);

// ---- System state --------------------------------------------------------------------
std::vector<std::string> DriverNames(const char* environment);
std::vector<std::string> MonitorNames();
std::vector<std::string> PrintProcessorNames(const char* environment);
std::vector<std::string> PrinterNames();
bool Contains(const std::vector<std::string>& names, const std::string& name);
std::string PrinterDriverDirectory(const char* environment);
std::string PrintProcessorDirectory(const char* environment);
std::string WindowsDirectory();

bool KeyExists(HKEY root, const std::string& subKey, REGSAM view);
// The REG_SZ value, or "<missing>" when the key or value cannot be read.
std::string RegString(HKEY root, const std::string& subKey, const std::string& name, REGSAM view);
bool SetRegString(HKEY root, const std::string& subKey, const std::string& name,
                  const std::string& value, REGSAM view);
std::string Profile(const std::string& key);
bool FileExists(const std::string& path);
bool CopyInto(const std::string& from, const std::string& toDirectory, const std::string& name);

}  // namespace r3test
