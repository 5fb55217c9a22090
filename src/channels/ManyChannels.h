#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace stereotools::detail {

// Frames of many channels are moved a tile at a time, each tile's frames
// taking about this many bytes, so that the channel-by-channel passes over
// a tile read it from the L1 cache.
constexpr std::size_t kTileBytes = 16 * 1024;

// Returns the frames of one tile of `channelCount` samples of `W` bytes.
template <unsigned W>
[[nodiscard]] inline std::size_t TileFrames(std::size_t channelCount) {
    return std::max<std::size_t>(1, kTileBytes / (channelCount * W));
}

// Widths whose samples a plain W-byte copy moves in pieces: these copy 8
// bytes at a time instead, the bytes past the sample being written again
// by the samples that follow.
template <unsigned W>
constexpr bool kWideCopies = W == 3 || W == 5 || W == 6 || W == 7;

inline void CopyEight(uint8_t* to, const uint8_t* from) {
    uint64_t bytes;
    std::memcpy(&bytes, from, 8);
    std::memcpy(to, &bytes, 8);
}

// What a vector pass did: frames [0, frames) of channels [0, channels).
struct VectorPart {
    std::size_t frames = 0;
    unsigned channels = 0;
};

// Splits frames [first, end) of `n` interleaved channels of W-byte samples
// (n is kN when that is not 0, which fixes the stride at compile time) into
// `channels` from `firstChannel` on, skipping null ones. `frameCount` is the
// frames of the whole buffers, so that the 8-byte copies stay inside them.
template <unsigned W, unsigned kN>
void SplitTile(const uint8_t* frames, std::size_t first, std::size_t end, std::size_t frameCount, unsigned n,
               uint8_t* const* channels, unsigned firstChannel) {
    const std::size_t stride = std::size_t{kN != 0 ? kN : n} * W;
    // An 8-byte copy at sample i reads and writes up to 8 - W bytes past it,
    // inside both buffers while two samples follow.
    const std::size_t wideEnd = kWideCopies<W> ? std::min(end, frameCount >= 2 ? frameCount - 2 : 0) : first;
    for (unsigned c = firstChannel; c < (kN != 0 ? kN : n); ++c) {
        uint8_t* const out = channels[c];
        if (out == nullptr) continue;
        const uint8_t* const in = frames + std::size_t{c} * W;
        std::size_t i = first;
        if constexpr (kWideCopies<W>) {
            for (; i < wideEnd; ++i) CopyEight(out + W * i, in + stride * i);
        }
        for (; i < end; ++i) std::memcpy(out + W * i, in + stride * i, W);
    }
}

// Interleaves frames [first, end) of `channels` into `frames`, as SplitTile
// splits them. Channels are written in order, so an 8-byte copy may run into
// the channels after its own, which are written later, but never into the
// next frame.
template <unsigned W, unsigned kN>
void InterleaveTile(const uint8_t* const* channels, std::size_t first, std::size_t end, std::size_t frameCount,
                    unsigned n, unsigned firstChannel, uint8_t* frames) {
    const unsigned count = kN != 0 ? kN : n;
    const std::size_t stride = std::size_t{count} * W;
    const std::size_t wideEnd = kWideCopies<W> ? std::min(end, frameCount >= 2 ? frameCount - 2 : 0) : first;
    for (unsigned c = firstChannel; c < count; ++c) {
        const uint8_t* const in = channels[c];
        uint8_t* const out = frames + std::size_t{c} * W;
        std::size_t i = first;
        if constexpr (kWideCopies<W>) {
            if (std::size_t{c} * W + 8 <= stride) {
                for (; i < wideEnd; ++i) CopyEight(out + stride * i, in + W * i);
            }
        }
        for (; i < end; ++i) std::memcpy(out + stride * i, in + W * i, W);
    }
}

