#include "cli/CommandLine.h"
#include "support/OneCore.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

namespace {

using stereotools::CommandLine;
using stereotools::ParseCommandLine;
using stereotools::Tool;
using Action = CommandLine::Action;
using Names = std::vector<std::string>;

// Arguments the parser refuses, with the message it must give.
struct Refusal {
    Tool tool;
    Names arguments;
    std::string error;
};

// Expects each of `cases` to be a usage error with its message.
void ExpectUsageErrors(std::span<const Refusal> cases) {
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.error);
        const CommandLine line = ParseCommandLine(c.tool, c.arguments);
        EXPECT_EQ(line.action, Action::UsageError);
        EXPECT_EQ(line.error, c.error);
    }
}

struct Parsed {
    std::string name;
    Tool tool;
    Names arguments;
    Action action;
    Names operands = {};
    std::string outputDir = {};
    bool force = false;
    bool dryRun = false;
    bool quiet = false;
    bool pairs = false;
    unsigned jobs = stereotools::DefaultJobs();
    bool keepMetadata = false;
    bool anyStart = false;
};

TEST(ParseCommandLine, ReadsEveryOptionInEitherSpelling) {
    const Parsed cases[] = {
        {"files only", Tool::Split, {"a.wav", "b.wav"}, Action::Run, {"a.wav", "b.wav"}},
        {"-o", Tool::Split, {"-o", "out", "a.wav"}, Action::Run, {"a.wav"}, "out"},
        {"-oDIR", Tool::Split, {"-oout", "a.wav"}, Action::Run, {"a.wav"}, "out"},
        {"--output-dir=", Tool::Split, {"--output-dir=out", "a.wav"}, Action::Run, {"a.wav"}, "out"},
        {"--output-dir DIR", Tool::Split, {"--output-dir", "out", "a.wav"}, Action::Run, {"a.wav"}, "out"},
        {"-f", Tool::Split, {"-f", "a.wav"}, Action::Run, {"a.wav"}, "", true},
        {"--force", Tool::Split, {"--force", "a.wav"}, Action::Run, {"a.wav"}, "", true},
        {"-n", Tool::Split, {"-n", "a.wav"}, Action::Run, {"a.wav"}, "", false, true},
        {"--dry-run", Tool::Split, {"--dry-run", "a.wav"}, Action::Run, {"a.wav"}, "", false, true},
        {"-q", Tool::Split, {"-q", "a.wav"}, Action::Run, {"a.wav"}, "", false, false, true},
        {"--quiet", Tool::Split, {"--quiet", "a.wav"}, Action::Run, {"a.wav"}, "", false, false, true},
        {"-j 4", Tool::Split, {"-j", "4", "a.wav"}, Action::Run, {"a.wav"}, "", false, false, false, false, 4},
        {"-j1", Tool::Split, {"-j1", "a.wav"}, Action::Run, {"a.wav"}, "", false, false, false, false, 1},
        {"--jobs=8", Tool::Split, {"--jobs=8", "a.wav"}, Action::Run, {"a.wav"}, "", false, false, false, false, 8},
        {"grouped -fnq", Tool::Split, {"-fnq", "a.wav"}, Action::Run, {"a.wav"}, "", true, true, true},
        {"options after operands",
         Tool::Split,
         {"a.wav", "-f", "b.wav", "-q"},
         Action::Run,
         {"a.wav", "b.wav"},
         "",
         true,
         false,
         true},
        {"-- ends the options", Tool::Split, {"-f", "--", "-q", "--help"}, Action::Run, {"-q", "--help"}, "", true},
        {"a lone - is a name", Tool::Split, {"-"}, Action::Run, {"-"}},
        {"three names", Tool::Join, {"l.wav", "r.wav", "o.wav"}, Action::Run, {"l.wav", "r.wav", "o.wav"}},
        {"--pairs", Tool::Join, {"--pairs", "a.L.wav"}, Action::Run, {"a.L.wav"}, "", false, false, false, true},
        {"--pairs with -o",
         Tool::Join,
         {"-o", "d", "--pairs", "x", "y"},
         Action::Run,
         {"x", "y"},
         "d",
         false,
         false,
         false,
         true},
        {"--keep-metadata",
         Tool::Split,
         {"--keep-metadata", "a.wav"},
         Action::Run,
         {"a.wav"},
         "",
         false,
         false,
         false,
         false,
         stereotools::kDefaultJobs,
         true},
        {"--keep-metadata joining",
         Tool::Join,
         {"l.wav", "r.wav", "o.wav", "--keep-metadata"},
         Action::Run,
         {"l.wav", "r.wav", "o.wav"},
         "",
         false,
         false,
         false,
         false,
         stereotools::kDefaultJobs,
         true},
        {"-m",
         Tool::Split,
         {"-mf", "a.wav"},
         Action::Run,
         {"a.wav"},
         "",
         true,
         false,
         false,
         false,
         stereotools::kDefaultJobs,
         true},
        {"--any-start",
         Tool::Join,
         {"-m", "--any-start", "l", "r", "o"},
         Action::Run,
         {"l", "r", "o"},
         "",
         false,
         false,
         false,
         false,
         stereotools::kDefaultJobs,
         true,
         true},
        {"--help", Tool::Split, {"--help"}, Action::Help, {}},
        {"-h among others", Tool::Join, {"a", "-h"}, Action::Help, {}},
        {"-V", Tool::Split, {"-V"}, Action::Version, {}},
        {"--version", Tool::Join, {"--version"}, Action::Version, {}},
        {"help wins over version", Tool::Split, {"-V", "-h"}, Action::Help, {}},
    };
    for (const Parsed& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandLine line = ParseCommandLine(c.tool, c.arguments);
        EXPECT_EQ(line.action, c.action) << line.error;
        if (c.action != Action::Run) continue;
        EXPECT_EQ(line.operands, c.operands);
        EXPECT_EQ(line.outputDir, c.outputDir);
        EXPECT_EQ(line.force, c.force);
        EXPECT_EQ(line.dryRun, c.dryRun);
        EXPECT_EQ(line.quiet, c.quiet);
        EXPECT_EQ(line.pairs, c.pairs);
        EXPECT_EQ(line.jobs, c.jobs);
        EXPECT_EQ(line.keepMetadata, c.keepMetadata);
        EXPECT_EQ(line.anyStart, c.anyStart);
    }
}

