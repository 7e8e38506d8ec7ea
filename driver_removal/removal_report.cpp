#include "removal_report.h"

#include <cctype>

namespace tessaly::removal {
namespace {

std::string SystemText(winsys::WindowsServices& sys, winsys::DWORD code) {
    std::string text = sys.FormatMessageA(
        winsys::FORMAT_MESSAGE_ALLOCATE_BUFFER | winsys::FORMAT_MESSAGE_FROM_SYSTEM, code,
        winsys::kLangEnglishUs);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace

std::string RemovalReport::Text(winsys::WindowsServices& sys, bool driverRemovalRan) const {
    std::vector<std::string> lines;
    for (const RemovalProblem& problem : problems_)
        lines.push_back(problem.what + ": " + SystemText(sys, problem.code));
    if (lines.empty()) return {};
    const bool removed = driverRemovalRan && DriverRemoved();
    if (lines.size() == 1) {
        if (removed) return "The driver was removed, but " + lines[0];
        lines[0][0] = static_cast<char>(std::toupper(static_cast<unsigned char>(lines[0][0])));
        return lines[0];
    }
    std::string text = removed ? "The driver was removed, but:" : "The removal is not complete:";
    for (const std::string& line : lines) text += "\n- " + line;
    return text;
}

}  // namespace tessaly::removal
