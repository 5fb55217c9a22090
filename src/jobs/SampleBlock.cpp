#include "SampleBlock.h"

#include <array>
#include <mutex>

#include <sys/mman.h>

namespace stereotools {
namespace {

constexpr std::size_t kPageBytes = 4096;
constexpr std::size_t kCacheLineBytes = 64;
constexpr unsigned kPageAlignedChannels = 64;

// A stereo region holds a block's interleaved frames, then the left
// channel's samples at half way, then the right's at three quarters.
constexpr std::size_t kRegionBytes = 2 * kSampleBlockBytes;
// A block of the widest samples (8 bytes) still fits.
static_assert(BlockFrames(8) * 2 * 8 <= kSampleBlockBytes);

// Regions kept for reuse: enough for two jobs of two threads at once. More
// go back to the system when freed.
constexpr std::size_t kKeptRegions = 4;

// Regions come from the system directly: blocks this size freed to the heap
// and taken again leave it in fragments that it never gives back.
class RegionPool {
public:
    // Returns a region of `bytes`, or nullptr when the system has no memory
    // for one. Only regions of kRegionBytes are kept.
    uint8_t* Take(std::size_t bytes) {
        if (bytes == kRegionBytes) {
            std::lock_guard lock(mutex_);
            if (count_ > 0) return kept_[--count_];
        }
        void* region = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return region == MAP_FAILED ? nullptr : static_cast<uint8_t*>(region);
    }

    // Takes back `region` of `bytes`, from Take.
    void Give(uint8_t* region, std::size_t bytes) {
        if (bytes == kRegionBytes) {
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

std::size_t RoundUp(std::size_t value, std::size_t multiple) { return (value + multiple - 1) / multiple * multiple; }

}  // namespace

ChannelBlocks::ChannelBlocks(unsigned sampleWidth, unsigned channelCount)
    : frames(BlockFrames(sampleWidth, channelCount)), region_(nullptr), regionBytes_(0) {
    const std::size_t share = frames * sampleWidth;
    // Pages waste little up to the channel counts recorders write; past
    // them, cache lines keep the region within twice the block.
    const std::size_t stride = RoundUp(share, channelCount <= kPageAlignedChannels ? kPageBytes : kCacheLineBytes);
    const std::size_t interleavedBytes = BlockBytes(channelCount);
    const std::size_t bytes = RoundUp(interleavedBytes + channelCount * stride, kPageBytes);
    region_ = Pool().Take(bytes);
    if (region_ == nullptr) return;
    regionBytes_ = bytes;
    interleaved = SampleBuffer(region_);
    channels.reserve(channelCount);
    for (unsigned c = 0; c < channelCount; ++c) channels.emplace_back(region_ + interleavedBytes + c * stride);
    if (channelCount >= 1) left = channels[0];
    if (channelCount >= 2) right = channels[1];
}

ChannelBlocks::~ChannelBlocks() {
    if (region_ != nullptr) Pool().Give(region_, regionBytes_);
}

}  // namespace stereotools
