#include "WaveWriter.h"

#include "UnfinishedOutputs.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

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
// The temporary name is "." + base + "." + six random symbols.
constexpr size_t kTempNameExtraBytes = 8;
// Temporary names may be this long even where the name they stand for is shorter.
constexpr size_t kShortestTempName = 16;
// Random names tried before giving up on a folder full of them.
constexpr int kTempNameAttempts = 100;
// Reads of an extended attribute that keeps changing size before giving up.
constexpr int kAttributeAttempts = 4;

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
    // Writes to `fd`, the output `path`, through a block no larger than the
    // `expectedBytes` it will take.
    BlockWriter(int fd, const std::string& path, uint64_t expectedBytes)
        : fd_(fd),
          path_(path),
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

    // Takes `chunk` of `source`: its head, its body (bytes the file lacks are
    // zero) and the pad byte after an odd body.
    [[nodiscard]] IoError PutChunk(const InputFile& source, const WaveChunk& chunk) {
        std::array<uint8_t, kChunkHeadBytes> head{};
        std::memcpy(head.data(), chunk.id.data(), std::min<size_t>(chunk.id.size(), 4));
        PutLe32(&head[4], chunk.size);
        if (IoError error = Put(head); error) return error;
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
        const int error = WriteFully(fd_, {block_.get(), used_});
        used_ = 0;
        if (error != 0) return {IoError::Operation::Write, path_, error, {}};
        return {};
    }

private:
    IoError Ready() const {
        if (!block_) return {IoError::Operation::Memory, path_, ENOMEM, {}};
        return {};
    }
    IoError MakeRoom() { return used_ == capacity_ ? Flush() : IoError{}; }

    int fd_;
    const std::string& path_;
    size_t capacity_;
    std::unique_ptr<uint8_t[]> block_;
    size_t used_ = 0;
    uint64_t taken_ = 0;
};

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

// An open descriptor, closed when the object goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Reset(); }

    [[nodiscard]] int Get() const { return fd_; }
    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
    // Nothing was written through these descriptors, so how close goes is moot.
    void Reset() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

// Where an output goes: the folder that holds (or will hold) the target,
// the target's name in it, and the file it replaces, if any.
struct Place {
    int errorNumber = 0;
    const char* detail = "";
    Descriptor folder;
    std::string name;
    Descriptor old;  // the file to be replaced, read-only; not open for a new file
    struct stat oldStatus {};
};

