#include "BatchPlan.h"

#include "Messages.h"
#include "jobs/ChannelNames.h"
#include "system/Paths.h"
#include "wave/SpeakerMask.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <sys/stat.h>

namespace stereotools {
namespace {

// Returns what tells the file `path` stands for from every other: for an
// existing file, its device and inode, so that every name of it (a link, a
// hard link, another spelling) meets; else its folder's device and inode
// and its name there, so that two spellings of one folder ("a/x.wav",
// "./a/x.wav", a link to a) meet; where the folder cannot be found, the
// path made absolute and normal.
std::string FileKey(const std::string& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) == 0) {
        return "file:" + std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino);
    }
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) == 0) {
        return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" + BaseNameOf(path);
    }
    std::error_code ignored;
    return "path:" + std::filesystem::absolute(path, ignored).lexically_normal().string();
}

// Returns the words for what `name` is when it is no regular file, or "".
std::string NotAFileRefusal(const std::string& name) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return {};
    const std::string quoted = QuotedName(name);
    if (S_ISDIR(info.st_mode)) return CliText(CliMessage::InputIsFolder, {quoted});
    if (S_ISFIFO(info.st_mode)) return CliText(CliMessage::InputIsPipe, {quoted});
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return CliText(CliMessage::InputIsDevice, {quoted});
    if (S_ISSOCK(info.st_mode)) return CliText(CliMessage::InputIsSocket, {quoted});
    return {};
}

// Returns `item` refused for `refusal` about the file `refusedName`. Taken
// by reference, so `refusedName` may be one of its own fields.
BatchItem Refused(BatchItem&& item, std::string refusedName, std::string refusal) {
    item.refusedName = std::move(refusedName);
    item.refusal = std::move(refusal);
    return item;
}

}  // namespace

std::string InputRefusal(const std::string& name, const InputCheck& check, int requiredChannels) {
    if (check.error) {
        const IoError& error = check.error;
        const std::string reason = error.detail.empty() ? std::strerror(error.errorNumber) : error.detail;
        if (error.errorNumber == ENOENT || error.errorNumber == ENOTDIR) {
            return CliText(CliMessage::FileNotFound, {reason});
        }
        if (std::string what = NotAFileRefusal(name); !what.empty()) return what;
        return CliText(CliMessage::CannotRead, {QuotedName(name), reason});
    }
    if (check.problem == WaveHeaderProblem::None) return {};
    return std::string(TrimBlanks(HeaderProblemMessage(check.problem, requiredChannels)));
}

std::string BatchPlanner::InOutputFolder(const std::string& derived) const {
    if (settings_.outputDir.empty()) return derived;
    const std::string& folder = settings_.outputDir;
    return folder + (folder.back() == '/' ? "" : "/") + BaseNameOf(derived);
}

std::string ZeroFillWarning(const std::string& name, const WaveFormatInfo& info) {
    struct stat file {};
    if (::stat(name.c_str(), &file) != 0) return {};
    const uint64_t size = static_cast<uint64_t>(file.st_size);
    const uint64_t held = size > info.dataOffset ? size - info.dataOffset : 0;
    if (held >= info.dataSize) return {};
    return CliText(CliMessage::ZeroFilled, {std::to_string(info.dataSize), std::to_string(held)});
}

std::string CompatibilityRefusal(CompatibilityProblem problem, const WaveFormatInfo& left,
                                 const WaveFormatInfo& right) {
    const std::string text(TrimBlanks(CompatibilityProblemMessage(problem)));
    const auto format = [](const WaveFormatInfo& info) { return info.formatTag == 3 ? "float" : "PCM"; };
    switch (problem) {
    case CompatibilityProblem::None: return {};
    case CompatibilityProblem::SampleRatesDiffer:
        return CliText(CliMessage::Incompatible,
                       {text, std::to_string(left.sampleRate), std::to_string(right.sampleRate), " Hz"});
    case CompatibilityProblem::BitDepthsDiffer:
        return CliText(CliMessage::Incompatible,
                       {text, std::to_string(left.bitsPerSample), std::to_string(right.bitsPerSample), " bits"});
    case CompatibilityProblem::FormatsDiffer:
        return CliText(CliMessage::Incompatible, {text, format(left), format(right), ""});
    }
    return text;
}

std::vector<std::string> WithoutListedPartners(const std::vector<std::string>& operands) {
    std::set<std::string> partners;
    for (const std::string& operand : operands) {
        const ChannelPair pair = PairChannelFiles(operand);
        if (pair.problem == PairProblem::None) partners.insert(FileKey(pair.right));
    }
    std::vector<std::string> kept;
    for (const std::string& operand : operands) {
        const bool listedPartner =
            PairChannelFiles(operand).problem == PairProblem::RightHalf && partners.contains(FileKey(operand));
        if (!listedPartner) kept.push_back(operand);
    }
    return kept;
}

