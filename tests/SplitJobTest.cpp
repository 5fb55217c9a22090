#include "jobs/SplitJob.h"

#include "jobs/SampleBlock.h"
#include "support/TestJobs.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace stereotools {
namespace {

using testjobs::Accept;
using testjobs::ScriptedMonitor;
using testwave::Bytes;
using testwave::CountingBytes;
using testwave::WaveBuilder;

// Returns sample `channel` (0 left, 1 right) of each frame of `width`-byte samples.
Bytes ChannelOf(const Bytes& samples, unsigned width, unsigned channel) {
    Bytes out;
    for (std::size_t first = channel * width; first + width <= samples.size(); first += 2 * width) {
        out.insert(out.end(), samples.begin() + static_cast<long>(first),
                   samples.begin() + static_cast<long>(first + width));
    }
    return out;
}

Bytes MonoFile(const Bytes& samples) { return WaveBuilder().Channels(1).Rate(44100).Samples(samples).Build(); }

class SplitJobRun : public testwave::WithTempFolder {
protected:
    SplitRequest Request(const Bytes& file) {
        return {Accept(folder.Write("take.wav", file), 2),
                {folder.Path("take left channel.wav"), folder.Path("take right channel.wav")}};
    }
};

// A file of three blocks: progress starts at 0, grows block by block and
// ends at every sample byte of the input; the outputs hold each channel.
TEST_F(SplitJobRun, ReportsProgressBlockByBlock) {
    const Bytes samples = CountingBytes(2 * kSampleBlockBytes + 400);
    SplitJob job(Request(WaveBuilder().Channels(2).Rate(44100).Samples(samples).Build()));
    ScriptedMonitor monitor;

    ASSERT_TRUE(RunJob(job, monitor));
    const uint64_t total = samples.size();
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {
        {0, total}, {kSampleBlockBytes, total}, {2 * kSampleBlockBytes, total}, {total, total}};
    EXPECT_EQ(monitor.progress, expected);
    EXPECT_EQ(folder.Read("take left channel.wav"), MonoFile(ChannelOf(samples, 2, 0)));
    EXPECT_EQ(folder.Read("take right channel.wav"), MonoFile(ChannelOf(samples, 2, 1)));
}

// The two phases: moving the samples leaves the targets as they were; only
// the commit puts the outputs in their place.
TEST_F(SplitJobRun, PutsTheOutputsInPlaceOnlyOnCommit) {
    const Bytes samples = CountingBytes(40);
    SplitJob job(Request(WaveBuilder().Channels(2).Samples(samples).Build()));
    const Bytes old(10, 0xEE);
    folder.Write("take left channel.wav", old);
    ScriptedMonitor monitor;

    ASSERT_TRUE(job.MoveSamples(monitor));
    EXPECT_EQ(folder.Read("take left channel.wav"), old);
    EXPECT_FALSE(folder.Read("take right channel.wav"));
    EXPECT_EQ(job.CommittedOutputs(), std::vector<std::string>{});
    ASSERT_TRUE(job.CommitOutputs(monitor));
    EXPECT_EQ(folder.Read("take left channel.wav"), MonoFile(ChannelOf(samples, 2, 0)));
    EXPECT_EQ(folder.Read("take right channel.wav"), MonoFile(ChannelOf(samples, 2, 1)));
    EXPECT_EQ(job.CommittedOutputs(),
              (std::vector<std::string>{folder.Path("take left channel.wav"), folder.Path("take right channel.wav")}));
}

// A right output whose rename fails after the left one was put in place:
// the left one stays and is the only one the job says it committed.
TEST_F(SplitJobRun, SaysWhichOutputsItCommittedBeforeAFailure) {
    SplitJob job(Request(WaveBuilder().Channels(2).Samples(CountingBytes(40)).Build()));
    ScriptedMonitor monitor;
    ASSERT_TRUE(job.MoveSamples(monitor));
    FileCalls calls = SystemFileCalls();
    calls.renameat = [](int fromFolder, const char* from, int toFolder, const char* to) {
        if (std::string(to).ends_with("right channel.wav")) {
            errno = EIO;
            return -1;
        }
        return SystemFileCalls().renameat(fromFolder, from, toFolder, to);
    };
    testwave::ScopedFileCalls fake(calls);
    EXPECT_EQ(job.CommitOutputs(monitor).error.errorNumber, EIO);
    EXPECT_EQ(job.CommittedOutputs(), std::vector<std::string>{folder.Path("take left channel.wav")});
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"take left channel.wav", "take.wav"}));
}

// A stop before any block, between blocks, or before the commit ends the
// job with its status and leaves no output and no temporary file.
TEST_F(SplitJobRun, HonoursAStopAtEveryCheck) {
    const Bytes file = WaveBuilder().Channels(2).Samples(CountingBytes(kSampleBlockBytes + 8)).Build();
    for (const std::size_t checksBefore : {0u, 1u, 2u}) {
        SCOPED_TRACE("stop after " + std::to_string(checksBefore) + " checks");
        SplitJob job(Request(file));
        ScriptedMonitor monitor(143, checksBefore);
        const JobResult result = RunJob(job, monitor);
        EXPECT_EQ(result.stopStatus, 143);
        EXPECT_FALSE(result.error);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"take.wav"});
    }
}

