#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {

using namespace detail;

// ---- Handles ---------------------------------------------------------------------------

Handle FakeWindows::NewHandle(const std::string& description) {
    nextHandle_ += 4;
    openHandles_[nextHandle_] = description;
    return nextHandle_;
}

void FakeWindows::ReleaseHandle(Handle h) {
    openHandles_.erase(h);
}

std::string FakeWindows::HandleText(Handle h) const {
    if (!RootName(h).empty()) return RootName(h);
    if (h == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
    if (h == kNullHandle) return "NULL";
    return Cat("#", Hex(static_cast<DWORD>(h)).substr(2));
}

std::vector<std::string> FakeWindows::LeakedHandles() const {
    std::vector<std::string> out;
    for (const auto& [h, description] : openHandles_)
        out.push_back(HandleText(h) + " " + description);
    for (const auto& [h, allocation] : allocations_)
        if (allocation.owner == kNullHandle) out.push_back(HandleText(h) + " " + allocation.kind);
    return out;
}

}  // namespace tessaly::winsys::fake
