#include "channels/InterleaveChannels.h"

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
using stereotools::InterleaveChannels;
using stereotools::IsKernelPathAvailable;
using stereotools::KernelPath;
using stereotools::detail::InterleaveChannelsWith;

// Interleaves byte by byte, the definition the kernels must match.
Bytes ReferenceInterleave(const Bytes& left, const Bytes& right, std::size_t frameCount, unsigned width) {
    Bytes out(2 * frameCount * width, 0);
    for (std::size_t i = 0; i < frameCount; ++i) {
        for (unsigned b = 0; b < width; ++b) {
            out[2 * width * i + b] = left[i * width + b];
            out[2 * width * i + width + b] = right[i * width + b];
        }
    }
    return out;
}

TEST(InterleaveChannels, InterleavesHandWrittenSamples) {
    struct Case {
        const char* name;
        unsigned width;
        Bytes left;
        Bytes right;
        Bytes out;
    };
    const Case cases[] = {
        {"8-bit", 1, {10, 11, 12}, {20, 21, 22}, {10, 20, 11, 21, 12, 22}},
        {"16-bit", 2, {1, 2, 5, 6}, {3, 4, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"24-bit", 3, {1, 2, 3, 7, 8, 9}, {4, 5, 6, 10, 11, 12}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"64-bit",
         8,
         {1, 2, 3, 4, 5, 6, 7, 8},
         {9, 10, 11, 12, 13, 14, 15, 16},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t frameCount = c.left.size() / c.width;
        Bytes out(c.out.size(), 0);
        InterleaveChannels(c.left.data(), c.right.data(), frameCount, c.width, out.data());
        EXPECT_EQ(out, c.out);
    }
}

TEST(InterleaveChannels, WritesNothingForWidthOutsideOneToEight) {
    const Bytes left = RandomBytes(32, 1);
    const Bytes right = RandomBytes(32, 2);
    for (unsigned width : {0u, 9u, 16u}) {
        SCOPED_TRACE(width);
        GuardedBuffer out(0, 0);
        InterleaveChannels(left.data(), right.data(), 2, width, out.data());
        EXPECT_TRUE(out.GuardsIntact());
    }
}

TEST(InterleaveChannels, ZeroFramesWritesNothing) {
    GuardedBuffer out(0, 0);
    InterleaveChannels(nullptr, nullptr, 0, 3, out.data());
    EXPECT_TRUE(out.GuardsIntact());
}

class InterleaveChannelsPath : public testing::TestWithParam<KernelPath> {
protected:
    void SetUp() override {
        if (!IsKernelPathAvailable(GetParam())) GTEST_SKIP() << "this processor cannot run the path";
    }
};

// Frame counts around the vector block sizes of every path, and odd ones.
constexpr std::size_t kFrameCounts[] = {0, 1, 2, 15, 16, 17, 21, 22, 31, 32, 33, 63, 64, 65, 1000, 4099};

TEST_P(InterleaveChannelsPath, MatchesReferenceForEveryWidthCountAndAlignment) {
    for (unsigned width = 1; width <= 8; ++width) {
        for (std::size_t frameCount : kFrameCounts) {
            const std::size_t channelBytes = frameCount * width;
            const auto seed = static_cast<unsigned>(width * 10007 + frameCount);
            const Bytes leftSource = RandomBytes(channelBytes, seed);
            const Bytes rightSource = RandomBytes(channelBytes, seed + 1);
            const Bytes expected = ReferenceInterleave(leftSource, rightSource, frameCount, width);
            for (std::size_t offset = 0; offset < 4; ++offset) {
                SCOPED_TRACE("width " + std::to_string(width) + ", frames " + std::to_string(frameCount) + ", offset " +
                             std::to_string(offset));
                GuardedBuffer left(channelBytes, (offset + 1) % 4);
                GuardedBuffer right(channelBytes, (offset + 2) % 4);
                std::copy(leftSource.begin(), leftSource.end(), left.data());
                std::copy(rightSource.begin(), rightSource.end(), right.data());
                GuardedBuffer out(expected.size(), offset);
                InterleaveChannelsWith(GetParam(), left.data(), right.data(), frameCount, width, out.data());
                EXPECT_EQ(out.Contents(), expected);
                EXPECT_TRUE(out.GuardsIntact());
                EXPECT_EQ(left.Contents(), leftSource);
                EXPECT_EQ(right.Contents(), rightSource);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, InterleaveChannelsPath,
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
