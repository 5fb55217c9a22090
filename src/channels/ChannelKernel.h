#pragma once

#include "channels/SampleShuffle.h"

#include <cstddef>
#include <cstdint>

namespace stereotools {

// The three buffers a channel kernel works on: interleaved frames and one
// run of samples per channel. Split reads `frames` and writes the channels;
// interleave does the opposite, hence the two byte types.
template <typename FrameByte, typename ChannelByte>
struct ChannelBuffers {
    FrameByte* frames;
    ChannelByte* left;
    ChannelByte* right;

    // Returns the buffers from frame `n` on, for samples of W bytes.
    template <unsigned W>
    [[nodiscard]] ChannelBuffers From(std::size_t n) const {
        return {frames + 2 * W * n, left + W * n, right + W * n};
    }
};
using SplitBuffers = ChannelBuffers<const uint8_t, uint8_t>;
using InterleaveBuffers = ChannelBuffers<uint8_t, const uint8_t>;

// Returns `path` when this processor can run it, else the portable path.
[[nodiscard]] inline KernelPath UsableKernelPath(KernelPath path) {
    return IsKernelPathAvailable(path) ? path : KernelPath::Portable;
}

// Runs `Kernel<W>` on `frameCount` frames for W = `sampleWidth` (1 to 8; any
// other width does nothing). `Kernel<W>` offers Portable(buffers, count) and,
// on x86-64, Ssse3 and Vbmi(buffers, count), which return the frames they
// did; the portable loop does the frames a vector path leaves over.
template <template <unsigned> class Kernel, typename Buffers>
void RunChannelKernel(KernelPath path, unsigned sampleWidth, Buffers buffers, std::size_t frameCount);

namespace detail {

template <template <unsigned> class Kernel, unsigned W, typename Buffers>
void RunWidth(KernelPath path, Buffers buffers, std::size_t frameCount) {
    std::size_t done = 0;
#if defined(__x86_64__)
    if (path == KernelPath::Avx512Vbmi) done = Kernel<W>::Vbmi(buffers, frameCount);
    if (path == KernelPath::Ssse3) done = Kernel<W>::Ssse3(buffers, frameCount);
#else
    (void)path;
#endif
    Kernel<W>::Portable(buffers.template From<W>(done), frameCount - done);
}

}  // namespace detail

template <template <unsigned> class Kernel, typename Buffers>
void RunChannelKernel(KernelPath path, unsigned sampleWidth, Buffers buffers, std::size_t frameCount) {
    switch (sampleWidth) {
    case 1: return detail::RunWidth<Kernel, 1>(path, buffers, frameCount);
    case 2: return detail::RunWidth<Kernel, 2>(path, buffers, frameCount);
    case 3: return detail::RunWidth<Kernel, 3>(path, buffers, frameCount);
    case 4: return detail::RunWidth<Kernel, 4>(path, buffers, frameCount);
    case 5: return detail::RunWidth<Kernel, 5>(path, buffers, frameCount);
    case 6: return detail::RunWidth<Kernel, 6>(path, buffers, frameCount);
    case 7: return detail::RunWidth<Kernel, 7>(path, buffers, frameCount);
    case 8: return detail::RunWidth<Kernel, 8>(path, buffers, frameCount);
    default: return;
    }
}

}  // namespace stereotools
