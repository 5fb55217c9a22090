#pragma once

#include <cstddef>
#include <cstdint>

namespace stereorip {

// Splits `frameCount` interleaved frames of two samples of `sampleWidth`
// bytes (1 to 8) into `left` and `right`, each sample copied unchanged.
void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth, uint8_t* left,
                   uint8_t* right);

}  // namespace stereorip
