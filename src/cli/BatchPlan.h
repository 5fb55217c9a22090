#pragma once

#include "jobs/ChannelNames.h"
#include "jobs/Job.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stereotools {

// One input of a run, checked and named before any job starts.
struct BatchItem {
    std::string name;                   // the operand (a join's left file): how messages name the item
    std::vector<JobInput> inputs;       // a split's file, or a join's files in channel order
    std::vector<std::string> outputs;   // a split's outputs, or the joined file
    std::vector<unsigned> channels;     // a split's channel per output, numbered from 1
    std::string refusedName;            // the file the refusal is about: `name` or a partner
    std::string refusal;                // why the item is not run ("" = it runs), without blanks around
    std::vector<std::string> warnings;  // lines on standard error about an item that still runs
    uint64_t sampleBytes = 0;           // the sample bytes its job moves, for the progress line

    explicit operator bool() const { return refusal.empty(); }
};

// How a run names and guards its outputs.
struct BatchSettings {
    std::string outputDir;                  // "" = each output beside its input
    bool force = false;                     // replace existing outputs
    std::vector<unsigned> channels{};       // the channels a split writes, from 1; empty = all
    std::string nameTemplate{};             // how a split names its outputs; "" = the default names
    std::optional<uint32_t> channelMask{};  // the speakers of a join's channels, when given
};

// Checks the inputs of one run in the order given and names their outputs:
// the same checks and texts as the dialogue, plus what a batch asks: an
// output that exists is refused unless forced; an output or an input that
// an earlier item of the run writes is refused even when forced; and every
// output gets the checks its job makes before it moves a sample
// (CheckWaveOutput), so a dry run fails where the run would. Files are told
// apart by what they are, not how they are named: two names of one file,
// through a link or not, are one output.
class BatchPlanner {
public:
    explicit BatchPlanner(BatchSettings settings) : settings_(std::move(settings)) {}

    // Returns the split of `input`, a file of two channels or more, into
    // one mono file per channel chosen: named by the template, else
    // "NAME left channel.wav" and "NAME right channel.wav" for a stereo
    // file and "NAME channel K.wav" for more (DeriveSplitFileNames); or why
    // not, a chosen channel the file lacks included.
    [[nodiscard]] BatchItem PlanSplit(const std::string& input);
    // Returns the join of mono files `inputs` (two or more) into `output`
    // (taken as given: -o does not apply), or why not.
    [[nodiscard]] BatchItem PlanJoin(const std::vector<std::string>& inputs, const std::string& output);
    // Returns the join of the files of `take` into its NAME.wav, or why not.
    [[nodiscard]] BatchItem PlanTake(const Take& take);
    // Returns the join of left-channel file `left` with its partner into
    // NAME.wav (PairChannelFiles), or why not.
    [[nodiscard]] BatchItem PlanPair(const std::string& left);

private:
    // Returns `derived` placed in the output folder, when one is set.
    std::string InOutputFolder(const std::string& derived) const;
    // Refuses `item` for an input or output that an earlier item claimed,
    // an output that exists (unless forced) or that its job would refuse;
    // else claims its outputs. Returns `item`.
    BatchItem ClaimOutputs(BatchItem item);

    BatchSettings settings_;
    // The outputs claimed so far, each by the name of the item that writes
    // it, keyed by FileKey.
    std::map<std::string, std::string> claimed_;
};

// Returns the text for input `name` that `check` refuses with
// `requiredChannels`: "File not found." and the system's reason for a name
// that stands for no file; what the name is instead (a folder, a pipe ...)
// or why it cannot be read; or the dialogue's text for the header problem.
// Empty when the check passed.
[[nodiscard]] std::string InputRefusal(const std::string& name, const InputCheck& check, int requiredChannels);

// Returns the warning for `input` (named `name`), whose header declares
// more sample bytes than its file holds past the start of its samples, or
// "" when the file holds them all: the rest is written as silence.
[[nodiscard]] std::string ZeroFillWarning(const std::string& name, const WaveFormatInfo& info);

// Returns `left` and `right`'s compatibility problem in the dialogue's words
// with the two values it is about, e.g. "These two files have incompatible
// sample rates (44100 and 48000 Hz)". Empty for None.
[[nodiscard]] std::string CompatibilityRefusal(CompatibilityProblem problem, const WaveFormatInfo& left,
                                               const WaveFormatInfo& right);

// Returns the operands of a --pairs run less the right halves whose left
// halves are operands too (as `--pairs *.wav` gives them), in their order.
[[nodiscard]] std::vector<std::string> WithoutListedPartners(const std::vector<std::string>& operands);

}  // namespace stereotools
