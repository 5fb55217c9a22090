#include "support/TestWave.h"
#include "wave/WaveReader.h"
#include "wave/WaveWriter.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using testwave::Bytes;
using stereotools::CommitWaveOutput;
using stereotools::FileCalls;
using stereotools::IoError;
using stereotools::OpenWaveOutput;
using stereotools::WaveFormatInfo;
using stereotools::WriteWaveHeader;
using stereotools::WriteWaveSamples;

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

TEST(EncodeWaveHeader, WritesTheCanonicalLayout) {
    const Bytes expected = {
        'R', 'I', 'F', 'F', 0x14, 0x01, 0, 0,   // RIFF size 276
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0,                            // fmt size
        1, 0, 2, 0,                             // tag 1, 2 channels
        100, 0, 0, 0, 0x90, 0x01, 0, 0,         // rate 100, byte rate 400
        4, 0, 16, 0,                            // block align, bits
        'd', 'a', 't', 'a', 0xF0, 0, 0, 0,      // data size 240
    };
    const auto header = stereotools::EncodeWaveHeader(JoinedStereo());
    EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
}

TEST(EncodeWaveHeader, WritesFieldsWhole) {
    WaveFormatInfo info;
    info.formatTag = 3;
    info.channels = 1;
    info.sampleRate = 0x01020304;
    info.byteRate = 0xA0B0C0D0u;
    info.blockAlign = 0x1234;
    info.bitsPerSample = 64;
    info.dataSize = 0xFFFFFFDBu;  // the largest that fits with the RIFF size
    const auto header = stereotools::EncodeWaveHeader(info);
    const Bytes expectedTail = {3, 0, 1, 0, 4, 3, 2, 1, 0xD0, 0xC0, 0xB0, 0xA0, 0x34, 0x12, 64, 0};
    EXPECT_EQ(Bytes(header.begin() + 20, header.begin() + 36), expectedTail);
    EXPECT_EQ(Bytes(header.begin() + 4, header.begin() + 8), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(header.begin() + 40, header.end()), Bytes({0xDB, 0xFF, 0xFF, 0xFF}));
}

// Writes a whole output: header, the samples in `blocks`, commit.
IoError WriteOutput(const std::string& path, const WaveFormatInfo& info, const std::vector<Bytes>& blocks) {
    auto opened = OpenWaveOutput(path, stereotools::kWaveHeaderBytes + info.dataSize);
    if (!opened) return opened.error;
    if (IoError error = WriteWaveHeader(opened.output, info)) return error;
    for (const auto& block : blocks) {
        if (IoError error = WriteWaveSamples(opened.output, block)) return error;
    }
    return CommitWaveOutput(opened.output);
}

Bytes Concat(const std::array<uint8_t, stereotools::kWaveHeaderBytes>& header, const Bytes& samples) {
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
    EXPECT_EQ(*written, Concat(stereotools::EncodeWaveHeader(JoinedStereo()), samples));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"joined.wav"}) << "no temporary file is left";

    const auto reread = stereotools::ReadWaveHeader(stereotools::MemorySource(*written), 2);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread.info.dataSize, 240u);
}

TEST_F(WaveOutputTest, ReplacesALongerFileWithExactlyTheNewBytes) {
    const std::string path = folder.Write("out.wav", Bytes(1000, 0x55));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WaveFormatInfo info = JoinedStereo();
    info.dataSize = 4;
    ASSERT_FALSE(WriteOutput(path, info, {Bytes{1, 2, 3, 4}}));
    EXPECT_EQ(folder.Read("out.wav"), Concat(stereotools::EncodeWaveHeader(info), Bytes{1, 2, 3, 4}));
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
    ASSERT_EQ(::symlink("takes/not yet.wav", folder.Path("dangling.wav").c_str()), 0);
    WaveFormatInfo info = JoinedStereo();
    info.dataSize = 2;
    const Bytes expected = Concat(stereotools::EncodeWaveHeader(info), Bytes{7, 8});

    ASSERT_FALSE(WriteOutput(folder.Path("link to link.wav"), info, {Bytes{7, 8}}));
    EXPECT_EQ(folder.Read("takes/real.wav"), expected);
    ASSERT_FALSE(WriteOutput(folder.Path("dangling.wav"), info, {Bytes{7, 8}}));
    EXPECT_EQ(folder.Read("takes/not yet.wav"), expected);

    struct stat status {};
    ASSERT_EQ(::lstat(folder.Path("link.wav").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link itself stays a link";
    ASSERT_EQ(::lstat(folder.Path("dangling.wav").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST_F(WaveOutputTest, KeepsTheTemporaryNameWithinTheNameLimit) {
    const std::string longName = std::string(251, 'n') + ".wav";
    ASSERT_FALSE(WriteOutput(folder.Path(longName), JoinedStereo(), {Bytes(240)}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{longName});
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

    static int Access(const char*, int) {
        errno = error;
        return -1;
    }
    static int Fallocate(int, int, off_t, off_t) {
        errno = error;
        return -1;
    }
    static ssize_t Write(int fd, const void* buffer, size_t count) {
        if (writesLeft-- > 0) return ::write(fd, buffer, count);
        errno = error;
        return -1;
    }
    static int Close(int fd) {
        ::close(fd);
        errno = error;
        return -1;
    }
    static int Rename(const char*, const char*) {
        errno = error;
        return -1;
    }
};

FileCalls Real() { return stereotools::SystemFileCalls(); }

TEST_F(WaveOutputTest, FailsWholeWhenAnyStepFails) {
    struct Case {
        const char* name;
        FileCalls calls;
        int writesLeft;
        Op operation;
        int errorNumber;
    };
    FileCalls access = Real(), fallocate = Real(), write = Real(), close = Real(), rename = Real();
    access.access = Faults::Access;
    fallocate.fallocate = Faults::Fallocate;
    write.write = Faults::Write;
    close.close = Faults::Close;
    rename.rename = Faults::Rename;
    const Case cases[] = {
        {"existing file may not be written", access, 0, Op::Create, EACCES},
        {"no room for the reservation", fallocate, 0, Op::Create, ENOSPC},
        {"file too large for the file system", fallocate, 0, Op::Create, EFBIG},
        {"disk full on the header", write, 0, Op::Write, ENOSPC},
        {"disk full on the samples", write, 1, Op::Write, ENOSPC},
        {"disk error on the samples", write, 2, Op::Write, EIO},
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

TEST_F(WaveOutputTest, RemovesAnUncommittedOutput) {
    const std::string path = folder.Write("take.wav", Bytes(300, 0x77));
    const auto before = Snapshot(folder);
    {
        auto opened = OpenWaveOutput(path, 284);
        ASSERT_TRUE(opened);
        ASSERT_FALSE(WriteWaveHeader(opened.output, JoinedStereo()));
        ASSERT_FALSE(WriteWaveSamples(opened.output, Bytes(100, 1)));
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
    EXPECT_EQ(WriteWaveSamples(discarded.output, Bytes(4)).errorNumber, EBADF);
    EXPECT_EQ(CommitWaveOutput(discarded.output).errorNumber, EBADF);
    EXPECT_EQ(Snapshot(folder), before);
}

}  // namespace
