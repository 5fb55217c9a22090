#include "support/TestWave.h"
#include "support/WaveOutputs.h"
#include "system/UnfinishedOutputs.h"
#include "wave/WaveReader.h"
#include "wave/WaveWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <span>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using stereotools::CommitWaveOutput;
using stereotools::FileCalls;
using stereotools::IoError;
using stereotools::OpenWaveOutput;
using stereotools::WaveFormatInfo;
using stereotools::WriteWaveHeader;
using testwave::Bytes;
using testwave::WriteSamplesBehindHeader;
using testwave::WrittenHeader;

using Op = IoError::Operation;

// The stereo output joined from two mono 16-bit inputs of 100 and 120 bytes.
WaveFormatInfo JoinedStereo() {
    WaveFormatInfo info;
    info.formatTag = 1;
    info.channels = 2;
    info.sampleRate = 100;
    info.byteRate = 400;
    info.blockAlign = 4;
    info.bitsPerSample = 16;
    info.dataSize = 240;
    return info;
}

TEST(WriteWaveHeader, WritesTheCanonicalLayout) {
    // clang-format off
    const Bytes expected = {
        'R', 'I', 'F', 'F', 0x14, 0x01, 0, 0,   // RIFF size 276
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0,                            // fmt size
        1, 0, 2, 0,                             // tag 1, 2 channels
        100, 0, 0, 0, 0x90, 0x01, 0, 0,         // rate 100, byte rate 400
        4, 0, 16, 0,                            // block align, bits
        'd', 'a', 't', 'a', 0xF0, 0, 0, 0,      // data size 240
    };
    // clang-format on
    const auto header = WrittenHeader(JoinedStereo());
    EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
}

TEST(WriteWaveHeader, WritesFieldsWhole) {
    WaveFormatInfo info;
    info.formatTag = 3;
    info.channels = 1;
    info.sampleRate = 0x01020304;
    info.byteRate = 0xA0B0C0D0u;
    info.blockAlign = 0x1234;
    info.bitsPerSample = 64;
    info.dataSize = 0xFFFFFFDBu;  // the largest that fits with the RIFF size
    const auto header = WrittenHeader(info);
    const Bytes expectedTail = {3, 0, 1, 0, 4, 3, 2, 1, 0xD0, 0xC0, 0xB0, 0xA0, 0x34, 0x12, 64, 0};
    EXPECT_EQ(Bytes(header.begin() + 20, header.begin() + 36), expectedTail);
    EXPECT_EQ(Bytes(header.begin() + 4, header.begin() + 8), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(header.begin() + 40, header.end()), Bytes({0xDB, 0xFF, 0xFF, 0xFF}));
}

