#pragma once

#include "Descriptor.h"
#include "FileIo.h"

#include <cstdint>
#include <span>
#include <string>

namespace stereotools {

// What starting and committing an output does when a file of its name exists.
enum class ExistingTarget {
    Replace,  // put the new file in its place
    Refuse,   // fail with EEXIST and leave it alone, also when it appears while the output is written
};

// How a folder lets a complete output take its name without replacing a
// file that took the name meanwhile, found when the output is started.
enum class CommitWay {
    RenameNoReplace,  // renameat2 with RENAME_NOREPLACE
    Link,             // a hard link, which never replaces, then the temporary name removed
    CheckThenRename,  // the name found free, then a plain rename (exFAT through FUSE)
};

// A file being written: a temporary file beside the file it will replace
// that becomes that file only on Commit. Until then the target, if it exists,
// is untouched; an OutputFile destroyed or discarded uncommitted removes its
// temporary file, and so does a crash (RemoveUnfinishedOutputs). Move-only.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    // Returns the name as the user gave it.
    [[nodiscard]] const std::string& Path() const { return path_; }
    // Returns the length the committed file will have.
    [[nodiscard]] uint64_t Length() const { return length_; }
    // Returns how Commit puts an output started with ExistingTarget::Refuse in place.
    [[nodiscard]] CommitWay Way() const { return way_; }

    // Writes `bytes` at the file position and moves it past them; the
    // length grows to cover them. Returns an empty error, or a Write error
    // naming the output (which the caller then discards).
    [[nodiscard]] IoError Write(std::span<const uint8_t> bytes);
    // Writes `bytes` at `offset`, leaving the file position and the length
    // alone, so that several threads may write one output at once. Errors as for Write.
    [[nodiscard]] IoError WriteAt(uint64_t offset, std::span<const uint8_t> bytes) const;
    // Moves the file position to `offset`. Errors as for Write.
    [[nodiscard]] IoError Seek(uint64_t offset);
    // Makes the committed file end at `length` and moves the file position
    // there. Errors as for Write.
    [[nodiscard]] IoError EndAt(uint64_t length);

    // Closes the output and puts it in place of the target (exactly Length()
    // bytes; a symbolic link written through to the file it leads to; other
    // hard links of the old file keep the old bytes). An output opened with
    // ExistingTarget::Refuse fails (Commit error, EEXIST) if a file of its
    // name has appeared since, and never replaces it. On failure the target
    // stays as it was and the temporary file is removed.
    [[nodiscard]] IoError Commit();
    // Removes the temporary file and leaves the target as it was.
    void Discard();

private:
    friend struct OutputFileResult OpenOutputFile(const std::string& path, uint64_t expectedBytes,
                                                  ExistingTarget existing);
    int fd_ = -1;            // the temporary file
    Descriptor folder_;      // the folder that holds the target and the temporary file
    std::string path_;       // as the user gave it
    std::string name_;       // the target's name in folder_ (a link's target, not the link)
    std::string tempName_;   // the temporary file's name in folder_; empty once gone
    uint64_t position_ = 0;  // the file position
    uint64_t length_ = 0;    // the committed file's length
    ExistingTarget existing_ = ExistingTarget::Replace;
    CommitWay way_ = CommitWay::RenameNoReplace;
    int record_ = -1;  // the temporary file's UnfinishedOutputs slot, or -1
};

struct OutputFileResult {
    IoError error;
    OutputFile file;
    explicit operator bool() const { return !error; }
};

// Starts the output `path`: creates a temporary file in the folder of the
// file it will replace, gives it that file's owner, group, extended
// attributes (ACLs among them, and none it lacked) and permission bits, and
// reserves `expectedBytes` where the file system allows, so a full disk
// shows before any byte is written. A symbolic link is followed only as the
// kernel follows it for this user, and only to an existing file. Fails
// (Create error) for an empty name, a missing or unwritable folder, a name
// that is a directory, a device or a dangling link, or an existing file that
// this user may not write or may not replace (another user's file in a
// sticky folder, an append-only or immutable file), so the commit's rename
// is not refused for them after the bytes have been written
// (CheckOutputFile). With `existing` Refuse, also fails (Create error,
// EEXIST) when the name stands for an existing file, or with the folder's
// refusal when it has no way to commit without replacing.
[[nodiscard]] OutputFileResult OpenOutputFile(const std::string& path, uint64_t expectedBytes,
                                              ExistingTarget existing = ExistingTarget::Replace);

// Returns the Create error that OpenOutputFile would give `path` before it
// makes any file, or an empty error when an output may be made there; makes
// no file itself. What it cannot foresee (a full disk, a folder changed in
// between) OpenOutputFile still reports.
[[nodiscard]] IoError CheckOutputFile(const std::string& path);

}  // namespace stereotools
