#include "Batch.h"

#include "BatchPlan.h"
#include "Messages.h"
#include "Progress.h"
#include "SignalWatch.h"
#include "jobs/JoinJob.h"
#include "jobs/Signals.h"
#include "jobs/SplitJob.h"
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
    BatchMonitor(BatchOutput& output, const SignalWatch& signals, uint64_t plannedBytes)
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
    BatchOutput& output_;
    const SignalWatch& signals_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool totalKnown_ = false;
};

// Runs the split or join `item` plans, as `line` asks, one of
// `concurrentJobs` jobs at once. Returns how it ended.
JobResult RunItem(const BatchItem& item, const CommandLine& line, unsigned concurrentJobs, JobMonitor& monitor) {
    const ExistingTarget existing = line.force ? ExistingTarget::Replace : ExistingTarget::Refuse;
    if (item.inputs.size() == 1) {
        SplitJob job({item.inputs[0], {item.outputs[0], item.outputs[1]}, line.keepMetadata, existing, concurrentJobs});
        return RunJob(job, monitor);
    }
    JoinJob job({item.inputs, item.outputs[0], line.keepMetadata, existing, concurrentJobs});
    return RunJob(job, monitor);
}

// Returns the line that names what `item` writes: "wrote ..." or, for a
// dry run, "would write ...".
std::string OutputsLine(const BatchItem& item, bool dryRun) {
    if (item.outputs.size() == 2) {
        return CliText(dryRun ? CliMessage::WouldWriteTwo : CliMessage::WroteTwo, {item.outputs[0], item.outputs[1]});
    }
    return CliText(dryRun ? CliMessage::WouldWrite : CliMessage::Wrote, {item.outputs[0]});
}

// Returns a dry run's line of facts about `input`.
std::string FactsLine(const JobInput& input) {
    const WaveFormatInfo& info = input.info;
    const uint64_t frames = CountFrames(info);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f", static_cast<double>(frames) / info.sampleRate);
    return CliText(CliMessage::Facts, {input.name, std::to_string(info.channels), std::to_string(info.sampleRate),
                                       std::to_string(info.bitsPerSample), std::to_string(frames), duration});
}

// The inputs a run has checked, and whether any was refused.
struct Plan {
    std::vector<BatchItem> items;
    bool anyRefused = false;
};

// Checks every input the command line names, in order, and reports each
// refusal. Stops early when a stop signal arrives.
Plan PlanRun(Tool tool, const CommandLine& line, const SignalWatch& signals, BatchOutput& output) {
    BatchPlanner planner({line.outputDir, line.force});
    Plan plan;
    const auto add = [&](BatchItem item) {
        if (item) {
            plan.items.push_back(std::move(item));
            return;
        }
        output.Line(stderr, item.refusedName + ": " + item.refusal);
        plan.anyRefused = true;
    };
    if (tool == Tool::Join && !line.pairs) {
        add(planner.PlanJoin(line.operands[0], line.operands[1], line.operands[2]));
        return plan;
    }
    for (const std::string& operand : line.operands) {
        if (signals.StopStatus() != 0) break;
        add(tool == Tool::Split ? planner.PlanSplit(operand) : planner.PlanPair(operand));
    }
    return plan;
}

// Runs the jobs of `items`, up to `line.jobs` at once, each on its own
// buffers, and reports each as it ends. Starts no new job once a stop signal has arrived. Returns whether
// any failed.
bool RunItems(const std::vector<BatchItem>& items, const CommandLine& line, const SignalWatch& signals,
              BatchOutput& output) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> anyFailed{false};
    const std::size_t concurrent = std::min<std::size_t>(line.jobs, items.size());
    const auto work = [&] {
        while (signals.StopStatus() == 0) {
            const std::size_t index = next++;
            if (index >= items.size()) return;
            const BatchItem& item = items[index];
            BatchMonitor monitor(output, signals, item.sampleBytes);
            const JobResult result = RunItem(item, line, static_cast<unsigned>(concurrent), monitor);
            monitor.Settle();
            output.FileDone();
            if (result) {
                if (!line.quiet) output.Line(stdout, OutputsLine(item, false));
            } else if (result.error) {
                output.Line(stderr, item.name + ": " + std::string(TrimBlanks(result.error.Describe())));
                anyFailed = true;
            }
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
            std::fprintf(stderr, "%s: %s: %s\n", ToolName(tool), line.outputDir.c_str(),
                         CliText(CliMessage::OutputFolder, {problem}).c_str());
            return 1;
        }
    }
    InstallSignalHandlers();
    const SignalWatch signals;

    BatchOutput output(ToolName(tool), !line.quiet && !line.dryRun && ::isatty(STDERR_FILENO) == 1);
    const Plan plan = PlanRun(tool, line, signals, output);
    bool anyFailed = plan.anyRefused;
    if (line.dryRun && !line.quiet) {
        for (const BatchItem& item : plan.items) {
            for (const JobInput& input : item.inputs) output.Line(stdout, FactsLine(input));
            output.Line(stdout, OutputsLine(item, true));
        }
    } else if (!line.dryRun && signals.StopStatus() == 0) {
        uint64_t bytes = 0;
        for (const BatchItem& item : plan.items) bytes += item.sampleBytes;
        output.Start(plan.items.size(), bytes);
        anyFailed = RunItems(plan.items, line, signals, output) || anyFailed;
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
