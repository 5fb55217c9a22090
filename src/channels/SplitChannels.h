#pragma once

#include "channels/SampleShuffle.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace stereotools {

// Splits `frameCount` interleaved frames of two samples of `sampleWidth`
// bytes (1 to 8) into `left` and `right`, each sample copied unchanged.
// The buffers must not overlap and need no alignment. A width outside 1..8
// writes nothing.
void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth, uint8_t* left,
                   uint8_t* right);

// Splits `frameCount` interleaved frames of `channels.size()` samples of
// `sampleWidth` bytes (1 to 8): sample c of frame i goes to `channels[c]`
// at i * sampleWidth, copied unchanged; a null buffer leaves its channel
// out. Two channels take the stereo paths of the function above. The
// buffers must not overlap and need no alignment. A width outside 1..8
// writes nothing.
void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                   std::span<uint8_t* const> channels);

namespace detail {

// Splits as the function above does for any channel count, with the
// stride always taken at run time and never through the stereo paths: the
// portable path, for tests and benchmarks.
void SplitChannelsPortable(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                           std::span<uint8_t* const> channels);

// Splits as SplitChannels does, but through `path`; an unavailable path
// falls back to the portable one. For tests and benchmarks.
void SplitChannelsWith(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                       uint8_t* left, uint8_t* right);

}  // namespace detail

}  // namespace stereotools
