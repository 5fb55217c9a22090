#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using stereotools::CommandLine;
using stereotools::ParseCommandLine;
using stereotools::Tool;
using Action = CommandLine::Action;
using Names = std::vector<std::string>;

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
    unsigned jobs = stereotools::kDefaultJobs;
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
        {"options after operands", Tool::Split, {"a.wav", "-f", "b.wav", "-q"}, Action::Run, {"a.wav", "b.wav"},
         "", true, false, true},
        {"-- ends the options", Tool::Split, {"-f", "--", "-q", "--help"}, Action::Run, {"-q", "--help"}, "", true},
        {"a lone - is a name", Tool::Split, {"-"}, Action::Run, {"-"}},
        {"three names", Tool::Join, {"l.wav", "r.wav", "o.wav"}, Action::Run, {"l.wav", "r.wav", "o.wav"}},
        {"--pairs", Tool::Join, {"--pairs", "a.L.wav"}, Action::Run, {"a.L.wav"}, "", false, false, false, true},
        {"--pairs with -o", Tool::Join, {"-o", "d", "--pairs", "x", "y"}, Action::Run, {"x", "y"}, "d", false,
         false, false, true},
        {"--keep-metadata", Tool::Split, {"--keep-metadata", "a.wav"}, Action::Run, {"a.wav"}, "", false, false,
         false, false, stereotools::kDefaultJobs, true},
        {"--keep-metadata joining", Tool::Join, {"l.wav", "r.wav", "o.wav", "--keep-metadata"}, Action::Run,
         {"l.wav", "r.wav", "o.wav"}, "", false, false, false, false, stereotools::kDefaultJobs, true},
        {"-m", Tool::Split, {"-mf", "a.wav"}, Action::Run, {"a.wav"}, "", true, false, false, false,
         stereotools::kDefaultJobs, true},
        {"--any-start", Tool::Join, {"-m", "--any-start", "l", "r", "o"}, Action::Run, {"l", "r", "o"}, "", false,
         false, false, false, stereotools::kDefaultJobs, true, true},
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

TEST(ParseCommandLine, RefusesWhatItCannotTake) {
    struct Refusal {
        Tool tool;
        Names arguments;
        std::string error;
    };
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
        {Tool::Join, {"a", "b", "c", "d"}, "expected LEFT RIGHT OUTPUT, got 4 names"},
        {Tool::Join, {"-o", "d", "l", "r", "o"}, "--output-dir goes with --pairs; name the OUTPUT file instead"},
        {Tool::Join, {"--pairs"}, "missing file operand"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.error);
        const CommandLine line = ParseCommandLine(c.tool, c.arguments);
        EXPECT_EQ(line.action, Action::UsageError);
        EXPECT_EQ(line.error, c.error);
    }
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
    EXPECT_NE(stereotools::UsageText(Tool::Join).find("--pairs"), std::string::npos);
    EXPECT_EQ(stereotools::UsageText(Tool::Split).find("--pairs"), std::string::npos);
    EXPECT_EQ(stereotools::UsageText(Tool::Split).rfind("Usage: stereorip ", 0), 0u);
    EXPECT_EQ(stereotools::VersionText(Tool::Join).rfind("stereoknit ", 0), 0u);
}

}  // namespace
