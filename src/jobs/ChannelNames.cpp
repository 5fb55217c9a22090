#include "ChannelNames.h"

#include "system/Text.h"
#include "system/Utf8.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <map>
#include <tuple>
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

// The fields of a name template and where each takes its value.
struct TemplateField {
    std::string_view name;
    std::string OutputNameFields::*value;
};
constexpr TemplateField kTemplateFields[] = {
    {"name", &OutputNameFields::name},
    {"n", &OutputNameFields::number},
    {"track", &OutputNameFields::track},
};

// One field or piece of text of a name template.
struct TemplatePart {
    std::string_view text;  // the text, or the field's name
    bool isField = false;
};

bool IsFieldCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Cuts `nameTemplate` into text and fields: "{word}" of letters, digits and
// "_" is a field, known or not; any other brace is text.
std::vector<TemplatePart> TemplateParts(std::string_view nameTemplate) {
    std::vector<TemplatePart> parts;
    std::size_t textStart = 0;
    for (std::size_t at = 0; at < nameTemplate.size(); ++at) {
        if (nameTemplate[at] != '{') continue;
        std::size_t end = at + 1;
        while (end < nameTemplate.size() && IsFieldCharacter(nameTemplate[end])) ++end;
        if (end == at + 1 || end == nameTemplate.size() || nameTemplate[end] != '}') continue;
        if (at > textStart) parts.push_back({nameTemplate.substr(textStart, at - textStart), false});
        parts.push_back({nameTemplate.substr(at + 1, end - at - 1), true});
        textStart = end + 1;
        at = end;
    }
    if (textStart < nameTemplate.size()) parts.push_back({nameTemplate.substr(textStart), false});
    return parts;
}

const TemplateField* FindField(std::string_view name) {
    for (const TemplateField& field : kTemplateFields) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

// Returns `number` zero-padded to the digits of `count`.
std::string PaddedNumber(unsigned number, unsigned count) {
    const std::string digits = std::to_string(number);
    const std::size_t width = std::to_string(count).size();
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

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
    std::vector<std::string> names;
    names.reserve(channelCount);
    for (unsigned k = 1; k <= channelCount; ++k)
        names.push_back(stem + " channel " + PaddedNumber(k, channelCount) + ".wav");
    return names;
}

std::string NameTemplateProblem(std::string_view nameTemplate) {
    if (nameTemplate.empty()) return "the name template is empty";
    if (nameTemplate.find('/') != std::string_view::npos) return "the name template holds a '/'";
    for (const TemplatePart& part : TemplateParts(nameTemplate)) {
        if (part.isField && FindField(part.text) == nullptr) {
            std::string problem = "unknown field '{";
            problem.append(part.text);
            return problem.append("}' in the name template");
        }
    }
    return {};
}

bool TemplateHasField(std::string_view nameTemplate, std::string_view field) {
    for (const TemplatePart& part : TemplateParts(nameTemplate)) {
        if (part.isField && part.text == field) return true;
    }
    return false;
}

std::string FillNameTemplate(std::string_view nameTemplate, const OutputNameFields& fields) {
    std::string filled;
    for (const TemplatePart& part : TemplateParts(nameTemplate)) {
        const TemplateField* field = part.isField ? FindField(part.text) : nullptr;
        if (field != nullptr) {
            filled += fields.*(field->value);
        } else if (part.isField) {
            filled.push_back('{');
            filled.append(part.text);
            filled.push_back('}');
        } else {
            filled += part.text;
        }
    }
    return filled;
}

std::string SafeTrackName(std::string_view trackName) {
    std::string safe;
    bool leading = true;
    for (const Utf8Character& character : SplitUtf8(trackName)) {
        const char32_t c = character.codePoint;
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        leading = leading && c == '.';
        const bool replaced = c == '/' || control || leading;
        const std::size_t length = replaced ? 1 : character.length;
        if (safe.size() + length > kMaxTrackNameBytes) break;
        if (replaced) {
            safe.push_back('_');
        } else {
            safe.append(trackName.substr(character.offset, character.length));
        }
    }
    return safe;
}

std::vector<std::string> TemplateSplitFileNames(std::string_view nameTemplate, const std::string& inputFileName,
                                                unsigned channelCount, std::span<const unsigned> numbers,
                                                std::span<const std::string> trackNames) {
    const std::size_t slash = inputFileName.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : inputFileName.substr(0, slash + 1);
    OutputNameFields fields;
    fields.name = OutputStem(inputFileName).substr(folder.size());
    std::vector<std::string> names;
    names.reserve(numbers.size());
    for (const unsigned number : numbers) {
        fields.number = PaddedNumber(number, channelCount);
        const bool named = number >= 1 && number <= trackNames.size() && !trackNames[number - 1].empty();
        fields.track = named ? SafeTrackName(trackNames[number - 1]) : fields.number;
        names.push_back(FillNameTemplate(nameTemplate, fields));
    }
    // Tracks of one name (two "Lav" tracks, or a name that is another's
    // number) would leave only the last output under it.
    std::map<std::string, unsigned> uses;
    for (const std::string& name : names) ++uses[name];
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (uses[names[k]] < 2) continue;
        const std::string_view name = names[k];
        const std::size_t end = EndsWithNoCase(name, ".wav") ? name.size() - 4 : name.size();
        std::string numbered(name.substr(0, end));
        numbered += '_';
        numbered += std::to_string(numbers[k]);
        numbered += name.substr(end);
        names[k] = std::move(numbered);
    }
    for (std::string& name : names) name = folder + name;
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
        std::string right =
            std::string(stem) + " " + RightLike(leftName.substr(leftAt, 4)) + std::string(leftName.substr(leftAt + 4));
        return {PairProblem::None, std::move(right), std::string(stem) + ".wav"};
    }
    std::string right = PartnerName(leftName);
    if (right.empty()) return {PairProblem::NoPartner, {}, {}};
    // The separator stands just before the letter.
    const std::size_t stemEnd = leftName.ends_with(kLeftEnding) ? leftName.size() - kLeftEnding.size() : letter - 1;
    return {PairProblem::None, std::move(right), std::string(leftName.substr(0, stemEnd)) + ".wav"};
}

