#pragma once

#include "channels/SampleShuffle.h"

#include <cstddef>
#include <cstdint>

namespace stereotools {

// Splits `frameCount` interleaved frames of two samples of `sampleWidth`
// bytes (1 to 8) into `left` and `right`, each sample copied unchanged.
// The buffers must not overlap and need no alignment. A width outside 1..8
// writes nothing.
void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth, uint8_t* left,
                   uint8_t* right);

namespace detail {

// Splits as SplitChannels does, but through `path`; an unavailable path
// falls back to the portable one. For tests and benchmarks.
void SplitChannelsWith(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                       uint8_t* left, uint8_t* right);

}  // namespace detail

}  // namespace stereotools
