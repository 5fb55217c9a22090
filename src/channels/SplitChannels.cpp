#include "channels/SplitChannels.h"

#include "channels/ChannelKernel.h"
#include "channels/ManyChannels.h"
#include "channels/ManyChannelsVbmi.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace stereotools {
namespace {

#if defined(__x86_64__)

// vpermt2b indices that pick one channel's samples out of a 128-byte window
// of frames; bytes past the window's whole samples pick byte 0.
struct VbmiSplitIndex {
    uint8_t left[64] = {};
    uint8_t right[64] = {};
};

template <unsigned W>
constexpr VbmiSplitIndex MakeVbmiSplitIndex() {
    VbmiSplitIndex index;
    for (unsigned b = 0; b < W * (64 / W); ++b) {
        index.left[b] = static_cast<uint8_t>(2 * W * (b / W) + b % W);
        index.right[b] = static_cast<uint8_t>(2 * W * (b / W) + W + b % W);
    }
    return index;
}

// A wide step splits 64 frames: 128 * W bytes of frames, W whole vectors
// per channel. Each output vector is one vpermt2b of two unaligned loads at
// `base`, so every store is a whole aligned vector when the buffers are.
template <unsigned W>
struct VbmiWideSplit {
    unsigned base[2][W] = {};
    uint8_t index[2][W][64] = {};
    bool fits = true;  // every vector's bytes lie within 128 bytes of its base
};

template <unsigned W>
constexpr VbmiWideSplit<W> MakeVbmiWideSplit() {
    VbmiWideSplit<W> split;
    for (unsigned c = 0; c < 2; ++c) {
        for (unsigned j = 0; j < W; ++j) {
            const auto source = [&](unsigned i) {
                const unsigned b = 64 * j + i;
                return 2 * W * (b / W) + W * c + b % W;
            };
            // Loads stay inside the step's frames.
            const unsigned base = std::min(source(0), 128 * W - 128);
            split.base[c][j] = base;
            for (unsigned i = 0; i < 64; ++i) {
                if (source(i) < base || source(i) - base >= 128) split.fits = false;
                split.index[c][j][i] = static_cast<uint8_t>(source(i) - base);
            }
        }
    }
    return split;
}

#endif

template <unsigned W>
struct Split {
    // Copies each sample with a fixed-size memcpy, which the compiler turns
    // into plain loads and stores of W bytes.
    static void Portable(SplitBuffers b, std::size_t frameCount) {
        for (std::size_t i = 0; i < frameCount; ++i) {
            std::memcpy(b.left + W * i, b.frames + 2 * W * i, W);
            std::memcpy(b.right + W * i, b.frames + 2 * W * i + W, W);
        }
    }

#if defined(__x86_64__)
    // Splits whole blocks with SSSE3 byte shuffles. Returns the frames done.
    __attribute__((target("ssse3"))) static std::size_t Ssse3(SplitBuffers b, std::size_t frameCount) {
        // A block is the fewest frames whose samples fill whole vectors in each channel.
        constexpr unsigned kFrames = 16 / std::gcd(16u, W);
        constexpr unsigned kChannelBytes = W * kFrames;
        constexpr unsigned kVectors = 2 * kChannelBytes / 16;
        // The block's output is its left samples, then its right samples.
        static constexpr ShufflePlan<kVectors> kPlan = MakeShufflePlan<kVectors>([](unsigned q) {
            const unsigned channel = q / kChannelBytes;
            const unsigned k = q % kChannelBytes;
            return 2 * W * (k / W) + channel * W + k % W;
        });
        std::size_t done = 0;
        for (; frameCount - done >= kFrames; done += kFrames) {
            const SplitBuffers at = b.From<W>(done);
            __m128i source[kVectors];
            for (unsigned v = 0; v < kVectors; ++v) {
                source[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at.frames + 16 * v));
            }
            for (unsigned v = 0; v < kVectors / 2; ++v) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at.left + 16 * v), ShuffleVector(kPlan, source, v));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at.right + 16 * v),
                                 ShuffleVector(kPlan, source, v + kVectors / 2));
            }
        }
        return done;
    }

    // Splits with AVX-512 VBMI two-table byte permutes. Returns the frames done.
    __attribute__((target("avx512f,avx512vbmi"))) static std::size_t Vbmi(SplitBuffers b, std::size_t frameCount) {
        // A step splits the frames whose samples fit in 64 bytes per channel
        // (21 frames of 3 bytes: 63). It reads 128 bytes and stores 64 per
        // channel, so when 64 % W != 0 it also writes a few bytes past its
        // frames, which the next step or the tail overwrites. Running only
        // while kMinFrames remain keeps every load and store inside the buffers.
        constexpr std::size_t kStep = 64 / W;
        constexpr std::size_t kMinFrames = (64 + W - 1) / W;
        static constexpr VbmiSplitIndex kIndex = MakeVbmiSplitIndex<W>();
        const __m512i leftIndex = _mm512_loadu_si512(kIndex.left);
        const __m512i rightIndex = _mm512_loadu_si512(kIndex.right);
        std::size_t done = 0;
        // Widths that do not divide 64 store across cache lines in the steps
        // below; wide steps keep the stores whole where the windows allow.
        static constexpr VbmiWideSplit<W> kWide = MakeVbmiWideSplit<W>();
        if constexpr (64 % W != 0 && kWide.fits) done = VbmiWide(b, frameCount);
        for (; frameCount - done >= kMinFrames; done += kStep) {
            const SplitBuffers at = b.From<W>(done);
            const __m512i low = _mm512_loadu_si512(at.frames);
            const __m512i high = _mm512_loadu_si512(at.frames + 64);
            _mm512_storeu_si512(at.left, _mm512_permutex2var_epi8(low, leftIndex, high));
            _mm512_storeu_si512(at.right, _mm512_permutex2var_epi8(low, rightIndex, high));
        }
        return done;
    }

    // Splits whole wide steps. Returns the frames done.
    __attribute__((target("avx512f,avx512vbmi"))) static std::size_t VbmiWide(SplitBuffers b, std::size_t frameCount) {
        static constexpr VbmiWideSplit<W> kWide = MakeVbmiWideSplit<W>();
        __m512i index[2][W];
        for (unsigned c = 0; c < 2; ++c) {
            for (unsigned j = 0; j < W; ++j) index[c][j] = _mm512_loadu_si512(kWide.index[c][j]);
        }
        std::size_t done = 0;
        for (; frameCount - done >= 64; done += 64) {
            const SplitBuffers at = b.From<W>(done);
            uint8_t* const channels[2] = {at.left, at.right};
            for (unsigned c = 0; c < 2; ++c) {
                for (unsigned j = 0; j < W; ++j) {
                    const __m512i low = _mm512_loadu_si512(at.frames + kWide.base[c][j]);
                    const __m512i high = _mm512_loadu_si512(at.frames + kWide.base[c][j] + 64);
                    _mm512_storeu_si512(channels[c] + 64 * j, _mm512_permutex2var_epi8(low, index[c][j], high));
                }
            }
        }
        return done;
    }
