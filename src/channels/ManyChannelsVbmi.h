#pragma once

#if defined(__x86_64__)

#include "channels/ManyChannels.h"

#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

namespace stereotools::detail {

// Many channels are transposed a block at a time in AVX-512 registers. A
// block is kBlockFrames<W> frames of M channels (a power of two, at most
// kBlockFrames<W>): M vectors, each holding kBlockFrames<W> samples. As
// read, vector i holds the block's samples from frame i * K / M on, in file
// order; when done, vector c holds channel c's samples in frame order. Each
// of the log2(M) exchanges in between combines vectors in pairs with
// vpermt2b, so a block costs M * log2(M) byte permutes.
template <unsigned W>
constexpr unsigned kBlockFrames = W <= 4 ? 16 : 8;

// Every load and store is a whole vector, so when a block's samples of one
// channel (or its frames of one group) take less than 64 bytes, each one
// reaches past them; this many frames must follow a block to hold that.
template <unsigned W>
constexpr unsigned kSpareFrames = (64 - kBlockFrames<W> * W + W - 1) / W;

// Returns the frames of the whole blocks a vector pass moves out of
// `frameCount`: every block followed by kSpareFrames.
template <unsigned W>
constexpr std::size_t WholeBlockFrames(std::size_t frameCount) {
    if (frameCount < kBlockFrames<W> + kSpareFrames<W>) return 0;
    return (frameCount - kSpareFrames<W>) / kBlockFrames<W> * kBlockFrames<W>;
}

// Where one sample of a block lies after `stage` exchanges.
struct BlockPlace {
    unsigned vector;
    unsigned lane;  // the sample's bytes are lane * W to lane * W + W - 1
};

// Returns the vector that holds sample (frame, channel) after `stage`
// exchanges: exchange s puts channel bit s in place of frame bit
// (s + log2(K) - log2(M)) in the vector's number.
template <unsigned W, unsigned M>
constexpr unsigned BlockVector(unsigned stage, unsigned frame, unsigned channel) {
    const unsigned low = (1u << stage) - 1;
    return ((frame * M / kBlockFrames<W>)&~low) | (channel & low);
}

// Returns where sample (frame, channel) lies after `stage` exchanges: each
// vector keeps its samples in frame order, then channel order. A vector then
// holds K / M << stage frames of M >> stage channels.
template <unsigned W, unsigned M>
constexpr BlockPlace PlaceInBlock(unsigned stage, unsigned frame, unsigned channel) {
    const unsigned frames = (kBlockFrames<W> / M) << stage;
    return {BlockVector<W, M>(stage, frame, channel), (frame % frames) * (M >> stage) + (channel >> stage)};
}

// The vpermt2b indices of each exchange: a pair of vectors (v, v + 2^s)
// becomes index[s][0] and index[s][1] of the two. `regular` says that every
// pair of an exchange is permuted alike, as the kernels assume.
template <unsigned W, unsigned M>
struct BlockExchanges {
    static constexpr unsigned kCount = std::bit_width(M) - 1;
    uint8_t index[kCount][2][64] = {};
    bool regular = true;
};

// Builds the exchanges that take a block from as read to channel order
// (`forward`, for split) or back (for interleave).
template <unsigned W, unsigned M>
constexpr BlockExchanges<W, M> MakeBlockExchanges(bool forward) {
    BlockExchanges<W, M> plan;
    constexpr unsigned K = kBlockFrames<W>;
    for (unsigned s = 0; s < plan.kCount; ++s) {
        const unsigned from = forward ? s : s + 1;
        const unsigned to = forward ? s + 1 : s;
        const unsigned bit = 1u << s;
        for (unsigned v = 0; v < M; ++v) {
            const unsigned half = (v & bit) != 0 ? 1 : 0;
            uint8_t index[64] = {};
            for (unsigned f = 0; f < K; ++f) {
                for (unsigned c = 0; c < M; ++c) {
                    const BlockPlace there = PlaceInBlock<W, M>(to, f, c);
                    if (there.vector != v) continue;
                    const BlockPlace here = PlaceInBlock<W, M>(from, f, c);
                    const unsigned table = here.vector == (v & ~bit) ? 0 : 64;
                    for (unsigned b = 0; b < W; ++b) {
                        index[there.lane * W + b] = static_cast<uint8_t>(table + here.lane * W + b);
                    }
                }
            }
            for (unsigned i = 0; i < 64; ++i) {
                if (v == half * bit) {
                    plan.index[s][half][i] = index[i];
                } else if (plan.index[s][half][i] != index[i]) {
                    plan.regular = false;
                }
            }
        }
    }
    return plan;
}

// Loads the exchanges' indices into registers.
template <unsigned W, unsigned M>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline void LoadExchanges(
    const BlockExchanges<W, M>& plan, __m512i (&index)[BlockExchanges<W, M>::kCount][2]) {
    for (unsigned s = 0; s < plan.kCount; ++s) {
        for (unsigned h = 0; h < 2; ++h) index[s][h] = _mm512_loadu_si512(plan.index[s][h]);
    }
}

// Runs the exchanges on block `x`: forward (split) or backward (interleave).
template <unsigned M, unsigned kStages, bool kForward>
__attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline void Exchange(
    __m512i (&x)[M], const __m512i (&index)[kStages][2]) {
#pragma GCC unroll 64
    for (unsigned t = 0; t < kStages; ++t) {
        const unsigned s = kForward ? t : kStages - 1 - t;
        const unsigned bit = 1u << s;
#pragma GCC unroll 64
        for (unsigned v = 0; v < M; ++v) {
            if ((v & bit) != 0) continue;
            const __m512i low = x[v];
            x[v] = _mm512_permutex2var_epi8(low, index[s][0], x[v | bit]);
            x[v | bit] = _mm512_permutex2var_epi8(low, index[s][1], x[v | bit]);
        }
    }
}

// Splits whole blocks of `n` channels (a multiple of M) of W-byte samples,
// in every M-channel group, into `channels` (null ones are left out). The
// bytes past a block's samples are written with junk that the next block
// overwrites; kSpareFrames keeps them inside the buffers. Returns the frames
// done.
template <unsigned W, unsigned M>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t SplitBlocksVbmi(const uint8_t* frames,
                                                                                   std::size_t frameCount, unsigned n,
                                                                                   uint8_t* const* channels) {
    constexpr unsigned K = kBlockFrames<W>;
    static constexpr BlockExchanges<W, M> kPlan = MakeBlockExchanges<W, M>(true);
    static_assert(kPlan.regular);
    __m512i index[kPlan.kCount][2];
    LoadExchanges(kPlan, index);
    const std::size_t frameBytes = std::size_t{n} * W;
    const std::size_t end = WholeBlockFrames<W>(frameCount);
    // A group at a time, so that only its M outputs take stores at once.
    for (unsigned g = 0; g < n / M; ++g) {
        uint8_t* const* const group = channels + std::size_t{g} * M;
        for (std::size_t done = 0; done < end; done += K) {
            const uint8_t* const at = frames + done * frameBytes + std::size_t{g} * M * W;
            __m512i x[M];
#pragma GCC unroll 64
            for (unsigned i = 0; i < M; ++i) x[i] = _mm512_loadu_si512(at + std::size_t{i} * (K / M) * frameBytes);
            Exchange<M, kPlan.kCount, true>(x, index);
#pragma GCC unroll 64
            for (unsigned c = 0; c < M; ++c) {
                if (group[c] != nullptr) _mm512_storeu_si512(group[c] + done * W, x[c]);
            }
        }
    }
    return end;
}

// Interleaves whole blocks of `channels` as SplitBlocksVbmi splits them.
// The frames of a block are stored with byte masks, since the bytes past
// them belong to frames already written. Returns the frames done.
template <unsigned W, unsigned M>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t InterleaveBlocksVbmi(const uint8_t* const* channels,
                                                                                        std::size_t frameCount,
                                                                                        unsigned n, uint8_t* frames) {
    constexpr unsigned K = kBlockFrames<W>;
    static constexpr BlockExchanges<W, M> kPlan = MakeBlockExchanges<W, M>(false);
    static_assert(kPlan.regular);
    __m512i index[kPlan.kCount][2];
    LoadExchanges(kPlan, index);
    constexpr __mmask64 kRow = K * W == 64 ? ~__mmask64{0} : (__mmask64{1} << (K * W)) - 1;
    const std::size_t frameBytes = std::size_t{n} * W;
    const std::size_t end = WholeBlockFrames<W>(frameCount);
    for (unsigned g = 0; g < n / M; ++g) {
        const uint8_t* const* const group = channels + std::size_t{g} * M;
        for (std::size_t done = 0; done < end; done += K) {
            __m512i x[M];
#pragma GCC unroll 64
            for (unsigned c = 0; c < M; ++c) x[c] = _mm512_loadu_si512(group[c] + done * W);
            Exchange<M, kPlan.kCount, false>(x, index);
            uint8_t* const at = frames + done * frameBytes + std::size_t{g} * M * W;
#pragma GCC unroll 64
            for (unsigned i = 0; i < M; ++i) {
                _mm512_mask_storeu_epi8(at + std::size_t{i} * (K / M) * frameBytes, kRow, x[i]);
            }
        }
    }
    return end;
}

// Runs Blocks<M> with the group size M that `n` channels of W bytes allow:
// a whole block's worth of channels in each group, or all of them when
// fewer and a power of two. Other counts do nothing.
template <unsigned W, typename Blocks>
VectorPart WithBlockGroups(unsigned n, Blocks blocks) {
    constexpr unsigned K = kBlockFrames<W>;
    if (n >= K) return {blocks.template operator()<K>(), n / K * K};
    switch (n) {
    case 2: return {blocks.template operator()<2>(), n};
    case 4: return {blocks.template operator()<4>(), n};
    case 8:
        if constexpr (K > 8) return {blocks.template operator()<8>(), n};
        return {};
    default: return {};
    }
}

}  // namespace stereotools::detail

#endif
