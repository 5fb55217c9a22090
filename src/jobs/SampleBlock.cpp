#include "SampleBlock.h"

#include <array>
#include <mutex>

#include <sys/mman.h>

namespace stereotools {
namespace {

constexpr std::size_t kPageBytes = 4096;
constexpr std::size_t kCacheLineBytes = 64;

constexpr std::size_t RoundUp(std::size_t value, std::size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

// Returns the bytes of the interleaved buffer of a block.
constexpr std::size_t InterleavedBytes(unsigned sampleWidth, unsigned channelCount, bool split) {
    // A split reads its block a piece at a time, never more than BlockFrames.
    const std::size_t frames =
        split ? SplitPieceFrames(sampleWidth, channelCount) : BlockFrames(sampleWidth, channelCount, split);
    return RoundUp(frames * channelCount * sampleWidth, kPageBytes);
}

// Returns the bytes from one channel's buffer in a block to the next.
constexpr std::size_t ChannelStride(unsigned sampleWidth, unsigned channelCount, bool split) {
    const std::size_t share = BlockFrames(sampleWidth, channelCount, split) * sampleWidth;
    // Pages waste little up to the channel counts recorders write; past
    // them, cache lines keep the region within twice the block.
    if (channelCount > kPageAlignedChannels) return RoundUp(share, kCacheLineBytes);
    // Past two channels, each buffer starts a cache line further into its
    // page than the last: the kernels store to all of them at one offset in
    // turn, and buffers that all began on a page would contend for one set
    // of the cache (a 16-channel split ran at half speed).
    return RoundUp(share, kPageBytes) + (channelCount > 2 ? kCacheLineBytes : 0);
}

// Returns the bytes of a region for a block: the interleaved frames, then
// each channel's samples, each after its lead.
constexpr std::size_t RegionBytes(unsigned sampleWidth, unsigned channelCount, bool split) {
    const std::size_t lead = BufferLead(channelCount);
    const std::size_t stride = ChannelStride(sampleWidth, channelCount, split);
    return RoundUp(lead + InterleavedBytes(sampleWidth, channelCount, split) + channelCount * (lead + stride),
                   kPageBytes);
}

// A stereo region of any sample width: the widths' shares differ by less
// than a page.
constexpr std::size_t kStereoRegionBytes = 2 * kSampleBlockBytes + 3 * BufferLead(2);
static_assert(RegionBytes(1, 2, false) <= kStereoRegionBytes && RegionBytes(3, 2, true) <= kStereoRegionBytes &&
              RegionBytes(8, 2, true) <= kStereoRegionBytes);

// Regions kept for reuse: enough for two jobs of two threads at once. More
// go back to the system when freed.
constexpr std::size_t kKeptRegions = 4;

// Regions come from the system directly: blocks this size freed to the heap
// and taken again leave it in fragments that it never gives back.
class RegionPool {
public:
    // Returns a region of `bytes`, or nullptr when the system has no memory
    // for one. Only regions of kStereoRegionBytes are kept.
    uint8_t* Take(std::size_t bytes) {
        if (bytes == kStereoRegionBytes) {
            std::lock_guard lock(mutex_);
            if (count_ > 0) return kept_[--count_];
        }
        void* region = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return region == MAP_FAILED ? nullptr : static_cast<uint8_t*>(region);
    }

    // Takes back `region` of `bytes`, from Take.
    void Give(uint8_t* region, std::size_t bytes) {
        if (bytes == kStereoRegionBytes) {
            std::lock_guard lock(mutex_);
            if (count_ < kKeptRegions) {
                kept_[count_++] = region;
                return;
            }
        }
        ::munmap(region, bytes);
    }

private:
    std::mutex mutex_;
    std::array<uint8_t*, kKeptRegions> kept_{};
    std::size_t count_ = 0;
};

RegionPool& Pool() {
    static RegionPool pool;
    return pool;
}

}  // namespace

ChannelBlocks::ChannelBlocks(unsigned sampleWidth, unsigned channelCount, bool split)
    : frames(BlockFrames(sampleWidth, channelCount, split)), region_(nullptr), regionBytes_(0) {
    const std::size_t lead = BufferLead(channelCount);
    std::size_t bytes = RegionBytes(sampleWidth, channelCount, split);
    // Stereo regions all take one size, so that any can be kept and reused.
    if (channelCount == 2) bytes = kStereoRegionBytes;
    region_ = Pool().Take(bytes);
    if (region_ == nullptr) return;
    regionBytes_ = bytes;
    uint8_t* at = region_ + lead;
    interleaved = SampleBuffer(at);
    at += InterleavedBytes(sampleWidth, channelCount, split);
    const std::size_t stride = ChannelStride(sampleWidth, channelCount, split);
    channels.reserve(channelCount);
    for (unsigned c = 0; c < channelCount; ++c) {
        at += lead;
        channels.emplace_back(at);
        at += stride;
    }
    if (channelCount >= 1) left = channels[0];
    if (channelCount >= 2) right = channels[1];
}

ChannelBlocks::~ChannelBlocks() {
    if (region_ != nullptr) Pool().Give(region_, regionBytes_);
}

}  // namespace stereotools
