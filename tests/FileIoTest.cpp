#include "support/TestWave.h"
#include "system/FileIo.h"
#include "system/Paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using stereotools::FileCalls;
using stereotools::InputOpenResult;
using stereotools::IoError;
using stereotools::OpenInputFile;
using stereotools::ReadFully;
using stereotools::WriteFully;
using stereotools::WriteFullyAt;
using testwave::Bytes;

using Op = IoError::Operation;

// The most Linux moves in one read or write call.
constexpr size_t kLinuxTransferLimit = 0x7ffff000;

TEST(IoErrorDescribe, NamesTheFileAndTheReason) {
    struct Case {
        IoError error;
        const char* text;
    };
    const Case cases[] = {
        {{}, ""},
        {{Op::Open, "a.wav", ENOENT, {}}, "Cannot open 'a.wav': No such file or directory  "},
        {{Op::Read, "a.wav", EIO, {}}, "Cannot read 'a.wav': Input/output error  "},
        {{Op::Create, "out/x.wav", EACCES, {}}, "Cannot create 'out/x.wav': Permission denied  "},
        {{Op::Write, "take 1 left channel.wav", ENOSPC, {}},
         "Cannot write 'take 1 left channel.wav': No space left on device  "},
        {{Op::Commit, "b.wav", EIO, {}}, "Cannot write 'b.wav': Input/output error  "},
        {{Op::Memory, "big.wav", ENOMEM, {}}, "Not enough memory to process 'big.wav'  "},
        {{Op::Open, "/dev/null", EINVAL, "not a regular file"}, "Cannot open '/dev/null': not a regular file  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.error.Describe(), c.text);
        EXPECT_EQ(static_cast<bool>(c.error), c.error.operation != Op::None);
    }
}

// Fake calls that move at most kStep bytes per call, and fail every other
// call with EINTR before that, to show that both are carried through.
struct Choppy {
    static constexpr size_t kStep = 3;
    static inline bool interrupt = false;
    static inline size_t calls = 0;

    static bool Interrupted() {
        ++calls;
        interrupt = !interrupt;
        if (interrupt) errno = EINTR;
        return interrupt;
    }
    static ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) {
        if (Interrupted()) return -1;
        return ::pread(fd, buffer, std::min(count, kStep), offset);
    }
    static ssize_t Write(int fd, const void* buffer, size_t count) {
        if (Interrupted()) return -1;
        return ::write(fd, buffer, std::min(count, kStep));
    }
    static ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
        if (Interrupted()) return -1;
        return ::pwrite(fd, buffer, std::min(count, kStep), offset);
    }
    static FileCalls Calls() {
        interrupt = false;
        calls = 0;
        FileCalls fake = stereotools::SystemFileCalls();
        fake.pread = Pread;
        fake.write = Write;
        fake.pwrite = Pwrite;
        return fake;
    }
};

// Fake calls that fail with `error` as soon as they are made.
struct Failing {
    static inline int error = 0;
    static ssize_t Pread(int, void*, size_t, off_t) {
        errno = error;
        return -1;
    }
    static ssize_t Write(int, const void*, size_t) {
        errno = error;
        return -1;
    }
    static ssize_t Pwrite(int, const void*, size_t, off_t) {
        errno = error;
        return -1;
    }
    static FileCalls Calls(int failure) {
        error = failure;
        FileCalls fake = stereotools::SystemFileCalls();
        fake.pread = Pread;
        fake.write = Write;
        fake.pwrite = Pwrite;
        return fake;
    }
};

class FileTransfer : public testwave::WithTempFolder {};

