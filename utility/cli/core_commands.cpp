#include <fmt/format.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli_runtime.h"
#include "hex_text.h"
#include "port_list.h"

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

int WriteBytes(Runtime& rt, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
        rt.Print("Nothing to send: the command text holds no bytes.");
        return kOk;
    }
    if (const int status = rt.Connect(); status != kOk) return status;
    const auto count = static_cast<std::uint32_t>(bytes.size());
    const std::uint32_t written = rt.port().Write(bytes.data(), count);
    if (written != count) {
        fmt::print(stderr,
                   "Only {} of {} bytes reached the printer. Check the cable and the port.\n",
                   written, count);
        return kPrinterFailed;
    }
    rt.Print(fmt::format("Sent {} byte{}.", written, written == 1 ? "" : "s"));
    return kOk;
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
            SelfTest(s);
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

    auto* sendFile =
        app.add_subcommand("send-file", "Send the raw bytes of a command file (*.bin).");
    auto* fileName = sendFile->add_option("FILE", "Command file")->required();
    sendFile->callback([&, fileName] {
        const auto path = fileName->as<std::string>();
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            fmt::print(stderr,
                       "Can't open the command file '{}'. Check the name and its permissions.\n",
                       path);
            exit = kFileOrPort;
            return;
        }
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
        if (in.bad()) {
            fmt::print(stderr, "Reading the command file '{}' failed.\n", path);
            exit = kFileOrPort;
            return;
        }
        exit = WriteBytes(rt, bytes);
    });

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
