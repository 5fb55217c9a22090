#include "wave/WaveFormat.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace stereotools {
namespace {

using Problem = CompatibilityProblem;

TEST(CompatibilityProblemMessage, EveryProblemHasItsText) {
    struct Case {
        Problem problem;
        const char* text;
    };
    const Case cases[] = {
        {Problem::None, ""},
        {Problem::SampleRatesDiffer, "These two files have incompatible sample rates  "},
        {Problem::BitDepthsDiffer, "These two files have incompatible bit depths  "},
        {Problem::FormatsDiffer, "These two files have incompatible audio formats  "},
        {Problem::TooLongToJoin, "These two files are too long to join into one Wave file  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CompatibilityProblemMessage(c.problem), c.text);
    }
}

WaveFormatInfo Mono(int32_t rate, uint16_t bits, uint16_t tag, uint64_t dataSize) {
    WaveFormatInfo info;
    info.formatTag = tag;
    info.channels = 1;
    info.sampleRate = rate;
    info.bitsPerSample = bits;
    info.byteRate = static_cast<uint32_t>(rate) * ((bits + 7u) / 8u);
    info.blockAlign = static_cast<uint16_t>((bits + 7u) / 8u);
    info.dataSize = dataSize;
    return info;
}

TEST(CheckCompatibility, ReportsTheFirstFailingCheck) {
    struct Case {
        const char* name;
        WaveFormatInfo left;
        WaveFormatInfo right;
        Problem problem;
    };
    const Case cases[] = {
        {"equal", Mono(44100, 16, 1, 100), Mono(44100, 16, 1, 100), Problem::None},
        {"sizes, byteRate and blockAlign are not compared", Mono(44100, 16, 1, 100),
         [] {
             WaveFormatInfo info = Mono(44100, 16, 1, 7);
             info.byteRate = 0;
             info.blockAlign = 9;
             return info;
         }(),
         Problem::None},
        {"rates", Mono(44100, 16, 1, 0), Mono(48000, 16, 1, 0), Problem::SampleRatesDiffer},
        {"rates before depths", Mono(44100, 16, 1, 0), Mono(48000, 24, 1, 0), Problem::SampleRatesDiffer},
        {"rates before all", Mono(44100, 16, 1, 0x7FFFFFFF), Mono(48000, 24, 3, 0), Problem::SampleRatesDiffer},
        {"depths", Mono(44100, 16, 1, 0), Mono(44100, 24, 1, 0), Problem::BitDepthsDiffer},
        {"depths before formats", Mono(44100, 32, 1, 0), Mono(44100, 24, 3, 0), Problem::BitDepthsDiffer},
        {"formats", Mono(44100, 32, 1, 0), Mono(44100, 32, 3, 0), Problem::FormatsDiffer},
        {"formats before size", Mono(44100, 32, 1, 0xFFFFFFFF), Mono(44100, 32, 3, 0), Problem::FormatsDiffer},
        {"size of the left", Mono(44100, 16, 1, 0xFFFFFFFF), Mono(44100, 16, 1, 0), Problem::TooLongToJoin},
        {"size of the right", Mono(44100, 16, 1, 10), Mono(44100, 16, 1, 0x80000000), Problem::TooLongToJoin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckCompatibility(c.left, c.right), c.problem);
    }
}

// The joined file's RIFF size, 2 x D + 36, must fit 32 bits.
struct SizeBoundary {
    uint64_t dataSize;
    bool fits;
};

class CheckCompatibilitySize : public ::testing::TestWithParam<SizeBoundary> {};

TEST_P(CheckCompatibilitySize, RefusesAJoinTooLongForAWaveHeader) {
    const SizeBoundary b = GetParam();
    const CompatibilityProblem expected = b.fits ? Problem::None : Problem::TooLongToJoin;
    EXPECT_EQ(CheckCompatibility(Mono(48000, 24, 1, b.dataSize), Mono(48000, 24, 1, 3)), expected);
    EXPECT_EQ(CheckCompatibility(Mono(48000, 24, 1, 3), Mono(48000, 24, 1, b.dataSize)), expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CheckCompatibilitySize,
                         ::testing::Values(SizeBoundary{0, true}, SizeBoundary{0x7FFFFFEC, true},
                                           SizeBoundary{0x7FFFFFED, true}, SizeBoundary{0x7FFFFFEE, false},
                                           SizeBoundary{0x80000000, false}, SizeBoundary{0xFFFFFFFF, false}));

}  // namespace
}  // namespace stereotools
