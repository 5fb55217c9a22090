#pragma once

#include "Job.h"
#include "SampleJob.h"
#include "wave/WaveWriter.h"

#include <string>
#include <vector>

namespace stereotools {

// What a join is asked to do.
struct JoinRequest {
    JobInput left;       // mono files as they were accepted, compatible
    JobInput right;      // (CheckCompatibility gave None for the pair)
    std::string output;  // the stereo file; may name one of the inputs
    bool keepMetadata = false;  // the output carries the left input's metadata chunks
    // Refuse: an output whose name exists fails the job with EEXIST, on
    // start or on commit, and the file stays as it is.
    ExistingTarget existing = ExistingTarget::Replace;
    unsigned concurrentJobs = 1;  // jobs running at once, this one among them: they choose the threads
    unsigned threads = 0;         // threads that move the samples; 0 lets the job choose
};

// Joins two mono files into one stereo file: frames up to the longer input,
// the shorter channel filled with zero bytes, the last frame cut short when
// the longer data size is not a whole number of samples; the header is
// DeriveStereoFormat's, RF64 when the RIFF size would not fit 32 bits. With
// keepMetadata the output carries the left input's metadata chunks where
// they stood, copied unchanged. The same file named twice is opened once. An output
// named like an input replaces it only on commit, after it has been read.
class JoinJob final : public SampleJob {
public:
    explicit JoinJob(const JoinRequest& request);

private:
    [[nodiscard]] IoError MoveFrames(unsigned thread, std::span<const InputFile* const> inputs,
                                     std::span<const WaveOutput> outputs, uint64_t first, std::size_t frames,
                                     ChannelBlocks& block) const override;
};

}  // namespace stereotools
