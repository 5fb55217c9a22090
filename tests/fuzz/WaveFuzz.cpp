// Any byte sequence as a WAV file: the header reader must never crash, and
// every sample read must give exactly the data chunk's bytes that the file
// holds, zero elsewhere; every metadata chunk listed lies whole in the file;
// an RF64 file reads as the same file named BW64; the metadata made for
// each output of a split and a join takes any chunk bodies.
#include "system/FileIo.h"
#include "wave/WaveMetadata.h"
#include "wave/WaveReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

void CheckRange(const stereotools::InputFile& file, const stereotools::WaveFormatInfo& info, const uint8_t* bytes,
                std::size_t size, uint64_t position, std::size_t count) {
    std::vector<uint8_t> out(count, 0xAA);
    if (stereotools::ReadSampleRange(file, info.dataOffset, info.dataSize, position, out)) abort();
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t inChunk = position + i;
        const uint64_t inFile = info.dataOffset + inChunk;
        const uint8_t expected = inChunk < info.dataSize && inFile < size ? bytes[inFile] : 0;
        if (out[i] != expected) abort();
    }
}

// Aborts unless `relabelled`, the same bytes under the other of the two
// names of the 64-bit format, reads as `original` does.
void CheckSameAsRelabelled(const stereotools::ByteSource& original, const stereotools::ByteSource& relabelled) {
    for (int channels : {1, 2}) {
        const stereotools::HeaderResult a = stereotools::ReadWaveHeader(original, channels);
        const stereotools::HeaderResult b = stereotools::ReadWaveHeader(relabelled, channels);
        if (a.problem != b.problem || (a && a.info != b.info)) abort();
    }
    const stereotools::MetadataResult a = stereotools::ReadWaveMetadata(original);
    const stereotools::MetadataResult b = stereotools::ReadWaveMetadata(relabelled);
    if (a.problem != b.problem || a.metadata != b.metadata) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const stereotools::MemorySource memory(std::vector<uint8_t>(bytes, bytes + size));
    const stereotools::HeaderResult mono = stereotools::ReadWaveHeader(memory, 1);
    const stereotools::HeaderResult stereo = stereotools::ReadWaveHeader(memory, 2);
    if (mono.problem != stereo.problem && mono.problem != stereotools::WaveHeaderProblem::WrongChannelCount &&
        stereo.problem != stereotools::WaveHeaderProblem::WrongChannelCount)
        abort();
    const stereotools::MetadataResult metadata = stereotools::ReadWaveMetadata(memory);
    if (metadata.metadata.beforeFmt > metadata.metadata.beforeData.size()) abort();
    for (const auto* list : {&metadata.metadata.beforeData, &metadata.metadata.afterData}) {
        for (const stereotools::WaveChunk& chunk : *list) {
            if (chunk.id.size() != 4 || chunk.bodyOffset + chunk.size > size) abort();
        }
    }

    stereotools::WaveMetadata held = metadata.metadata;
    if (metadata && stereotools::LoadRewrittenBodies(memory, held)) {
        stereotools::WaveFormatInfo info = stereo ? stereo.info : stereotools::WaveFormatInfo{};
        info.channels = 2;
        const stereotools::MetadataSource source{"fuzz.wav", info, held};
        const stereotools::MetadataStep step{"fuzz", [] { return std::string("UID"); }};
        stereotools::WaveFormatInfo mono = info;
        mono.channels = 1;
        const auto outputs = stereotools::ShapeSplitMetadata(source, {1, 0}, {mono, mono}, step);
        const auto joined = stereotools::ShapeJoinMetadata({source, source}, info, step);
        for (const auto* list : {&joined.metadata.beforeData, &joined.metadata.afterData}) {
            for (const stereotools::WaveChunk& chunk : *list) {
                if (chunk.held && chunk.body.size() != chunk.size) abort();
            }
        }
        if (outputs.size() != 2) abort();
    }

    if (size >= 4 && (std::memcmp(bytes, "RF64", 4) == 0 || std::memcmp(bytes, "BW64", 4) == 0)) {
        std::vector<uint8_t> renamed(bytes, bytes + size);
        std::memcpy(renamed.data(), bytes[0] == 'R' ? "BW64" : "RF64", 4);
        CheckSameAsRelabelled(memory, stereotools::MemorySource(std::move(renamed)));
    }

    // The same bytes as a real file, through the path the tools use.
    const int fd = memfd_create("wavefuzz", 0);
    if (fd < 0) return 0;
    if (size > 0 && write(fd, bytes, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    stereotools::InputOpenResult opened = stereotools::OpenInputFile(path);
    if (opened) {
        for (int channels : {1, 2}) {
            const stereotools::HeaderResult header = stereotools::ReadWaveHeader(opened.file, channels);
            const stereotools::HeaderResult fromMemory = channels == 1 ? mono : stereo;
            if (header.problem != fromMemory.problem) abort();
            if (!header) continue;
            if (header.info.BytesPerSample() < 1 || header.info.BytesPerSample() > 8) abort();
            CheckRange(opened.file, header.info, bytes, size, 0, 64);
            CheckRange(opened.file, header.info, bytes, size, header.info.dataSize > 8 ? header.info.dataSize - 8 : 0,
                       16);
            CheckRange(opened.file, header.info, bytes, size, size / 2, 32);
        }
    }
    close(fd);
    return 0;
}
