#pragma once

#include "Console.h"
#include "ConsoleToolkit.h"
#include "LineEditor.h"
#include "jobs/Job.h"

#include <chrono>
#include <string>
#include <string_view>

namespace stereotools {

// How AskWaveFile goes on after a refused answer.
enum class RetryPolicy { Restart, AskAgainInPlace };

inline constexpr std::string_view kFileNotFoundMessage =
    "            File not found.\\n Please enter a valid filename  ";
inline constexpr std::string_view kErrorCaption = "  ERROR";

// An answer to a prompt.
struct Answer {
    enum class Status {
        Accepted,  // `text` holds the answer exactly as typed (or the name a paste gave)
        Refused,   // under Restart: the caller starts its dialogue over
        Ended,     // input ended or a stop signal came: end with `exitStatus`
    };
    Status status = Status::Accepted;
    std::string text;
    int exitStatus = 0;
    std::size_t cells = 0;  // cells the echoed answer took on screen
    bool pasted = false;    // `text` came whole from one paste, nothing typed
};

// Sets the window up through `toolkit`, clears it in the text colour and
// gives `console` `rows` rows.
void OpenConsoleWindow(Console& console, ConsoleToolkit& toolkit, const std::string& programName, int rows);

// Clears the screen and prints the banner whose first line is `nameLine`.
// Leaves the cursor at (8, 1) in the prompt colour.
void ShowBanner(Console& console, std::string_view nameLine);

// Prints `prompt` at (row, 1) and reads an answer from (row, answerColumn),
// echoing it in the text colour with the text cursor shown. The answer is
// edited as in the shell (LineEditor): Left, Right, Home or Ctrl-A, End or
// Ctrl-E move the cursor; Backspace, Delete, Ctrl-K, Ctrl-U and Ctrl-W
// remove; characters typed or pasted go in at the cursor, up to
// kMaxAnswerCharacters; other control keys are ignored. A paste is taken as
// typed characters (its control characters dropped). Up and Down recall the
// answers given earlier on `console` (AnswerHistory), to which the answer is
// added. Tab completes the last path component before the cursor from the
// file system; a second Tab in a row lists the choices in the rows below
// until the next key; with nothing to complete it rings the bell. On an
// empty answer Tab first proposes the partner of file `partnerOf`
// (PartnerName) when that exists. Returns Accepted with the bytes after Enter
// (the cursor then at column 1 of the row after the echo's last cell, prompt
// colour current), or Ended as soon as input ends or Ctrl-D is pressed on an
// empty answer (status 1).
[[nodiscard]] Answer AskFileName(Console& console, std::string_view prompt, int row, int answerColumn,
                                 std::string_view partnerOf = {});

// An answer that names a WAV file, with the header read from it.
struct WaveAnswer {
    Answer::Status status = Answer::Status::Accepted;
    JobInput input;      // with Accepted: the name and its header
    int exitStatus = 0;  // with Ended
};

// Asks as AskFileName does until the answer names a file that CheckInput
// opens and whose header it accepts with `requiredChannels`; the file is
// closed again before anything else happens. An answer that came whole from
// one paste and names no file may instead name it as a shell word
// (ReadShellWord); the input's name is then that word. A file that does not
// open shows the file-not-found box, a refused header its problem's text.
// After the box, under Restart it returns Refused; under AskAgainInPlace it
// erases the answer and asks again on `row`. Returns Ended when input ends at
// the prompt, when a stop signal comes while the header is read (no box is
// shown then), or when one is pending after the box.
[[nodiscard]] WaveAnswer AskWaveFile(Console& console, ConsoleToolkit& toolkit, std::string_view prompt, int row,
                                     int answerColumn, int requiredChannels, RetryPolicy policy,
                                     std::string_view partnerOf = {});

// Blanks a refused answer that took `cells` cells (Answer::cells) from
// (row, answerColumn), wrapped rows included, in the prompt colour, then
// writes a line break.
void EraseAnswer(Console& console, int row, int answerColumn, std::size_t cells);

// Beeps and shows `message` in the error box; returns once it is closed:
// the status of a stop signal that closed it, or 0 when a key did.
[[nodiscard]] int ShowErrorBox(Console& console, ConsoleToolkit& toolkit, const std::string& message);

// Writes `text` at the cursor, then puts the cursor at column 1 of the row
// after its last cell: a text that filled its row to column 80 has put it
// there already, so no empty row follows it.
void WriteLine(Console& console, std::string_view text);

// Writes a progress step in the prompt colour, then a line break.
void ShowStep(Console& console, std::string_view text);

// Writes "   Done" in the text colour, then `lineBreaks` line breaks.
void ShowDone(Console& console, int lineBreaks);

// A monotonic reading taken when the job starts.
class JobClock {
public:
    // Returns a clock started now.
    [[nodiscard]] static JobClock Start();
    // Returns the seconds since the start.
    [[nodiscard]] double ElapsedSeconds() const;

private:
    std::chrono::steady_clock::time_point start_;
};

// Starts the job phase: hides the text cursor, writes four line breaks,
// starts the clock and shows `readingStep`. Returns the started clock.
[[nodiscard]] JobClock BeginJob(Console& console, std::string_view readingStep);

// Writes the job time and "   press any key to quit", waits for a key and
// returns the exit status: 0, or the Ended status when input ended instead.
[[nodiscard]] int FinishDialogue(Console& console, const JobClock& clock);

// The step of the job phase a failure came in.
enum class FailedStep { Reading, Writing };

// Ends a job that failed in `step` after its error box: leaves the rows of
// the lines it did not write empty, so that "   press any key to quit" takes
// its row of a successful run, waits for a key and returns 1 (or the Ended
// status when input ended instead).
[[nodiscard]] int FinishFailedDialogue(Console& console, FailedStep step);

// Runs `job` as the job phase shows it: BeginJob with `readingStep`, the
// samples moved, "   Done", "   Writing output files...", the outputs
// committed, "   Done" and FinishDialogue. While a step has run for over a
// second (Console::Seconds), the percentage the job reports done follows its
// text ("  42%"), and is taken off again when the step ends. A failure shows
// its error box and ends as FinishFailedDialogue; a stop returns its status
// at once. Leaves for the shell (Console::LeaveInShell) "wrote 'NAME'" for
// each output put in place and, after a failure, the box's text without its
// blanks, control characters shown as "?". Returns the exit status.
[[nodiscard]] int RunJobPhase(Console& console, ConsoleToolkit& toolkit, std::string_view readingStep, Job& job);

// Returns `value` in the dialogue's number format: a sign position (blank or
// "-"), up to 15 significant digits without trailing fraction zeros, a bare
// point or a leading "0", then one blank. 0.4 gives " .4 ".
[[nodiscard]] std::string FormatNumber(double value);

// Returns `value` rounded to `decimals` places, an exact half to the even digit.
[[nodiscard]] double RoundHalfEven(double value, int decimals);

}  // namespace stereotools
