#include "channels/InterleaveChannels.h"
#include "channels/SplitChannels.h"

#include "support/KernelBuffers.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using kerneltest::Bytes;
using kerneltest::GuardedBuffer;
using kerneltest::RandomBytes;

// Returns sample `channel` of every frame of `count` channels of `width` bytes.
Bytes ReferenceChannel(const Bytes& frames, unsigned count, unsigned width, unsigned channel) {
    Bytes out;
    for (std::size_t at = std::size_t{channel} * width; at < frames.size(); at += std::size_t{count} * width) {
        out.insert(out.end(), frames.begin() + static_cast<std::ptrdiff_t>(at),
                   frames.begin() + static_cast<std::ptrdiff_t>(at + width));
    }
    return out;
}

// The counts recorders write and the odd ones between them; the frame
// counts end inside the first, the second and a later tile of frames, and
// one short of and at the fewest frames in which a vector path may move a
// block of 16 frames of 24-bit and of 8-bit samples with stores of whole
// vectors, which reach past the block.
constexpr unsigned kChannelCounts[] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 16, 17, 24, 31, 32, 33, 63, 64};
constexpr std::size_t kFrameCounts[] = {1, 2, 3, 21, 22, 63, 64, 97, 1500};

enum class Path { Dispatched, Portable };

// Both directions for every width, count and frame count, through the
// dispatch (fixed strides, stereo paths) and the portable path: each sample
// lands where the scalar reference puts it, nothing is written outside the
// buffers, and unaligned buffers work.
TEST(ManyChannels, SplitAndInterleaveMatchTheScalarReference) {
    for (const Path path : {Path::Dispatched, Path::Portable}) {
        for (unsigned width = 1; width <= 8; ++width) {
            for (const unsigned count : kChannelCounts) {
                for (const std::size_t frameCount : kFrameCounts) {
                    SCOPED_TRACE((path == Path::Portable ? "portable, width " : "dispatched, width ") +
                                 std::to_string(width) + ", channels " + std::to_string(count) + ", frames " +
                                 std::to_string(frameCount));
                    const Bytes frames = RandomBytes(std::size_t{count} * width * frameCount, width * 100 + count);
                    std::vector<std::unique_ptr<GuardedBuffer>> channels;
                    std::vector<uint8_t*> split;
                    for (unsigned c = 0; c < count; ++c) {
                        channels.push_back(std::make_unique<GuardedBuffer>(width * frameCount, c % 7));
                        split.push_back(channels.back()->data());
                    }
                    if (path == Path::Portable) {
                        stereotools::detail::SplitChannelsPortable(frames.data(), frameCount, width, split);
                    } else {
                        stereotools::SplitChannels(frames.data(), frameCount, width, split);
                    }
                    std::vector<const uint8_t*> sources;
                    for (unsigned c = 0; c < count; ++c) {
                        ASSERT_EQ(channels[c]->Contents(), ReferenceChannel(frames, count, width, c)) << c;
                        ASSERT_TRUE(channels[c]->GuardsIntact()) << c;
                        sources.push_back(channels[c]->data());
                    }
                    GuardedBuffer joined(frames.size(), 3);
                    if (path == Path::Portable) {
                        stereotools::detail::InterleaveChannelsPortable(sources, frameCount, width, joined.data());
                    } else {
                        stereotools::InterleaveChannels(sources, frameCount, width, joined.data());
                    }
                    ASSERT_EQ(joined.Contents(), frames);
                    ASSERT_TRUE(joined.GuardsIntact());
                }
            }
        }
    }
}

// Channels left out (null) are not written, whatever their count; the
// others get their samples, also for the stereo pair and the most channels
// a file can hold.
TEST(ManyChannels, SplitsOnlyTheSelectedChannels) {
    struct Case {
        unsigned count;
        std::vector<unsigned> selected;
        std::size_t frames;
    };
    const Case cases[] = {
        {2, {1}, 100}, {2, {0}, 100}, {6, {0, 2, 5}, 700}, {64, {63}, 300}, {65535, {0, 40000, 65534}, 3}};
    for (const Case& c : cases) {
        for (unsigned width = 1; width <= 8; ++width) {
            SCOPED_TRACE(std::to_string(c.count) + " channels, width " + std::to_string(width));
            const Bytes frames = RandomBytes(std::size_t{c.count} * width * c.frames, c.count + width);
            std::vector<std::unique_ptr<GuardedBuffer>> outputs;
            std::vector<uint8_t*> split(c.count, nullptr);
            for (const unsigned channel : c.selected) {
                outputs.push_back(std::make_unique<GuardedBuffer>(width * c.frames, 1));
                split[channel] = outputs.back()->data();
            }
            stereotools::SplitChannels(frames.data(), c.frames, width, split);
            for (std::size_t i = 0; i < c.selected.size(); ++i) {
                EXPECT_EQ(outputs[i]->Contents(), ReferenceChannel(frames, c.count, width, c.selected[i]));
                EXPECT_TRUE(outputs[i]->GuardsIntact());
            }
        }
    }
}

}  // namespace
