#pragma once

#include "ChannelNames.h"
#include "Job.h"
#include "system/FileIo.h"
#include "wave/WaveWriter.h"

#include <string>
#include <vector>

namespace stereotools {

// What a split is asked to do.
struct SplitRequest {
    JobInput input;            // a stereo file as it was accepted
    ChannelFileNames outputs;  // where the left and the right channel go
    bool keepMetadata = false; // both outputs carry the input's metadata chunks
    // Refuse: an output whose name exists fails the job with EEXIST, on
    // start or on commit, and the file stays as it is.
    ExistingTarget existing = ExistingTarget::Replace;
    unsigned threads = 1;      // threads that move the samples (MoveBlocks)
};

// Splits one stereo file into two mono files: each output gets the input's
// format with one channel (DeriveMonoFormat) and CountFrames samples of its
// channel, byte for byte; samples the file lacks are zero. An output whose
// RIFF size would not fit 32 bits is written as RF64. With keepMetadata,
// each output carries the input's metadata chunks where they stood
// (ReadWaveMetadata, WriteWaveHeader, WriteWaveTrailer), copied unchanged.
class SplitJob final : public Job {
public:
    explicit SplitJob(SplitRequest request);

    [[nodiscard]] JobResult MoveSamples(JobMonitor& monitor) override;
    // Commits the left output, then the right; a left output committed stays
    // when the right one fails.
    [[nodiscard]] JobResult CommitOutputs(JobMonitor& monitor) override;
    [[nodiscard]] std::vector<std::string> CommittedOutputs() const override { return committed_; }

private:
    // Drops what is unfinished and returns `result`.
    JobResult Abandon(JobResult result);

    SplitRequest request_;
    InputFile source_;
    InputFile sourceAgain_;  // the input opened again for the helper thread
    WaveOutput left_;
    WaveOutput right_;
    std::vector<std::string> committed_;
};

}  // namespace stereotools
