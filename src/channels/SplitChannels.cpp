#include "channels/SplitChannels.h"

#include "channels/SampleShuffle.h"

#include <cstring>
#include <numeric>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace stereotools {
namespace {


// Copies each sample with a fixed-size memcpy, which the compiler turns into
// plain loads and stores of W bytes; also splits the frames the vector paths
// leave over.
template <unsigned W>
void SplitPortable(const uint8_t* interleaved, std::size_t frameCount, uint8_t* left, uint8_t* right) {
    for (std::size_t i = 0; i < frameCount; ++i) {
        std::memcpy(left + W * i, interleaved + 2 * W * i, W);
        std::memcpy(right + W * i, interleaved + 2 * W * i + W, W);
    }
}

#if defined(__x86_64__)


// Splits whole blocks with SSSE3 byte shuffles. Returns the frames done; the
// caller splits the rest.
template <unsigned W>
__attribute__((target("ssse3"))) std::size_t SplitSsse3(const uint8_t* interleaved, std::size_t frameCount,
                                                         uint8_t* left, uint8_t* right) {
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
        const uint8_t* block = interleaved + 2 * W * done;
        __m128i source[kVectors];
        for (unsigned v = 0; v < kVectors; ++v) {
            source[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * v));
        }
        for (unsigned v = 0; v < kVectors; ++v) {
            __m128i gathered = _mm_setzero_si128();
            for (unsigned t = 0; t < kPlan.terms[v]; ++t) {
                const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPlan.mask[v][t]));
                gathered = _mm_or_si128(gathered, _mm_shuffle_epi8(source[kPlan.source[v][t]], mask));
            }
            uint8_t* dest = v < kVectors / 2 ? left + W * done + 16 * v : right + W * done + 16 * (v - kVectors / 2);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), gathered);
        }
    }
    return done;
}

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

// Splits with AVX-512 VBMI two-table byte permutes. Returns the frames done;
// the caller splits the rest.
template <unsigned W>
__attribute__((target("avx512f,avx512vbmi"))) std::size_t SplitVbmi(const uint8_t* interleaved,
                                                                     std::size_t frameCount, uint8_t* left,
                                                                     uint8_t* right) {
    // A step splits the frames whose samples fit in 64 bytes per channel
    // (21 frames of 3 bytes: 63). It reads 128 bytes and stores 64 per channel,
    // so when 64 % W != 0 it also writes a few bytes past its frames, which the
    // next step or the tail overwrites. Running only while kMinFrames remain
    // keeps every load and store inside the buffers.
    constexpr std::size_t kStep = 64 / W;
    constexpr std::size_t kMinFrames = (64 + W - 1) / W;
    static constexpr VbmiSplitIndex kIndex = MakeVbmiSplitIndex<W>();
    const __m512i leftIndex = _mm512_loadu_si512(kIndex.left);
    const __m512i rightIndex = _mm512_loadu_si512(kIndex.right);
    std::size_t done = 0;
    for (; frameCount - done >= kMinFrames; done += kStep) {
        const uint8_t* window = interleaved + 2 * W * done;
        const __m512i low = _mm512_loadu_si512(window);
        const __m512i high = _mm512_loadu_si512(window + 64);
        _mm512_storeu_si512(left + W * done, _mm512_permutex2var_epi8(low, leftIndex, high));
        _mm512_storeu_si512(right + W * done, _mm512_permutex2var_epi8(low, rightIndex, high));
    }
    return done;
}

#endif

// Splits what `path` can with vectors. Returns the frames done.
template <unsigned W>
std::size_t SplitVector(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, uint8_t* left,
                        uint8_t* right) {
#if defined(__x86_64__)
    if (path == KernelPath::Avx512Vbmi) return SplitVbmi<W>(interleaved, frameCount, left, right);
    if (path == KernelPath::Ssse3) return SplitSsse3<W>(interleaved, frameCount, left, right);
#else
    (void)path, (void)interleaved, (void)frameCount, (void)left, (void)right;
#endif
    return 0;
}

template <unsigned W>
void SplitWidth(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, uint8_t* left,
                uint8_t* right) {
    const std::size_t done = SplitVector<W>(path, interleaved, frameCount, left, right);
    SplitPortable<W>(interleaved + 2 * W * done, frameCount - done, left + W * done, right + W * done);
}

void SplitThrough(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                  uint8_t* left, uint8_t* right) {
    switch (sampleWidth) {
    case 1: return SplitWidth<1>(path, interleaved, frameCount, left, right);
    case 2: return SplitWidth<2>(path, interleaved, frameCount, left, right);
    case 3: return SplitWidth<3>(path, interleaved, frameCount, left, right);
    case 4: return SplitWidth<4>(path, interleaved, frameCount, left, right);
    case 5: return SplitWidth<5>(path, interleaved, frameCount, left, right);
    case 6: return SplitWidth<6>(path, interleaved, frameCount, left, right);
    case 7: return SplitWidth<7>(path, interleaved, frameCount, left, right);
    case 8: return SplitWidth<8>(path, interleaved, frameCount, left, right);
    default: return;
    }
}

}  // namespace

void SplitChannels(const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth, uint8_t* left,
                   uint8_t* right) {
    SplitThrough(stereotools::FastestKernelPath(), interleaved, frameCount, sampleWidth, left, right);
}

namespace detail {

void SplitChannelsWith(KernelPath path, const uint8_t* interleaved, std::size_t frameCount, unsigned sampleWidth,
                       uint8_t* left, uint8_t* right) {
    if (!IsKernelPathAvailable(path)) path = KernelPath::Portable;
    SplitThrough(path, interleaved, frameCount, sampleWidth, left, right);
}

}  // namespace detail

}  // namespace stereotools