std::string PairProblemMessage(PairProblem problem) { return TextOf(kPairProblemTexts, problem); }

namespace {

// The ways a take's files end before their channel number.
enum class TakeStyle { ChannelWords, Underscore, Track };

// What the name of one file of a take says.
struct TakeFile {
    std::string folder;  // up to and with the last "/"
    std::string stem;    // NAME
    TakeStyle style = TakeStyle::Underscore;
    unsigned channel = 0;
};

// Reads the take, the style and the channel number from `name`. Returns
// false when its name ends in no channel number of a take.
bool ReadTakeFile(std::string_view name, TakeFile& file) {
    const std::size_t slash = name.rfind('/');
    const std::size_t baseStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::string_view base = name.substr(baseStart);
    bool extension = false;
    for (const std::string_view ending : {std::string_view(".wav"), std::string_view(".wave")}) {
        if (!extension && EndsWithNoCase(base, ending)) {
            base.remove_suffix(ending.size());
            extension = true;
        }
    }
    if (!extension) return false;
    std::size_t digits = base.size();
    while (digits > 0 && base[digits - 1] >= '0' && base[digits - 1] <= '9') --digits;
    unsigned channel = 0;
    const auto [end, error] = std::from_chars(base.data() + digits, base.data() + base.size(), channel);
    if (digits == base.size() || error != std::errc{} || channel == 0 || channel > 65535) return false;
    const std::string_view before = base.substr(0, digits);
    std::size_t stemEnd = 0;
    if (EndsWithNoCase(before, " channel ")) {
        file.style = TakeStyle::ChannelWords;
        stemEnd = before.size() - 9;
    } else if (EndsWithNoCase(before, "_tr")) {
        file.style = TakeStyle::Track;
        stemEnd = before.size() - 3;
    } else if (before.ends_with('_')) {
        file.style = TakeStyle::Underscore;
        stemEnd = before.size() - 1;
    } else {
        return false;
    }
    if (stemEnd == 0) return false;
    file.folder = std::string(name.substr(0, baseStart));
    file.stem = std::string(before.substr(0, stemEnd));
    file.channel = channel;
    return true;
}

// Returns the problem of the files of one take, sorted by channel, or None.
TakeProblem CheckTake(const std::vector<std::pair<unsigned, std::string>>& files, unsigned& channel) {
    if (files.size() == 1) return TakeProblem::LoneFile;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0 && files[i].first == files[i - 1].first) {
            channel = files[i].first;
            return TakeProblem::ChannelTwice;
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].first != i + 1) {
            channel = static_cast<unsigned>(i + 1);
            return TakeProblem::MissingChannel;
        }
    }
    return TakeProblem::None;
}

}  // namespace

std::vector<Take> GroupTakes(std::span<const std::string> names) {
    using Key = std::tuple<std::string, std::string, TakeStyle>;
    std::map<Key, std::size_t> groupOf;
    std::vector<std::vector<std::pair<unsigned, std::string>>> groups;
    std::vector<Key> keys;
    // Per take in the order its first file came: its group, or (no group)
    // a name without a channel number.
    struct Entry {
        std::size_t group;
        std::string unnumbered;
    };
    std::vector<Entry> order;
    for (const std::string& name : names) {
        TakeFile file;
        if (!ReadTakeFile(name, file)) {
            order.push_back({std::string::npos, name});
            continue;
        }
        Key key{file.folder, file.stem, file.style};
        const auto [at, isNew] = groupOf.emplace(key, groups.size());
        if (isNew) {
            groups.emplace_back();
            keys.push_back(key);
            order.push_back({at->second, {}});
        }
        groups[at->second].emplace_back(file.channel, name);
    }
    std::vector<Take> takes;
    for (Entry& entry : order) {
        Take take;
        if (entry.group == std::string::npos) {
            take.problem = TakeProblem::NoChannelNumber;
            take.files = {std::move(entry.unnumbered)};
            takes.push_back(std::move(take));
            continue;
        }
        const std::size_t index = entry.group;
        std::vector<std::pair<unsigned, std::string>>& files = groups[index];
        std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        take.problem = CheckTake(files, take.channel);
        for (auto& file : files) take.files.push_back(std::move(file.second));
        take.joined = std::get<0>(keys[index]) + std::get<1>(keys[index]) + ".wav";
        takes.push_back(std::move(take));
    }
    return takes;
}

std::string TakeProblemMessage(const Take& take) {
    const std::string number = std::to_string(take.channel);
    switch (take.problem) {
    case TakeProblem::None: return {};
    case TakeProblem::NoChannelNumber:
        return "This name ends in no channel number of a take (NAME channel K.wav, NAME_K.wav, NAME_TrK.wav)";
    case TakeProblem::LoneFile: return "This is the only file of its take";
    case TakeProblem::MissingChannel: return "Channel " + number + " of this take is missing";
    case TakeProblem::ChannelTwice: return "Channel " + number + " of this take is named twice";
    }
    return {};
}

}  // namespace stereotools
