#include "support/TestWave.h"
#include "system/OutputFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using stereotools::CommitWay;
using stereotools::ExistingTarget;
using stereotools::FileCalls;
using stereotools::IoError;
using stereotools::OpenOutputFile;
using testwave::Bytes;

using Op = IoError::Operation;

// Calls of a file system without RENAME_NOREPLACE and hard links, as exFAT
// through FUSE answers them; `renameError` makes plain renames fail too.
struct NoLinks {
    static inline int renameError = 0;
    static int RenameAt2(int, const char*, int, const char*, unsigned) {
        errno = EINVAL;
        return -1;
    }
    static int LinkAt(int, const char*, int, const char*, int) {
        errno = EPERM;
        return -1;
    }
    static int RenameAt(int fromFolder, const char* from, int toFolder, const char* to) {
        if (renameError == 0) return ::renameat(fromFolder, from, toFolder, to);
        errno = renameError;
        return -1;
    }
    static FileCalls Calls(int failingRename = 0) {
        renameError = failingRename;
        FileCalls calls = stereotools::SystemFileCalls();
        calls.renameat2 = RenameAt2;
        calls.linkat = LinkAt;
        calls.renameat = RenameAt;
        return calls;
    }
};

// Writes `bytes` as a new file `path` that must not replace one, and commits it.
IoError WriteNew(const std::string& path, const Bytes& bytes) {
    auto opened = OpenOutputFile(path, bytes.size(), ExistingTarget::Refuse);
    if (!opened) return opened.error;
    if (IoError error = opened.file.Write(bytes)) return error;
    return opened.file.Commit();
}

class CommitWithoutReplacing : public testwave::WithTempFolder {};

TEST_F(CommitWithoutReplacing, UsesRenameNoReplaceWhereTheFileSystemHasIt) {
    auto opened = OpenOutputFile(folder.Path("a.wav"), 4, ExistingTarget::Refuse);
    ASSERT_TRUE(opened) << opened.error.Describe();
    EXPECT_EQ(opened.file.Way(), CommitWay::RenameNoReplace);
    EXPECT_EQ(folder.Names().size(), 1u) << "the probe leaves only the temporary file";
}

TEST_F(CommitWithoutReplacing, FallsBackToCheckThenRenameWithoutLinks) {
    testwave::ScopedFileCalls fake(NoLinks::Calls());
    auto opened = OpenOutputFile(folder.Path("a.wav"), 4, ExistingTarget::Refuse);
    ASSERT_TRUE(opened) << opened.error.Describe();
    EXPECT_EQ(opened.file.Way(), CommitWay::CheckThenRename) << "found when the output starts";
    EXPECT_EQ(folder.Names().size(), 1u);
    ASSERT_FALSE(opened.file.Write(Bytes{1, 2, 3, 4}));
    const IoError error = opened.file.Commit();
    EXPECT_FALSE(error) << error.Describe();
    EXPECT_EQ(folder.Read("a.wav"), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.wav"});
}

TEST_F(CommitWithoutReplacing, StillRefusesANameTakenWhileWriting) {
    testwave::ScopedFileCalls fake(NoLinks::Calls());
    auto opened = OpenOutputFile(folder.Path("a.wav"), 4, ExistingTarget::Refuse);
    ASSERT_TRUE(opened) << opened.error.Describe();
    ASSERT_FALSE(opened.file.Write(Bytes{1, 2, 3, 4}));
    folder.Write("a.wav", Bytes{9});
    const IoError error = opened.file.Commit();
    EXPECT_EQ(error.operation, Op::Commit);
    EXPECT_EQ(error.errorNumber, EEXIST);
    EXPECT_EQ(folder.Read("a.wav"), Bytes{9}) << "the other program's file stays";
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.wav"});
}

TEST_F(CommitWithoutReplacing, RefusesAFolderWithNoWayBeforeAnythingIsWritten) {
    testwave::ScopedFileCalls fake(NoLinks::Calls(EPERM));
    auto opened = OpenOutputFile(folder.Path("a.wav"), 4, ExistingTarget::Refuse);
    EXPECT_EQ(opened.error.operation, Op::Create);
    EXPECT_EQ(opened.error.errorNumber, EPERM);
    EXPECT_TRUE(folder.Names().empty());
}

// The exFAT volume recorders' SD cards carry, through FUSE: no
// RENAME_NOREPLACE, no hard links. Needs root, /dev/fuse, a loop device,
// exfatprogs and exfat-fuse.
class ExfatVolume : public testwave::WithTempFolder {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
        if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
        const std::string image = folder.Path("card.img");
        mountPoint = folder.Path("card");
        ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
        const std::string make = "truncate -s 8M '" + image + "' && mkfs.exfat '" + image + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) GTEST_SKIP() << "mkfs.exfat (exfatprogs) is missing";
        // exfat-fuse run by root mounts a block device, not an image file.
        FILE* loop = ::popen(("losetup -f --show '" + image + "' 2>/dev/null").c_str(), "r");
        char name[64] = {};
        if (loop != nullptr) {
            if (std::fgets(name, sizeof name, loop) == nullptr) name[0] = '\0';
            ::pclose(loop);
        }
        device = name;
        if (!device.empty() && device.back() == '\n') device.pop_back();
        if (device.empty()) GTEST_SKIP() << "no loop device";
        const std::string mount = "mount.exfat-fuse '" + device + "' '" + mountPoint + "' >/dev/null 2>&1";
        if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "mount.exfat-fuse (exfat-fuse) cannot mount";
        mounted = true;
    }
    void TearDown() override {
        if (mounted) (void)std::system(("umount '" + mountPoint + "'").c_str());
        if (!device.empty()) (void)std::system(("losetup -d '" + device + "'").c_str());
    }
    std::string mountPoint;
    std::string device;
    bool mounted = false;
};

