#include "channels/InterleaveChannels.h"
#include "channels/SplitChannels.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The split and the join must be exact inverses through every pair of code
// paths this processor runs, so a file split by one machine and joined on
// another comes back byte for byte.
TEST(ChannelRoundTrip, SplitThenInterleaveGivesBackTheFrames) {
    using SplitPath = stereotools::KernelPath;
    using JoinPath = stereotools::KernelPath;
    const SplitPath splitPaths[] = {SplitPath::Portable, SplitPath::Ssse3, SplitPath::Avx512Vbmi};
    const JoinPath joinPaths[] = {JoinPath::Portable, JoinPath::Ssse3, JoinPath::Avx512Vbmi};
    std::mt19937 random(42);
    for (unsigned width = 1; width <= 8; ++width) {
        for (std::size_t frameCount : {std::size_t{1}, std::size_t{97}, std::size_t{3001}}) {
            Bytes frames(2 * width * frameCount);
            for (auto& byte : frames) byte = static_cast<uint8_t>(random());
            for (std::size_t s = 0; s < std::size(splitPaths); ++s) {
                if (!stereotools::IsKernelPathAvailable(splitPaths[s])) continue;
                for (std::size_t j = 0; j < std::size(joinPaths); ++j) {
                    if (!stereotools::IsKernelPathAvailable(joinPaths[j])) continue;
                    SCOPED_TRACE("width " + std::to_string(width) + ", frames " + std::to_string(frameCount) +
                                 ", split path " + std::to_string(s) + ", join path " + std::to_string(j));
                    Bytes left(width * frameCount);
                    Bytes right(width * frameCount);
                    stereotools::detail::SplitChannelsWith(splitPaths[s], frames.data(), frameCount, width, left.data(),
                                                           right.data());
                    Bytes joined(frames.size());
                    stereotools::detail::InterleaveChannelsWith(joinPaths[j], left.data(), right.data(), frameCount,
                                                                width, joined.data());
                    EXPECT_EQ(joined, frames);
                }
            }
        }
    }
}

}  // namespace