TEST(LayOutWave, ChoosesRf64OnlyWhereTheRiffSizeNoLongerFits) {
    struct Case {
        const char* name;
        uint64_t dataSize;
        stereotools::WaveContainer container;
        uint64_t headerBytes;
        uint64_t riffSize;
    };
    using stereotools::WaveContainer;
    const Case cases[] = {
        {"empty", 0, WaveContainer::Riff, 44, 36},
        {"the last size with a 44-byte header", 0xFFFFFFDB, WaveContainer::Riff, 44, 0xFFFFFFFF},
        {"the first size that needs RF64", 0xFFFFFFDC, WaveContainer::Rf64, 80, 0xFFFFFFDCull + 72},
        {"a 5 GiB join", uint64_t{5} << 30, WaveContainer::Rf64, 80, (uint64_t{5} << 30) + 72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WaveFormatInfo info = JoinedStereo();
        info.dataSize = c.dataSize;
        const stereotools::WaveLayout layout = stereotools::LayOutWave(info);
        EXPECT_EQ(layout.container, c.container);
        EXPECT_EQ(layout.headerBytes, c.headerBytes);
        EXPECT_EQ(layout.trailerBytes, 0u);
        EXPECT_EQ(layout.riffSize, c.riffSize);
        EXPECT_EQ(layout.FileBytes(), c.headerBytes + c.dataSize);
        EXPECT_EQ(WrittenHeader(info).size(), c.headerBytes);
    }
}

TEST(LayOutWave, CountsCarriedChunksAndTheirPadBytes) {
    stereotools::WaveMetadata metadata;
    metadata.beforeData = {{"bext", 0, 5}, {"iXML", 0, 10}};  // 14 + 18
    metadata.afterData = {{"cue ", 0, 3}};                    // 12
    WaveFormatInfo info = JoinedStereo();
    info.dataSize = 7;  // odd: a pad byte before the trailer
    const stereotools::WaveLayout layout = stereotools::LayOutWave(info, metadata);
    EXPECT_EQ(layout.container, stereotools::WaveContainer::Riff);
    EXPECT_EQ(layout.headerBytes, 44u + 32u);
    EXPECT_EQ(layout.trailerBytes, 1u + 12u);
    EXPECT_EQ(layout.riffSize, 76u - 8u + 7u + 13u);

    // Chunks can tip an output into RF64 that alone would fit.
    info.dataSize = 0xFFFFFFDB;
    EXPECT_EQ(stereotools::LayOutWave(info, metadata).container, stereotools::WaveContainer::Rf64);
    EXPECT_EQ(stereotools::LayOutWave(info, metadata).headerBytes, 80u + 32u);
}

TEST(WriteWaveHeader, WritesRf64WithItsSizesInDs64) {
    WaveFormatInfo info = JoinedStereo();
    info.dataSize = (uint64_t{5} << 30) + 2;  // half a frame more than 0x50000000 frames
    // clang-format off
    const Bytes expected = {
        'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
        'd', 's', '6', '4', 28, 0, 0, 0,
        0x4A, 0, 0, 0x40, 1, 0, 0, 0,          // RIFF size 5 GiB + 2 + 72
        2, 0, 0, 0x40, 1, 0, 0, 0,             // data size
        0, 0, 0, 0x50, 0, 0, 0, 0,             // whole frames
        0, 0, 0, 0,                            // no table
        'f', 'm', 't', ' ', 16, 0, 0, 0,
        1, 0, 2, 0, 100, 0, 0, 0, 0x90, 0x01, 0, 0, 4, 0, 16, 0,
        'd', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF,
    };
    // clang-format on
    EXPECT_EQ(WrittenHeader(info), expected);

    // The same fields in RF64 whatever the size, when asked.
    info.dataSize = 240;
    const Bytes small = WrittenHeader(info, stereotools::WaveContainer::Rf64);
    ASSERT_EQ(small.size(), 80u);
    // RIFF size 240 + 72, data size 240, 60 frames.
    EXPECT_EQ(Bytes(small.begin() + 20, small.begin() + 44),
              Bytes({0x38, 1, 0, 0, 0, 0, 0, 0, 240, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0, 0, 0, 0, 0}));
    const Bytes riff = WrittenHeader(info);
    EXPECT_EQ(Bytes(small.begin() + 48, small.begin() + 72), Bytes(riff.begin() + 12, riff.begin() + 36));
}

// Writes a whole output: header, the samples in `blocks`, commit.
IoError WriteOutput(const std::string& path, const WaveFormatInfo& info, const std::vector<Bytes>& blocks) {
    auto opened = OpenWaveOutput(path, stereotools::kWaveHeaderBytes + info.dataSize);
    if (!opened) return opened.error;
    if (IoError error = WriteWaveHeader(opened.output, info)) return error;
    uint64_t position = 0;
    for (const auto& block : blocks) {
        if (IoError error = stereotools::WriteWaveSamplesAt(opened.output, position, block)) return error;
        position += block.size();
    }
    if (IoError error = stereotools::EndWaveSamples(opened.output, position)) return error;
    return CommitWaveOutput(opened.output);
}

Bytes Concat(const Bytes& header, const Bytes& samples) {
    Bytes out(header.begin(), header.end());
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

class WaveOutputTest : public testwave::WithTempFolder {};

TEST_F(WaveOutputTest, WritesHeaderThenSamplesInOrder) {
    const Bytes samples = testwave::CountingBytes(240);
    const std::vector<Bytes> blocks = {Bytes(samples.begin(), samples.begin() + 100),
                                       Bytes(samples.begin() + 100, samples.begin() + 101),
                                       Bytes(samples.begin() + 101, samples.end())};
    const IoError error = WriteOutput(folder.Path("joined.wav"), JoinedStereo(), blocks);
    ASSERT_FALSE(error) << error.Describe();
    const auto written = folder.Read("joined.wav");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->size(), 284u);
    EXPECT_EQ(*written, Concat(WrittenHeader(JoinedStereo()), samples));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"joined.wav"}) << "no temporary file is left";

    const auto reread = stereotools::ReadWaveHeader(stereotools::MemorySource(*written), 2);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread.info.dataSize, 240u);
}

// Samples written at their places in any order, from two threads at once,
// make the same file as in order; the file ends where the samples are said
// to end, whatever was reserved.
TEST_F(WaveOutputTest, WritesSamplesAtTheirPlacesInAnyOrder) {
    const Bytes samples = testwave::RandomBytes(240, 7);
    const auto part = [&](std::size_t from, std::size_t to) {
        return std::span<const uint8_t>(samples.data() + from, to - from);
    };
    auto opened = OpenWaveOutput(folder.Path("joined.wav"), 4096);
    ASSERT_TRUE(opened) << opened.error.Describe();
    ASSERT_FALSE(WriteWaveHeader(opened.output, JoinedStereo()));
    IoError late;
    std::thread other([&] { late = stereotools::WriteWaveSamplesAt(opened.output, 200, part(200, 240)); });
    EXPECT_FALSE(stereotools::WriteWaveSamplesAt(opened.output, 100, part(100, 200)));
    EXPECT_FALSE(stereotools::WriteWaveSamplesAt(opened.output, 0, part(0, 100)));
    other.join();
    EXPECT_FALSE(late);
    ASSERT_FALSE(stereotools::EndWaveSamples(opened.output, 240));
    ASSERT_FALSE(CommitWaveOutput(opened.output));
    EXPECT_EQ(folder.Read("joined.wav"), Concat(WrittenHeader(JoinedStereo()), samples));
}

// A failed write at a place names the output and leaves it to the caller,
// who discards it: nothing stays behind.
TEST_F(WaveOutputTest, LeavesAFailedWriteAtAPlaceToTheCaller) {
    auto opened = OpenWaveOutput(folder.Path("out.wav"), 4096);
    ASSERT_TRUE(opened);
    ASSERT_FALSE(WriteWaveHeader(opened.output, JoinedStereo()));
    FileCalls calls = stereotools::SystemFileCalls();
    calls.pwrite = [](int, const void*, size_t, off_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    {
        testwave::ScopedFileCalls fake(calls);
        const IoError error = stereotools::WriteWaveSamplesAt(opened.output, 0, Bytes(4, 1));
        EXPECT_EQ(error.operation, Op::Write);
        EXPECT_EQ(error.errorNumber, EIO);
        EXPECT_EQ(error.path, folder.Path("out.wav"));
    }
    EXPECT_TRUE(opened.output.IsOpen());
    opened.output.Discard();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{});
}

