#include "fake_windows.h"

namespace tessaly::winsys::fake {

// ---- Failure injection ---------------------------------------------------------------

void FakeWindows::FailCall(const std::string& call, DWORD code, const std::string& argsContain,
                           int times, int skip) {
    failRules_.push_back({call, code, argsContain, times, skip});
}

std::optional<DWORD> FakeWindows::Injected(const std::string& call, const std::string& args) {
    for (auto& rule : failRules_) {
        if (rule.times == 0 || rule.call != call) continue;
        if (!rule.argsContain.empty() && args.find(rule.argsContain) == std::string::npos) continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        if (rule.times > 0) --rule.times;
        return rule.code;
    }
    return std::nullopt;
}

}  // namespace tessaly::winsys::fake
