#pragma once

#include "Job.h"
#include "SampleJob.h"
#include "wave/WaveWriter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stereotools {

// What a join is asked to do.
struct JoinRequest {
    // Two or more mono files as they were accepted, compatible
    // (CheckCompatibility gave None for them): channel i comes from input i.
    std::vector<JobInput> inputs;
    std::string output;         // the joined file; may name one of the inputs
    bool keepMetadata = false;  // the output carries the first input's metadata chunks
    // Refuse: an output whose name exists fails the job with EEXIST, on
    // start or on commit, and the file stays as it is.
    ExistingTarget existing = ExistingTarget::Replace;
    unsigned concurrentJobs = 1;  // jobs running at once, this one among them: they choose the threads
    unsigned threads = 0;         // threads that move the samples; 0 lets the job choose
    // The speakers of the channels, in an extensible header. Without one, two
    // inputs give a plain stereo file and more give mask 0 (no speakers).
    std::optional<uint32_t> channelMask{};
    // With keepMetadata, inputs whose "bext" start times differ are joined
    // all the same; without it they fail the job.
    bool anyStart = false;
    std::string software{};  // the program and version a coding history names ("stereoknit 1.1.0")
};

// Joins mono files into one file of as many channels, in one pass: frames
// up to the longest input, the shorter channels filled with zero bytes, the
// last frame cut short when the longest data size is not a whole number of
// samples; the header is DeriveInterleavedFormat's (two inputs:
// DeriveStereoFormat's), RF64 when the RIFF size would not fit 32 bits.
// With keepMetadata the output carries the first input's metadata chunks
// where they stood, each by what it means, with "bext", "iXML", "PEAK" and
// "chna" made from every input (ShapeJoinMetadata); inputs whose "bext"
// start times differ fail the job unless anyStart says otherwise (those
// without "bext" are not compared). A file named twice is opened once. An
// output named like an input replaces it only on commit, after it has been
// read. Fewer than two inputs, or inputs that do not agree, fail the job
// before anything is opened.
// Returns what the output of `request` would carry with keepMetadata, read
// from its inputs now, or why the job would refuse it.
[[nodiscard]] MetadataPlan PlanJoinMetadata(const JoinRequest& request);

class JoinJob final : public SampleJob {
public:
    explicit JoinJob(const JoinRequest& request);

private:
    [[nodiscard]] IoError MoveFrames(unsigned thread, std::span<const InputFile* const> inputs, uint64_t first,
                                     std::size_t frames, ChannelBlocks& block) const override;
    [[nodiscard]] MetadataPlan ShapeMetadata(const std::vector<MetadataSource>& sources) const override;

    bool anyStart_;
};

}  // namespace stereotools
