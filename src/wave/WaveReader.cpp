#include "WaveReader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace stereotools {

namespace {

// The smallest file that can hold a RIFF header, a 16-byte "fmt " chunk and
// a "data" chunk header.
constexpr uint64_t kMinimumWaveBytes = 44;
// 0xFFFFFFFF is the streaming writers' "size unknown".
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
constexpr uint16_t kExtensibleTag = 0xFFFE;
constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kFloatTag = 3;
constexpr uint16_t kMaxBitsPerSample = 64;
// The "fmt " body up to the end of the extensible SubFormat GUID.
constexpr size_t kExtensibleFmtBytes = 40;
constexpr size_t kBasicFmtBytes = 16;
constexpr uint16_t kExtensionBytes = 22;
// Chunk headers are read this many bytes at a time.
constexpr size_t kChunkHeadBlockBytes = 4096;
// Real files hold a few dozen chunks; a walk this long meets only a hostile
// or broken file (one of zero-size chunks has one every 8 bytes).
constexpr uint32_t kMaxChunks = 1u << 16;
// The SubFormat GUID of the extensible format, less its first two bytes,
// which hold the plain format tag.
constexpr std::array<uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t Le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

bool IsId(const uint8_t* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

// Returns true when all of `out` could be read from `offset`.
bool ReadExactly(const ByteSource& source, uint64_t offset, std::span<uint8_t> out) {
    return source.ReadAt(offset, out) == static_cast<int64_t>(out.size());
}

struct Chunk {
    bool found = false;
    uint64_t bodyOffset = 0;
    uint32_t size = 0;
};

struct Chunks {
    WaveHeaderProblem problem = WaveHeaderProblem::None;  // NotWave: too many chunks; or Stopped
    Chunk fmt;
    Chunk data;
};

// Walks the RIFF chunks from byte 12 and keeps the first "fmt " and the first
// "data". Ends early when a size runs past the end of the source or when a
// "data" chunk of unknown size leaves nothing to walk behind it. Chunk
// headers are read a block at a time, since a hostile file can hold one
// every 8 bytes.
Chunks FindChunks(const ByteSource& source, const StopCheck& stopRequested) {
    Chunks chunks;
    const uint64_t end = source.Size();
    std::array<uint8_t, kChunkHeadBlockBytes> block{};
    uint64_t blockStart = 0;
    uint64_t blockBytes = 0;
    uint64_t offset = 12;
    for (uint32_t walked = 0; !(chunks.fmt.found && chunks.data.found) && offset + 8 <= end; ++walked) {
        if (walked == kMaxChunks) {
            chunks.problem = WaveHeaderProblem::NotWave;
            break;
        }
        if (offset + 8 > blockStart + blockBytes) {
            if (stopRequested && stopRequested()) {
                chunks.problem = WaveHeaderProblem::Stopped;
                break;
            }
            const int64_t got = source.ReadAt(offset, block);
            if (got < 8) break;
            blockStart = offset;
            blockBytes = static_cast<uint64_t>(got);
        }
        const uint8_t* head = block.data() + (offset - blockStart);
        const uint32_t size = Le32(head + 4);
        const Chunk chunk{true, offset + 8, size};
        if (IsId(head, "fmt ") && !chunks.fmt.found) {
            chunks.fmt = chunk;
        } else if (IsId(head, "data") && !chunks.data.found) {
            chunks.data = chunk;
            if (size == kUnknownSize) break;
        }
        // Odd-sized bodies are followed by a pad byte.
        offset = chunk.bodyOffset + size + (size & 1u);
    }
    return chunks;
}

// Returns the plain tag 1 or 3 that an extensible "fmt " body stands for, or
// the extensible tag itself when its extension names neither.
uint16_t ResolveExtensibleTag(std::span<const uint8_t> fmt) {
    if (fmt.size() < kExtensibleFmtBytes || Le16(fmt.data() + 16) < kExtensionBytes) return kExtensibleTag;
    const uint8_t* guid = fmt.data() + 24;
    if (!std::equal(kSubFormatTail.begin(), kSubFormatTail.end(), guid + 2)) return kExtensibleTag;
    const uint16_t subFormat = Le16(guid);
    return subFormat == kPcmTag || subFormat == kFloatTag ? subFormat : kExtensibleTag;
}

HeaderResult Refuse(WaveHeaderProblem problem) { return {problem, {}}; }

}  // namespace

HeaderResult ReadWaveHeader(const ByteSource& source, int requiredChannels, const StopCheck& stopRequested) {
    std::array<uint8_t, 12> riff{};
    if (!ReadExactly(source, 0, riff) || !IsId(riff.data() + 8, "WAVE")) return Refuse(WaveHeaderProblem::NotWave);
    if (source.Size() < kMinimumWaveBytes) return Refuse(WaveHeaderProblem::NotWave);

    const Chunks chunks = FindChunks(source, stopRequested);
    if (chunks.problem != WaveHeaderProblem::None) return Refuse(chunks.problem);
    if (!chunks.fmt.found || !chunks.data.found || chunks.fmt.size < kBasicFmtBytes) {
        return Refuse(WaveHeaderProblem::NotWave);
    }
    std::array<uint8_t, kExtensibleFmtBytes> fmtBytes{};
    const size_t fmtWanted = std::min<size_t>(chunks.fmt.size, fmtBytes.size());
    const int64_t fmtGot = source.ReadAt(chunks.fmt.bodyOffset, std::span(fmtBytes).first(fmtWanted));
    // A "fmt " chunk cut short by the end of the file is as good as missing.
    if (fmtGot < static_cast<int64_t>(kBasicFmtBytes)) return Refuse(WaveHeaderProblem::NotWave);
    const std::span<const uint8_t> fmt(fmtBytes.data(), static_cast<size_t>(fmtGot));

    WaveFormatInfo info;
    info.formatTag = Le16(fmt.data());
    info.channels = fmt[2];  // the low byte alone, as the tools have always read it
    info.sampleRate = static_cast<int32_t>(Le32(fmt.data() + 4));
    info.byteRate = Le32(fmt.data() + 8);
    info.blockAlign = Le16(fmt.data() + 12);
    info.bitsPerSample = Le16(fmt.data() + 14);
    info.dataOffset = chunks.data.bodyOffset;
    info.dataSize = chunks.data.size;
    if (chunks.data.size == kUnknownSize) {
        // Size unknown: the data runs to the end of the file, as far as the field can say.
        info.dataSize = std::min<uint64_t>(source.Size() - info.dataOffset, kUnknownSize);
    }

    if (info.formatTag == kExtensibleTag) info.formatTag = ResolveExtensibleTag(fmt);
    if (info.formatTag != kPcmTag && info.formatTag != kFloatTag) return Refuse(WaveHeaderProblem::NotPcmOrFloat);
    if (info.channels != requiredChannels) return Refuse(WaveHeaderProblem::WrongChannelCount);
    if (info.bitsPerSample == 0 || info.bitsPerSample > kMaxBitsPerSample) {
        return Refuse(WaveHeaderProblem::UnsupportedBitDepth);
    }
    if (info.sampleRate <= 0) return Refuse(WaveHeaderProblem::InvalidSampleRate);
    return {WaveHeaderProblem::None, info};
}

}  // namespace stereotools
