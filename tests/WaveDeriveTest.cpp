#include "wave/WaveDerive.h"

#include <gtest/gtest.h>

namespace {

using stereotools::CountFrames;
using stereotools::DeriveMonoFormat;
using stereotools::DeriveStereoFormat;
using stereotools::HalveToEven;
using stereotools::WaveFormatInfo;

WaveFormatInfo Format(uint16_t tag, uint8_t channels, int32_t rate, uint32_t byteRate, uint16_t blockAlign,
                      uint16_t bits, uint64_t dataSize, uint64_t dataOffset = 44) {
    WaveFormatInfo info;
    info.formatTag = tag;
    info.channels = channels;
    info.sampleRate = rate;
    info.byteRate = byteRate;
    info.blockAlign = blockAlign;
    info.bitsPerSample = bits;
    info.dataSize = dataSize;
    info.dataOffset = dataOffset;
    return info;
}

TEST(HalveToEven, RoundsHalvesToTheEvenNeighbour) {
    const std::pair<uint64_t, uint64_t> cases[] = {
        {0, 0}, {1, 0}, {2, 1}, {3, 2}, {5, 2}, {7, 4}, {10, 5}, {11, 6}, {0xFFFFFFFF, 0x80000000},
    };
    for (const auto& [value, half] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(HalveToEven(value), half);
    }
}

TEST(DeriveStereoFormat, DoublesTheRightInputsFrameFields) {
    const WaveFormatInfo left = Format(1, 1, 8000, 200, 2, 16, 100, 46);
    const WaveFormatInfo right = Format(1, 1, 8000, 200, 2, 16, 120, 80);
    const WaveFormatInfo stereo = DeriveStereoFormat(left, right);
    EXPECT_EQ(stereo.formatTag, 1);
    EXPECT_EQ(stereo.channels, 2);
    EXPECT_EQ(stereo.sampleRate, 8000);
    EXPECT_EQ(stereo.byteRate, 400u);
    EXPECT_EQ(stereo.blockAlign, 4);
    EXPECT_EQ(stereo.bitsPerSample, 16);
    EXPECT_EQ(stereo.dataSize, 240u);
    EXPECT_EQ(stereo.dataOffset, 44u);
    // The larger data size counts, whichever side holds it.
    EXPECT_EQ(DeriveStereoFormat(right, left).dataSize, 240u);
}

TEST(DeriveStereoFormat, TakesRatesFromTheRightInputAlone) {
    const WaveFormatInfo left = Format(3, 1, 48000, 192000, 4, 32, 8);
    const WaveFormatInfo right = Format(3, 1, 48000, 0, 3, 32, 8);
    const WaveFormatInfo stereo = DeriveStereoFormat(left, right);
    EXPECT_EQ(stereo.formatTag, 3);
    EXPECT_EQ(stereo.byteRate, 0u);
    EXPECT_EQ(stereo.blockAlign, 6);
}

TEST(DeriveStereoFormat, WrapsDoubledFieldsLikeTheFileFields) {
    const WaveFormatInfo mono = Format(1, 1, 44100, 0x80000001u, 0x8001, 16, 0xFFFFFFFF);
    const WaveFormatInfo stereo = DeriveStereoFormat(mono, mono);
    EXPECT_EQ(stereo.byteRate, 2u);
    EXPECT_EQ(stereo.blockAlign, 2);
    // The data size is kept whole so callers can tell that it does not fit.
    EXPECT_EQ(stereo.dataSize, 0x1FFFFFFFEu);
}

TEST(DeriveMonoFormat, HalvesTheFrameFields) {
    struct Case {
        const char* name;
        WaveFormatInfo stereo;
        uint32_t byteRate;
        uint16_t blockAlign;
        uint64_t dataSize;
    };
    const Case cases[] = {
        {"24-bit", Format(1, 2, 100, 600, 6, 24, 600), 300, 3, 300},
        {"even data size", Format(1, 2, 100, 200, 2, 8, 10), 100, 1, 5},
        {"odd data size rounds to even", Format(1, 2, 100, 200, 2, 8, 11), 100, 1, 6},
        {"part of a frame states the whole samples held", Format(1, 2, 100, 400, 4, 16, 14), 200, 2, 8},
        {"halves round to even", Format(1, 2, 100, 7, 5, 16, 5), 4, 2, 2},
        {"byte rate 0 stays 0", Format(3, 2, 100, 0, 8, 32, 16), 0, 4, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WaveFormatInfo mono = DeriveMonoFormat(c.stereo);
        EXPECT_EQ(mono.formatTag, c.stereo.formatTag);
        EXPECT_EQ(mono.channels, 1);
        EXPECT_EQ(mono.sampleRate, c.stereo.sampleRate);
        EXPECT_EQ(mono.bitsPerSample, c.stereo.bitsPerSample);
        EXPECT_EQ(mono.byteRate, c.byteRate);
        EXPECT_EQ(mono.blockAlign, c.blockAlign);
        EXPECT_EQ(mono.dataSize, c.dataSize);
        EXPECT_EQ(mono.dataOffset, 44u);
    }
}

// Many channels scale the frame fields by their count, half to even.
TEST(DeriveMonoFormat, DividesTheFrameFieldsOfManyChannels) {
    WaveFormatInfo surround = Format(1, 6, 48000, 864000, 18, 24, 18 * 100 + 10);
    surround.extensible = true;
    surround.channelMask = 0x3F;
    const WaveFormatInfo mono = DeriveMonoFormat(surround);
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.byteRate, 144000u);
    EXPECT_EQ(mono.blockAlign, 3);
    EXPECT_EQ(mono.dataSize, 3u * 101) << "10 of 18 bytes round up to a whole frame";
    EXPECT_FALSE(mono.extensible);
    EXPECT_EQ(mono.channelMask, 0u);
    EXPECT_EQ(DeriveMonoFormat(Format(1, 3, 100, 7, 5, 8, 3)).byteRate, 2u);
    EXPECT_EQ(DeriveMonoFormat(Format(1, 3, 100, 7, 5, 8, 3)).blockAlign, 2);
}

TEST(DivideToEven, RoundsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(stereotools::DivideToEven(7, 2), stereotools::HalveToEven(7));
    EXPECT_EQ(stereotools::DivideToEven(5, 2), 2u);
    EXPECT_EQ(stereotools::DivideToEven(9, 6), 2u);   // 1.5
    EXPECT_EQ(stereotools::DivideToEven(15, 6), 2u);  // 2.5
    EXPECT_EQ(stereotools::DivideToEven(16, 6), 3u);
    EXPECT_EQ(stereotools::DivideToEven(UINT64_MAX, 1), UINT64_MAX);
}

// Two inputs without a mask give the stereo header; more, or a mask, the
// extensible one with the last input's fields multiplied by the count.
TEST(DeriveInterleavedFormat, WritesExtensibleHeadersForMoreThanTwoChannels) {
    const WaveFormatInfo a = Format(1, 1, 8000, 16000, 2, 16, 100);
    WaveFormatInfo b = Format(1, 1, 8000, 16000, 2, 16, 120);
    b.validBits = 12;
    const WaveFormatInfo pair[] = {a, b};
    EXPECT_EQ(stereotools::DeriveInterleavedFormat(pair), DeriveStereoFormat(a, b));
    const WaveFormatInfo three[] = {a, a, b};
    const WaveFormatInfo joined = stereotools::DeriveInterleavedFormat(three);
    EXPECT_TRUE(joined.extensible);
    EXPECT_EQ(joined.channels, 3);
    EXPECT_EQ(joined.byteRate, 48000u);
    EXPECT_EQ(joined.blockAlign, 6);
    EXPECT_EQ(joined.dataSize, 360u);
    EXPECT_EQ(joined.validBits, 12);
    EXPECT_EQ(joined.channelMask, 0u);
    EXPECT_EQ(joined.dataOffset, 68u);
    const WaveFormatInfo masked = stereotools::DeriveInterleavedFormat(pair, 0x3u);
    EXPECT_TRUE(masked.extensible);
    EXPECT_EQ(masked.channelMask, 0x3u);
}

TEST(DeriveMonoFormat, DescribesOutputsAt44EvenForChunkedInputs) {
    EXPECT_EQ(DeriveMonoFormat(Format(1, 2, 100, 400, 4, 16, 8, 120)).dataOffset, 44u);
}

TEST(DeriveFormats, PutTheSamplesOfOutputsPast4GiBBehindAnRf64Header) {
    // 0xFFFFFFDB is the largest data size with a 44-byte header.
    EXPECT_EQ(DeriveMonoFormat(Format(1, 2, 100, 200, 2, 8, 2 * uint64_t{0xFFFFFFDB}, 80)).dataOffset, 44u);
    EXPECT_EQ(DeriveMonoFormat(Format(1, 2, 100, 200, 2, 8, 2 * uint64_t{0xFFFFFFDC}, 80)).dataOffset, 80u);
    const WaveFormatInfo shorter = Format(1, 1, 100, 200, 2, 16, 2);
    const WaveFormatInfo longest44 = Format(1, 1, 100, 200, 2, 16, 0x7FFFFFED);
    const WaveFormatInfo first80 = Format(1, 1, 100, 200, 2, 16, 0x7FFFFFEE);
    EXPECT_EQ(DeriveStereoFormat(shorter, longest44).dataOffset, 44u);
    EXPECT_EQ(DeriveStereoFormat(first80, shorter).dataOffset, 80u);
    EXPECT_EQ(DeriveStereoFormat(first80, shorter).dataSize, 0xFFFFFFDCu);
}

TEST(CountFrames, RoundsHalfFramesToEven) {
    struct Case {
        uint16_t bits;
        uint64_t dataSize;
        uint64_t frames;
    };
    const Case cases[] = {
        {16, 800, 200},
        {16, 14, 4},
        {16, 10, 2},
        {16, 6, 2},
        {16, 13, 3},
        {16, 15, 4},
        {16, 0, 0},
        {16, 2, 0},
        {16, 3, 1},
        {24, 60, 10},
        {24, 9, 2},
        {8, 6, 3},
        {8, 5, 2},
        {8, 7, 4},
        {12, 8, 2},
        {64, 24, 2},
        {32, 0xFFFFFFFF, 536870912},
        {16, (uint64_t{5} << 30) + 2, 0x50000000},
        {16, (uint64_t{5} << 30) + 6, 0x50000002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.dataSize) + " bytes");
        WaveFormatInfo info;
        info.channels = 2;
        info.bitsPerSample = c.bits;
        info.dataSize = c.dataSize;
        EXPECT_EQ(CountFrames(info), c.frames);
    }
}

}  // namespace
