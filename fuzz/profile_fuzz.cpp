// Any text as a settings profile: parsing must never crash; a profile it accepts
// must come back unchanged through its own text, and laying it over a record must
// leave every bit it does not name alone.
#include <cstdint>
#include <string>
#include <string_view>

#include "settings_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto profile = tessaly::ParseProfile(text, error);
    if (!profile) {
        if (error.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    const auto again = tessaly::ParseProfile(tessaly::FormatProfile(*profile), error);
    if (!again || !(*again == *profile)) __builtin_trap();

    tessaly::PrinterSettings record;
    for (int number : tessaly::kRecordSwitches)
        tessaly::SetSwitchValue(*tessaly::SwitchByNumber(record, number), 0xA5);
    const tessaly::PrinterSettings overlaid = tessaly::OverlayProfile(record, *profile);
    for (int number : tessaly::kRecordSwitches) {
        const auto& request = profile->request(number);
        const auto before = tessaly::SwitchValue(*tessaly::SwitchByNumber(record, number));
        const auto after = tessaly::SwitchValue(*tessaly::SwitchByNumber(overlaid, number));
        if (((before ^ after) & ~request.named & 0xFF) != 0) __builtin_trap();
    }
    return 0;
}
