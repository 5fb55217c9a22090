#include "SpeakerMask.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>

namespace stereotools {
namespace {

// The speaker positions of the extensible format's mask, bit 0 first.
constexpr std::array<std::string_view, 18> kSpeakers = {
    "FL", "FR", "FC", "LFE", "BL", "BR", "FLC", "FRC", "BC", "SL", "SR", "TC", "TFL", "TFC", "TFR", "TBL", "TBC", "TBR",
};

// Returns whether `a` and `b` hold the same letters, in any case.
bool EqualNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<uint32_t> ReadNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

SpeakerMaskRead ReadSpeakerMask(std::string_view text) {
    if (text.empty()) return {std::nullopt, "the channel mask is empty"};
    if (text[0] >= '0' && text[0] <= '9') {
        if (const std::optional<uint32_t> mask = ReadNumber(text)) return {mask, {}};
        return {std::nullopt, "invalid channel mask '" + std::string(text) + "'"};
    }
    uint32_t mask = 0;
    int lastBit = -1;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view name = text.substr(start, comma - start);
        int bit = -1;
        for (std::size_t i = 0; i < kSpeakers.size(); ++i) {
            if (EqualNoCase(name, kSpeakers[i])) bit = static_cast<int>(i);
        }
        if (bit < 0) return {std::nullopt, "unknown speaker '" + std::string(name) + "' in the channel mask"};
        if (bit <= lastBit) {
            return {std::nullopt, "speaker '" + std::string(name) +
                                      "' is out of order in the channel mask (FL FR FC LFE BL BR FLC FRC BC SL SR "
                                      "TC TFL TFC TFR TBL TBC TBR)"};
        }
        mask |= uint32_t{1} << bit;
        lastBit = bit;
        start = comma + 1;
    }
    return {mask, {}};
}

unsigned CountSpeakers(uint32_t mask) { return static_cast<unsigned>(std::popcount(mask)); }

}  // namespace stereotools
