#pragma once

// Helpers for tests that need WAV bytes or files:
//   WaveBuilder  makes the bytes of a WAV file with any header field set by
//                name; by default a canonical mono 16-bit 44100 Hz file; RIFF,
//                RF64 or BW64, with chunks before "fmt ", before and after "data".
//   TempFolder   a private folder that is removed with all it holds.
//   WithTempFolder  a fixture that owns a TempFolder for each test.
//   ScopedFileCalls  swaps in fake file calls (to inject ENOSPC, EIO, EINTR
//                or short transfers) and puts the real ones back.
//   SwapBeforeOpen  fake calls that replace a file between its check and its open.

#include "system/FileIo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdio.h>

namespace testwave {

using Bytes = std::vector<uint8_t>;

// The extensible SubFormat GUIDs of integer PCM and IEEE float samples.
inline constexpr std::array<uint8_t, 16> kPcmSubFormat = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
inline constexpr std::array<uint8_t, 16> kFloatSubFormat = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

inline void AppendLe(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void AppendId(Bytes& out, const std::string& id) {
    for (size_t i = 0; i < 4; ++i) out.push_back(i < id.size() ? static_cast<uint8_t>(id[i]) : ' ');
}

// Sets the RIFF size of `bytes` to cover all of them, so that chunks
// appended behind the built file are within its form.
inline void CoverWithForm(Bytes& bytes) {
    const uint64_t size = bytes.size() - 8;
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(size >> (8 * i));
}

// Builds WAV bytes field by field. Fields left unset follow from the others
// (byteRate, blockAlign, dataSize, the RIFF size), so a test names only what
// it is about:
//   Bytes bytes = WaveBuilder().Channels(2).Bits(24).Samples(frames).Build();
class WaveBuilder {
public:
    WaveBuilder& RiffId(std::string id) {
        riffId_ = std::move(id);
        return *this;
    }
    WaveBuilder& FormType(std::string id) {
        formType_ = std::move(id);
        return *this;
    }
    WaveBuilder& Tag(uint16_t tag) {
        tag_ = tag;
        return *this;
    }
    // The whole 16-bit channel field, so tests can set its high byte.
    WaveBuilder& Channels(uint16_t channels) {
        channels_ = channels;
        return *this;
    }
    WaveBuilder& Rate(uint32_t rate) {
        rate_ = rate;
        return *this;
    }
    WaveBuilder& ByteRate(uint32_t byteRate) {
        byteRate_ = byteRate;
        return *this;
    }
    WaveBuilder& BlockAlign(uint16_t blockAlign) {
        blockAlign_ = blockAlign;
        return *this;
    }
    WaveBuilder& Bits(uint16_t bits) {
        bits_ = bits;
        return *this;
    }
    // The data chunk's declared size; by default the number of sample bytes.
    WaveBuilder& DataSize(uint32_t dataSize) {
        dataSize_ = dataSize;
        return *this;
    }
    WaveBuilder& Samples(Bytes samples) {
        samples_ = std::move(samples);
        return *this;
    }
    // The "fmt " chunk's size; a body longer than 16 bytes is zero-filled
    // past the fields (past the extension when extensible).
    WaveBuilder& FmtSize(uint32_t fmtSize) {
        fmtSize_ = fmtSize;
        return *this;
    }
    // Makes the format extensible (tag 0xFFFE, 40-byte "fmt ", cbSize 22) with `subFormat`.
    WaveBuilder& Extensible(const std::array<uint8_t, 16>& subFormat, uint16_t cbSize = 22) {
        tag_ = 0xFFFE;
        subFormat_ = subFormat;
        cbSize_ = cbSize;
        if (!fmtSize_) fmtSize_ = 40;
        return *this;
    }
    // The extensible format's valid bits (by default the bit depth) and channel mask (by default 0).
    WaveBuilder& ValidBits(uint16_t validBits) {
        validBits_ = validBits;
        return *this;
    }
    WaveBuilder& ChannelMask(uint32_t mask) {
        channelMask_ = mask;
        return *this;
    }
    // Makes the file RF64, or BW64 when `id` says so: 0xFFFFFFFF in the RIFF
    // and data sizes (unless DataSize sets the latter), and a "ds64" chunk
    // first with the RIFF size, the data size (the number of sample bytes
    // unless Ds64DataSize sets it), the frame count and an empty table.
    WaveBuilder& Rf64(std::string id = "RF64") {
        riffId_ = std::move(id);
        rf64_ = true;
        return *this;
    }
    WaveBuilder& Ds64DataSize(uint64_t size) {
        ds64DataSize_ = size;
        return *this;
    }
    // The "ds64" chunk's size: shorter than 28 cuts its body, longer pads it with zeros.
    WaveBuilder& Ds64Size(uint32_t size) {
        ds64Size_ = size;
        return *this;
    }
    // Adds a chunk before "fmt " (pad byte added after an odd body).
    WaveBuilder& ChunkBeforeFmt(std::string id, Bytes body) {
        beforeFmt_.push_back({std::move(id), std::move(body)});
        return *this;
    }
    // Adds a chunk between "fmt " and "data" (pad byte added after an odd body).
    WaveBuilder& ChunkBeforeData(std::string id, Bytes body) {
        before_.push_back({std::move(id), std::move(body)});
        return *this;
    }
    // Adds a chunk after "data" (the sample data then gets its pad byte if odd).
    WaveBuilder& ChunkAfterData(std::string id, Bytes body) {
        after_.push_back({std::move(id), std::move(body)});
        return *this;
    }

    uint16_t BytesPerSample() const { return static_cast<uint16_t>((bits_ + 7) / 8); }

    // Returns the file's bytes.
    Bytes Build() const {
        testwave::Bytes chunks;
        for (const auto& chunk : beforeFmt_) AppendChunk(chunks, chunk.id, chunk.body, chunk.body.size());
        AppendFmt(chunks);
        for (const auto& chunk : before_) AppendChunk(chunks, chunk.id, chunk.body, chunk.body.size());
        const uint64_t declared = dataSize_ ? *dataSize_ : rf64_ ? 0xFFFFFFFF : samples_.size();
        AppendChunk(chunks, "data", samples_, declared, !after_.empty());
        for (const auto& chunk : after_) AppendChunk(chunks, chunk.id, chunk.body, chunk.body.size());
        testwave::Bytes body;
        AppendId(body, formType_);
        if (rf64_) {
            const uint32_t ds64Size = ds64Size_ ? *ds64Size_ : 28;
            testwave::Bytes ds64;
            AppendLe(ds64, 4 + 8 + ds64Size + (ds64Size & 1) + chunks.size(), 8);
            AppendLe(ds64, ds64DataSize_ ? *ds64DataSize_ : samples_.size(), 8);
            const uint64_t frameBytes = uint64_t{BytesPerSample()} * (channels_ & 0xFF);
            AppendLe(ds64, frameBytes ? samples_.size() / frameBytes : 0, 8);
            AppendLe(ds64, 0, 4);
            ds64.resize(ds64Size, 0);
            AppendChunk(body, "ds64", ds64, ds64Size);
        }
        body.insert(body.end(), chunks.begin(), chunks.end());
        testwave::Bytes out;
        AppendId(out, riffId_);
        AppendLe(out, rf64_ ? 0xFFFFFFFF : body.size(), 4);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

private:
    struct Chunk {
        std::string id;
        testwave::Bytes body;
    };

    void AppendFmt(testwave::Bytes& out) const {
        const uint16_t align =
            blockAlign_ ? *blockAlign_ : static_cast<uint16_t>((channels_ & 0xFF) * BytesPerSample());
        const uint32_t size = fmtSize_ ? *fmtSize_ : 16;
        testwave::Bytes fmt;
        AppendLe(fmt, tag_, 2);
        AppendLe(fmt, channels_, 2);
        AppendLe(fmt, rate_, 4);
        AppendLe(fmt, byteRate_ ? *byteRate_ : static_cast<uint64_t>(rate_) * align, 4);
        AppendLe(fmt, align, 2);
        AppendLe(fmt, bits_, 2);
        if (subFormat_) {
            AppendLe(fmt, cbSize_, 2);
            AppendLe(fmt, validBits_ ? *validBits_ : bits_, 2);
            AppendLe(fmt, channelMask_, 4);
            fmt.insert(fmt.end(), subFormat_->begin(), subFormat_->end());
        }
        fmt.resize(size, 0);
        AppendChunk(out, "fmt ", fmt, size);
    }

    static void AppendChunk(testwave::Bytes& out, const std::string& id, const testwave::Bytes& body, uint64_t declared,
                            bool pad = true) {
        AppendId(out, id);
        AppendLe(out, declared, 4);
        out.insert(out.end(), body.begin(), body.end());
        if (pad && body.size() % 2 == 1) out.push_back(0);
    }

    std::string riffId_ = "RIFF";
    std::string formType_ = "WAVE";
    uint16_t tag_ = 1;
    uint16_t channels_ = 1;
    uint32_t rate_ = 44100;
    std::optional<uint32_t> byteRate_;
    std::optional<uint16_t> blockAlign_;
    uint16_t bits_ = 16;
    std::optional<uint32_t> dataSize_;
    testwave::Bytes samples_;
    std::optional<uint32_t> fmtSize_;
    std::optional<std::array<uint8_t, 16>> subFormat_;
    uint16_t cbSize_ = 0;
    std::optional<uint16_t> validBits_;
    uint32_t channelMask_ = 0;
    bool rf64_ = false;
    std::optional<uint64_t> ds64DataSize_;
    std::optional<uint32_t> ds64Size_;
    std::vector<Chunk> beforeFmt_;
    std::vector<Chunk> before_;
    std::vector<Chunk> after_;
};

// Returns `count` bytes counting up from `first` (wrapping at 256): samples
// whose every byte shows where it came from.
inline Bytes CountingBytes(size_t count, uint8_t first = 1) {
    Bytes out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(first + i);
    return out;
}

// Returns `count` bytes drawn from a generator seeded with `seed`: samples
// that no block moved by a multiple of 256 bytes can match, as counting
// bytes would.
inline Bytes RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes out(count);
    for (auto& byte : out) byte = static_cast<uint8_t>(random());
    return out;
}

// A private folder under `parent` (by default $TMPDIR or /tmp), removed with
// everything in it when the object goes.
class TempFolder {
public:
    explicit TempFolder(std::string parent = {}) {
        if (parent.empty()) {
            const char* base = std::getenv("TMPDIR");
            parent = base && *base ? base : "/tmp";
        }
        std::string pattern = parent + "/stereotools-test.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary folder from " << pattern;
            return;
        }
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        if (path_.empty()) return;
        std::error_code ignored;
        // Give back write permission a test may have taken, so everything can go.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string& Path() const { return path_; }
    // Returns the path of `name` inside the folder.
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

    // Writes `bytes` to `name` (replacing it) and returns its path.
    std::string Write(const std::string& name, const testwave::Bytes& bytes) const {
        const std::string path = Path(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) ADD_FAILURE() << "cannot write " << path;
        return path;
    }

    // Returns the bytes of `name`, or nullopt when it is no regular file or
    // cannot be read.
    std::optional<testwave::Bytes> Read(const std::string& name) const {
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(Path(name), ignored)) return std::nullopt;
        std::ifstream in(Path(name), std::ios::binary);
        if (!in) return std::nullopt;
        return testwave::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Returns the names the folder holds, sorted.
    std::vector<std::string> Names() const { return NamesIn(path_); }

    // Returns the names the folder `path` holds, sorted.
    static std::vector<std::string> NamesIn(const std::string& path) {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(path, ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

// A fixture whose tests each get a fresh, empty `folder`.
class WithTempFolder : public ::testing::Test {
protected:
    TempFolder folder;
};

// Puts `calls` in place of the file calls for the object's lifetime. Fakes
// are plain functions; they should hand what they do not fake to the real
// calls, so files still open and close.
class ScopedFileCalls {
public:
    explicit ScopedFileCalls(const stereotools::FileCalls& calls) : saved_(stereotools::ActiveFileCalls()) {
        stereotools::ActiveFileCalls() = calls;
    }
    ScopedFileCalls(const ScopedFileCalls&) = delete;
    ScopedFileCalls& operator=(const ScopedFileCalls&) = delete;
    ~ScopedFileCalls() { stereotools::ActiveFileCalls() = saved_; }

private:
    stereotools::FileCalls saved_;
};

// Fake calls that put `swapFrom` in place of the name being opened, once,
// just before the open of an existing file (not a folder, not a new file):
// a file that changes between its check and its open.
struct SwapBeforeOpen {
    static inline std::string swapFrom;
    static inline bool swapped = false;

    static int OpenAt(int folder, const char* name, int flags, mode_t mode) {
        if (!swapped && (flags & (O_DIRECTORY | O_CREAT)) == 0) {
            swapped = true;
            if (::renameat(AT_FDCWD, swapFrom.c_str(), folder, name) != 0) return -1;
        }
        return stereotools::SystemFileCalls().openat(folder, name, flags, mode);
    }
    static stereotools::FileCalls Calls(std::string from) {
        swapFrom = std::move(from);
        swapped = false;
        stereotools::FileCalls fake = stereotools::SystemFileCalls();
        fake.openat = OpenAt;
        return fake;
    }
};

// Changes into `folder` for the object's lifetime, so answers can be short
// relative names that fit their rows.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& folder) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;
    ~ScopedWorkingDirectory() { std::filesystem::current_path(saved_); }

private:
    std::filesystem::path saved_;
};

}  // namespace testwave
