#include "connection_check.h"

#include <array>
#include <string>

#include "commands.h"

namespace tessaly {
namespace {

constexpr std::uint32_t kReadTimeoutMs = 1000;

class CheckRun {
  public:
    CheckRun(Session& session, const CheckLimits& limits) : s_(session), limits_(limits) {}

    void Clear() { buffer_.fill(0); }

    std::uint32_t Read(std::uint32_t count) {
        return s_.port.Read(buffer_.data(), count, kReadTimeoutMs);
    }

    // Reads single bytes until five reads in a row bring nothing or a 0 byte.
    // False when the printer is still sending when the time limit is reached.
    bool DrainStaleInput() {
        const std::int64_t start = s_.clock.now();
        int empty = 0;
        for (;;) {
            s_.clock.sleep(50);
            Read(1);
            if (buffer_[0] != 0) {
                empty = 0;
            } else if (++empty > 4) {
                return true;
            }
            Clear();
            if (s_.clock.now() - start >= limits_.drainLimitMs) return false;
        }
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
        if (usb) {
            s_.clock.sleep(200);
            if (Read(32) == 0) Read(32);
            // Byte 0 is the header; the 128-byte buffer ends in zeros after a
            // 32-byte read, so the name always ends.
            for (std::size_t i = 1; i < buffer_.size() && buffer_[i] != 0; ++i)
                name += static_cast<char>(buffer_[i]);
            return name;
        }
        s_.clock.sleep(100);
        while (name.size() < limits_.maxNameBytes) {
            Clear();
            if (Read(1) == 0 || buffer_[0] == 0) break;
            if (buffer_[0] != cmd::kNameHeader) name += static_cast<char>(buffer_[0]);
        }
        return name;
    }

  private:
    Session& s_;
    const CheckLimits& limits_;
    std::array<std::uint8_t, 128> buffer_{};
};

CheckResult Fail(Session& session, CheckResult result, const Message& message) {
    session.notifier.notify(message);
    session.port.Close();
    return result;
}

}  // namespace

CheckResult CheckCommunication(Session& session, const PortSettings& settings,
                               PortType interfaceType, const CheckLimits& limits) {
    CheckRun run(session, limits);
    run.Clear();
    if (!session.port.Setup(settings)) {
        session.notifier.notify(messages::kSetupFailed);
        return CheckResult::SetupFailed;
    }
    if (!session.port.Open(0)) {
        session.notifier.notify(messages::kOpenFailed);
        return CheckResult::OpenFailed;
    }
    const bool usb = interfaceType == PortType::Usb;
    if (!usb && !run.DrainStaleInput())
        return Fail(session, CheckResult::EndlessInput, messages::kEndlessInput);

    if (session.Write(cmd::CmdInitialize) != cmd::CmdInitialize.size())
        return Fail(session, CheckResult::PortError, messages::kPortError);
    session.Write(cmd::CmdSelectPeripheral);
    session.Write(cmd::CmdDisableStatusBack);

    run.Clear();
    session.Write(cmd::CmdModelId);
    run.Clear();
    if (!run.ReadModelId(usb)) return Fail(session, CheckResult::WrongModel, messages::kWrongModel);

    session.Write(cmd::CmdManufacturer);
    run.Clear();
    if (run.ReadManufacturer(usb) != cmd::kManufacturer)
        return Fail(session, CheckResult::WrongManufacturer, messages::kWrongManufacturer);

    session.notifier.notify(messages::kConnected);
    return CheckResult::Connected;
}

void SelfTest(Session& session) {
    session.Write(cmd::CmdSelfTest);
    session.clock.sleep(kSelfTestMs);
}

}  // namespace tessaly
