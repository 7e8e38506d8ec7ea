#include "connection_check.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <string>

#include "commands.h"
#include "hex_text.h"

namespace tessaly {
namespace {

constexpr std::uint32_t kReadTimeoutMs = 1000;
// How many bytes of a failed answer are kept to show.
constexpr std::size_t kShownBytes = 16;

constexpr const char* kHungUpCause =
    "Likely cause: the cable was pulled or the printer was switched off.";

std::string ShownBytes(const std::vector<std::uint8_t>& bytes, std::size_t total) {
    std::string text = HexBytes(bytes);
    if (total > bytes.size()) text += fmt::format(" ... ({} bytes)", total);
    return text;
}

bool IsPrintable(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    });
}

class CheckRun {
  public:
    CheckRun(Session& session, const CheckLimits& limits) : s_(session), limits_(limits) {}

    void Clear() { buffer_.fill(0); }

    std::uint32_t Read(std::uint32_t count, std::uint32_t timeoutMs = kReadTimeoutMs) {
        const std::uint32_t n = s_.port.Read(buffer_.data(), count, timeoutMs);
        for (std::uint32_t i = 0; i < n && seen_.size() < kShownBytes; ++i)
            seen_.push_back(buffer_[i]);
        seenCount_ += n;
        return n;
    }

    // The query whose answer is read next has just been sent: what is read from
    // here on belongs to its answer.
    void StartAnswer() {
        seen_.clear();
        seenCount_ = 0;
        queryAt_ = s_.clock.now();
    }

    bool ReadModelId(bool usb) {
        if (usb) {
            s_.clock.sleep(200);
            if (Read(16) == 0) Read(16);
        } else {
            s_.clock.sleep(100);
            Read(1);
        }
        if (buffer_[0] == cmd::kModelId) return true;
        // The query is not repeated; these tries only give a slow printer time.
        for (int attempt = 0; attempt < 10; ++attempt) {
            s_.clock.sleep(100);
            Read(1);
            if (buffer_[0] == cmd::kModelId) return true;
            Clear();
        }
        return false;
    }

    std::string ReadManufacturer(bool usb) {
        std::string name;
        nameComplete_ = false;
        if (usb) {
            s_.clock.sleep(200);
            std::uint32_t n = Read(32);
            if (n == 0) n = Read(32);
            // Byte 0 is the header; the 128-byte buffer ends in zeros after a
            // 32-byte read, so the name always ends.
            for (std::size_t i = 1; i < buffer_.size() && buffer_[i] != 0; ++i)
                name += static_cast<char>(buffer_[i]);
            nameComplete_ = n > name.size() + 1;  // the terminating 0 came too
            return name;
        }
        s_.clock.sleep(100);
        while (name.size() < limits_.maxNameBytes) {
            Clear();
            if (Read(1) == 0) return name;
            if (buffer_[0] == 0) break;
            if (buffer_[0] != cmd::kNameHeader) name += static_cast<char>(buffer_[0]);
        }
        nameComplete_ = true;
        return name;
    }

    // Why the answer to the last query did not do: the line hung up, the answer
    // came late, or what came instead. An answer that did not come whole is
    // listened for a while longer first.
    CheckCause ExplainAnswer(bool complete) {
        if (s_.port.LineLost()) return CheckCause::LineHungUp;
        if (seen_.empty() || !complete) {
            if (ListenForLateAnswer()) return CheckCause::LateAnswer;
            if (s_.port.LineLost()) return CheckCause::LineHungUp;
        }
        return seen_.empty() ? CheckCause::NoAnswer : CheckCause::UnexpectedBytes;
    }

    bool nameComplete() const { return nameComplete_; }
    const std::vector<std::uint8_t>& seen() const { return seen_; }
    std::string SeenHex() const { return ShownBytes(seen_, seenCount_); }
    std::size_t seenCount() const { return seenCount_; }
    std::int64_t lateAfterMs() const { return lateAfterMs_; }

  private:
    bool ListenForLateAnswer() {
        const std::int64_t start = s_.clock.now();
        while (s_.clock.now() - start < limits_.lateAnswerListenMs) {
            Clear();
            if (Read(16) > 0) {
                lateAfterMs_ = s_.clock.now() - queryAt_;
                return true;
            }
            if (s_.port.LineLost()) return false;
        }
        return false;
    }

    Session& s_;
    const CheckLimits& limits_;
    std::array<std::uint8_t, 128> buffer_{};
    std::vector<std::uint8_t> seen_;
    std::size_t seenCount_ = 0;
    std::int64_t queryAt_ = 0;
    std::int64_t lateAfterMs_ = -1;
    bool nameComplete_ = false;
};

