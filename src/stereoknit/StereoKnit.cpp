#include "StereoKnit.h"

#include "console/Dialogue.h"
#include "jobs/JoinJob.h"
#include "wave/WaveWriter.h"

#include <string>
#include <string_view>
#include <utility>

namespace stereoknit {
namespace {

using stereotools::Answer;
using stereotools::Console;
using stereotools::ConsoleToolkit;
using stereotools::RetryPolicy;
using stereotools::WaveAnswer;

constexpr int kWindowRows = 28;
constexpr int kLeftRow = 8;
constexpr int kAnswerColumn = 29;
constexpr std::string_view kBannerLine = "   Stereoknit";
constexpr std::string_view kLeftPrompt = "   Left channel Wave file?";
constexpr std::string_view kRightPrompt = "   Right channel Wave file?";
constexpr std::string_view kOutputPrompt = "   Output Wave file?";
constexpr std::string_view kReadingStep = "   Reading input files...";

// The outcome of the dialogue: the join to do, or the status the program
// ends with because input ended.
struct DialogueResult {
    bool ended = false;
    int exitStatus = 0;
    stereotools::JoinRequest request;
};

// Asks for the output on `row` until the answer names a file the job could
// write: an empty answer shows the file-not-found box, a name the job would
// refuse the text the job would show for it; the answer is then erased and
// asked for again on `row`. Returns the answer, or Ended when input ends or
// a stop signal closed the box.
Answer AskOutputFile(Console& console, ConsoleToolkit& toolkit, int row) {
    for (;;) {
        Answer output = stereotools::AskFileName(console, kOutputPrompt, row, kAnswerColumn);
        if (output.status == Answer::Status::Ended) return output;
        const stereotools::IoError refusal = stereotools::CheckWaveOutput(output.text);
        if (!refusal) return output;
        if (const int stop =
                stereotools::ShowErrorBox(console, toolkit,
                                          output.text.empty() ? std::string(stereotools::kFileNotFoundMessage)
                                                              : refusal.Describe());
            stop != 0) {
            return {Answer::Status::Ended, {}, stop, 0, false};
        }
        stereotools::EraseAnswer(console, row, kAnswerColumn, output.cells);
    }
}

DialogueResult RunDialogue(Console& console, ConsoleToolkit& toolkit) {
    for (;;) {
        stereotools::ShowBanner(console, kBannerLine);
        WaveAnswer left =
            stereotools::AskWaveFile(console, toolkit, kLeftPrompt, kLeftRow, kAnswerColumn, 1, RetryPolicy::Restart);
        if (left.status == Answer::Status::Ended) return {true, left.exitStatus, {}};
        if (left.status == Answer::Status::Refused) continue;

        // The right prompt goes on the row after the left answer, which a
        // long name wraps past row 8. Tab on an empty answer proposes the
        // left file's partner.
        WaveAnswer right = stereotools::AskWaveFile(console, toolkit, kRightPrompt, console.CursorRow(), kAnswerColumn,
                                                    1, RetryPolicy::AskAgainInPlace, left.input.name);
        if (right.status == Answer::Status::Ended) return {true, right.exitStatus, {}};

        const stereotools::CompatibilityProblem problem =
            stereotools::CheckCompatibility(left.input.info, right.input.info);
        if (problem != stereotools::CompatibilityProblem::None) {
            if (const int stop =
                    stereotools::ShowErrorBox(console, toolkit, stereotools::CompatibilityProblemMessage(problem));
                stop != 0) {
                return {true, stop, {}};
            }
            continue;
        }

        console.LineBreak();
        console.LineBreak();
        Answer output = AskOutputFile(console, toolkit, console.CursorRow());
        if (output.status == Answer::Status::Ended) return {true, output.exitStatus, {}};
        return {false, 0, {{std::move(left.input), std::move(right.input)}, std::move(output.text)}};
    }
}

}  // namespace

int RunJoinDialogue(Console& console, ConsoleToolkit& toolkit) {
    stereotools::OpenConsoleWindow(console, toolkit, "Stereoknit", kWindowRows);
    DialogueResult dialogue = RunDialogue(console, toolkit);
    if (dialogue.ended) return dialogue.exitStatus;
    stereotools::JoinJob job(dialogue.request);
    return stereotools::RunJobPhase(console, toolkit, kReadingStep, job);
}

}  // namespace stereoknit
