// Throughput of the channel kernels next to memcpy of the same byte count.
// Sizes are interleaved bytes: 1 MiB, the block of a streamed job, and
// 64 MiB, well past the caches. Buffers are written before timing starts,
// so every run sees warm, faulted-in memory.

#include "channels/InterleaveChannels.h"
#include "channels/SplitChannels.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int64_t kBlockBytes = int64_t{1} << 20;
constexpr int64_t kLargeBytes = int64_t{64} << 20;

// The kernel a benchmark runs: the public entry point, which picks the
// fastest path, or one path forced.
enum class Route { Fastest, Portable, Ssse3, Avx512Vbmi };

// Page-aligned, as the jobs' blocks are.
template <typename T>
struct PageAligned {
    using value_type = T;
    PageAligned() = default;
    template <typename U>
    PageAligned(const PageAligned<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{4096})); }
    void deallocate(T* p, std::size_t) { ::operator delete (p, std::align_val_t{4096}); }
    bool operator==(const PageAligned&) const { return true; }
};
using Buffer = std::vector<uint8_t, PageAligned<uint8_t>>;

Buffer WarmBuffer(std::size_t size, unsigned seed) {
    Buffer buffer(size);
    for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(i * 131 + seed);
    return buffer;
}

template <typename Path>
Path PathOf(Route route) {
    if (route == Route::Ssse3) return Path::Ssse3;
    if (route == Route::Avx512Vbmi) return Path::Avx512Vbmi;
    return Path::Portable;
}

