#include "WaveWriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stereotools {

namespace {

constexpr uint32_t kRiffSizeBeyondData = 36;
constexpr uint32_t kFmtChunkBytes = 16;
// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;
// The temporary name is "." + base + ".XXXXXX".
constexpr size_t kTempNameExtraBytes = 8;

void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutId(uint8_t* out, const char* id) { std::memcpy(out, id, 4); }

IoError CreateError(const std::string& path, int errorNumber, std::string detail = {}) {
    return {IoError::Operation::Create, path, errorNumber, std::move(detail)};
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Returns the pattern for mkstemp: a hidden name beside `target`, its base
// shortened (never inside a UTF-8 sequence) so the name stays within NAME_MAX.
std::string TempPattern(const std::string& target) {
    std::string base = BaseOf(target);
    const size_t room = NAME_MAX - kTempNameExtraBytes;
    if (base.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0u) == 0x80u) --cut;
        base.resize(cut);
    }
    std::string folder = DirectoryOf(target);
    if (folder.back() != '/') folder += '/';
    return folder + "." + base + ".XXXXXX";
}

struct Target {
    int errorNumber = 0;
    std::string path;  // the file that is finally written
    bool exists = false;
    struct stat status {};
};

// Follows symbolic links from `path` to the file they lead to, which need
// not exist yet (a dangling link names the file to create).
Target ResolveTarget(const std::string& path) {
    Target target;
    target.path = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        if (::lstat(target.path.c_str(), &target.status) != 0) {
            if (errno != ENOENT) target.errorNumber = errno;
            return target;
        }
        if (!S_ISLNK(target.status.st_mode)) {
            target.exists = true;
            return target;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(target.path.c_str(), link.data(), link.size());
        if (length < 0) {
            target.errorNumber = errno;
            return target;
        }
        if (static_cast<size_t>(length) >= link.size()) {
            target.errorNumber = ENAMETOOLONG;
            return target;
        }
        link.resize(static_cast<size_t>(length));
        if (link.empty() || link.front() != '/') {
            const std::string folder = DirectoryOf(target.path);
            link = (folder.back() == '/' ? folder : folder + "/") + link;
        }
        target.path = std::move(link);
    }
    target.errorNumber = ELOOP;
    return target;
}

unsigned NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

// Reserves `bytes` for the file without changing its length. Returns 0, or
// the errno that says the disk cannot hold the output.
int ReserveSpace(int fd, uint64_t bytes) {
    if (bytes == 0) return 0;
    int result = 0;
    do {
        result = ActiveFileCalls().fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    } while (result != 0 && errno == EINTR);
    if (result == 0) return 0;
    const int error = errno;
    // Only a lack of room is fatal; a file system that cannot reserve just
    // shows a full disk later, on write.
    if (error == ENOSPC || error == EFBIG || error == EDQUOT || error == EIO) return error;
    return 0;
}

}  // namespace

std::array<uint8_t, kWaveHeaderBytes> EncodeWaveHeader(const WaveFormatInfo& info) {
    std::array<uint8_t, kWaveHeaderBytes> header{};
    const auto dataSize = static_cast<uint32_t>(info.dataSize);
    PutId(&header[0], "RIFF");
    PutLe32(&header[4], dataSize + kRiffSizeBeyondData);
    PutId(&header[8], "WAVE");
    PutId(&header[12], "fmt ");
    PutLe32(&header[16], kFmtChunkBytes);
    PutLe16(&header[20], info.formatTag);
    PutLe16(&header[22], info.channels);
    PutLe32(&header[24], static_cast<uint32_t>(info.sampleRate));
    PutLe32(&header[28], info.byteRate);
    PutLe16(&header[32], info.blockAlign);
    PutLe16(&header[34], info.bitsPerSample);
    PutId(&header[36], "data");
    PutLe32(&header[40], dataSize);
    return header;
}

WaveOutput::WaveOutput(WaveOutput&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      targetPath_(std::move(other.targetPath_)),
      tempPath_(std::exchange(other.tempPath_, {})),
      mode_(other.mode_),
      end_(other.end_) {}

WaveOutput& WaveOutput::operator=(WaveOutput&& other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        targetPath_ = std::move(other.targetPath_);
        tempPath_ = std::exchange(other.tempPath_, {});
        mode_ = other.mode_;
        end_ = other.end_;
    }
    return *this;
}