TEST_F(FileTransfer, CarriesOnAfterShortTransfersAndInterruptions) {
    const Bytes bytes = testwave::CountingBytes(50);
    const std::string path = folder.Path("chopped");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    {
        testwave::ScopedFileCalls fake(Choppy::Calls());
        EXPECT_EQ(WriteFully(fd, bytes), 0);
        EXPECT_GT(Choppy::calls, 2 * bytes.size() / Choppy::kStep);

        Bytes back(bytes.size() - 7, 0);
        EXPECT_EQ(ReadFully(fd, 7, back), static_cast<int64_t>(back.size()));
        EXPECT_EQ(back, Bytes(bytes.begin() + 7, bytes.end()));

        // Past the end of the file a read gives what there is.
        Bytes tail(20, 0xEE);
        EXPECT_EQ(ReadFully(fd, 40, tail), 10);
        EXPECT_EQ(Bytes(tail.begin(), tail.begin() + 10), Bytes(bytes.begin() + 40, bytes.end()));
    }
    ::close(fd);
    EXPECT_EQ(folder.Read("chopped"), bytes);
}

// A positioned write lands at its offset whatever the file position, in
// short pieces and through interruptions, and leaves the position alone.
TEST_F(FileTransfer, WritesAtAnOffsetInPieces) {
    const Bytes bytes = testwave::CountingBytes(20, 0x40);
    const std::string path = folder.Write("placed", Bytes(8, 0xEE));
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    {
        testwave::ScopedFileCalls fake(Choppy::Calls());
        EXPECT_EQ(WriteFullyAt(fd, 30, bytes), 0);
        EXPECT_EQ(WriteFullyAt(fd, 4, Bytes(2, 0x11)), 0);
    }
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);
    ::close(fd);
    Bytes expected(50, 0);
    std::fill_n(expected.begin(), 8, 0xEE);
    std::fill_n(expected.begin() + 4, 2, 0x11);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + 30);
    EXPECT_EQ(folder.Read("placed"), expected);
}

TEST_F(FileTransfer, ReturnsTheErrorOfAFailingCall) {
    const std::string path = folder.Write("any", Bytes(10, 1));
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    {
        testwave::ScopedFileCalls fake(Failing::Calls(ENOSPC));
        EXPECT_EQ(WriteFully(fd, Bytes(4, 2)), ENOSPC);
        EXPECT_EQ(WriteFullyAt(fd, 100, Bytes(4, 2)), ENOSPC);
    }
    {
        testwave::ScopedFileCalls fake(Failing::Calls(EIO));
        Bytes out(4);
        errno = 0;
        EXPECT_EQ(ReadFully(fd, 0, out), -1);
        EXPECT_EQ(errno, EIO);
    }
    ::close(fd);
}

// Fake calls that behave like Linux with a file of kFileBytes: no call moves
// more than its limit. They check that each call continues where the last
// one ended, and never touch the buffers, so the test needs no real memory.
struct LinuxLimit {
    static inline const uint8_t* base = nullptr;
    static inline uint64_t done = 0;
    static inline uint64_t fileBytes = 0;
    static inline bool inOrder = true;

    static ssize_t Pread(int, void* buffer, size_t count, off_t offset) {
        if (static_cast<const uint8_t*>(buffer) != base + done || static_cast<uint64_t>(offset) != done) {
            inOrder = false;
        }
        const uint64_t moved = std::min<uint64_t>({count, kLinuxTransferLimit, fileBytes - done});
        done += moved;
        return static_cast<ssize_t>(moved);
    }
    static ssize_t Write(int, const void* buffer, size_t count) {
        if (static_cast<const uint8_t*>(buffer) != base + done) inOrder = false;
        const uint64_t moved = std::min<uint64_t>(count, kLinuxTransferLimit);
        done += moved;
        return static_cast<ssize_t>(moved);
    }
    static FileCalls Calls(const uint8_t* buffer, uint64_t bytes) {
        base = buffer;
        done = 0;
        fileBytes = bytes;
        inOrder = true;
        FileCalls fake = stereotools::SystemFileCalls();
        fake.pread = Pread;
        fake.write = Write;
        return fake;
    }
};

// A mapping of untouched pages: address space for a huge buffer, no memory.
struct Reserved {
    explicit Reserved(size_t bytes) : size(bytes) {
        void* mapped =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
    }
    ~Reserved() {
        if (data != nullptr) ::munmap(data, size);
    }
    Reserved(const Reserved&) = delete;
    Reserved& operator=(const Reserved&) = delete;
    std::span<uint8_t> Span() const { return {data, size}; }
    size_t size;
    uint8_t* data;
};

