#include "JoinJob.h"

#include "BlockMover.h"
#include "SampleBlock.h"
#include "channels/InterleaveChannels.h"
#include "system/Paths.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include <sys/stat.h>

namespace stereotools {
namespace {

bool IsSameFile(const InputFile& file, const std::string& name) {
    return PathNamesFile(name, file.Status());
}

// Joins a block: reads both channels' samples, interleaves them and writes
// the frames at their place in the output.
class JoinWork final : public BlockWork {
public:
    // Reads the left and right samples through `sources`, a pair per thread.
    JoinWork(std::array<std::array<const InputFile*, 2>, 2> sources, const WaveFormatInfo& left,
             const WaveFormatInfo& right, uint64_t frameCount, const WaveOutput& output)
        : sources_(sources), infos_{&left, &right}, frameCount_(frameCount), output_(output) {}

    IoError Move(unsigned thread, uint64_t index, ChannelBlocks& block) override {
        const unsigned width = infos_[1]->BytesPerSample();
        const uint64_t frame = index * block.frames;
        const auto frames = static_cast<std::size_t>(std::min<uint64_t>(block.frames, frameCount_ - frame));
        SampleBuffer* channels[2] = {&block.left, &block.right};
        for (unsigned c = 0; c < 2; ++c) {
            if (IoError error = ReadSampleRange(*sources_[thread][c], infos_[c]->dataOffset, infos_[c]->dataSize,
                                                frame * width, channels[c]->First(frames * width)))
                return error;
        }
        InterleaveChannels(block.left.Data(), block.right.Data(), frames, width, block.interleaved.Data());
        // A data size that is not a whole number of samples cuts the last frame short.
        const uint64_t outputBytes = 2 * std::max(infos_[0]->dataSize, infos_[1]->dataSize);
        const uint64_t start = frame * 2 * width;
        const auto bytes = static_cast<std::size_t>(std::min<uint64_t>(frames * 2 * width, outputBytes - start));
        return WriteWaveSamplesAt(output_, start, block.interleaved.First(bytes));
    }

private:
    std::array<std::array<const InputFile*, 2>, 2> sources_;
    std::array<const WaveFormatInfo*, 2> infos_;
    uint64_t frameCount_;
    const WaveOutput& output_;
};

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

    // A second thread reads through files of its own, so each keeps its read-ahead.
    std::array<std::array<const InputFile*, 2>, 2> sources{{{&leftFile_, right_}, {&leftFile_, right_}}};
    if (request_.threads >= 2) {
        leftAgain_ = leftFile_.OpenAgain();
        if (leftAgain_.IsOpen()) sources[1][0] = &leftAgain_;
        if (right_ != &leftFile_) rightAgain_ = rightFile_.OpenAgain();
        if (rightAgain_.IsOpen()) sources[1][1] = &rightAgain_;
        if (right_ == &leftFile_) sources[1][1] = sources[1][0];
    }
    JoinWork work(sources, left, right, frameCount, output_);
    BlockPlan plan;
    plan.blocks = (frameCount + BlockFrames(width) - 1) / BlockFrames(width);
    plan.sampleWidth = width;
    plan.bytesPerBlock = BlockFrames(width) * 2 * width;
    plan.totalBytes = outputBytes;
    plan.threads = request_.threads;
    const IoError memoryError{IoError::Operation::Memory, request_.output, ENOMEM, {}};
    if (JobResult moved = MoveBlocks(plan, work, monitor, memoryError); !moved) return Abandon(std::move(moved));
    if (IoError error = EndWaveSamples(output_, outputBytes)) return Abandon({error, 0});
    if (IoError error = WriteWaveTrailer(output_, stereo, carried)) return Abandon({error, 0});
    CloseInputs();
    return {};
}

JobResult JoinJob::CommitOutputs(JobMonitor& monitor) {
    if (const int stop = monitor.PendingStop()) return Abandon({{}, stop});
    if (IoError error = CommitWaveOutput(output_)) return Abandon({error, 0});
    committed_.push_back(request_.output);
    return {};
}

void JoinJob::CloseInputs() {
    leftFile_.Close();
    rightFile_.Close();
    leftAgain_.Close();
    rightAgain_.Close();
}

JobResult JoinJob::Abandon(JobResult result) {
    output_.Discard();
    CloseInputs();
    return result;
}

}  // namespace stereotools
