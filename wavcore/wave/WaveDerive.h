#pragma once

#include "WaveFormat.h"

#include <cstdint>

namespace wavcore {

// Returns `value` / 2 rounded to the nearest integer, a half to the even one.
[[nodiscard]] uint64_t HalveToEven(uint64_t value);

// Returns the header of the stereo output joined from two mono inputs: the
// right input's fields with channels 2, byteRate and blockAlign doubled, and
// dataSize twice the larger of the two inputs' data sizes.
[[nodiscard]] WaveFormatInfo DeriveStereoFormat(const WaveFormatInfo& left, const WaveFormatInfo& right);

// Returns the header that describes both mono outputs split from `stereo`:
// channels 1, byteRate, blockAlign and dataSize halved (half to even).
[[nodiscard]] WaveFormatInfo DeriveMonoFormat(const WaveFormatInfo& stereo);

}  // namespace wavcore
