#include "WaveWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace stereotools {

namespace {

constexpr uint32_t kFmtChunkBytes = 16;
// The extensible "fmt ": the 16 bytes, the extension's size (22), valid
// bits, channel mask and the SubFormat GUID.
constexpr uint32_t kExtensibleFmtChunkBytes = 40;
constexpr uint16_t kExtensibleTag = 0xFFFE;
constexpr uint16_t kExtensionBytes = 22;
// The SubFormat GUID less its first two bytes, which hold the plain format tag.
constexpr std::array<uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The RIFF form's head: id, size and "WAVE".
constexpr uint64_t kFormHeadBytes = 12;
constexpr uint64_t kChunkHeadBytes = 8;
// The "ds64" chunk: head, RIFF size, data size, frame count and an empty table.
constexpr uint32_t kDs64BodyBytes = 28;
constexpr uint64_t kDs64ChunkBytes = 8 + kDs64BodyBytes;
constexpr uint64_t kMaxRiffSize = 0xFFFFFFFF;
// RF64 puts this in a size field whose real value stands in "ds64".
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;
// Carried chunks are copied through a buffer of at most this many bytes.
constexpr size_t kCopyBlockBytes = size_t{1} << 20;

// Returns the bytes the "fmt " chunk of `info` takes in a file.
uint64_t FmtChunkFileBytes(const WaveFormatInfo& info) {
    return kChunkHeadBytes + (info.extensible ? kExtensibleFmtChunkBytes : kFmtChunkBytes);
}

void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutLe64(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutId(uint8_t* out, const char* id) { std::memcpy(out, id, 4); }

uint64_t ChunkBytes(const std::vector<WaveChunk>& chunks) {
    uint64_t total = 0;
    for (const auto& chunk : chunks) total += chunk.FileBytes();
    return total;
}

// Returns the form's head for `layout`: "RIFF" or "RF64", its size and
// "WAVE", and for RF64 the "ds64" chunk.
std::vector<uint8_t> EncodeFormHead(const WaveFormatInfo& info, const WaveLayout& layout) {
    const bool rf64 = layout.container == WaveContainer::Rf64;
    std::vector<uint8_t> head(kFormHeadBytes + (rf64 ? kDs64ChunkBytes : 0));
    PutId(&head[0], rf64 ? "RF64" : "RIFF");
    PutLe32(&head[4], rf64 ? kSizeInDs64 : static_cast<uint32_t>(layout.riffSize));
    PutId(&head[8], "WAVE");
    if (rf64) {
        const uint64_t frameBytes = uint64_t{info.channels} * info.BytesPerSample();
        PutId(&head[12], "ds64");
        PutLe32(&head[16], kDs64BodyBytes);
        PutLe64(&head[20], layout.riffSize);
        PutLe64(&head[28], info.dataSize);
        PutLe64(&head[36], frameBytes == 0 ? 0 : info.dataSize / frameBytes);
        PutLe32(&head[44], 0);
    }
    return head;
}

std::vector<uint8_t> EncodeFmtChunk(const WaveFormatInfo& info) {
    std::vector<uint8_t> fmt(FmtChunkFileBytes(info));
    PutId(&fmt[0], "fmt ");
    PutLe32(&fmt[4], static_cast<uint32_t>(fmt.size() - kChunkHeadBytes));
    PutLe16(&fmt[8], info.extensible ? kExtensibleTag : info.formatTag);
    PutLe16(&fmt[10], info.channels);
    PutLe32(&fmt[12], static_cast<uint32_t>(info.sampleRate));
    PutLe32(&fmt[16], info.byteRate);
    PutLe16(&fmt[20], info.blockAlign);
    PutLe16(&fmt[22], info.bitsPerSample);
    if (info.extensible) {
        PutLe16(&fmt[24], kExtensionBytes);
        PutLe16(&fmt[26], info.validBits != 0 ? info.validBits : info.bitsPerSample);
        PutLe32(&fmt[28], info.channelMask);
        PutLe16(&fmt[32], info.formatTag);
        std::copy(kSubFormatTail.begin(), kSubFormatTail.end(), fmt.begin() + 34);
    }
    return fmt;
}

std::array<uint8_t, kChunkHeadBytes> EncodeDataHead(const WaveFormatInfo& info, const WaveLayout& layout) {
    std::array<uint8_t, kChunkHeadBytes> head{};
    PutId(&head[0], "data");
    PutLe32(&head[4], layout.container == WaveContainer::Rf64 ? kSizeInDs64 : static_cast<uint32_t>(info.dataSize));
    return head;
}

// Writes bytes to an output a block at a time, and copies chunks from an
// input through the same block.
class BlockWriter {
public:
    // Writes to `file` through a block no larger than the `expectedBytes` it will take.
    BlockWriter(OutputFile& file, uint64_t expectedBytes)
        : file_(file),
          capacity_(static_cast<size_t>(std::clamp<uint64_t>(expectedBytes, 1, kCopyBlockBytes))),
          block_(new (std::nothrow) uint8_t[capacity_]) {}

    // Returns the bytes taken so far, written or not.
    [[nodiscard]] uint64_t Taken() const { return taken_; }

    // Takes `bytes` to be written after those taken before.
    [[nodiscard]] IoError Put(std::span<const uint8_t> bytes) {
        if (IoError error = Ready(); error) return error;
        while (!bytes.empty()) {
            if (IoError error = MakeRoom(); error) return error;
            const size_t count = std::min(bytes.size(), capacity_ - used_);
            std::memcpy(block_.get() + used_, bytes.data(), count);
            used_ += count;
            taken_ += count;
            bytes = bytes.subspan(count);
        }
        return {};
    }

    // Takes `chunk` of `source`: its head, its body (its held bytes, or
    // those of the input, where bytes the file lacks are zero) and the pad
    // byte after an odd body.
    [[nodiscard]] IoError PutChunk(const InputFile& source, const WaveChunk& chunk) {
        std::array<uint8_t, kChunkHeadBytes> head{};
        std::memcpy(head.data(), chunk.id.data(), std::min<size_t>(chunk.id.size(), 4));
        PutLe32(&head[4], chunk.size);
        if (IoError error = Put(head); error) return error;
        if (chunk.held) {
            if (IoError error = Put(chunk.body); error) return error;
            if ((chunk.size & 1u) != 0) return Put(std::array<uint8_t, 1>{0});
            return {};
        }
        for (uint64_t position = 0; position < chunk.size;) {
            if (IoError error = MakeRoom(); error) return error;
            const size_t count = static_cast<size_t>(std::min<uint64_t>(capacity_ - used_, chunk.size - position));
            if (IoError error =
                    ReadSampleRange(source, chunk.bodyOffset, chunk.size, position, {block_.get() + used_, count});
                error) {
                return error;
            }
            used_ += count;
            taken_ += count;
            position += count;
        }
        if ((chunk.size & 1u) != 0) return Put(std::array<uint8_t, 1>{0});
        return {};
    }

    // Writes what is taken but not yet written.
    [[nodiscard]] IoError Flush() {
        if (IoError error = Ready(); error) return error;
        IoError error = file_.Write({block_.get(), used_});
        used_ = 0;
        return error;
    }

private:
    IoError Ready() const {
        if (!block_) return {IoError::Operation::Memory, file_.Path(), ENOMEM, {}};
        return {};
    }
    IoError MakeRoom() { return used_ == capacity_ ? Flush() : IoError{}; }

    OutputFile& file_;
    size_t capacity_;
    std::unique_ptr<uint8_t[]> block_;
    size_t used_ = 0;
    uint64_t taken_ = 0;
};

}  // namespace

WaveLayout LayOutWave(const WaveFormatInfo& info, const WaveMetadata& metadata, WaveContainer container) {
    WaveLayout layout;
    layout.container = container;
    const uint64_t before = ChunkBytes(metadata.beforeData);
    const uint64_t after = ChunkBytes(metadata.afterData);
    // The last sample ends the file when no chunk follows: its pad byte was
    // never written there, and outputs without metadata stay as they were.
    layout.trailerBytes = metadata.afterData.empty() ? 0 : (info.dataSize & 1u) + after;
    const uint64_t ds64 = container == WaveContainer::Rf64 ? kDs64ChunkBytes : 0;
    layout.headerBytes = kFormHeadBytes + ds64 + before + FmtChunkFileBytes(info) + kChunkHeadBytes;
    layout.riffSize = layout.headerBytes - 8 + info.dataSize + layout.trailerBytes;
    return layout;
}

WaveLayout LayOutWave(const WaveFormatInfo& info, const WaveMetadata& metadata) {
    const WaveLayout riff = LayOutWave(info, metadata, WaveContainer::Riff);
    return riff.riffSize <= kMaxRiffSize ? riff : LayOutWave(info, metadata, WaveContainer::Rf64);
}

void WaveOutput::Discard() {
    file_.Discard();
    samplesAt_ = 0;
}

IoError CheckWaveOutput(const std::string& path) { return CheckOutputFile(path); }

OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes, ExistingTarget existing) {
    OutputFileResult opened = OpenOutputFile(path, expectedBytes, existing);
    OutputOpenResult result;
    result.error = std::move(opened.error);
    result.output.file_ = std::move(opened.file);
    return result;
}

IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info) {
    return WriteWaveHeader(output, info, {}, LayOutWave(info).container);
}

IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried,
                        WaveContainer container) {
    OutputFile& file = output.file_;
    if (!file.IsOpen()) return {IoError::Operation::Write, file.Path(), EBADF, {}};
    const WaveMetadata& metadata = carried.metadata;
    if (!metadata.Empty() && carried.source == nullptr) return {IoError::Operation::Write, file.Path(), EINVAL, {}};
    const WaveLayout layout = LayOutWave(info, metadata, container);
    BlockWriter writer(file, layout.headerBytes);
    IoError failure = file.Seek(0);
    if (!failure) failure = writer.Put(EncodeFormHead(info, layout));
    for (size_t i = 0; i < metadata.beforeData.size() + 1 && !failure; ++i) {
        if (i == metadata.beforeFmt) failure = writer.Put(EncodeFmtChunk(info));
        if (i < metadata.beforeData.size() && !failure) {
            failure = writer.PutChunk(*carried.source, metadata.beforeData[i]);
        }
    }
    if (!failure) failure = writer.Put(EncodeDataHead(info, layout));
    if (!failure) failure = writer.Flush();
    if (!failure) {
        // Samples go on after whatever was written before, header included.
        output.samplesAt_ = file.Length();
        failure = file.Seek(output.samplesAt_);
    }
    if (failure) output.Discard();
    return failure;
}

