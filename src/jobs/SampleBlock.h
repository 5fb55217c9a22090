#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

namespace stereotools {

// Bytes of interleaved sample data a tool moves per block: large enough
// that system-call cost vanishes, small enough that a block's three buffers
// stay in a core's L2 cache between the read, the shuffle and the write.
constexpr std::size_t kSampleBlockBytes = std::size_t{1} << 20;

// Frames per block are a multiple of this, so that each channel's share of a
// block is whole 64-byte vectors for any sample width.
constexpr std::size_t kBlockFrameMultiple = 64;

// The alignment of a block's buffers: whole pages, so that the kernel's
// copies and the vector kernels never split a cache line at the start.
constexpr std::size_t kSampleBlockAlignment = 4096;

// A reusable buffer for one block of samples. Its contents are undefined
// until written. Empty when the memory could not be had.
class SampleBlock {
public:
    explicit SampleBlock(std::size_t bytes)
        : bytes_(new (std::align_val_t{kSampleBlockAlignment}, std::nothrow) uint8_t[bytes]) {}

    [[nodiscard]] bool Allocated() const { return bytes_ != nullptr; }
    [[nodiscard]] uint8_t* Data() { return bytes_.get(); }
    [[nodiscard]] const uint8_t* Data() const { return bytes_.get(); }
    // Returns the first `count` bytes of the block.
    [[nodiscard]] std::span<uint8_t> First(std::size_t count) { return {bytes_.get(), count}; }
    [[nodiscard]] std::span<const uint8_t> First(std::size_t count) const { return {bytes_.get(), count}; }

private:
    // Memory from an aligned new goes back through the aligned delete.
    struct AlignedDelete {
        void operator()(uint8_t* bytes) const { ::operator delete[](bytes, std::align_val_t{kSampleBlockAlignment}); }
    };
    std::unique_ptr<uint8_t[], AlignedDelete> bytes_;
};

// Returns the frames of `sampleWidth`-byte stereo samples in one block: as
// many whole multiples of kBlockFrameMultiple as kSampleBlockBytes holds.
[[nodiscard]] constexpr std::size_t BlockFrames(unsigned sampleWidth) {
    const std::size_t frames = kSampleBlockBytes / (2 * std::size_t{sampleWidth});
    return std::max(kBlockFrameMultiple, frames / kBlockFrameMultiple * kBlockFrameMultiple);
}

// The buffers a split or a join moves one block of frames through: the
// interleaved frames and each channel's samples.
struct ChannelBlocks {
    explicit ChannelBlocks(unsigned sampleWidth)
        : frames(BlockFrames(sampleWidth)),
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
