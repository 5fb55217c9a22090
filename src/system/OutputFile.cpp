#include "OutputFile.h"

#include "Paths.h"
#include "UnfinishedOutputs.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
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

// The temporary name is "." + base + "." + six random symbols.
constexpr size_t kTempNameExtraBytes = 8;
// Temporary names may be this long even where the name they stand for is shorter.
constexpr size_t kShortestTempName = 16;
// Random names tried before giving up on a folder full of them.
constexpr int kTempNameAttempts = 100;
// Reads of an extended attribute that keeps changing size before giving up.
constexpr int kAttributeAttempts = 4;
// The extended attribute that holds a file's access ACL.
constexpr const char* kAccessAcl = "system.posix_acl_access";

IoError CreateError(const std::string& path, int errorNumber, std::string detail = {}) {
    return {IoError::Operation::Create, path, errorNumber, std::move(detail)};
}

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
    Descriptor folder = OpenFolder(FolderOf(opened));
    if (!folder.IsOpen()) return Refused(errno);
    place.folder = std::move(folder);
    place.name = BaseNameOf(opened);
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
    place.folder = OpenFolder(FolderOf(path));
    if (!place.folder.IsOpen()) return Refused(errno);
    place.name = BaseNameOf(path);

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
    if (ActiveFileCalls().faccessat(place.folder.Get(), place.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) !=
        0) {
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
        timespec now{};
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
        while (cut > 0 && IsUtf8Continuation(static_cast<unsigned char>(base[cut]))) --cut;
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
        const int fd =
            ActiveFileCalls().openat(place.folder.Get(), tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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

// Removes from the new file `fd` the access ACL it inherited from its
// folder's default ACL when the old file `old` had none, so that nobody
// gains or loses access by the replacement. Returns 0 or an errno.
int DropInheritedAcl(int old, int fd) {
    if (::fgetxattr(old, kAccessAcl, nullptr, 0) >= 0 || errno != ENODATA) return 0;
    if (::fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || AttributeRefused(errno)) return 0;
    return errno;
}

// Makes the new file `fd` stand in for `old` in all but its bytes: owner and
// group, extended attributes (ACLs exactly the old file's), then permission
// bits (last, because a change of owner clears the set-user-ID and
// set-group-ID bits, and with no ACL left they are the whole access).
// Returns 0 or an errno.
int TakeOver(int fd, const Place& place) {
    if (const int error = KeepOwner(fd, place.oldStatus); error != 0) return error;
    if (const int error = CopyAttributes(place.old.Get(), fd); error != 0) return error;
    if (const int error = DropInheritedAcl(place.old.Get(), fd); error != 0) return error;
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

// Returns whether `error` from renameat2 says the file system cannot rename
// without replacing.
bool NoReplaceUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// Returns whether `error` from linkat says the file system has no hard links.
bool LinksUnsupported(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS; }

// Gives the file `from` in `folder` the name `to` as `way` does, unless that
// name exists. Returns 0, or the errno of the refusal (EEXIST when the name
// exists). After Link the file keeps the name `from` too.
int PlaceAs(CommitWay way, int folder, const std::string& from, const std::string& to) {
    switch (way) {
    case CommitWay::RenameNoReplace:
        return ActiveFileCalls().renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    case CommitWay::Link: return ActiveFileCalls().linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0 ? 0 : errno;
    case CommitWay::CheckThenRename: {
        // What mv -n does where nothing better exists: a file that takes
        // the name between this check and the rename is replaced. The
        // window is a few system calls wide, and only another program
        // writing that very name in that folder can fall into it.
        struct stat existing {};
        if (::fstatat(folder, to.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
        if (errno != ENOENT) return errno;
        return ActiveFileCalls().renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : errno;
    }
    }
    return EINVAL;
}

// Gives `from` the name `to` as PlaceAs does, starting with `way` and going
// on to the next way while the file system lacks the one tried (NFS cannot
// rename without replacing but still refuses a hard link over an existing
// name; exFAT through FUSE has neither). Sets `way` to the one that answered.
int PlaceWithoutReplacing(CommitWay& way, int folder, const std::string& from, const std::string& to) {
    int error = PlaceAs(way, folder, from, to);
    if (way == CommitWay::RenameNoReplace && NoReplaceUnsupported(error)) {
        way = CommitWay::Link;
        error = PlaceAs(way, folder, from, to);
    }
    if (way == CommitWay::Link && LinksUnsupported(error)) {
        way = CommitWay::CheckThenRename;
        error = PlaceAs(way, folder, from, to);
    }
    return error;
}

// Finds the way `folder` commits without replacing, before anything is
// written, by giving the temporary file `tempName` (of the target `name`) a
// second free name and taking it back. Returns 0, or the errno of the
// refusal when the folder has no way at all.
int ProbeCommitWay(int folder, const std::string& tempName, const std::string& name, CommitWay& way) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kTempNameAttempts && error == EEXIST; ++attempt) {
        const std::string probe = TemporaryName(name);
        // A crash while the file stands under the probe's name removes it there.
        const int slot = RecordUnfinishedOutput(folder, probe);
        way = CommitWay::RenameNoReplace;
        error = PlaceWithoutReplacing(way, folder, tempName, probe);
        if (error == 0 && way != CommitWay::Link &&
            ActiveFileCalls().renameat(folder, probe.c_str(), folder, tempName.c_str()) != 0) {
            error = errno;
        }
        if (error == 0 && way == CommitWay::Link) ::unlinkat(folder, probe.c_str(), 0);
        ReleaseUnfinishedOutput(slot);
    }
    return error;
}

}  // namespace

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      folder_(std::move(other.folder_)),
      path_(std::move(other.path_)),
      name_(std::move(other.name_)),
      tempName_(std::exchange(other.tempName_, {})),
      position_(std::exchange(other.position_, 0)),
      length_(std::exchange(other.length_, 0)),
      existing_(other.existing_),
      way_(other.way_),
      record_(std::exchange(other.record_, -1)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::exchange(other.fd_, -1);
        folder_ = std::move(other.folder_);
        path_ = std::move(other.path_);
        name_ = std::move(other.name_);
        tempName_ = std::exchange(other.tempName_, {});
        position_ = std::exchange(other.position_, 0);
        length_ = std::exchange(other.length_, 0);
        existing_ = other.existing_;
        way_ = other.way_;
        record_ = std::exchange(other.record_, -1);
    }
    return *this;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    // The temporary file is thrown away, so how its close went does not matter.
    if (fd_ >= 0) (void)ActiveFileCalls().close(std::exchange(fd_, -1));
    if (!tempName_.empty()) ::unlinkat(folder_.Get(), tempName_.c_str(), 0);
    tempName_.clear();
    ReleaseUnfinishedOutput(std::exchange(record_, -1));
    folder_.Reset();
    position_ = 0;
    length_ = 0;
}

IoError OutputFile::Write(std::span<const uint8_t> bytes) {
    if (!IsOpen()) return {IoError::Operation::Write, path_, EBADF, {}};
    if (const int error = WriteFully(fd_, bytes); error != 0) return {IoError::Operation::Write, path_, error, {}};
    position_ += bytes.size();
    length_ = std::max(length_, position_);
    return {};
}

IoError OutputFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) const {
    if (!IsOpen()) return {IoError::Operation::Write, path_, EBADF, {}};
    if (const int error = WriteFullyAt(fd_, offset, bytes); error != 0) {
        return {IoError::Operation::Write, path_, error, {}};
    }
    return {};
}