TEST_F(WaveOutputTest, ReplacesALongerFileWithExactlyTheNewBytes) {
    const std::string path = folder.Write("out.wav", Bytes(1000, 0x55));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WaveFormatInfo info = JoinedStereo();
    info.dataSize = 4;
    ASSERT_FALSE(WriteOutput(path, info, {Bytes{1, 2, 3, 4}}));
    EXPECT_EQ(folder.Read("out.wav"), Concat(WrittenHeader(info), Bytes{1, 2, 3, 4}));
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(WaveOutputTest, GivesANewFileTheUsualPermissions) {
    const mode_t saved = ::umask(027);
    const IoError error = WriteOutput(folder.Path("new.wav"), JoinedStereo(), {Bytes(240)});
    ::umask(saved);
    ASSERT_FALSE(error);
    struct stat status {};
    ASSERT_EQ(::stat(folder.Path("new.wav").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(WaveOutputTest, WritesThroughSymbolicLinks) {
    ASSERT_EQ(::mkdir(folder.Path("takes").c_str(), 0755), 0);
    folder.Write("takes/real.wav", Bytes(500, 9));
    ASSERT_EQ(::symlink("takes/real.wav", folder.Path("link.wav").c_str()), 0);
    ASSERT_EQ(::symlink("link.wav", folder.Path("link to link.wav").c_str()), 0);
    WaveFormatInfo info = JoinedStereo();
    info.dataSize = 2;
    const Bytes expected = Concat(WrittenHeader(info), Bytes{7, 8});

    auto opened = OpenWaveOutput(folder.Path("link to link.wav"), 46);
    ASSERT_TRUE(opened) << opened.error.Describe();
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"link to link.wav", "link.wav", "takes"}));
    EXPECT_EQ(testwave::TempFolder::NamesIn(folder.Path("takes")).size(), 2u)
        << "the temporary file lies beside the file the links lead to";
    ASSERT_FALSE(WriteWaveHeader(opened.output, info));
    ASSERT_FALSE(WriteSamplesBehindHeader(opened.output, Bytes{7, 8}));
    ASSERT_FALSE(CommitWaveOutput(opened.output));

    EXPECT_EQ(folder.Read("takes/real.wav"), expected);
    EXPECT_EQ(testwave::TempFolder::NamesIn(folder.Path("takes")), std::vector<std::string>{"real.wav"});
    struct stat status {};
    ASSERT_EQ(::lstat(folder.Path("link.wav").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link itself stays a link";
    ASSERT_EQ(::lstat(folder.Path("link to link.wav").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

// Returns why the kernel's guard on links in sticky world-writable folders
// cannot be shown here, or nothing when it can.
std::string WhyNoLinkGuard() {
    if (::geteuid() != 0) return "needs root, to plant a link owned by another user";
    std::ifstream setting("/proc/sys/fs/protected_symlinks");
    int protectedSymlinks = 0;
    if (!(setting >> protectedSymlinks) || protectedSymlinks != 1) return "fs.protected_symlinks is not 1";
    return {};
}

// The attack: in a shared sticky folder another user plants the output's
// name as a link to a file only root may write, and root writes the output.
TEST_F(WaveOutputTest, FollowsALinkOnlyAsTheKernelWouldForThisUser) {
    if (const std::string why = WhyNoLinkGuard(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_EQ(::chmod(folder.Path().c_str(), 01777), 0);
    const Bytes secret(64, 0x5A);
    const std::string guarded = folder.Write("root only", secret);
    ASSERT_EQ(::chmod(guarded.c_str(), 0600), 0);
    const std::string planted = folder.Path("take left channel.wav");
    ASSERT_EQ(::symlink("root only", planted.c_str()), 0);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);

    const IoError error = WriteOutput(planted, JoinedStereo(), {Bytes(240, 1)});
    EXPECT_EQ(error.operation, Op::Create);
    EXPECT_EQ(error.errorNumber, EACCES);
    EXPECT_EQ(error.Describe(), "Cannot create '" + planted + "': Permission denied  ");
    EXPECT_EQ(folder.Read("root only"), secret);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"root only", "take left channel.wav"}));

    // Root's own link in the same folder is followed as before.
    ASSERT_EQ(::symlink("root only", folder.Path("own link.wav").c_str()), 0);
    ASSERT_FALSE(WriteOutput(folder.Path("own link.wav"), JoinedStereo(), {Bytes(240, 1)}));
    EXPECT_EQ(folder.Read("root only")->size(), 284u);
}

TEST_F(WaveOutputTest, RefusesATargetThatChangesWhileItIsOpened) {
    const Bytes secret(64, 0x5A);
    folder.Write("elsewhere.wav", secret);
    folder.Write("take.wav", Bytes(100, 1));
    ASSERT_EQ(::symlink("elsewhere.wav", folder.Path("swapped in").c_str()), 0);
    IoError error;
    {
        testwave::ScopedFileCalls fake(testwave::SwapBeforeOpen::Calls(folder.Path("swapped in")));
        error = WriteOutput(folder.Path("take.wav"), JoinedStereo(), {Bytes(240, 1)});
    }
    EXPECT_TRUE(testwave::SwapBeforeOpen::swapped);
    EXPECT_EQ(error.operation, Op::Create);
    EXPECT_EQ(error.detail, stereotools::kChangedReason);
    EXPECT_EQ(folder.Read("elsewhere.wav"), secret);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"elsewhere.wav", "take.wav"}));
}

// Returns a path of exactly `length` bytes that ends in "/" + `name`, with
// its folders made inside `folder`.
std::string PathOfLength(const testwave::TempFolder& folder, size_t length, const std::string& name) {
    std::string path = folder.Path();
    const size_t folderLength = length - 1 - name.size();
    while (path.size() < folderLength) {
        const size_t left = folderLength - path.size();
        path += '/';
        path.append(left > 250 ? 200 : left - 1, 'd');
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) ADD_FAILURE() << "cannot make " << path.size();
    }
    return path + "/" + name;
}

