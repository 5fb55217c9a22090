#include "SampleBlock.h"

#include <array>
#include <mutex>

#include <sys/mman.h>

namespace stereotools {
namespace {

// A region holds a block's interleaved frames, then the left channel's
// samples at half way, then the right's at three quarters.
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
    // Returns a region, or nullptr when the system has no memory for one.
    uint8_t* Take() {
        {
            std::lock_guard lock(mutex_);
            if (count_ > 0) return kept_[--count_];
        }
        void* region = ::mmap(nullptr, kRegionBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return region == MAP_FAILED ? nullptr : static_cast<uint8_t*>(region);
    }

    // Takes back `region`, from Take.
    void Give(uint8_t* region) {
        {
            std::lock_guard lock(mutex_);
            if (count_ < kKeptRegions) {
                kept_[count_++] = region;
                return;
            }
        }
        ::munmap(region, kRegionBytes);
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

ChannelBlocks::ChannelBlocks(unsigned sampleWidth) : frames(BlockFrames(sampleWidth)), region_(Pool().Take()) {
    if (region_ == nullptr) return;
    interleaved = SampleBuffer(region_);
    left = SampleBuffer(region_ + kRegionBytes / 2);
    right = SampleBuffer(region_ + 3 * kRegionBytes / 4);
}

ChannelBlocks::~ChannelBlocks() {
    if (region_ != nullptr) Pool().Give(region_);
}

}  // namespace stereotools
