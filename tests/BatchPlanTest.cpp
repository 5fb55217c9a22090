#include "cli/BatchPlan.h"

#include "jobs/ChannelNames.h"

#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stereotools {
namespace {

using testwave::Bytes;
using testwave::CountingBytes;
using testwave::WaveBuilder;
using Names = std::vector<std::string>;

Bytes Stereo(std::size_t bytes) { return WaveBuilder().Channels(2).Samples(CountingBytes(bytes)).Build(); }
Bytes Mono(std::size_t bytes, uint32_t rate = 44100) {
    return WaveBuilder().Channels(1).Rate(rate).Samples(CountingBytes(bytes)).Build();
}

Bytes Poly(uint16_t channels, std::size_t bytes) {
    return WaveBuilder().Channels(channels).Samples(CountingBytes(bytes)).Build();
}

class BatchPlan : public testwave::WithTempFolder {
protected:
    BatchPlanner Planner(bool force = false, std::string outputDir = {}) { return BatchPlanner({outputDir, force}); }
};

TEST_F(BatchPlan, NamesASplitsOutputsBesideTheInputOrInTheOutputFolder) {
    const std::string input = folder.Write("take 1.wav", Stereo(40));
    ASSERT_TRUE(std::filesystem::create_directory(folder.Path("out")));
    struct Case {
        const char* outputDir;
        std::string folder;
    };
    const Case cases[] = {
        {"", folder.Path()},
        {"out", "out"},
        {"out/", "out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outputDir);
        testwave::ScopedWorkingDirectory here(folder.Path());
        BatchPlanner planner = Planner(false, c.outputDir);
        const BatchItem item = planner.PlanSplit(input);
        ASSERT_TRUE(item) << item.refusal;
        EXPECT_EQ(item.name, input);
        EXPECT_EQ(item.outputs, (Names{c.folder + "/take 1 left channel.wav", c.folder + "/take 1 right channel.wav"}));
        ASSERT_EQ(item.inputs.size(), 1u);
        EXPECT_EQ(item.inputs[0].info.channels, 2);
        EXPECT_EQ(item.sampleBytes, 40u);
    }
}

// The texts are the dialogue's, without the blanks around them; "File not
// found." only for a name that stands for no file, and a name that stands
// for something else than a file says what.
TEST_F(BatchPlan, RefusesAnInputAsTheDialogueDoes) {
    folder.Write("mono.wav", Mono(8));
    folder.Write("text.wav", Bytes(100, 'x'));
    ASSERT_TRUE(std::filesystem::create_directory(folder.Path("folder.wav")));
    ASSERT_EQ(::mkfifo(folder.Path("pipe.wav").c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string refusal;
    };
    const Case cases[] = {
        {"missing.wav", "File not found. (No such file or directory)"},
        {"missing/x.wav", "File not found. (No such file or directory)"},
        {"folder.wav", "'" + folder.Path("folder.wav") + "' is a folder"},
        {"pipe.wav", "'" + folder.Path("pipe.wav") + "' is a named pipe"},
        {"mono.wav", "This is not a stereo Wave file"},
        {"text.wav", "This is not a Wave file"},
    };
    BatchPlanner planner = Planner();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BatchItem item = planner.PlanSplit(folder.Path(c.name));
        EXPECT_FALSE(item);
        EXPECT_EQ(item.refusedName, folder.Path(c.name));
        EXPECT_EQ(item.refusal, c.refusal);
    }
}

// Without force an output that exists, even as a dangling link, refuses the
// whole input; an output that an earlier input of the run writes refuses
// the later input also with force, whatever the spelling of its folder.
TEST_F(BatchPlan, RefusesOutputsThatExistOrAreWrittenTwice) {
    const std::string take = folder.Write("take.wav", Stereo(8));
    ASSERT_TRUE(std::filesystem::create_directory(folder.Path("other")));
    folder.Write("other/take.wav", Stereo(8));
    {
        SCOPED_TRACE("right output exists");
        folder.Write("take right channel.wav", Bytes(4));
        BatchPlanner planner = Planner();
        const BatchItem item = planner.PlanSplit(take);
        EXPECT_EQ(item.refusedName, take);
        EXPECT_EQ(item.refusal, "'" + folder.Path("take right channel.wav") + "' exists; use --force to replace it");
        EXPECT_TRUE(Planner(true).PlanSplit(take));
        std::filesystem::remove(folder.Path("take right channel.wav"));
    }
    {
        SCOPED_TRACE("dangling link");
        std::filesystem::create_symlink("nowhere", folder.Path("take left channel.wav"));
        EXPECT_FALSE(Planner().PlanSplit(take));
        std::filesystem::remove(folder.Path("take left channel.wav"));
    }
    {
        SCOPED_TRACE("same input twice, spelled two ways");
        testwave::ScopedWorkingDirectory here(folder.Path());
        BatchPlanner planner = Planner(true);
        EXPECT_TRUE(planner.PlanSplit("take.wav"));
        const BatchItem again = planner.PlanSplit("./other/../take.wav");
        EXPECT_EQ(again.refusal, "'./other/../take left channel.wav' is written by 'take.wav' earlier in this run");
    }
    {
        SCOPED_TRACE("two inputs of one name into one output folder");
        BatchPlanner planner = Planner(true, folder.Path("other"));
        EXPECT_TRUE(planner.PlanSplit(take));
        EXPECT_FALSE(planner.PlanSplit(folder.Path("other/take.wav")));
    }
    {
        SCOPED_TRACE("a refused input claims nothing");
        folder.Write("take left channel.wav", Bytes(4));
        BatchPlanner planner = Planner();
        EXPECT_FALSE(planner.PlanSplit(take));
        std::filesystem::remove(folder.Path("take left channel.wav"));
        EXPECT_TRUE(planner.PlanSplit(take));
    }
}

TEST_F(BatchPlan, PairsEachLeftFileWithItsPartner) {
    folder.Write("a left channel.wav", Mono(8));
    folder.Write("a right channel.wav", Mono(12));
    folder.Write("b.L.wav", Mono(8));
    folder.Write("b.R.wav", Mono(8));
    folder.Write("c_l.wav", Mono(8));
    folder.Write("c_r.wav", Mono(8));
    folder.Write("d-L.wav", Mono(8));
    folder.Write("d-R.wav", Mono(8));
    folder.Write("e.L.wav", Mono(8));
    folder.Write("f.L.wav", Mono(8));
    folder.Write("f.R.wav", Mono(8, 48000));
    folder.Write("g.L.wav", Mono(8));
    folder.Write("g.R.wav", Stereo(8));
    struct Case {
        const char* left;
        const char* refusedName;  // "" when the pair is joined
        std::string refusal;
        const char* right;
        const char* joined;
    };
    const Case cases[] = {
        {"a left channel.wav", "", "", "a right channel.wav", "a.wav"},
        {"b.L.wav", "", "", "b.R.wav", "b.wav"},
        {"c_l.wav", "", "", "c_r.wav", "c.wav"},
        {"d-L.wav", "", "", "d-R.wav", "d.wav"},
        {"e.L.wav", "e.R.wav", "File not found. (No such file or directory)", "", ""},
        {"f.L.wav", "f.L.wav", "These two files have incompatible sample rates (44100 and 48000 Hz)", "", ""},
        {"g.L.wav", "g.R.wav", "This is not a mono Wave file", "", ""},
        {"b.R.wav", "b.R.wav", PairProblemMessage(PairProblem::RightHalf), "", ""},
        {"a.wav", "a.wav", PairProblemMessage(PairProblem::NoPartner), "", ""},
    };
    BatchPlanner planner = Planner();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.left);
        const BatchItem item = planner.PlanPair(folder.Path(c.left));
        EXPECT_EQ(item.name, folder.Path(c.left));
        EXPECT_EQ(item.refusal, c.refusal);
        if (!item) {
            EXPECT_EQ(item.refusedName, folder.Path(c.refusedName));
            continue;
        }
        EXPECT_EQ(item.outputs, Names{folder.Path(c.joined)});
        ASSERT_EQ(item.inputs.size(), 2u);
        EXPECT_EQ(item.inputs[1].name, folder.Path(c.right));
    }
    EXPECT_EQ(planner.PlanPair(folder.Path("a left channel.wav")).sampleBytes, 24u) << "twice the longer input";
}

