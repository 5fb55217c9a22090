#include "StereoRip.h"

#include "console/Dialogue.h"
#include "jobs/ChannelNames.h"
#include "jobs/SplitJob.h"
#include "wave/WaveDerive.h"
#include "wave/WaveWriter.h"

#include <cstdint>
#include <string_view>
#include <utility>

namespace stereorip {
namespace {

using stereotools::Answer;
using stereotools::ChannelFileNames;
using stereotools::Console;
using stereotools::ConsoleToolkit;
using stereotools::WaveFormatInfo;

constexpr int kWindowRows = 38;
constexpr std::string_view kBannerLine = "   Stereorip";
// The one question, and the column every answer and output name starts in.
constexpr int kPromptRow = 8;
constexpr std::string_view kPrompt = "   Wave file to process?";
constexpr int kAnswerColumn = 27;
constexpr std::string_view kReadingStep = "   Reading input file...";

void ShowOutputNames(Console& console, const ChannelFileNames& names) {
    for (int i = 0; i < 3; ++i) console.LineBreak();
    const int labelRow = console.CursorRow();
    console.SetColours(stereotools::kDarkGrey, stereotools::kBrightWhite);
    console.Write("   Output files will be:");
    console.LineBreak();
    console.SetColours(stereotools::kBlack, stereotools::kBrightWhite);
    console.MoveCursor(labelRow, kAnswerColumn);
    stereotools::WriteLine(console, names.left);
    // The right name starts on the row after the left name's last cell,
    // also when the left one wrapped.
    console.MoveCursor(console.CursorRow(), kAnswerColumn);
    stereotools::WriteLine(console, names.right);
    console.SetColours(stereotools::kDarkGrey, stereotools::kBrightWhite);
}

// Prints the FILE DATA panel from the cursor on.
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

// Returns the Create error the job would give the first of `names` that it
// could not write, or an empty error.
stereotools::IoError CheckOutputs(const ChannelFileNames& names) {
    if (stereotools::IoError error = stereotools::CheckWaveOutput(names.left)) return error;
    return stereotools::CheckWaveOutput(names.right);
}

}  // namespace

int RunSplitDialogue(Console& console, ConsoleToolkit& toolkit) {
    stereotools::OpenConsoleWindow(console, toolkit, "Stereorip", kWindowRows);
    stereotools::WaveAnswer answer;
    ChannelFileNames names;
    for (;;) {
        stereotools::ShowBanner(console, kBannerLine);
        answer = stereotools::AskWaveFile(console, toolkit, kPrompt, kPromptRow, kAnswerColumn, 2,
                                          stereotools::RetryPolicy::Restart);
        if (answer.status == Answer::Status::Ended) return answer.exitStatus;
        if (answer.status == Answer::Status::Refused) continue;
        // An input whose outputs cannot be written is refused like a bad
        // header, before any sample is read.
        names = stereotools::DeriveChannelFileNames(answer.input.name);
        const stereotools::IoError refusal = CheckOutputs(names);
        if (!refusal) break;
        if (const int stop = stereotools::ShowErrorBox(console, toolkit, refusal.Describe()); stop != 0) return stop;
    }

    const WaveFormatInfo& info = answer.input.info;
    const uint64_t frameCount = stereotools::CountFrames(info);
    ShowFileData(console, info, frameCount, static_cast<double>(frameCount) / static_cast<double>(info.sampleRate));
    ShowOutputNames(console, names);
    stereotools::SplitJob job({std::move(answer.input), {names.left, names.right}});
    return stereotools::RunJobPhase(console, toolkit, kReadingStep, job);
}

}  // namespace stereorip