BatchItem BatchPlanner::ClaimOutputs(BatchItem item) {
    // An input that an earlier item replaces would be gone, or half read,
    // by the time its own job runs.
    for (const JobInput& input : item.inputs) {
        if (const auto earlier = claimed_.find(FileKey(input.name)); earlier != claimed_.end()) {
            return Refused(std::move(item), item.name,
                           CliText(CliMessage::OutputTwice, {QuotedName(input.name), QuotedName(earlier->second)}));
        }
    }
    std::vector<std::string> keys;
    for (const std::string& output : item.outputs) {
        std::string key = FileKey(output);
        if (const auto earlier = claimed_.find(key); earlier != claimed_.end()) {
            return Refused(std::move(item), item.name,
                           CliText(CliMessage::OutputTwice, {QuotedName(output), QuotedName(earlier->second)}));
        }
        // Two outputs of one split under one name, such as a template
        // folds together, would leave only the last.
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
            return Refused(std::move(item), item.name, CliText(CliMessage::OutputTwiceInItem, {QuotedName(output)}));
        }
        // Whatever stands under the name, even a dangling link, would be replaced.
        struct stat existing {};
        if (!settings_.force && ::lstat(output.c_str(), &existing) == 0) {
            return Refused(std::move(item), item.name, CliText(CliMessage::OutputExists, {QuotedName(output)}));
        }
        if (const IoError refusal = CheckWaveOutput(output)) {
            return Refused(std::move(item), item.name, DescribeForLine(refusal));
        }
        keys.push_back(std::move(key));
    }
    for (std::string& key : keys) claimed_.emplace(std::move(key), item.name);
    return item;
}

BatchItem BatchPlanner::PlanSplit(const std::string& input) {
    BatchItem item;
    item.name = input;
    const InputCheck check = CheckInput(input, kManyChannels);
    if (!check) return Refused(std::move(item), input, InputRefusal(input, check, 2));
    const unsigned channelCount = check.input.info.channels;
    item.channels = settings_.channels;
    if (item.channels.empty()) {
        for (unsigned channel = 1; channel <= channelCount; ++channel) item.channels.push_back(channel);
    }
    for (const unsigned channel : item.channels) {
        if (channel > channelCount) {
            return Refused(std::move(item), input,
                           CliText(CliMessage::NoSuchChannel, {std::to_string(channelCount), std::to_string(channel)}));
        }
    }
    if (std::string warning = ZeroFillWarning(input, check.input.info); !warning.empty()) {
        item.warnings.push_back(NameForLine(input) + ": " + warning);
    }
    std::vector<std::string> names;
    if (settings_.nameTemplate.empty()) {
        const std::vector<std::string> all = DeriveSplitFileNames(input, channelCount);
        for (const unsigned channel : item.channels) names.push_back(all[channel - 1]);
    } else {
        // Track names come from the file, so that the checks below see the final names.
        TrackNamesRead tracks;
        if (TemplateHasField(settings_.nameTemplate, "track")) {
            tracks = ReadTrackNames(check.input);
            if (tracks.error) return Refused(std::move(item), input, DescribeForLine(tracks.error));
        }
        names = TemplateSplitFileNames(settings_.nameTemplate, input, channelCount, item.channels, tracks.names);
    }
    for (const std::string& name : names) item.outputs.push_back(InOutputFolder(name));
    item.sampleBytes = channelCount * CountFrames(check.input.info) * check.input.info.BytesPerSample();
    item.inputs = {check.input};
    return ClaimOutputs(std::move(item));
}

BatchItem BatchPlanner::PlanJoin(const std::vector<std::string>& inputs, const std::string& output) {
    BatchItem item;
    item.name = inputs.front();
    std::vector<WaveFormatInfo> infos;
    for (const std::string& name : inputs) {
        const InputCheck check = CheckInput(name, 1);
        if (!check) return Refused(std::move(item), name, InputRefusal(name, check, 1));
        if (std::string warning = ZeroFillWarning(name, check.input.info); !warning.empty()) {
            item.warnings.push_back(NameForLine(name) + ": " + warning);
        }
        item.inputs.push_back(check.input);
        infos.push_back(check.input.info);
    }
    const WaveFormatInfo& first = infos.front();
    for (std::size_t index = 1; index < infos.size(); ++index) {
        const CompatibilityProblem problem = CheckCompatibility(first, infos[index]);
        if (problem == CompatibilityProblem::None) continue;
        std::string refusal = CompatibilityRefusal(problem, first, infos[index]);
        // Of many files, say which two.
        if (inputs.size() > 2) refusal += CliText(CliMessage::IncompatibleFiles, {QuotedName(inputs[index])});
        return Refused(std::move(item), item.name, std::move(refusal));
    }
    item.outputs = {output};
    uint64_t longest = 0;
    for (const WaveFormatInfo& info : infos) longest = std::max(longest, info.dataSize);
    item.sampleBytes = infos.size() * longest;
    return ClaimOutputs(std::move(item));
}

BatchItem BatchPlanner::PlanPair(const std::string& left) {
    const ChannelPair pair = PairChannelFiles(left);
    if (pair.problem != PairProblem::None) {
        BatchItem item;
        item.name = left;
        return Refused(std::move(item), left, PairProblemMessage(pair.problem));
    }
    // The joined file goes beside the left one, or into the output folder.
    return PlanJoin({left, pair.right}, InOutputFolder(pair.joined));
}

BatchItem BatchPlanner::PlanTake(const Take& take) {
    if (take.problem != TakeProblem::None) {
        BatchItem item;
        item.name = take.files.front();
        return Refused(std::move(item), item.name, TakeProblemMessage(take));
    }
    if (settings_.channelMask && CountSpeakers(*settings_.channelMask) != take.files.size()) {
        BatchItem item;
        item.name = take.files.front();
        return Refused(std::move(item), item.name,
                       CliText(CliMessage::MaskMismatch, {std::to_string(CountSpeakers(*settings_.channelMask)),
                                                          std::to_string(take.files.size())}));
    }
    return PlanJoin(take.files, InOutputFolder(take.joined));
}

}  // namespace stereotools
