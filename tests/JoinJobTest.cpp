#include "jobs/JoinJob.h"

#include "jobs/SampleBlock.h"
#include "support/TestJobs.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stereotools {
namespace {

using testjobs::Accept;
using testjobs::FailingSampleWrites;
using testjobs::ScriptedMonitor;
using testwave::Bytes;
using testwave::CountingBytes;
using testwave::WaveBuilder;

Bytes MonoFile(const Bytes& samples) { return WaveBuilder().Channels(1).Samples(samples).Build(); }

// Returns the frames of two channels of 16-bit samples of equal length.
Bytes Interleaved16(const Bytes& left, const Bytes& right) {
    Bytes out;
    for (std::size_t i = 0; i + 2 <= left.size(); i += 2) {
        out.insert(out.end(), {left[i], left[i + 1], right[i], right[i + 1]});
    }
    return out;
}

Bytes StereoFile(const Bytes& samples) { return WaveBuilder().Channels(2).Samples(samples).Build(); }

class JoinJobRun : public testwave::WithTempFolder {
protected:
    JoinRequest Request(const std::string& left, const std::string& right, const std::string& output) {
        return {{Accept(folder.Path(left), 1), Accept(folder.Path(right), 1)}, folder.Path(output)};
    }
};

// Progress counts the bytes of the joined data: twice the longer input.
TEST_F(JoinJobRun, ReportsProgressBlockByBlock) {
    const Bytes left = CountingBytes(kSampleBlockBytes / 2 + 6, 1);
    const Bytes right = CountingBytes(kSampleBlockBytes / 2 + 6, 0x81);
    folder.Write("l.wav", MonoFile(left));
    folder.Write("r.wav", MonoFile(right));
    JoinJob job(Request("l.wav", "r.wav", "lr.wav"));
    ScriptedMonitor monitor;

    ASSERT_TRUE(RunJob(job, monitor));
    const uint64_t total = 2 * left.size();
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {{0, total},
                                                                 {kSampleBlockBytes, total},
                                                                 {total, total}};
    EXPECT_EQ(monitor.progress, expected);
    EXPECT_EQ(folder.Read("lr.wav"), StereoFile(Interleaved16(left, right)));
}

// Returns the frames of two channels of `width`-byte samples, the shorter
// channel's missing samples zero.
Bytes Interleaved(Bytes left, Bytes right, unsigned width) {
    left.resize(std::max(left.size(), right.size()));
    right.resize(left.size());
    Bytes out;
    for (std::size_t i = 0; i + width <= left.size(); i += width) {
        out.insert(out.end(), left.begin() + static_cast<long>(i), left.begin() + static_cast<long>(i + width));
        out.insert(out.end(), right.begin() + static_cast<long>(i), right.begin() + static_cast<long>(i + width));
    }
    return out;
}

// On two threads each half of the blocks lands in its place: a width that
// does not fill a block exactly, a right channel that ends a block and a
// half before the left, and one file named for both channels.
TEST_F(JoinJobRun, JoinsExactlyOnTwoThreads) {
    const std::size_t frames = 9 * BlockFrames(3) + 5;
    const Bytes left = testwave::RandomBytes(3 * frames, 1);
    const Bytes right = testwave::RandomBytes(3 * (frames - BlockFrames(3) * 3 / 2), 2);
    folder.Write("l.wav", WaveBuilder().Bits(24).Samples(left).Build());
    folder.Write("r.wav", WaveBuilder().Bits(24).Samples(right).Build());
    for (const auto& [rightName, rightSamples] : {std::pair{"r.wav", &right}, std::pair{"l.wav", &left}}) {
        SCOPED_TRACE(rightName);
        JoinRequest request = Request("l.wav", rightName, "lr.wav");
        request.threads = 2;
        JoinJob job(request);
        ScriptedMonitor monitor;
        ASSERT_TRUE(RunJob(job, monitor));
        EXPECT_EQ(folder.Read("lr.wav"),
                  WaveBuilder().Channels(2).Bits(24).Samples(Interleaved(left, *rightSamples, 3)).Build());
    }
}

// A disk that fills at any write of the samples, the first, one in the
// middle or the last (each thread's held-back bytes), leaves no output and
// no temporary file.
TEST_F(JoinJobRun, LeavesNothingWhenASampleWriteFails) {
    const Bytes samples = testwave::RandomBytes(3 * 9 * BlockFrames(3), 4);
    folder.Write("l.wav", WaveBuilder().Bits(24).Samples(samples).Build());
    folder.Write("r.wav", WaveBuilder().Bits(24).Samples(samples).Build());
    JoinRequest request = Request("l.wav", "r.wav", "lr.wav");
    request.threads = 2;
    int writes = 0;
    {
        JoinJob job(request);
        ScriptedMonitor monitor;
        testwave::ScopedFileCalls counting(FailingSampleWrites::Calls(std::numeric_limits<int>::max()));
        ASSERT_TRUE(RunJob(job, monitor));
        writes = FailingSampleWrites::calls;
        std::filesystem::remove(folder.Path("lr.wav"));
    }
    ASSERT_GT(writes, 9);
    for (const int failAt : {1, 5, writes - 1, writes}) {
        SCOPED_TRACE(failAt);
        JoinJob job(request);
        ScriptedMonitor monitor;
        JobResult result;
        {
            testwave::ScopedFileCalls fake(FailingSampleWrites::Calls(failAt));
            result = RunJob(job, monitor);
        }
        EXPECT_EQ(result.error.errorNumber, ENOSPC);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"l.wav", "r.wav"}));
    }
}

