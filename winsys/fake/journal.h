// The fake Windows' journal: the ordered record of the calls made to it, one readable line
// each ("Name(args) -> result"), which tests search and compare.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::winsys::fake {

// Ordered record of calls; other recorders (dialogs) may add their lines too.
class Journal {
  public:
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    const std::vector<std::string>& Lines() const { return lines_; }
    std::size_t Size() const { return lines_.size(); }
    void Clear() { lines_.clear(); }
    // Index of the first line at or after `from` that contains `needle`; -1 if none.
    int Find(std::string_view needle, int from = 0) const;
    bool Contains(std::string_view needle) const { return Find(needle) >= 0; }
    int Count(std::string_view needle) const;
    // The lines that contain `needle`, in order.
    std::vector<std::string> Matching(std::string_view needle) const;
    // The lines that start with one of the call names, in order (e.g. {"SetStatus", "Sleep"}).
    std::vector<std::string> Calls(const std::vector<std::string>& names) const;
    void Print(std::ostream& out) const;

  private:
    std::vector<std::string> lines_;
};

// Text with control characters written as C escapes (for journal lines).
std::string Escape(std::string_view text);

}  // namespace tessaly::winsys::fake
