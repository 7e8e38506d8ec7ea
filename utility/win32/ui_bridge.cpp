#include "ui_bridge.h"

namespace tessaly::win32 {
namespace {

constexpr UINT kPosted = WM_APP + 1;
constexpr UINT kCalled = WM_APP + 2;
constexpr const char* kBridgeClass = "TessalyUiBridge";
HWND owner = nullptr;

}  // namespace

UiBridge& UiBridge::instance() {
    static UiBridge bridge;
    return bridge;
}

bool UiBridge::Create() {
    uiThread_ = GetCurrentThreadId();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kBridgeClass;
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, kBridgeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    return window_ != nullptr;
}

void UiBridge::Post(std::function<void()> work) {
    auto* heap = new std::function<void()>(std::move(work));
    if (!PostMessageA(window_, kPosted, 0, reinterpret_cast<LPARAM>(heap))) delete heap;
}

void UiBridge::Call(const std::function<void()>& work) {
    if (onUiThread()) {
        work();
        return;
    }
    SendMessageA(window_, kCalled, 0, reinterpret_cast<LPARAM>(&work));
}

LRESULT CALLBACK UiBridge::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPosted) {
        std::unique_ptr<std::function<void()>> work(
            reinterpret_cast<std::function<void()>*>(lParam));
        (*work)();
        return 0;
    }
    if (message == kCalled) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

Worker::Worker() : thread_([this] { Serve(); }) {}

Worker::~Worker() {
    WaitIdle();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Worker::Run(std::function<void()> job, std::function<void()> done) {
    ++pending_;
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(std::move(job), std::move(done));
    }
    wake_.notify_all();
}

void Worker::Serve() {
    for (;;) {
        std::pair<std::function<void()>, std::function<void()>> item;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        if (item.first) item.first();
        UiBridge::instance().Post([this, done = std::move(item.second)] {
            if (done) done();
            if (--pending_ == 0 && onIdle) onIdle();
        });
    }
}

void Worker::WaitIdle() {
    MSG message;
    while (pending_ > 0 && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

HWND OwnerWindow() {
    return owner;
}

void SetOwnerWindow(HWND window) {
    owner = window;
}

std::wstring ToWide(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length == 0) {
        codePage = CP_ACP;
        length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

MessageAnswer MessageBoxNotifier::notify(const Message& message) {
    UINT flags = MB_TASKMODAL;
    switch (message.icon) {
        case MessageIcon::Exclamation:
            flags |= MB_ICONEXCLAMATION;
            break;
        case MessageIcon::Information:
            flags |= MB_ICONINFORMATION;
            break;
        case MessageIcon::Question:
            flags |= MB_ICONQUESTION;
            break;
        case MessageIcon::Stop:
            flags |= MB_ICONSTOP;
            break;
    }
    switch (message.buttons) {
        case MessageButtons::Ok:
            flags |= MB_OK;
            break;
        case MessageButtons::OkCancel:
            flags |= MB_OKCANCEL;
            break;
        case MessageButtons::YesNo:
            flags |= MB_YESNO;
            break;
    }
    // The details go into the same box, a blank line below the message itself.
    const std::string text =
        message.details.empty() ? message.text : message.text + "\n\n" + message.details;
    int answer = IDOK;
    UiBridge::instance().Call([&] {
        answer = MessageBoxW(OwnerWindow(), ToWide(text).c_str(), ToWide(message.caption).c_str(),
                             flags);
    });
    switch (answer) {
        case IDCANCEL:
            return MessageAnswer::Cancel;
        case IDYES:
            return MessageAnswer::Yes;
        case IDNO:
            return MessageAnswer::No;
        default:
            return MessageAnswer::Ok;
    }
}

}  // namespace tessaly::win32