// What the user reads below the documented message: what was seen, the likely
// cause and what to do.
std::string Explain(CheckCause cause, CheckResult result, const CheckRun& run,
                    const std::string& name) {
    const bool model = result == CheckResult::WrongModel;
    switch (cause) {
        case CheckCause::NoAnswer:
            return model ? "No byte came back from the printer. Likely cause: the printer is "
                           "switched off, the cable or the port is wrong, or the baud rate "
                           "differs from the printer's."
                         : "The printer sent its model byte but no answer to the name query. "
                           "Likely cause: the printer is busy or of another model; switch it "
                           "off and on and try again.";
        case CheckCause::UnexpectedBytes:
            if (model) {
                return fmt::format(
                    "The printer answered {} (hex) instead of its model byte 20. Likely "
                    "cause: a baud rate, data bits or parity that differ from the printer's, "
                    "or a printer of another model.",
                    run.SeenHex());
            }
            if (IsPrintable(name)) {
                constexpr std::size_t kShownName = 40;
                return fmt::format(
                    "The printer gave its maker's name as \"{}\". Likely cause: a printer of "
                    "another maker or model.",
                    name.size() > kShownName ? name.substr(0, kShownName) + "..." : name);
            }
            return fmt::format(
                "The printer answered {} (hex), which is not a name. Likely cause: a baud "
                "rate, data bits or parity that differ from the printer's.",
                run.SeenHex());
        case CheckCause::LineHungUp:
            if (run.seenCount() == 0) return std::string("The line hung up. ") + kHungUpCause;
            return fmt::format("The line hung up after the printer sent {} (hex). {}",
                               run.SeenHex(), kHungUpCause);
        case CheckCause::LateAnswer:
            return fmt::format(
                "The printer answered only {:.1f} s after the query, when the check had "
                "stopped waiting. Likely cause: the printer is busy; try again.",
                static_cast<double>(run.lateAfterMs()) / 1000.0);
        case CheckCause::None:
            break;
    }
    return {};
}

}  // namespace

CheckResult CheckCommunication(Session& session, const PortSettings& settings,
                               PortType interfaceType, const CheckLimits& limits,
                               CheckReport* report) {
    CheckReport local;
    CheckReport& out = report ? *report : local;
    out = CheckReport{};
    CheckRun run(session, limits);
    // Shows the outcome's message; from the exchange on, a failure also closes
    // the port.
    auto finish = [&](CheckResult result, Message message, CheckCause cause = CheckCause::None,
                      const std::string& name = {}) {
        if (message.details.empty()) message.details = Explain(cause, result, run, name);
        out.result = result;
        out.cause = cause;
        out.bytes = cause == CheckCause::None ? std::vector<std::uint8_t>{} : run.seen();
        out.answerAfterMs = cause == CheckCause::LateAnswer ? run.lateAfterMs() : -1;
        out.message = message;
        session.notifier.notify(message);
        if (result != CheckResult::Connected && result != CheckResult::SetupFailed &&
            result != CheckResult::OpenFailed)
            session.port.Close();
        return result;
    };

    run.Clear();
    if (!session.port.Setup(settings))
        return finish(CheckResult::SetupFailed, messages::kSetupFailed);
    if (!session.port.Open(0)) {
        Message message = messages::kOpenFailed;
        message.details = session.port.LastError();
        return finish(CheckResult::OpenFailed, message);
    }
    const bool usb = interfaceType == PortType::Usb;
    if (!usb && !DrainInput(session, limits.drain))
        return finish(CheckResult::EndlessInput, messages::kEndlessInput);

    if (session.Write(cmd::CmdInitialize) != cmd::CmdInitialize.size()) {
        if (session.port.LineLost())
            return finish(CheckResult::PortError, messages::kPortError, CheckCause::LineHungUp);
        Message message = messages::kPortError;
        message.details = session.port.LastError();
        return finish(CheckResult::PortError, message);
    }
    session.Write(cmd::CmdSelectPeripheral);
    session.Write(cmd::CmdDisableStatusBack);

    run.Clear();
    session.Write(cmd::CmdModelId);
    run.StartAnswer();
    run.Clear();
    if (!run.ReadModelId(usb)) {
        const CheckCause cause = run.ExplainAnswer(!run.seen().empty());
        return finish(CheckResult::WrongModel, messages::kWrongModel, cause);
    }

    session.Write(cmd::CmdManufacturer);
    run.StartAnswer();
    run.Clear();
    const std::string name = run.ReadManufacturer(usb);
    if (name != cmd::kManufacturer) {
        const CheckCause cause = run.ExplainAnswer(run.nameComplete());
        return finish(CheckResult::WrongManufacturer, messages::kWrongManufacturer, cause, name);
    }

    return finish(CheckResult::Connected, messages::kConnected);
}

bool SelfTest(Session& session) {
    const bool sent =
        session.Write(cmd::CmdSelfTest) == cmd::CmdSelfTest.size() && session.port.WaitSent();
    session.clock.sleep(kSelfTestMs);
    return sent;
}

}  // namespace tessaly