// Names up to the system's limits can be written: the temporary file never
// needs a longer name or path than the output itself.
TEST_F(WaveOutputTest, WritesNamesAtTheLimits) {
    const std::string longestName = std::string(251, 'n') + ".wav";
    ASSERT_EQ(::mkdir(folder.Path("flat").c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"name of NAME_MAX bytes", folder.Path("flat/" + longestName)},
        {"short name, path of PATH_MAX - 1 bytes", PathOfLength(folder, PATH_MAX - 1, "out.wav")},
        {"path 8 bytes short of PATH_MAX", PathOfLength(folder, PATH_MAX - 8, "take 1 left channel.wav")},
        {"name of NAME_MAX bytes, path of PATH_MAX - 1", PathOfLength(folder, PATH_MAX - 1, longestName)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IoError error = WriteOutput(c.path, JoinedStereo(), {Bytes(240, 4)});
        EXPECT_FALSE(error) << error.Describe();
        const size_t slash = c.path.rfind('/');
        EXPECT_EQ(testwave::TempFolder::NamesIn(c.path.substr(0, slash)),
                  std::vector<std::string>{c.path.substr(slash + 1)});
        std::ifstream written(c.path, std::ios::binary | std::ios::ate);
        EXPECT_EQ(static_cast<long>(written.tellg()), 284);
    }
}

// Returns what `folder` holds: every name with its bytes (none for a folder).
std::vector<std::pair<std::string, std::optional<Bytes>>> Snapshot(const testwave::TempFolder& folder) {
    std::vector<std::pair<std::string, std::optional<Bytes>>> entries;
    for (const auto& name : folder.Names()) entries.emplace_back(name, folder.Read(name));
    return entries;
}

TEST_F(WaveOutputTest, RefusesOutputsThatCannotBeCreated) {
    ASSERT_EQ(::mkdir(folder.Path("folder.wav").c_str(), 0755), 0);
    const std::string plain = folder.Write("plain.wav", Bytes(60, 3));
    ASSERT_EQ(::symlink("folder.wav", folder.Path("link to folder.wav").c_str()), 0);
    ASSERT_EQ(::symlink("loop b", folder.Path("loop a").c_str()), 0);
    ASSERT_EQ(::symlink("loop a", folder.Path("loop b").c_str()), 0);
    ASSERT_EQ(::symlink("takes/not yet.wav", folder.Path("dangling.wav").c_str()), 0);
    ASSERT_EQ(::mkfifo(folder.Path("fifo.wav").c_str(), 0644), 0);
    struct Case {
        std::string name;
        int errorNumber;
        const char* detail;
    };
    const Case cases[] = {
        {"", ENOENT, ""},
        {folder.Path("missing/out.wav"), ENOENT, ""},
        {folder.Path("folder.wav"), EISDIR, ""},
        {folder.Path("link to folder.wav"), EISDIR, ""},
        {folder.Path("new folder/"), EISDIR, ""},
        {plain + "/out.wav", ENOTDIR, ""},
        {folder.Path("loop a"), ELOOP, ""},
        // Where a dangling link leads was chosen by whoever made it: nothing is created there.
        {folder.Path("dangling.wav"), ENOENT, stereotools::kDanglingLinkReason},
        {folder.Path("fifo.wav"), EINVAL, "not a regular file"},
        {"/dev/null", EINVAL, "not a regular file"},
    };
    const auto before = Snapshot(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto opened = OpenWaveOutput(c.name, 100);
        EXPECT_FALSE(opened);
        EXPECT_FALSE(opened.output.IsOpen());
        EXPECT_EQ(opened.error.operation, Op::Create);
        EXPECT_EQ(opened.error.path, c.name);
        EXPECT_EQ(opened.error.errorNumber, c.errorNumber);
        EXPECT_EQ(opened.error.detail, c.detail);
        // The check up front gives the same error without opening anything.
        const IoError checked = stereotools::CheckWaveOutput(c.name);
        EXPECT_EQ(checked.Describe(), opened.error.Describe());
    }
    EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(WaveOutputTest, LeavesAReadOnlyFileAlone) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
    const std::string path = folder.Write("kept.wav", Bytes(60, 3));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const auto before = Snapshot(folder);
    const auto opened = OpenWaveOutput(path, 100);
    EXPECT_EQ(opened.error.operation, Op::Create);
    EXPECT_EQ(opened.error.errorNumber, EACCES);
    EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(WaveOutputTest, LeavesAFileInAReadOnlyFolderAlone) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write in any folder";
    ASSERT_EQ(::mkdir(folder.Path("locked").c_str(), 0755), 0);
    folder.Write("locked/kept.wav", Bytes(60, 3));
    ASSERT_EQ(::chmod(folder.Path("locked").c_str(), 0555), 0);
    const auto opened = OpenWaveOutput(folder.Path("locked/kept.wav"), 100);
    EXPECT_EQ(opened.error.operation, Op::Create);
    EXPECT_EQ(opened.error.errorNumber, EACCES);
    EXPECT_EQ(folder.Read("locked/kept.wav"), Bytes(60, 3));
}

// Fake file calls, each failing one step of an output with `error`.
struct Faults {
    static inline int error = 0;
    static inline int writesLeft = 0;  // writes that succeed before one fails

    static int AccessAt(int, const char*, int, int) {
        errno = error;
        return -1;
    }
    static int Fallocate(int, int, off_t, off_t) {
        errno = error;
        return -1;
    }
    static int Chown(int, uid_t, gid_t) {
        errno = error;
        return -1;
    }
    static ssize_t Write(int fd, const void* buffer, size_t count) {
        if (writesLeft-- > 0) return ::write(fd, buffer, count);
        errno = error;
        return -1;
    }
    static ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
        if (writesLeft-- > 0) return ::pwrite(fd, buffer, count, offset);
        errno = error;
        return -1;
    }
    static int Close(int fd) {
        ::close(fd);
        errno = error;
        return -1;
    }
    static int RenameAt(int, const char*, int, const char*) {
        errno = error;
        return -1;
    }
};

