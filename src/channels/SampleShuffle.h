#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace stereotools {

// The code paths the channel kernels choose from at run time, slowest first.
enum class KernelPath { Portable, Ssse3, Avx512Vbmi };

// Returns true when `path` is built in and this processor can run it.
[[nodiscard]] bool IsKernelPathAvailable(KernelPath path);

// Returns the fastest path this processor can run.
[[nodiscard]] KernelPath FastestKernelPath();

#if defined(__x86_64__)

constexpr unsigned kMaxTerms = 4;

// How one block of `N` 16-byte vectors is rearranged with pshufb: output
// vector v is the OR of `terms[v]` shuffles, shuffle t taking source vector
// `source[v][t]` through `mask[v][t]` (0x80 selects a zero byte).
template <unsigned N>
struct ShufflePlan {
    unsigned terms[N] = {};
    unsigned source[N][kMaxTerms] = {};
    uint8_t mask[N][kMaxTerms][16] = {};
};

// Builds the plan in which output byte q of a block is source byte
// `sourceOf(q)`. Needing more than kMaxTerms shuffles for one vector fails
// at compile time.
template <unsigned N, typename SourceOf>
constexpr ShufflePlan<N> MakeShufflePlan(SourceOf sourceOf) {
    ShufflePlan<N> plan;
    for (unsigned v = 0; v < N; ++v) {
        for (auto& term : plan.mask[v]) {
            for (auto& byte : term) byte = 0x80;
        }
        for (unsigned b = 0; b < 16; ++b) {
            const unsigned p = sourceOf(16 * v + b);
            unsigned t = 0;
            while (t < plan.terms[v] && plan.source[v][t] != p / 16) ++t;
            if (t == plan.terms[v]) plan.source[v][plan.terms[v]++] = p / 16;
            plan.mask[v][t][b] = static_cast<uint8_t>(p % 16);
        }
    }
    return plan;
}

// Returns output vector `v` of a block whose source vectors are `source`.
template <unsigned N>
__attribute__((target("ssse3"))) inline __m128i ShuffleVector(const ShufflePlan<N>& plan, const __m128i (&source)[N],
                                                              unsigned v) {
    __m128i gathered = _mm_setzero_si128();
    for (unsigned t = 0; t < plan.terms[v]; ++t) {
        const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.mask[v][t]));
        gathered = _mm_or_si128(gathered, _mm_shuffle_epi8(source[plan.source[v][t]], mask));
    }
    return gathered;
}

#endif

}  // namespace stereotools
