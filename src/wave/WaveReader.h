#pragma once

#include "WaveFormat.h"
#include "system/ByteSource.h"
#include "system/FileIo.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace stereotools {

struct HeaderResult {
    WaveHeaderProblem problem = WaveHeaderProblem::None;
    WaveFormatInfo info;
    explicit operator bool() const { return problem == WaveHeaderProblem::None; }
};

// A `requiredChannels` that takes any file of two channels or more, counted
// by the whole 16-bit channel field. 1 and 2 check the field's low byte
// alone, as the tools always have; any other count checks the whole field.
constexpr int kManyChannels = 0;

// Says whether the user has asked to stop; true ends a long read early.
using StopCheck = std::function<bool()>;

// Reads and checks the RIFF/WAVE header of `source`: the form type (and for
// a file that starts "RF64" or "BW64", a "ds64" chunk first, whose 64-bit
// data size stands for a "data" size of 0xFFFFFFFF), the format (PCM or
// float, extensible resolved), `requiredChannels` (see kManyChannels), the bit depth
// (1..64) and the sample rate (above 0), in that order. Walks the
// chunks to find "fmt " and "data", reading their headers a block at a time,
// and refuses as NotWave a file that has not shown both within more chunks
// than any real file holds. Returns the first failing check, or None with
// `info` filled in (`info` is valid only then), or Stopped when
// `stopRequested` (asked before each block is read) says so.
[[nodiscard]] HeaderResult ReadWaveHeader(const ByteSource& source, int requiredChannels,
                                          const StopCheck& stopRequested = {});

// One chunk of an input: its id and where its body lies, or a body made
// for an output (a chunk rewritten for the channels it holds).
struct WaveChunk {
    std::string id;           // four bytes, e.g. "bext", "LIST", "cue "
    uint64_t bodyOffset = 0;  // first byte of the body in the input
    uint32_t size = 0;        // the body's length, without the pad byte
    bool held = false;        // the body is `body`, not the input's bytes
    std::vector<uint8_t> body{};

    // Returns the bytes the chunk takes in a file: its 8-byte head, its body
    // and the pad byte that follows an odd body.
    [[nodiscard]] uint64_t FileBytes() const { return 8 + uint64_t{size} + (size & 1u); }
    bool operator==(const WaveChunk&) const = default;
};

// The metadata chunks of an input, by where they stood: all its chunks but
// "fmt ", "data", "fact", "ds64", "JUNK", "PAD ", "FLLR" and empty "LIST"s
// (ChunkRuleFor says Never).
struct WaveMetadata {
    std::vector<WaveChunk> beforeData;  // in file order
    std::size_t beforeFmt = 0;          // how many of beforeData stood before "fmt "
    std::vector<WaveChunk> afterData;   // in file order
    // The id of a chunk whose size ran past the end of the file, which
    // ended the walk there; empty when the walk reached the end.
    std::string cutShort{};

    [[nodiscard]] bool Empty() const { return beforeData.empty() && afterData.empty(); }
    bool operator==(const WaveMetadata&) const = default;
};

struct MetadataResult {
    WaveHeaderProblem problem = WaveHeaderProblem::None;
    WaveMetadata metadata;
    explicit operator bool() const { return problem == WaveHeaderProblem::None; }
};

// Walks all the chunks of `source`, whose header ReadWaveHeader accepted,
// and returns its metadata chunks, those with odd (non-printable) ids
// included. The walk ends at the end of the RIFF form (bytes some writers
// append behind it are no chunks) or of the file, or at a chunk whose body
// runs past the end of the file: that one is left out and named in
// `cutShort`.
// Returns NotWave, with no chunks, for a file with more chunks than any real
// one holds, or Stopped when `stopRequested` says so.
[[nodiscard]] MetadataResult ReadWaveMetadata(const ByteSource& source, const StopCheck& stopRequested = {});

// Fills `out` with the sample bytes of a data chunk that begins at
// `dataOffset` and holds `dataSize` bytes, starting `position` bytes into the
// chunk. Bytes past the chunk or past the end of the file are zero. Returns an
// empty error, or a Read error naming `source`'s path.
[[nodiscard]] IoError ReadSampleRange(const InputFile& source, uint64_t dataOffset, uint64_t dataSize,
                                      uint64_t position, std::span<uint8_t> out);

}  // namespace stereotools