// Without -j, two files at once, but one at a time on one core, where two
// jobs would only take turns; -j holds wherever it runs.
TEST(ParseCommandLine, RunsOneFileAtATimeOnOneCoreUnlessTold) {
    using stereotools::ParseCommandLine;
    using stereotools::Tool;
    const testwave::ScopedOneCore pinned;
    ASSERT_TRUE(pinned.Held());
    EXPECT_EQ(ParseCommandLine(Tool::Split, {"a.wav"}).jobs, 1u);
    EXPECT_EQ(ParseCommandLine(Tool::Join, {"-j", "2", "l.wav", "r.wav", "o.wav"}).jobs, 2u);
}

TEST(ParseCommandLine, RefusesWhatItCannotTake) {
    const Refusal cases[] = {
        {Tool::Split, {}, "missing file operand"},
        {Tool::Split, {"-f"}, "missing file operand"},
        {Tool::Split, {"-x", "a.wav"}, "invalid option -- 'x'"},
        {Tool::Split, {"--frobnicate", "a.wav"}, "unrecognized option '--frobnicate'"},
        {Tool::Split, {"--pairs", "a.wav"}, "unrecognized option '--pairs'"},
        {Tool::Split, {"--any-start", "a.wav"}, "unrecognized option '--any-start'"},
        {Tool::Split, {"a.wav", "-o"}, "option requires an argument -- 'o'"},
        {Tool::Split, {"a.wav", "--output-dir"}, "option '--output-dir' requires an argument"},
        {Tool::Split, {"--force=yes", "a.wav"}, "option '--force' doesn't allow an argument"},
        {Tool::Join, {"--keep-metadata=all", "l", "r", "o"}, "option '--keep-metadata' doesn't allow an argument"},
        {Tool::Split, {"-o", "", "a.wav"}, "the output folder name is empty"},
        {Tool::Split, {"-j", "0", "a.wav"}, "invalid number of jobs '0' (1 to 64)"},
        {Tool::Split, {"-j", "65", "a.wav"}, "invalid number of jobs '65' (1 to 64)"},
        {Tool::Split, {"-j", "two", "a.wav"}, "invalid number of jobs 'two' (1 to 64)"},
        {Tool::Split, {"--jobs=3x", "a.wav"}, "invalid number of jobs '3x' (1 to 64)"},
        {Tool::Join, {"l.wav", "r.wav"}, "expected LEFT RIGHT OUTPUT, got 2 names"},
        {Tool::Join, {"l.wav"}, "expected LEFT RIGHT OUTPUT, got 1 name"},
        {Tool::Join,
         {"-o", "d", "l", "r", "o"},
         "--output-dir goes with --pairs or --takes; name the OUTPUT file instead"},
        {Tool::Join, {"--pairs"}, "missing file operand"},
        {Tool::Join, {"--takes"}, "missing file operand"},
        {Tool::Join, {"--takes", "--pairs", "a_1.wav"}, "--pairs and --takes do not go together"},
        {Tool::Join, {"--channels=1", "l", "r", "o"}, "unrecognized option '--channels=1'"},
        {Tool::Join, {"--names=x{n}", "l", "r", "o"}, "unrecognized option '--names=x{n}'"},
        {Tool::Join, {"--skip-silent", "l", "r", "o"}, "unrecognized option '--skip-silent'"},
        {Tool::Split, {"--takes", "a.wav"}, "unrecognized option '--takes'"},
        {Tool::Split, {"--channel-mask=3", "a.wav"}, "unrecognized option '--channel-mask=3'"},
    };
    ExpectUsageErrors(cases);
}

