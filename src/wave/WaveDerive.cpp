#include "WaveDerive.h"

#include "WaveWriter.h"

#include <algorithm>

namespace stereotools {

uint64_t HalveToEven(uint64_t value) {
    const uint64_t half = value / 2;
    // An odd value lies halfway between `half` and `half + 1`: take the even one.
    if ((value & 1u) != 0 && (half & 1u) != 0) return half + 1;
    return half;
}

uint64_t DivideToEven(uint64_t value, uint64_t divisor) {
    const uint64_t whole = value / divisor;
    const uint64_t rest = value % divisor;
    // Compared as rest against divisor - rest, which cannot overflow.
    if (rest > divisor - rest || (rest == divisor - rest && whole % 2 == 1)) return whole + 1;
    return whole;
}

uint64_t CountFrames(const WaveFormatInfo& info) {
    const uint64_t frameBytes = uint64_t{info.channels} * info.BytesPerSample();
    if (frameBytes == 0) return 0;
    const uint64_t whole = info.dataSize / frameBytes;
    const uint64_t twiceRest = 2 * (info.dataSize % frameBytes);
    if (twiceRest > frameBytes || (twiceRest == frameBytes && whole % 2 == 1)) return whole + 1;
    return whole;
}

WaveFormatInfo DeriveStereoFormat(const WaveFormatInfo& left, const WaveFormatInfo& right) {
    WaveFormatInfo stereo = right;
    stereo.channels = 2;
    // The doubled fields wrap like the 32-bit and 16-bit fields they are written to.
    stereo.byteRate = static_cast<uint32_t>(right.byteRate * 2u);
    stereo.blockAlign = static_cast<uint16_t>(right.blockAlign * 2u);
    stereo.dataSize = 2 * std::max(left.dataSize, right.dataSize);
    stereo.extensible = false;
    stereo.channelMask = 0;
    stereo.dataOffset = LayOutWave(stereo).headerBytes;
    return stereo;
}

WaveFormatInfo DeriveMonoFormat(const WaveFormatInfo& input) {
    WaveFormatInfo mono = input;
    const uint64_t channels = std::max<uint64_t>(1, input.channels);
    mono.channels = 1;
    mono.byteRate = static_cast<uint32_t>(DivideToEven(input.byteRate, channels));
    mono.blockAlign = static_cast<uint16_t>(DivideToEven(input.blockAlign, channels));
    mono.extensible = false;
    mono.channelMask = 0;
    // The header states exactly the samples each output holds, also for a
    // data size that is not a whole number of frames.
    mono.dataSize = CountFrames(input) * input.BytesPerSample();
    mono.dataOffset = LayOutWave(mono).headerBytes;
    return mono;
}

}  // namespace stereotools

namespace stereotools {

WaveFormatInfo DeriveInterleavedFormat(std::span<const WaveFormatInfo> inputs, std::optional<uint32_t> channelMask) {
    if (inputs.size() == 2 && !channelMask) return DeriveStereoFormat(inputs[0], inputs[1]);
    const WaveFormatInfo& last = inputs.back();
    WaveFormatInfo joined = last;
    const auto count = static_cast<uint16_t>(inputs.size());
    uint64_t longest = 0;
    for (const WaveFormatInfo& input : inputs) longest = std::max(longest, input.dataSize);
    joined.channels = count;
    // The multiplied fields wrap like the 32-bit and 16-bit fields they are written to.
    joined.byteRate = static_cast<uint32_t>(uint64_t{last.byteRate} * count);
    joined.blockAlign = static_cast<uint16_t>(uint32_t{last.blockAlign} * count);
    joined.dataSize = count * longest;
    joined.validBits = last.validBits != 0 ? last.validBits : last.bitsPerSample;
    joined.extensible = true;
    joined.channelMask = channelMask.value_or(0);
    joined.dataOffset = LayOutWave(joined).headerBytes;
    return joined;
}

}  // namespace stereotools
