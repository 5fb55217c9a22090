#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// The two outputs of a split.
struct ChannelFileNames {
    std::string left;   // stem + " left channel.wav"
    std::string right;  // stem + " right channel.wav"
};

// Returns the output names for `inputFileName`: the name less the last four
// characters of its last path component (the part after the last "/"; kept
// whole when shorter), then " left channel.wav" and " right channel.wav".
// The folder part always stays, so the outputs go beside the input.
[[nodiscard]] ChannelFileNames DeriveChannelFileNames(const std::string& inputFileName);

// Returns the output names of a split of `inputFileName` into
// `channelCount` mono files (2 or more), beside the input and cut as
// DeriveChannelFileNames cuts it: for two, the left and the right channel's;
// for more, "stem channel K.wav" for K from 1, zero-padded to the digits of
// `channelCount` so that the names sort in channel order.
[[nodiscard]] std::vector<std::string> DeriveSplitFileNames(const std::string& inputFileName, unsigned channelCount);

// The values a name template's fields stand for, for one output of a split.
struct OutputNameFields {
    std::string name;    // {name}: the input's file name less its last four characters
    std::string number;  // {n}: the channel number, zero-padded to the digits of the channel count
    std::string track;   // {track}: the channel's track name, made safe (SafeTrackName), else {n}
};

// The most bytes a track name takes in a file name.
inline constexpr std::size_t kMaxTrackNameBytes = 200;

// Returns `trackName` made safe to stand in a file name: each "/", control
// character (C0, DEL, C1) and leading "." becomes "_", and the name is cut
// to at most kMaxTrackNameBytes bytes, never inside a UTF-8 character.
[[nodiscard]] std::string SafeTrackName(std::string_view trackName);

// Returns why `nameTemplate` cannot name the outputs of a split, or "": it
// is empty, holds a "/" (outputs go in one folder), or holds a field that
// is not known ("{word}" of letters, digits or "_"). Other braces are
// taken as they stand.
[[nodiscard]] std::string NameTemplateProblem(std::string_view nameTemplate);

// Returns whether `nameTemplate` holds the field `field` ("name", "n", "track").
[[nodiscard]] bool TemplateHasField(std::string_view nameTemplate, std::string_view field);

// Returns `nameTemplate` with each field replaced by its value in `fields`.
[[nodiscard]] std::string FillNameTemplate(std::string_view nameTemplate, const OutputNameFields& fields);

// Returns the output names of a split of `inputFileName`, a file of
// `channelCount` channels, into the channels `numbers` (from 1), in their
// order: `nameTemplate` filled for each, beside the input. {name} is cut as
// DeriveChannelFileNames cuts the name; {n} is padded as
// DeriveSplitFileNames pads it; {track} is `trackNames[K - 1]` of channel
// K made safe, or {n} where that is missing or empty. Names that two or
// more outputs would share get "_K" before their ".wav" (any case; at the
// end when they have none), K the channel number, so that each stays.
[[nodiscard]] std::vector<std::string> TemplateSplitFileNames(std::string_view nameTemplate,
                                                              const std::string& inputFileName, unsigned channelCount,
                                                              std::span<const unsigned> numbers,
                                                              std::span<const std::string> trackNames = {});

// Returns the right-channel partner name of `leftName`: " left channel.wav"
// at its end becomes " right channel.wav", and a name ending in ".L", "_L" or
// "-L" before ".wav" or ".wave" (any case) gets "R" for its "L", in the case
// of that letter. Returns "" when its ending pairs with nothing.
[[nodiscard]] std::string PartnerName(std::string_view leftName);

// Why a file cannot be the left half of a pair to join.
enum class PairProblem {
    None,
    RightHalf,  // its name is that of a right-channel file
    NoPartner,  // its name ends in no pair's left-channel ending
};

// The pair a left-channel file starts.
struct ChannelPair {
    PairProblem problem = PairProblem::None;
    std::string right;   // the partner: PartnerName of the left name
    std::string joined;  // NAME.wav, beside the left file
};

// Returns the pair `leftName` starts: its PartnerName (" left channel" is
// taken in any case and before ".wave" too, its partner's "right" written in
// the case of its "left"), and for the output NAME.wav, NAME being the left
// name less " left channel.wav", or less the separator, the letter and the
// extension of NAME.L.wav, NAME_L.wav, NAME-L.wav (any case, ".wave" too).
// Returns RightHalf for a name that ends as a partner does (" right
// channel", ".R", "_R", "-R"), NoPartner for one that pairs with nothing.
[[nodiscard]] ChannelPair PairChannelFiles(std::string_view leftName);

// Returns the text the tools show for `problem`. Empty for None.
[[nodiscard]] std::string PairProblemMessage(PairProblem problem);

// Why files cannot be joined as one take.
enum class TakeProblem {
    None,
    NoChannelNumber,  // the name ends in no channel number of a take
    LoneFile,         // no other file of its take is named
    MissingChannel,   // a number below the take's highest is missing
    ChannelTwice,     // a number is named twice
};

// The files of one recording, one per channel, to join into one file.
struct Take {
    TakeProblem problem = TakeProblem::None;
    std::vector<std::string> files;  // in channel order; with a problem, the files it is about
    std::string joined;              // NAME.wav, beside the files
    unsigned channel = 0;            // the number missing or named twice
};

// Groups `names` into takes: files whose names differ only in a channel
// number K at the end, "NAME channel K.wav" (as a split writes them),
// "NAME_K.wav" or "NAME_TrK.wav" (as recorders write them), in any case,
// ".wave" too, K counted from 1 and zero-padded or not. Files of one take
// share their folder, NAME and naming style, and are joined into NAME.wav
// in the order of K. Returns the takes in the order of their first file
// among `names`; a take whose numbers are not 1 to the highest, each once,
// or that has one file, and each name that ends in no channel number,
// come back with their problem.
[[nodiscard]] std::vector<Take> GroupTakes(std::span<const std::string> names);

// Returns the text the tools show for the problem of `take`. Empty for None.
[[nodiscard]] std::string TakeProblemMessage(const Take& take);

}  // namespace stereotools
