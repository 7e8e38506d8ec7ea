#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "cli_runtime.h"
#include "hex_text.h"
#include "port_list.h"
#include "regular_file.h"

namespace tessaly::cli {
namespace {

const char* ResultName(CheckResult result) {
    switch (result) {
        case CheckResult::Connected:
            return "connected";
        case CheckResult::SetupFailed:
            return "setup-failed";
        case CheckResult::OpenFailed:
            return "open-failed";
        case CheckResult::PortError:
            return "port-error";
        case CheckResult::EndlessInput:
            return "endless-input";
        case CheckResult::WrongModel:
            return "wrong-model";
        case CheckResult::WrongManufacturer:
            return "wrong-manufacturer";
    }
    return "unknown";
}

const char* CauseName(CheckCause cause) {
    switch (cause) {
        case CheckCause::None:
            return "none";
        case CheckCause::NoAnswer:
            return "no-answer";
        case CheckCause::UnexpectedBytes:
            return "unexpected-bytes";
        case CheckCause::LineHungUp:
            return "line-hung-up";
        case CheckCause::LateAnswer:
            return "late-answer";
    }
    return "none";
}

std::string CheckJson(const CheckReport& report) {
    using nlohmann::json;
    const auto orNull = [](const auto& value, bool present) {
        return present ? json(value) : json(nullptr);
    };
    const json j{
        {"connected", report.result == CheckResult::Connected},
        {"result", ResultName(report.result)},
        {"message", report.message.text},
        {"details", orNull(report.message.details, !report.message.details.empty())},
        {"cause", CauseName(report.cause)},
        {"bytes", orNull(HexBytes(report.bytes), !report.bytes.empty())},
        {"answerAfterMs", orNull(report.answerAfterMs, report.answerAfterMs >= 0)},
    };
    return j.dump(2) + "\n";
}

// A command file goes to the printer in blocks of this size, never held whole.
constexpr std::size_t kSendBlockBytes = 4096;

// Writes one block; on a short write says how much of the whole reached the
// printer.
bool WriteBlock(Runtime& rt, const std::uint8_t* data, std::size_t count, std::uint64_t& sent,
                std::uint64_t total) {
    const std::uint32_t written = rt.port().Write(data, static_cast<std::uint32_t>(count));
    sent += written;
    if (written == count) return true;
    fmt::print(stderr, "Only {} of {} bytes reached the printer. Check the cable and the port.\n",
               sent, total);
    return false;
}

// Reports what was sent, once it has left the computer.
int Sent(Runtime& rt, std::uint64_t count) {
    if (!rt.port().WaitSent()) {
        fmt::print(stderr, "The printer did not take the last of the {} bytes. {}\n", count,
                   rt.port().LastError());
        return kPrinterFailed;
    }
    rt.Print(fmt::format("Sent {} byte{}.", count, count == 1 ? "" : "s"));
    return kOk;
}

int WriteBytes(Runtime& rt, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
        rt.Print("Nothing to send: the command text holds no bytes.");
        return kOk;
    }
    if (const int status = rt.Connect(); status != kOk) return status;
    std::uint64_t sent = 0;
    if (!WriteBlock(rt, bytes.data(), bytes.size(), sent, bytes.size())) return kPrinterFailed;
    return Sent(rt, sent);
}

// Checks the file before the port is touched, then streams it block by block.
int SendFile(Runtime& rt, const std::string& path) {
    RegularFile file;
    if (!OpenCommandFile(file, path)) {
        fmt::print(stderr, "{}\n", CommandFileProblem(path, file.error()));
        return kFileOrPort;
    }
    const std::uint64_t total = file.size();
    if (total == 0) {
        rt.Print("Nothing to send: the command file is empty.");
        return kOk;
    }
    if (const int status = rt.Connect(); status != kOk) return status;
    std::array<std::uint8_t, kSendBlockBytes> block{};
    std::uint64_t sent = 0;
    while (sent < total) {
        const std::int64_t n = file.Read(
            block.data(),
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), total - sent)));
        if (n <= 0) {
            const std::string why = n < 0 ? file.error() : "it got shorter while it was sent";
            fmt::print(stderr, "{} {} of {} bytes had been sent.\n", CommandFileProblem(path, why),
                       sent, total);
            return kFileOrPort;
        }
        if (!WriteBlock(rt, block.data(), static_cast<std::size_t>(n), sent, total))
            return kPrinterFailed;
    }
    return Sent(rt, sent);
}

}  // namespace

void AddCoreCommands(CLI::App& app, Runtime& rt, int& exit) {
    auto* check = app.add_subcommand("check", "Check the connection and identify the printer.");
    auto checkJson = std::make_shared<bool>(false);
    check->add_flag("--json", *checkJson,
                    "Print the outcome and what the check saw on the line as JSON");
    check->callback([&, checkJson] {
        if (*checkJson) rt.options.quiet = true;  // standard output carries only the JSON
        exit = rt.Connect();
        if (*checkJson && rt.lastCheck()) fmt::print("{}", CheckJson(*rt.lastCheck()));
    });

    app.add_subcommand("self-test", "Check the connection, then print the self-test page.")
        ->callback([&] {
            exit = rt.Connect();
            if (exit != kOk) return;
            Session s = rt.session();
            if (!SelfTest(s)) {
                fmt::print(stderr, "The printer did not take the self-test command. {}\n",
                           rt.port().LastError());
                exit = kPrinterFailed;
                return;
            }
            rt.Print("Self-test page sent.");
        });

    auto* send = app.add_subcommand(
        "send", "Send bytes written as hexadecimal pairs, for example: send 1b 40 0a");
    auto words = std::make_shared<std::vector<std::string>>();
    send->add_option("HEXTEXT", *words, "Bytes as hexadecimal text; several words are joined")
        ->required();
    send->callback([&, words] {
        std::string text;
        for (const auto& word : *words) text += (text.empty() ? "" : " ") + word;
        if (const auto bad = FindHexTextError(text)) {
            fmt::print(stderr, "{}\n", bad->Describe());
            exit = kUsage;
            return;
        }
        exit = WriteBytes(rt, ParseHexText(text));
    });

    auto* sendFile = app.add_subcommand(
        "send-file", fmt::format("Send the raw bytes of a command file (*.bin): a regular file "
                                 "of at most {}.",
                                 kMaxCommandFileText));
    auto* fileName = sendFile->add_option("FILE", "Command file")->required();
    sendFile->callback([&, fileName] { exit = SendFile(rt, fileName->as<std::string>()); });

    app.add_subcommand("ports", "List the printer ports of this machine.")->callback([&] {
        const auto ports = ListPorts();
        if (ports.empty()) rt.Print("No printer ports found.");
        for (const auto& p : ports) {
            const std::string line =
                fmt::format("{:<24} {:<9} {}", p.name, PortTypeName(p.type), p.description);
            fmt::print("{}\n", line.substr(0, line.find_last_not_of(' ') + 1));
        }
        exit = kOk;
    });
}

}  // namespace tessaly::cli
