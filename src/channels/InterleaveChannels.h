#pragma once

#include "channels/SampleShuffle.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace stereotools {

// Interleaves `frameCount` samples of `sampleWidth` bytes (1 to 8) from
// `left` and `right` into `out`: left sample i, then right sample i.
// The buffers must not overlap and need no alignment. A width outside 1..8
// writes nothing.
void InterleaveChannels(const uint8_t* left, const uint8_t* right, std::size_t frameCount, unsigned sampleWidth,
                        uint8_t* out);

// Interleaves `frameCount` samples of `sampleWidth` bytes (1 to 8) from
// each of `channels` into `out`: frame i holds sample i of every channel in
// order. Two channels take the stereo paths of the function above. The
// buffers must not overlap and need no alignment. A width outside 1..8
// writes nothing.
void InterleaveChannels(std::span<const uint8_t* const> channels, std::size_t frameCount, unsigned sampleWidth,
                        uint8_t* out);

namespace detail {

// Interleaves as the function above does for any channel count, with the
// stride always taken at run time and never through the stereo paths: the
// portable path, for tests and benchmarks.
void InterleaveChannelsPortable(std::span<const uint8_t* const> channels, std::size_t frameCount, unsigned sampleWidth,
                                uint8_t* out);

// Interleaves as InterleaveChannels does, but through `path`; an unavailable
// path falls back to the portable one. For tests and benchmarks.
void InterleaveChannelsWith(KernelPath path, const uint8_t* left, const uint8_t* right, std::size_t frameCount,
                            unsigned sampleWidth, uint8_t* out);

}  // namespace detail

}  // namespace stereotools