TEST_F(ExfatVolume, TakesNewOutputsAndStillRefusesToReplace) {
    const std::string path = mountPoint + "/a left channel.wav";
    const IoError written = WriteNew(path, Bytes{1, 2, 3});
    ASSERT_FALSE(written) << written.Describe();
    EXPECT_EQ(testwave::TempFolder::NamesIn(mountPoint), std::vector<std::string>{"a left channel.wav"});
    const IoError again = WriteNew(path, Bytes{4});
    EXPECT_EQ(again.errorNumber, EEXIST);
    auto replaced = OpenOutputFile(path, 1, ExistingTarget::Replace);
    ASSERT_TRUE(replaced) << replaced.error.Describe();
    ASSERT_FALSE(replaced.file.Write(Bytes{5}));
    ASSERT_FALSE(replaced.file.Commit());
    EXPECT_EQ(testwave::TempFolder::NamesIn(mountPoint), std::vector<std::string>{"a left channel.wav"});
}

class ReplacedAccess : public testwave::WithTempFolder {};

// A file with no ACL of its own, replaced in a folder whose default ACL
// grants another user access, keeps exactly its own access.
TEST_F(ReplacedAccess, TakesNoAclFromTheFolder) {
    const std::string grant = "setfacl -d -m u:65534:rw '" + folder.Path() + "' 2>/dev/null";
    if (std::system(grant.c_str()) != 0) GTEST_SKIP() << "no ACL support here (setfacl failed)";
    const std::string path = folder.Path("take.wav");
    // The old file has no ACL of its own: the one it took from the folder goes.
    folder.Write("take.wav", Bytes{1});
    (void)::removexattr(path.c_str(), "system.posix_acl_access");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_LT(::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0), 0);

    auto opened = OpenOutputFile(path, 1);
    ASSERT_TRUE(opened) << opened.error.Describe();
    ASSERT_FALSE(opened.file.Write(Bytes{2}));
    ASSERT_FALSE(opened.file.Commit());

    EXPECT_EQ(folder.Read("take.wav"), Bytes{2});
    EXPECT_LT(::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0), 0)
        << "the replaced file has no ACL, as before";
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u) << "the owning group keeps its read access, nobody else gains any";
}

}  // namespace
