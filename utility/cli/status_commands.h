#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "cli_runtime.h"
#include "printer_settings.h"

namespace tessaly::cli {

// get-status, set-status and show.
void AddStatusCommands(CLI::App& app, Runtime& runtime, int& exitStatus);

// A status record as a readable table and as JSON. `identity` and `serial` are
// left out when null (a status file holds neither).
std::string StatusTable(const PrinterSettings& settings, const PrinterIdentity* identity,
                        const SerialConditions* serial, bool fromFile);
std::string StatusJson(const PrinterSettings& settings, const PrinterIdentity* identity,
                       const SerialConditions* serial, bool fromFile);

}  // namespace tessaly::cli