FileCalls Real() { return stereotools::SystemFileCalls(); }

// An 8-bit mono input with metadata around its 3 samples, and what it is as read.
class CarriedChunksTest : public testwave::WithTempFolder {
protected:
    void SetUp() override {
        const Bytes bytes = testwave::WaveBuilder()
                                .Bits(8)
                                .ChunkBeforeFmt("bext", Bytes(5, 'b'))
                                .ChunkBeforeData("JUNK", Bytes(6))
                                .ChunkBeforeData("LIST", list)
                                .Samples({'s', 's', 's'})
                                .ChunkAfterData("cue ", Bytes(4, 'c'))
                                .ChunkAfterData("LIST", {'a', 'd', 't', 'l'})
                                .ChunkAfterData("iXML", Bytes(3, 'i'))
                                .Build();
        opened = stereotools::OpenInputFile(folder.Write("take.wav", bytes));
        ASSERT_TRUE(opened) << opened.error.Describe();
        const auto header = stereotools::ReadWaveHeader(opened.file, 1);
        ASSERT_TRUE(header);
        info = header.info;
        auto metadata = stereotools::ReadWaveMetadata(opened.file);
        ASSERT_TRUE(metadata);
        carried = {&opened.file, std::move(metadata.metadata)};
    }

    IoError Write(const std::string& path, stereotools::WaveContainer container) {
        auto created = OpenWaveOutput(path, stereotools::LayOutWave(info, carried.metadata, container).FileBytes());
        if (!created) return created.error;
        if (IoError error = WriteWaveHeader(created.output, info, carried, container)) return error;
        if (IoError error = WriteSamplesBehindHeader(created.output, Bytes{'s', 's', 's'})) return error;
        if (IoError error = stereotools::WriteWaveTrailer(created.output, info, carried)) return error;
        return CommitWaveOutput(created.output);
    }

    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x'};
    stereotools::InputOpenResult opened;
    WaveFormatInfo info;
    stereotools::CarriedChunks carried;
};

TEST_F(CarriedChunksTest, ComeInTheirOrderWithPadBytesAroundTheCanonicalFmt) {
    ASSERT_FALSE(Write(folder.Path("out.wav"), stereotools::WaveContainer::Riff));
    // clang-format off
    const Bytes expected = {
        'R', 'I', 'F', 'F', 100, 0, 0, 0, 'W', 'A', 'V', 'E',
        'b', 'e', 'x', 't', 5, 0, 0, 0, 'b', 'b', 'b', 'b', 'b', 0,
        'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x44, 0xAC, 0, 0, 1, 0, 8, 0,
        'L', 'I', 'S', 'T', 13, 0, 0, 0, 'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x', 0,
        'd', 'a', 't', 'a', 3, 0, 0, 0, 's', 's', 's', 0,
        'c', 'u', 'e', ' ', 4, 0, 0, 0, 'c', 'c', 'c', 'c',
        'i', 'X', 'M', 'L', 3, 0, 0, 0, 'i', 'i', 'i', 0,
    };
    // clang-format on
    EXPECT_EQ(folder.Read("out.wav"), expected);
}

// The trailer of carried chunks follows the samples written at their places.
TEST_F(CarriedChunksTest, FollowSamplesWrittenAtTheirPlaces) {
    auto created = OpenWaveOutput(folder.Path("placed.wav"), 4096);
    ASSERT_TRUE(created);
    ASSERT_FALSE(WriteWaveHeader(created.output, info, carried, stereotools::WaveContainer::Riff));
    ASSERT_FALSE(stereotools::WriteWaveSamplesAt(created.output, 1, Bytes{'s', 's'}));
    ASSERT_FALSE(stereotools::WriteWaveSamplesAt(created.output, 0, Bytes{'s'}));
    ASSERT_FALSE(stereotools::EndWaveSamples(created.output, 3));
    ASSERT_FALSE(stereotools::WriteWaveTrailer(created.output, info, carried));
    ASSERT_FALSE(CommitWaveOutput(created.output));
    ASSERT_FALSE(Write(folder.Path("appended.wav"), stereotools::WaveContainer::Riff));
    EXPECT_EQ(folder.Read("placed.wav"), folder.Read("appended.wav"));
}

