#include "Dialogue.h"

#include "LineEditor.h"
#include "NameCompletion.h"
#include "jobs/ChannelNames.h"
#include "system/Text.h"
#include "system/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace stereotools {
namespace {

constexpr std::string_view kCopyrightLine = "   Copyright (C) 2026 The Stereorip and Stereoknit authors";
constexpr std::string_view kHelpLine = "   Help: README.md and the manual pages that come with the programs";
constexpr std::string_view kDoneText = "   Done";
constexpr std::string_view kJobTimeText = "   Job completed in";
constexpr std::string_view kSecondsText = "seconds";
constexpr std::string_view kPressAnyKeyText = "   press any key to quit";
constexpr std::string_view kWritingStep = "   Writing output files...";
// What the shell is left after each output a job put in place.
constexpr std::string_view kWroteText = "wrote ";
// A step's percentage shows once it has run for this long.
constexpr double kProgressDelaySeconds = 1.0;
constexpr int kFirstPromptRow = 8;
// The status a program ends with when its input ends, Ctrl-D included.
constexpr int kEndOfInputStatus = 1;
// Line breaks after each "   Done" of the job phase, and the empty rows
// before the reading step.
constexpr int kBreaksAfterReadingDone = 2;
constexpr int kBreaksAfterWritingDone = 4;
constexpr int kBreaksBeforeJob = 4;

// The values OpenConsoleWindow hands the toolkit. What the unnamed ones
// select is the toolkit's own business; the dialogue passes them unchanged.
constexpr std::pair<int, int> kToolBarArguments{0, 5};
constexpr int kApplicationIcon = 32512;  // IDI_APPLICATION
constexpr int kRestoreItem = 0xF120;     // SC_RESTORE
constexpr int kSizeItem = 0xF000;        // SC_SIZE
constexpr int kMaximizeItem = 0xF030;    // SC_MAXIMIZE
// The window menu entries removed, in this order.
constexpr int kRemovedMenuItems[] = {kRestoreItem, 0, kSizeItem, -2, -1, kMaximizeItem};
constexpr std::pair<int, int> kWindowPosition{32767, 32767};

void UseTextColour(Console& console) { console.SetColours(kBlack, kBrightWhite); }
void UsePromptColour(Console& console) { console.SetColours(kDarkGrey, kBrightWhite); }

// Ends the line of text just written: puts the cursor at column 1 of the row
// after its last cell. Writing into column 80 has already put the cursor at
// column 1 of the next row, so only text that ended earlier needs a break;
// no text at all ends the cursor's row.
void EndLine(Console& console, bool wroteText) {
    if (!wroteText || console.CursorColumn() != 1) console.LineBreak();
}

bool IsRegularFile(const std::string& name) {
    struct stat info {};
    return !name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& name) {
    struct stat info {};
    return ::stat(name.empty() ? "." : name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The state of one answer being read.
struct AnswerReading {
    Console& console;
    std::string_view partnerOf;  // with Tab on an empty answer, propose this file's partner
    LineEditor editor;
    AnswerEcho echo;
    HistoryWalk history;
    bool pasted = false;  // the text came whole from one paste, nothing typed
    bool lastKeyWasTab = false;
    bool overlayShown = false;

    // Inserts `text` at the cursor as typed characters. Returns whether any was taken.
    bool Type(std::string_view text) {
        if (editor.Insert(ToAnswerCharacters(console, text)) == 0) return false;
        pasted = false;
        echo.Show(editor);
        return true;
    }
    // Shows an edit that returned `changed`; a changed text is no paste any more.
    void Edited(bool changed) {
        if (changed) pasted = false;
        echo.Show(editor);
    }
    // Shows the cursor where the editor has it.
    void Moved() { echo.Show(editor); }
    // Shows `entry` in place of the text.
    void Recall(const std::optional<HistoryEntry>& entry) {
        if (!entry) return;
        editor.Replace(ToAnswerCharacters(console, entry->text));
        pasted = entry->pasted;
        echo.Show(editor);
    }
};

// Lists `choices` in the rows below the answer. Returns false when no row is
// left below it.
bool ListChoices(AnswerReading& reading, const std::vector<std::string>& choices) {
    Console& console = reading.console;
    const int firstRow = reading.echo.EndRow() + 1;
    const int rowsLeft = console.Rows() - firstRow + 1;
    const std::vector<std::string> lines = LayOutChoices(choices, kWindowColumns, 3, rowsLeft);
    if (lines.empty()) return false;
    console.ShowOverlay(firstRow, lines, kDarkGrey, kBrightWhite);
    reading.overlayShown = true;
    return true;
}

// Tab: proposes the partner file on an empty answer, else completes the
// last path component before the cursor as a shell does. Whatever cannot be
// done rings the bell.
void CompleteAnswer(AnswerReading& reading, bool secondTab) {
    Console& console = reading.console;
    if (reading.editor.Empty() && !reading.partnerOf.empty()) {
        const std::string partner = PartnerName(reading.partnerOf);
        if (IsRegularFile(partner) && reading.Type(partner)) return;
    }
    NameParts parts = SplitLastComponent(reading.editor.TextBeforeCursor());
    // A "~/" that names no folder here is the home folder, as in the shell.
    if (!IsFolder(parts.folder)) {
        if (std::optional<std::string> home = InHomeFolder(parts.folder, std::getenv("HOME"))) parts.folder = *home;
    }
    const Completion completion = CompleteName(parts.last, ListFolder(parts.folder));
    if (completion.outcome == Completion::Outcome::NoMatch) {
        console.Beep();
        return;
    }
    if (!completion.addition.empty() && reading.Type(completion.addition)) return;
    if (completion.outcome == Completion::Outcome::Several && secondTab && ListChoices(reading, completion.choices))
        return;
    console.Beep();
}

// Returns the answer of input that ended with `exitStatus`.
Answer EndedAnswer(int exitStatus) { return {Answer::Status::Ended, {}, exitStatus, 0, false}; }

// Reads keys up to Enter, editing and echoing the answer from the cursor's
// cell. Returns the answer (the cursor after its last cell), or Ended as
// soon as input ends.
Answer ReadAnswer(Console& console, std::string_view partnerOf) {
    AnswerReading reading{console, partnerOf, LineEditor(),
                          AnswerEcho(console, console.CursorRow(), console.CursorColumn()),
                          HistoryWalk(console.AnswerHistory())};
    LineEditor& editor = reading.editor;
    for (;;) {
        const Key key = console.ReadKey();
        // A listing stays only until the next key.
        if (reading.overlayShown) {
            console.HideOverlay();
            reading.overlayShown = false;
        }
        const bool secondTab = reading.lastKeyWasTab;
        reading.lastKeyWasTab = key.kind == Key::Kind::Tab;
        switch (key.kind) {
        case Key::Kind::Ended: return EndedAnswer(key.exitStatus);
        case Key::Kind::Enter:
            reading.echo.MoveToEnd();
            return {Answer::Status::Accepted, editor.Text(), 0, reading.echo.Cells(), reading.pasted};
        case Key::Kind::Character:
            if (IsPrintable(key.character)) reading.Type(key.bytes.empty() ? EncodeUtf8(key.character) : key.bytes);
            break;
        case Key::Kind::Paste: {
            const bool wasEmpty = editor.Empty();
            if (reading.Type(key.bytes) || wasEmpty) reading.pasted = wasEmpty;
            break;
        }
        case Key::Kind::Tab: CompleteAnswer(reading, secondTab); break;
        case Key::Kind::Backspace: reading.Edited(editor.DeleteBefore()); break;
        case Key::Kind::Delete: reading.Edited(editor.DeleteAt()); break;
        case Key::Kind::CtrlD:
            // As in the shell: the end of input on an empty line, else Delete.
            if (editor.Empty()) return EndedAnswer(kEndOfInputStatus);
            reading.Edited(editor.DeleteAt());
            break;
        case Key::Kind::CtrlK: reading.Edited(editor.DeleteToEnd()); break;
        case Key::Kind::CtrlU: reading.Edited(editor.DeleteToStart()); break;
        case Key::Kind::CtrlW: reading.Edited(editor.DeleteWordBefore()); break;
        case Key::Kind::Left:
            editor.MoveLeft();
            reading.Moved();
            break;
        case Key::Kind::Right:
            editor.MoveRight();
            reading.Moved();
            break;
        case Key::Kind::Home:
        case Key::Kind::CtrlA:
            editor.MoveToStart();
            reading.Moved();
            break;
        case Key::Kind::End:
        case Key::Kind::CtrlE:
            editor.MoveToEnd();
            reading.Moved();
            break;
        case Key::Kind::Up: reading.Recall(reading.history.Older({editor.Text(), reading.pasted})); break;
        case Key::Kind::Down: reading.Recall(reading.history.Newer()); break;
        case Key::Kind::Escape:
        case Key::Kind::Other: break;
        }
    }
}

// Reads the header of the file `answer` names with `requiredChannels`,
// asking `stopRequested` as it walks the chunks.
InputCheck CheckAnswer(const Answer& answer, int requiredChannels, const StopCheck& stopRequested) {
    InputCheck check = CheckInput(answer.text, requiredChannels, stopRequested);
    if (!check.error) return check;
    // A name that opens as typed keeps its meaning; else "~/" is the home
    // folder, as in the shell.
    if (const std::optional<std::string> home = InHomeFolder(answer.text, std::getenv("HOME"))) {
        InputCheck fromHome = CheckInput(*home, requiredChannels, stopRequested);
        if (!fromHome.error) return fromHome;
    }
    if (!answer.pasted) return check;
    // A dropped file's path comes quoted as a shell word. The exact text
    // was tried first, so no name that opens as typed changes meaning.
    if (const std::optional<std::string> word = ReadShellWord(answer.text)) {
        InputCheck fromWord = CheckInput(*word, requiredChannels, stopRequested);
        if (!fromWord.error) return fromWord;
    }
    return check;
}

// Shows "press any key" in the prompt colour and waits for a key. Returns
// `status`, or the Ended status when input ended instead.
int WaitForFinalKey(Console& console, int status) {
    UsePromptColour(console);
    console.Write(kPressAnyKeyText);
    console.LineBreak();
    console.Flush();
    const Key key = console.ReadKey();
    return key.kind == Key::Kind::Ended ? key.exitStatus : status;
}

// Hands a job the console's stop signals and shows how far it is: once a
// step has run for longer than kProgressDelaySeconds, the percentage done
// follows the step's text on its row.
class ConsoleJobMonitor final : public JobMonitor {
public:
    explicit ConsoleJobMonitor(Console& console) : console_(console) {}
    [[nodiscard]] int PendingStop() const override { return console_.PendingStop(); }

    // Takes `text`, just shown by ShowStep, as the step that progress follows.
    void StepShown(std::string_view text) {
        // ShowStep ended with a line break, which may have scrolled: the step
        // is on the row above the cursor either way.
        stepRow_ = console_.CursorRow() - 1;
        stepColumn_ = static_cast<int>(text.size()) + 1;
        stepStart_ = console_.Seconds();
        shownPercent_ = kNoPercent;
    }

    void Progress(uint64_t done, uint64_t total) override {
        if (stepRow_ < 1 || console_.Seconds() - stepStart_ <= kProgressDelaySeconds) return;
        const long double fraction = total == 0 ? 1.0L : static_cast<long double>(std::min(done, total)) / total;
        const int percent = static_cast<int>(fraction * 100);
        if (percent == shownPercent_) return;
        shownPercent_ = percent;
        char text[kPercentCells + 1];
        std::snprintf(text, sizeof text, "%4d%%", percent);
        WriteAtStep(text);
    }

    // Takes the percentage off the step's row, which then holds exactly the step text.
    void EndStep() {
        if (shownPercent_ == kNoPercent) return;
        WriteAtStep(std::string(kPercentCells, ' '));
        shownPercent_ = kNoPercent;
    }

private:
    static constexpr int kNoPercent = -1;
    static constexpr std::size_t kPercentCells = 5;  // "  42%", " 100%": a blank always parts it from the step

    // Writes `text` after the step's text in the prompt colour, as the step
    // is written, and puts the cursor back.
    void WriteAtStep(std::string_view text) {
        const int row = console_.CursorRow();
        const int column = console_.CursorColumn();
        console_.MoveCursor(stepRow_, stepColumn_);
        UsePromptColour(console_);
        console_.Write(text);
        console_.MoveCursor(row, column);
        console_.Flush();
    }

    Console& console_;
    int stepRow_ = 0;
    int stepColumn_ = 1;
    double stepStart_ = 0;
    int shownPercent_ = kNoPercent;
};

// Returns `text` with its control characters as "?", so that printing it
// cannot act on the terminal.
std::string ShellSafe(std::string_view text) {
    std::string safe;
    for (const Utf8Character& character : SplitUtf8(text)) {
        if (IsPrintable(character.codePoint))
            safe += text.substr(character.offset, character.length);
        else
            safe += '?';
    }
    return safe;
}

// Leaves for the shell what the job did: a line per output it put in place,
// then `error`, when there is one.
void LeaveJobRecord(Console& console, const Job& job, const IoError& error) {
    for (const std::string& name : job.CommittedOutputs())
        console.LeaveInShell(ShellStream::Output, std::string(kWroteText) + "'" + ShellSafe(name) + "'");
    if (error) console.LeaveInShell(ShellStream::Error, ShellSafe(TrimBlanks(error.Describe())));
}

// Ends the job phase after a phase of the job that did not succeed: returns
// a stop's status at once, or shows the error and ends the dialogue as after
// a failure in `step`.
int EndUnsuccessfulJob(Console& console, ConsoleToolkit& toolkit, const Job& job, const JobResult& result,
                       FailedStep step) {
    LeaveJobRecord(console, job, result.error);
    if (result.stopStatus != 0) return result.stopStatus;
    // The dialogue ends after this box either way; a stop that closed it
    // is heard by the wait for the last key.
    (void)ShowErrorBox(console, toolkit, result.error.Describe());
    return FinishFailedDialogue(console, step);
}

}  // namespace

void OpenConsoleWindow(Console& console, ConsoleToolkit& toolkit, const std::string& programName, int rows) {
    int32_t toolFlags = 0;
    toolkit.InitConsoleTools(nullptr, 0, 0, 0, &toolFlags, 0);
    toolkit.ConsoleToolBar(kToolBarArguments.first, kToolBarArguments.second);
    toolkit.ConsoleTitle(programName);
    toolkit.ConsoleIcon(kApplicationIcon);
    for (const int item : kRemovedMenuItems) toolkit.DeleteWindowMenuItem(item);
    UseTextColour(console);
    console.Clear();
    toolkit.Console80x(rows);
    console.SetRows(rows);
    toolkit.ConsoleMove(kWindowPosition.first, kWindowPosition.second);
}

void ShowBanner(Console& console, std::string_view nameLine) {
    console.Clear();
    UseTextColour(console);
    console.LineBreak();
    for (const std::string_view line : {nameLine, kCopyrightLine, kHelpLine}) {
        console.Write(line);
        console.LineBreak();
    }
    console.MoveCursor(kFirstPromptRow, 1);
    UsePromptColour(console);
}

Answer AskFileName(Console& console, std::string_view prompt, int row, int answerColumn, std::string_view partnerOf) {
    console.MoveCursor(row, 1);
    console.Write(prompt);
    // No line break after the prompt: the cursor moves to the answer at once,
    // and on the last row a line break would scroll the prompt off its answer.
    UseTextColour(console);
    console.MoveCursor(row, answerColumn);
    const bool cursorWasVisible = console.SetCursorVisible(true);
    console.SetPasteMarking(true);
    console.Flush();
    Answer answer = ReadAnswer(console, partnerOf);
    console.SetPasteMarking(false);
    if (answer.status == Answer::Status::Accepted) AddToHistory(console.AnswerHistory(), {answer.text, answer.pasted});
    if (answer.status == Answer::Status::Accepted) EndLine(console, !answer.text.empty());
    UsePromptColour(console);
    console.SetCursorVisible(cursorWasVisible);
    return answer;
}

WaveAnswer AskWaveFile(Console& console, ConsoleToolkit& toolkit, std::string_view prompt, int row, int answerColumn,
                       int requiredChannels, RetryPolicy policy, std::string_view partnerOf) {
    for (;;) {
        const Answer answer = AskFileName(console, prompt, row, answerColumn, partnerOf);
        if (answer.status == Answer::Status::Ended) return {Answer::Status::Ended, {}, answer.exitStatus};
        // The file is open only inside CheckAnswer: none stays open across
        // the box below or a later question, and the job opens it again.
        // A hostile header can take long to walk, so Ctrl-C is heard there too.
        const InputCheck check =
            CheckAnswer(answer, requiredChannels, [&console] { return console.PendingStop() != 0; });
        if (check) return {Answer::Status::Accepted, check.input, 0};
        if (check.problem == WaveHeaderProblem::Stopped) return {Answer::Status::Ended, {}, console.PendingStop()};
        // A stop that closed the box ends the dialogue here rather than after a restart.
        if (const int stop = ShowErrorBox(console, toolkit,
                                          check.error ? std::string(kFileNotFoundMessage)
                                                      : HeaderProblemMessage(check.problem, requiredChannels));
            stop != 0) {
            return {Answer::Status::Ended, {}, stop};
        }
        if (policy == RetryPolicy::Restart) return {Answer::Status::Refused, {}, 0};
        EraseAnswer(console, row, answerColumn, answer.cells);
    }
}

void EraseAnswer(Console& console, int row, int answerColumn, std::size_t cells) {
    UsePromptColour(console);
    console.MoveCursor(row, answerColumn);
    console.Write(std::string(cells + 1, ' '));
    console.LineBreak();
}

int ShowErrorBox(Console& console, ConsoleToolkit& toolkit, const std::string& message) {
    console.Flush();
    console.Beep();
    toolkit.ConsoleMessageBox(message, 0, std::string(kErrorCaption), 0, 0);
    return console.PendingStop();
}

void WriteLine(Console& console, std::string_view text) {
    console.Write(text);
    EndLine(console, !text.empty());
}

void ShowStep(Console& console, std::string_view text) {
    UsePromptColour(console);
    console.Write(text);
    console.LineBreak();
    console.Flush();
}

void ShowDone(Console& console, int lineBreaks) {
    UseTextColour(console);
    console.Write(kDoneText);
    for (int i = 0; i < lineBreaks; ++i) console.LineBreak();
    console.Flush();
}

JobClock JobClock::Start() {
    JobClock clock;
    clock.start_ = std::chrono::steady_clock::now();
    return clock;
}

double JobClock::ElapsedSeconds() const {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) / 1000.0;
}

JobClock BeginJob(Console& console, std::string_view readingStep) {
    (void)console.SetCursorVisible(false);
    for (int i = 0; i < kBreaksBeforeJob; ++i) console.LineBreak();
    const JobClock clock = JobClock::Start();
    ShowStep(console, readingStep);
    return clock;
}

int FinishDialogue(Console& console, const JobClock& clock) {
    UseTextColour(console);
    console.Write(kJobTimeText);
    console.Write(FormatNumber(RoundHalfEven(clock.ElapsedSeconds(), 1)));
    console.Write(kSecondsText);
    console.LineBreak();
    return WaitForFinalKey(console, 0);
}

int FinishFailedDialogue(Console& console, FailedStep step) {
    // The rows that a successful run fills after the failed step's line stay
    // empty: its "   Done" with the breaks after it, after a failed reading
    // step also the writing step and its "   Done", and the job-time line.
    int lineBreaks = kBreaksAfterWritingDone + 1;
    if (step == FailedStep::Reading) lineBreaks += kBreaksAfterReadingDone + 1;
    for (int i = 0; i < lineBreaks; ++i) console.LineBreak();
    return WaitForFinalKey(console, 1);
}

int RunJobPhase(Console& console, ConsoleToolkit& toolkit, std::string_view readingStep, Job& job) {
    ConsoleJobMonitor monitor(console);
    const JobClock clock = BeginJob(console, readingStep);
    monitor.StepShown(readingStep);

    JobResult result = job.MoveSamples(monitor);
    monitor.EndStep();
    if (!result) return EndUnsuccessfulJob(console, toolkit, job, result, FailedStep::Reading);
    ShowDone(console, kBreaksAfterReadingDone);

    ShowStep(console, kWritingStep);
    monitor.StepShown(kWritingStep);
    result = job.CommitOutputs(monitor);
    monitor.EndStep();
    if (!result) return EndUnsuccessfulJob(console, toolkit, job, result, FailedStep::Writing);
    LeaveJobRecord(console, job, {});
    ShowDone(console, kBreaksAfterWritingDone);
    return FinishDialogue(console, clock);
}

std::string FormatNumber(double value) {
    const std::string sign = value < 0 ? "-" : " ";
    const double magnitude = std::fabs(value);
    if (std::isnan(value)) return " nan ";
    if (std::isinf(value)) return sign + "inf ";

    // The decimal exponent after rounding to 15 significant digits decides
    // how many fraction digits those 15 digits reach.
    char scientific[32];
    std::snprintf(scientific, sizeof scientific, "%.14e", magnitude);
    const char* exponentText = std::strchr(scientific, 'e');
    const int exponent = std::atoi(exponentText + 1);

    std::string digits;
    if (exponent >= 15) {
        digits.assign(scientific, static_cast<std::size_t>(exponentText - scientific));
        digits += "E+" + std::to_string(exponent);
    } else {
        const int decimals = 14 - exponent;
        std::vector<char> fixed(static_cast<std::size_t>(decimals) + 32);
        std::snprintf(fixed.data(), fixed.size(), "%.*f", decimals, magnitude);
        digits = fixed.data();
    }
    // Trailing fraction zeros and a bare point go; so does the 0 before the point.
    const std::size_t point = digits.find('.');
    if (point != std::string::npos) {
        const std::size_t mantissaEnd = digits.find('E') == std::string::npos ? digits.size() : digits.find('E');
        std::size_t keep = digits.find_last_not_of('0', mantissaEnd - 1) + 1;
        if (keep == point + 1) keep = point;
        digits.erase(keep, mantissaEnd - keep);
    }
    if (digits.size() > 1 && digits[0] == '0' && digits[1] == '.') digits.erase(0, 1);
    return sign + digits + " ";
}

double RoundHalfEven(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    if (!std::isfinite(scaled)) return value;
    // nearbyint follows the current rounding mode, which is to nearest, ties to even.
    return std::nearbyint(scaled) / scale;
}

}  // namespace stereotools
