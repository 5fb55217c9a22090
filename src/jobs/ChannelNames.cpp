#include "ChannelNames.h"

#include "system/Text.h"
#include "system/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <utility>
#include <vector>

namespace stereotools {
namespace {

constexpr std::size_t kCutCharacters = 4;
constexpr std::string_view kLeftEnding = " left channel.wav";
constexpr std::string_view kRightEnding = " right channel.wav";
constexpr std::string_view kLeftWords = " left channel";
constexpr std::string_view kRightWords = " right channel";

constexpr TextEntry<PairProblem> kPairProblemTexts[] = {
    {PairProblem::RightHalf, "This is the right channel file of a pair: name its left channel file"},
    {PairProblem::NoPartner,
     "This name pairs with no right channel file (NAME left channel.wav, NAME.L.wav, NAME_L.wav, NAME-L.wav)"},
};

// Returns where the channel letter stands in a name that ends in a
// separator (".", "_" or "-"), one letter and ".wav" or ".wave" (any case),
// or npos. NAME, the separator and the letter come before the extension.
std::size_t ChannelLetter(std::string_view name) {
    for (const std::string_view extension : {std::string_view(".wav"), std::string_view(".wave")}) {
        if (name.size() < extension.size() + 3 || !EndsWithNoCase(name, extension)) continue;
        const std::size_t letter = name.size() - extension.size() - 1;
        const char separator = name[letter - 1];
        if (separator == '.' || separator == '_' || separator == '-') return letter;
    }
    return std::string_view::npos;
}

// Returns whether `name` holds `upperCase` or its lower case at `at` (npos: no).
bool IsLetter(std::string_view name, std::size_t at, char upperCase) {
    return at != std::string_view::npos && (name[at] == upperCase || name[at] == upperCase - 'A' + 'a');
}

// Returns where `lowerCaseWords` (e.g. " left channel") stand in `name`, in
// any case, right before an ending ".wav" or ".wave" (any case), or npos.
std::size_t ChannelWords(std::string_view name, std::string_view lowerCaseWords) {
    for (const std::string_view extension : {std::string_view(".wav"), std::string_view(".wave")}) {
        if (!EndsWithNoCase(name, extension)) continue;
        const std::string_view stem = name.substr(0, name.size() - extension.size());
        if (EndsWithNoCase(stem, lowerCaseWords)) return stem.size() - lowerCaseWords.size();
    }
    return std::string_view::npos;
}

// Returns "right" in the case `left` is written in: "RIGHT", "Right" or "right".
std::string RightLike(std::string_view left) {
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    if (std::all_of(left.begin(), left.end(), upper)) return "RIGHT";
    return upper(left.front()) ? "Right" : "right";
}

// Returns `inputFileName` less the last four characters of its last path
// component, which is kept whole when shorter.
std::string OutputStem(const std::string& inputFileName) {
    // "/" never occurs inside a multi-byte sequence, so the last one ends the folder part.
    const std::size_t slash = inputFileName.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(inputFileName).substr(nameStart);
    // Characters as the screen shows them: an invalid byte counts as one.
    const std::vector<Utf8Character> characters = SplitUtf8(name);
    return characters.size() < kCutCharacters
               ? inputFileName
               : inputFileName.substr(0, nameStart + characters[characters.size() - kCutCharacters].offset);
}

}  // namespace

ChannelFileNames DeriveChannelFileNames(const std::string& inputFileName) {
    const std::string stem = OutputStem(inputFileName);
    return {stem + " left channel.wav", stem + " right channel.wav"};
}

std::vector<std::string> DeriveSplitFileNames(const std::string& inputFileName, unsigned channelCount) {
    if (channelCount == 2) {
        ChannelFileNames names = DeriveChannelFileNames(inputFileName);
        return {std::move(names.left), std::move(names.right)};
    }
    const std::string stem = OutputStem(inputFileName);
    const std::size_t digits = std::to_string(channelCount).size();
    std::vector<std::string> names;
    names.reserve(channelCount);
    for (unsigned k = 1; k <= channelCount; ++k) {
        const std::string number = std::to_string(k);
        names.push_back(stem + " channel " + std::string(digits - number.size(), '0') + number + ".wav");
    }
    return names;
}

std::string PartnerName(std::string_view leftName) {
    if (leftName.ends_with(kLeftEnding)) {
        return std::string(leftName.substr(0, leftName.size() - kLeftEnding.size())) + std::string(kRightEnding);
    }
    const std::size_t letter = ChannelLetter(leftName);
    if (!IsLetter(leftName, letter, 'L')) return {};
    std::string partner(leftName);
    partner[letter] = leftName[letter] == 'L' ? 'R' : 'r';
    return partner;
}

ChannelPair PairChannelFiles(std::string_view leftName) {
    const std::size_t letter = ChannelLetter(leftName);
    if (ChannelWords(leftName, kRightWords) != std::string_view::npos || IsLetter(leftName, letter, 'R')) {
        return {PairProblem::RightHalf, {}, {}};
    }
    // " left channel" in any case, as file managers and recorders write it.
    if (const std::size_t words = ChannelWords(leftName, kLeftWords); words != std::string_view::npos) {
        const std::string_view stem = leftName.substr(0, words);
        const std::size_t leftAt = words + 1;  // past the blank
        std::string right = std::string(stem) + " " + RightLike(leftName.substr(leftAt, 4)) +
                            std::string(leftName.substr(leftAt + 4));
        return {PairProblem::None, std::move(right), std::string(stem) + ".wav"};
    }
    std::string right = PartnerName(leftName);
    if (right.empty()) return {PairProblem::NoPartner, {}, {}};
    // The separator stands just before the letter.
    const std::size_t stemEnd = leftName.ends_with(kLeftEnding) ? leftName.size() - kLeftEnding.size() : letter - 1;
    return {PairProblem::None, std::move(right), std::string(leftName.substr(0, stemEnd)) + ".wav"};
}

std::string PairProblemMessage(PairProblem problem) { return TextOf(kPairProblemTexts, problem); }

}  // namespace stereotools
