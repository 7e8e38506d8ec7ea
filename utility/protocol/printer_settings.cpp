#include "printer_settings.h"

namespace tessaly {
namespace {

// The record's integers in image order.
template <typename Settings, typename Visit>
void ForEachInteger(Settings& settings, Visit visit) {
    for (auto* bits : {&settings.msw1, &settings.msw2, &settings.msw8, &settings.msw9,
                       &settings.msw10, &settings.msw11, &settings.msw12}) {
        for (auto& element : *bits) visit(element);
    }
    visit(settings.buyerSetIndex);
}

// Switch 2 bits in code-page order: bit 4 is worth 1, ..., bit 8 16, bit 3 32.
constexpr std::array<int, 6> kCodePageBits{4, 5, 6, 7, 8, 3};

}  // namespace

SettingsImage EncodeSettings(const PrinterSettings& settings) {
    SettingsImage image{};
    std::size_t offset = 0;
    ForEachInteger(settings, [&](std::int32_t value) {
        const auto u = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) image[offset++] = static_cast<std::uint8_t>(u >> (8 * i));
    });
    return image;
}

PrinterSettings DecodeSettings(std::span<const std::uint8_t> bytes) {
    SettingsImage image{};
    const std::size_t n = bytes.size() < image.size() ? bytes.size() : image.size();
    for (std::size_t i = 0; i < n; ++i) image[i] = bytes[i];

    PrinterSettings settings;
    std::size_t offset = 0;
    ForEachInteger(settings, [&](std::int32_t& value) {
        std::uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(image[offset++]) << (8 * i);
        value = static_cast<std::int32_t>(u);
    });
    return settings;
}

SwitchBits* SwitchByNumber(PrinterSettings& settings, int number) {
    switch (number) {
        case 1:
            return &settings.msw1;
        case 2:
            return &settings.msw2;
        case 8:
            return &settings.msw8;
        case 9:
            return &settings.msw9;
        case 10:
            return &settings.msw10;
        case 11:
            return &settings.msw11;
        case 12:
            return &settings.msw12;
        default:
            return nullptr;
    }
}

const SwitchBits* SwitchByNumber(const PrinterSettings& settings, int number) {
    return SwitchByNumber(const_cast<PrinterSettings&>(settings), number);
}

std::uint8_t SwitchValue(const SwitchBits& bits) {
    unsigned value = 0;
    for (int k = 1; k <= 8; ++k) {
        if (BitSet(bits, k)) value |= 1u << (k - 1);
    }
    return static_cast<std::uint8_t>(value);
}

void SetSwitchValue(SwitchBits& bits, std::uint8_t value) {
    for (int k = 1; k <= 8; ++k) bits[static_cast<std::size_t>(k)] = (value >> (k - 1)) & 1;
}

std::string SwitchBitsText(const SwitchBits& bits) {
    std::string text;
    for (int k = 8; k >= 1; --k) text += BitSet(bits, k) ? '1' : '0';
    return text;
}

int CodePageIndex(const SwitchBits& msw2) {
    int index = 0;
    for (std::size_t i = 0; i < kCodePageBits.size(); ++i) {
        if (BitSet(msw2, kCodePageBits[i])) index |= 1 << i;
    }
    return index;
}

void SetCodePageIndex(SwitchBits& msw2, int index) {
    for (std::size_t i = 0; i < kCodePageBits.size(); ++i)
        msw2[static_cast<std::size_t>(kCodePageBits[i])] = (index >> i) & 1;
}

const char* BuyerValueName(int value) {
    switch (value) {
        case 0:
            return "STD";
        case 1:
            return "KOR";
        case 2:
            return "CHN (GB2312 or BIG5)";
        case 3:
            return "JAP";
        default:
            return nullptr;
    }
}

int BuyerValueForListIndex(int listIndex) {
    switch (listIndex) {
        case 1:
            return 0;
        case 2:
            return 1;
        case 3:
        case 4:
            return 2;
        case 5:
            return 3;
        default:
            return -1;
    }
}

int ListIndexForBuyerValue(int buyerValue) {
    if (buyerValue == BuyerValueForListIndex(4)) return 0;  // CHN-GB2312 or CHN-BIG5
    for (int index = 1; index < static_cast<int>(kBuyerSetNames.size()); ++index) {
        if (BuyerValueForListIndex(index) == buyerValue) return index;
    }
    return 0;
}

}  // namespace tessaly
