#include "SplitJob.h"

#include "channels/SplitChannels.h"
#include "wave/WaveDerive.h"

namespace stereotools {
namespace {

JobLayout LayOutSplit(const SplitRequest& request) {
    const WaveFormatInfo& info = request.input.info;
    const WaveFormatInfo mono = DeriveMonoFormat(info);
    JobLayout layout;
    layout.inputs = {request.input};
    for (const std::string& name : request.outputs) layout.outputs.push_back({name, mono});
    layout.carryMetadata = request.keepMetadata;
    layout.existing = request.existing;
    layout.concurrentJobs = request.concurrentJobs;
    layout.threads = request.threads;
    layout.frames = CountFrames(info);
    layout.sampleWidth = info.BytesPerSample();
    layout.frameChannels = 2;
    layout.totalBytes = 2 * mono.dataSize;
    layout.name = request.input.name;
    return layout;
}

}  // namespace

SplitJob::SplitJob(const SplitRequest& request) : SampleJob(LayOutSplit(request)) {}

IoError SplitJob::MoveFrames(unsigned thread, std::span<const InputFile* const> inputs,
                             std::span<const WaveOutput> outputs, uint64_t first, std::size_t frames,
                             ChannelBlocks& block) const {
    const WaveFormatInfo& info = Layout().inputs[0].info;
    const unsigned width = Layout().sampleWidth;
    if (IoError error = ReadSampleRange(*inputs[0], info.dataOffset, info.dataSize, first * 2 * width,
                                        block.interleaved.First(frames * 2 * width)))
        return error;
    SplitChannels(block.interleaved.Data(), frames, width, block.left.Data(), block.right.Data());
    // The helper writes the right channel first, so that the two threads
    // seldom wait for the same file's write lock.
    for (const unsigned channel : {thread, 1 - thread}) {
        const SampleBuffer& samples = channel == 0 ? block.left : block.right;
        if (IoError error = WriteWaveSamplesAt(outputs[channel], first * width, samples.First(frames * width)))
            return error;
    }
    return {};
}

}  // namespace stereotools
