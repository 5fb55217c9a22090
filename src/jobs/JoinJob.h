#pragma once

#include "Job.h"
#include "system/FileIo.h"
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
    unsigned threads = 1;  // threads that move the samples (MoveBlocks)
};

// Joins two mono files into one stereo file: frames up to the longer input,
// the shorter channel filled with zero bytes, the last frame cut short when
// the longer data size is not a whole number of samples; the header is
// DeriveStereoFormat's, RF64 when the RIFF size would not fit 32 bits. With
// keepMetadata the output carries the left input's metadata chunks where
// they stood, copied unchanged. The same file named twice is opened once. An output
// named like an input replaces it only on commit, after it has been read.
class JoinJob final : public Job {
public:
    explicit JoinJob(JoinRequest request);

    [[nodiscard]] JobResult MoveSamples(JobMonitor& monitor) override;
    [[nodiscard]] JobResult CommitOutputs(JobMonitor& monitor) override;
    [[nodiscard]] std::vector<std::string> CommittedOutputs() const override { return committed_; }

private:
    // Opens both inputs; `right_` then points at the file the right samples come from.
    IoError OpenInputs();
    // Closes every input, the helper thread's too.
    void CloseInputs();
    // Drops what is unfinished and returns `result`.
    JobResult Abandon(JobResult result);

    JoinRequest request_;
    InputFile leftFile_;
    InputFile rightFile_;
    // `rightFile_`, or `leftFile_` when both names are the same file: one
    // open suffices, and a second lock on the same file would refuse it.
    const InputFile* right_ = nullptr;
    InputFile leftAgain_;   // the inputs opened again for the helper thread
    InputFile rightAgain_;
    WaveOutput output_;
    std::vector<std::string> committed_;
};

}  // namespace stereotools