IoError OutputFile::Seek(uint64_t offset) {
    if (!IsOpen()) return {IoError::Operation::Write, path_, EBADF, {}};
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return {IoError::Operation::Write, path_, errno, {}};
    position_ = offset;
    return {};
}

IoError OutputFile::EndAt(uint64_t length) {
    if (IoError error = Seek(length); error) return error;
    length_ = length;
    return {};
}

IoError OutputFile::Commit() {
    IoError failure{IoError::Operation::Commit, path_, 0, {}};
    if (!IsOpen()) {
        failure.errorNumber = EBADF;
        return failure;
    }
    // Drops any reserved space the bytes did not use.
    if (::ftruncate(fd_, static_cast<off_t>(length_)) != 0) {
        failure.errorNumber = errno;
        Discard();
        return failure;
    }
    // A failed close can mean data never reached the disk: the output is not kept.
    if (ActiveFileCalls().close(std::exchange(fd_, -1)) != 0) {
        failure.errorNumber = errno;
        Discard();
        return failure;
    }
    if (existing_ == ExistingTarget::Refuse) {
        failure.errorNumber = PlaceWithoutReplacing(way_, folder_.Get(), tempName_, name_);
        // Only a rename leaves nothing under the temporary name; after a
        // link or a failure what is left there goes.
        if (failure.errorNumber == 0 && way_ != CommitWay::Link) tempName_.clear();
        Discard();
        return failure.errorNumber == 0 ? IoError{} : failure;
    }
    if (ActiveFileCalls().renameat(folder_.Get(), tempName_.c_str(), folder_.Get(), name_.c_str()) != 0) {
        failure.errorNumber = errno;
        Discard();
        return failure;
    }
    tempName_.clear();
    Discard();
    return {};
}

IoError CheckOutputFile(const std::string& path) {
    IoError error;
    (void)CheckedPlace(path, error);
    return error;
}

OutputFileResult OpenOutputFile(const std::string& path, uint64_t expectedBytes, ExistingTarget existing) {
    OutputFileResult result;
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
    OutputFile& output = result.file;
    output.fd_ = fd;
    output.folder_ = std::move(place.folder);
    output.path_ = path;
    output.name_ = std::move(place.name);
    output.tempName_ = std::move(tempName);
    output.existing_ = existing;
    output.record_ = RecordUnfinishedOutput(output.folder_.Get(), output.tempName_);
    int error = replacing ? TakeOver(fd, place) : 0;
    if (error == 0 && existing == ExistingTarget::Refuse) {
        error = ProbeCommitWay(output.folder_.Get(), output.tempName_, output.name_, output.way_);
    }
    if (error == 0) error = ReserveSpace(fd, expectedBytes);
    if (error != 0) {
        result.error = CreateError(path, error);
        output.Discard();
    }
    return result;
}

}  // namespace stereotools
