#pragma once

#include "Job.h"
#include "SampleJob.h"
#include "wave/WaveWriter.h"

#include <string>
#include <vector>

namespace stereotools {

// What a split is asked to do.
struct SplitRequest {
    JobInput input;                    // a stereo file as it was accepted
    std::vector<std::string> outputs;  // where the left and the right channel go
    bool keepMetadata = false;         // both outputs carry the input's metadata chunks
    // Refuse: an output whose name exists fails the job with EEXIST, on
    // start or on commit, and the file stays as it is.
    ExistingTarget existing = ExistingTarget::Replace;
    unsigned concurrentJobs = 1;  // jobs running at once, this one among them: they choose the threads
    unsigned threads = 0;         // threads that move the samples; 0 lets the job choose
};

// Splits one stereo file into two mono files: each output gets the input's
// format with one channel (DeriveMonoFormat) and CountFrames samples of its
// channel, byte for byte; samples the file lacks are zero. An output whose
// RIFF size would not fit 32 bits is written as RF64. With keepMetadata,
// each output carries the input's metadata chunks where they stood
// (ReadWaveMetadata, WriteWaveHeader, WriteWaveTrailer), copied unchanged.
// Commits the left output, then the right; a left output committed stays
// when the right one fails.
class SplitJob final : public SampleJob {
public:
    explicit SplitJob(const SplitRequest& request);

private:
    [[nodiscard]] IoError MoveFrames(unsigned thread, std::span<const InputFile* const> inputs,
                                     std::span<const WaveOutput> outputs, uint64_t first, std::size_t frames,
                                     ChannelBlocks& block) const override;
};

}  // namespace stereotools
