#pragma once

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
[[nodiscard]] std::vector<std::string> DeriveSplitFileNames(const std::string& inputFileName,
                                                            unsigned channelCount);

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

}  // namespace stereotools