void Memcpy(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const Buffer source = WarmBuffer(bytes, 1);
    Buffer target = WarmBuffer(bytes, 2);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void Split(benchmark::State& state, Route route) {
    const auto width = static_cast<unsigned>(state.range(0));
    const std::size_t frameCount = static_cast<std::size_t>(state.range(1)) / (2 * width);
    using stereotools::KernelPath;
    if (route != Route::Fastest && !stereotools::IsKernelPathAvailable(PathOf<KernelPath>(route))) {
        state.SkipWithError("this processor cannot run the path");
        return;
    }
    const Buffer interleaved = WarmBuffer(2 * width * frameCount, 3);
    Buffer left = WarmBuffer(width * frameCount, 4);
    Buffer right = WarmBuffer(width * frameCount, 5);
    for (auto _ : state) {
        if (route == Route::Fastest) {
            stereotools::SplitChannels(interleaved.data(), frameCount, width, left.data(), right.data());
        } else {
            stereotools::detail::SplitChannelsWith(PathOf<KernelPath>(route), interleaved.data(), frameCount, width,
                                                   left.data(), right.data());
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(interleaved.size()));
}

void Interleave(benchmark::State& state, Route route) {
    const auto width = static_cast<unsigned>(state.range(0));
    const std::size_t frameCount = static_cast<std::size_t>(state.range(1)) / (2 * width);
    using stereotools::KernelPath;
    if (route != Route::Fastest && !stereotools::IsKernelPathAvailable(PathOf<KernelPath>(route))) {
        state.SkipWithError("this processor cannot run the path");
        return;
    }
    const Buffer left = WarmBuffer(width * frameCount, 6);
    const Buffer right = WarmBuffer(width * frameCount, 7);
    Buffer out = WarmBuffer(2 * width * frameCount, 8);
    for (auto _ : state) {
        if (route == Route::Fastest) {
            stereotools::InterleaveChannels(left.data(), right.data(), frameCount, width, out.data());
        } else {
            stereotools::detail::InterleaveChannelsWith(PathOf<KernelPath>(route), left.data(), right.data(),
                                                        frameCount, width, out.data());
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}

// Channel c's buffer starts this many bytes into its page, as in a job's
// blocks (ChannelBlocks), so that the channels do not all contend for one
// cache set; each buffer has room for the most.
std::size_t ChannelSkew(std::size_t c) { return 64 * (c % 64); }
constexpr std::size_t kMostSkew = 64 * 63;

// Many channels: the route is the public entry (fixed strides for the
// counts recorders write) or the portable path (stride taken at run time).
void SplitMany(benchmark::State& state, Route route) {
    const auto width = static_cast<unsigned>(state.range(0));
    const auto count = static_cast<unsigned>(state.range(1));
    const std::size_t frameCount = kBlockBytes / (std::size_t{count} * width);
    const Buffer interleaved = WarmBuffer(std::size_t{count} * width * frameCount, 3);
    std::vector<Buffer> channels;
    std::vector<uint8_t*> pointers;
    for (unsigned c = 0; c < count; ++c) channels.push_back(WarmBuffer(width * frameCount + kMostSkew, c));
    for (Buffer& channel : channels) pointers.push_back(channel.data() + ChannelSkew(pointers.size()));
    for (auto _ : state) {
        if (route == Route::Fastest) {
            stereotools::SplitChannels(interleaved.data(), frameCount, width, pointers);
        } else {
            stereotools::detail::SplitChannelsPortable(interleaved.data(), frameCount, width, pointers);
        }
        benchmark::DoNotOptimize(pointers.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(interleaved.size()));
}

void InterleaveMany(benchmark::State& state, Route route) {
    const auto width = static_cast<unsigned>(state.range(0));
    const auto count = static_cast<unsigned>(state.range(1));
    const std::size_t frameCount = kBlockBytes / (std::size_t{count} * width);
    std::vector<Buffer> channels;
    std::vector<const uint8_t*> pointers;
    for (unsigned c = 0; c < count; ++c) channels.push_back(WarmBuffer(width * frameCount + kMostSkew, c));
    for (const Buffer& channel : channels) pointers.push_back(channel.data() + ChannelSkew(pointers.size()));
    Buffer out = WarmBuffer(std::size_t{count} * width * frameCount, 8);
    for (auto _ : state) {
        if (route == Route::Fastest) {
            stereotools::InterleaveChannels(pointers, frameCount, width, out.data());
        } else {
            stereotools::detail::InterleaveChannelsPortable(pointers, frameCount, width, out.data());
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}

const std::vector<int64_t> kWidths = {1, 2, 3, 4, 8};
const std::vector<int64_t> kManyWidths = {2, 3, 4};
const std::vector<int64_t> kManyCounts = {4, 8, 16, 24, 64, 7, 17};

BENCHMARK_CAPTURE(SplitMany, fastest, Route::Fastest)
    ->ArgNames({"width", "channels"})
    ->ArgsProduct({kManyWidths, kManyCounts});
BENCHMARK_CAPTURE(SplitMany, portable, Route::Portable)
    ->ArgNames({"width", "channels"})
    ->ArgsProduct({kManyWidths, kManyCounts});
BENCHMARK_CAPTURE(InterleaveMany, fastest, Route::Fastest)
    ->ArgNames({"width", "channels"})
    ->ArgsProduct({kManyWidths, kManyCounts});
BENCHMARK_CAPTURE(InterleaveMany, portable, Route::Portable)
    ->ArgNames({"width", "channels"})
    ->ArgsProduct({kManyWidths, kManyCounts});

BENCHMARK(Memcpy)->ArgName("bytes")->Arg(kBlockBytes)->Arg(kLargeBytes);
BENCHMARK_CAPTURE(Split, fastest, Route::Fastest)
    ->ArgNames({"width", "bytes"})
    ->ArgsProduct({kWidths, {kBlockBytes, kLargeBytes}});
BENCHMARK_CAPTURE(Interleave, fastest, Route::Fastest)
    ->ArgNames({"width", "bytes"})
    ->ArgsProduct({kWidths, {kBlockBytes, kLargeBytes}});

// The slower paths, for machines without AVX-512 VBMI; one block size is enough.
BENCHMARK_CAPTURE(Split, ssse3, Route::Ssse3)->ArgNames({"width", "bytes"})->ArgsProduct({kWidths, {kBlockBytes}});
BENCHMARK_CAPTURE(Split, portable, Route::Portable)
    ->ArgNames({"width", "bytes"})
    ->ArgsProduct({kWidths, {kBlockBytes}});
BENCHMARK_CAPTURE(Interleave, ssse3, Route::Ssse3)->ArgNames({"width", "bytes"})->ArgsProduct({kWidths, {kBlockBytes}});
BENCHMARK_CAPTURE(Interleave, portable, Route::Portable)
    ->ArgNames({"width", "bytes"})
    ->ArgsProduct({kWidths, {kBlockBytes}});

}  // namespace

BENCHMARK_MAIN();
