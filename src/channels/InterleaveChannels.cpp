#include "channels/InterleaveChannels.h"

#include "channels/ChannelKernel.h"
#include "channels/ManyChannels.h"
#include "channels/ManyChannelsVbmi.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace stereotools {
namespace {

#if defined(__x86_64__)

// vpermt2b indices that build 128 bytes of frames from a 64-byte window of
// each channel (left bytes 0..63, right bytes 64..127 of the table); bytes
// past the frames' whole samples pick byte 0.
struct VbmiInterleaveIndex {
    uint8_t low[64] = {};
    uint8_t high[64] = {};
};

template <unsigned W>
constexpr VbmiInterleaveIndex MakeVbmiInterleaveIndex() {
    VbmiInterleaveIndex index;
    for (unsigned q = 0; q < 2 * W * (64 / W); ++q) {
        const unsigned channel = q % (2 * W) / W;
        const auto p = static_cast<uint8_t>(64 * channel + W * (q / (2 * W)) + q % W);
        if (q < 64) {
            index.low[q] = p;
        } else {
            index.high[q - 64] = p;
        }
    }
    return index;
}

// A wide step interleaves 64 frames: W whole vectors per channel into 2 * W
// vectors of frames. Each output vector is one vpermt2b of an unaligned
// 64-byte window of each channel, so every store is a whole aligned vector
// when the buffers are.
template <unsigned W>
struct VbmiWideInterleave {
    unsigned base[2][2 * W] = {};  // per channel, where output vector v's window starts
    uint8_t index[2 * W][64] = {};
    bool fits = true;  // every vector's bytes lie within 64 bytes of each base
};

template <unsigned W>
constexpr VbmiWideInterleave<W> MakeVbmiWideInterleave() {
    VbmiWideInterleave<W> wide;
    for (unsigned v = 0; v < 2 * W; ++v) {
        const auto channel = [](unsigned q) { return q % (2 * W) / W; };
        const auto source = [](unsigned q) { return W * (q / (2 * W)) + q % W; };
        for (unsigned c = 0; c < 2; ++c) {
            unsigned first = 64 * W;
            for (unsigned i = 0; i < 64; ++i) {
                if (channel(64 * v + i) == c) first = std::min(first, source(64 * v + i));
            }
            // Loads stay inside the step's samples.
            wide.base[c][v] = std::min(first, 64 * W - 64);
        }
        for (unsigned i = 0; i < 64; ++i) {
            const unsigned c = channel(64 * v + i);
            const unsigned offset = source(64 * v + i) - wide.base[c][v];
            if (source(64 * v + i) < wide.base[c][v] || offset >= 64) wide.fits = false;
            wide.index[v][i] = static_cast<uint8_t>(64 * c + offset);
        }
    }
    return wide;
}

#endif

template <unsigned W>
struct Interleave {
    // Copies each sample with a fixed-size memcpy, which the compiler turns
    // into plain loads and stores of W bytes.
    static void Portable(InterleaveBuffers b, std::size_t frameCount) {
        for (std::size_t i = 0; i < frameCount; ++i) {
            std::memcpy(b.frames + 2 * W * i, b.left + W * i, W);
            std::memcpy(b.frames + 2 * W * i + W, b.right + W * i, W);
        }
    }

#if defined(__x86_64__)
    // Interleaves whole blocks with SSSE3 byte shuffles. Returns the frames done.
    __attribute__((target("ssse3"))) static std::size_t Ssse3(InterleaveBuffers b, std::size_t frameCount) {
        // A block is the fewest frames whose samples fill whole vectors in each channel.
        constexpr unsigned kFrames = 16 / std::gcd(16u, W);
        constexpr unsigned kChannelBytes = W * kFrames;
        constexpr unsigned kVectors = 2 * kChannelBytes / 16;
        // The block's sources are its left samples, then its right samples.
        static constexpr ShufflePlan<kVectors> kPlan = MakeShufflePlan<kVectors>([](unsigned q) {
            const unsigned frame = q / (2 * W);
            const unsigned channel = q % (2 * W) / W;
            return channel * kChannelBytes + W * frame + q % W;
        });
        std::size_t done = 0;
        for (; frameCount - done >= kFrames; done += kFrames) {
            const InterleaveBuffers at = b.From<W>(done);
            __m128i source[kVectors];
            for (unsigned v = 0; v < kVectors / 2; ++v) {
                source[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at.left + 16 * v));
                source[v + kVectors / 2] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at.right + 16 * v));
            }
            for (unsigned v = 0; v < kVectors; ++v) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at.frames + 16 * v), ShuffleVector(kPlan, source, v));
            }
        }
        return done;
    }

    // Interleaves with AVX-512 VBMI two-table byte permutes. Returns the frames done.
    __attribute__((target("avx512f,avx512vbmi"))) static std::size_t Vbmi(InterleaveBuffers b, std::size_t frameCount) {
        // A step interleaves the frames whose samples fit in 64 bytes per
        // channel (21 frames of 3 bytes: 63). It reads 64 bytes per channel
        // and stores 128, so when 64 % W != 0 it also writes a few bytes past
        // its frames, which the next step or the tail overwrites. Running only
        // while kMinFrames remain keeps every load and store inside the buffers.
        constexpr std::size_t kStep = 64 / W;
        constexpr std::size_t kMinFrames = (64 + W - 1) / W;
        static constexpr VbmiInterleaveIndex kIndex = MakeVbmiInterleaveIndex<W>();
        const __m512i lowIndex = _mm512_loadu_si512(kIndex.low);
        const __m512i highIndex = _mm512_loadu_si512(kIndex.high);
        std::size_t done = 0;
        // Widths that do not divide 64 store across cache lines in the steps
        // below; wide steps keep the stores whole where the windows allow.
        static constexpr VbmiWideInterleave<W> kWide = MakeVbmiWideInterleave<W>();
        if constexpr (64 % W != 0 && kWide.fits) done = VbmiWide(b, frameCount);
        for (; frameCount - done >= kMinFrames; done += kStep) {
            const InterleaveBuffers at = b.From<W>(done);
            const __m512i leftSamples = _mm512_loadu_si512(at.left);
            const __m512i rightSamples = _mm512_loadu_si512(at.right);
            _mm512_storeu_si512(at.frames, _mm512_permutex2var_epi8(leftSamples, lowIndex, rightSamples));
            _mm512_storeu_si512(at.frames + 64, _mm512_permutex2var_epi8(leftSamples, highIndex, rightSamples));
        }
        return done;
    }

    // Interleaves whole wide steps. Returns the frames done.
    __attribute__((target("avx512f,avx512vbmi"))) static std::size_t VbmiWide(InterleaveBuffers b,
                                                                              std::size_t frameCount) {
        static constexpr VbmiWideInterleave<W> kWide = MakeVbmiWideInterleave<W>();
        __m512i index[2 * W];
        for (unsigned v = 0; v < 2 * W; ++v) index[v] = _mm512_loadu_si512(kWide.index[v]);
        std::size_t done = 0;
        for (; frameCount - done >= 64; done += 64) {
            const InterleaveBuffers at = b.From<W>(done);
            for (unsigned v = 0; v < 2 * W; ++v) {
                const __m512i left = _mm512_loadu_si512(at.left + kWide.base[0][v]);
                const __m512i right = _mm512_loadu_si512(at.right + kWide.base[1][v]);
                _mm512_storeu_si512(at.frames + 64 * v, _mm512_permutex2var_epi8(left, index[v], right));
            }
        }
        return done;
    }