WaveOutput::~WaveOutput() { Discard(); }

void WaveOutput::Discard() {
    // The temporary file is thrown away, so how its close went does not matter.
    if (fd_ >= 0) (void)ActiveFileCalls().close(std::exchange(fd_, -1));
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    end_ = 0;
}

OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes) {
    OutputOpenResult result;
    if (path.empty()) {
        result.error = CreateError(path, ENOENT);
        return result;
    }
    const Target target = ResolveTarget(path);
    if (target.errorNumber != 0) {
        result.error = CreateError(path, target.errorNumber);
        return result;
    }
    if (target.path.back() == '/') {
        result.error = CreateError(path, EISDIR);
        return result;
    }
    unsigned mode = 0;
    if (target.exists) {
        if (S_ISDIR(target.status.st_mode)) {
            result.error = CreateError(path, EISDIR);
            return result;
        }
        if (!S_ISREG(target.status.st_mode)) {
            result.error = CreateError(path, EINVAL, "not a regular file");
            return result;
        }
        if (ActiveFileCalls().access(target.path.c_str(), W_OK) != 0) {
            result.error = CreateError(path, errno);
            return result;
        }
        mode = target.status.st_mode & 07777u;
    } else {
        mode = NewFileMode();
    }

    std::string tempPath = TempPattern(target.path);
    const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        result.error = CreateError(path, errno);
        return result;
    }
    WaveOutput& output = result.output;
    output.fd_ = fd;
    output.path_ = path;
    output.targetPath_ = target.path;
    output.tempPath_ = std::move(tempPath);
    output.mode_ = mode;
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        result.error = CreateError(path, errno);
        output.Discard();
        return result;
    }
    if (const int error = ReserveSpace(fd, expectedBytes); error != 0) {
        result.error = CreateError(path, error);
        output.Discard();
        return result;
    }
    return result;
}

IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info) {
    if (!output.IsOpen()) return {IoError::Operation::Write, output.path_, EBADF, {}};
    const auto header = EncodeWaveHeader(info);
    int error = 0;
    if (::lseek(output.fd_, 0, SEEK_SET) < 0) error = errno;
    if (error == 0) error = WriteFully(output.fd_, header);
    if (error == 0) {
        // Samples go on after whatever was written before, header included.
        output.end_ = std::max<uint64_t>(output.end_, kWaveHeaderBytes);
        if (::lseek(output.fd_, static_cast<off_t>(output.end_), SEEK_SET) < 0) error = errno;
    }
    if (error == 0) return {};
    IoError failure{IoError::Operation::Write, output.path_, error, {}};
    output.Discard();
    return failure;
}

IoError WriteWaveSamples(WaveOutput& output, std::span<const uint8_t> samples) {
    if (!output.IsOpen()) return {IoError::Operation::Write, output.path_, EBADF, {}};
    if (const int error = WriteFully(output.fd_, samples); error != 0) {
        IoError failure{IoError::Operation::Write, output.path_, error, {}};
        output.Discard();
        return failure;
    }
    output.end_ += samples.size();
    return {};
}

IoError CommitWaveOutput(WaveOutput& output) {
    IoError failure{IoError::Operation::Commit, output.path_, 0, {}};
    if (!output.IsOpen()) {
        failure.errorNumber = EBADF;
        return failure;
    }
    // Drops any reserved space the samples did not use.
    if (::ftruncate(output.fd_, static_cast<off_t>(output.end_)) != 0) {
        failure.errorNumber = errno;
        output.Discard();
        return failure;
    }
    // A failed close can mean data never reached the disk: the output is not kept.
    if (ActiveFileCalls().close(std::exchange(output.fd_, -1)) != 0) {
        failure.errorNumber = errno;
        output.Discard();
        return failure;
    }
    if (ActiveFileCalls().rename(output.tempPath_.c_str(), output.targetPath_.c_str()) != 0) {
        failure.errorNumber = errno;
        output.Discard();
        return failure;
    }
    output.tempPath_.clear();
    output.end_ = 0;
    return {};
}

}  // namespace stereotools
