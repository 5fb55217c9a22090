#include "WaveReader.h"

#include "WaveMetadata.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace stereotools {

namespace {

// The smallest file that can hold a RIFF header, a 16-byte "fmt " chunk and
// a "data" chunk header.
constexpr uint64_t kMinimumWaveBytes = 44;
// 0xFFFFFFFF is the streaming writers' "size unknown"; in RF64 and BW64 it
// says the size is in "ds64".
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
// Other sizes that writers to a pipe, which cannot go back to fill in the
// real one, put in its place: 0x7FFFF000 (sox, espeak-ng), 0x7FFFFFFF and
// 0x80000000 (arecord). Taken as "size unknown" only when they run past the
// end of the file; a file that holds them is read as declared.
constexpr uint32_t kPlaceholderSizes[] = {0x7FFFF000, 0x7FFFFFFF, 0x80000000};
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
// The "ds64" body up to its three 64-bit sizes: RIFF, data, sample count.
constexpr uint32_t kDs64SizesBytes = 24;
// The largest data size taken: no file system holds a larger file, and
// sums of a few such sizes stay far from the limits of 64 bits.
constexpr uint64_t kMaxDataSize = uint64_t{1} << 60;
// The SubFormat GUID of the extensible format, less its first two bytes,
// which hold the plain format tag.
constexpr std::array<uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t Le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint64_t Le64(const uint8_t* bytes) { return Le32(bytes) | (uint64_t{Le32(bytes + 4)} << 32); }

bool IsId(const uint8_t* bytes, const char* id) { return std::memcmp(bytes, id, 4) == 0; }

// Returns true when all of `out` could be read from `offset`.
bool ReadExactly(const ByteSource& source, uint64_t offset, std::span<uint8_t> out) {
    return source.ReadAt(offset, out) == static_cast<int64_t>(out.size());
}

// Where a walk of the chunks begins, and what an RF64 or BW64 file's
// "ds64" chunk says.
struct Preamble {
    bool valid = false;  // false: an RF64 or BW64 file without a usable "ds64"
    uint64_t firstChunk = 12;
    bool hasDs64 = false;
    uint64_t ds64DataSize = 0;
};

// Returns where the chunks of `source` begin: at byte 12, or behind the
// "ds64" chunk that must come first in an RF64 or BW64 file. `riff` holds
// the file's first 12 bytes.
Preamble ReadPreamble(const ByteSource& source, std::span<const uint8_t, 12> riff) {
    if (!IsId(riff.data(), "RF64") && !IsId(riff.data(), "BW64")) return {true, 12, false, 0};
    std::array<uint8_t, 8 + kDs64SizesBytes> ds64{};
    if (!ReadExactly(source, 12, ds64) || !IsId(ds64.data(), "ds64")) return {};
    const uint32_t size = Le32(ds64.data() + 4);
    // The three 64-bit sizes are all this reader uses; the table is skipped.
    if (size < kDs64SizesBytes || 20 + uint64_t{size} > source.Size()) return {};
    const uint64_t dataSize = Le64(ds64.data() + 16);
    if (dataSize > kMaxDataSize) return {};
    return {true, 20 + uint64_t{size} + (size & 1u), true, dataSize};
}

struct Chunk {
    bool found = false;
    std::array<uint8_t, 4> id{};
    uint64_t bodyOffset = 0;
    uint64_t size = 0;         // the body's length, from "ds64" for RF64 data
    bool unknownSize = false;  // a RIFF "data" chunk of unknown size: it runs to the end
};

// Walks the chunks of `source` from `preamble.firstChunk` and hands each to
// `visit`, which returns false to end the walk. Ends too when a size runs
// past the end of the source or a "data" chunk of unknown size leaves
// nothing behind it. Chunk headers are read a block at a time, since a
// hostile file can hold one every 8 bytes. Returns NotWave after more
// chunks than any real file holds, Stopped when `stopRequested` (asked
// before each block is read) says so, or None.
template <typename Visit>
WaveHeaderProblem WalkChunks(const ByteSource& source, const Preamble& preamble, const StopCheck& stopRequested,
                             Visit&& visit) {
    const uint64_t end = source.Size();
    std::array<uint8_t, kChunkHeadBlockBytes> block{};
    uint64_t blockStart = 0;
    uint64_t blockBytes = 0;
    uint64_t offset = preamble.firstChunk;
    for (uint32_t walked = 0; offset + 8 <= end; ++walked) {
        if (walked == kMaxChunks) return WaveHeaderProblem::NotWave;
        if (offset + 8 > blockStart + blockBytes) {
            if (stopRequested && stopRequested()) return WaveHeaderProblem::Stopped;
            const int64_t got = source.ReadAt(offset, block);
            if (got < 8) break;
            blockStart = offset;
            blockBytes = static_cast<uint64_t>(got);
        }
        const uint8_t* head = block.data() + (offset - blockStart);
        Chunk chunk{true, {}, offset + 8, Le32(head + 4), false};
        std::copy(head, head + 4, chunk.id.begin());
        if (IsId(head, "data") && chunk.size == kUnknownSize) {
            // RF64 keeps the real size in "ds64"; plain RIFF has none to give.
            if (preamble.hasDs64) {
                chunk.size = preamble.ds64DataSize;
            } else {
                chunk.unknownSize = true;
            }
        } else if (IsId(head, "data") && !preamble.hasDs64 && chunk.bodyOffset + chunk.size > end &&
                   std::find(std::begin(kPlaceholderSizes), std::end(kPlaceholderSizes), chunk.size) !=
                       std::end(kPlaceholderSizes)) {
            chunk.unknownSize = true;
        }
        if (chunk.unknownSize) chunk.size = end - chunk.bodyOffset;
        if (!visit(chunk) || chunk.unknownSize) break;
        // Odd-sized bodies are followed by a pad byte.
        offset = chunk.bodyOffset + chunk.size + (chunk.size & 1u);
    }
    return WaveHeaderProblem::None;
}

struct Chunks {
    WaveHeaderProblem problem = WaveHeaderProblem::None;  // NotWave: too many chunks; or Stopped
    Chunk fmt;
    Chunk data;
};

// Returns the first "fmt " and the first "data" chunk of `source`.
Chunks FindChunks(const ByteSource& source, const Preamble& preamble, const StopCheck& stopRequested) {
    Chunks chunks;
    chunks.problem = WalkChunks(source, preamble, stopRequested, [&chunks](const Chunk& chunk) {
        if (IsId(chunk.id.data(), "fmt ") && !chunks.fmt.found) {
            chunks.fmt = chunk;
        } else if (IsId(chunk.id.data(), "data") && !chunks.data.found) {
            chunks.data = chunk;
        }
        return !(chunks.fmt.found && chunks.data.found);
    });
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
    const Preamble preamble = ReadPreamble(source, riff);
    if (!preamble.valid) return Refuse(WaveHeaderProblem::NotWave);

    const Chunks chunks = FindChunks(source, preamble, stopRequested);
    if (chunks.problem != WaveHeaderProblem::None) return Refuse(chunks.problem);
    if (!chunks.fmt.found || !chunks.data.found || chunks.fmt.size < kBasicFmtBytes) {
        return Refuse(WaveHeaderProblem::NotWave);
    }
    // No file system holds more; refusing it keeps every size sum in range.
    if (chunks.data.size > kMaxDataSize) return Refuse(WaveHeaderProblem::NotWave);
    std::array<uint8_t, kExtensibleFmtBytes> fmtBytes{};
    const size_t fmtWanted = static_cast<size_t>(std::min<uint64_t>(chunks.fmt.size, fmtBytes.size()));
    const int64_t fmtGot = source.ReadAt(chunks.fmt.bodyOffset, std::span(fmtBytes).first(fmtWanted));
    // A "fmt " chunk cut short by the end of the file is as good as missing.
    if (fmtGot < static_cast<int64_t>(kBasicFmtBytes)) return Refuse(WaveHeaderProblem::NotWave);
    const std::span<const uint8_t> fmt(fmtBytes.data(), static_cast<size_t>(fmtGot));

    WaveFormatInfo info;
    info.formatTag = Le16(fmt.data());
    const uint16_t channelField = Le16(fmt.data() + 2);
    // The mono and stereo checks read the low byte alone, as the tools always have.
    const bool lowByteOnly = requiredChannels == 1 || requiredChannels == 2;
    info.channels = lowByteOnly ? fmt[2] : channelField;
    info.sampleRate = static_cast<int32_t>(Le32(fmt.data() + 4));
    info.byteRate = Le32(fmt.data() + 8);
    info.blockAlign = Le16(fmt.data() + 12);
    info.bitsPerSample = Le16(fmt.data() + 14);
    info.dataOffset = chunks.data.bodyOffset;
    info.dataSize = chunks.data.size;

    info.validBits = info.bitsPerSample;
    if (info.formatTag == kExtensibleTag) {
        info.formatTag = ResolveExtensibleTag(fmt);
        const uint16_t validBits = fmt.size() >= kExtensibleFmtBytes ? Le16(fmt.data() + 18) : 0;
        // 0 says nothing; more than the container holds cannot be.
        if (validBits != 0 && validBits <= info.bitsPerSample) info.validBits = validBits;
    }
    if (info.formatTag != kPcmTag && info.formatTag != kFloatTag) return Refuse(WaveHeaderProblem::NotPcmOrFloat);
    const bool channelsFit = requiredChannels == kManyChannels ? info.channels >= 2 : info.channels == requiredChannels;
    if (!channelsFit) return Refuse(WaveHeaderProblem::WrongChannelCount);
    if (info.bitsPerSample == 0 || info.bitsPerSample > kMaxBitsPerSample) {
        return Refuse(WaveHeaderProblem::UnsupportedBitDepth);
    }
    if (info.sampleRate <= 0) return Refuse(WaveHeaderProblem::InvalidSampleRate);
    // Samples that run to the end of the file end with its last whole frame:
    // a writer stopped mid-frame left the rest unwritten.
    const uint64_t frameBytes = uint64_t{info.channels} * info.BytesPerSample();
    if (chunks.data.unknownSize && frameBytes > 0) info.dataSize -= info.dataSize % frameBytes;
    return {WaveHeaderProblem::None, info};
}

MetadataResult ReadWaveMetadata(const ByteSource& source, const StopCheck& stopRequested) {
    MetadataResult result;
    std::array<uint8_t, 12> riff{};
    const Preamble preamble = ReadExactly(source, 0, riff) ? ReadPreamble(source, riff) : Preamble{};
    if (!preamble.valid) {
        result.problem = WaveHeaderProblem::NotWave;
        return result;
    }
    WaveMetadata& metadata = result.metadata;
    bool fmtSeen = false;
    bool dataSeen = false;
    // A "fmt " behind the data (or none) goes right before it in an output.
    bool fmtBeforeData = false;
    // Bytes that some writers append behind the RIFF form are no chunks. Its
    // size is believed only when the samples lie within it.
    const uint64_t formEnd = IsId(riff.data(), "RIFF") ? 8 + uint64_t{Le32(riff.data() + 4)} : source.Size();
    bool formCredible = false;
    result.problem = WalkChunks(source, preamble, stopRequested, [&](const Chunk& chunk) {
        if (formCredible && chunk.bodyOffset - 8 >= formEnd) return false;
        const std::string id(chunk.id.begin(), chunk.id.end());
        if (id == "data" && !dataSeen) {
            dataSeen = true;
            formCredible = chunk.bodyOffset + chunk.size <= formEnd && formEnd <= source.Size();
        } else if (id == "fmt " && !fmtSeen) {
            fmtSeen = true;
            fmtBeforeData = !dataSeen;
            if (fmtBeforeData) metadata.beforeFmt = metadata.beforeData.size();
        } else if (chunk.bodyOffset + chunk.size > source.Size()) {
            metadata.cutShort = id;
            return false;
        } else if (ChunkRuleFor(id, chunk.size) != ChunkRule::Never) {
            const WaveChunk carried{id, chunk.bodyOffset, static_cast<uint32_t>(chunk.size)};
            (dataSeen ? metadata.afterData : metadata.beforeData).push_back(carried);
        }
        return true;
    });
    if (!fmtBeforeData) metadata.beforeFmt = metadata.beforeData.size();
    if (result.problem != WaveHeaderProblem::None) result.metadata = {};
    return result;
}

IoError ReadSampleRange(const InputFile& source, uint64_t dataOffset, uint64_t dataSize, uint64_t position,
                        std::span<uint8_t> out) {
    const uint64_t inChunk = position < dataSize ? std::min<uint64_t>(out.size(), dataSize - position) : 0;
    int64_t got = 0;
    if (inChunk > 0) {
        got = source.ReadAt(dataOffset + position, out.first(static_cast<size_t>(inChunk)));
        if (got < 0) {
            const int readError = errno;
            std::fill(out.begin(), out.end(), uint8_t{0});
            return {IoError::Operation::Read, source.Path(), readError, {}};
        }
    }
    // What the chunk declares but the file lacks, and all past the chunk, is silence.
    std::fill(out.begin() + got, out.end(), uint8_t{0});
    return {};
}

}  // namespace stereotools