#endif
};

// Interleaves many channels as SplitChannels splits them.
template <unsigned W>
struct InterleaveManyFastest {
    static void Go(const uint8_t* const* channels, std::size_t frameCount, unsigned n, uint8_t* frames) {
        detail::VectorPart done;
#if defined(__x86_64__)
        if (FastestKernelPath() == KernelPath::Avx512Vbmi) {
            done = detail::WithBlockGroups<W>(n, [&]<unsigned M>() {
                return detail::InterleaveBlocksVbmi<W, M>(channels, frameCount, n, frames);
            });
        }
#endif
        detail::InterleaveManyOfWidth<W>(true, channels, frameCount, n, frames, done);
    }
};

}  // namespace

void InterleaveChannels(const uint8_t* left, const uint8_t* right, std::size_t frameCount, unsigned sampleWidth,
                        uint8_t* out) {
    RunChannelKernel<Interleave>(FastestKernelPath(), sampleWidth, InterleaveBuffers{out, left, right}, frameCount);
}

void InterleaveChannels(std::span<const uint8_t* const> channels, std::size_t frameCount, unsigned sampleWidth,
                        uint8_t* out) {
    if (channels.size() == 2) return InterleaveChannels(channels[0], channels[1], frameCount, sampleWidth, out);
    detail::ForWidth<InterleaveManyFastest>(sampleWidth, channels.data(), frameCount,
                                            static_cast<unsigned>(channels.size()), out);
}

namespace detail {

void InterleaveChannelsPortable(std::span<const uint8_t* const> channels, std::size_t frameCount, unsigned sampleWidth,
                                uint8_t* out) {
    ForWidth<InterleaveManyRun>(sampleWidth, false, channels.data(), frameCount, static_cast<unsigned>(channels.size()),
                                out);
}

void InterleaveChannelsWith(KernelPath path, const uint8_t* left, const uint8_t* right, std::size_t frameCount,
                            unsigned sampleWidth, uint8_t* out) {
    RunChannelKernel<Interleave>(UsableKernelPath(path), sampleWidth, InterleaveBuffers{out, left, right}, frameCount);
}

}  // namespace detail

}  // namespace stereotools
