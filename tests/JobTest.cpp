#include "jobs/Job.h"

#include "support/TestJobs.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <sys/stat.h>

namespace stereotools {
namespace {

using testwave::Bytes;
using testwave::CountingBytes;
using testwave::WaveBuilder;

class CheckInputFile : public testwave::WithTempFolder {};

TEST_F(CheckInputFile, GivesTheNameAndHeaderAndLeavesTheFileClosed) {
    const std::string path =
        folder.Write("take 1.wav", WaveBuilder().Channels(2).Rate(48000).Samples(CountingBytes(8)).Build());
    const InputCheck check = CheckInput(path, 2);
    ASSERT_TRUE(check);
    EXPECT_EQ(check.input.name, path);
    EXPECT_EQ(check.input.info.sampleRate, 48000);
    EXPECT_EQ(check.input.info.dataSize, 8u);
    // Closed and unlocked again: the job can open it.
    EXPECT_TRUE(OpenInputFile(path));
}

// What cannot be opened is an open error with its reason, never taken for a
// file that is not a WAV file.
TEST_F(CheckInputFile, ReportsWhatCannotBeOpenedAsAnOpenError) {
    ASSERT_EQ(::mkdir(folder.Path("folder.wav").c_str(), 0755), 0);
    struct Case {
        std::string name;
        int errorNumber;
    };
    const Case cases[] = {{folder.Path("missing.wav"), ENOENT}, {folder.Path("folder.wav"), EISDIR}, {"", ENOENT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const InputCheck check = CheckInput(c.name, 1);
        EXPECT_FALSE(check);
        EXPECT_EQ(check.error.operation, IoError::Operation::Open);
        EXPECT_EQ(check.error.errorNumber, c.errorNumber);
        EXPECT_EQ(check.error.path, c.name);
    }
}

TEST_F(CheckInputFile, ReportsARefusedHeaderAsItsProblem) {
    const std::string stereo = folder.Write("stereo.wav", WaveBuilder().Channels(2).Samples(CountingBytes(8)).Build());
    const std::string text = folder.Write("notes.wav", Bytes(100, 'x'));
    EXPECT_EQ(CheckInput(stereo, 1).problem, WaveHeaderProblem::WrongChannelCount);
    EXPECT_EQ(CheckInput(text, 1).problem, WaveHeaderProblem::NotWave);
    EXPECT_FALSE(CheckInput(text, 1).error);
}

class ReopenInputFile : public testwave::WithTempFolder {};

// Whatever changed in the header since it was accepted refuses the file with
// an error naming it; what lies outside the header does not.
TEST_F(ReopenInputFile, RefusesAFileWhoseHeaderChangedSinceItWasAccepted) {
    const Bytes samples = CountingBytes(16);
    const Bytes original = WaveBuilder().Channels(2).Samples(samples).Build();
    struct Case {
        const char* name;
        Bytes replacement;
        bool refused;
    };
    const Case cases[] = {
        {"unchanged", original, false},
        {"a chunk added after the data",
         WaveBuilder().Channels(2).Samples(samples).ChunkAfterData("LIST", Bytes(8, 7)).Build(), false},
        {"re-saved with a LIST chunk before the data",
         WaveBuilder().Channels(2).ChunkBeforeData("LIST", Bytes(26, 'L')).Samples(samples).Build(), true},
        {"samples appended", WaveBuilder().Channels(2).Samples(CountingBytes(20)).Build(), true},
        {"another sample rate", WaveBuilder().Channels(2).Rate(48000).Samples(samples).Build(), true},
        {"now a mono file", WaveBuilder().Channels(1).Samples(samples).Build(), true},
        {"no longer a WAV file", Bytes(original.size(), 0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Write("take.wav", original);
        const JobInput accepted = testjobs::Accept(path, 2);
        folder.Write("take.wav", c.replacement);

        InputOpenResult reopened = ReopenInput(accepted);
        if (!c.refused) {
            EXPECT_TRUE(reopened);
            EXPECT_TRUE(reopened.file.IsOpen());
            continue;
        }
        EXPECT_FALSE(reopened);
        EXPECT_FALSE(reopened.file.IsOpen());
        EXPECT_EQ(reopened.error.operation, IoError::Operation::Read);
        EXPECT_EQ(reopened.error.Describe(), "Cannot read '" + path + "': the file changed after it was checked  ");
    }
}

TEST_F(ReopenInputFile, ReportsAFileThatIsGoneAsAnOpenError) {
    const std::string path = folder.Write("take.wav", WaveBuilder().Samples(CountingBytes(4)).Build());
    const JobInput accepted = testjobs::Accept(path, 1);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    const InputOpenResult reopened = ReopenInput(accepted);
    EXPECT_EQ(reopened.error.operation, IoError::Operation::Open);
    EXPECT_EQ(reopened.error.errorNumber, ENOENT);
}

class ReadCarriedChunksFile : public testwave::WithTempFolder {};

TEST_F(ReadCarriedChunksFile, GivesTheChunksAndTheFileToCopyThemFrom) {
    const std::string path = folder.Write(
        "take.wav",
        WaveBuilder().ChunkBeforeFmt("bext", Bytes(4)).Samples(Bytes(2)).ChunkAfterData("cue ", Bytes(4)).Build());
    InputOpenResult opened = OpenInputFile(path);
    ASSERT_TRUE(opened);
    const MetadataRead read = ReadCarriedChunks(opened.file, testjobs::ScriptedMonitor());
    ASSERT_TRUE(read.result);
    EXPECT_EQ(read.carried.source, &opened.file);
    EXPECT_EQ(read.carried.metadata.beforeData, (std::vector<WaveChunk>{{"bext", 20, 4}}));
    EXPECT_EQ(read.carried.metadata.afterData, (std::vector<WaveChunk>{{"cue ", 12 + 12 + 24 + 10 + 8, 4}}));
}

TEST_F(ReadCarriedChunksFile, ReportsAFileOfTooManyChunksAsAReadError) {
    Bytes bytes = WaveBuilder().Samples(Bytes(2)).Build();
    const Bytes emptyCue = {'c', 'u', 'e', ' ', 0, 0, 0, 0};
    for (int i = 0; i < 70000; ++i) bytes.insert(bytes.end(), emptyCue.begin(), emptyCue.end());
    testwave::CoverWithForm(bytes);
    const std::string path = folder.Write("flood.wav", bytes);
    InputOpenResult opened = OpenInputFile(path);
    ASSERT_TRUE(opened);
    const MetadataRead read = ReadCarriedChunks(opened.file, testjobs::ScriptedMonitor());
    EXPECT_EQ(read.result.error.Describe(), "Cannot read '" + path + "': too many chunks to carry its metadata  ");
    EXPECT_EQ(read.result.stopStatus, 0);
}

}  // namespace
}  // namespace stereotools
