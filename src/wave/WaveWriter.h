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

// An output being written: a temporary file beside the file it will replace
// that becomes that file only on Commit. Until then the target, if it exists,
// is untouched; a WaveOutput destroyed or discarded uncommitted removes its
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
    int fd_ = -1;             // the temporary file
    int folder_ = -1;         // the folder that holds the target and the temporary file
    std::string path_;        // as the user gave it
    std::string name_;        // the target's name in folder_ (a link's target, not the link)
    std::string tempName_;    // the temporary file's name in folder_; empty once gone
    uint64_t end_ = 0;        // bytes written so far: the committed file's length
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
// for them after the samples have been moved (CheckWaveOutput).
[[nodiscard]] OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes);

// Returns the Create error that OpenWaveOutput would give `path` before it
// makes any file, or an empty error when an output may be made there; makes
// no file itself. What it cannot foresee (a full disk, a folder changed in
// between) OpenWaveOutput still reports.
[[nodiscard]] IoError CheckWaveOutput(const std::string& path);

// Writes the 44 header bytes of `info` at the start of the output.
[[nodiscard]] IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info);

// Appends `samples` after what was written before.
[[nodiscard]] IoError WriteWaveSamples(WaveOutput& output, std::span<const uint8_t> samples);

// Closes the output and puts it in place of the target (exactly the bytes
// written; a symbolic link written through to the file it leads to; other
// hard links of the old file keep the old bytes).
// On failure the target stays as it was and the temporary file is removed.
[[nodiscard]] IoError CommitWaveOutput(WaveOutput& output);

}  // namespace stereotools
