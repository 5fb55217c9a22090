#pragma once

#include "system/FileIo.h"
#include "WaveFormat.h"
#include "WaveReader.h"

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
[[nodiscard]] WaveLayout LayOutWave(const WaveFormatInfo& info, const WaveMetadata& metadata,
                                    WaveContainer container);

// Returns the header of an output of `info` without metadata, in the
// container LayOutWave chooses: the canonical 44 bytes (RIFF size
// dataSize + 36), or 80 bytes of RF64 ("RF64", RIFF size 0xFFFFFFFF, a
// "ds64" chunk with the RIFF size, the data size and the frame count and no
// table, the same 16-byte "fmt ", "data" with size 0xFFFFFFFF).
[[nodiscard]] std::vector<uint8_t> EncodeWaveHeader(const WaveFormatInfo& info);
// Returns the header as above, in `container` whatever the size (RIFF sizes
// too large for their fields wrap).
[[nodiscard]] std::vector<uint8_t> EncodeWaveHeader(const WaveFormatInfo& info, WaveContainer container);

// Chunks an output carries over from an input: none by default.
struct CarriedChunks {
    const InputFile* source = nullptr;  // the input they are copied from
    WaveMetadata metadata;
};

// What starting and committing an output does when a file of its name exists.
enum class ExistingTarget {
    Replace,  // put the new file in its place
    Refuse,   // fail with EEXIST and leave it alone, also when it appears while the output is written
};

// An output being written: a temporary file beside the file it will replace
// that becomes that file only on Commit. Until then the target, if it exists,
// is untouched; a WaveOutput destroyed or discarded uncommitted removes its
// temporary file, and so does a crash (RemoveUnfinishedOutputs). Move-only.
class WaveOutput {
public:
    WaveOutput() = default;
    WaveOutput(WaveOutput&& other) noexcept;
    WaveOutput& operator=(WaveOutput&& other) noexcept;
    WaveOutput(const WaveOutput&) = delete;
    WaveOutput& operator=(const WaveOutput&) = delete;
    ~WaveOutput();

    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // Removes the temporary file and leaves the target as it was.
    void Discard();

private:
    friend struct OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes,
                                                  ExistingTarget existing);
    friend IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried,
                                   WaveContainer container);
    friend IoError WriteWaveSamples(WaveOutput& output, std::span<const uint8_t> samples);
    friend IoError WriteWaveSamplesAt(const WaveOutput& output, uint64_t position, std::span<const uint8_t> samples);
    friend IoError EndWaveSamples(WaveOutput& output, uint64_t bytes);
    friend IoError WriteWaveTrailer(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried);
    friend IoError CommitWaveOutput(WaveOutput& output);
    int fd_ = -1;             // the temporary file
    int folder_ = -1;         // the folder that holds the target and the temporary file
    std::string path_;        // as the user gave it
    std::string name_;        // the target's name in folder_ (a link's target, not the link)
    std::string tempName_;    // the temporary file's name in folder_; empty once gone
    uint64_t end_ = 0;        // bytes written so far: the committed file's length
    uint64_t samplesAt_ = 0;  // where the samples begin: the header's length
    ExistingTarget existing_ = ExistingTarget::Replace;
    int record_ = -1;         // the temporary file's UnfinishedOutputs slot, or -1
};

struct OutputOpenResult {
    IoError error;
    WaveOutput output;
    explicit operator bool() const { return !error; }
};

// Starts the output `path`: creates a temporary file in the folder of the
// file it will replace, gives it that file's owner, group, extended
// attributes (ACLs among them) and permission bits, and reserves
// `expectedBytes` where the file system allows, so a full disk shows before
// any sample is written. A symbolic link is followed only as the kernel
// follows it for this user, and only to an existing file. Fails (Create
// error) for an empty name, a missing or unwritable folder, a name that is a
// directory, a device or a dangling link, or an existing file that this user
// may not write or may not replace (another user's file in a sticky folder,
// an append-only or immutable file), so the commit's rename is not refused
// for them after the samples have been moved (CheckWaveOutput). With
// `existing` Refuse, also fails (Create error, EEXIST) when the name stands
// for an existing file.
[[nodiscard]] OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes,
                                              ExistingTarget existing = ExistingTarget::Replace);

// Returns the Create error that OpenWaveOutput would give `path` before it
// makes any file, or an empty error when an output may be made there; makes
// no file itself. What it cannot foresee (a full disk, a folder changed in
// between) OpenWaveOutput still reports.
[[nodiscard]] IoError CheckWaveOutput(const std::string& path);

// Writes the header of `info` (EncodeWaveHeader's) at the start of the output.
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

// Appends `samples` after what was written before.
[[nodiscard]] IoError WriteWaveSamples(WaveOutput& output, std::span<const uint8_t> samples);

// Writes `samples` `position` bytes into the samples that follow the
// header, in any order; several threads may write one output at once. A
// failure leaves the output for the caller to discard once every writer is
// done. Returns an empty error, or a Write error naming the output.
[[nodiscard]] IoError WriteWaveSamplesAt(const WaveOutput& output, uint64_t position,
                                         std::span<const uint8_t> samples);

// Ends samples written by WriteWaveSamplesAt at `bytes` after the header,
// so that the trailer follows them and the committed file ends there.
// Returns an empty error, or a Write error (the output then discarded).
[[nodiscard]] IoError EndWaveSamples(WaveOutput& output, uint64_t bytes);

// Appends, after the dataSize bytes of samples of `info`, the chunks of
// `carried.metadata.afterData` copied from `carried.source`, behind the pad
// byte of an odd data chunk. Writes nothing when there are none. Errors as
// for WriteWaveHeader.
[[nodiscard]] IoError WriteWaveTrailer(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried);

// Closes the output and puts it in place of the target (exactly the bytes
// written; a symbolic link written through to the file it leads to; other
// hard links of the old file keep the old bytes). An output opened with
// ExistingTarget::Refuse fails (Commit error, EEXIST) if a file of its name
// has appeared since, and never replaces it.
// On failure the target stays as it was and the temporary file is removed.
[[nodiscard]] IoError CommitWaveOutput(WaveOutput& output);

}  // namespace stereotools