// Splits, a tile at a time, what the vector pass `done` left: the frames
// before done.frames of the channels from done.channels on, then every
// channel of the frames after.
template <unsigned W, unsigned kN>
void SplitMany(const uint8_t* frames, std::size_t frameCount, unsigned n, uint8_t* const* channels, VectorPart done) {
    const std::size_t tile = TileFrames<W>(kN != 0 ? kN : n);
    const auto pass = [&](std::size_t from, std::size_t to, unsigned firstChannel) {
        for (std::size_t first = from; first < to; first += tile) {
            SplitTile<W, kN>(frames, first, std::min(to, first + tile), frameCount, n, channels, firstChannel);
        }
    };
    if (done.channels < n) pass(0, done.frames, done.channels);
    pass(done.frames, frameCount, 0);
}

// Interleaves what the vector pass `done` left, as SplitMany splits it.
template <unsigned W, unsigned kN>
void InterleaveMany(const uint8_t* const* channels, std::size_t frameCount, unsigned n, uint8_t* frames,
                    VectorPart done) {
    const std::size_t tile = TileFrames<W>(kN != 0 ? kN : n);
    const auto pass = [&](std::size_t from, std::size_t to, unsigned firstChannel) {
        for (std::size_t first = from; first < to; first += tile) {
            InterleaveTile<W, kN>(channels, first, std::min(to, first + tile), frameCount, n, firstChannel, frames);
        }
    };
    if (done.channels < n) pass(0, done.frames, done.channels);
    pass(done.frames, frameCount, 0);
}

// Calls `kernel.template operator()<N>()` with N the channel count `n` fixed
// at compile time for the counts recorders write (4 to 64), when
// `fixedCounts` allows, else with N = 0: the stride taken at run time.
template <class Kernel>
void WithFixedCount(bool fixedCounts, unsigned n, Kernel kernel) {
    switch (fixedCounts ? n : 0) {
    case 4: return kernel.template operator()<4>();
    case 6: return kernel.template operator()<6>();
    case 8: return kernel.template operator()<8>();
    case 12: return kernel.template operator()<12>();
    case 16: return kernel.template operator()<16>();
    case 24: return kernel.template operator()<24>();
    case 32: return kernel.template operator()<32>();
    case 64: return kernel.template operator()<64>();
    default: return kernel.template operator()<0>();
    }
}

// Splits what the vector pass `done` left, with the stride fixed at
// compile time where WithFixedCount fixes it.
template <unsigned W>
void SplitManyOfWidth(bool fixedCounts, const uint8_t* frames, std::size_t frameCount, unsigned n,
                      uint8_t* const* channels, VectorPart done = {}) {
    WithFixedCount(fixedCounts, n, [&]<unsigned N>() { SplitMany<W, N>(frames, frameCount, n, channels, done); });
}

// Interleaves as SplitManyOfWidth splits.
template <unsigned W>
void InterleaveManyOfWidth(bool fixedCounts, const uint8_t* const* channels, std::size_t frameCount, unsigned n,
                           uint8_t* frames, VectorPart done = {}) {
    WithFixedCount(fixedCounts, n, [&]<unsigned N>() { InterleaveMany<W, N>(channels, frameCount, n, frames, done); });
}

// Runs `Run<W>` for W = `sampleWidth` (1 to 8; any other width does nothing).
template <template <unsigned> class Run, typename... Args>
void ForWidth(unsigned sampleWidth, Args... args) {
    switch (sampleWidth) {
    case 1: return Run<1>::Go(args...);
    case 2: return Run<2>::Go(args...);
    case 3: return Run<3>::Go(args...);
    case 4: return Run<4>::Go(args...);
    case 5: return Run<5>::Go(args...);
    case 6: return Run<6>::Go(args...);
    case 7: return Run<7>::Go(args...);
    case 8: return Run<8>::Go(args...);
    default: return;
    }
}

template <unsigned W>
struct SplitManyRun {
    static void Go(bool fixedCounts, const uint8_t* frames, std::size_t frameCount, unsigned n,
                   uint8_t* const* channels) {
        SplitManyOfWidth<W>(fixedCounts, frames, frameCount, n, channels);
    }
};

template <unsigned W>
struct InterleaveManyRun {
    static void Go(bool fixedCounts, const uint8_t* const* channels, std::size_t frameCount, unsigned n,
                   uint8_t* frames) {
        InterleaveManyOfWidth<W>(fixedCounts, channels, frameCount, n, frames);
    }
};

}  // namespace stereotools::detail
