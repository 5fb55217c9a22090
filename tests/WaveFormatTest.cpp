#include "wave/WaveFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace stereotools {
namespace {

using Problem = CompatibilityProblem;

// The texts themselves are the join dialogue's (StereoKnitTest shows each in
// its box); here every problem has one of its own, in the box's form.
TEST(CompatibilityProblemMessage, EveryProblemHasItsText) {
    EXPECT_EQ(CompatibilityProblemMessage(Problem::None), "");
    std::set<std::string> texts;
    for (int i = static_cast<int>(Problem::None) + 1; i <= static_cast<int>(Problem::FormatsDiffer); ++i) {
        SCOPED_TRACE(i);
        const std::string text = CompatibilityProblemMessage(static_cast<Problem>(i));
        EXPECT_TRUE(text.starts_with("These two files have incompatible ")) << text;
        EXPECT_TRUE(text.ends_with("  ")) << text;
        EXPECT_TRUE(texts.insert(text).second) << "the same text twice: " << text;
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
        // Joins past 4 GiB are written as RF64.
        {"the first left size past a 44-byte header", Mono(44100, 16, 1, 0x7FFFFFEE), Mono(44100, 16, 1, 0),
         Problem::None},
        {"a right size past 4 GiB", Mono(44100, 16, 1, 10), Mono(44100, 16, 1, uint64_t{5} << 30), Problem::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckCompatibility(c.left, c.right), c.problem);
    }
}

}  // namespace
}  // namespace stereotools
