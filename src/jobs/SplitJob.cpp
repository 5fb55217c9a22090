#include "SplitJob.h"

#include "SampleBlock.h"
#include "channels/SplitChannels.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace stereotools {

SplitJob::SplitJob(SplitRequest request) : request_(std::move(request)) {}

JobResult SplitJob::MoveSamples(JobMonitor& monitor) {
    const WaveFormatInfo& info = request_.input.info;
    const unsigned width = info.BytesPerSample();
    const uint64_t frameCount = CountFrames(info);
    const uint64_t channelBytes = frameCount * width;

    InputOpenResult opened = ReopenInput(request_.input);
    if (!opened) return Abandon({opened.error, 0});
    source_ = std::move(opened.file);
    CarriedChunks carried;
    if (request_.keepMetadata) {
        MetadataRead read = ReadCarriedChunks(source_, monitor);
        if (!read.result) return Abandon(read.result);
        carried = std::move(read.carried);
    }

    WaveFormatInfo mono = DeriveMonoFormat(info);
    // The header states exactly the samples each output holds, also for a
    // data size that is not a whole number of frames.
    mono.dataSize = channelBytes;
    const WaveLayout layout = LayOutWave(mono, carried.metadata);
    mono.dataOffset = layout.headerBytes;
    for (auto [name, output] :
         {std::pair{&request_.outputs.left, &left_}, std::pair{&request_.outputs.right, &right_}}) {
        OutputOpenResult created = OpenWaveOutput(*name, layout.FileBytes(), request_.existing);
        if (!created) return Abandon({created.error, 0});
        *output = std::move(created.output);
        if (IoError error = WriteWaveHeader(*output, mono, carried, layout.container)) return Abandon({error, 0});
    }

    ChannelBlocks blocks(width);
    if (!blocks.Allocated()) return Abandon({{IoError::Operation::Memory, request_.input.name, ENOMEM, {}}, 0});

    const uint64_t totalBytes = 2 * channelBytes;
    monitor.Progress(0, totalBytes);
    for (uint64_t frame = 0; frame < frameCount;) {
        if (const int stop = monitor.PendingStop()) return Abandon({{}, stop});
        const std::size_t frames = static_cast<std::size_t>(std::min<uint64_t>(blocks.frames, frameCount - frame));
        const std::size_t bytes = frames * width;
        if (IoError error = ReadSampleRange(source_, info.dataOffset, info.dataSize, frame * 2 * width,
                                            blocks.interleaved.First(2 * bytes)))
            return Abandon({error, 0});
        SplitChannels(blocks.interleaved.Data(), frames, width, blocks.left.Data(), blocks.right.Data());
        if (IoError error = WriteWaveSamples(left_, blocks.left.First(bytes))) return Abandon({error, 0});
        if (IoError error = WriteWaveSamples(right_, blocks.right.First(bytes))) return Abandon({error, 0});
        frame += frames;
        monitor.Progress(frame * 2 * width, totalBytes);
    }
    for (WaveOutput* output : {&left_, &right_}) {
        if (IoError error = WriteWaveTrailer(*output, mono, carried)) return Abandon({error, 0});
    }
    source_.Close();
    return {};
}

JobResult SplitJob::CommitOutputs(JobMonitor& monitor) {
    if (const int stop = monitor.PendingStop()) return Abandon({{}, stop});
    if (IoError error = CommitWaveOutput(left_)) return Abandon({error, 0});
    committed_.push_back(request_.outputs.left);
    if (IoError error = CommitWaveOutput(right_)) return Abandon({error, 0});
    committed_.push_back(request_.outputs.right);
    return {};
}

JobResult SplitJob::Abandon(JobResult result) {
    left_.Discard();
    right_.Discard();
    source_.Close();
    return result;
}

}  // namespace stereotools
