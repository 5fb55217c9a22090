#include "cli/BatchPlan.h"

#include "jobs/ChannelNames.h"

#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

// The texts are the dialogue's, without the blanks around them; a file
// that cannot be opened also says why.
TEST_F(BatchPlan, RefusesAnInputAsTheDialogueDoes) {
    folder.Write("mono.wav", Mono(8));
    folder.Write("text.wav", Bytes(100, 'x'));
    ASSERT_TRUE(std::filesystem::create_directory(folder.Path("folder.wav")));
    struct Case {
        const char* name;
        const char* refusal;
    };
    const Case cases[] = {
        {"missing.wav", "File not found. (No such file or directory)"},
        {"folder.wav", "File not found. (Is a directory)"},
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
        {"f.L.wav", "f.L.wav", "These two files have incompatible sample rates", "", ""},
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
    EXPECT_EQ(Planner().PlanJoin(left, right, folder.Path("lr.wav")).outputs, Names{folder.Path("lr.wav")});
    EXPECT_EQ(Planner().PlanJoin(left, right, left).refusal, "'" + left + "' exists; use --force to replace it");
    EXPECT_TRUE(Planner(true).PlanJoin(left, right, left));
}

}  // namespace
}  // namespace stereotools
