#pragma once

#include "ByteSource.h"
#include "Descriptor.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace stereotools {

// What failed on which file: the operation, the path as the user typed it
// and the errno value, or `detail` for a reason errno cannot say. Empty
// (operation None) means success.
struct IoError {
    enum class Operation { None, Open, Read, Create, Write, Commit, Memory };
    Operation operation = Operation::None;
    std::string path;
    int errorNumber = 0;
    std::string detail;  // the reason shown instead of strerror(errorNumber) when set

    explicit operator bool() const { return operation != Operation::None; }
    // Returns the message the tools show, in the system's style with two
    // trailing blanks, e.g. "Cannot write 'take 1 left channel.wav': No space left on device  ".
    [[nodiscard]] std::string Describe() const;
};

// The reasons an IoError gives, as its `detail`, where errno has no words.
inline constexpr const char* kNotRegularFileReason = "not a regular file";
inline constexpr const char* kLockedReason = "in use by another program";
inline constexpr const char* kChangedReason = "changed while it was being opened";
inline constexpr const char* kDanglingLinkReason = "not writing through a dangling symbolic link";

// The system calls that file code goes through, so a test can make any of
// them fail with the errno it needs (ENOSPC, EACCES, EIO, short transfers).
// Names are taken relative to a folder descriptor (AT_FDCWD for the working
// folder), as the *at calls take them.
struct FileCalls {
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
    int (*fallocate)(int fd, int mode, off_t offset, off_t length);
    int (*close)(int fd);
    int (*renameat)(int fromFolder, const char* from, int toFolder, const char* to);
    int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*faccessat)(int folder, const char* name, int mode, int flags);
    int (*openat)(int folder, const char* name, int flags, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
};
// Returns the calls in use (the real ones unless a test swapped them).
[[nodiscard]] FileCalls& ActiveFileCalls();
// Returns the real system calls.
[[nodiscard]] FileCalls SystemFileCalls();

// Reads from `offset` on until `out` is full, end of file, or an error; short
// transfers and EINTR are retried, so any size works in one call. Returns the
// bytes read, or -1 with errno set.
[[nodiscard]] int64_t ReadFully(int fd, uint64_t offset, std::span<uint8_t> out);
// Writes all of `bytes` at the current position; short transfers and EINTR
// are retried, so any size works in one call. Returns 0, or the errno of the
// failing call.
[[nodiscard]] int WriteFully(int fd, std::span<const uint8_t> bytes);

// Writes all of `bytes` at `offset`, leaving the file position alone, so
// that several threads may write one file at once; retries as WriteFully
// does. Returns 0, or the errno of the failing call.
[[nodiscard]] int WriteFullyAt(int fd, uint64_t offset, std::span<const uint8_t> bytes);

// An input file opened for its header and samples: a regular file, opened
// without blocking and held under a shared advisory lock, so other readers
// may read it too but a writer holding an exclusive lock keeps it from us.
// Move-only; closes on destruction.
class InputFile final : public ByteSource {
public:
    InputFile() = default;
    InputFile(InputFile&& other) noexcept = default;
    InputFile& operator=(InputFile&& other) noexcept = default;
    ~InputFile() override;

    [[nodiscard]] int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) const override;
    [[nodiscard]] uint64_t Size() const override { return size_; }
    [[nodiscard]] bool IsOpen() const { return fd_.IsOpen(); }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // Returns the file's status as it was opened: its device and inode tell
    // two names of one file apart (SameFile, PathNamesFile).
    [[nodiscard]] const struct stat& Status() const { return status_; }
    // Closes the file now; later reads fail.
    void Close();
    // Returns this file opened once more, with a read-ahead of its own for a
    // second thread that reads another part of it (two readers of one open
    // file look like random reads to the kernel). Returns a closed InputFile
    // when the system cannot reopen it; reading this one instead is as exact.
    [[nodiscard]] InputFile OpenAgain() const;

private:
    friend struct InputOpenResult OpenInputFile(const std::string& path);
    Descriptor fd_;
    uint64_t size_ = 0;
    struct stat status_ {};
    std::string path_;
};

struct InputOpenResult {
    IoError error;
    InputFile file;
    explicit operator bool() const { return !error; }
};

// Opens `path` (used whole, exactly as given) for reading. Refuses, as an
// Open error, a name that is missing, empty, not a regular file (directory,
// FIFO, device, socket: told from the name alone, so they are never opened),
// a name that came to stand for another file while it was opened, or a file
// that another process holds under an exclusive lock.
[[nodiscard]] InputOpenResult OpenInputFile(const std::string& path);

}  // namespace stereotools
