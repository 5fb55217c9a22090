#include "JoinJob.h"

#include "channels/InterleaveChannels.h"
#include "system/Paths.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <cerrno>

namespace stereotools {
namespace {

// Returns why `request` cannot be joined, or an empty error.
IoError JoinRefusal(const JoinRequest& request, const std::vector<WaveFormatInfo>& infos) {
    if (infos.size() < 2) return {IoError::Operation::Create, request.output, EINVAL, "two inputs or more are needed"};
    for (std::size_t i = 1; i < infos.size(); ++i) {
        const CompatibilityProblem problem = CheckCompatibility(infos.front(), infos[i]);
        if (problem == CompatibilityProblem::None) continue;
        std::string text = CompatibilityProblemMessage(problem);
        text.erase(text.find_last_not_of(' ') + 1);
        return {IoError::Operation::Read, request.inputs[i].name, EINVAL, text};
    }
    return {};
}

JobLayout LayOutJoin(const JoinRequest& request) {
    std::vector<WaveFormatInfo> infos;
    for (const JobInput& input : request.inputs) infos.push_back(input.info);
    JobLayout layout;
    layout.refusal = JoinRefusal(request, infos);
    if (layout.refusal) return layout;
    const WaveFormatInfo joined = DeriveInterleavedFormat(infos, request.channelMask);
    const unsigned width = infos.back().BytesPerSample();
    uint64_t longest = 0;
    for (const WaveFormatInfo& info : infos) longest = std::max(longest, info.dataSize);
    layout.inputs = request.inputs;
    layout.outputs = {{request.output, joined}};
    layout.carryMetadata = request.keepMetadata;
    layout.software = request.software;
    layout.existing = request.existing;
    layout.concurrentJobs = request.concurrentJobs;
    layout.threads = request.threads;
    layout.frames = (longest + width - 1) / width;
    layout.sampleWidth = width;
    layout.frameChannels = static_cast<unsigned>(infos.size());
    layout.frameBytes = uint64_t{layout.frameChannels} * width;
    layout.totalBytes = joined.dataSize;
    layout.name = request.output;
    return layout;
}

// Returns the refusal of inputs whose "bext" start times differ, or an
// empty error; inputs without "bext" are not compared.
IoError StartTimeRefusal(const std::vector<MetadataSource>& sources) {
    const MetadataSource* first = nullptr;
    std::optional<uint64_t> start;
    for (const MetadataSource& source : sources) {
        std::optional<uint64_t> own;
        for (const auto* list : {&source.metadata.beforeData, &source.metadata.afterData}) {
            for (const WaveChunk& chunk : *list) {
                if (chunk.id == "bext" && chunk.held && !own) own = BextTimeReference(chunk.body);
            }
        }
        if (!own) continue;
        if (!start) {
            start = own;
            first = &source;
            continue;
        }
        if (*own != *start) {
            return {IoError::Operation::Read, source.name, EINVAL,
                    "it starts at " + DescribeStartTime(*own, source.info.sampleRate) + ", and '" + first->name +
                        "' at " + DescribeStartTime(*start, first->info.sampleRate) +
                        " (--any-start joins them all the same)"};
        }
    }
    return {};
}

MetadataPlan ShapeJoin(const std::vector<MetadataSource>& sources, const JobLayout& layout, bool anyStart) {
    if (!anyStart) {
        if (IoError refusal = StartTimeRefusal(sources)) return {refusal, {}};
    }
    return {{}, {ShapeJoinMetadata(sources, layout.outputs[0].format, {layout.software, NewIxmlUid})}};
}

}  // namespace

MetadataPlan PlanJoinMetadata(const JoinRequest& request) {
    const JobLayout layout = LayOutJoin(request);
    if (layout.refusal) return {layout.refusal, {}};
    std::vector<MetadataSource> sources;
    const JobMonitor monitor;
    for (const JobInput& input : request.inputs) {
        InputOpenResult opened = ReopenInput(input);
        if (!opened) return {opened.error, {}};
        MetadataSourceRead read = ReadMetadataSource(opened.file, input, monitor);
        if (!read.result) return {read.result.error, {}};
        sources.push_back(std::move(read.source));
    }
    return ShapeJoin(sources, layout, request.anyStart);
}

JoinJob::JoinJob(const JoinRequest& request) : SampleJob(LayOutJoin(request)), anyStart_(request.anyStart) {}

MetadataPlan JoinJob::ShapeMetadata(const std::vector<MetadataSource>& sources) const {
    return ShapeJoin(sources, Layout(), anyStart_);
}

IoError JoinJob::MoveFrames(unsigned thread, std::span<const InputFile* const> inputs, uint64_t first,
                            std::size_t frames, ChannelBlocks& block) const {
    const unsigned width = Layout().sampleWidth;
    std::vector<const uint8_t*> channels;
    channels.reserve(inputs.size());
    for (std::size_t c = 0; c < inputs.size(); ++c) {
        const WaveFormatInfo& info = Layout().inputs[c].info;
        if (IoError error = ReadSampleRange(*inputs[c], info.dataOffset, info.dataSize, first * width,
                                            block.channels[c].First(frames * width)))
            return error;
        channels.push_back(block.channels[c].Data());
    }
    InterleaveChannels(channels, frames, width, block.interleaved.Data());
    // A data size that is not a whole number of samples cuts the last frame short.
    const uint64_t outputBytes = Layout().outputs[0].format.dataSize;
    const uint64_t frameBytes = Layout().frameBytes;
    const uint64_t start = first * frameBytes;
    const auto bytes = static_cast<std::size_t>(std::min<uint64_t>(frames * frameBytes, outputBytes - start));
    return WriteOutput(thread, 0, start, block.interleaved.First(bytes));
}

}  // namespace stereotools
