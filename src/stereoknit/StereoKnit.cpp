#include "StereoKnit.h"

#include "channels/InterleaveChannels.h"
#include "console/Dialogue.h"
#include "wave/FileIo.h"
#include "jobs/SampleBlock.h"
#include "wave/WaveDerive.h"
#include "wave/WaveReader.h"
#include "wave/WaveWriter.h"

#include <algorithm>
#include <string_view>

#include <sys/stat.h>

namespace stereoknit {
namespace {

using stereotools::Answer;
using stereotools::Console;
using stereotools::ConsoleToolkit;
using stereotools::InterleaveChannels;
using stereotools::IoError;
using stereotools::WaveFormatInfo;

constexpr int kWindowRows = 28;
constexpr int kLeftRow = 8;
constexpr int kAnswerColumn = 29;
constexpr std::string_view kLeftPrompt = "   Left channel Wave file?";
constexpr std::string_view kRightPrompt = "   Right channel Wave file?";
constexpr std::string_view kOutputPrompt = "   Output Wave file?";
constexpr std::string_view kReadingStep = "   Reading input files...";
constexpr std::string_view kWritingStep = "   Writing output files...";
// The largest RIFF size a WAV header can state.
constexpr uint64_t kMaxRiffSize = 0xFFFFFFFFu;

struct AcceptedInput {
    std::string name;
    WaveFormatInfo info;
};

struct JobRequest {
    AcceptedInput left;
    AcceptedInput right;
    std::string outputName;
};

// The outcome of the dialogue: the job to do, or the status the program
// ends with because input ended.
struct DialogueResult {
    bool ended = false;
    int exitStatus = 0;
    JobRequest request;
};

enum class Stage { Restart, Accepted, Ended };

struct InputResult {
    Stage stage = Stage::Restart;
    int exitStatus = 0;
    AcceptedInput input;
};

InputResult AskLeft(Console& console, ConsoleToolkit& toolkit) {
    Answer answer = stereotools::AskExistingFile(console, toolkit, kLeftPrompt, kLeftRow, kAnswerColumn,
                                             stereotools::RetryPolicy::Restart);
    if (answer.status == Answer::Status::Ended) return {Stage::Ended, answer.exitStatus, {}};
    if (answer.status == Answer::Status::Refused) return {};
    stereotools::HeaderResult header = stereotools::ReadWaveHeader(answer.text, 1);
    if (!header) {
        stereotools::ShowErrorBox(console, toolkit, stereotools::HeaderProblemMessage(header.problem, 1));
        return {};
    }
    return {Stage::Accepted, 0, {std::move(answer.text), header.info}};
}

// Asks on `row` until a mono WAV file is named; Tab on an empty answer
// proposes the partner of `leftName`.
InputResult AskRight(Console& console, ConsoleToolkit& toolkit, int row, const std::string& leftName) {
    for (;;) {
        Answer answer = stereotools::AskExistingFile(console, toolkit, kRightPrompt, row, kAnswerColumn,
                                                 stereotools::RetryPolicy::AskAgainInPlace, leftName);
        if (answer.status == Answer::Status::Ended) return {Stage::Ended, answer.exitStatus, {}};
        stereotools::HeaderResult header = stereotools::ReadWaveHeader(answer.text, 1);
        if (header) return {Stage::Accepted, 0, {std::move(answer.text), header.info}};
        stereotools::ShowErrorBox(console, toolkit, stereotools::HeaderProblemMessage(header.problem, 1));
        stereotools::EraseAnswer(console, row, kAnswerColumn, answer.cells);
    }
}

DialogueResult RunDialogue(Console& console, ConsoleToolkit& toolkit) {
    for (;;) {
        stereotools::ShowBanner(console, "   Stereoknit");
        InputResult left = AskLeft(console, toolkit);
        if (left.stage == Stage::Ended) return {true, left.exitStatus, {}};
        if (left.stage == Stage::Restart) continue;

        // The right prompt goes on the row below the left answer, which a long
        // name wraps past row 8.
        InputResult right = AskRight(console, toolkit, console.CursorRow(), left.input.name);
        if (right.stage == Stage::Ended) return {true, right.exitStatus, {}};

        const std::string problem = CheckCompatibility(left.input.info, right.input.info);
        if (!problem.empty()) {
            stereotools::ShowErrorBox(console, toolkit, problem);
            continue;
        }

        console.LineBreak();
        console.LineBreak();
        Answer output = stereotools::AskFileName(console, kOutputPrompt, console.CursorRow(), kAnswerColumn);
        if (output.status == Answer::Status::Ended) return {true, output.exitStatus, {}};
        return {false, 0, {std::move(left.input), std::move(right.input), std::move(output.text)}};
    }
}

// The open inputs and output of a join. `right` points at `leftFile` when
// both names are the same file: one open suffices, and a second lock on the
// same file would refuse it.
struct JoinJob {
    const JobRequest& request;
    stereotools::InputFile leftFile;
    stereotools::InputFile rightFile;
    const stereotools::InputFile* right = nullptr;
    stereotools::WaveOutput output;
};

struct PhaseResult {
    IoError error;
    int stopStatus = 0;
};

bool SameFile(const stereotools::InputFile& file, const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && info.st_dev == file.Device() && info.st_ino == file.Inode();
}

PhaseResult OpenInputs(JoinJob& job) {
    stereotools::InputOpenResult left = stereotools::OpenInputFile(job.request.left.name);
    if (!left) return {left.error, 0};
    job.leftFile = std::move(left.file);
    if (SameFile(job.leftFile, job.request.right.name)) {
        job.right = &job.leftFile;
        return {};
    }
    stereotools::InputOpenResult right = stereotools::OpenInputFile(job.request.right.name);
    if (!right) return {right.error, 0};
    job.rightFile = std::move(right.file);
    job.right = &job.rightFile;
    return {};
}

PhaseResult ReadAndInterleave(Console& console, JoinJob& job) {
    const WaveFormatInfo& left = job.request.left.info;
    const WaveFormatInfo& right = job.request.right.info;
    const unsigned width = right.BytesPerSample();
    const uint64_t longer = std::max(left.dataSize, right.dataSize);
    const uint64_t outputBytes = 2 * longer;
    const uint64_t frameCount = (longer + width - 1) / width;

    const std::size_t blockFrames = std::max<std::size_t>(1, stereotools::kSampleBlockBytes / (2 * width));
    stereotools::SampleBlock leftBlock(blockFrames * width);
    stereotools::SampleBlock rightBlock(blockFrames * width);
    stereotools::SampleBlock interleaved(blockFrames * 2 * width);
    if (!leftBlock.Allocated() || !rightBlock.Allocated() || !interleaved.Allocated())
        return {{IoError::Operation::Memory, job.request.outputName, ENOMEM, {}}, 0};

    if (PhaseResult opened = OpenInputs(job); opened.error) return opened;
    stereotools::OutputOpenResult created =
        stereotools::OpenWaveOutput(job.request.outputName, stereotools::kWaveHeaderBytes + outputBytes);
    if (!created) return {created.error, 0};
    job.output = std::move(created.output);
    if (IoError error = stereotools::WriteWaveHeader(job.output, stereotools::DeriveStereoFormat(left, right)))
        return {error, 0};

    uint64_t written = 0;
    for (uint64_t frame = 0; frame < frameCount;) {
        if (int stop = console.PendingStop()) return {{}, stop};
        const std::size_t frames = static_cast<std::size_t>(std::min<uint64_t>(blockFrames, frameCount - frame));
        const std::size_t bytes = frames * width;
        if (IoError error = stereotools::ReadSampleRange(job.leftFile, left.dataOffset, left.dataSize, frame * width,
                                                     leftBlock.First(bytes)))
            return {error, 0};
        if (IoError error = stereotools::ReadSampleRange(*job.right, right.dataOffset, right.dataSize, frame * width,
                                                     rightBlock.First(bytes)))
            return {error, 0};
        InterleaveChannels(leftBlock.Data(), rightBlock.Data(), frames, width, interleaved.Data());
        // A data size that is not a whole number of samples cuts the last frame short.
        const std::size_t toWrite = static_cast<std::size_t>(std::min<uint64_t>(2 * bytes, outputBytes - written));
        if (IoError error = stereotools::WriteWaveSamples(job.output, interleaved.First(toWrite))) return {error, 0};
        written += toWrite;
        frame += frames;
    }
    job.leftFile.Close();
    job.rightFile.Close();
    return {};
}

// Shows `error` after removing what the job left unfinished, then ends the
// dialogue as failed.
int FailJob(Console& console, ConsoleToolkit& toolkit, JoinJob& job, const IoError& error) {
    job.output.Discard();
    job.leftFile.Close();
    job.rightFile.Close();
    stereotools::ShowErrorBox(console, toolkit, error.Describe());
    return stereotools::FinishFailedDialogue(console);
}

int RunJob(Console& console, ConsoleToolkit& toolkit, const JobRequest& request) {
    JoinJob job{request, {}, {}, nullptr, {}};
    const stereotools::JobClock clock = stereotools::BeginJob(console, kReadingStep);

    PhaseResult phase = ReadAndInterleave(console, job);
    if (phase.stopStatus) return phase.stopStatus;
    if (phase.error) return FailJob(console, toolkit, job, phase.error);
    stereotools::ShowDone(console, 2);

    stereotools::ShowStep(console, kWritingStep);
    if (int stop = console.PendingStop()) return stop;
    if (IoError error = stereotools::CommitWaveOutput(job.output)) return FailJob(console, toolkit, job, error);
    stereotools::ShowDone(console, 4);
    return stereotools::FinishDialogue(console, clock);
}

}  // namespace

std::string CheckCompatibility(const WaveFormatInfo& left, const WaveFormatInfo& right) {
    if (left.sampleRate != right.sampleRate) return "These two files have incompatible sample rates  ";
    if (left.bitsPerSample != right.bitsPerSample) return "These two files have incompatible bit depths  ";
    if (left.formatTag != right.formatTag) return "These two files have incompatible audio formats  ";
    if (2 * std::max(left.dataSize, right.dataSize) + 36 > kMaxRiffSize)
        return "These two files are too long to join into one Wave file  ";
    return {};
}

int RunStereoKnit(Console& console, ConsoleToolkit& toolkit) {
    stereotools::OpenConsoleWindow(console, toolkit, "Stereoknit", kWindowRows);
    DialogueResult dialogue = RunDialogue(console, toolkit);
    if (dialogue.ended) return dialogue.exitStatus;
    return RunJob(console, toolkit, dialogue.request);
}

}  // namespace stereoknit
