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
    stereo.dataOffset = LayOutWave(stereo).headerBytes;
    return stereo;
}

WaveFormatInfo DeriveMonoFormat(const WaveFormatInfo& stereo) {
    WaveFormatInfo mono = stereo;
    mono.channels = 1;
    mono.byteRate = static_cast<uint32_t>(HalveToEven(stereo.byteRate));
    mono.blockAlign = static_cast<uint16_t>(HalveToEven(stereo.blockAlign));
    // The header states exactly the samples each output holds, also for a
    // data size that is not a whole number of frames.
    mono.dataSize = CountFrames(stereo) * stereo.BytesPerSample();
    mono.dataOffset = LayOutWave(mono).headerBytes;
    return mono;
}

}  // namespace stereotools
