#pragma once

#include "system/FileIo.h"
#include "wave/WaveFormat.h"
#include "wave/WaveMetadata.h"
#include "wave/WaveReader.h"
#include "wave/WaveWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stereotools {

// An input as the caller accepted it: the name exactly as given and the
// header that was checked.
struct JobInput {
    std::string name;
    WaveFormatInfo info;
};

// What reading an input's header gave.
struct InputCheck {
    IoError error;                                        // the file could not be opened
    WaveHeaderProblem problem = WaveHeaderProblem::None;  // it opened, but its header is refused
    JobInput input;                                       // valid only when neither is set
    explicit operator bool() const { return !error && problem == WaveHeaderProblem::None; }
};

// Opens `name`, reads its header from that one descriptor with
// `requiredChannels` (ReadWaveHeader, which asks `stopRequested` as it walks
// the chunks) and closes the file again. Returns the open error, the header
// problem (Stopped when the walk was told to stop), or the input.
[[nodiscard]] InputCheck CheckInput(const std::string& name, int requiredChannels, const StopCheck& stopRequested = {});

// Opens `accepted` again for its samples and reads its header from the
// descriptor it returns. Returns the open file; an Open error; or a Read
// error naming the file when its header is no longer the accepted one.
[[nodiscard]] InputOpenResult ReopenInput(const JobInput& accepted);

// Returns the Read error that says input `name` changed after it was checked.
[[nodiscard]] IoError InputChangedError(const std::string& name);

// Whoever runs a job: told how far it is, asked whether to stop. The
// default neither shows progress nor stops.
class JobMonitor {
public:
    virtual ~JobMonitor() = default;
    // Takes the sample bytes moved so far of `total`: once before the first
    // block and once after each.
    virtual void Progress(uint64_t done, uint64_t total) { (void)done, (void)total; }
    // Returns the exit status a stop asks for, or 0 to go on. Asked before
    // each block and before the outputs are committed.
    [[nodiscard]] virtual int PendingStop() const { return 0; }
};

// How a phase of a job ended: done (true), failed with `error`, or stopped
// with the status a stop asked for.
struct JobResult {
    IoError error;
    int stopStatus = 0;
    explicit operator bool() const { return !error && stopStatus == 0; }
};

// A split or a join over files, in two phases the caller can show apart.
// A phase that fails or stops leaves nothing unfinished behind: temporary
// outputs are removed and inputs closed; an output committed before stays.
class Job {
public:
    virtual ~Job() = default;
    // Opens the inputs (refusing any whose header changed since it was
    // accepted), starts the outputs and moves every sample into them.
    [[nodiscard]] virtual JobResult MoveSamples(JobMonitor& monitor) = 0;
    // Puts the outputs in place of their targets, one after the other.
    [[nodiscard]] virtual JobResult CommitOutputs(JobMonitor& monitor) = 0;
    // Returns the names of the outputs put in place so far, in the order
    // they were committed, as the request named them.
    [[nodiscard]] virtual std::vector<std::string> CommittedOutputs() const = 0;
};

// What reading an input's metadata chunks gave: the chunks to carry, or how
// the job ends instead.
struct MetadataRead {
    JobResult result;
    CarriedChunks carried;  // valid only when `result` is success
};

// Reads the metadata chunks of `file`, an input opened again for its
// samples, so that outputs carry them (ReadWaveMetadata). Returns them; a
// Read error naming the file when it holds more chunks than any real file;
// or the stop `monitor` asks for while a long chunk list is walked.
[[nodiscard]] MetadataRead ReadCarriedChunks(const InputFile& file, const JobMonitor& monitor);

// What reading an input's metadata for a rewrite gave: the chunks with the
// bodies to rewrite in memory, or how the job ends instead.
struct MetadataSourceRead {
    JobResult result;
    MetadataSource source;  // valid only when `result` is success
};

// Reads the metadata chunks of `file`, the input `input` opened again,
// with the bodies of those rewritten per output (LoadRewrittenBodies).
// Errors as ReadCarriedChunks's, and a Read error when a body cannot be read.
[[nodiscard]] MetadataSourceRead ReadMetadataSource(const InputFile& file, const JobInput& input,
                                                    const JobMonitor& monitor);

// What reading an input's track names gave: one per channel ("" for a
// channel its metadata names not), or why they could not be read.
struct TrackNamesRead {
    IoError error;
    std::vector<std::string> names;
};

// Opens `input` again (refused as ReopenInput refuses it) and returns the
// name its metadata gives each channel (ChannelTrackNames).
[[nodiscard]] TrackNamesRead ReadTrackNames(const JobInput& input);

// What the outputs of a job carry, one entry per output in order, or why
// the job cannot carry its inputs' metadata.
struct MetadataPlan {
    IoError error;
    std::vector<OutputMetadata> outputs;
};

// Runs both phases of `job`. Returns how the first that did not succeed
// ended, or success.
[[nodiscard]] JobResult RunJob(Job& job, JobMonitor& monitor);

}  // namespace stereotools
