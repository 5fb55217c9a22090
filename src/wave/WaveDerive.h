#pragma once

#include "WaveFormat.h"

#include <cstdint>

namespace stereotools {

// Returns `value` / 2 rounded to the nearest integer, a half to the even one.
[[nodiscard]] uint64_t HalveToEven(uint64_t value);

// Returns the number of frames `info` holds: dataSize over the bytes of one
// frame, rounded to the nearest integer, a half to the even one.
[[nodiscard]] uint64_t CountFrames(const WaveFormatInfo& info);

// Returns the header of the stereo output joined from two mono inputs: the
// right input's fields with channels 2, byteRate and blockAlign doubled
// (wrapping like their 32-bit and 16-bit file fields), dataSize twice the
// larger of the two inputs' data sizes and dataOffset where the samples of an
// output without metadata start (44, or 80 for RF64: see LayOutWave).
[[nodiscard]] WaveFormatInfo DeriveStereoFormat(const WaveFormatInfo& left, const WaveFormatInfo& right);

// Returns the header that describes both mono outputs split from `stereo`:
// channels 1, byteRate and blockAlign halved (half to even), dataSize the
// bytes of the CountFrames samples each output holds, dataOffset where the
// samples of an output without metadata start (44, or 80 for RF64).
[[nodiscard]] WaveFormatInfo DeriveMonoFormat(const WaveFormatInfo& stereo);

}  // namespace stereotools
