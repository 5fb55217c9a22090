#include "FileIo.h"

#include "Paths.h"
#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stereotools {

namespace {

// Linux moves at most this many bytes in one read or write call; asking for
// no more keeps every call's request within what any kernel accepts.
constexpr size_t kMaxTransferBytes = 0x7ffff000;

// The verb of each failing operation in "Cannot VERB 'NAME': REASON".
constexpr TextEntry<IoError::Operation> kOperationVerbs[] = {
    {IoError::Operation::Open, "open"},   {IoError::Operation::Read, "read"},    {IoError::Operation::Create, "create"},
    {IoError::Operation::Write, "write"}, {IoError::Operation::Commit, "write"},
};

IoError OpenError(const std::string& path, int errorNumber, std::string detail = {}) {
    return {IoError::Operation::Open, path, errorNumber, std::move(detail)};
}

}  // namespace

std::string IoError::Describe() const {
    if (operation == Operation::None) return {};
    if (operation == Operation::Memory) return "Not enough memory to process '" + path + "'  ";
    const std::string reason = detail.empty() ? std::strerror(errorNumber) : detail;
    return std::string("Cannot ") + TextOf(kOperationVerbs, operation) + " '" + path + "': " + reason + "  ";
}

FileCalls SystemFileCalls() {
    // ::openat takes its mode as a variadic argument, so it needs a fixed-arity wrapper.
    const auto openAt = [](int folder, const char* name, int flags, mode_t mode) {
        return ::openat(folder, name, flags, mode);
    };
    return {::read,     ::pread,     ::write,  ::pwrite,    ::fallocate, ::close,
            ::renameat, ::renameat2, ::linkat, ::faccessat, openAt,      ::fchown};
}

FileCalls& ActiveFileCalls() {
    static FileCalls calls = SystemFileCalls();
    return calls;
}

int64_t ReadFully(int fd, uint64_t offset, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        const size_t request = std::min(out.size() - done, kMaxTransferBytes);
        const ssize_t got = ActiveFileCalls().pread(fd, out.data() + done, request, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

namespace {

// Writes all of `bytes` through `put(data, count, done)`, which writes
// `count` bytes at `data`, the `done` bytes before them being written;
// retries short transfers and EINTR. Returns 0, or the errno of the failing
// call.
template <typename Put>
int WriteAll(std::span<const uint8_t> bytes, Put put) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t request = std::min(bytes.size() - done, kMaxTransferBytes);
        const ssize_t written = put(bytes.data() + done, request, done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        // A write that moves nothing would repeat forever; no room is the
        // only reason a regular file gives for it.
        if (written == 0) return ENOSPC;
        done += static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace

int WriteFully(int fd, std::span<const uint8_t> bytes) {
    return WriteAll(bytes, [fd](const uint8_t* data, size_t count, size_t) {
        return ActiveFileCalls().write(fd, data, count);
    });
}

int WriteFullyAt(int fd, uint64_t offset, std::span<const uint8_t> bytes) {
    return WriteAll(bytes, [fd, offset](const uint8_t* data, size_t count, size_t done) {
        return ActiveFileCalls().pwrite(fd, data, count, static_cast<off_t>(offset + done));
    });
}

InputFile::~InputFile() { Close(); }

int64_t InputFile::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
    if (!fd_.IsOpen()) {
        errno = EBADF;
        return -1;
    }
    return ReadFully(fd_.Get(), offset, out);
}

void InputFile::Close() {
    if (!fd_.IsOpen()) return;
    // Closing a file only read from loses nothing, so its result is moot.
    (void)ActiveFileCalls().close(fd_.Release());
}

InputFile InputFile::OpenAgain() const {
    InputFile again;
    if (!fd_.IsOpen()) return again;
    // The descriptor's own link names this very file, whatever its name has
    // come to stand for since; no lock is taken, as this one holds it.
    const std::string link = "/proc/self/fd/" + std::to_string(fd_.Get());
    const int fd = ActiveFileCalls().openat(AT_FDCWD, link.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0) return again;
    again.fd_ = Descriptor(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !SameFile(status, status_)) {
        again.Close();
        return again;
    }
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    again.size_ = size_;
    again.status_ = status_;
    again.path_ = path_;
    return again;
}

InputOpenResult OpenInputFile(const std::string& path) {
    InputOpenResult result;
    if (path.empty()) {
        result.error = OpenError(path, ENOENT);
        return result;
    }
    // The name alone tells a special file: opening a device can act on it
    // (a serial line's modem signals, a watchdog), so it is never opened.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) {
        result.error = OpenError(path, errno);
        return result;
    }
    if (S_ISDIR(named.st_mode)) {
        result.error = OpenError(path, EISDIR);
        return result;
    }
    if (!S_ISREG(named.st_mode)) {
        result.error = OpenError(path, EINVAL, kNotRegularFileReason);
        return result;
    }
    // O_NONBLOCK: should a FIFO have taken the name since, the open must not
    // wait for a writer; the check below then refuses it.
    const int fd = ActiveFileCalls().openat(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0) {
        result.error = OpenError(path, errno);
        return result;
    }
    InputFile& file = result.file;
    file.fd_ = Descriptor(fd);
    file.path_ = path;

    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        result.error = OpenError(path, errno);
        file.Close();
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.error = OpenError(path, EINVAL, kNotRegularFileReason);
        file.Close();
        return result;
    }
    if (!SameFile(status, named)) {
        result.error = OpenError(path, EAGAIN, kChangedReason);
        file.Close();
        return result;
    }
    // A shared lock: readers do not keep each other out, and NFS grants it on
    // a read-only descriptor (an exclusive one there fails with EBADF).
    int lockResult = 0;
    do {
        lockResult = ::flock(fd, LOCK_SH | LOCK_NB);
    } while (lockResult != 0 && errno == EINTR);
    if (lockResult != 0) {
        const int lockError = errno;
        result.error =
            lockError == EWOULDBLOCK ? OpenError(path, lockError, kLockedReason) : OpenError(path, lockError);
        file.Close();
        return result;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        result.error = OpenError(path, errno);
        file.Close();
        return result;
    }
    // Samples are read from start to end: a read-ahead twice the default
    // keeps a disk busy while a block is rearranged and written.
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    file.size_ = static_cast<uint64_t>(status.st_size);
    file.status_ = status;
    return result;
}

}  // namespace stereotools
