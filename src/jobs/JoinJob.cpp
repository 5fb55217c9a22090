#include "JoinJob.h"

#include "SampleBlock.h"
#include "channels/InterleaveChannels.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <sys/stat.h>

namespace stereotools {
namespace {

bool IsSameFile(const InputFile& file, const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && info.st_dev == file.Device() && info.st_ino == file.Inode();
}

}  // namespace

JoinJob::JoinJob(JoinRequest request) : request_(std::move(request)) {}

IoError JoinJob::OpenInputs() {
    InputOpenResult left = ReopenInput(request_.left);
    if (!left) return left.error;
    leftFile_ = std::move(left.file);
    if (IsSameFile(leftFile_, request_.right.name)) {
        // Both headers were read from this file; it must still be the one each was.
        if (request_.right.info != request_.left.info) return InputChangedError(request_.right.name);
        right_ = &leftFile_;
        return {};
    }
    InputOpenResult right = ReopenInput(request_.right);
    if (!right) return right.error;
    rightFile_ = std::move(right.file);
    right_ = &rightFile_;
    return {};
}

JobResult JoinJob::MoveSamples(JobMonitor& monitor) {
    const WaveFormatInfo& left = request_.left.info;
    const WaveFormatInfo& right = request_.right.info;
    const unsigned width = right.BytesPerSample();
    const uint64_t longer = std::max(left.dataSize, right.dataSize);
    const uint64_t outputBytes = 2 * longer;
    const uint64_t frameCount = (longer + width - 1) / width;

    ChannelBlocks blocks(width);
    if (!blocks.Allocated()) return Abandon({{IoError::Operation::Memory, request_.output, ENOMEM, {}}, 0});
    if (IoError error = OpenInputs()) return Abandon({error, 0});
    CarriedChunks carried;
    if (request_.keepMetadata) {
        MetadataRead read = ReadCarriedChunks(leftFile_, monitor);
        if (!read.result) return Abandon(read.result);
        carried = std::move(read.carried);
    }
    const WaveFormatInfo stereo = DeriveStereoFormat(left, right);
    const WaveLayout layout = LayOutWave(stereo, carried.metadata);
    OutputOpenResult created = OpenWaveOutput(request_.output, layout.FileBytes(), request_.existing);
    if (!created) return Abandon({created.error, 0});
    output_ = std::move(created.output);
    if (IoError error = WriteWaveHeader(output_, stereo, carried, layout.container)) return Abandon({error, 0});

    uint64_t written = 0;
    monitor.Progress(0, outputBytes);
    for (uint64_t frame = 0; frame < frameCount;) {
        if (const int stop = monitor.PendingStop()) return Abandon({{}, stop});
        const std::size_t frames = static_cast<std::size_t>(std::min<uint64_t>(blocks.frames, frameCount - frame));
        const std::size_t bytes = frames * width;
        if (IoError error =
                ReadSampleRange(leftFile_, left.dataOffset, left.dataSize, frame * width, blocks.left.First(bytes)))
            return Abandon({error, 0});
        if (IoError error =
                ReadSampleRange(*right_, right.dataOffset, right.dataSize, frame * width, blocks.right.First(bytes)))
            return Abandon({error, 0});
        InterleaveChannels(blocks.left.Data(), blocks.right.Data(), frames, width, blocks.interleaved.Data());
        // A data size that is not a whole number of samples cuts the last frame short.
        const std::size_t toWrite = static_cast<std::size_t>(std::min<uint64_t>(2 * bytes, outputBytes - written));
        if (IoError error = WriteWaveSamples(output_, blocks.interleaved.First(toWrite))) return Abandon({error, 0});
        written += toWrite;
        frame += frames;
        monitor.Progress(written, outputBytes);
    }
    if (IoError error = WriteWaveTrailer(output_, stereo, carried)) return Abandon({error, 0});
    leftFile_.Close();
    rightFile_.Close();
    return {};
}

JobResult JoinJob::CommitOutputs(JobMonitor& monitor) {
    if (const int stop = monitor.PendingStop()) return Abandon({{}, stop});
    if (IoError error = CommitWaveOutput(output_)) return Abandon({error, 0});
    committed_.push_back(request_.output);
    return {};
}

JobResult JoinJob::Abandon(JobResult result) {
    output_.Discard();
    leftFile_.Close();
    rightFile_.Close();
    return result;
}

}  // namespace stereotools
