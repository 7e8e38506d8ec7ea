#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "notifier.h"

namespace tessaly {

// Lets test failures show a message as text rather than as raw bytes.
inline void PrintTo(const Message& m, std::ostream* os) {
    *os << m.caption << ": " << m.text;
    if (!m.details.empty()) *os << " [" << m.details << "]";
}

}  // namespace tessaly

namespace tessaly::testing {

// Records every message; a box with more than OK gets `answer`.
struct RecordingNotifier final : Notifier {
    std::vector<Message> shown;
    MessageAnswer answer = MessageAnswer::Ok;
    MessageAnswer notify(const Message& m) override {
        shown.push_back(m);
        return m.buttons == MessageButtons::Ok ? MessageAnswer::Ok : answer;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& m : shown) t.push_back(m.text);
        return t;
    }
};

}  // namespace tessaly::testing