// With keepMetadata the output carries the left input's chunks in their
// places with their pad bytes; the right input's are not taken.
TEST_F(JoinJobRun, TakesTheLeftInputsMetadataOnRequest) {
    const Bytes list = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0, 0, 0, 'L'};
    const auto leftChunks = [&](WaveBuilder builder) {
        return builder.ChunkBeforeFmt("bext", Bytes(3, 'b'))
            .ChunkBeforeData("LIST", list)
            .ChunkAfterData("cue ", Bytes(4, 'c'));
    };
    // Three 8-bit frames: the joined data is even, the left's is odd.
    folder.Write("l.wav",
                 leftChunks(WaveBuilder().Bits(8)).Samples({1, 2, 3}).ChunkBeforeData("JUNK", Bytes(2)).Build());
    folder.Write("r.wav", WaveBuilder()
                              .Bits(8)
                              .ChunkBeforeFmt("bext", Bytes(1, 'R'))
                              .Samples({4, 5, 6})
                              .ChunkAfterData("iXML", Bytes(2, 'R'))
                              .Build());
    JoinRequest request = Request("l.wav", "r.wav", "lr.wav");
    request.keepMetadata = true;
    JoinJob job(request);
    ScriptedMonitor monitor;
    ASSERT_TRUE(RunJob(job, monitor));
    EXPECT_EQ(folder.Read("lr.wav"), leftChunks(WaveBuilder().Channels(2).Bits(8)).Samples({1, 4, 2, 5, 3, 6}).Build());
}

// The output may name the left input: the input is read whole before the
// commit puts the joined file in its place.
TEST_F(JoinJobRun, ReplacesAnInputNamedAsOutputOnlyOnCommit) {
    const Bytes left = CountingBytes(8, 1);
    const Bytes right = CountingBytes(8, 0x41);
    folder.Write("take.wav", MonoFile(left));
    folder.Write("r.wav", MonoFile(right));
    JoinJob job(Request("take.wav", "r.wav", "take.wav"));
    ScriptedMonitor monitor;

    ASSERT_TRUE(job.MoveSamples(monitor));
    EXPECT_EQ(folder.Read("take.wav"), MonoFile(left));
    EXPECT_EQ(job.CommittedOutputs(), std::vector<std::string>{});
    ASSERT_TRUE(job.CommitOutputs(monitor));
    EXPECT_EQ(job.CommittedOutputs(), std::vector<std::string>{folder.Path("take.wav")});
    EXPECT_EQ(folder.Read("take.wav"), StereoFile(Interleaved16(left, right)));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"r.wav", "take.wav"}));
}

