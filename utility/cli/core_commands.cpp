#include <fmt/format.h>

#include <fstream>
#include <iterator>

#include "cli_runtime.h"
#include "hex_text.h"
#include "port_list.h"

namespace tessaly::cli {
namespace {

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
    app.add_subcommand("check", "Check the connection and identify the printer.")->callback([&] {
        exit = rt.Connect();
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