// Chunks as recorders write them: "bext" before "fmt ", a filler and a
// list before the data, markers and notes behind it.
// The filler is left out where `withFiller` is false, as outputs leave it.
WaveBuilder WithMetadata(WaveBuilder builder, bool withFiller = true) {
    const Bytes info = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'x'};
    builder.ChunkBeforeFmt("bext", Bytes(5, 'b'));
    if (withFiller) builder.ChunkBeforeData("JUNK", Bytes(6));
    return builder.ChunkBeforeData("LIST", info)
        .ChunkAfterData("cue ", Bytes(4, 'c'))
        .ChunkAfterData("iXML", Bytes(3, 'i'));
}

// With keepMetadata both outputs carry the input's chunks in their places,
// each with its pad byte, the data chunk's too; the filler stays behind.
TEST_F(SplitJobRun, CarriesTheInputsMetadataIntoBothOutputsOnRequest) {
    const Bytes samples = CountingBytes(6);  // three 8-bit frames: odd channels
    for (const char* form : {"RIFF", "RF64", "BW64"}) {
        SCOPED_TRACE(form);
        WaveBuilder input = WithMetadata(WaveBuilder().Channels(2).Bits(8).Samples(samples));
        if (std::string(form) != "RIFF") input.Rf64(form);
        SplitRequest request = Request(input.Build());
        request.keepMetadata = true;
        SplitJob job(request);
        ScriptedMonitor monitor;
        ASSERT_TRUE(RunJob(job, monitor));
        for (const auto& [name, channel] :
             {std::pair{"take left channel.wav", 0u}, std::pair{"take right channel.wav", 1u}}) {
            SCOPED_TRACE(name);
            const Bytes channelSamples = ChannelOf(samples, 1, channel);
            EXPECT_EQ(folder.Read(name), WithMetadata(WaveBuilder().Bits(8).Samples(channelSamples), false).Build());
        }
    }
}

// Without the request, outputs of an RF64 or BW64 input are canonical and
// the chunks behind its data are no samples.
TEST_F(SplitJobRun, SplitsRf64AndBw64IntoCanonicalOutputs) {
    const Bytes samples = CountingBytes(40);
    for (const char* form : {"RF64", "BW64"}) {
        SCOPED_TRACE(form);
        SplitJob job(Request(WithMetadata(WaveBuilder().Rf64(form).Channels(2).Samples(samples)).Build()));
        ScriptedMonitor monitor;
        ASSERT_TRUE(RunJob(job, monitor));
        EXPECT_EQ(folder.Read("take left channel.wav"), MonoFile(ChannelOf(samples, 2, 0)));
        EXPECT_EQ(folder.Read("take right channel.wav"), MonoFile(ChannelOf(samples, 2, 1)));
    }
}

TEST_F(SplitJobRun, HonoursAStopWhileReadingMetadata) {
    SplitRequest request = Request(WithMetadata(WaveBuilder().Channels(2).Samples(CountingBytes(8))).Build());
    request.keepMetadata = true;
    SplitJob job(request);
    ScriptedMonitor monitor(143, 0);
    const JobResult result = job.MoveSamples(monitor);
    EXPECT_EQ(result.stopStatus, 143);
    EXPECT_TRUE(monitor.progress.empty()) << "stopped before any output was started";
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"take.wav"});
}

