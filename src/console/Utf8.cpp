#include "Utf8.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace stereotools {
namespace {

constexpr char32_t kReplacement = U'\uFFFD';

bool IsContinuation(unsigned char byte) { return (byte & 0xC0u) == 0x80u; }

// Decodes the sequence that starts at `text[offset]`. Returns its length and
// code point, or length 0 when the bytes there do not form a well-formed
// sequence (overlong, surrogate, above U+10FFFF, truncated, stray byte).
struct Decoded {
    std::size_t length = 0;
    char32_t codePoint = 0;
};

Decoded DecodeAt(std::string_view text, std::size_t offset) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[offset + i]); };
    const unsigned char lead = byteAt(0);
    if (lead < 0x80u) return {1, lead};

    std::size_t length = 0;
    char32_t codePoint = 0;
    // The second byte's range is narrower after some leads: that is what
    // rules out overlong forms, surrogates and code points above U+10FFFF.
    unsigned char secondLow = 0x80u;
    unsigned char secondHigh = 0xBFu;
    if (lead >= 0xC2u && lead <= 0xDFu) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0u && lead <= 0xEFu) {
        length = 3;
        codePoint = lead & 0x0Fu;
        if (lead == 0xE0u) secondLow = 0xA0u;
        if (lead == 0xEDu) secondHigh = 0x9Fu;
    } else if (lead >= 0xF0u && lead <= 0xF4u) {
        length = 4;
        codePoint = lead & 0x07u;
        if (lead == 0xF0u) secondLow = 0x90u;
        if (lead == 0xF4u) secondHigh = 0x8Fu;
    } else {
        return {};
    }
    if (text.size() - offset < length) return {};
    const unsigned char second = byteAt(1);
    if (second < secondLow || second > secondHigh) return {};
    codePoint = (codePoint << 6) | (second & 0x3Fu);
    for (std::size_t i = 2; i < length; ++i) {
        const unsigned char next = byteAt(i);
        if (!IsContinuation(next)) return {};
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    return {length, codePoint};
}

struct Range {
    char32_t first;
    char32_t last;
};

