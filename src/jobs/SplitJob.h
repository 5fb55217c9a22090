#pragma once

#include "Job.h"
#include "SampleJob.h"
#include "wave/WaveWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stereotools {

// What a split is asked to do.
struct SplitRequest {
    JobInput input;                    // a file of two channels or more, as it was accepted
    std::vector<std::string> outputs;  // one per channel written, in the order of `channels`
    bool keepMetadata = false;         // every output carries the input's metadata chunks
    // Refuse: an output whose name exists fails the job with EEXIST, on
    // start or on commit, and the file stays as it is.
    ExistingTarget existing = ExistingTarget::Replace;
    unsigned concurrentJobs = 1;  // jobs running at once, this one among them: they choose the threads
    unsigned threads = 0;         // threads that move the samples; 0 lets the job choose
    // The channels written, numbered from 1, in the order of `outputs`;
    // empty: every channel in order (the left, then the right of a stereo file).
    std::vector<unsigned> channels{};
    bool skipSilent = false;  // outputs whose samples are all zero bytes are left out, not committed
    std::string software{};   // the program and version a coding history names ("stereorip 1.1.0")
};

// Splits one file of N channels into mono files in one pass: every block of
// frames is read once and each chosen channel's samples are written at their
// place in its output. Each output gets the input's format with one channel
// (DeriveMonoFormat) and CountFrames samples of its channel, byte for byte;
// samples the file lacks are zero. An output whose RIFF size would not fit
// 32 bits is written as RF64. With keepMetadata, each output carries the
// input's metadata chunks where they stood, each by what it means
// (ShapeSplitMetadata: "bext", "iXML", "PEAK" and "chna" made for the
// output's channel, "levl" and "axml" left out). Commits the outputs
// in order; one committed stays when a later one fails. A channel number
// that the input lacks fails the job before anything is opened.
// Returns what each output of `request` would carry with keepMetadata,
// read from its input now, or why it cannot be read.
[[nodiscard]] MetadataPlan PlanSplitMetadata(const SplitRequest& request);

class SplitJob final : public SampleJob {
public:
    explicit SplitJob(const SplitRequest& request);

private:
    [[nodiscard]] IoError MoveFrames(unsigned thread, std::span<const InputFile* const> inputs, uint64_t first,
                                     std::size_t frames, ChannelBlocks& block) const override;
    [[nodiscard]] bool KeepsOutput(std::size_t index) const override;
    [[nodiscard]] MetadataPlan ShapeMetadata(const std::vector<MetadataSource>& sources) const override;

    std::vector<unsigned> channels_;  // per output, its channel counted from 0
    bool skipSilent_;
    std::string software_;
    // Per thread, per output: whether a sample byte other than zero was seen.
    mutable std::vector<std::vector<char>> heard_;
};

}  // namespace stereotools
