#pragma once

#include <cstddef>
#include <cstdint>

namespace stereoknit {

// Interleaves `frameCount` samples of `sampleWidth` bytes (1 to 8) from
// `left` and `right` into `out`: left sample i, then right sample i.
void InterleaveChannels(const uint8_t* left, const uint8_t* right, std::size_t frameCount, unsigned sampleWidth,
                        uint8_t* out);

}  // namespace stereoknit
