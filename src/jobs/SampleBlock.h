#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stereotools {

// Bytes of interleaved sample data a tool moves per block: large enough
// that system-call and page-cache costs per call vanish, small enough that
// a block's three buffers stay in one core's L2 cache between the read, the
// shuffle and the write.
constexpr std::size_t kSampleBlockBytes = std::size_t{1} << 20;

// Frames per block are a multiple of this, so that each channel's share of a
// block is whole 64-byte vectors for any sample width.
constexpr std::size_t kBlockFrameMultiple = 64;

// Returns the bytes of interleaved frames a block of `channels` channels
// moves: kSampleBlockBytes up to 16 channels, then as much again per 16 more
// up to four times as much, so that each input of a many-channel join still
// gives 64 KiB or more per read while two threads' blocks stay within
// 16 MiB. For a split (`split`) as much again per 4 channels past 4, up to
// eight times as much: its outputs then take 96 KiB or more per write (a
// 16-channel split on one core took 0.36 s for 1 GiB against 0.48 s with
// 1 MiB blocks, a 64-channel one on two cores 0.22 s against 0.24 s with
// 4 MiB ones; a join gained nothing and some of its runs waited up to
// 0.7 s). A split reads its block a piece at a time (SplitPieceFrames).
[[nodiscard]] constexpr std::size_t BlockBytes(unsigned channels, bool split = false) {
    const std::size_t per = split ? 4 : 16;
    return kSampleBlockBytes * std::clamp<std::size_t>((std::size_t{channels} + per - 1) / per, 1, split ? 8 : 4);
}

// Returns the frames of `channels` samples of `sampleWidth` bytes in one
// block: the largest power of two (at least kBlockFrameMultiple) that
// BlockBytes holds, or as many frames as it holds when that is fewer
// (thousands of channels). A power of two makes every output's share of a
// block a multiple of a large power of two, so that its writes can begin
// and end on boundaries of one (PageAlignedWrites).
[[nodiscard]] constexpr std::size_t BlockFrames(unsigned sampleWidth, unsigned channels = 2, bool split = false) {
    const std::size_t frames = BlockBytes(channels, split) / (std::size_t{channels} * sampleWidth);
    if (frames < kBlockFrameMultiple) return std::max<std::size_t>(1, frames);
    return std::bit_floor(frames);
}

// Returns the frames of `channels` samples of `sampleWidth` bytes a split
// reads and splits at a time: kSampleBlockBytes or less, a power of two
// where one fits, so that the frames stay in the cache from their read to
// their split while each output's share of the whole block goes in one
// write. A split's interleaved buffer holds this many.
[[nodiscard]] constexpr std::size_t SplitPieceFrames(unsigned sampleWidth, unsigned channels) {
    return std::max<std::size_t>(1, std::bit_floor(kSampleBlockBytes / (std::size_t{channels} * sampleWidth)));
}

// Up to this many channels a block's buffers are page-aligned, each with a
// lead (past two channels, each channel's a cache line further into its
// page than the last's); past it, cache-line aligned without one.
constexpr unsigned kPageAlignedChannels = 64;

// Returns the bytes before each buffer of a block of `channels` channels
// that the block leaves to its user: room for the bytes a run of aligned
// writes holds back (PageAlignedWrites), the part of a header past a
// boundary, 44 bytes for most files and a few KiB with metadata. Past 64
// channels a share is too small for its writes to gain from it.
[[nodiscard]] constexpr std::size_t BufferLead(unsigned channels) {
    if (channels > kPageAlignedChannels) return 0;
    return channels <= 16 ? 16384 : 4096;
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
// interleaved frames and each channel's samples, in one region of memory,
// each after its BufferLead, aligned as kPageAlignedChannels says. Stereo
// regions are kept for reuse when a block is destroyed, so jobs run one
// after another (a batch) take memory already in use rather than asking the
// system again. Empty when no memory could be had.
class ChannelBlocks {
public:
    // `split`: sized for a split, as BlockBytes says.
    explicit ChannelBlocks(unsigned sampleWidth, unsigned channelCount = 2, bool split = false);
    ChannelBlocks(const ChannelBlocks&) = delete;
    ChannelBlocks& operator=(const ChannelBlocks&) = delete;
    ~ChannelBlocks();

    // Returns whether the buffers could be had.
    [[nodiscard]] bool Allocated() const { return region_ != nullptr; }

    std::size_t frames;  // frames per block
    SampleBuffer interleaved;
    std::vector<SampleBuffer> channels;  // one per channel, in order
    SampleBuffer left;                   // channels[0]
    SampleBuffer right;                  // channels[1]

private:
    uint8_t* region_;
    std::size_t regionBytes_;
};

}  // namespace stereotools
