#include "CommandLineRun.h"

#include "BatchPlan.h"
#include "Messages.h"
#include "RunOutput.h"
#include "SignalWatch.h"
#include "cli/Version.h"
#include "jobs/JoinJob.h"
#include "jobs/SplitJob.h"
#include "system/Signals.h"
#include "wave/WaveDerive.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace stereotools {
namespace {

// Returns 0 once `text` is on standard output, else 1 with a line on standard error.
int PrintResult(Tool tool, const std::string& text) {
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "%s: %s\n", ToolName(tool), CliText(CliMessage::OutputFailed, {std::strerror(errno)}).c_str());
    return 1;
}

// Returns "" when `folder` names a folder, else why it cannot take the outputs.
std::string OutputFolderProblem(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return CliText(CliMessage::NotAFolder);
    return {};
}

// Passes a job's progress on to the run's line and the stop signals to the job.
class BatchMonitor final : public JobMonitor {
public:
    BatchMonitor(RunOutput& output, const SignalWatch& signals, uint64_t plannedBytes)
        : output_(output), signals_(signals), total_(plannedBytes) {}

    void Progress(uint64_t done, uint64_t total) override {
        if (!totalKnown_) {
            // The job's own count is the true one; the plan's was an estimate.
            output_.AdjustTotal(static_cast<int64_t>(total) - static_cast<int64_t>(total_));
            total_ = total;
            totalKnown_ = true;
        }
        if (done > done_) output_.Moved(done - done_);
        done_ = std::max(done_, done);
    }
    [[nodiscard]] int PendingStop() const override { return signals_.StopStatus(); }

    // Counts what the job left unmoved as moved, so that a failed job
    // still ends its share of the run.
    void Settle() {
        if (total_ > done_) output_.Moved(total_ - done_);
        done_ = total_;
    }

private:
    RunOutput& output_;
    const SignalWatch& signals_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool totalKnown_ = false;
};

// How an item's job ended, the outputs it put in place before that, and
// the silent ones it left out, and what their metadata gave to say.
struct ItemResult {
    JobResult result;
    std::vector<std::string> committed;
    std::vector<std::string> leftOut;
    std::vector<std::string> notes;
};

// Returns the program and version that a coding history names.
std::string Software(Tool tool) { return std::string(ToolName(tool)) + " " + std::string(kProjectVersion); }

SplitRequest SplitRequestFor(const BatchItem& item, const CommandLine& line, unsigned concurrentJobs) {
    const ExistingTarget existing = line.force ? ExistingTarget::Replace : ExistingTarget::Refuse;
    SplitRequest request{item.inputs[0], item.outputs, line.keepMetadata, existing, concurrentJobs};
    request.channels = item.channels;
    request.skipSilent = line.skipSilent;
    request.software = Software(Tool::Split);
    return request;
}

JoinRequest JoinRequestFor(const BatchItem& item, const CommandLine& line, unsigned concurrentJobs) {
    const ExistingTarget existing = line.force ? ExistingTarget::Replace : ExistingTarget::Refuse;
    JoinRequest request{item.inputs, item.outputs[0], line.keepMetadata, existing, concurrentJobs};
    request.channelMask = line.channelMask;
    request.anyStart = line.anyStart;
    request.software = Software(Tool::Join);
    return request;
}

// Runs the split or join `item` plans, as `line` asks, one of
// `concurrentJobs` jobs at once. Returns how it ended.
ItemResult RunItem(const BatchItem& item, const CommandLine& line, unsigned concurrentJobs, JobMonitor& monitor) {
    if (!item.channels.empty()) {
        SplitJob job(SplitRequestFor(item, line, concurrentJobs));
        const JobResult result = RunJob(job, monitor);
        return {result, job.CommittedOutputs(), job.LeftOutOutputs(), job.MetadataNotes()};
    }
    JoinJob job(JoinRequestFor(item, line, concurrentJobs));
    const JobResult result = RunJob(job, monitor);
    return {result, job.CommittedOutputs(), {}, job.MetadataNotes()};
}

// Returns the line that names `outputs`: "wrote ..." or, for a dry run,
// "would write ...", with `notes` after it.
std::string OutputsLine(const std::vector<std::string>& outputs, bool dryRun,
                        const std::vector<std::string>& notes = {}) {
    std::string text = CliText(dryRun ? CliMessage::WouldWrite : CliMessage::Wrote, {NameList(outputs)});
    for (const std::string& note : notes) text += "; " + note;
    return text;
}