// On two threads each half of the blocks lands in its place in both
// outputs: widths that fill a block exactly and that do not, a last block
// cut short, the input opened once more for the helper.
TEST_F(SplitJobRun, SplitsExactlyOnTwoThreads) {
    struct Case {
        uint16_t bits;
        std::size_t frames;
    };
    const Case cases[] = {
        {8, 9 * BlockFrames(1) + 100},
        {24, 8 * BlockFrames(3) + 7},
        {64, 10 * BlockFrames(8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const unsigned width = c.bits / 8u;
        const Bytes samples = testwave::RandomBytes(2 * width * c.frames, c.bits);
        SplitRequest request = Request(WaveBuilder().Channels(2).Rate(44100).Bits(c.bits).Samples(samples).Build());
        request.threads = 2;
        SplitJob job(request);
        ScriptedMonitor monitor;
        ASSERT_TRUE(RunJob(job, monitor));
        for (const unsigned channel : {0u, 1u}) {
            const Bytes expected =
                WaveBuilder().Rate(44100).Bits(c.bits).Samples(ChannelOf(samples, width, channel)).Build();
            EXPECT_EQ(folder.Read(channel == 0 ? "take left channel.wav" : "take right channel.wav"), expected);
        }
    }
}

// Fails the sample writes from the `failAt`-th on (counted from 1, on
// both threads together) with ENOSPC.
struct FailingSampleWrites {
    static inline std::atomic<int> calls{0};
    static inline int failAt = 0;
    static ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
        if (++calls >= failAt) {
            errno = ENOSPC;
            return -1;
        }
        return ::pwrite(fd, buffer, count, offset);
    }
    static FileCalls Calls(int first) {
        calls = 0;
        failAt = first;
        FileCalls fake = SystemFileCalls();
        fake.pwrite = Pwrite;
        return fake;
    }
};

// A disk that fills while the samples are written, on either thread,
// leaves neither output nor a temporary file behind.
TEST_F(SplitJobRun, LeavesNothingWhenASampleWriteFailsOnEitherThread) {
    const Bytes file = WaveBuilder().Channels(2).Samples(testwave::RandomBytes(8 * kSampleBlockBytes, 3)).Build();
    for (const int failAt : {1, 2, 9, 16}) {
        SCOPED_TRACE(failAt);
        SplitRequest request = Request(file);
        request.threads = 2;
        SplitJob job(request);
        ScriptedMonitor monitor;
        JobResult result;
        {
            testwave::ScopedFileCalls fake(FailingSampleWrites::Calls(failAt));
            result = RunJob(job, monitor);
        }
        EXPECT_EQ(result.error.operation, IoError::Operation::Write);
        EXPECT_EQ(result.error.errorNumber, ENOSPC);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"take.wav"});
    }
}

// A failure in either phase leaves neither output behind, nor a temporary
// file, and an existing file of an output's name as it was.
TEST_F(SplitJobRun, LeavesNoOutputAfterAFailure) {
    const Bytes file = WaveBuilder().Channels(2).Samples(CountingBytes(40)).Build();
    {
        SCOPED_TRACE("right output is a directory");
        SplitJob job(Request(file));
        ASSERT_TRUE(std::filesystem::create_directory(folder.Path("take right channel.wav")));
        ScriptedMonitor monitor;
        const JobResult result = job.MoveSamples(monitor);
        EXPECT_EQ(result.error.path, folder.Path("take right channel.wav"));
        EXPECT_EQ(result.error.errorNumber, EISDIR);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"take right channel.wav", "take.wav"}));
        std::filesystem::remove(folder.Path("take right channel.wav"));
    }
    {
        SCOPED_TRACE("disk full");
        SplitJob job(Request(file));
        const Bytes old(10, 0xEE);
        folder.Write("take left channel.wav", old);
        FileCalls calls = SystemFileCalls();
        calls.write = [](int, const void*, size_t) -> ssize_t {
            errno = ENOSPC;
            return -1;
        };
        testwave::ScopedFileCalls fake(calls);
        ScriptedMonitor monitor;
        const JobResult result = job.MoveSamples(monitor);
        EXPECT_EQ(result.error.errorNumber, ENOSPC);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"take left channel.wav", "take.wav"}));
        EXPECT_EQ(folder.Read("take left channel.wav"), old);
    }
}

// Asked not to replace, a split refuses an output that exists when it starts
// (writing nothing) or that appears while it runs (leaving that file alone).
TEST_F(SplitJobRun, RefusesToReplaceAnOutputWhenAskedNotTo) {
    const Bytes file = WaveBuilder().Channels(2).Samples(CountingBytes(40)).Build();
    const Bytes theirs(10, 0xEE);
    {
        SCOPED_TRACE("right output exists at the start");
        SplitRequest request = Request(file);
        request.existing = ExistingTarget::Refuse;
        folder.Write("take right channel.wav", theirs);
        SplitJob job(request);
        ScriptedMonitor monitor;
        const JobResult result = RunJob(job, monitor);
        EXPECT_EQ(result.error.operation, IoError::Operation::Create);
        EXPECT_EQ(result.error.path, folder.Path("take right channel.wav"));
        EXPECT_EQ(result.error.errorNumber, EEXIST);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"take right channel.wav", "take.wav"}));
        EXPECT_EQ(folder.Read("take right channel.wav"), theirs);
        std::filesystem::remove(folder.Path("take right channel.wav"));
    }
    {
        SCOPED_TRACE("right output appears before the commit");
        SplitRequest request = Request(file);
        request.existing = ExistingTarget::Refuse;
        SplitJob job(request);
        ScriptedMonitor monitor;
        ASSERT_TRUE(job.MoveSamples(monitor));
        folder.Write("take right channel.wav", theirs);
        const JobResult result = job.CommitOutputs(monitor);
        EXPECT_EQ(result.error.operation, IoError::Operation::Commit);
        EXPECT_EQ(result.error.errorNumber, EEXIST);
        EXPECT_EQ(folder.Read("take right channel.wav"), theirs);
        EXPECT_EQ(folder.Read("take left channel.wav"), MonoFile(ChannelOf(CountingBytes(40), 2, 0)));
        EXPECT_EQ(folder.Names().size(), 3u) << "no temporary file is left";
    }
}

}  // namespace
}  // namespace stereotools