#endif
};

// Splits many channels: whole blocks in vector registers where this
// processor and the channel count allow, the rest a tile at a time.
template <unsigned W>
struct SplitManyFastest {
    static void Go(const uint8_t* frames, std::size_t frameCount, unsigned n, uint8_t* const* channels) {
        detail::VectorPart done;
#if defined(__x86_64__)
        if (FastestKernelPath() == KernelPath::Avx512Vbmi) {
            done = detail::WithBlockGroups<W>(n, [&]<unsigned M>() {
                return detail::SplitBlocksVbmi<W, M>(frames, frameCount, n, channels);
            });
        }
#endif
        detail::SplitManyOfWidth<W>(true, frames, frameCount, n, channels, done);
    }
};

}  // namespace

void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth, uint8_t* left,
                   uint8_t* right) {
    RunChannelKernel<Split>(FastestKernelPath(), sampleWidth, SplitBuffers{interleaved, left, right}, frameCount);
}

void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                   std::span<uint8_t* const> channels) {
    if (channels.size() == 2 && channels[0] != nullptr && channels[1] != nullptr) {
        return SplitChannels(interleaved, frameCount, sampleWidth, channels[0], channels[1]);
    }
    detail::ForWidth<SplitManyFastest>(sampleWidth, interleaved, frameCount, static_cast<unsigned>(channels.size()),
                                       channels.data());
}

namespace detail {

void SplitChannelsPortable(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                           std::span<uint8_t* const> channels) {
    ForWidth<SplitManyRun>(sampleWidth, false, interleaved, frameCount, static_cast<unsigned>(channels.size()),
                           channels.data());
}

void SplitChannelsWith(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                       uint8_t* left, uint8_t* right) {
    RunChannelKernel<Split>(UsableKernelPath(path), sampleWidth, SplitBuffers{interleaved, left, right}, frameCount);
}

}  // namespace detail

}  // namespace stereotools