TEST(FileTransferLimit, MovesUpTo4GiBInOneCall) {
    const size_t bytes = 0xFFFFFFFFu;
    Reserved buffer(bytes);
    ASSERT_NE(buffer.data, nullptr);
    {
        testwave::ScopedFileCalls fake(LinuxLimit::Calls(buffer.data, bytes));
        EXPECT_EQ(WriteFully(3, buffer.Span()), 0);
        EXPECT_EQ(LinuxLimit::done, bytes);
        EXPECT_TRUE(LinuxLimit::inOrder);
    }
    {
        testwave::ScopedFileCalls fake(LinuxLimit::Calls(buffer.data, bytes - 5));
        EXPECT_EQ(ReadFully(3, 0, buffer.Span()), static_cast<int64_t>(bytes - 5));
        EXPECT_TRUE(LinuxLimit::inOrder);
    }
}

uint64_t FreeBytes(const std::string& folder) {
    struct statvfs disk {};
    return ::statvfs(folder.c_str(), &disk) == 0 ? uint64_t{disk.f_bavail} * disk.f_frsize : 0;
}

uint64_t FreeMemory() {
    struct sysinfo memory {};
    return ::sysinfo(&memory) == 0 ? uint64_t{memory.freeram} * memory.mem_unit : 0;
}

// Writes and reads back, each in one call, a block larger than one system
// call can move. The block is mostly untouched pages with marks at the
// places where a dropped or repeated transfer would show. The file goes to
// shared memory when there is room there (a disk moves 2 GiB slowly), else
// to the temporary folder.
TEST(LargeFileTransfer, RoundTripsABlockLargerThanOneCallMoves) {
    const size_t bytes = (size_t{1} << 31) + 3 * 4096 + 5;
    constexpr uint64_t kRoomNeeded = 8ull << 30;
    if (std::getenv("STEREOTOOLS_SKIP_LARGE_TESTS") != nullptr) GTEST_SKIP() << "STEREOTOOLS_SKIP_LARGE_TESTS is set";
    const bool inMemory = FreeBytes("/dev/shm") >= kRoomNeeded && FreeMemory() >= 3 * bytes;
    const testwave::TempFolder folder(inMemory ? "/dev/shm" : "");
    if (!inMemory && FreeBytes(folder.Path()) < kRoomNeeded) GTEST_SKIP() << "less than 8 GiB free on the disk";
    if (FreeMemory() < 2 * bytes) GTEST_SKIP() << "not enough free memory";

    const size_t marks[] = {
        0,         1,        kLinuxTransferLimit - 1, kLinuxTransferLimit, kLinuxTransferLimit + 1, size_t{1} << 31,
        bytes - 2, bytes - 1};
    const std::string path = folder.Path("large");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    {
        Reserved out(bytes);
        ASSERT_NE(out.data, nullptr);
        for (size_t i = 0; i < std::size(marks); ++i) out.data[marks[i]] = static_cast<uint8_t>(i + 1);
        ASSERT_EQ(WriteFully(fd, out.Span()), 0);
    }
    struct stat status {};
    ASSERT_EQ(::fstat(fd, &status), 0);
    EXPECT_EQ(static_cast<uint64_t>(status.st_size), bytes);

    Reserved in(bytes + 10);
    ASSERT_NE(in.data, nullptr);
    std::memset(in.data + bytes, 0xEE, 10);
    EXPECT_EQ(ReadFully(fd, 0, in.Span()), static_cast<int64_t>(bytes));
    ::close(fd);
    for (size_t i = 0; i < std::size(marks); ++i) {
        SCOPED_TRACE(marks[i]);
        EXPECT_EQ(in.data[marks[i]], i + 1);
        in.data[marks[i]] = 0;
    }
    // Every other byte was written as zero and must read back as zero.
    const Bytes zeros(1 << 20, 0);
    size_t checked = 0;
    while (checked < bytes) {
        const size_t step = std::min(zeros.size(), bytes - checked);
        if (std::memcmp(in.data + checked, zeros.data(), step) != 0) break;
        checked += step;
    }
    EXPECT_EQ(checked, bytes) << "a byte that should be zero is not, in the MiB from " << checked;
    EXPECT_EQ(in.data[bytes], 0xEE);
}

