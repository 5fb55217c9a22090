#include "StereoRip.h"

#include "channels/SplitChannels.h"
#include "console/Dialogue.h"
#include "console/Utf8.h"
#include "wave/FileIo.h"
#include "jobs/SampleBlock.h"
#include "wave/WaveDerive.h"
#include "wave/WaveReader.h"
#include "wave/WaveWriter.h"

#include <algorithm>
#include <string_view>

namespace stereorip {
namespace {

using stereotools::Answer;
using stereotools::CountFrames;
using stereotools::SplitChannels;
using stereotools::Console;
using stereotools::ConsoleToolkit;
using stereotools::IoError;
using stereotools::WaveFormatInfo;

constexpr int kWindowRows = 38;
constexpr int kPromptRow = 8;
constexpr int kAnswerColumn = 27;
constexpr std::string_view kPrompt = "   Wave file to process?";
constexpr std::string_view kReadingStep = "   Reading input file...";
constexpr std::string_view kWritingStep = "   Writing output files...";

struct AcceptedInput {
    std::string name;
    WaveFormatInfo info;
};

// The outcome of the dialogue before the job: an input, or the status the
// program ends with because input ended.
struct DialogueResult {
    bool ended = false;
    int exitStatus = 0;
    AcceptedInput input;
};

DialogueResult AskForInput(Console& console, ConsoleToolkit& toolkit) {
    for (;;) {
        stereotools::ShowBanner(console, "   Stereorip");
        Answer answer = stereotools::AskExistingFile(console, toolkit, kPrompt, kPromptRow, kAnswerColumn,
                                                 stereotools::RetryPolicy::Restart);
        if (answer.status == Answer::Status::Ended) return {true, answer.exitStatus, {}};
        if (answer.status == Answer::Status::Refused) continue;

        stereotools::HeaderResult header = stereotools::ReadWaveHeader(answer.text, 2);
        if (!header) {
            stereotools::ShowErrorBox(console, toolkit, stereotools::HeaderProblemMessage(header.problem, 2));
            continue;
        }
        return {false, 0, {std::move(answer.text), header.info}};
    }
}

void ShowOutputNames(Console& console, const ChannelFileNames& names) {
    for (int i = 0; i < 3; ++i) console.LineBreak();
    const int labelRow = console.CursorRow();
    console.SetColours(stereotools::kDarkGrey, stereotools::kBrightWhite);
    console.Write("   Output files will be:");
    console.LineBreak();
    console.SetColours(stereotools::kBlack, stereotools::kBrightWhite);
    console.MoveCursor(labelRow, kAnswerColumn);
    console.Write(names.left);
    console.LineBreak();
    // The right name follows the left one, also when the left one wrapped.
    console.MoveCursor(console.CursorRow(), kAnswerColumn);
    console.Write(names.right);
    console.LineBreak();
    console.SetColours(stereotools::kDarkGrey, stereotools::kBrightWhite);
}

// The two outputs of a split and the buffers the job moves blocks through.
struct SplitJob {
    const AcceptedInput& input;
    const ChannelFileNames& names;
    uint64_t frameCount = 0;
    unsigned sampleWidth = 0;
    stereotools::InputFile source;
    stereotools::WaveOutput left;
    stereotools::WaveOutput right;
};

// Result of one job phase: a failure to show, or the stop status.
struct PhaseResult {
    IoError error;
    int stopStatus = 0;
};

PhaseResult ReadAndSplit(Console& console, SplitJob& job) {
    const WaveFormatInfo& info = job.input.info;
    const unsigned width = job.sampleWidth;
    const uint64_t channelBytes = job.frameCount * width;

    stereotools::InputOpenResult opened = stereotools::OpenInputFile(job.input.name);
    if (!opened) return {opened.error, 0};
    job.source = std::move(opened.file);

    WaveFormatInfo mono = stereotools::DeriveMonoFormat(info);
    // The header states exactly the samples each output holds, also for a
    // data size that is not a whole number of frames.
    mono.dataSize = channelBytes;

    for (auto [name, output] : {std::pair{&job.names.left, &job.left}, std::pair{&job.names.right, &job.right}}) {
        stereotools::OutputOpenResult created = stereotools::OpenWaveOutput(*name, stereotools::kWaveHeaderBytes + channelBytes);
        if (!created) return {created.error, 0};
        *output = std::move(created.output);
        if (IoError error = stereotools::WriteWaveHeader(*output, mono)) return {error, 0};
    }

    const std::size_t blockFrames = std::max<std::size_t>(1, stereotools::kSampleBlockBytes / (2 * width));
    stereotools::SampleBlock interleaved(blockFrames * 2 * width);
    stereotools::SampleBlock leftBlock(blockFrames * width);
    stereotools::SampleBlock rightBlock(blockFrames * width);
    if (!interleaved.Allocated() || !leftBlock.Allocated() || !rightBlock.Allocated())
        return {{IoError::Operation::Memory, job.input.name, ENOMEM, {}}, 0};

    for (uint64_t frame = 0; frame < job.frameCount;) {
        if (int stop = console.PendingStop()) return {{}, stop};
        const std::size_t frames = static_cast<std::size_t>(std::min<uint64_t>(blockFrames, job.frameCount - frame));
        const std::size_t bytes = frames * width;
        if (IoError error = stereotools::ReadSampleRange(job.source, info.dataOffset, info.dataSize, frame * 2 * width,
                                                     interleaved.First(2 * bytes)))
            return {error, 0};
        SplitChannels(interleaved.Data(), frames, width, leftBlock.Data(), rightBlock.Data());
        if (IoError error = stereotools::WriteWaveSamples(job.left, leftBlock.First(bytes))) return {error, 0};
        if (IoError error = stereotools::WriteWaveSamples(job.right, rightBlock.First(bytes))) return {error, 0};
        frame += frames;
    }
    job.source.Close();
    return {};
}

PhaseResult CommitOutputs(Console& console, SplitJob& job) {
    if (int stop = console.PendingStop()) return {{}, stop};
    if (IoError error = stereotools::CommitWaveOutput(job.left)) return {error, 0};
    if (IoError error = stereotools::CommitWaveOutput(job.right)) return {error, 0};
    return {};
}

// Shows `error` after removing what the job left unfinished (an output
// committed before stays), then ends the dialogue as failed.
int FailJob(Console& console, ConsoleToolkit& toolkit, SplitJob& job, const IoError& error) {
    job.left.Discard();
    job.right.Discard();
    job.source.Close();
    stereotools::ShowErrorBox(console, toolkit, error.Describe());
    return stereotools::FinishFailedDialogue(console);
}

int RunJob(Console& console, ConsoleToolkit& toolkit, const AcceptedInput& input, const ChannelFileNames& names) {
    SplitJob job{input, names, CountFrames(input.info), input.info.BytesPerSample(), {}, {}, {}};
    const stereotools::JobClock clock = stereotools::BeginJob(console, kReadingStep);

    PhaseResult phase = ReadAndSplit(console, job);
    if (phase.stopStatus) return phase.stopStatus;
    if (phase.error) return FailJob(console, toolkit, job, phase.error);
    stereotools::ShowDone(console, 2);

    stereotools::ShowStep(console, kWritingStep);
    phase = CommitOutputs(console, job);
    if (phase.stopStatus) return phase.stopStatus;
    if (phase.error) return FailJob(console, toolkit, job, phase.error);
    stereotools::ShowDone(console, 4);
    return stereotools::FinishDialogue(console, clock);
}

}  // namespace

ChannelFileNames DeriveChannelFileNames(const std::string& inputFileName) {
    const std::vector<stereotools::Utf8Character> characters = stereotools::SplitUtf8(inputFileName);
    const std::string stem =
        characters.size() < 4 ? inputFileName : inputFileName.substr(0, characters[characters.size() - 4].offset);
    return {stem + " left channel.wav", stem + " right channel.wav"};
}

void ShowFileData(Console& console, const WaveFormatInfo& info, uint64_t frameCount, double durationSeconds) {
    console.LineBreak();
    console.LineBreak();
    console.SetColours(stereotools::kBlack, stereotools::kBrightWhite);
    console.Write("                          FILE DATA");
    console.LineBreak();
    console.LineBreak();

    struct Line {
        std::string_view label;
        double value;
        std::string_view unit;
    };
    const Line lines[] = {
        {"                          Channels    ", static_cast<double>(info.channels), ""},
        {"                          Sample rate ", static_cast<double>(info.sampleRate), "Hz"},
        {"                          Resolution  ", static_cast<double>(info.bitsPerSample), "bits"},
        {"                          Length      ", static_cast<double>(frameCount), "samples"},
        {"                          Duration    ", stereotools::RoundHalfEven(durationSeconds, 2), "seconds"},
    };
    console.SetColours(stereotools::kDarkGrey, stereotools::kBrightWhite);
    for (const Line& line : lines) {
        console.Write(line.label);
        console.Write(stereotools::FormatNumber(line.value));
        console.Write(line.unit);
        console.LineBreak();
    }
}

int RunStereoRip(Console& console, ConsoleToolkit& toolkit) {
    stereotools::OpenConsoleWindow(console, toolkit, "Stereorip", kWindowRows);
    DialogueResult dialogue = AskForInput(console, toolkit);
    if (dialogue.ended) return dialogue.exitStatus;

    const AcceptedInput& input = dialogue.input;
    const uint64_t frameCount = CountFrames(input.info);
    ShowFileData(console, input.info, frameCount,
                 static_cast<double>(frameCount) / static_cast<double>(input.info.sampleRate));
    const ChannelFileNames names = DeriveChannelFileNames(input.name);
    ShowOutputNames(console, names);
    return RunJob(console, toolkit, input, names);
}

}  // namespace stereorip