// The characters a terminal shows in two cells, in ascending order: East
// Asian Wide and Fullwidth characters and the emoji shown as pictures, as the
// GNU C library of Debian 12 measures them (so the window looks as it always
// did there), and the unassigned code points of the wide blocks. Combining
// marks and emoji shown as text take one cell.
constexpr std::array kWideRanges = {
    Range{0x1100, 0x115F},   Range{0x231A, 0x231B},   Range{0x2329, 0x232A},   Range{0x23E9, 0x23EC},
    Range{0x23F0, 0x23F0},   Range{0x23F3, 0x23F3},   Range{0x25FD, 0x25FE},   Range{0x2614, 0x2615},
    Range{0x2648, 0x2653},   Range{0x267F, 0x267F},   Range{0x2693, 0x2693},   Range{0x26A1, 0x26A1},
    Range{0x26AA, 0x26AB},   Range{0x26BD, 0x26BE},   Range{0x26C4, 0x26C5},   Range{0x26CE, 0x26CE},
    Range{0x26D4, 0x26D4},   Range{0x26EA, 0x26EA},   Range{0x26F2, 0x26F3},   Range{0x26F5, 0x26F5},
    Range{0x26FA, 0x26FA},   Range{0x26FD, 0x26FD},   Range{0x2705, 0x2705},   Range{0x270A, 0x270B},
    Range{0x2728, 0x2728},   Range{0x274C, 0x274C},   Range{0x274E, 0x274E},   Range{0x2753, 0x2755},
    Range{0x2757, 0x2757},   Range{0x2795, 0x2797},   Range{0x27B0, 0x27B0},   Range{0x27BF, 0x27BF},
    Range{0x2B1B, 0x2B1C},   Range{0x2B50, 0x2B50},   Range{0x2B55, 0x2B55},   Range{0x2E80, 0x3029},
    Range{0x302E, 0x303E},   Range{0x3041, 0x3098},   Range{0x309B, 0xA4CF},   Range{0xA960, 0xA97F},
    Range{0xAC00, 0xD7A3},   Range{0xF900, 0xFAFF},   Range{0xFE10, 0xFE19},   Range{0xFE30, 0xFE6F},
    Range{0xFF00, 0xFF60},   Range{0xFFE0, 0xFFE6},   Range{0x16FE0, 0x16FE3}, Range{0x16FF0, 0x16FF1},
    Range{0x17000, 0x18D08}, Range{0x1AFF0, 0x1AFF3}, Range{0x1AFF5, 0x1AFFB}, Range{0x1AFFD, 0x1AFFE},
    Range{0x1B000, 0x1B2FF}, Range{0x1F004, 0x1F004}, Range{0x1F0CF, 0x1F0CF}, Range{0x1F18E, 0x1F18E},
    Range{0x1F191, 0x1F19A}, Range{0x1F200, 0x1F202}, Range{0x1F210, 0x1F23B}, Range{0x1F240, 0x1F248},
    Range{0x1F250, 0x1F251}, Range{0x1F260, 0x1F265}, Range{0x1F300, 0x1F320}, Range{0x1F32D, 0x1F335},
    Range{0x1F337, 0x1F37C}, Range{0x1F37E, 0x1F393}, Range{0x1F3A0, 0x1F3CA}, Range{0x1F3CF, 0x1F3D3},
    Range{0x1F3E0, 0x1F3F0}, Range{0x1F3F4, 0x1F3F4}, Range{0x1F3F8, 0x1F43E}, Range{0x1F440, 0x1F440},
    Range{0x1F442, 0x1F4FC}, Range{0x1F4FF, 0x1F53D}, Range{0x1F54B, 0x1F54E}, Range{0x1F550, 0x1F567},
    Range{0x1F57A, 0x1F57A}, Range{0x1F595, 0x1F596}, Range{0x1F5A4, 0x1F5A4}, Range{0x1F5FB, 0x1F64F},
    Range{0x1F680, 0x1F6C5}, Range{0x1F6CC, 0x1F6CC}, Range{0x1F6D0, 0x1F6D2}, Range{0x1F6D5, 0x1F6DF},
    Range{0x1F6EB, 0x1F6EF}, Range{0x1F6F4, 0x1F6FF}, Range{0x1F7E0, 0x1F7EB}, Range{0x1F7F0, 0x1F7F0},
    Range{0x1F90C, 0x1F93A}, Range{0x1F93C, 0x1F945}, Range{0x1F947, 0x1F9FF}, Range{0x1FA70, 0x1FAFF},
    Range{0x20000, 0x2FFFD}, Range{0x30000, 0x3FFFD},
};

}  // namespace

std::vector<Utf8Character> SplitUtf8(std::string_view text) {
    std::vector<Utf8Character> characters;
    characters.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        const Decoded decoded = DecodeAt(text, offset);
        if (decoded.length == 0) {
            characters.push_back({kReplacement, offset, 1});
            ++offset;
            continue;
        }
        characters.push_back({decoded.codePoint, offset, decoded.length});
        offset += decoded.length;
    }
    return characters;
}

std::string EncodeUtf8(char32_t codePoint) {
    // Surrogates and values past U+10FFFF have no encoding.
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) codePoint = kReplacement;
    std::string out;
    const auto add = [&](uint32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (codePoint < 0x80) {
        add(codePoint);
    } else if (codePoint < 0x800) {
        add(0xC0u | (codePoint >> 6));
        add(0x80u | (codePoint & 0x3Fu));
    } else if (codePoint < 0x10000) {
        add(0xE0u | (codePoint >> 12));
        add(0x80u | ((codePoint >> 6) & 0x3Fu));
        add(0x80u | (codePoint & 0x3Fu));
    } else {
        add(0xF0u | (codePoint >> 18));
        add(0x80u | ((codePoint >> 12) & 0x3Fu));
        add(0x80u | ((codePoint >> 6) & 0x3Fu));
        add(0x80u | (codePoint & 0x3Fu));
    }
    return out;
}

int WideCellWidth(char32_t codePoint) {
    const auto* range = std::lower_bound(kWideRanges.begin(), kWideRanges.end(), codePoint,
                                         [](const Range& r, char32_t c) { return r.last < c; });
    return range != kWideRanges.end() && range->first <= codePoint ? 2 : 1;
}

}  // namespace stereotools
