#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "cli_runtime.h"
#include "operation_runner.h"
#include "pacing_engine.h"
#include "printer_settings.h"
#include "printer_status_dialog.h"

namespace tessaly::cli {

// get-status, set-status and show.
void AddStatusCommands(CLI::App& app, Runtime& runtime, int& exitStatus);

// A status record as a readable table and as JSON. `identity` and `serial` are
// left out when null (a status file holds neither).
std::string StatusTable(const PrinterSettings& settings, const PrinterIdentity* identity,
                        const SerialConditions* serial, bool fromFile);
std::string StatusJson(const PrinterSettings& settings, const PrinterIdentity* identity,
                       const SerialConditions* serial, bool fromFile);

// The printer status dialog without a window, run inline on the caller's thread
// over the runtime's open port.
struct DialogParts {
    ui::InlineRunner runner;
    PacingEngine timers;
    std::unique_ptr<ui::PrinterStatusDialog> dialog;

    explicit DialogParts(Runtime& rt);
    // Set Status of the dialog's record, with the font download it starts run to
    // its end. The exit status.
    int SetStatus();
};

// Connects and runs Get Status: the dialog holding what it read, or nullptr and
// the exit status.
std::unique_ptr<DialogParts> ReadPrinter(Runtime& rt, int& status);

}  // namespace tessaly::cli
