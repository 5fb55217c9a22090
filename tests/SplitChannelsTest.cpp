#include "channels/SplitChannels.h"

#include "support/KernelBuffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using kerneltest::Bytes;
using kerneltest::GuardedBuffer;
using kerneltest::RandomBytes;
using stereotools::IsKernelPathAvailable;
using stereotools::KernelPath;
using stereotools::SplitChannels;
using stereotools::detail::SplitChannelsWith;

// Splits byte by byte, the definition the kernels must match.
void ReferenceSplit(const Bytes& interleaved, std::size_t frameCount, unsigned width, Bytes& left, Bytes& right) {
    left.assign(frameCount * width, 0);
    right.assign(frameCount * width, 0);
    for (std::size_t i = 0; i < frameCount; ++i) {
        for (unsigned b = 0; b < width; ++b) {
            left[i * width + b] = interleaved[2 * width * i + b];
            right[i * width + b] = interleaved[2 * width * i + width + b];
        }
    }
}

TEST(SplitChannels, SplitsHandWrittenFrames) {
    struct Case {
        const char* name;
        unsigned width;
        Bytes interleaved;
        Bytes left;
        Bytes right;
    };
    const Case cases[] = {
        {"8-bit", 1, {10, 20, 11, 21, 12, 22}, {10, 11, 12}, {20, 21, 22}},
        {"16-bit", 2, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 5, 6}, {3, 4, 7, 8}},
        {"24-bit", 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {1, 2, 3, 7, 8, 9}, {4, 5, 6, 10, 11, 12}},
        {"64-bit",
         8,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         {1, 2, 3, 4, 5, 6, 7, 8},
         {9, 10, 11, 12, 13, 14, 15, 16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t frameCount = c.interleaved.size() / (2 * c.width);
        Bytes left(c.left.size(), 0);
        Bytes right(c.right.size(), 0);
        SplitChannels(c.interleaved.data(), frameCount, c.width, left.data(), right.data());
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(right, c.right);
    }
}

TEST(SplitChannels, WritesNothingForWidthOutsideOneToEight) {
    const Bytes interleaved = RandomBytes(64, 1);
    for (unsigned width : {0u, 9u, 16u}) {
        SCOPED_TRACE(width);
        GuardedBuffer left(0, 0);
        GuardedBuffer right(0, 0);
        SplitChannels(interleaved.data(), 2, width, left.data(), right.data());
        EXPECT_TRUE(left.GuardsIntact());
        EXPECT_TRUE(right.GuardsIntact());
    }
}

TEST(SplitChannels, ZeroFramesWritesNothing) {
    GuardedBuffer left(0, 0);
    GuardedBuffer right(0, 0);
    SplitChannels(nullptr, 0, 2, left.data(), right.data());
    EXPECT_TRUE(left.GuardsIntact());
    EXPECT_TRUE(right.GuardsIntact());
}

class SplitChannelsPath : public testing::TestWithParam<KernelPath> {
protected:
    void SetUp() override {
        if (!IsKernelPathAvailable(GetParam())) GTEST_SKIP() << "this processor cannot run the path";
    }
};

// Frame counts around the vector block sizes of every path, and odd ones.
constexpr std::size_t kFrameCounts[] = {0, 1, 2, 15, 16, 17, 21, 22, 31, 32, 33, 63, 64, 65, 1000, 4099};

TEST_P(SplitChannelsPath, MatchesReferenceForEveryWidthCountAndAlignment) {
    for (unsigned width = 1; width <= 8; ++width) {
        for (std::size_t frameCount : kFrameCounts) {
            const std::size_t channelBytes = frameCount * width;
            const Bytes source = RandomBytes(2 * channelBytes, static_cast<unsigned>(width * 10007 + frameCount));
            Bytes expectedLeft;
            Bytes expectedRight;
            ReferenceSplit(source, frameCount, width, expectedLeft, expectedRight);
            for (std::size_t offset = 0; offset < 4; ++offset) {
                SCOPED_TRACE("width " + std::to_string(width) + ", frames " + std::to_string(frameCount) + ", offset " +
                             std::to_string(offset));
                GuardedBuffer interleaved(source.size(), (offset + 3) % 4);
                std::copy(source.begin(), source.end(), interleaved.data());
                GuardedBuffer left(channelBytes, offset);
                GuardedBuffer right(channelBytes, (offset + 1) % 4);
                SplitChannelsWith(GetParam(), interleaved.data(), frameCount, width, left.data(), right.data());
                EXPECT_EQ(left.Contents(), expectedLeft);
                EXPECT_EQ(right.Contents(), expectedRight);
                EXPECT_TRUE(left.GuardsIntact());
                EXPECT_TRUE(right.GuardsIntact());
                EXPECT_EQ(interleaved.Contents(), source);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, SplitChannelsPath,
                         testing::Values(KernelPath::Portable, KernelPath::Ssse3, KernelPath::Avx512Vbmi),
                         [](const testing::TestParamInfo<KernelPath>& info) -> std::string {
                             switch (info.param) {
                             case KernelPath::Portable: return "Portable";
                             case KernelPath::Ssse3: return "Ssse3";
                             case KernelPath::Avx512Vbmi: return "Avx512Vbmi";
                             }
                             return "Unknown";
                         });

}  // namespace
