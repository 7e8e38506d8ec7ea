#pragma once

#include <string>

namespace tessaly {

enum class MessageIcon { Exclamation, Information, Question, Stop };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Information;
    MessageButtons buttons = MessageButtons::Ok;
    // What the program saw and what it most likely means, shown below the text
    // (on the command line as a line of its own); empty when there is nothing to add.
    std::string details{};

    bool operator==(const Message&) const = default;
};

// Shows a message to the user and returns the answer. The GUI shows a message
// box, the command line prints, tests record.
class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual MessageAnswer notify(const Message& message) = 0;
};

// Shows nothing and gives every message the same answer: for runs nobody
// watches, such as benchmarks and fuzzing.
class FixedAnswerNotifier final : public Notifier {
  public:
    explicit FixedAnswerNotifier(MessageAnswer answer) : answer_(answer) {}
    MessageAnswer notify(const Message&) override { return answer_; }

  private:
    MessageAnswer answer_;
};

}  // namespace tessaly
