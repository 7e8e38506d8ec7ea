// Any bytes as a journal record of paused queues: reading must never crash, and a
// record it accepts must be written back into a text that reads as the same record.
#include <cstdint>
#include <string>

#include "diversion_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto record = tessaly::DiversionJournal::Decode(text, error);
    if (!record) {
        if (error.empty()) __builtin_trap();  // every refusal says why
        return 0;
    }
    const auto again =
        tessaly::DiversionJournal::Decode(tessaly::DiversionJournal::Encode(*record), error);
    if (!again || !(again->owner == record->owner) || again->port != record->port ||
        again->entries != record->entries)
        __builtin_trap();
    return 0;
}