// Returns the line of a split that wrote `committed` and left out the
// silent outputs `leftOut` of `item`, named by their channels.
std::string SilentLine(const BatchItem& item, const std::vector<std::string>& committed,
                       const std::vector<std::string>& leftOut) {
    std::vector<unsigned> channels;
    for (const std::string& output : leftOut) {
        const auto at = std::find(item.outputs.begin(), item.outputs.end(), output);
        if (at != item.outputs.end())
            channels.push_back(item.channels[static_cast<std::size_t>(at - item.outputs.begin())]);
    }
    const std::string which = (channels.size() == 1 ? "channel " : "channels ") + NumberList(channels);
    if (committed.empty()) return CliText(CliMessage::LeftOutSilentOnly, {which});
    return CliText(CliMessage::LeftOutSilent, {OutputsLine(committed, false), which});
}
// Returns `ids` as a listing shows them: quoted, or "none".
std::string IdList(const std::vector<std::string>& ids) {
    if (ids.empty()) return "none";
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "'" : ", '") + id + "'";
    return text;
}

// Returns a dry run's line of what output `name` would carry.
std::string MetadataLine(const std::string& name, const OutputMetadata& output, int32_t sampleRate) {
    std::string tracks;
    for (const std::string& track : output.trackNames) tracks += (tracks.empty() ? "" : ", ") + QuotedName(track);
    const std::string start =
        output.timeReference ? CliText(CliMessage::StartsAt, {DescribeStartTime(*output.timeReference, sampleRate)})
                             : CliText(CliMessage::NoStartTime);
    return CliText(CliMessage::MetadataListing, {NameForLine(name), tracks, start, IdList(output.carried),
                                                 IdList(output.rewritten), IdList(output.dropped)});
}

// Returns what the outputs of `item` would carry as `line` asks, or why
// the job would refuse it.
MetadataPlan PlanItemMetadata(const BatchItem& item, const CommandLine& line) {
    if (!item.channels.empty()) return PlanSplitMetadata(SplitRequestFor(item, line, 1));
    return PlanJoinMetadata(JoinRequestFor(item, line, 1));
}

// Returns a dry run's line of facts about `input`.
std::string FactsLine(const JobInput& input) {
    const WaveFormatInfo& info = input.info;
    const uint64_t frames = CountFrames(info);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f", static_cast<double>(frames) / info.sampleRate);
    return CliText(CliMessage::Facts,
                   {NameForLine(input.name), std::to_string(info.channels), std::to_string(info.sampleRate),
                    std::to_string(info.bitsPerSample), std::to_string(frames), duration});
}

// Returns the lines of `item` that come before its job's: its warnings, or
// its refusal.
std::vector<RunLine> PlannedLines(const BatchItem& item) {
    std::vector<RunLine> lines;
    for (const std::string& warning : item.warnings) lines.push_back({stderr, warning});
    if (!item) lines.push_back({stderr, NameForLine(item.refusedName) + ": " + item.refusal});
    return lines;
}

// Checks every input the command line names, in order: one item each, the
// refused ones included. Stops early when a stop signal arrives.
std::vector<BatchItem> PlanRun(Tool tool, const CommandLine& line, const SignalWatch& signals) {
    BatchPlanner planner({line.outputDir, line.force, line.channels, line.nameTemplate, line.channelMask});
    if (tool == Tool::Join && !line.pairs && !line.takes) {
        const std::vector<std::string> inputs(line.operands.begin(), line.operands.end() - 1);
        return {planner.PlanJoin(inputs, line.operands.back())};
    }
    std::vector<BatchItem> items;
    if (line.takes) {
        for (const Take& take : GroupTakes(line.operands)) {
            if (signals.StopStatus() != 0) break;
            items.push_back(planner.PlanTake(take));
        }
        return items;
    }
    const std::vector<std::string> operands = tool == Tool::Join ? WithoutListedPartners(line.operands) : line.operands;
    for (const std::string& operand : operands) {
        if (signals.StopStatus() != 0) break;
        items.push_back(tool == Tool::Split ? planner.PlanSplit(operand) : planner.PlanPair(operand));
    }
    return items;
}

// Prints what a dry run would do for each of `items`, in order: with
// --keep-metadata, what each output would carry too. Returns whether any
// would fail.
bool ReportDryRun(const std::vector<BatchItem>& items, const CommandLine& line, RunOutput& output) {
    bool anyFailed = false;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const BatchItem& item = items[index];
        std::vector<RunLine> lines = PlannedLines(item);
        anyFailed = anyFailed || !item;
        MetadataPlan plan;
        if (item && line.keepMetadata) plan = PlanItemMetadata(item, line);
        if (plan.error) {
            lines.push_back({stderr, NameForLine(item.name) + ": " + DescribeForLine(plan.error)});
            anyFailed = true;
        } else if (item && !line.quiet) {
            for (const JobInput& input : item.inputs) lines.push_back({stdout, FactsLine(input)});
            lines.push_back({stdout, OutputsLine(item.outputs, true)});
            for (std::size_t i = 0; i < plan.outputs.size() && i < item.outputs.size(); ++i) {
                const int32_t rate = item.inputs[0].info.sampleRate;
                lines.push_back({stdout, MetadataLine(item.outputs[i], plan.outputs[i], rate)});
                for (const std::string& note : plan.outputs[i].notes) {
                    lines.push_back({stdout, NameForLine(item.outputs[i]) + ": " + note});
                }
            }
        }
        output.ItemLines(index, items.size(), std::move(lines));
    }
    return anyFailed;
}

