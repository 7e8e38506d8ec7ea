#include <fmt/format.h>

#include <algorithm>
#include <memory>

#include "cli_runtime.h"

namespace tessaly::cli {

void AddQueueCommands(CLI::App& app, Runtime& rt, int& exit) {
    auto* queues = app.add_subcommand(
        "queues",
        "List the local print queues on the --port (or all of them), who paused them and why.");
    auto restore = std::make_shared<bool>(false);
    queues->add_flag("--restore", *restore,
                     "Give back the queues that runs which did not finish left paused");
    queues->callback([&, restore] {
        exit = kOk;
        if (*restore) {
            if (!rt.RecoverQueues(true)) exit = kFileOrPort;
            return;
        }
        std::vector<std::string> problems;
        const auto survey = rt.diversion().Survey(rt.options.port, problems);
        for (const std::string& problem : problems) fmt::print(stderr, "Warning: {}\n", problem);
        if (!survey) {
            fmt::print(stderr,
                       "The local print system cannot be reached, so no queue can be listed. "
                       "Check that the print service runs.\n");
            exit = kFileOrPort;
            return;
        }
        if (survey->empty()) {
            rt.Print(rt.options.port.empty()
                         ? "No local print queues."
                         : "No local print queue prints to " + rt.options.port + ".");
            return;
        }
        std::size_t nameWidth = 5;
        std::size_t deviceWidth = 6;
        for (const QueueSurvey& item : *survey) {
            nameWidth = std::max(nameWidth, item.queue.name.size());
            deviceWidth = std::max(deviceWidth, item.queue.deviceUri.size());
        }
        const auto row = [&](const std::string& name, const std::string& state,
                             const std::string& device, const std::string& note) {
            const std::string line = fmt::format("{:<{}}  {:<6}  {:<{}}  {}", name, nameWidth,
                                                 state, device, deviceWidth, note);
            fmt::print("{}\n", line.substr(0, line.find_last_not_of(' ') + 1));
        };
        row("QUEUE", "STATE", "DEVICE", "NOTE");
        for (const QueueSurvey& item : *survey)
            row(item.queue.name, item.queue.paused ? "paused" : "active", item.queue.deviceUri,
                item.note);
    });
}

}  // namespace tessaly::cli
