#pragma once

#include "Job.h"
#include "PageAlignedWrites.h"
#include "SampleBlock.h"
#include "system/FileIo.h"
#include "wave/WaveWriter.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stereotools {

// One output of a job: the name the request gave and the header it states,
// whose dataSize is exactly the sample bytes it holds.
struct JobOutput {
    std::string name;
    WaveFormatInfo format;
};

// What a job moves, laid out from its request before any file is opened.
struct JobLayout {
    std::vector<JobInput> inputs;    // opened again in this order; one file named twice is opened once
    std::vector<JobOutput> outputs;  // started and committed in this order
    bool carryMetadata = false;      // outputs carry the inputs' metadata, made right for each (ShapeMetadata)
    std::string software;            // the program and version a coding history names
    ExistingTarget existing = ExistingTarget::Replace;
    unsigned concurrentJobs = 1;  // jobs running at once: they choose this job's threads
    unsigned threads = 0;         // threads that move the samples; 0: ThreadsPerJob(concurrentJobs)
    uint64_t frames = 0;          // frames moved
    unsigned sampleWidth = 1;     // bytes per sample
    unsigned frameChannels = 2;   // samples per interleaved frame: sizes the blocks
    bool split = false;           // blocks sized for a split (BlockBytes)
    uint64_t frameBytes = 0;      // sample bytes a frame moves, for the progress
    uint64_t totalBytes = 0;      // sample bytes moved in all, for the progress
    std::string name;             // what a lack of memory is reported for
    IoError refusal;              // why the request cannot be done, if it cannot: nothing is opened
};

// The skeleton every split and join runs on: it opens the inputs again
// (refusing any whose header changed since it was accepted), starts the
// outputs with their headers, moves the frames block by block through
// MoveFrames on the threads the machine has for it, ends the outputs with
// their trailers, and commits them in order. A split and a join differ only
// in their layout and in MoveFrames.
class SampleJob : public Job {
public:
    [[nodiscard]] JobResult MoveSamples(JobMonitor& monitor) final;
    // Commits the outputs in their order, but for those the job leaves out
    // (KeepsOutput); those committed before a failure stay.
    [[nodiscard]] JobResult CommitOutputs(JobMonitor& monitor) final;
    [[nodiscard]] std::vector<std::string> CommittedOutputs() const final { return committed_; }
    // Returns the names of the outputs the commit left out, in their order.
    [[nodiscard]] const std::vector<std::string>& LeftOutOutputs() const { return leftOut_; }
    // Returns what the outputs' metadata gave to say (chunks left out, an
    // iXML carried as it was ...), each note once, in order.
    [[nodiscard]] const std::vector<std::string>& MetadataNotes() const { return notes_; }

protected:
    explicit SampleJob(JobLayout layout);

    // Moves `frames` frames from frame `first` on, through `block`: reads them
    // through `inputs` (one per layout input, this thread's), rearranges them
    // and writes each output's share at its place (WriteOutput). Called from
    // two threads at once (`thread` 0 the caller, 1 the helper) for
    // different frames, each thread's in order. Returns an empty error, or
    // the one the job ends with.
    [[nodiscard]] virtual IoError MoveFrames(unsigned thread, std::span<const InputFile* const> inputs, uint64_t first,
                                             std::size_t frames, ChannelBlocks& block) const = 0;

    // Writes `samples` to output `output` at sample byte `position`, for
    // MoveFrames on `thread`. A thread's pieces of one output come from one
    // buffer of its block, whose lead this may use, each where the last ended.
    [[nodiscard]] IoError WriteOutput(unsigned thread, std::size_t output, uint64_t position,
                                      std::span<uint8_t> samples) const;

    // Returns the metadata each output carries, made from `sources` (one
    // per layout input, with the bodies to rewrite read), or why the job
    // refuses to carry it.
    [[nodiscard]] virtual MetadataPlan ShapeMetadata(const std::vector<MetadataSource>& sources) const = 0;

    // Returns whether output `index` is to be committed, asked once every
    // frame is moved. All are, unless a job says otherwise.
    [[nodiscard]] virtual bool KeepsOutput(std::size_t index) const {
        (void)index;
        return true;
    }

    [[nodiscard]] const JobLayout& Layout() const { return layout_; }
    // Returns the threads that move the samples.
    [[nodiscard]] unsigned Threads() const;

private:
    class Work;

    // Returns an error when the files the job opens at once would pass the
    // limit on open files, once raised as far as it goes.
    IoError MakeRoomForFiles() const;
    // Opens every input again; a file named twice is opened once.
    IoError OpenInputs();
    // Opens each input once more for the helper thread, where the system lets it.
    void OpenInputsAgain();
    void CloseInputs();
    // Drops what is unfinished and returns `result`.
    JobResult Abandon(JobResult result);

    JobLayout layout_;
    std::vector<InputFile> files_;                        // the inputs opened, each file once
    std::vector<InputFile> filesAgain_;                   // the same, for the helper thread
    std::vector<std::size_t> fileOf_;                     // per layout input, its index in files_
    std::vector<std::vector<const InputFile*>> sources_;  // per thread, per layout input
    std::vector<WaveOutput> outputs_;
    mutable std::vector<std::vector<PageAlignedWrites>> writes_;  // per thread, per output
    std::vector<std::string> committed_;
    std::vector<std::string> leftOut_;
    std::vector<std::string> notes_;
};

}  // namespace stereotools