Place Refused(int errorNumber, const char* detail = "") {
    Place place;
    place.errorNumber = errorNumber;
    place.detail = detail;
    return place;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Returns `path` opened as a folder to work in by name (not to read), or a
// closed descriptor with errno set.
Descriptor OpenFolder(const std::string& path) {
    return Descriptor(ActiveFileCalls().openat(AT_FDCWD, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
}

// Returns `place` moved from a symbolic link to the folder and name of the
// file the kernel opened through it, as the kernel itself records them;
// refused unless that name in that folder still is that very file.
Place BesideOpenedFile(Place place) {
    const std::string link = "/proc/self/fd/" + std::to_string(place.old.Get());
    std::string opened(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.c_str(), opened.data(), opened.size());
    if (length < 0) return Refused(errno);
    if (static_cast<size_t>(length) >= opened.size()) return Refused(ENAMETOOLONG);
    opened.resize(static_cast<size_t>(length));
    if (opened.empty() || opened.front() != '/') return Refused(EAGAIN, kChangedReason);
    Descriptor folder = OpenFolder(DirectoryOf(opened));
    if (!folder.IsOpen()) return Refused(errno);
    place.folder = std::move(folder);
    place.name = BaseOf(opened);
    struct stat there {};
    if (::fstatat(place.folder.Get(), place.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(there, place.oldStatus)) {
        return Refused(EAGAIN, kChangedReason);
    }
    return place;
}

// Returns where the output `path` goes, or why it may not. The kernel walks
// every name, so a symbolic link is followed only where it would follow it
// for this user (fs.protected_symlinks refuses another user's link in a
// sticky world-writable folder); the folder and name then written are those
// of the file it opened. Special files are told from their status and never
// opened.
Place FindPlace(const std::string& path) {
    if (path.empty()) return Refused(ENOENT);
    if (path.back() == '/') return Refused(EISDIR);
    Place place;
    place.folder = OpenFolder(DirectoryOf(path));
    if (!place.folder.IsOpen()) return Refused(errno);
    place.name = BaseOf(path);

    struct stat named {};
    if (::fstatat(place.folder.Get(), place.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return place;
        return Refused(errno);
    }
    const bool isLink = S_ISLNK(named.st_mode);
    // A dangling link is not written through: it may point anywhere, and
    // whoever planted it chose where the new file would appear.
    if (isLink && ::fstatat(place.folder.Get(), place.name.c_str(), &named, 0) != 0) {
        return errno == ENOENT ? Refused(ENOENT, kDanglingLinkReason) : Refused(errno);
    }
    if (S_ISDIR(named.st_mode)) return Refused(EISDIR);
    if (!S_ISREG(named.st_mode)) return Refused(EINVAL, kNotRegularFileReason);

    place.old = Descriptor(ActiveFileCalls().openat(place.folder.Get(), place.name.c_str(),
                                                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
    if (!place.old.IsOpen()) return Refused(errno);
    if (::fstat(place.old.Get(), &place.oldStatus) != 0) return Refused(errno);
    if (!S_ISREG(place.oldStatus.st_mode) || !SameFile(place.oldStatus, named)) return Refused(EAGAIN, kChangedReason);
    if (isLink) return BesideOpenedFile(std::move(place));
    return place;
}

// Returns whether this process holds `capability` in its effective set.
bool HoldsCapability(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return ::geteuid() == 0;
    return ((data[capability / 32].effective >> (capability % 32)) & 1u) != 0;
}

// Returns the errno with which the kernel would refuse to rename a new file
// over `place`'s old one, or 0: the checks the kernel makes on the file it
// deletes, so that they refuse before the job rather than after it.
int ReplaceRefusal(const Place& place) {
    // A file this user may not write is left alone, as a read-only file asks.
    if (ActiveFileCalls().faccessat(place.folder.Get(), place.name.c_str(), W_OK,
                                    AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    int flags = 0;
    if (::ioctl(place.old.Get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
        return EPERM;
    }
    // In a sticky folder only the file's owner, the folder's owner or a
    // holder of CAP_FOWNER may delete, and so replace, a file.
    struct stat folder {};
    if (::fstat(place.folder.Get(), &folder) != 0) return errno;
    const uid_t user = ::geteuid();
    if ((folder.st_mode & S_ISVTX) != 0 && place.oldStatus.st_uid != user && folder.st_uid != user &&
        !HoldsCapability(CAP_FOWNER)) {
        return EPERM;
    }
    return 0;
}

// Returns where the output `path` goes when an output may be made there:
// the folder takes new files and a file to be replaced may be replaced.
// Otherwise sets `error` to the Create error that refuses it.
Place CheckedPlace(const std::string& path, IoError& error) {
    Place place = FindPlace(path);
    if (place.errorNumber != 0) {
        error = CreateError(path, place.errorNumber, place.detail);
        return place;
    }
    // The output is made under a temporary name in the folder first.
    if (ActiveFileCalls().faccessat(place.folder.Get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        error = CreateError(path, errno);
        return place;
    }
    if (place.old.IsOpen()) {
        if (const int refusal = ReplaceRefusal(place); refusal != 0) error = CreateError(path, refusal);
    }
    return place;
}

// Returns six letters and digits drawn at random.
std::string RandomSuffix() {
    static constexpr char kSymbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::array<uint8_t, 6> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) != static_cast<ssize_t>(bytes.size())) {
        // Without the random pool, the clock and a counter still differ from call to call.
        // Atomic: outputs may be started on several threads at once.
        static std::atomic<uint64_t> counter{0};
        timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t mix = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull + ++counter + ::getpid();
        for (auto& byte : bytes) byte = static_cast<uint8_t>(mix >>= 8);
    }
    std::string suffix;
    for (const uint8_t byte : bytes) suffix += kSymbols[byte % (sizeof(kSymbols) - 1)];
    return suffix;
}

// Returns a hidden name for the temporary file of `name`: "." + name + "." +
// six random symbols, with `name` shortened (never inside a UTF-8 sequence)
// so that the whole is no longer than `name` itself, or 16 bytes for short
// names. A name the folder can hold therefore always leaves room for its
// temporary file, whatever the file system's limit.
std::string TemporaryName(const std::string& name) {
    const size_t length = std::clamp<size_t>(name.size(), kShortestTempName, NAME_MAX);
    std::string base = name;
    const size_t room = length - kTempNameExtraBytes;
    if (base.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0u) == 0x80u) --cut;
        base.resize(cut);
    }
    return "." + base + "." + RandomSuffix();
}

// Creates the temporary file beside `place`'s target with permission bits
// `mode` (less the umask or the folder's default ACL). Returns its
// descriptor and name, or -1 with errno set.
int CreateTemporary(const Place& place, mode_t mode, std::string& tempName) {
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        tempName = TemporaryName(place.name);
        const int fd = ActiveFileCalls().openat(place.folder.Get(), tempName.c_str(),
                                                O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Gives `fd` the owner and group in `old` as far as this user may: root
// can; another user may still keep the group when a member of it. Returns
// 0, or an errno that is not a refusal.
int KeepOwner(int fd, const struct stat& old) {
    const auto refused = [](int error) { return error == EPERM || error == EINVAL; };
    if (ActiveFileCalls().fchown(fd, old.st_uid, old.st_gid) == 0) return 0;
    if (!refused(errno)) return errno;
    if (ActiveFileCalls().fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0) return 0;
    return refused(errno) ? 0 : errno;
}

// Returns whether `error` says the system does not let this user, or this
// file system, have an extended attribute: such an attribute is left out.
bool AttributeRefused(int error) { return error == EPERM || error == EACCES || error == ENOTSUP; }

// Reads the attribute `name` of `fd` into `value`. Returns its size, or -1
// with errno set.
ssize_t ReadAttribute(int fd, const char* name, std::vector<char>& value) {
    for (int attempt = 0; attempt < kAttributeAttempts; ++attempt) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size <= 0) return size;
        value.resize(static_cast<size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        // ERANGE: the attribute grew between the two calls.
        if (got >= 0 || errno != ERANGE) return got;
    }
    errno = ERANGE;
    return -1;
}

// Copies the extended attributes of `from` to `to`; ACLs are among them
// (system.posix_acl_access). Returns 0, or the errno of a failure other than
// the system refusing an attribute.
int CopyAttributes(int from, int to) {
    std::vector<char> names;
    for (int attempt = 0;; ++attempt) {
        const ssize_t size = ::flistxattr(from, nullptr, 0);
        if (size < 0) return AttributeRefused(errno) ? 0 : errno;
        if (size == 0) return 0;
        names.resize(static_cast<size_t>(size));
        const ssize_t got = ::flistxattr(from, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            break;
        }
        if (errno != ERANGE || attempt + 1 == kAttributeAttempts) return errno;
    }
    std::vector<char> value;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        const ssize_t size = ReadAttribute(from, name, value);
        if (size < 0) {
            // ENODATA: removed since the list was read.
            if (errno == ENODATA || AttributeRefused(errno)) continue;
            return errno;
        }
        if (::fsetxattr(to, name, value.data(), static_cast<size_t>(size), 0) != 0 && !AttributeRefused(errno)) {
            return errno;
        }
    }
    return 0;
}

// Makes the new file `fd` stand in for `old` in all but its bytes: owner and
// group, extended attributes, then permission bits (last, because a change
// of owner clears the set-user-ID and set-group-ID bits). Returns 0 or an errno.
int TakeOver(int fd, const Place& place) {
    if (const int error = KeepOwner(fd, place.oldStatus); error != 0) return error;
    if (const int error = CopyAttributes(place.old.Get(), fd); error != 0) return error;
    if (::fchmod(fd, place.oldStatus.st_mode & 07777) != 0) return errno;
    return 0;
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

// Gives the complete file `tempName` in `folder` the name `name`, unless
// that name exists; clears `tempName` once nothing is left under it.
// Returns 0, or the errno of the refusal (EEXIST when the name exists).
int PlaceWithoutReplacing(int folder, std::string& tempName, const std::string& name) {
    if (ActiveFileCalls().renameat2(folder, tempName.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) {
        tempName.clear();
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system that cannot rename without replacing (NFS among them)
    // still refuses a hard link over an existing name.
    if (::linkat(folder, tempName.c_str(), folder, name.c_str(), 0) != 0) return errno;
    return 0;
}

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

std::vector<uint8_t> EncodeWaveHeader(const WaveFormatInfo& info, WaveContainer container) {
    const WaveLayout layout = LayOutWave(info, {}, container);
    std::vector<uint8_t> header = EncodeFormHead(info, layout);
    const auto fmt = EncodeFmtChunk(info);
    const auto data = EncodeDataHead(info, layout);
    header.insert(header.end(), fmt.begin(), fmt.end());
    header.insert(header.end(), data.begin(), data.end());
    return header;
}

std::vector<uint8_t> EncodeWaveHeader(const WaveFormatInfo& info) {
    return EncodeWaveHeader(info, LayOutWave(info).container);
}

WaveOutput::WaveOutput(WaveOutput&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      folder_(std::exchange(other.folder_, -1)),
      path_(std::move(other.path_)),
      name_(std::move(other.name_)),
      tempName_(std::exchange(other.tempName_, {})),
      end_(std::exchange(other.end_, 0)),
      samplesAt_(std::exchange(other.samplesAt_, 0)),
      existing_(other.existing_),
      record_(std::exchange(other.record_, -1)) {}

WaveOutput& WaveOutput::operator=(WaveOutput&& other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::exchange(other.fd_, -1);
        folder_ = std::exchange(other.folder_, -1);
        path_ = std::move(other.path_);
        name_ = std::move(other.name_);
        tempName_ = std::exchange(other.tempName_, {});
        end_ = std::exchange(other.end_, 0);
        samplesAt_ = std::exchange(other.samplesAt_, 0);
        existing_ = other.existing_;
        record_ = std::exchange(other.record_, -1);
    }
    return *this;
}

WaveOutput::~WaveOutput() { Discard(); }

void WaveOutput::Discard() {
    // The temporary file is thrown away, so how its close went does not matter.
    if (fd_ >= 0) (void)ActiveFileCalls().close(std::exchange(fd_, -1));
    if (!tempName_.empty()) ::unlinkat(folder_, tempName_.c_str(), 0);
    tempName_.clear();
    ReleaseUnfinishedOutput(std::exchange(record_, -1));
    if (folder_ >= 0) ::close(std::exchange(folder_, -1));
    end_ = 0;
    samplesAt_ = 0;
}

IoError CheckWaveOutput(const std::string& path) {
    IoError error;
    (void)CheckedPlace(path, error);
    return error;
}

OutputOpenResult OpenWaveOutput(const std::string& path, uint64_t expectedBytes, ExistingTarget existing) {
    OutputOpenResult result;
    Place place = CheckedPlace(path, result.error);
    if (result.error) return result;
    const bool replacing = place.old.IsOpen();
    if (replacing && existing == ExistingTarget::Refuse) {
        result.error = CreateError(path, EEXIST);
        return result;
    }
    // A new file gets 0666 less the umask, or the folder's default ACL; a
    // replacing one stays private until it has taken over the old file's bits.
    std::string tempName;
    const int fd = CreateTemporary(place, replacing ? 0600 : 0666, tempName);
    if (fd < 0) {
        result.error = CreateError(path, errno);
        return result;
    }
    WaveOutput& output = result.output;
    output.fd_ = fd;
    output.folder_ = place.folder.Release();
    output.path_ = path;
    output.name_ = std::move(place.name);
    output.tempName_ = std::move(tempName);
    output.existing_ = existing;
    output.record_ = RecordUnfinishedOutput(output.folder_, output.tempName_);
    int error = replacing ? TakeOver(fd, place) : 0;
    if (error == 0) error = ReserveSpace(fd, expectedBytes);
    if (error != 0) {
        result.error = CreateError(path, error);
        output.Discard();
    }
    return result;
}

IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info) {
    return WriteWaveHeader(output, info, {}, LayOutWave(info).container);
}

IoError WriteWaveHeader(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried,
                        WaveContainer container) {
    if (!output.IsOpen()) return {IoError::Operation::Write, output.path_, EBADF, {}};
    const WaveMetadata& metadata = carried.metadata;
    if (!metadata.Empty() && carried.source == nullptr) return {IoError::Operation::Write, output.path_, EINVAL, {}};
    const WaveLayout layout = LayOutWave(info, metadata, container);
    BlockWriter writer(output.fd_, output.path_, layout.headerBytes);
    IoError failure;
    if (::lseek(output.fd_, 0, SEEK_SET) < 0) failure = {IoError::Operation::Write, output.path_, errno, {}};
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
        output.end_ = std::max<uint64_t>(output.end_, writer.Taken());
        output.samplesAt_ = output.end_;
        if (::lseek(output.fd_, static_cast<off_t>(output.end_), SEEK_SET) < 0) {
            failure = {IoError::Operation::Write, output.path_, errno, {}};
        }
    }
    if (failure) output.Discard();
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

IoError WriteWaveSamplesAt(const WaveOutput& output, uint64_t position, std::span<const uint8_t> samples) {
    if (!output.IsOpen()) return {IoError::Operation::Write, output.path_, EBADF, {}};
    if (const int error = WriteFullyAt(output.fd_, output.samplesAt_ + position, samples); error != 0) {
        return {IoError::Operation::Write, output.path_, error, {}};
    }
    return {};
}

IoError EndWaveSamples(WaveOutput& output, uint64_t bytes) {
    if (!output.IsOpen()) return {IoError::Operation::Write, output.path_, EBADF, {}};
    output.end_ = output.samplesAt_ + bytes;
    if (::lseek(output.fd_, static_cast<off_t>(output.end_), SEEK_SET) < 0) {
        IoError failure{IoError::Operation::Write, output.path_, errno, {}};
        output.Discard();
        return failure;
    }
    return {};
}

IoError WriteWaveTrailer(WaveOutput& output, const WaveFormatInfo& info, const CarriedChunks& carried) {
    if (!output.IsOpen()) return {IoError::Operation::Write, output.path_, EBADF, {}};
    const std::vector<WaveChunk>& chunks = carried.metadata.afterData;
    if (chunks.empty()) return {};
    if (carried.source == nullptr) return {IoError::Operation::Write, output.path_, EINVAL, {}};
    BlockWriter writer(output.fd_, output.path_, LayOutWave(info, carried.metadata).trailerBytes);
    IoError failure;
    if ((info.dataSize & 1u) != 0) failure = writer.Put(std::array<uint8_t, 1>{0});
    for (size_t i = 0; i < chunks.size() && !failure; ++i) failure = writer.PutChunk(*carried.source, chunks[i]);
    if (!failure) failure = writer.Flush();
    if (failure) {
        output.Discard();
        return failure;
    }
    output.end_ += writer.Taken();
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
    if (output.existing_ == ExistingTarget::Refuse) {
        failure.errorNumber = PlaceWithoutReplacing(output.folder_, output.tempName_, output.name_);
        // Whatever is left under the temporary name (the output failed, or
        // it is a second link to the placed file) goes.
        output.Discard();
        return failure.errorNumber == 0 ? IoError{} : failure;
    }
    if (ActiveFileCalls().renameat(output.folder_, output.tempName_.c_str(), output.folder_, output.name_.c_str()) !=
        0) {
        failure.errorNumber = errno;
        output.Discard();
        return failure;
    }
    output.tempName_.clear();
    output.Discard();
    return {};
}

}  // namespace stereotools
