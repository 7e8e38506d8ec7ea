#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <string>

#include "cli_runtime.h"
#include "settings_profile.h"

namespace tessaly::cli {

// export and convert.
void AddProfileCommands(CLI::App& app, Runtime& runtime, int& exitStatus);

// show for a profile (*.toml): the settings it names, and x for what it leaves to
// the printer.
int ShowProfile(const std::string& path, bool json);

// A profile as JSON: each setting's value (null when not named) and the switch
// bits with x for bits not named.
nlohmann::ordered_json ProfileJson(const SettingsProfile& profile);
// A record read from a printer in the same form, every bit named; the buyer set is
// named by switch 12's value.
nlohmann::ordered_json RecordJson(const PrinterSettings& settings);
// A difference as JSON: {"key", "from", "to", "bits"}.
nlohmann::ordered_json ChangesJson(const std::vector<SettingChange>& changes);

}  // namespace tessaly::cli