TEST_F(JoinJobRun, HonoursAStopAtEveryCheck) {
    folder.Write("l.wav", MonoFile(CountingBytes(kSampleBlockBytes / 2 + 2)));
    folder.Write("r.wav", MonoFile(CountingBytes(8)));
    for (const std::size_t checksBefore : {0u, 1u, 2u}) {
        SCOPED_TRACE("stop after " + std::to_string(checksBefore) + " checks");
        JoinJob job(Request("l.wav", "r.wav", "out.wav"));
        ScriptedMonitor monitor(130, checksBefore);
        const JobResult result = RunJob(job, monitor);
        EXPECT_EQ(result.stopStatus, 130);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"l.wav", "r.wav"}));
    }
}

// An input swapped between the answers and the job, re-saved with a LIST
// chunk before its data: no chunk byte becomes a sample. The job refuses the
// swapped file by name; the other input and the output's name stay as they
// were.
TEST_F(JoinJobRun, RefusesAnInputReSavedAfterItWasAccepted) {
    const Bytes left = CountingBytes(16, 1);
    const Bytes right = CountingBytes(16, 0x41);
    for (const char* swapped : {"l.wav", "r.wav"}) {
        SCOPED_TRACE(swapped);
        folder.Write("l.wav", MonoFile(left));
        folder.Write("r.wav", MonoFile(right));
        const Bytes old(20, 0xEE);
        folder.Write("out.wav", old);
        JoinJob job(Request("l.wav", "r.wav", "out.wav"));
        folder.Write(swapped, WaveBuilder().ChunkBeforeData("LIST", Bytes(12, 'L')).Samples(right).Build());
        ScriptedMonitor monitor;

        const JobResult result = RunJob(job, monitor);
        EXPECT_EQ(result.error.Describe(),
                  "Cannot read '" + folder.Path(swapped) + "': the file changed after it was checked  ");
        EXPECT_EQ(folder.Read("out.wav"), old);
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"l.wav", "out.wav", "r.wav"}));
    }
}

// One file named for both channels is opened once (a second lock on it
// would refuse it); it must still be what both answers accepted.
TEST_F(JoinJobRun, OpensOneFileNamedTwiceOnce) {
    const Bytes samples = CountingBytes(12, 1);
    folder.Write("a.wav", MonoFile(samples));
    {
        JoinJob job(Request("a.wav", "a.wav", "aa.wav"));
        ScriptedMonitor monitor;
        ASSERT_TRUE(RunJob(job, monitor));
        EXPECT_EQ(folder.Read("aa.wav"), StereoFile(Interleaved16(samples, samples)));
    }
    {
        SCOPED_TRACE("changed between the two answers");
        const JobInput asLeft = Accept(folder.Path("a.wav"), 1);
        folder.Write("a.wav", MonoFile(CountingBytes(14, 1)));
        JoinJob job({{Accept(folder.Path("a.wav"), 1), asLeft}, folder.Path("aa2.wav")});
        ScriptedMonitor monitor;
        EXPECT_EQ(RunJob(job, monitor).error.operation, IoError::Operation::Read);
        EXPECT_FALSE(folder.Read("aa2.wav"));
    }
}

// Asked not to replace, a join leaves alone an output that appears while it runs.
TEST_F(JoinJobRun, RefusesToReplaceAnOutputWhenAskedNotTo) {
    folder.Write("l.wav", MonoFile(CountingBytes(8, 1)));
    folder.Write("r.wav", MonoFile(CountingBytes(8, 0x81)));
    JoinRequest request = Request("l.wav", "r.wav", "lr.wav");
    request.existing = ExistingTarget::Refuse;
    JoinJob job(request);
    ScriptedMonitor monitor;
    ASSERT_TRUE(job.MoveSamples(monitor));
    const Bytes theirs(10, 0xEE);
    folder.Write("lr.wav", theirs);

    const JobResult result = job.CommitOutputs(monitor);
    EXPECT_EQ(result.error.operation, IoError::Operation::Commit);
    EXPECT_EQ(result.error.errorNumber, EEXIST);
    EXPECT_EQ(folder.Read("lr.wav"), theirs);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"l.wav", "lr.wav", "r.wav"}));
}

