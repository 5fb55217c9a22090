#include "SplitJob.h"

#include "BlockMover.h"
#include "SampleBlock.h"
#include "channels/SplitChannels.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace stereotools {

namespace {

// Splits a block: reads its frames whole, splits them, and writes each
// channel's share at its place in its output.
class SplitWork final : public BlockWork {
public:
    // Reads `info`'s samples through `sources`, one per thread.
    SplitWork(std::array<const InputFile*, 2> sources, const WaveFormatInfo& info, uint64_t frameCount,
              const WaveOutput& left, const WaveOutput& right)
        : sources_(sources), info_(info), frameCount_(frameCount), outputs_{&left, &right} {}

    IoError Move(unsigned thread, uint64_t index, ChannelBlocks& block) override {
        const unsigned width = info_.BytesPerSample();
        const uint64_t frame = index * block.frames;
        const auto frames = static_cast<std::size_t>(std::min<uint64_t>(block.frames, frameCount_ - frame));
        if (IoError error = ReadSampleRange(*sources_[thread], info_.dataOffset, info_.dataSize, frame * 2 * width,
                                            block.interleaved.First(frames * 2 * width)))
            return error;
        SplitChannels(block.interleaved.Data(), frames, width, block.left.Data(), block.right.Data());
        // The helper writes the right channel first, so that the two threads
        // seldom wait for the same file's write lock.
        for (const unsigned channel : {thread, 1 - thread}) {
            const SampleBuffer& samples = channel == 0 ? block.left : block.right;
            if (IoError error = WriteWaveSamplesAt(*outputs_[channel], frame * width, samples.First(frames * width)))
                return error;
        }
        return {};
    }

private:
    std::array<const InputFile*, 2> sources_;
    const WaveFormatInfo& info_;
    uint64_t frameCount_;
    std::array<const WaveOutput*, 2> outputs_;
};

}  // namespace

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

    // A second thread reads through a file of its own, so each keeps its read-ahead.
    if (request_.threads >= 2) sourceAgain_ = source_.OpenAgain();
    SplitWork work({&source_, sourceAgain_.IsOpen() ? &sourceAgain_ : &source_}, info, frameCount, left_, right_);
    BlockPlan plan;
    plan.blocks = (frameCount + BlockFrames(width) - 1) / BlockFrames(width);
    plan.sampleWidth = width;
    plan.bytesPerBlock = BlockFrames(width) * 2 * width;
    plan.totalBytes = 2 * channelBytes;
    plan.threads = request_.threads;
    const IoError memoryError{IoError::Operation::Memory, request_.input.name, ENOMEM, {}};
    if (JobResult moved = MoveBlocks(plan, work, monitor, memoryError); !moved) return Abandon(std::move(moved));
    for (WaveOutput* output : {&left_, &right_}) {
        if (IoError error = EndWaveSamples(*output, channelBytes)) return Abandon({error, 0});
    }
    for (WaveOutput* output : {&left_, &right_}) {
        if (IoError error = WriteWaveTrailer(*output, mono, carried)) return Abandon({error, 0});
    }
    source_.Close();
    sourceAgain_.Close();
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
    sourceAgain_.Close();
    return result;
}

}  // namespace stereotools
