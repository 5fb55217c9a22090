#include "ChannelNames.h"

#include "Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <vector>

namespace stereotools {
namespace {

constexpr std::size_t kCutCharacters = 4;

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
    // Characters as the screen shows them: an invalid byte counts as one.
    const std::vector<Utf8Character> characters = SplitUtf8(name);
    const std::string stem =
        characters.size() < kCutCharacters
            ? inputFileName
            : inputFileName.substr(0, nameStart + characters[characters.size() - kCutCharacters].offset);
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
