#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli_runtime.h"

namespace tessaly::cli {

// apply: brings one printer or many (each on its own thread) to a profile.
void AddApplyCommand(CLI::App& app, Runtime& runtime, int& exitStatus);

// One line per printer on a terminal, each rewritten in place as its printer gets
// on. Disabled, it writes nothing. Safe to use from several threads.
class ProgressBoard {
  public:
    // Draws the rows at once; lines are cut to `width` columns so that none wraps
    // (a wrapped line would throw the cursor arithmetic off).
    ProgressBoard(std::FILE* out, std::vector<std::string> names, bool enabled, int width);
    void Set(std::size_t row, const std::string& text);
    bool enabled() const { return enabled_; }

    // True when standard error is a terminal that understands cursor movement.
    static bool TerminalOnStandardError();
    static int TerminalWidth();

  private:
    std::string Line(std::size_t row) const;

    std::mutex mutex_;
    std::FILE* out_;
    std::vector<std::string> names_;
    std::vector<std::string> texts_;
    bool enabled_;
    int width_;
    std::size_t nameWidth_ = 0;
};

}  // namespace tessaly::cli
