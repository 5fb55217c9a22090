#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// Which program a command line belongs to.
enum class Tool { Split, Join };

// What a command line asks for, once its options are read.
struct CommandLine {
    enum class Action {
        Run,         // do the jobs `operands` name
        Help,        // print the usage on standard output
        Version,     // print the program's name and version
        UsageError,  // print `error` and the hint to --help on standard error, exit 2
    };
    Action action = Action::Run;
    std::string error;          // with UsageError: what is wrong, e.g. "unrecognized option '--x'"
    std::string outputDir;      // -o: write outputs here instead of beside each input ("" = beside)
    bool force = false;         // -f: replace existing outputs
    bool dryRun = false;        // -n: check and report, write nothing
    bool quiet = false;         // -q: print nothing but errors
    bool pairs = false;         // --pairs (stereoknit): each operand is a left file whose partner is found
    bool keepMetadata = false;  // -m, --keep-metadata: carry the input's metadata, made right for each output
    bool anyStart = false;      // --any-start (stereoknit): join inputs whose bext start times differ
    bool takes = false;         // --takes (stereoknit): the operands are grouped into takes
    // --channels (stereorip): the channels to write, numbered from 1, in order; empty = all.
    std::vector<unsigned> channels;
    bool skipSilent = false;              // --skip-silent (stereorip): leave out channels of zero bytes only
    std::string nameTemplate;             // --names (stereorip): how outputs are named; "" = the default names
    std::optional<uint32_t> channelMask;  // --channel-mask (stereoknit): the speakers of the channels
    unsigned jobs = 0;                    // -j: files at once; 0 = the default
    std::vector<std::string> operands;
};

// The -j default: in the batch of bench/jobs.py (200 files of 4 MiB) on a
// 2-core machine, two files at once (each job then on one thread, see
// ThreadsPerJob) were as fast as three or four and twice as fast as one.
constexpr unsigned kDefaultJobs = 2;

// Returns the files at once without -j: kDefaultJobs, or 1 where the
// process may run on one core only (two jobs there only take turns, each
// evicting the other's blocks from the cache).
[[nodiscard]] unsigned DefaultJobs();
// The most files at once -j accepts.
constexpr unsigned kMaxJobs = 64;

// Reads the options and operands of `arguments` (without the program name)
// as GNU tools do: options and operands in any order, "--" ends the options.
// Returns UsageError for an unknown option, a missing or bad option argument,
// no operand, stereoknit with fewer than three operands and neither --pairs
// nor --takes, an option the tool or its mode does not take, a name template
// that would give two outputs of one input the same name, or a channel mask
// whose speakers are not as many as the channels it is known to join.

[[nodiscard]] CommandLine ParseCommandLine(Tool tool, const std::vector<std::string>& arguments);

// Reads a --channels list: numbers from 1 and ranges ("1,3-6"), each
// channel once. Returns the numbers in the order given, or nothing when
// the list is malformed.
[[nodiscard]] std::optional<std::vector<unsigned>> ReadChannelList(std::string_view list);

// Returns the --help text of `tool`.
[[nodiscard]] std::string UsageText(Tool tool);

// Returns the --version text of `tool`: its name and the project's version.
[[nodiscard]] std::string VersionText(Tool tool);

// Returns the program name of `tool` as users type it.
[[nodiscard]] const char* ToolName(Tool tool);

}  // namespace stereotools