TEST(ParseCommandLine, ReadsTheManyChannelOptions) {
    const CommandLine split =
        ParseCommandLine(Tool::Split, {"--channels=1,3-5,2", "--skip-silent", "--names", "{name}_{n}.wav", "T01.WAV"});
    ASSERT_EQ(split.action, Action::Run) << split.error;
    EXPECT_EQ(split.channels, (std::vector<unsigned>{1, 3, 4, 5, 2}));
    EXPECT_TRUE(split.skipSilent);
    EXPECT_EQ(split.nameTemplate, "{name}_{n}.wav");
    EXPECT_EQ(split.operands, Names{"T01.WAV"});

    // One channel may have a name without {n}.
    EXPECT_EQ(ParseCommandLine(Tool::Split, {"--channels=3", "--names=centre.wav", "a.wav"}).action, Action::Run);

    const CommandLine many = ParseCommandLine(Tool::Join, {"a.wav", "b.wav", "c.wav", "d.wav", "out.wav"});
    ASSERT_EQ(many.action, Action::Run) << many.error;
    EXPECT_EQ(many.operands.size(), 5u);
    EXPECT_FALSE(many.channelMask);

    const CommandLine masked =
        ParseCommandLine(Tool::Join, {"--channel-mask=FL,FR,FC", "a.wav", "b.wav", "c.wav", "out.wav"});
    ASSERT_EQ(masked.action, Action::Run) << masked.error;
    EXPECT_EQ(masked.channelMask, 0x7u);
    EXPECT_EQ(ParseCommandLine(Tool::Join, {"--channel-mask", "0x3", "l", "r", "o"}).channelMask, 0x3u);
    EXPECT_EQ(ParseCommandLine(Tool::Join, {"--channel-mask=3", "--pairs", "a.L.wav"}).channelMask, 0x3u);

    // A take's channel count is known once the files are grouped.
    const CommandLine takes = ParseCommandLine(Tool::Join, {"--takes", "--channel-mask=63", "-o", "d", "a_1.wav"});
    ASSERT_EQ(takes.action, Action::Run) << takes.error;
    EXPECT_TRUE(takes.takes);
    EXPECT_EQ(takes.channelMask, 63u);
    EXPECT_EQ(takes.outputDir, "d");
}

