#include "Utf8.h"

#include <cstdint>

namespace stereotools {
namespace {

constexpr char32_t kReplacement = U'\uFFFD';

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

    const std::size_t length = Utf8SequenceLength(lead);
    char32_t codePoint = 0;
    // The second byte's range is narrower after some leads: that is what
    // rules out overlong forms, surrogates and code points above U+10FFFF.
    unsigned char secondLow = 0x80u;
    unsigned char secondHigh = 0xBFu;
    if (length == 2) {
        codePoint = lead & 0x1Fu;
    } else if (length == 3) {
        codePoint = lead & 0x0Fu;
        if (lead == 0xE0u) secondLow = 0xA0u;
        if (lead == 0xEDu) secondHigh = 0x9Fu;
    } else if (length == 4) {
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
        if (!IsUtf8Continuation(next)) return {};
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    return {length, codePoint};
}

}  // namespace

std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC2u && lead <= 0xDFu) return 2;
    if (lead >= 0xE0u && lead <= 0xEFu) return 3;
    if (lead >= 0xF0u && lead <= 0xF4u) return 4;
    return 1;
}

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

}  // namespace stereotools
