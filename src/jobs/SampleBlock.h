#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace stereotools {

// Bytes of interleaved sample data a tool moves per block: large enough
// that system-call and page-cache costs per call vanish, small enough that
// a block's three buffers stay in one core's L2 cache between the read, the
// shuffle and the write.
constexpr std::size_t kSampleBlockBytes = std::size_t{1} << 20;

// Frames per block are a multiple of this, so that each channel's share of a
// block is whole 64-byte vectors for any sample width.
constexpr std::size_t kBlockFrameMultiple = 64;

// Returns the frames of `sampleWidth`-byte stereo samples in one block: as
// many whole multiples of kBlockFrameMultiple as kSampleBlockBytes holds.
[[nodiscard]] constexpr std::size_t BlockFrames(unsigned sampleWidth) {
    const std::size_t frames = kSampleBlockBytes / (2 * std::size_t{sampleWidth});
    return std::max(kBlockFrameMultiple, frames / kBlockFrameMultiple * kBlockFrameMultiple);
}

// One buffer of a block: a view of memory the block owns. Its contents are
// undefined until written.
class SampleBuffer {
public:
    SampleBuffer() = default;
    explicit SampleBuffer(uint8_t* bytes) : bytes_(bytes) {}

    [[nodiscard]] uint8_t* Data() const { return bytes_; }
    // Returns the first `count` bytes of the buffer.
    [[nodiscard]] std::span<uint8_t> First(std::size_t count) const { return {bytes_, count}; }

private:
    uint8_t* bytes_ = nullptr;
};

// The buffers a split or a join moves one block of frames through: the
// interleaved frames and each channel's samples, each page-aligned, in one
// region of memory. Regions are kept for reuse when a block is destroyed,
// so jobs run one after another (a batch) take memory already in use
// rather than asking the system again. Empty when no memory could be had.
class ChannelBlocks {
public:
    explicit ChannelBlocks(unsigned sampleWidth);
    ChannelBlocks(const ChannelBlocks&) = delete;
    ChannelBlocks& operator=(const ChannelBlocks&) = delete;
    ~ChannelBlocks();

    // Returns whether the buffers could be had.
    [[nodiscard]] bool Allocated() const { return region_ != nullptr; }

    std::size_t frames;  // frames per block
    SampleBuffer interleaved;
    SampleBuffer left;
    SampleBuffer right;

private:
    uint8_t* region_;
};

}  // namespace stereotools