class OpenInputFileTest : public testwave::WithTempFolder {};

TEST_F(OpenInputFileTest, OpensARegularFile) {
    const std::string path = folder.Write("take 1.wav", testwave::CountingBytes(30));
    auto opened = OpenInputFile(path);
    ASSERT_TRUE(opened) << opened.error.Describe();
    EXPECT_TRUE(opened.file.IsOpen());
    EXPECT_EQ(opened.file.Size(), 30u);
    EXPECT_EQ(opened.file.Path(), path);
    Bytes part(5);
    EXPECT_EQ(opened.file.ReadAt(10, part), 5);
    EXPECT_EQ(part, testwave::CountingBytes(5, 11));

    stereotools::InputFile moved = std::move(opened.file);
    EXPECT_FALSE(opened.file.IsOpen());
    EXPECT_EQ(moved.ReadAt(0, part), 5);
    moved.Close();
    EXPECT_EQ(moved.ReadAt(0, part), -1);
}

// Opened again, a file is the very file opened first, even once its name
// stands for another one; without /proc it is closed, and the caller reads
// through the first.
TEST_F(OpenInputFileTest, OpensTheSameFileAgain) {
    const std::string path = folder.Write("take.wav", testwave::CountingBytes(30));
    auto opened = OpenInputFile(path);
    ASSERT_TRUE(opened) << opened.error.Describe();
    folder.Write("other.wav", Bytes(30, 0xEE));
    ASSERT_EQ(std::rename(folder.Path("other.wav").c_str(), path.c_str()), 0);

    const stereotools::InputFile again = opened.file.OpenAgain();
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(again.Path(), path);
    EXPECT_EQ(again.Size(), 30u);
    EXPECT_TRUE(stereotools::SameFile(again.Status(), opened.file.Status()));
    Bytes part(5);
    EXPECT_EQ(again.ReadAt(20, part), 5);
    EXPECT_EQ(part, testwave::CountingBytes(5, 21));

    FileCalls noProc = stereotools::SystemFileCalls();
    noProc.openat = [](int, const char*, int, mode_t) {
        errno = ENOENT;
        return -1;
    };
    testwave::ScopedFileCalls fake(noProc);
    EXPECT_FALSE(opened.file.OpenAgain().IsOpen());
    EXPECT_FALSE(stereotools::InputFile().OpenAgain().IsOpen());
}

TEST_F(OpenInputFileTest, UsesLongNamesWhole) {
    folder.Write("a.wav", Bytes(12, 1));
    std::string path = folder.Path();
    while (path.size() < 300) path += "/.";
    path += "/a.wav";
    const auto opened = OpenInputFile(path);
    EXPECT_TRUE(opened) << opened.error.Describe();
    EXPECT_EQ(opened.file.Size(), 12u);
}

// Watches one file for being opened by anyone.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ < 0 || ::inotify_add_watch(fd_, path.c_str(), IN_OPEN) < 0) ADD_FAILURE() << "cannot watch " << path;
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    ~OpenWatch() { ::close(fd_); }
    // Returns whether the file was opened since the watch began.
    bool Opened() const {
        alignas(inotify_event) char events[4096];
        return ::read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
};

