#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "notifier.h"
#include "printer_settings.h"
#include "status_view.h"

namespace tessaly {

// What a profile asks of one memory switch: bit k (1..8) is named when bit k-1 of
// `named` is set, and then takes bit k-1 of `value`. Unnamed bits are kept as the
// printer (or the record a profile is laid over) has them.
struct SwitchRequest {
    std::uint8_t value = 0;
    std::uint8_t named = 0;

    bool operator==(const SwitchRequest&) const = default;
};

// A settings profile: the memory-switch bits a text file names, by meaning
// (paper_width = "3 Inch") or as raw bits ([switches] msw8 = "0100001x"), and what
// a status file holds beyond plain bits, so that a status file survives the trip
// through a profile byte for byte.
struct SettingsProfile {
    std::array<SwitchRequest, kRecordSwitches.size()> switches{};  // record order
    // The exact integers of a switch where a status file holds more than plain
    // bits: a reserved element other than 0 or a bit element other than 0 and 1.
    std::array<std::optional<SwitchBits>, kRecordSwitches.size()> elements{};
    // The buyer-set list entry; 0 when the profile names no buyer set.
    std::int32_t buyerSetIndex = 0;

    bool operator==(const SettingsProfile&) const = default;

    // True when every bit of every switch is named, as a status file needs.
    bool Complete() const;
    // The request for switch 1, 2, 8, 9, 10, 11 or 12.
    const SwitchRequest& request(int switchNumber) const;
};

// The bits as a profile writes them, bit 8 first, x for bits not named: "0100001x".
std::string RequestText(const SwitchRequest& request);
// The entry of the code-page list as a profile names it; nullopt for an index that
// has no entry or whose text several entries share ("Reserved"): a profile names
// those by number.
std::optional<std::string> UniqueCodePageName(int index);

// The key of a two-way setting: its label in lower case with '_' for blanks
// ("Paper Width" -> "paper_width").
std::string SettingKey(const SwitchSetting& setting);
inline constexpr const char* kCodePageKey = "code_page";
inline constexpr const char* kBuyerSetKey = "buyer_set";

// Reads a profile written in TOML. On failure returns nullopt and `error` holds
// one line per problem, each naming the key, its value and what is allowed.
std::optional<SettingsProfile> ParseProfile(std::string_view text, std::string& error);

// The profile as TOML text that ParseProfile reads back to the same profile. Bits
// a named setting already gives are not repeated under [switches]. `heading`
// lines are written first as comments.
std::string FormatProfile(const SettingsProfile& profile, std::string_view heading = {});

// Every bit of the record, and its buyer-set index, as a profile.
SettingsProfile ProfileFromSettings(const PrinterSettings& settings);
// What Set Status of the record writes, as a profile: switch 1 bits 4 and 5 only
// (it writes switch 1 through a template), and switch 12 only when the record
// names a buyer-set entry (entry 0 keeps the printer's set).
SettingsProfile WrittenProfile(const PrinterSettings& settings);
// The record a complete profile describes (the inverse of ProfileFromSettings);
// nullopt with `error` listing the bits the profile leaves to the printer.
std::optional<PrinterSettings> SettingsFromProfile(const SettingsProfile& profile,
                                                   std::string& error);
// The record with the profile laid over it: named bits replace the record's bits,
// the others stay; the buyer-set index becomes the profile's.
PrinterSettings OverlayProfile(const PrinterSettings& record, const SettingsProfile& profile);

// One setting that differs between two records, in the words of a profile.
struct SettingChange {
    std::string key;   // "paper_width", "code_page", "buyer_set" or "switches.msw8"
    std::string from;  // its value in the first record
    std::string to;    // its value in the second
    std::vector<std::pair<int, int>> bits;  // (switch, bit) of every differing bit

    bool operator==(const SettingChange&) const = default;
    // "msw10 bit 5" or "msw2 bits 3, 4"
    std::string BitsText() const;
    // The setting as the status pages call it: "Paper Width", "Default Code Page".
    std::string Label() const;
};
// The memory-switch bits (any non-zero element counts as set) that differ between
// two records, grouped by setting; bits no named setting covers are reported per
// switch. Reserved elements and buyer-set indices are not compared.
std::vector<SettingChange> DiffSettings(const PrinterSettings& from, const PrinterSettings& to);

// What apply writes to bring a printer to a profile.
struct ApplyPlan {
    PrinterSettings target;              // the record Set Status writes
    std::vector<SettingChange> changes;  // the printer's record -> target
    // Set Status only writes switch 12 for a buyer-set entry other than 0, and then
    // downloads the font of a national set: 0 unless switch 12 has to change.
    int buyerSetIndex = 0;
    // Why the profile cannot be applied to this printer (nothing is written then).
    std::string refusal;
};
ApplyPlan PlanApply(const PrinterSettings& printer, const SettingsProfile& profile);

// Profile files are named *.toml.
bool HasProfileFileName(std::string_view path);

// Reads and parses a profile file. Only a regular file of at most kMaxProfileBytes
// is read (a FIFO or device would block or never end). False with `error`.
inline constexpr std::size_t kMaxProfileBytes = 1u << 20;
inline constexpr const char* kMaxProfileText = "1 MiB (1048576 bytes)";
bool ReadProfileFile(const std::string& path, SettingsProfile& profile, std::string& error);
// Parses a profile's text read from `source` ("\"shop.toml\"", "on standard
// input"); false with "The profile <source> was refused:" and the problems.
bool ParseProfileFrom(std::string_view text, const std::string& source, SettingsProfile& profile,
                      std::string& error);
// Writes the profile's text so that a failed write leaves any existing file as it
// was. False with `error`.
bool WriteProfileFile(const std::string& path, const SettingsProfile& profile,
                      std::string_view heading, std::string& error);

// Load Status for a profile: the profile is laid over the record (bits it leaves
// to the printer keep the record's value) and shown as Load Status shows a status
// file. Tells the user and leaves the record unchanged when the file is refused.
bool LoadProfile(const std::string& path, PrinterSettings& settings, StatusView& view,
                 Notifier& notifier);
// Save Status for a profile: every bit of the record and its buyer-set index.
bool SaveProfile(const std::string& path, const PrinterSettings& settings, Notifier& notifier);

}  // namespace tessaly
