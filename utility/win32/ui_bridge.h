// utility/win32/ is Tessaly.exe: one Win32 dialog per file pair, drawing the dialogs of
// utility/ui/. This header holds the bridge between the window thread and the one worker thread
// on which printer exchanges run.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "notifier.h"
#include "operation_runner.h"

namespace tessaly::win32 {

// The user-interface thread as seen from other threads: work posted to it runs
// there, in order, whenever that thread processes messages (also inside modal
// loops and message boxes); Call waits for the work to have run.
class UiBridge {
  public:
    static UiBridge& instance();
    // Creates the bridge's message-only window; call once, on the UI thread.
    bool Create();
    bool onUiThread() const { return GetCurrentThreadId() == uiThread_; }
    void Post(std::function<void()> work);
    void Call(const std::function<void()>& work);

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    DWORD uiThread_ = 0;
};

// The one worker thread on which printer exchanges run, one at a time, in the
// order they were started, so that the window keeps answering meanwhile. A job's
// completion runs on the user-interface thread; then onIdle is called once no job
// is left.
class Worker final : public ui::OperationRunner {
  public:
    Worker();
    ~Worker() override;
    void Run(std::function<void()> job, std::function<void()> done) override;
    bool busy() const { return pending_ > 0; }
    // Processes messages until no job is pending.
    void WaitIdle();
    // Called on the user-interface thread whenever the last pending job completed.
    std::function<void()> onIdle;

  private:
    void Serve();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<std::function<void()>, std::function<void()>>> queue_;
    bool stopping_ = false;
    int pending_ = 0;  // user-interface thread only
    std::thread thread_;
};

// Message boxes, shown on the user-interface thread whichever thread asks, owned
// by the window the user works in.
class MessageBoxNotifier final : public Notifier {
  public:
    MessageAnswer notify(const Message& message) override;
};

// The window that message boxes and file dialogs belong to (the topmost dialog).
HWND OwnerWindow();
void SetOwnerWindow(HWND window);

// The dialog logic keeps text in UTF-8. Text for the screen: UTF-8, or the ANSI
// code page where it is not UTF-8 (a file name from the ANSI file dialogs).
std::wstring ToWide(const std::string& text);
std::string ToUtf8(const std::wstring& text);

}  // namespace tessaly::win32