// Three inputs of different lengths, the shortest the middle one: every
// frame holds the three samples in order, missing ones zero; the header is
// extensible with mask 0 (or the mask asked for) and the inputs' valid bits.
TEST_F(JoinJobRun, JoinsThreeInputsIntoAnExtensibleFile) {
    const Bytes first = testwave::RandomBytes(3 * 500, 1);
    const Bytes second = testwave::RandomBytes(3 * 200, 2);
    const Bytes third = testwave::RandomBytes(3 * 500, 3);
    for (const char* name : {"1.wav", "2.wav", "3.wav"}) {
        const Bytes& samples = name[0] == '1' ? first : name[0] == '2' ? second : third;
        folder.Write(name,
                     WaveBuilder().Bits(24).Extensible(testwave::kPcmSubFormat).ValidBits(20).Samples(samples).Build());
    }
    Bytes frames;
    for (std::size_t i = 0; i < 500; ++i) {
        for (const Bytes* channel : {&first, &second, &third}) {
            for (std::size_t b = 0; b < 3; ++b)
                frames.push_back(3 * i + b < channel->size() ? (*channel)[3 * i + b] : 0);
        }
    }
    for (const std::optional<uint32_t> mask : {std::optional<uint32_t>{}, std::optional<uint32_t>{0x7}}) {
        SCOPED_TRACE(mask ? "mask 7" : "no mask");
        JoinRequest request{{Accept(folder.Path("1.wav"), 1), Accept(folder.Path("2.wav"), 1),
                             Accept(folder.Path("3.wav"), 1)},
                            folder.Path("123.wav")};
        request.channelMask = mask;
        JoinJob job(request);
        ScriptedMonitor monitor;
        ASSERT_TRUE(RunJob(job, monitor));
        EXPECT_EQ(monitor.progress.back(), std::make_pair(uint64_t{frames.size()}, uint64_t{frames.size()}));
        EXPECT_EQ(folder.Read("123.wav"), WaveBuilder()
                                              .Channels(3)
                                              .Bits(24)
                                              .Extensible(testwave::kPcmSubFormat)
                                              .ValidBits(20)
                                              .ChannelMask(mask.value_or(0))
                                              .Samples(frames)
                                              .Build());
    }
}

// Two inputs with a mask are written extensible too, as the mask asks.
TEST_F(JoinJobRun, WritesAStereoMaskInAnExtensibleHeader) {
    folder.Write("l.wav", MonoFile(CountingBytes(8, 1)));
    folder.Write("r.wav", MonoFile(CountingBytes(8, 0x41)));
    JoinRequest request = Request("l.wav", "r.wav", "lr.wav");
    request.channelMask = 0x3;
    JoinJob job(request);
    ScriptedMonitor monitor;
    ASSERT_TRUE(RunJob(job, monitor));
    EXPECT_EQ(folder.Read("lr.wav"), WaveBuilder()
                                         .Channels(2)
                                         .Extensible(testwave::kPcmSubFormat)
                                         .ChannelMask(0x3)
                                         .Samples(Interleaved16(CountingBytes(8, 1), CountingBytes(8, 0x41)))
                                         .Build());
}

// Fewer than two inputs, or inputs that do not agree, fail before anything
// is opened, naming the input that differs in the tools' words.
TEST_F(JoinJobRun, RefusesTooFewOrDisagreeingInputs) {
    folder.Write("a.wav", MonoFile(CountingBytes(8)));
    folder.Write("b.wav", WaveBuilder().Rate(48000).Samples(CountingBytes(8)).Build());
    {
        JoinJob job({{Accept(folder.Path("a.wav"), 1)}, folder.Path("out.wav")});
        ScriptedMonitor monitor;
        EXPECT_EQ(RunJob(job, monitor).error.errorNumber, EINVAL);
    }
    JoinJob job({{Accept(folder.Path("a.wav"), 1), Accept(folder.Path("a.wav"), 1), Accept(folder.Path("b.wav"), 1)},
                 folder.Path("out.wav")});
    ScriptedMonitor monitor;
    const JobResult result = RunJob(job, monitor);
    EXPECT_EQ(result.error.Describe(),
              "Cannot read '" + folder.Path("b.wav") + "': These two files have incompatible sample rates  ");
    EXPECT_TRUE(monitor.progress.empty());
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.wav", "b.wav"}));
}

}  // namespace
}  // namespace stereotools