IoError WriteWaveSamplesAt(const WaveOutput& output, uint64_t position, std::span<const uint8_t> samples) {
    return output.file_.WriteAt(output.samplesAt_ + position, samples);
}

IoError EndWaveSamples(WaveOutput& output, uint64_t bytes) {
    IoError failure = output.file_.EndAt(output.samplesAt_ + bytes);
    if (failure) output.Discard();
    return failure;
}

IoError WriteWaveTrailer(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried) {
    OutputFile& file = output.file_;
    if (!file.IsOpen()) return {IoError::Operation::Write, file.Path(), EBADF, {}};
    const std::vector<WaveChunk>& chunks = carried.metadata.afterData;
    if (chunks.empty()) return {};
    if (carried.source == nullptr) return {IoError::Operation::Write, file.Path(), EINVAL, {}};
    BlockWriter writer(file, LayOutWave(info, carried.metadata).trailerBytes);
    IoError failure;
    if ((info.dataSize & 1u) != 0) failure = writer.Put(std::array<uint8_t, 1>{0});
    for (size_t i = 0; i < chunks.size() && !failure; ++i) failure = writer.PutChunk(*carried.source, chunks[i]);
    if (!failure) failure = writer.Flush();
    if (failure) output.Discard();
    return failure;
}

IoError CommitWaveOutput(WaveOutput& output) {
    IoError result = output.file_.Commit();
    output.Discard();
    return result;
}

}  // namespace stereotools