TEST_F(CarriedChunksTest, ReadBackFromRf64AsTheyWereWritten) {
    ASSERT_FALSE(Write(folder.Path("out.wav"), stereotools::WaveContainer::Rf64));
    const auto written = folder.Read("out.wav");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->size(), 108u + 36u);
    const stereotools::MemorySource source(*written);
    const auto header = stereotools::ReadWaveHeader(source, 1);
    ASSERT_TRUE(header);
    EXPECT_EQ(header.info.dataSize, 3u);
    EXPECT_EQ(header.info.dataOffset, 12u + 36u + 14u + 24u + 22u + 8u);
    const auto metadata = stereotools::ReadWaveMetadata(source);
    ASSERT_TRUE(metadata);
    std::vector<std::string> ids;
    for (const auto& chunk : metadata.metadata.beforeData) ids.push_back(chunk.id);
    for (const auto& chunk : metadata.metadata.afterData) ids.push_back(chunk.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"bext", "LIST", "cue ", "iXML"}));
    EXPECT_EQ(metadata.metadata.beforeFmt, 1u);
    EXPECT_EQ(Bytes(written->begin() + 20, written->begin() + 28), Bytes({136, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CarriedChunksTest, LeaveNoOutputWhenTheInputCannotBeRead) {
    FileCalls calls = Real();
    calls.pread = [](int, void*, size_t, off_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    IoError error;
    {
        testwave::ScopedFileCalls fake(calls);
        error = Write(folder.Path("out.wav"), stereotools::WaveContainer::Riff);
    }
    EXPECT_EQ(error.operation, Op::Read);
    EXPECT_EQ(error.path, opened.file.Path());
    EXPECT_EQ(error.errorNumber, EIO);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"take.wav"});
}

TEST_F(WaveOutputTest, FailsWholeWhenAnyStepFails) {
    struct Case {
        const char* name;
        FileCalls calls;
        int writesLeft;
        Op operation;
        int errorNumber;
    };
    FileCalls access = Real(), fallocate = Real(), chown = Real(), write = Real(), pwrite = Real(), close = Real(),
              rename = Real();
    access.faccessat = Faults::AccessAt;
    fallocate.fallocate = Faults::Fallocate;
    chown.fchown = Faults::Chown;
    write.write = Faults::Write;
    pwrite.pwrite = Faults::Pwrite;
    close.close = Faults::Close;
    rename.renameat = Faults::RenameAt;
    const Case cases[] = {
        {"existing file may not be written", access, 0, Op::Create, EACCES},
        {"owner cannot be kept for a disk error", chown, 0, Op::Create, EIO},
        {"no room for the reservation", fallocate, 0, Op::Create, ENOSPC},
        {"file too large for the file system", fallocate, 0, Op::Create, EFBIG},
        {"disk full on the header", write, 0, Op::Write, ENOSPC},
        {"disk full on the samples", pwrite, 0, Op::Write, ENOSPC},
        {"disk error on the samples", pwrite, 1, Op::Write, EIO},
        {"close fails", close, 0, Op::Commit, EIO},
        {"rename fails", rename, 0, Op::Commit, EACCES},
    };
    const std::string path = folder.Write("take.wav", Bytes(300, 0x77));
    const auto before = Snapshot(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Faults::error = c.errorNumber;
        Faults::writesLeft = c.writesLeft;
        IoError error;
        {
            testwave::ScopedFileCalls fake(c.calls);
            error = WriteOutput(path, JoinedStereo(), {Bytes(120, 1), Bytes(120, 2)});
        }
        EXPECT_EQ(error.operation, c.operation);
        EXPECT_EQ(error.errorNumber, c.errorNumber);
        EXPECT_EQ(error.path, path);
        EXPECT_EQ(Snapshot(folder), before) << "the target is untouched and no temporary file stays";
    }
}

TEST_F(WaveOutputTest, GoesOnWhereSpaceCannotBeReserved) {
    FileCalls calls = Real();
    calls.fallocate = Faults::Fallocate;
    Faults::error = EOPNOTSUPP;
    testwave::ScopedFileCalls fake(calls);
    ASSERT_FALSE(WriteOutput(folder.Path("out.wav"), JoinedStereo(), {Bytes(240, 5)}));
    EXPECT_EQ(folder.Read("out.wav")->size(), 284u);
}

// A replaced file keeps what made it the user's: owner and group, the
// permission bits with them, extended attributes and ACLs; its other hard
// links keep the old bytes.
class ReplacedFile : public testwave::WithTempFolder {
protected:
    const Bytes old = Bytes(300, 0x77);
    const Bytes expected = Concat(WrittenHeader(JoinedStereo()), Bytes(240, 6));
    IoError Replace(const std::string& path) { return WriteOutput(path, JoinedStereo(), {Bytes(240, 6)}); }
};

TEST_F(ReplacedFile, KeepsOwnerGroupAndPermissionBits) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    const std::string path = folder.Write("theirs.wav", old);
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    // The set-group-ID bit is one that a change of owner clears.
    ASSERT_EQ(::chmod(path.c_str(), 02660), 0);
    ASSERT_FALSE(Replace(path));
    EXPECT_EQ(folder.Read("theirs.wav"), expected);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(status.st_mode & 07777, 02660u);
}

TEST_F(ReplacedFile, GoesOnWhereTheOwnerMayNotBeKept) {
    FileCalls calls = Real();
    calls.fchown = Faults::Chown;
    Faults::error = EPERM;
    const std::string path = folder.Write("take.wav", old);
    {
        testwave::ScopedFileCalls fake(calls);
        const IoError error = Replace(path);
        EXPECT_FALSE(error) << error.Describe();
    }
    EXPECT_EQ(folder.Read("take.wav"), expected);
}

// Returns the bytes of the attribute `name` of `path`, or nothing.
std::optional<Bytes> Attribute(const std::string& path, const char* name) {
    Bytes value(256);
    const ssize_t size = ::getxattr(path.c_str(), name, value.data(), value.size());
    if (size < 0) return std::nullopt;
    value.resize(static_cast<size_t>(size));
    return value;
}

