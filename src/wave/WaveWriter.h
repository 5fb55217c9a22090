#pragma once

#include "FileIo.h"
#include "WaveFormat.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace stereotools {

constexpr std::size_t kWaveHeaderBytes = 44;

// Returns the canonical 44-byte header for `info` (RIFF size dataSize + 36).
[[nodiscard]] std::array<uint8_t, kWaveHeaderBytes> EncodeWaveHeader(const WaveFormatInfo& info);

// An output being written: a temporary file beside the target that becomes
// the target only on Commit. Until then the target, if it exists, is
// untouched; a WaveOutput destroyed or discarded uncommitted removes its
// temporary file. Move-only.
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
    friend struct OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes);
    friend IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info);
    friend IoError WriteWaveSamples(WaveOutput& output, std::span<const uint8_t> samples);
    friend IoError CommitWaveOutput(WaveOutput& output);
    int fd_ = -1;
    std::string path_;        // as the user gave it
    std::string targetPath_;  // symbolic links resolved
    std::string tempPath_;
    unsigned mode_ = 0;       // permission bits the committed file gets
    uint64_t end_ = 0;        // bytes written so far: the committed file's length
};

struct OutputOpenResult {
    IoError error;
    WaveOutput output;
    explicit operator bool() const { return !error; }
};

// Starts the output `path`: creates a temporary file in the target's folder
// and reserves `expectedBytes` there where the file system allows, so a full
// disk shows before any sample is written. Fails (Create error) for an empty
// name, a missing or unwritable folder, a name that is a directory or a
// device, or an existing file that may not be written.
[[nodiscard]] OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes);

// Writes the 44 header bytes of `info` at the start of the output.
[[nodiscard]] IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info);

// Appends `samples` after what was written before.
[[nodiscard]] IoError WriteWaveSamples(WaveOutput& output, std::span<const uint8_t> samples);

// Closes the output and puts it in place of the target (exactly the bytes
// written, the old file's permission bits, a symbolic link written through).
// On failure the target stays as it was and the temporary file is removed.
[[nodiscard]] IoError CommitWaveOutput(WaveOutput& output);

}  // namespace stereotools
