// Any bytes as a status file: loading must never crash, must take exactly the
// first 256 bytes (zeros after a short file), and saving what was loaded must
// give those bytes back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "printer_settings.h"
#include "status_file.h"

namespace {

const std::string& Path() {
    static const std::string path = "/tmp/status-file-fuzz-" + std::to_string(::getpid()) + ".sts";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(Path().c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    tessaly::PrinterSettings settings;
    tessaly::SilentStatusView view;
    tessaly::FixedAnswerNotifier notifier{tessaly::MessageAnswer::Ok};
    if (!tessaly::LoadStatus(Path(), settings, view, notifier)) __builtin_trap();

    tessaly::SettingsImage expected{};
    std::memcpy(expected.data(), data, size < expected.size() ? size : expected.size());
    if (tessaly::EncodeSettings(settings) != expected) __builtin_trap();
    if (!(tessaly::DecodeSettings(std::span(data, size)) == settings)) __builtin_trap();

    // Derived values stay in their ranges whatever the integers hold.
    const int codePage = tessaly::CodePageIndex(settings.msw2);
    const int buyer = tessaly::BuyerValue(settings.msw12);
    if (codePage < 0 || codePage > 63 || buyer < 0 || buyer > 255) __builtin_trap();
    return 0;
}
