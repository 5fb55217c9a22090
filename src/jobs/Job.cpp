#include "Job.h"

#include <cerrno>
#include <utility>

namespace stereotools {

InputCheck CheckInput(const std::string& name, int requiredChannels, const StopCheck& stopRequested) {
    InputCheck check;
    InputOpenResult opened = OpenInputFile(name);
    if (!opened) {
        check.error = std::move(opened.error);
        return check;
    }
    const HeaderResult header = ReadWaveHeader(opened.file, requiredChannels, stopRequested);
    check.problem = header.problem;
    if (header) check.input = {name, header.info};
    return check;
}

InputOpenResult ReopenInput(const JobInput& accepted) {
    // The file was closed after its header was checked, so that none is held
    // open across a question or an error box; what it holds now may differ.
    // The samples are read through this descriptor, so checking its header
    // here makes what is moved exactly what was accepted.
    InputOpenResult opened = OpenInputFile(accepted.name);
    if (!opened) return opened;
    const HeaderResult header = ReadWaveHeader(opened.file, accepted.info.channels);
    if (!header || header.info != accepted.info) {
        opened.file.Close();
        opened.error = InputChangedError(accepted.name);
    }
    return opened;
}

IoError InputChangedError(const std::string& name) {
    return {IoError::Operation::Read, name, 0, "the file changed after it was checked"};
}

MetadataRead ReadCarriedChunks(const InputFile& file, const JobMonitor& monitor) {
    MetadataRead read;
    int stopStatus = 0;
    MetadataResult listed = ReadWaveMetadata(file, [&] { return (stopStatus = monitor.PendingStop()) != 0; });
    if (listed.problem == WaveHeaderProblem::Stopped) {
        read.result.stopStatus = stopStatus;
    } else if (!listed) {
        read.result.error = {IoError::Operation::Read, file.Path(), 0, "too many chunks to carry its metadata"};
    } else {
        read.carried = {&file, std::move(listed.metadata)};
    }
    return read;
}

MetadataSourceRead ReadMetadataSource(const InputFile& file, const JobInput& input, const JobMonitor& monitor) {
    MetadataSourceRead read;
    MetadataRead listed = ReadCarriedChunks(file, monitor);
    if (!listed.result) {
        read.result = std::move(listed.result);
        return read;
    }
    read.source = {input.name, input.info, std::move(listed.carried.metadata)};
    if (!LoadRewrittenBodies(file, read.source.metadata)) {
        read.result.error = {IoError::Operation::Read, file.Path(), errno != 0 ? errno : EIO, {}};
    }
    return read;
}

TrackNamesRead ReadTrackNames(const JobInput& input) {
    TrackNamesRead read;
    InputOpenResult opened = ReopenInput(input);
    if (!opened) {
        read.error = std::move(opened.error);
        return read;
    }
    const JobMonitor monitor;
    MetadataSourceRead source = ReadMetadataSource(opened.file, input, monitor);
    if (!source.result) {
        read.error = std::move(source.result.error);
        return read;
    }
    read.names = ChannelTrackNames(source.source.metadata, input.info.channels);
    return read;
}

JobResult RunJob(Job& job, JobMonitor& monitor) {
    if (JobResult moved = job.MoveSamples(monitor); !moved) return moved;
    return job.CommitOutputs(monitor);
}

}  // namespace stereotools
