#include "jobs/SplitJob.h"

#include "jobs/ChannelNames.h"
#include "jobs/JoinJob.h"

#include "jobs/SampleBlock.h"
#include "support/TestJobs.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <limits>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stereotools {
namespace {

using testjobs::Accept;
using testjobs::FailingSampleWrites;
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
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {{0, total},
                                                                 {kSampleBlockBytes, total},
                                                                 {2 * kSampleBlockBytes, total},
                                                                 {total, total}};
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
// job with its status and leaves no output and no temporary file; also in
// the middle of a job on two threads, while each holds back bytes it has
// not yet written.
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
    const Bytes many = WaveBuilder().Channels(2).Samples(testwave::RandomBytes(10 * kSampleBlockBytes + 8, 5)).Build();
    for (const std::size_t checksBefore : {3u, 5u}) {
        SCOPED_TRACE("two threads, stop after " + std::to_string(checksBefore) + " checks");
        SplitRequest request = Request(many);
        request.threads = 2;
        SplitJob job(request);
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

// A disk that fills while the samples are written, on either thread,
// leaves neither output nor a temporary file behind: also when it fills at
// the last writes, those of the bytes each thread held back to keep its
// writes on page boundaries.
TEST_F(SplitJobRun, LeavesNothingWhenASampleWriteFailsOnEitherThread) {
    const Bytes file = WaveBuilder().Channels(2).Samples(testwave::RandomBytes(8 * kSampleBlockBytes, 3)).Build();
    int writes = 0;
    {
        SplitRequest request = Request(file);
        request.threads = 2;
        SplitJob job(request);
        ScriptedMonitor monitor;
        testwave::ScopedFileCalls counting(FailingSampleWrites::Calls(std::numeric_limits<int>::max()));
        ASSERT_TRUE(RunJob(job, monitor));
        writes = FailingSampleWrites::calls;
        for (const std::string& name : job.CommittedOutputs()) std::filesystem::remove(name);
    }
    ASSERT_GT(writes, 16);
    for (const int failAt : {1, 2, 9, 16, writes - 1, writes}) {
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

// Returns sample `channel` of each frame of `count` channels of `width` bytes.
Bytes ChannelOfMany(const Bytes& samples, unsigned count, unsigned width, unsigned channel) {
    Bytes out;
    for (std::size_t at = std::size_t{channel} * width; at + width <= samples.size();
         at += std::size_t{count} * width) {
        out.insert(out.end(), samples.begin() + static_cast<long>(at), samples.begin() + static_cast<long>(at + width));
    }
    return out;
}

// Accepts `path` as a file of any channel count, as a many-channel split does.
JobInput AcceptMany(const std::string& path) { return Accept(path, kManyChannels); }

// Splits `input` into every channel's default name and joins those back
// into `joined` with `mask`. Returns the split outputs' names.
std::vector<std::string> SplitAndJoin(const JobInput& input, const std::string& joined, std::optional<uint32_t> mask,
                                      unsigned threads) {
    SplitRequest split{input, DeriveSplitFileNames(input.name, input.info.channels)};
    split.threads = threads;
    SplitJob splitJob(split);
    ScriptedMonitor monitor;
    EXPECT_TRUE(RunJob(splitJob, monitor));
    JoinRequest join;
    for (const std::string& name : split.outputs) join.inputs.push_back(Accept(name, 1));
    join.output = joined;
    join.channelMask = mask;
    join.threads = threads;
    JoinJob joinJob(join);
    EXPECT_TRUE(RunJob(joinJob, monitor));
    return split.outputs;
}

// Split then join gives every byte back for several depths and channel
// counts, through the default names, on one thread and on two; each mono
// output holds its channel. Joins of three or more are extensible with
// mask 0 and the inputs' valid bits.
TEST_F(SplitJobRun, SplitThenJoinGivesEveryByteBackForManyChannels) {
    struct Case {
        uint16_t bits;
        bool isFloat;
        unsigned channels;
        std::size_t frames;
    };
    const Case cases[] = {
        {16, false, 3, 1001}, {24, false, 6, 3 * BlockFrames(3, 6) + 17},
        {8, false, 16, 700},  {32, true, 7, 2 * BlockFrames(4, 7) + 1},
        {64, true, 12, 333},  {24, false, 64, BlockFrames(3, 64) + 5},
    };
    for (const Case& c : cases) {
        for (const unsigned threads : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(c.channels) + " channels of " + std::to_string(c.bits) + " bits, " +
                         std::to_string(threads) + " threads");
            const unsigned width = c.bits / 8u;
            const Bytes samples = testwave::RandomBytes(std::size_t{c.channels} * width * c.frames, c.channels);
            WaveBuilder input = WaveBuilder().Channels(c.channels).Rate(48000).Bits(c.bits).Samples(samples);
            if (c.isFloat) input.Tag(3);
            const std::string path = folder.Write("poly.wav", input.Build());
            const std::vector<std::string> names =
                SplitAndJoin(AcceptMany(path), folder.Path("joined.wav"), {}, threads);
            ASSERT_EQ(names.size(), c.channels);
            for (unsigned k = 0; k < c.channels; ++k) {
                WaveBuilder mono =
                    WaveBuilder().Rate(48000).Bits(c.bits).Samples(ChannelOfMany(samples, c.channels, width, k));
                if (c.isFloat) mono.Tag(3);
                ASSERT_EQ(*folder.Read(names[k].substr(folder.Path("").size())), mono.Build()) << names[k];
            }
            WaveBuilder joined = WaveBuilder().Channels(c.channels).Rate(48000).Bits(c.bits).Samples(samples);
            joined.Extensible(c.isFloat ? testwave::kFloatSubFormat : testwave::kPcmSubFormat);
            EXPECT_EQ(folder.Read("joined.wav"), joined.Build());
            for (const std::string& name : names) std::filesystem::remove(name);
        }
    }
}

// A 5.1 recording with an extensible header:
// outputs named channel 1 to 6 hold plain 24-bit samples, and a join with
// the recording's mask gives the file back byte for byte.
TEST_F(SplitJobRun, SplitsAnExtensibleFivePointOneFileAndJoinsItBack) {
    const Bytes samples = testwave::RandomBytes(6 * 3 * 4000, 51);
    const Bytes file = WaveBuilder()
                           .Channels(6)
                           .Rate(48000)
                           .Bits(24)
                           .Extensible(testwave::kPcmSubFormat)
                           .ChannelMask(0x3F)
                           .Samples(samples)
                           .Build();
    const std::vector<std::string> names =
        SplitAndJoin(AcceptMany(folder.Write("surround.wav", file)), folder.Path("joined.wav"), 0x3F, 0);
    EXPECT_EQ(names.front(), folder.Path("surround channel 1.wav"));
    EXPECT_EQ(names.back(), folder.Path("surround channel 6.wav"));
    EXPECT_EQ(folder.Read("surround channel 4.wav"),
              WaveBuilder().Rate(48000).Bits(24).Samples(ChannelOfMany(samples, 6, 3, 3)).Build());
    EXPECT_EQ(folder.Read("joined.wav"), file);
}

// Only the channels asked for are written, in the order asked; with
// skipSilent a channel of zero bytes is moved but not committed, and the
// job says it left it out.
TEST_F(SplitJobRun, WritesTheChosenChannelsAndLeavesOutSilentOnes) {
    const std::size_t frames = 2 * BlockFrames(2, 4) + 3;
    Bytes samples = testwave::RandomBytes(4 * 2 * frames, 4);
    for (std::size_t frame = 0; frame < frames; ++frame) samples[frame * 8 + 2] = samples[frame * 8 + 3] = 0;
    const JobInput input = AcceptMany(folder.Write("four.wav", WaveBuilder().Channels(4).Samples(samples).Build()));
    SplitRequest request{input, {folder.Path("c.wav"), folder.Path("a.wav"), folder.Path("b.wav")}};
    request.channels = {3, 1, 2};
    request.skipSilent = true;
    request.threads = 2;
    SplitJob job(request);
    ScriptedMonitor monitor;
    ASSERT_TRUE(RunJob(job, monitor));
    EXPECT_EQ(job.CommittedOutputs(), (std::vector<std::string>{folder.Path("c.wav"), folder.Path("a.wav")}));
    EXPECT_EQ(job.LeftOutOutputs(), std::vector<std::string>{folder.Path("b.wav")});
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.wav", "c.wav", "four.wav"}));
    EXPECT_EQ(folder.Read("c.wav"), WaveBuilder().Samples(ChannelOfMany(samples, 4, 2, 2)).Build());
    EXPECT_EQ(folder.Read("a.wav"), WaveBuilder().Samples(ChannelOfMany(samples, 4, 2, 0)).Build());
}

// A channel the file lacks, or names that do not match the channels, fail
// the job before anything is opened or written.
TEST_F(SplitJobRun, RefusesAChannelTheFileLacks) {
    const JobInput input =
        AcceptMany(folder.Write("three.wav", WaveBuilder().Channels(3).Samples(CountingBytes(12)).Build()));
    for (const std::vector<unsigned>& channels : {std::vector<unsigned>{4}, std::vector<unsigned>{0}}) {
        SplitRequest request{input, {folder.Path("x.wav")}};
        request.channels = channels;
        SplitJob job(request);
        ScriptedMonitor monitor;
        const JobResult result = RunJob(job, monitor);
        EXPECT_EQ(result.error.path, folder.Path("three.wav"));
        EXPECT_EQ(result.error.Describe(), "Cannot read '" + folder.Path("three.wav") + "': it has no channel " +
                                               std::to_string(channels[0]) + "  ");
        EXPECT_TRUE(monitor.progress.empty());
    }
    SplitJob job({input, {folder.Path("x.wav"), folder.Path("y.wav")}});
    ScriptedMonitor monitor;
    EXPECT_EQ(RunJob(job, monitor).error.errorNumber, EINVAL);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"three.wav"});
}

// Runs, in a child process whose open-file limits are `soft` and `hard`, a
// split of a 40-channel file into 40 outputs, and exits 0 when it ends as
// `expectSuccess` says: done, or failed before any sample moved, naming
// the files it needs, with nothing written.
void SplitUnderOpenFileLimit(const testwave::TempFolder& folder, rlim_t soft, rlim_t hard, bool expectSuccess) {
    const rlimit limit{soft, hard};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) std::_Exit(3);
    const JobInput input = AcceptMany(folder.Path("forty.wav"));
    SplitJob job({input, DeriveSplitFileNames(input.name, 40)});
    ScriptedMonitor monitor;
    const JobResult result = RunJob(job, monitor);
    if (expectSuccess) std::_Exit(result && folder.Names().size() == 41 ? 0 : 1);
    const bool failedWhole =
        result.error.errorNumber == EMFILE && monitor.progress.empty() &&
        result.error.Describe().find("open files at once, and the limit is 60") != std::string::npos &&
        folder.Names() == std::vector<std::string>{"forty.wav"};
    if (!failedWhole) std::fprintf(stderr, "%s\n", result.error.Describe().c_str());
    std::_Exit(failedWhole ? 0 : 2);
}

