#include "channels/InterleaveChannels.h"

#include "channels/SampleShuffle.h"

#include <cstring>
#include <numeric>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace stereotools {
namespace {


// Copies each sample with a fixed-size memcpy, which the compiler turns into
// plain loads and stores of W bytes; also interleaves the frames the vector
// paths leave over.
template <unsigned W>
void InterleavePortable(const uint8_t* left, const uint8_t* right, std::size_t frameCount, uint8_t* out) {
    for (std::size_t i = 0; i < frameCount; ++i) {
        std::memcpy(out + 2 * W * i, left + W * i, W);
        std::memcpy(out + 2 * W * i + W, right + W * i, W);
    }
}

#if defined(__x86_64__)


// Interleaves whole blocks with SSSE3 byte shuffles. Returns the frames
// done; the caller interleaves the rest.
template <unsigned W>
__attribute__((target("ssse3"))) std::size_t InterleaveSsse3(const uint8_t* left, const uint8_t* right,
                                                              std::size_t frameCount, uint8_t* out) {
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
        __m128i source[kVectors];
        for (unsigned v = 0; v < kVectors / 2; ++v) {
            source[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + W * done + 16 * v));
            source[v + kVectors / 2] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + W * done + 16 * v));
        }
        uint8_t* block = out + 2 * W * done;
        for (unsigned v = 0; v < kVectors; ++v) {
            __m128i gathered = _mm_setzero_si128();
            for (unsigned t = 0; t < kPlan.terms[v]; ++t) {
                const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPlan.mask[v][t]));
                gathered = _mm_or_si128(gathered, _mm_shuffle_epi8(source[kPlan.source[v][t]], mask));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 16 * v), gathered);
        }
    }
    return done;
}

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

// Interleaves with AVX-512 VBMI two-table byte permutes. Returns the frames
// done; the caller interleaves the rest.
template <unsigned W>
__attribute__((target("avx512f,avx512vbmi"))) std::size_t InterleaveVbmi(const uint8_t* left, const uint8_t* right,
                                                                          std::size_t frameCount, uint8_t* out) {
    // A step interleaves the frames whose samples fit in 64 bytes per channel
    // (21 frames of 3 bytes: 63). It reads 64 bytes per channel and stores 128,
    // so when 64 % W != 0 it also writes a few bytes past its frames, which the
    // next step or the tail overwrites. Running only while kMinFrames remain
    // keeps every load and store inside the buffers.
    constexpr std::size_t kStep = 64 / W;
    constexpr std::size_t kMinFrames = (64 + W - 1) / W;
    static constexpr VbmiInterleaveIndex kIndex = MakeVbmiInterleaveIndex<W>();
    const __m512i lowIndex = _mm512_loadu_si512(kIndex.low);
    const __m512i highIndex = _mm512_loadu_si512(kIndex.high);
    std::size_t done = 0;
    for (; frameCount - done >= kMinFrames; done += kStep) {
        const __m512i leftSamples = _mm512_loadu_si512(left + W * done);
        const __m512i rightSamples = _mm512_loadu_si512(right + W * done);
        uint8_t* frames = out + 2 * W * done;
        _mm512_storeu_si512(frames, _mm512_permutex2var_epi8(leftSamples, lowIndex, rightSamples));
        _mm512_storeu_si512(frames + 64, _mm512_permutex2var_epi8(leftSamples, highIndex, rightSamples));
    }
    return done;
}

#endif

// Interleaves what `path` can with vectors. Returns the frames done.
template <unsigned W>
std::size_t InterleaveVector(KernelPath path, const uint8_t* left, const uint8_t* right, std::size_t frameCount,
                             uint8_t* out) {
#if defined(__x86_64__)
    if (path == KernelPath::Avx512Vbmi) return InterleaveVbmi<W>(left, right, frameCount, out);
    if (path == KernelPath::Ssse3) return InterleaveSsse3<W>(left, right, frameCount, out);
#else
    (void)path, (void)left, (void)right, (void)frameCount, (void)out;
#endif
    return 0;
}

template <unsigned W>
void InterleaveWidth(KernelPath path, const uint8_t* left, const uint8_t* right, std::size_t frameCount,
                     uint8_t* out) {
    const std::size_t done = InterleaveVector<W>(path, left, right, frameCount, out);
    InterleavePortable<W>(left + W * done, right + W * done, frameCount - done, out + 2 * W * done);
}

void InterleaveThrough(KernelPath path, const uint8_t* left, const uint8_t* right, std::size_t frameCount,
                       unsigned sampleWidth, uint8_t* out) {
    switch (sampleWidth) {
    case 1: return InterleaveWidth<1>(path, left, right, frameCount, out);
    case 2: return InterleaveWidth<2>(path, left, right, frameCount, out);
    case 3: return InterleaveWidth<3>(path, left, right, frameCount, out);
    case 4: return InterleaveWidth<4>(path, left, right, frameCount, out);
    case 5: return InterleaveWidth<5>(path, left, right, frameCount, out);
    case 6: return InterleaveWidth<6>(path, left, right, frameCount, out);
    case 7: return InterleaveWidth<7>(path, left, right, frameCount, out);
    case 8: return InterleaveWidth<8>(path, left, right, frameCount, out);
    default: return;
    }
}

}  // namespace

void InterleaveChannels(const uint8_t* left, const uint8_t* right, std::size_t frameCount, unsigned sampleWidth,
                        uint8_t* out) {
    InterleaveThrough(stereotools::FastestKernelPath(), left, right, frameCount, sampleWidth, out);
}

namespace detail {

void InterleaveChannelsWith(KernelPath path, const uint8_t* left, const uint8_t* right, std::size_t frameCount,
                            unsigned sampleWidth, uint8_t* out) {
    if (!IsKernelPathAvailable(path)) path = KernelPath::Portable;
    InterleaveThrough(path, left, right, frameCount, sampleWidth, out);
}

}  // namespace detail

}  // namespace stereotools
