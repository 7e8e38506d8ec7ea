#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "notifier.h"
#include "printer_settings.h"
#include "status_view.h"

namespace tessaly {

// A status file is the 256-byte image of PrinterSettings, nothing else.
enum class StatusFileResult { Ok, WrongName, OpenFailed, ReadFailed, CreateFailed, WriteFailed };

// True when the name's last three characters are exactly "sts" (lower case; a
// dot before them is not required).
bool HasStatusFileName(std::string_view path);

// Reads up to 256 bytes; a shorter file leaves the missing integers 0, bytes past
// 256 are ignored, the contents are not validated. `settings` changes only on Ok;
// `error` receives the system's reason for a failure.
StatusFileResult ReadStatusFile(const std::string& path, PrinterSettings& settings,
                                std::string* error = nullptr);

// Writes the bytes to a new file beside the target and renames it over the
// target, so that a failed write leaves any existing file as it was. A target
// that exists but is no regular file (NotAFileToReplace) is refused before
// anything is created. CreateFailed or WriteFailed with the reason in `error`.
StatusFileResult WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes,
                                    std::string* error = nullptr);

// Writes the 256 bytes of the record through WriteFileReplacing.
StatusFileResult WriteStatusFile(const std::string& path, const PrinterSettings& settings,
                                 std::string* error = nullptr);

// Save Status after the file has been chosen: writes the record; tells the user
// only when that fails.
bool SaveStatus(const std::string& path, const PrinterSettings& settings, Notifier& notifier);

// Values a status file may hold that no printer setting has: a buyer-set index
// outside the list (0 to 5), and a switch 12 pattern that names no buyer set.
bool IsKnownBuyerSetIndex(int index);
bool IsKnownBuyerValue(int value);

// The record's unknown values that Set Status would write, one line each: the
// buyer-set index, and switch 12 unless the index is 0 (which leaves the
// printer's switch 12 alone). Empty when there are none.
std::vector<std::string> UnknownSettingValues(const PrinterSettings& settings);

// Said after a status file with such values was loaded, before anything is
// written; Set Status still writes them as they are.
std::optional<Message> UnknownValuesWarning(const std::string& path,
                                            const PrinterSettings& settings);

// Load Status after the file has been chosen: checks the name, reads the record
// and shows it (Set Status and Save Status become usable, the buyer-set list
// selects the loaded index), then warns of values no printer setting has. The
// identity and serial conditions are untouched.
bool LoadStatus(const std::string& path, PrinterSettings& settings, StatusView& view,
                Notifier& notifier);
// The end of Load Status, for a record that came from anywhere: Set Status and
// Save Status become usable, the pages show the record and the buyer-set list
// selects its index.
void ShowLoadedStatus(const PrinterSettings& settings, StatusView& view);

namespace messages {
inline const Message kWrongFormatFile{"Wrong format files loaded.", "Warning",
                                      MessageIcon::Exclamation};
}  // namespace messages

// The message for a failed read or write of a status file.
Message StatusFileFailure(StatusFileResult result, const std::string& path,
                          const std::string& reason);

}  // namespace tessaly
