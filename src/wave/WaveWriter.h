#pragma once

#include "WaveFormat.h"
#include "WaveReader.h"
#include "system/FileIo.h"
#include "system/OutputFile.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stereotools {

// The header of an output without metadata: canonical RIFF, and RF64 with
// its "ds64" chunk.
constexpr std::size_t kWaveHeaderBytes = 44;
constexpr std::size_t kRf64HeaderBytes = 80;

// The outer form of an output: RIFF, whose sizes are 32 bits, or RF64, whose
// 64-bit sizes stand in a "ds64" chunk.
enum class WaveContainer { Riff, Rf64 };

// Where the parts of an output lie around its samples.
struct WaveLayout {
    WaveContainer container = WaveContainer::Riff;
    uint64_t headerBytes = kWaveHeaderBytes;  // bytes before the first sample
    uint64_t trailerBytes = 0;                // bytes after the last sample: pad byte and chunks behind the data
    uint64_t riffSize = 0;                    // the RIFF (or RF64) form's size: the whole file less 8 bytes

    // Returns the length of the whole file.
    [[nodiscard]] uint64_t FileBytes() const { return 8 + riffSize; }
};

// Returns the layout of an output of `info` (its dataSize bytes of samples)
// that carries `metadata`: RIFF while the RIFF size fits 32 bits (for an
// output without metadata, while dataSize + 36 <= 0xFFFFFFFF), RF64 beyond.
[[nodiscard]] WaveLayout LayOutWave(const WaveFormatInfo& info, const WaveMetadata& metadata = {});
// Returns the layout as above, in `container` whatever the size.
[[nodiscard]] WaveLayout LayOutWave(const WaveFormatInfo& info, const WaveMetadata& metadata, WaveContainer container);

// Chunks an output carries over from an input: none by default.
struct CarriedChunks {
    const InputFile* source = nullptr;  // the input they are copied from
    WaveMetadata metadata;
};

// A WAV output being written: an OutputFile, which becomes the target
// only on CommitWaveOutput, and where its samples begin. Move-only.
class WaveOutput {
public:
    [[nodiscard]] bool IsOpen() const { return file_.IsOpen(); }
    [[nodiscard]] const std::string& Path() const { return file_.Path(); }
    // Returns where in the file the samples begin.
    [[nodiscard]] uint64_t SamplesAt() const { return samplesAt_; }
    // Removes the temporary file and leaves the target as it was.
    void Discard();

private:
    friend struct OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes,
                                                  ExistingTarget existing);
    friend IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried,
                                   WaveContainer container);
    friend IoError WriteWaveSamplesAt(const WaveOutput& output, uint64_t position, std::span<const uint8_t> samples);
    friend IoError EndWaveSamples(WaveOutput& output, uint64_t bytes);
    friend IoError WriteWaveTrailer(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried);
    friend IoError CommitWaveOutput(WaveOutput& output);
    OutputFile file_;
    uint64_t samplesAt_ = 0;  // where the samples begin: the header's length
};

struct OutputOpenResult {
    IoError error;
    WaveOutput output;
    explicit operator bool() const { return !error; }
};

// Starts the WAV output `path` as OpenOutputFile does (the same refusals),
// reserving `expectedBytes`.
[[nodiscard]] OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes,
                                              ExistingTarget existing = ExistingTarget::Replace);

// Returns the Create error that OpenWaveOutput would give `path` before it
// makes any file (CheckOutputFile), or an empty error.
[[nodiscard]] IoError CheckWaveOutput(const std::string& path);

// Writes the header of `info` without metadata, in the container LayOutWave
// chooses, at the start of the output.
[[nodiscard]] IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info);

// Writes the header of `info` in `container` at the start of the output:
// the form's head ("ds64" included for RF64), the chunks of
// `carried.metadata.beforeData` copied from `carried.source` with the
// canonical "fmt " among them where the input's stood, then the head of the
// "data" chunk. Sizes are those of LayOutWave(info, carried.metadata,
// container); each chunk keeps its pad byte. Returns a Read error naming
// the input, or a Write error (the output then discarded).
[[nodiscard]] IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried,
                                      WaveContainer container);

// Writes `samples` `position` bytes into the samples that follow the
// header, in any order; several threads may write one output at once. A
// failure leaves the output for the caller to discard once every writer is
// done. Returns an empty error, or a Write error naming the output.
[[nodiscard]] IoError WriteWaveSamplesAt(const WaveOutput& output, uint64_t position, std::span<const uint8_t> samples);

// Ends samples written by WriteWaveSamplesAt at `bytes` after the header,
// so that the trailer follows them and the committed file ends there.
// Returns an empty error, or a Write error (the output then discarded).
[[nodiscard]] IoError EndWaveSamples(WaveOutput& output, uint64_t bytes);

// Appends, after the dataSize bytes of samples of `info`, the chunks of
// `carried.metadata.afterData` copied from `carried.source`, behind the pad
// byte of an odd data chunk. Writes nothing when there are none. Errors as
// for WriteWaveHeader.
[[nodiscard]] IoError WriteWaveTrailer(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried);

// Closes the output and puts it in place of its target as
// OutputFile::Commit does; on failure the target stays as it was.
[[nodiscard]] IoError CommitWaveOutput(WaveOutput& output);

}  // namespace stereotools