// Runs the jobs of `items`, up to `line.jobs` at once, each on its own
// buffers, and prints each item's lines in the order of the items. Starts
// no new job once a stop signal has arrived. Returns whether any failed.
bool RunItems(const std::vector<BatchItem>& items, const CommandLine& line, const SignalWatch& signals,
              RunOutput& output) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> anyFailed{false};
    std::size_t runnable = 0;
    for (const BatchItem& item : items) runnable += item ? 1 : 0;
    const std::size_t concurrent = std::max<std::size_t>(1, std::min<std::size_t>(line.jobs, runnable));
    const auto work = [&] {
        while (signals.StopStatus() == 0) {
            const std::size_t index = next++;
            if (index >= items.size()) return;
            const BatchItem& item = items[index];
            std::vector<RunLine> lines = PlannedLines(item);
            if (!item) {
                anyFailed = true;
                output.ItemLines(index, items.size(), std::move(lines));
                continue;
            }
            BatchMonitor monitor(output, signals, item.sampleBytes);
            const ItemResult ended = RunItem(item, line, static_cast<unsigned>(concurrent), monitor);
            monitor.Settle();
            output.FileDone();
            if (ended.result) {
                if (!line.quiet) {
                    std::string text = ended.leftOut.empty() ? OutputsLine(item.outputs, false)
                                                             : SilentLine(item, ended.committed, ended.leftOut);
                    for (const std::string& note : ended.notes) text += "; " + note;
                    lines.push_back({stdout, std::move(text)});
                }
            } else if (ended.result.error) {
                // A split whose second output failed still put its first in place.
                if (!line.quiet && !ended.committed.empty()) {
                    lines.push_back({stdout, OutputsLine(ended.committed, false)});
                }
                lines.push_back({stderr, NameForLine(item.name) + ": " + DescribeForLine(ended.result.error)});
                anyFailed = true;
            }
            output.ItemLines(index, items.size(), std::move(lines));
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < concurrent; ++i) {
        // A system that gives no more threads gets the run on those it gave.
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return anyFailed;
}

}  // namespace

int RunCommandLine(Tool tool, int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const CommandLine line = ParseCommandLine(tool, arguments);
    switch (line.action) {
    case CommandLine::Action::Help: return PrintResult(tool, UsageText(tool));
    case CommandLine::Action::Version: return PrintResult(tool, VersionText(tool));
    case CommandLine::Action::UsageError:
        std::fprintf(stderr, "%s: %s\n%s\n", ToolName(tool), line.error.c_str(),
                     CliText(CliMessage::UsageHint, {ToolName(tool)}).c_str());
        return 2;
    case CommandLine::Action::Run: break;
    }
    if (!line.outputDir.empty()) {
        if (const std::string problem = OutputFolderProblem(line.outputDir); !problem.empty()) {
            std::fprintf(stderr, "%s: %s: %s\n", ToolName(tool), NameForLine(line.outputDir).c_str(),
                         CliText(CliMessage::OutputFolder, {problem}).c_str());
            return 1;
        }
    }
    InstallSignalHandlers();
    const SignalWatch signals;

    RunOutput output(ToolName(tool), !line.quiet && !line.dryRun && CanRedrawLine(STDERR_FILENO));
    const std::vector<BatchItem> items = PlanRun(tool, line, signals);
    bool anyFailed = false;
    if (line.dryRun) {
        anyFailed = ReportDryRun(items, line, output);
    } else if (signals.StopStatus() == 0) {
        uint64_t bytes = 0;
        std::size_t runnable = 0;
        for (const BatchItem& item : items) {
            if (!item) continue;
            bytes += item.sampleBytes;
            ++runnable;
        }
        output.Start(runnable, bytes);
        anyFailed = RunItems(items, line, signals, output);
    }
    output.Finish();
    if (const int stop = signals.StopStatus(); stop != 0) return stop;
    if (const int error = output.OutputError(); error != 0) {
        std::fprintf(stderr, "%s: %s\n", ToolName(tool),
                     CliText(CliMessage::OutputFailed, {std::strerror(error)}).c_str());
        return 1;
    }
    return anyFailed ? 1 : 0;
}

}  // namespace stereotools
