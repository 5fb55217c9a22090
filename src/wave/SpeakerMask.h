#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stereotools {

// What reading a channel mask gave: the mask, or why it is refused.
struct SpeakerMaskRead {
    std::optional<uint32_t> mask;  // set when the text was read
    std::string error;             // else what is wrong with it
};

// Reads a WAVE_FORMAT_EXTENSIBLE channel mask from `text`: a number, decimal
// or "0x" hexadecimal, that fits 32 bits, or speaker names separated by
// commas (FL FR FC LFE BL BR FLC FRC BC SL SR TC TFL TFC TFR TBL TBC TBR,
// any case). The names must come in that order, each once, as the channels
// of a file take their speakers in the order of the mask's bits: a list
// that reads otherwise would assign the channels to other speakers than it
// says.
[[nodiscard]] SpeakerMaskRead ReadSpeakerMask(std::string_view text);

// Returns the number of speakers `mask` assigns: its bits set.
[[nodiscard]] unsigned CountSpeakers(uint32_t mask);

}  // namespace stereotools
