#include "SplitJob.h"

#include "channels/SplitChannels.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <cerrno>

namespace stereotools {
namespace {

// Returns the channels `request` writes, counted from 0, or empty when it
// names one the input lacks.
std::vector<unsigned> ChosenChannels(const SplitRequest& request) {
    const unsigned count = request.input.info.channels;
    std::vector<unsigned> chosen;
    if (request.channels.empty()) {
        for (unsigned c = 0; c < count; ++c) chosen.push_back(c);
        return chosen;
    }
    for (const unsigned number : request.channels) {
        if (number == 0 || number > count) return {};
        chosen.push_back(number - 1);
    }
    return chosen;
}

// Returns why `request` cannot be split, or an empty error.
IoError SplitRefusal(const SplitRequest& request, const std::vector<unsigned>& chosen) {
    const std::string& name = request.input.name;
    if (request.input.info.channels < 2)
        return {IoError::Operation::Read, name, EINVAL, "it has fewer than two channels"};
    for (const unsigned number : request.channels) {
        if (number == 0 || number > request.input.info.channels) {
            return {IoError::Operation::Read, name, EINVAL, "it has no channel " + std::to_string(number)};
        }
    }
    if (request.outputs.size() != chosen.size()) {
        return {IoError::Operation::Create, name, EINVAL, "one output name is needed per channel"};
    }
    return {};
}

JobLayout LayOutSplit(const SplitRequest& request, const std::vector<unsigned>& chosen) {
    const WaveFormatInfo& info = request.input.info;
    const WaveFormatInfo mono = DeriveMonoFormat(info);
    JobLayout layout;
    layout.inputs = {request.input};
    for (const std::string& name : request.outputs) layout.outputs.push_back({name, mono});
    layout.carryMetadata = request.keepMetadata;
    layout.software = request.software;
    layout.existing = request.existing;
    layout.concurrentJobs = request.concurrentJobs;
    layout.threads = request.threads;
    layout.frames = CountFrames(info);
    layout.sampleWidth = info.BytesPerSample();
    layout.frameChannels = std::max<unsigned>(1, info.channels);
    layout.split = true;
    layout.frameBytes = uint64_t{layout.frameChannels} * layout.sampleWidth;
    layout.totalBytes = layout.frames * layout.frameBytes;
    layout.name = request.input.name;
    layout.refusal = SplitRefusal(request, chosen);
    return layout;
}

MetadataPlan ShapeSplit(const std::vector<unsigned>& channels, const std::vector<JobOutput>& outputs,
                        const MetadataSource& source, const std::string& software) {
    std::vector<WaveFormatInfo> formats;
    for (const JobOutput& output : outputs) formats.push_back(output.format);
    return {{}, ShapeSplitMetadata(source, channels, formats, {software, NewIxmlUid})};
}

}  // namespace

MetadataPlan PlanSplitMetadata(const SplitRequest& request) {
    const std::vector<unsigned> chosen = ChosenChannels(request);
    const JobLayout layout = LayOutSplit(request, chosen);
    if (layout.refusal) return {layout.refusal, {}};
    InputOpenResult opened = ReopenInput(request.input);
    if (!opened) return {opened.error, {}};
    const JobMonitor monitor;
    MetadataSourceRead read = ReadMetadataSource(opened.file, request.input, monitor);
    if (!read.result) return {read.result.error, {}};
    return ShapeSplit(chosen, layout.outputs, read.source, request.software);
}

MetadataPlan SplitJob::ShapeMetadata(const std::vector<MetadataSource>& sources) const {
    return ShapeSplit(channels_, Layout().outputs, sources.front(), software_);
}

SplitJob::SplitJob(const SplitRequest& request)
    : SampleJob(LayOutSplit(request, ChosenChannels(request))),
      channels_(ChosenChannels(request)),
      skipSilent_(request.skipSilent),
      software_(request.software),
      heard_(2, std::vector<char>(channels_.size(), 0)) {}

IoError SplitJob::MoveFrames(unsigned thread, std::span<const InputFile* const> inputs, uint64_t first,
                             std::size_t frames, ChannelBlocks& block) const {
    const WaveFormatInfo& info = Layout().inputs[0].info;
    const unsigned width = Layout().sampleWidth;
    const uint64_t frameBytes = Layout().frameBytes;
    const std::size_t pieceFrames = SplitPieceFrames(width, Layout().frameChannels);
    std::vector<uint8_t*> targets(block.channels.size(), nullptr);
    for (std::size_t done = 0; done < frames; done += pieceFrames) {
        const std::size_t count = std::min(pieceFrames, frames - done);
        if (IoError error = ReadSampleRange(*inputs[0], info.dataOffset, info.dataSize, (first + done) * frameBytes,
                                            block.interleaved.First(count * frameBytes)))
            return error;
        for (const unsigned channel : channels_) targets[channel] = block.channels[channel].Data() + done * width;
        SplitChannels(block.interleaved.Data(), count, width, targets);
    }
    std::vector<char>& heard = heard_[thread];
    // Each thread starts writing at another output, so that the two seldom
    // wait for the same file's write lock (the helper of a stereo split
    // writes the right channel first).
    const std::size_t count = channels_.size();
    const std::size_t start = thread * count / 2;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t output = (start + k) % count;
        const std::span<uint8_t> samples = block.channels[channels_[output]].First(frames * width);
        if (skipSilent_ && heard[output] == 0) {
            heard[output] = std::any_of(samples.begin(), samples.end(), [](uint8_t byte) { return byte != 0; });
        }
        if (IoError error = WriteOutput(thread, output, first * width, samples)) return error;
    }
    return {};
}

bool SplitJob::KeepsOutput(std::size_t index) const {
    return !skipSilent_ || heard_[0][index] != 0 || heard_[1][index] != 0;
}

}  // namespace stereotools
