#pragma once

#include "jobs/Job.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace stereotools {

// One input of a run, checked and named before any job starts.
struct BatchItem {
    std::string name;                  // the operand (a join's left file): how messages name the item
    std::vector<JobInput> inputs;      // a split's stereo file, or a join's left and right files
    std::vector<std::string> outputs;  // a split's left and right outputs, or the joined file
    std::string refusedName;           // the file the refusal is about: `name` or a partner
    std::string refusal;               // why the item is not run ("" = it runs), without blanks around
    uint64_t sampleBytes = 0;          // the sample bytes its job moves, for the progress line

    explicit operator bool() const { return refusal.empty(); }
};

// How a run names and guards its outputs.
struct BatchSettings {
    std::string outputDir;  // "" = each output beside its input
    bool force = false;     // replace existing outputs
};

// Checks the inputs of one run in the order given and names their outputs:
// the same checks and texts as the dialogue, plus what a batch asks: an
// output that exists is refused unless forced, and an output that an
// earlier item of the run writes is refused even when forced.
class BatchPlanner {
public:
    explicit BatchPlanner(BatchSettings settings) : settings_(std::move(settings)) {}

    // Returns the split of stereo file `input` into "NAME left channel.wav"
    // and "NAME right channel.wav", or why not.
    [[nodiscard]] BatchItem PlanSplit(const std::string& input);
    // Returns the join of mono files `left` and `right` into `output` (taken
    // as given: -o does not apply), or why not.
    [[nodiscard]] BatchItem PlanJoin(const std::string& left, const std::string& right, const std::string& output);
    // Returns the join of left-channel file `left` with its partner into
    // NAME.wav (PairChannelFiles), or why not.
    [[nodiscard]] BatchItem PlanPair(const std::string& left);

private:
    // Returns `derived` placed in the output folder, when one is set.
    std::string InOutputFolder(const std::string& derived) const;
    // Refuses `item` for an output that exists (unless forced) or that an
    // earlier item claimed; else claims its outputs. Returns `item`.
    BatchItem ClaimOutputs(BatchItem item);

    BatchSettings settings_;
    // The outputs claimed so far, each by the name of the item that writes
    // it, keyed by OutputKey.
    std::map<std::string, std::string> claimed_;
};

// Returns the text for an input `check` refuses with `requiredChannels`:
// "File not found." and the system's reason, or the dialogue's text for
// the header problem. Empty when the check passed.
[[nodiscard]] std::string InputRefusal(const InputCheck& check, int requiredChannels);

}  // namespace stereotools