// Returns an access ACL in the kernel's xattr form that lets user 65534
// read and write: entries of tag, permissions and id, sorted by tag.
Bytes AclGrantingNobody() {
    Bytes acl;
    testwave::AppendLe(acl, 2, 4);  // format version
    const struct {
        uint16_t tag;
        uint16_t permissions;
        uint32_t id;
    } entries[] = {
        {0x01, 6, 0xFFFFFFFF}, {0x02, 6, 65534}, {0x04, 4, 0xFFFFFFFF}, {0x10, 6, 0xFFFFFFFF}, {0x20, 0, 0xFFFFFFFF}};
    for (const auto& entry : entries) {
        testwave::AppendLe(acl, entry.tag, 2);
        testwave::AppendLe(acl, entry.permissions, 2);
        testwave::AppendLe(acl, entry.id, 4);
    }
    return acl;
}

TEST_F(ReplacedFile, KeepsExtendedAttributesAndAcls) {
    const std::string path = folder.Write("tagged.wav", old);
    const std::string note = "take 3, second mic";
    if (::setxattr(path.c_str(), "user.test", note.data(), note.size(), 0) != 0) {
        GTEST_SKIP() << "this file system refuses user attributes: " << std::strerror(errno);
    }
    const Bytes acl = AclGrantingNobody();
    const bool hasAcl = ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const auto aclBefore = Attribute(path, "system.posix_acl_access");
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    ASSERT_FALSE(Replace(path));
    EXPECT_EQ(folder.Read("tagged.wav"), expected);
    EXPECT_EQ(Attribute(path, "user.test"), Bytes(note.begin(), note.end()));
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
    if (!hasAcl) GTEST_SKIP() << "this file system refuses ACLs; the user attribute was kept";
    ASSERT_TRUE(aclBefore);
    EXPECT_EQ(Attribute(path, "system.posix_acl_access"), aclBefore);
}

TEST_F(ReplacedFile, LeavesOtherHardLinksWithTheOldBytes) {
    const std::string path = folder.Write("take.wav", old);
    ASSERT_EQ(::link(path.c_str(), folder.Path("backup.wav").c_str()), 0);
    ASSERT_FALSE(Replace(path));
    EXPECT_EQ(folder.Read("take.wav"), expected);
    EXPECT_EQ(folder.Read("backup.wav"), old);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"backup.wav", "take.wav"}));
}

// Exit statuses of a check run as another user, beyond any errno value.
constexpr int kCannotSwitchUser = 200;
constexpr int kCannotReachFolder = 201;

// Runs `check` in a child process as user and group 65534 and returns its
// exit status, or -1 when the child did not exit.
int StatusAsNobody(const std::function<int()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(kCannotSwitchUser);
        ::_exit(check());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Everything the final rename would refuse is refused when the output is
// opened, before any sample is moved.
TEST_F(WaveOutputTest, RefusesUpFrontWhatTheRenameWouldRefuse) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own files as two users";
    ASSERT_EQ(::chmod(folder.Path().c_str(), 01777), 0);
    const std::string theirs = folder.Write("theirs.wav", Bytes(300, 0x77));
    ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
    const std::string own = folder.Write("own.wav", Bytes(300, 0x77));
    ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
    const auto before = Snapshot(folder);
    // Another user's file in a sticky folder: writable, but not to be replaced by us.
    const auto OpenAsNobody = [&](const std::string& path) {
        return StatusAsNobody([&] {
            struct stat reachable {};
            if (::stat(folder.Path().c_str(), &reachable) != 0) return kCannotReachFolder;
            auto opened = OpenWaveOutput(path, 284);
            opened.output.Discard();
            return opened ? 0 : opened.error.errorNumber;
        });
    };
    const int theirsStatus = OpenAsNobody(theirs);
    if (theirsStatus == kCannotReachFolder) GTEST_SKIP() << "user 65534 cannot reach " << folder.Path();
    EXPECT_EQ(theirsStatus, EPERM);
    EXPECT_EQ(OpenAsNobody(own), 0) << "one's own file in a sticky folder may be replaced";
    EXPECT_EQ(Snapshot(folder), before);

    // An append-only file may be written to but not replaced, even by root.
    const int fd = ::open(theirs.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    int flags = 0;
    int appendOnly = 0;
    const bool flagged = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                         ::ioctl(fd, FS_IOC_SETFLAGS, &(appendOnly = flags | FS_APPEND_FL)) == 0;
    if (!flagged) {
        ::close(fd);
        GTEST_SKIP() << "this file system keeps no append-only flag";
    }
    const auto opened = OpenWaveOutput(theirs, 284);
    // The flag goes before anything is checked, so the folder can be removed.
    EXPECT_EQ(::ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);
    ::close(fd);
    EXPECT_EQ(opened.error.operation, Op::Create);
    EXPECT_EQ(opened.error.errorNumber, EPERM);
    EXPECT_EQ(Snapshot(folder), before);
}

// A folder that takes no new file is refused by the check up front as the
// temporary file's creation would refuse it; where an output may go, the
// check makes nothing.
TEST_F(WaveOutputTest, ChecksUpFrontThatTheFolderTakesNewFiles) {
    const std::string existing = folder.Write("take.wav", Bytes(300, 0x77));
    ASSERT_EQ(::mkdir(folder.Path("locked").c_str(), 0555), 0);
    const auto before = Snapshot(folder);
    EXPECT_FALSE(stereotools::CheckWaveOutput(existing));
    EXPECT_FALSE(stereotools::CheckWaveOutput(folder.Path("new.wav")));
    EXPECT_EQ(Snapshot(folder), before);

    const std::string locked = folder.Path("locked/new.wav");
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);
    const auto CheckAndOpen = [&] {
        struct stat reachable {};
        if (::stat(folder.Path().c_str(), &reachable) != 0) return kCannotReachFolder;
        const IoError checked = stereotools::CheckWaveOutput(locked);
        auto opened = OpenWaveOutput(locked, 284);
        opened.output.Discard();
        if (checked.Describe() != opened.error.Describe()) return 1;
        return checked.operation == Op::Create ? checked.errorNumber : 2;
    };
    // Root writes in any folder: the refusal is seen as another user.
    const int status = ::geteuid() == 0 ? StatusAsNobody(CheckAndOpen) : CheckAndOpen();
    if (status == kCannotReachFolder) GTEST_SKIP() << "user 65534 cannot reach " << folder.Path();
    EXPECT_EQ(status, EACCES);
    EXPECT_TRUE(testwave::TempFolder::NamesIn(folder.Path("locked")).empty());
}

