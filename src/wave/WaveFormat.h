#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace stereotools {

// The header facts of one WAV file, as read from an input or derived for an
// output. Plain value record; nothing is validated here.
struct WaveFormatInfo {
    uint16_t formatTag = 0;      // 1 integer PCM, 3 IEEE float (extensible resolved)
    uint16_t channels = 0;       // the channel field; its low byte alone for the mono and stereo checks
    int32_t sampleRate = 0;      // frames per second, as the file states it
    uint32_t byteRate = 0;       // bytes per second, as the file states it
    uint16_t blockAlign = 0;     // bytes per frame, as the file states it
    uint16_t bitsPerSample = 0;  // 1..64 once accepted; stored in whole bytes
    uint64_t dataSize = 0;       // byte length of the sample data; 64 bits for RF64 and sizes resolved to end of file
    uint64_t dataOffset = 44;    // first byte of the data chunk's samples
    uint16_t validBits = 0;      // bits of each sample that carry sound: an extensible input's, else bitsPerSample
    bool extensible = false;     // an output written with the extensible "fmt " (inputs are resolved: false)
    uint32_t channelMask = 0;    // the speakers of an extensible output's channels; 0 assigns none

    // Returns the bytes one sample occupies: bits rounded up to whole bytes.
    uint32_t BytesPerSample() const { return (bitsPerSample + 7u) / 8u; }

    bool operator==(const WaveFormatInfo&) const = default;
};

// Why an input header is refused, in the order the checks run; Stopped is no
// refusal but says the reading was given up at the caller's request.
enum class WaveHeaderProblem {
    None,
    NotWave,
    NotPcmOrFloat,
    WrongChannelCount,
    UnsupportedBitDepth,
    InvalidSampleRate,
    Stopped,
};

// Returns the text the tools show for `problem`; `requiredChannels` picks the
// mono or stereo wording of WrongChannelCount. Empty for None and Stopped,
// which are no refusals.
[[nodiscard]] std::string HeaderProblemMessage(WaveHeaderProblem problem, int requiredChannels);

// Why two mono files cannot be joined, in the order the checks run.
enum class CompatibilityProblem {
    None,
    SampleRatesDiffer,
    BitDepthsDiffer,
    FormatsDiffer,
};

// Checks whether `left` and `right` can be joined: equal sample rates, bit
// depths and format tags. Returns the first check that fails, or None.
// byteRate, blockAlign and unequal data sizes are allowed, and so is any
// length: a join past 4 GiB is written as RF64.
[[nodiscard]] CompatibilityProblem CheckCompatibility(const WaveFormatInfo& left, const WaveFormatInfo& right);

// Checks `inputs` as CheckCompatibility checks a pair: each against the
// first, in order. Returns the first check that fails, or None.
[[nodiscard]] CompatibilityProblem CheckCompatibility(std::span<const WaveFormatInfo> inputs);

// Returns the text the tools show for `problem`. Empty for None.
[[nodiscard]] std::string CompatibilityProblemMessage(CompatibilityProblem problem);

}  // namespace stereotools
