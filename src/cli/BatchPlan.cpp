#include "BatchPlan.h"

#include "Messages.h"
#include "jobs/ChannelNames.h"
#include "system/Paths.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>

namespace stereotools {
namespace {

// Returns what tells output `path` from every other: its folder's device
// and inode and its name there, so that two spellings of one folder
// ("a/x.wav", "./a/x.wav", a link to a) meet; where the folder cannot be
// found, the path made absolute and normal.
std::string OutputKey(const std::string& path) {
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) == 0) {
        return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" + BaseNameOf(path);
    }
    std::error_code ignored;
    return "path:" + std::filesystem::absolute(path, ignored).lexically_normal().string();
}

// Returns `item` refused for `refusal` about the file `refusedName`. Taken
// by reference, so `refusedName` may be one of its own fields.
BatchItem Refused(BatchItem&& item, std::string refusedName, std::string refusal) {
    item.refusedName = std::move(refusedName);
    item.refusal = std::move(refusal);
    return item;
}

}  // namespace

std::string InputRefusal(const InputCheck& check, int requiredChannels) {
    if (check.error) {
        const IoError& error = check.error;
        const std::string reason = error.detail.empty() ? std::strerror(error.errorNumber) : error.detail;
        return CliText(CliMessage::FileNotFound, {reason});
    }
    if (check.problem == WaveHeaderProblem::None) return {};
    return std::string(TrimBlanks(HeaderProblemMessage(check.problem, requiredChannels)));
}

std::string BatchPlanner::InOutputFolder(const std::string& derived) const {
    if (settings_.outputDir.empty()) return derived;
    const std::string& folder = settings_.outputDir;
    return folder + (folder.back() == '/' ? "" : "/") + BaseNameOf(derived);
}

BatchItem BatchPlanner::ClaimOutputs(BatchItem item) {
    std::vector<std::string> keys;
    for (const std::string& output : item.outputs) {
        std::string key = OutputKey(output);
        if (const auto earlier = claimed_.find(key); earlier != claimed_.end()) {
            return Refused(std::move(item), item.name, CliText(CliMessage::OutputTwice, {output, earlier->second}));
        }
        // Whatever stands under the name, even a dangling link, would be replaced.
        struct stat existing {};
        if (!settings_.force && ::lstat(output.c_str(), &existing) == 0) {
            return Refused(std::move(item), item.name, CliText(CliMessage::OutputExists, {output}));
        }
        keys.push_back(std::move(key));
    }
    for (std::string& key : keys) claimed_.emplace(std::move(key), item.name);
    return item;
}

BatchItem BatchPlanner::PlanSplit(const std::string& input) {
    BatchItem item;
    item.name = input;
    const InputCheck check = CheckInput(input, 2);
    if (!check) return Refused(std::move(item), input, InputRefusal(check, 2));
    const ChannelFileNames names = DeriveChannelFileNames(input);
    item.outputs = {InOutputFolder(names.left), InOutputFolder(names.right)};
    item.sampleBytes = 2 * CountFrames(check.input.info) * check.input.info.BytesPerSample();
    item.inputs = {check.input};
    return ClaimOutputs(std::move(item));
}

BatchItem BatchPlanner::PlanJoin(const std::string& left, const std::string& right, const std::string& output) {
    BatchItem item;
    item.name = left;
    for (const std::string& name : {left, right}) {
        const InputCheck check = CheckInput(name, 1);
        if (!check) return Refused(std::move(item), name, InputRefusal(check, 1));
        item.inputs.push_back(check.input);
    }
    const WaveFormatInfo& leftInfo = item.inputs[0].info;
    const WaveFormatInfo& rightInfo = item.inputs[1].info;
    if (const CompatibilityProblem problem = CheckCompatibility(leftInfo, rightInfo);
        problem != CompatibilityProblem::None) {
        return Refused(std::move(item), left, std::string(TrimBlanks(CompatibilityProblemMessage(problem))));
    }
    item.outputs = {output};
    item.sampleBytes = 2 * std::max(leftInfo.dataSize, rightInfo.dataSize);
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
    return PlanJoin(left, pair.right, InOutputFolder(pair.joined));
}

}  // namespace stereotools