TEST_F(WaveOutputTest, RemovesAnUncommittedOutput) {
    const std::string path = folder.Write("take.wav", Bytes(300, 0x77));
    const auto before = Snapshot(folder);
    {
        auto opened = OpenWaveOutput(path, 284);
        ASSERT_TRUE(opened);
        ASSERT_FALSE(WriteWaveHeader(opened.output, JoinedStereo()));
        ASSERT_FALSE(WriteSamplesBehindHeader(opened.output, Bytes(100, 1)));
        EXPECT_EQ(folder.Names().size(), 2u) << "the temporary file exists while writing";
        stereotools::WaveOutput moved = std::move(opened.output);
        EXPECT_FALSE(opened.output.IsOpen());
    }
    EXPECT_EQ(Snapshot(folder), before);

    auto discarded = OpenWaveOutput(path, 284);
    ASSERT_TRUE(discarded);
    discarded.output.Discard();
    EXPECT_EQ(Snapshot(folder), before);
    // Neither writing nor committing a discarded output may pass for success.
    EXPECT_EQ(stereotools::WriteWaveSamplesAt(discarded.output, 0, Bytes(4)).errorNumber, EBADF);
    EXPECT_EQ(CommitWaveOutput(discarded.output).errorNumber, EBADF);
    EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(WaveOutputTest, LeavesItsTemporaryFileForACrashToRemoveUntilCommittedOrDiscarded) {
    auto moved = OpenWaveOutput(folder.Path("moved.wav"), 0);
    auto committed = OpenWaveOutput(folder.Path("committed.wav"), 0);
    auto discarded = OpenWaveOutput(folder.Path("discarded.wav"), 0);
    auto open = OpenWaveOutput(folder.Path("open.wav"), 0);
    ASSERT_TRUE(moved && committed && discarded && open);
    ASSERT_FALSE(WriteWaveHeader(committed.output, JoinedStereo()));
    ASSERT_FALSE(CommitWaveOutput(committed.output));
    discarded.output.Discard();
    stereotools::WaveOutput movedTo = std::move(moved.output);
    moved.output.Discard();
    EXPECT_EQ(folder.Names().size(), 3u) << "two temporary files and the committed output";
    // What the crash handler does.
    stereotools::RemoveUnfinishedOutputs();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"committed.wav"});
}

// Told to refuse an existing target, an output never replaces one: not
// one there when it starts, nor one that appears before the commit, also
// where the file system cannot rename without replacing and a hard link
// places the file instead.
TEST_F(WaveOutputTest, RefusesAnExistingTargetWhenToldTo) {
    using stereotools::ExistingTarget;
    const Bytes theirs(300, 0x77);
    const std::string taken = folder.Write("taken.wav", theirs);
    const auto opened = OpenWaveOutput(taken, 284, ExistingTarget::Refuse);
    EXPECT_EQ(opened.error.operation, Op::Create);
    EXPECT_EQ(opened.error.errorNumber, EEXIST);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"taken.wav"});

    FileCalls noRenameFlags = Real();
    noRenameFlags.renameat2 = [](int, const char*, int, const char*, unsigned) {
        errno = EINVAL;
        return -1;
    };
    const FileCalls ways[] = {Real(), noRenameFlags};
    for (const FileCalls& calls : ways) {
        SCOPED_TRACE(&calls == &ways[0] ? "rename without replacing" : "hard link");
        testwave::ScopedFileCalls fake(calls);
        auto placed = OpenWaveOutput(folder.Path("new.wav"), 284, ExistingTarget::Refuse);
        ASSERT_TRUE(placed);
        ASSERT_FALSE(WriteWaveHeader(placed.output, JoinedStereo()));
        EXPECT_FALSE(CommitWaveOutput(placed.output));
        EXPECT_EQ(folder.Read("new.wav")->size(), 44u);

        auto raced = OpenWaveOutput(folder.Path("late.wav"), 284, ExistingTarget::Refuse);
        ASSERT_TRUE(raced);
        ASSERT_FALSE(WriteWaveHeader(raced.output, JoinedStereo()));
        folder.Write("late.wav", theirs);
        const IoError error = CommitWaveOutput(raced.output);
        EXPECT_EQ(error.operation, Op::Commit);
        EXPECT_EQ(error.errorNumber, EEXIST);
        EXPECT_EQ(folder.Read("late.wav"), theirs);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"late.wav", "new.wav", "taken.wav"}))
            << "no temporary file is left";
        std::filesystem::remove(folder.Path("late.wav"));
        std::filesystem::remove(folder.Path("new.wav"));
    }
}

}  // namespace