TEST(ParseCommandLine, RefusesManyChannelOptionsThatCannotWork) {
    const std::string listHint = "' (numbers from 1 and ranges, each channel once, e.g. 1,3-6)";
    const Refusal cases[] = {
        {Tool::Split, {"--channels=", "a.wav"}, "invalid channel list '" + listHint},
        {Tool::Split, {"--channels=0", "a.wav"}, "invalid channel list '0" + listHint},
        {Tool::Split, {"--channels=1,,2", "a.wav"}, "invalid channel list '1,,2" + listHint},
        {Tool::Split, {"--channels=1,", "a.wav"}, "invalid channel list '1," + listHint},
        {Tool::Split, {"--channels=6-3", "a.wav"}, "invalid channel list '6-3" + listHint},
        {Tool::Split, {"--channels=1-", "a.wav"}, "invalid channel list '1-" + listHint},
        {Tool::Split, {"--channels=1-2-3", "a.wav"}, "invalid channel list '1-2-3" + listHint},
        {Tool::Split, {"--channels=1-3,2", "a.wav"}, "invalid channel list '1-3,2" + listHint},
        {Tool::Split, {"--channels=65536", "a.wav"}, "invalid channel list '65536" + listHint},
        {Tool::Split, {"--channels= 1", "a.wav"}, "invalid channel list ' 1" + listHint},
        {Tool::Split, {"--channels=x", "a.wav"}, "invalid channel list 'x" + listHint},
        {Tool::Split, {"--names=out/{name}_{n}.wav", "a.wav"}, "the name template holds a '/'"},
        {Tool::Split, {"--names=", "a.wav"}, "the name template is empty"},
        {Tool::Split, {"--names={name}_{k}.wav", "a.wav"}, "unknown field '{k}' in the name template"},
        {Tool::Split,
         {"--names={name}.wav", "a.wav"},
         "the name template '{name}.wav' gives every channel of a file the same name: add {n}"},
        {Tool::Split,
         {"--channels=1,2", "--names=x.wav", "a.wav"},
         "the name template 'x.wav' gives every channel of a file the same name: add {n}"},
        {Tool::Join, {"--channel-mask=FL,FR", "a", "b", "c", "o"}, "the channel mask names 2 speakers for 3 channels"},
        {Tool::Join, {"--channel-mask=7", "a", "b", "o"}, "the channel mask names 3 speakers for 2 channels"},
        {Tool::Join, {"--channel-mask=0", "a", "b", "o"}, "the channel mask names 0 speakers for 2 channels"},
        {Tool::Join, {"--channel-mask=4", "--pairs", "a.L.wav"}, "the channel mask names 1 speaker for 2 channels"},
        {Tool::Join,
         {"--channel-mask=FR,FL", "l", "r", "o"},
         "speaker 'FL' is out of order in the channel mask (FL FR FC LFE BL BR FLC FRC BC SL SR TC TFL TFC TFR TBL "
         "TBC TBR)"},
    };
    ExpectUsageErrors(cases);
}

TEST(ParseCommandLine, StartsAfreshOnEveryCall) {
    // getopt_long keeps its place between calls; a second parse must not inherit it.
    ASSERT_EQ(ParseCommandLine(Tool::Split, {"-f", "a.wav", "b.wav"}).operands.size(), 2u);
    const CommandLine again = ParseCommandLine(Tool::Split, {"c.wav"});
    EXPECT_EQ(again.operands, Names{"c.wav"});
    EXPECT_FALSE(again.force);
}

TEST(UsageText, NamesEveryOptionOfItsTool) {
    for (const char* option :
         {"--output-dir", "--force", "--dry-run", "--quiet", "--jobs", "--keep-metadata", "--help", "--version"}) {
        SCOPED_TRACE(option);
        EXPECT_NE(stereotools::UsageText(Tool::Split).find(option), std::string::npos);
        EXPECT_NE(stereotools::UsageText(Tool::Join).find(option), std::string::npos);
    }
    for (const char* option : {"--pairs", "--takes", "--channel-mask"}) {
        SCOPED_TRACE(option);
        EXPECT_NE(stereotools::UsageText(Tool::Join).find(option), std::string::npos);
        EXPECT_EQ(stereotools::UsageText(Tool::Split).find(option), std::string::npos);
    }
    for (const char* option : {"--channels", "--skip-silent", "--names"}) {
        SCOPED_TRACE(option);
        EXPECT_NE(stereotools::UsageText(Tool::Split).find(option), std::string::npos);
        EXPECT_EQ(stereotools::UsageText(Tool::Join).find(option), std::string::npos);
    }
    EXPECT_EQ(stereotools::UsageText(Tool::Split).rfind("Usage: stereorip ", 0), 0u);
    EXPECT_EQ(stereotools::VersionText(Tool::Join).rfind("stereoknit ", 0), 0u);
}

}  // namespace