TEST_F(OpenInputFileTest, RefusesWhatIsNotAReadableRegularFile) {
    ASSERT_EQ(::mkdir(folder.Path("folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(folder.Path("fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("fifo", folder.Path("link to fifo").c_str()), 0);
    const std::string plain = folder.Write("plain.wav", Bytes(4));
    struct Case {
        std::string name;
        int errorNumber;
        const char* detail;
    };
    const Case cases[] = {
        {"", ENOENT, ""},
        {folder.Path("missing.wav"), ENOENT, ""},
        {folder.Path("folder"), EISDIR, ""},
        {plain + "/inside.wav", ENOTDIR, ""},
        // A FIFO without a writer must be refused at once, not waited on.
        {folder.Path("fifo"), EINVAL, "not a regular file"},
        {folder.Path("link to fifo"), EINVAL, "not a regular file"},
        {"/dev/null", EINVAL, "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto opened = OpenInputFile(c.name);
        EXPECT_FALSE(opened);
        EXPECT_FALSE(opened.file.IsOpen());
        EXPECT_EQ(opened.error.operation, Op::Open);
        EXPECT_EQ(opened.error.path, c.name);
        EXPECT_EQ(opened.error.errorNumber, c.errorNumber);
        EXPECT_EQ(opened.error.detail, c.detail);
    }
}

// Opening a device can act on it (a serial line's modem signals, a
// watchdog): special files are refused from their name alone.
TEST_F(OpenInputFileTest, NeverOpensASpecialFile) {
    std::vector<std::string> special = {folder.Path("fifo")};
    ASSERT_EQ(::mkfifo(special[0].c_str(), 0644), 0);
    // A private twin of /dev/null, so that no other program's opens are seen.
    if (::mknod(folder.Path("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0)
        special.push_back(folder.Path("null"));
    for (const auto& path : special) {
        SCOPED_TRACE(path);
        const OpenWatch watch(path);
        EXPECT_FALSE(OpenInputFile(path));
        EXPECT_FALSE(watch.Opened());
        // The watch does see an open.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
            EXPECT_TRUE(watch.Opened());
        }
    }
    // No reader holds the FIFO either: a writer that will not wait finds none.
    const int writer = ::open(special[0].c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(writer, -1);
    EXPECT_EQ(errno, ENXIO);
    if (writer >= 0) ::close(writer);
    if (special.size() == 1) GTEST_SKIP() << "no device node could be made here; the FIFO was checked";
}

TEST_F(OpenInputFileTest, RefusesAFileReplacedWhileItIsOpened) {
    ASSERT_EQ(::mkfifo(folder.Path("fifo").c_str(), 0644), 0);
    folder.Write("other.wav", Bytes(8, 2));
    struct Case {
        const char* name;
        std::string swappedIn;
        const char* detail;
    };
    const Case cases[] = {
        {"another regular file", folder.Path("other.wav"), stereotools::kChangedReason},
        // Opened without waiting for a writer, then refused.
        {"a FIFO", folder.Path("fifo"), stereotools::kNotRegularFileReason},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Write("take.wav", Bytes(8, 1));
        InputOpenResult opened;
        {
            testwave::ScopedFileCalls fake(testwave::SwapBeforeOpen::Calls(c.swappedIn));
            opened = OpenInputFile(path);
        }
        EXPECT_TRUE(testwave::SwapBeforeOpen::swapped);
        EXPECT_FALSE(opened);
        EXPECT_FALSE(opened.file.IsOpen());
        EXPECT_EQ(opened.error.operation, Op::Open);
        EXPECT_EQ(opened.error.detail, c.detail);
    }
}

// Readers share a file; a writer holding an exclusive lock keeps it from
// them. A reader's lock is shared, which NFS grants on a read-only descriptor.
TEST_F(OpenInputFileTest, SharesTheFileWithReadersButNotWithALockingWriter) {
    const std::string path = folder.Write("busy.wav", Bytes(4));
    const int writer = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
    const auto refused = OpenInputFile(path);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error.operation, Op::Open);
    EXPECT_EQ(refused.error.errorNumber, EWOULDBLOCK);
    EXPECT_EQ(refused.error.Describe(), "Cannot open '" + path + "': in use by another program  ");
    ASSERT_EQ(::flock(writer, LOCK_UN), 0);

    const int reader = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::flock(reader, LOCK_SH | LOCK_NB), 0);
    auto first = OpenInputFile(path);
    EXPECT_TRUE(first) << first.error.Describe();
    auto second = OpenInputFile(path);
    EXPECT_TRUE(second) << second.error.Describe();
    ::close(reader);

    EXPECT_NE(::flock(writer, LOCK_EX | LOCK_NB), 0) << "the readers' locks are held while the files are open";
    first.file.Close();
    second.file.Close();
    EXPECT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0) << "closing releases the locks";
    ::close(writer);
}

}  // namespace
