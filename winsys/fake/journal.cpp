#include "journal.h"

#include <algorithm>

#include "fake_windows.h"
#include "text_helpers.h"

namespace tessaly::winsys::fake {
using namespace detail;

// ---- Journal ---------------------------------------------------------------------------

int Journal::Find(std::string_view needle, int from) const {
    for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < lines_.size(); ++i)
        if (lines_[i].find(needle) != std::string::npos) return static_cast<int>(i);
    return -1;
}

int Journal::Count(std::string_view needle) const {
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& line) {
        return line.find(needle) != std::string::npos;
    }));
}

std::vector<std::string> Journal::Matching(std::string_view needle) const {
    std::vector<std::string> out;
    for (const auto& line : lines_)
        if (line.find(needle) != std::string::npos) out.push_back(line);
    return out;
}

std::vector<std::string> Journal::Calls(const std::vector<std::string>& names) const {
    std::vector<std::string> out;
    for (const auto& line : lines_)
        for (const auto& name : names)
            if (line.rfind(name + "(", 0) == 0) {
                out.push_back(line);
                break;
            }
    return out;
}

void Journal::Print(std::ostream& out) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) out << i + 1 << ": " << lines_[i] << '\n';
}

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// ---- Journal lines and results of the calls ----------------------------------------

void FakeWindows::Log(const std::string& call, const std::string& args, const std::string& result) {
    journal_.Add(call + "(" + args + ")" + (result.empty() ? "" : " -> " + result));
}

bool FakeWindows::BoolResult(const std::string& call, const std::string& args, DWORD error,
                             const std::string& extra) {
    if (error != 0) {
        lastError_ = error;
        Log(call, args, Cat("FALSE, error ", Dec(error)));
        return false;
    }
    Log(call, args, "TRUE" + (extra.empty() ? "" : " " + extra));
    return true;
}

DWORD FakeWindows::CodeResult(const std::string& call, const std::string& args, DWORD error,
                              const std::string& extra) {
    Log(call, args, Dec(error) + (error == 0 && !extra.empty() ? " " + extra : ""));
    return error;
}

}  // namespace tessaly::winsys::fake
