#include "ChannelNames.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <vector>

namespace stereotools {
namespace {

constexpr std::size_t kCutCharacters = 4;

// The well-formed UTF-8 sequences by their lead byte: how long each is and
// the range its second byte must lie in (the narrower ranges rule out
// overlong forms, surrogates and code points past U+10FFFF).
struct LeadByte {
    unsigned char first, last;
    std::size_t length;
    unsigned char secondLow, secondHigh;
};
constexpr LeadByte kLeadBytes[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// Returns the bytes of the character `text` starts with: a well-formed UTF-8
// sequence whole, any other byte alone (the console shows it as one cell).
std::size_t CharacterBytes(std::string_view text) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto lead = std::find_if(std::begin(kLeadBytes), std::end(kLeadBytes), [&](const LeadByte& l) {
        return byteAt(0) >= l.first && byteAt(0) <= l.last;
    });
    if (lead == std::end(kLeadBytes) || text.size() < lead->length) return 1;
    if (byteAt(1) < lead->secondLow || byteAt(1) > lead->secondHigh) return 1;
    for (std::size_t i = 2; i < lead->length; ++i) {
        if ((byteAt(i) & 0xC0u) != 0x80u) return 1;
    }
    return lead->length;
}

bool HasExtension(std::string_view name, std::string_view lowerCaseExtension) {
    if (name.size() < lowerCaseExtension.size()) return false;
    std::string tail(name.substr(name.size() - lowerCaseExtension.size()));
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == lowerCaseExtension;
}

}  // namespace

ChannelFileNames DeriveChannelFileNames(const std::string& inputFileName) {
    // "/" never occurs inside a multi-byte sequence, so the last one ends the folder part.
    const std::size_t slash = inputFileName.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(inputFileName).substr(nameStart);
    std::vector<std::size_t> starts;
    for (std::size_t offset = 0; offset < name.size(); offset += CharacterBytes(name.substr(offset))) {
        starts.push_back(offset);
    }
    const std::string stem = starts.size() < kCutCharacters
                                 ? inputFileName
                                 : inputFileName.substr(0, nameStart + starts[starts.size() - kCutCharacters]);
    return {stem + " left channel.wav", stem + " right channel.wav"};
}

std::string PartnerName(std::string_view leftName) {
    constexpr std::string_view kLeftEnding = " left channel.wav";
    if (leftName.ends_with(kLeftEnding)) {
        return std::string(leftName.substr(0, leftName.size() - kLeftEnding.size())) + " right channel.wav";
    }
    for (const std::string_view extension : {std::string_view(".wav"), std::string_view(".wave")}) {
        // NAME, a separator and the letter come before the extension.
        if (leftName.size() < extension.size() + 3 || !HasExtension(leftName, extension)) continue;
        const std::size_t letter = leftName.size() - extension.size() - 1;
        const char separator = leftName[letter - 1];
        if (separator != '.' && separator != '_' && separator != '-') continue;
        if (leftName[letter] != 'L' && leftName[letter] != 'l') continue;
        std::string partner(leftName);
        partner[letter] = leftName[letter] == 'L' ? 'R' : 'r';
        return partner;
    }
    return {};
}

}  // namespace stereotools