// A join's output is taken as named; naming an input replaces it only when forced.
TEST_F(BatchPlan, JoinsIntoTheNamedOutput) {
    const std::string left = folder.Write("l.wav", Mono(8));
    const std::string right = folder.Write("r.wav", Mono(8));
    EXPECT_EQ(Planner().PlanJoin({left, right}, folder.Path("lr.wav")).outputs, Names{folder.Path("lr.wav")});
    EXPECT_EQ(Planner().PlanJoin({left, right}, left).refusal, "'" + left + "' exists; use --force to replace it");
    EXPECT_TRUE(Planner(true).PlanJoin({left, right}, left));
}

TEST_F(BatchPlan, SplitsAnyChannelCountIntoNumberedOrTemplateNames) {
    const std::string input = folder.Write("T01.WAV", Poly(4, 80));
    ASSERT_TRUE(std::filesystem::create_directory(folder.Path("out")));
    struct Case {
        const char* name;
        BatchSettings settings;
        std::vector<unsigned> channels;
        Names outputs;
    };
    const std::string in = folder.Path() + "/";
    const Case cases[] = {
        {"every channel",
         {},
         {1, 2, 3, 4},
         {in + "T01 channel 1.wav", in + "T01 channel 2.wav", in + "T01 channel 3.wav", in + "T01 channel 4.wav"}},
        {"chosen channels in their order",
         {"", false, {4, 2}},
         {4, 2},
         {in + "T01 channel 4.wav", in + "T01 channel 2.wav"}},
        {"a template",
         {"", false, {}, "{name}_{n}.wav"},
         {1, 2, 3, 4},
         {in + "T01_1.wav", in + "T01_2.wav", in + "T01_3.wav", in + "T01_4.wav"}},
        {"a template into a folder",
         {folder.Path("out"), false, {3}, "{name}_Tr{n}.wav"},
         {3},
         {folder.Path("out") + "/T01_Tr3.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BatchPlanner planner(c.settings);
        const BatchItem item = planner.PlanSplit(input);
        ASSERT_TRUE(item) << item.refusal;
        EXPECT_EQ(item.outputs, c.outputs);
        EXPECT_EQ(item.channels, c.channels);
        EXPECT_EQ(item.sampleBytes, 80u) << "every frame is read whatever is written";
    }
    // A stereo file keeps its left and right names for the channels chosen.
    const std::string stereo = folder.Write("s.wav", Stereo(8));
    EXPECT_EQ(BatchPlanner({"", false, {2}}).PlanSplit(stereo).outputs, Names{in + "s right channel.wav"});
}

// A channel the file lacks fails the input before anything is claimed.
TEST_F(BatchPlan, RefusesAChannelTheFileLacks) {
    const std::string input = folder.Write("q.wav", Poly(3, 60));
    BatchPlanner planner({"", false, {1, 4}});
    const BatchItem item = planner.PlanSplit(input);
    EXPECT_EQ(item.refusedName, input);
    EXPECT_EQ(item.refusal, "This file has 3 channels: there is no channel 4");
    EXPECT_TRUE(item.outputs.empty());
    EXPECT_TRUE(BatchPlanner({"", false, {3}}).PlanSplit(input));
}

// Two outputs of one split that are one file (here through a link) would
// leave one channel only.
TEST_F(BatchPlan, RefusesTwoOutputsOfOneSplitThatAreOneFile) {
    const std::string input = folder.Write("t.wav", Poly(3, 60));
    folder.Write("t channel 1.wav", Bytes(4));
    ASSERT_EQ(::symlink("t channel 1.wav", folder.Path("t channel 3.wav").c_str()), 0);
    EXPECT_EQ(Planner(true).PlanSplit(input).refusal,
              "'" + folder.Path("t channel 3.wav") + "' would be written twice by this input");
}

TEST_F(BatchPlan, JoinsManyFilesAndSaysWhichOneDiffers) {
    const std::string a = folder.Write("a.wav", Mono(8));
    const std::string b = folder.Write("b.wav", Mono(12));
    const std::string c = folder.Write("c.wav", Mono(8));
    const std::string d = folder.Write("d.wav", Mono(8, 48000));
    const BatchItem item = Planner().PlanJoin({a, b, c}, folder.Path("abc.wav"));
    ASSERT_TRUE(item) << item.refusal;
    EXPECT_EQ(item.inputs.size(), 3u);
    EXPECT_EQ(item.sampleBytes, 36u) << "three times the longest input";
    const BatchItem refused = Planner().PlanJoin({a, b, d, c}, folder.Path("abdc.wav"));
    EXPECT_EQ(refused.refusedName, a);
    EXPECT_EQ(refused.refusal,
              "These two files have incompatible sample rates (44100 and 48000 Hz): this one and '" + d + "'");
}

TEST_F(BatchPlan, JoinsATakeIntoItsNameOrRefusesIt) {
    const std::string one = folder.Write("T01_1.wav", Mono(8));
    const std::string two = folder.Write("T01_2.wav", Mono(8));
    const Take take{TakeProblem::None, {one, two}, folder.Path("T01.wav"), 0};
    const BatchItem item = Planner().PlanTake(take);
    ASSERT_TRUE(item) << item.refusal;
    EXPECT_EQ(item.name, one);
    EXPECT_EQ(item.outputs, Names{folder.Path("T01.wav")});

    const Take gap{TakeProblem::MissingChannel, {one, folder.Path("T01_3.wav")}, folder.Path("T01.wav"), 2};
    EXPECT_EQ(Planner().PlanTake(gap).refusal, "Channel 2 of this take is missing");
    BatchPlanner sixSpeakers({"", false, {}, "", 0x3F});
    EXPECT_EQ(sixSpeakers.PlanTake(take).refusal, "The channel mask names 6 speakers for the 2 files of this take");
}

// A file the run could not read is refused with the system's reason, not
// as missing.
TEST_F(BatchPlan, SaysWhyAnExistingInputCannotBeRead) {
    const std::string inUse = folder.Write("in use.wav", Stereo(8));
    const int holder = ::open(inUse.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(Planner().PlanSplit(inUse).refusal, "Cannot read '" + inUse + "': in use by another program");
    ::close(holder);

    const std::string closed = folder.Write("closed.wav", Stereo(8));
    ASSERT_EQ(::chmod(closed.c_str(), 0), 0);
    if (::access(closed.c_str(), R_OK) == 0) GTEST_SKIP() << "this user reads every file";
    EXPECT_EQ(Planner().PlanSplit(closed).refusal, "Cannot read '" + closed + "': Permission denied");
}

TEST(CompatibilityRefusal, NamesBothValues) {
    WaveFormatInfo left;
    left.formatTag = 1;
    left.sampleRate = 44100;
    left.bitsPerSample = 16;
    WaveFormatInfo right = left;
    right.sampleRate = 48000;
    EXPECT_EQ(CompatibilityRefusal(CompatibilityProblem::SampleRatesDiffer, left, right),
              "These two files have incompatible sample rates (44100 and 48000 Hz)");
    right = left;
    right.bitsPerSample = 24;
    EXPECT_EQ(CompatibilityRefusal(CompatibilityProblem::BitDepthsDiffer, left, right),
              "These two files have incompatible bit depths (16 and 24 bits)");
    right = left;
    right.formatTag = 3;
    EXPECT_EQ(CompatibilityRefusal(CompatibilityProblem::FormatsDiffer, left, right),
              "These two files have incompatible audio formats (PCM and float)");
    EXPECT_EQ(CompatibilityRefusal(CompatibilityProblem::None, left, left), "");
}

// Outputs are keyed by the file they would replace: a link to another
// item's output, or a hard link, is that output.
TEST_F(BatchPlan, RefusesTwoNamesOfOneOutput) {
    const std::string a = folder.Write("a.wav", Stereo(8));
    const std::string b = folder.Write("b.wav", Stereo(8));
    folder.Write("b left channel.wav", Bytes(4));
    folder.Write("b right channel.wav", Bytes(4));
    ASSERT_EQ(::symlink("b left channel.wav", folder.Path("a left channel.wav").c_str()), 0);
    ASSERT_EQ(::link(folder.Path("b right channel.wav").c_str(), folder.Path("a right channel.wav").c_str()), 0);
    BatchPlanner planner = Planner(true);
    EXPECT_TRUE(planner.PlanSplit(a));
    const BatchItem later = planner.PlanSplit(b);
    EXPECT_EQ(later.refusal,
              "'" + folder.Path("b left channel.wav") + "' is written by '" + a + "' earlier in this run");
}

// An input that an earlier item writes would be replaced before, or while,
// it is read, whatever the order the jobs run in.
TEST_F(BatchPlan, RefusesAnInputAnEarlierItemWrites) {
    const std::string c = folder.Write("c.wav", Stereo(8));
    const std::string take = folder.Write("c left channel.wav", Stereo(8));
    BatchPlanner planner = Planner(true);
    EXPECT_TRUE(planner.PlanSplit(c));
    EXPECT_EQ(planner.PlanSplit(take).refusal, "'" + take + "' is written by '" + c + "' earlier in this run");

    // In the other order each is read before anything is written over it.
    BatchPlanner reversed = Planner(true);
    EXPECT_TRUE(reversed.PlanSplit(take));
}

// A header that declares more samples than the file holds is warned of;
// the item still runs.
TEST_F(BatchPlan, WarnsOfSamplesTheFileDoesNotHold) {
    const std::string cut =
        folder.Write("cut.wav", WaveBuilder().Channels(2).DataSize(4000).Samples(CountingBytes(40)).Build());
    const BatchItem item = Planner().PlanSplit(cut);
    ASSERT_TRUE(item) << item.refusal;
    EXPECT_EQ(item.warnings, Names{cut + ": the header declares 4000 bytes of samples, the file holds 40; "
                                         "the rest is written as silence"});
    EXPECT_TRUE(Planner().PlanSplit(folder.Write("whole.wav", Stereo(40))).warnings.empty());
}

// `--pairs *.wav` names both halves of every pair: the right halves whose
// left halves are named are left out, a right half alone is kept (and refused).
TEST_F(BatchPlan, LeavesOutRightHalvesWhoseLeftHalvesAreListed) {
    for (const char* name : {"a.L.wav", "a.R.wav", "b.R.wav", "c left channel.wav", "c right channel.wav"}) {
        folder.Write(name, Mono(8));
    }
    testwave::ScopedWorkingDirectory here(folder.Path());
    EXPECT_EQ(WithoutListedPartners({"a.R.wav", "./a.L.wav", "b.R.wav", "c right channel.wav", "c left channel.wav"}),
              (Names{"./a.L.wav", "b.R.wav", "c left channel.wav"}));
}

}  // namespace
}  // namespace stereotools
