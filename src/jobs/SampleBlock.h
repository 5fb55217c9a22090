#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

namespace stereotools {

// Bytes of interleaved sample data a tool moves per block: large enough
// that system-call cost vanishes, small enough to stay in the caches.
constexpr std::size_t kSampleBlockBytes = std::size_t{4} << 20;

// A reusable buffer for one block of samples. Its contents are undefined
// until written. Empty when the memory could not be had.
class SampleBlock {
public:
    explicit SampleBlock(std::size_t bytes) : bytes_(new (std::nothrow) uint8_t[bytes]) {}

    [[nodiscard]] bool Allocated() const { return bytes_ != nullptr; }
    [[nodiscard]] uint8_t* Data() { return bytes_.get(); }
    [[nodiscard]] const uint8_t* Data() const { return bytes_.get(); }
    // Returns the first `count` bytes of the block.
    [[nodiscard]] std::span<uint8_t> First(std::size_t count) { return {bytes_.get(), count}; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
};

// The buffers a split or a join moves one block of frames through: the
// interleaved frames and each channel's samples.
struct ChannelBlocks {
    explicit ChannelBlocks(unsigned sampleWidth)
        : frames(std::max<std::size_t>(1, kSampleBlockBytes / (2 * sampleWidth))),
          interleaved(frames * 2 * sampleWidth),
          left(frames * sampleWidth),
          right(frames * sampleWidth) {}

    // Returns whether all three buffers could be had.
    [[nodiscard]] bool Allocated() const { return interleaved.Allocated() && left.Allocated() && right.Allocated(); }

    std::size_t frames;  // frames per block
    SampleBlock interleaved;
    SampleBlock left;
    SampleBlock right;
};

}  // namespace stereotools
