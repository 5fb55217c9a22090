#pragma once

#include "WaveFormat.h"

#include <cstdint>
#include <optional>
#include <span>

namespace stereotools {

// Returns `value` / 2 rounded to the nearest integer, a half to the even one.
[[nodiscard]] uint64_t HalveToEven(uint64_t value);

// Returns `value` / `divisor` (above 0) rounded to the nearest integer, a
// half to the even one; HalveToEven for a divisor of 2.
[[nodiscard]] uint64_t DivideToEven(uint64_t value, uint64_t divisor);

// Returns the number of frames `info` holds: dataSize over the bytes of one
// frame, rounded to the nearest integer, a half to the even one.
[[nodiscard]] uint64_t CountFrames(const WaveFormatInfo& info);

// Returns the header of the stereo output joined from two mono inputs: the
// right input's fields with channels 2, byteRate and blockAlign doubled
// (wrapping like their 32-bit and 16-bit file fields), dataSize twice the
// larger of the two inputs' data sizes and dataOffset where the samples of an
// output without metadata start (44, or 80 for RF64: see LayOutWave).
[[nodiscard]] WaveFormatInfo DeriveStereoFormat(const WaveFormatInfo& left, const WaveFormatInfo& right);

// Returns the header that describes every mono output split from `input`,
// a file of two channels or more: channels 1, byteRate and blockAlign
// divided by the input's channels (half to even), dataSize the bytes of the
// CountFrames samples each output holds, the plain "fmt ", dataOffset where
// the samples of an output without metadata start (44, or 80 for RF64).
[[nodiscard]] WaveFormatInfo DeriveMonoFormat(const WaveFormatInfo& input);

// Returns the header of the file joined from mono `inputs` (two or more),
// channel i from input i: for two inputs without `channelMask`, exactly
// DeriveStereoFormat's; otherwise the last input's fields with its channel
// count, byteRate and blockAlign multiplied by it (wrapping like the file
// fields), dataSize that count times the largest input's, and the
// extensible "fmt " with the inputs' valid bits and `channelMask` (0 when
// none is given: no channel assigned to a speaker).
[[nodiscard]] WaveFormatInfo DeriveInterleavedFormat(std::span<const WaveFormatInfo> inputs,
                                                     std::optional<uint32_t> channelMask = std::nullopt);

}  // namespace stereotools
