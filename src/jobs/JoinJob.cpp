#include "JoinJob.h"

#include "channels/InterleaveChannels.h"
#include "wave/WaveDerive.h"

#include <algorithm>

namespace stereotools {
namespace {

JobLayout LayOutJoin(const JoinRequest& request) {
    const WaveFormatInfo stereo = DeriveStereoFormat(request.left.info, request.right.info);
    const unsigned width = request.right.info.BytesPerSample();
    const uint64_t longer = std::max(request.left.info.dataSize, request.right.info.dataSize);
    JobLayout layout;
    layout.inputs = {request.left, request.right};
    layout.outputs = {{request.output, stereo}};
    layout.carryMetadata = request.keepMetadata;
    layout.existing = request.existing;
    layout.concurrentJobs = request.concurrentJobs;
    layout.threads = request.threads;
    layout.frames = (longer + width - 1) / width;
    layout.sampleWidth = width;
    layout.frameChannels = 2;
    layout.totalBytes = stereo.dataSize;
    layout.name = request.output;
    return layout;
}

}  // namespace

JoinJob::JoinJob(const JoinRequest& request) : SampleJob(LayOutJoin(request)) {}

IoError JoinJob::MoveFrames(unsigned, std::span<const InputFile* const> inputs, std::span<const WaveOutput> outputs,
                            uint64_t first, std::size_t frames, ChannelBlocks& block) const {
    const unsigned width = Layout().sampleWidth;
    SampleBuffer* channels[2] = {&block.left, &block.right};
    for (unsigned c = 0; c < 2; ++c) {
        const WaveFormatInfo& info = Layout().inputs[c].info;
        if (IoError error = ReadSampleRange(*inputs[c], info.dataOffset, info.dataSize, first * width,
                                            channels[c]->First(frames * width)))
            return error;
    }
    InterleaveChannels(block.left.Data(), block.right.Data(), frames, width, block.interleaved.Data());
    // A data size that is not a whole number of samples cuts the last frame short.
    const uint64_t outputBytes = Layout().outputs[0].format.dataSize;
    const uint64_t start = first * 2 * width;
    const auto bytes = static_cast<std::size_t>(std::min<uint64_t>(frames * 2 * width, outputBytes - start));
    return WriteWaveSamplesAt(outputs[0], start, block.interleaved.First(bytes));
}

}  // namespace stereotools
