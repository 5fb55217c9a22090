#pragma once

#include <string>
#include <string_view>

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

// Returns the right-channel partner name of `leftName`: " left channel.wav"
// at its end becomes " right channel.wav", and a name ending in ".L", "_L" or
// "-L" before ".wav" or ".wave" (any case) gets "R" for its "L", in the case
// of that letter. Returns "" when its ending pairs with nothing.
[[nodiscard]] std::string PartnerName(std::string_view leftName);

}  // namespace stereotools