// The soft limit on open files is raised to the hard one when it is too
// low for a split; a split that still cannot open all its outputs fails
// before any sample moves and says how many files it needs.
TEST_F(SplitJobRun, MakesRoomForItsOpenFilesOrFailsWhole) {
    folder.Write("forty.wav", WaveBuilder().Channels(40).Samples(CountingBytes(40 * 2 * 10)).Build());
    rlimit now{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    if (now.rlim_max != RLIM_INFINITY && now.rlim_max < 200) GTEST_SKIP() << "the hard limit is too low to raise to";
    EXPECT_EXIT(SplitUnderOpenFileLimit(folder, 60, 60, false), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(SplitUnderOpenFileLimit(folder, 60, 200, true), testing::ExitedWithCode(0), "");
}

// The most channels a file holds: every output gets its two samples.
TEST_F(SplitJobRun, SplitsAFileOfTheMostChannels) {
    constexpr unsigned kChannels = 65535;
    const Bytes samples = testwave::RandomBytes(std::size_t{kChannels} * 2, 9);
    const JobInput input = AcceptMany(folder.Write("all.wav", WaveBuilder()
                                                                  .Channels(kChannels)
                                                                  .BlockAlign(kChannels)
                                                                  .ByteRate(44100u * kChannels)
                                                                  .Bits(8)
                                                                  .Samples(samples)
                                                                  .Build()));
    ASSERT_EQ(input.info.channels, kChannels);
    SplitRequest request{input, {}};
    request.channels = {1, kChannels};
    request.outputs = {folder.Path("first.wav"), folder.Path("last.wav")};
    SplitJob job(request);
    ScriptedMonitor monitor;
    ASSERT_TRUE(RunJob(job, monitor));
    EXPECT_EQ(folder.Read("first.wav"), WaveBuilder().Bits(8).Samples({samples[0], samples[kChannels]}).Build());
    EXPECT_EQ(folder.Read("last.wav"),
              WaveBuilder().Bits(8).Samples({samples[kChannels - 1], samples[2 * kChannels - 1]}).Build());
}

// The one split that reads past 4 GiB (label "slow"): a sparse RF64 file of
// three 16-bit channels, split into three outputs of which the last is
// itself past 4 GiB, and joined back into the same samples.
TEST(SplitJobSlow, SplitsAndJoinsAnRf64FilePast4GiB) {
    testwave::TempFolder folder;
    const uint64_t frames = (uint64_t{0xFFFFFFFF} + 6) / 2;  // each output's data is just past 4 GiB
    const uint64_t dataSize = frames * 6;
    const Bytes head = WaveBuilder().Rf64().Channels(3).Ds64DataSize(dataSize).Build();
    const std::string path = folder.Write("big.wav", head);
    const Bytes last = {0x11, 0x12, 0x21, 0x22, 0x31, 0x32};
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, last.data(), last.size(), static_cast<off_t>(head.size() + dataSize - 6)), 6);
    ::close(fd);
    const JobInput input = AcceptMany(path);
    ASSERT_EQ(input.info.dataSize, dataSize);
    const std::vector<std::string> names = SplitAndJoin(input, folder.Path("joined.wav"), {}, 0);
    for (unsigned k = 0; k < 3; ++k) {
        struct stat status {};
        ASSERT_EQ(::stat(names[k].c_str(), &status), 0);
        EXPECT_EQ(static_cast<uint64_t>(status.st_size), 80 + 2 * frames);
        const InputCheck check = CheckInput(names[k], 1);
        ASSERT_TRUE(check);
        Bytes sample(2);
        InputOpenResult opened = OpenInputFile(names[k]);
        ASSERT_TRUE(opened);
        ASSERT_FALSE(ReadSampleRange(opened.file, check.input.info.dataOffset, check.input.info.dataSize,
                                     2 * frames - 2, sample));
        EXPECT_EQ(sample, Bytes(last.begin() + 2 * k, last.begin() + 2 * k + 2));
    }
    const InputCheck joined = CheckInput(folder.Path("joined.wav"), kManyChannels);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined.input.info.channels, 3);
    EXPECT_EQ(joined.input.info.dataSize, dataSize);
    InputOpenResult opened = OpenInputFile(folder.Path("joined.wav"));
    ASSERT_TRUE(opened);
    Bytes tail(6);
    ASSERT_FALSE(ReadSampleRange(opened.file, joined.input.info.dataOffset, dataSize, dataSize - 6, tail));
    EXPECT_EQ(tail, last);
}

}  // namespace
}  // namespace stereotools
