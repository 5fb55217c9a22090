#include "SampleJob.h"

#include "BlockMover.h"
#include "system/OpenFileLimit.h"
#include "system/Paths.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

namespace stereotools {

// Hands each block of the plan to MoveFrames with the frames it covers and
// the inputs of the thread that moves it.
class SampleJob::Work final : public BlockWork {
public:
    explicit Work(const SampleJob& job) : job_(job) {}

    IoError Move(unsigned thread, uint64_t index, ChannelBlocks& block) override {
        const uint64_t first = index * block.frames;
        const auto frames = static_cast<std::size_t>(std::min<uint64_t>(block.frames, job_.layout_.frames - first));
        return job_.MoveFrames(thread, job_.sources_[thread], first, frames, block);
    }

    IoError Finish(unsigned thread) override {
        for (std::size_t i = 0; i < job_.outputs_.size(); ++i) {
            if (IoError error = job_.writes_[thread][i].Finish(job_.outputs_[i])) return error;
        }
        return {};
    }

private:
    const SampleJob& job_;
};

SampleJob::SampleJob(JobLayout layout) : layout_(std::move(layout)) {}

unsigned SampleJob::Threads() const {
    return layout_.threads != 0 ? layout_.threads : ThreadsPerJob(layout_.concurrentJobs);
}

IoError SampleJob::MakeRoomForFiles() const {
    // The helper thread reads each input through a file of its own, and an
    // output holds its temporary file and its folder; a few more are opened
    // for a moment while an output is started.
    constexpr std::size_t kSpareFiles = 8;
    const std::size_t inputs = layout_.inputs.size() * (Threads() >= 2 ? 2 : 1);
    const OpenFileRoom room = MakeRoomForOpenFiles(inputs + 2 * layout_.outputs.size() + kSpareFiles);
    if (room || layout_.outputs.empty()) return {};
    return {IoError::Operation::Create, layout_.outputs.front().name, EMFILE,
            "the job needs " + std::to_string(room.needed) + " open files at once, and the limit is " +
                std::to_string(room.limit)};
}

IoError SampleJob::OpenInputs() {
    for (const JobInput& input : layout_.inputs) {
        const auto same = std::find_if(files_.begin(), files_.end(),
                                       [&](const InputFile& file) { return PathNamesFile(input.name, file.Status()); });
        if (same != files_.end()) {
            // Both headers were read from this file; it must still be the one each was.
            const auto index = static_cast<std::size_t>(same - files_.begin());
            const auto first = std::find(fileOf_.begin(), fileOf_.end(), index) - fileOf_.begin();
            if (input.info != layout_.inputs[static_cast<std::size_t>(first)].info) {
                return InputChangedError(input.name);
            }
            fileOf_.push_back(index);
            continue;
        }
        InputOpenResult opened = ReopenInput(input);
        if (!opened) return opened.error;
        fileOf_.push_back(files_.size());
        files_.push_back(std::move(opened.file));
    }
    return {};
}

void SampleJob::OpenInputsAgain() {
    // A second thread reads through files of its own, so each keeps its read-ahead.
    for (const InputFile& file : files_) filesAgain_.push_back(file.OpenAgain());
}

void SampleJob::CloseInputs() {
    files_.clear();
    filesAgain_.clear();
}

JobResult SampleJob::MoveSamples(JobMonitor& monitor) {
    if (layout_.refusal) return Abandon({layout_.refusal, 0});
    if (IoError error = MakeRoomForFiles()) return Abandon({error, 0});
    if (IoError error = OpenInputs()) return Abandon({error, 0});
    std::vector<CarriedChunks> carried(layout_.outputs.size());
    if (layout_.carryMetadata) {
        std::vector<MetadataSource> sources;
        for (std::size_t i = 0; i < layout_.inputs.size(); ++i) {
            MetadataSourceRead read = ReadMetadataSource(files_[fileOf_[i]], layout_.inputs[i], monitor);
            if (!read.result) return Abandon(read.result);
            sources.push_back(std::move(read.source));
        }
        MetadataPlan plan = ShapeMetadata(sources);
        if (plan.error) return Abandon({plan.error, 0});
        for (std::size_t i = 0; i < carried.size() && i < plan.outputs.size(); ++i) {
            carried[i] = {&files_[fileOf_[0]], std::move(plan.outputs[i].metadata)};
            for (const std::string& note : plan.outputs[i].notes) {
                if (std::find(notes_.begin(), notes_.end(), note) == notes_.end()) notes_.push_back(note);
            }
        }
    }
    outputs_.reserve(layout_.outputs.size());
    for (std::size_t i = 0; i < layout_.outputs.size(); ++i) {
        JobOutput& planned = layout_.outputs[i];
        const WaveLayout wave = LayOutWave(planned.format, carried[i].metadata);
        planned.format.dataOffset = wave.headerBytes;
        OutputOpenResult created = OpenWaveOutput(planned.name, wave.FileBytes(), layout_.existing);
        if (!created) return Abandon({created.error, 0});
        outputs_.push_back(std::move(created.output));
        if (IoError error = WriteWaveHeader(outputs_.back(), planned.format, carried[i], wave.container)) {
            return Abandon({error, 0});
        }
    }

    BlockPlan plan;
    plan.threads = Threads();
    const std::size_t blockFrames = BlockFrames(layout_.sampleWidth, layout_.frameChannels, layout_.split);
    plan.blocks = (layout_.frames + blockFrames - 1) / blockFrames;
    plan.sampleWidth = layout_.sampleWidth;
    plan.channels = layout_.frameChannels;
    plan.split = layout_.split;
    plan.bytesPerBlock = blockFrames * layout_.frameBytes;
    plan.totalBytes = layout_.totalBytes;
    if (plan.threads >= 2) OpenInputsAgain();
    sources_.assign(2, {});
    for (const std::size_t file : fileOf_) {
        sources_[0].push_back(&files_[file]);
        const bool again = file < filesAgain_.size() && filesAgain_[file].IsOpen();
        sources_[1].push_back(again ? &filesAgain_[file] : &files_[file]);
    }
    writes_.assign(2, {});
    for (auto& writes : writes_) {
        for (const JobOutput& output : layout_.outputs) {
            // Each output's share of a block is a multiple of this power of
            // two, so its writes keep to its boundaries.
            const std::size_t granule =
                PowerOfTwoIn(blockFrames * output.format.channels * output.format.BytesPerSample(),
                             PageAlignedWrites::kMaxWrite);
            writes.emplace_back(granule, BufferLead(plan.channels));
        }
    }
    Work work(*this);
    const IoError memoryError{IoError::Operation::Memory, layout_.name, ENOMEM, {}};
    if (JobResult moved = MoveBlocks(plan, work, monitor, memoryError); !moved) return Abandon(std::move(moved));
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        if (IoError error = EndWaveSamples(outputs_[i], layout_.outputs[i].format.dataSize)) {
            return Abandon({error, 0});
        }
    }
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        if (IoError error = WriteWaveTrailer(outputs_[i], layout_.outputs[i].format, carried[i])) {
            return Abandon({error, 0});
        }
    }
    CloseInputs();
    return {};
}

IoError SampleJob::WriteOutput(unsigned thread, std::size_t output, uint64_t position,
                               std::span<uint8_t> samples) const {
    return writes_[thread][output].Write(outputs_[output], position, samples.data(), samples.size());
}

JobResult SampleJob::CommitOutputs(JobMonitor& monitor) {
    if (const int stop = monitor.PendingStop()) return Abandon({{}, stop});
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        if (!KeepsOutput(i)) {
            outputs_[i].Discard();
            leftOut_.push_back(layout_.outputs[i].name);
            continue;
        }
        if (IoError error = CommitWaveOutput(outputs_[i])) return Abandon({error, 0});
        committed_.push_back(layout_.outputs[i].name);
    }
    return {};
}

JobResult SampleJob::Abandon(JobResult result) {
    for (WaveOutput& output : outputs_) output.Discard();
    CloseInputs();
    return result;
}

}  // namespace stereotools
