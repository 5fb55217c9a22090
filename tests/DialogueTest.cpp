#include "console/Dialogue.h"
#include "support/ForwardingConsole.h"
#include "support/MemoryConsole.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace stereotools {

void PrintTo(const HistoryEntry& entry, std::ostream* out) {
    *out << '"' << entry.text << '"' << (entry.pasted ? " (pasted)" : "");
}

void PrintTo(const MemoryConsole::ShellLine& line, std::ostream* out) {
    *out << (line.stream == ShellStream::Error ? "error: " : "output: ") << '"' << line.text << '"';
}

namespace {

constexpr std::string_view kLeftPrompt = "   Left channel Wave file?";
constexpr std::string_view kRightPrompt = "   Right channel Wave file?";
constexpr std::string_view kOutputPrompt = "   Output Wave file?";
constexpr std::string_view kRipPrompt = "   Wave file to process?";
constexpr int kKnitColumn = 29;
constexpr int kRipColumn = 27;
constexpr const char* kWide = "\xE4\xB8\xAD";  // 中, two cells

Key MakeKey(Key::Kind kind, char32_t character = 0, std::string bytes = {}) {
    Key key;
    key.kind = kind;
    key.character = character;
    key.bytes = std::move(bytes);
    return key;
}

Key Ended(int status) {
    Key key = MakeKey(Key::Kind::Ended);
    key.exitStatus = status;
    return key;
}

// Returns `count` cells of row `row` from `column` as text.
std::string CellsText(const MemoryConsole& console, int row, int column, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>(console.At(row, column + i).character);
    return text;
}

void ExpectColour(const MemoryConsole& console, int row, int firstColumn, int lastColumn, int foreground) {
    for (int column = firstColumn; column <= lastColumn; ++column) {
        SCOPED_TRACE(column);
        EXPECT_EQ(console.At(row, column).foreground, foreground);
        EXPECT_EQ(console.At(row, column).background, kBrightWhite);
    }
}

// Returns the colour the next write would use, by writing a mark at the cursor.
int CurrentForeground(MemoryConsole& console) {
    const int row = console.CursorRow();
    const int column = console.CursorColumn();
    console.Write("#");
    const int foreground = console.At(row, column).foreground;
    console.MoveCursor(row, column);
    console.Write(" ");
    console.MoveCursor(row, column);
    return foreground;
}

std::vector<std::string> Snapshot(const MemoryConsole& console, int firstRow, int lastRow) {
    std::vector<std::string> rows;
    for (int row = firstRow; row <= lastRow; ++row) rows.push_back(console.RowText(row));
    return rows;
}

// A console that notes whether the text cursor showed at each key read, and
// the beeps.
class WatchedConsole final : public testconsole::ForwardingConsole {
public:
    using ForwardingConsole::ForwardingConsole;
    Key ReadKey() override {
        visibleAtRead.push_back(inner_.CursorVisible());
        return inner_.ReadKey();
    }
    void Beep() override {
        events.push_back("beep");
        inner_.Beep();
    }
    int PendingStop() const override { return inner_.KeysLeft() == 0 ? stopStatus : 0; }

    int stopStatus = 0;  // reported once the script has run out
    std::vector<bool> visibleAtRead;
    std::vector<std::string> events;
};

// A job that does nothing but return what a test set for each phase; it
// ends a phase as stopped when its monitor reports a pending stop.
class ScriptedJob final : public Job {
public:
    JobResult MoveSamples(JobMonitor& monitor) override { return Phase("move", move, monitor); }
    JobResult CommitOutputs(JobMonitor& monitor) override { return Phase("commit", commit, monitor); }
    std::vector<std::string> CommittedOutputs() const override { return committed; }

    JobResult move;
    JobResult commit;
    std::vector<std::string> committed;  // what CommittedOutputs says
    std::vector<std::string> calls;

private:
    JobResult Phase(const char* name, const JobResult& result, const JobMonitor& monitor) {
        calls.push_back(name);
        if (const int stop = monitor.PendingStop()) return {{}, stop};
        return result;
    }
};

// Writes a mono WAV file at `path`.
void WriteWave(const std::string& path) {
    const testwave::Bytes bytes = testwave::WaveBuilder().Samples(testwave::CountingBytes(8)).Build();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A temporary folder with one mono WAV file, removed afterwards.
class DialogueFiles : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dialoguetest-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
        existing_ = (folder_ / "take 1.wav").string();
        WriteWave(existing_);
        missing_ = (folder_ / "absent.wav").string();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path folder_;
    std::string existing_;
    std::string missing_;
};

TEST(OpenConsoleWindow, CallsTheToolkitInOrderAndClearsInTheTextColour) {
    MemoryConsole console(25);
    console.SetColours(kDarkGrey, kDarkGrey);
    console.Write("old");
    RecordingToolkit toolkit(&console);
    OpenConsoleWindow(console, toolkit, "Stereorip", 38);
    const std::vector<std::string> expected = {
        "InitConsoleTools(nullptr, 0, 0, 0, &0, 0)",
        "ConsoleToolBar(0, 5)",
        "ConsoleTitle(Stereorip)",
        "ConsoleIcon(32512)",
        "DeleteWindowMenuItem(61728)",
        "DeleteWindowMenuItem(0)",
        "DeleteWindowMenuItem(61440)",
        "DeleteWindowMenuItem(-2)",
        "DeleteWindowMenuItem(-1)",
        "DeleteWindowMenuItem(61488)",
        "Console80x(38)",
        "ConsoleMove(32767, 32767)",
    };
    EXPECT_EQ(toolkit.calls, expected);
    EXPECT_EQ(console.Rows(), 38);
    EXPECT_EQ(console.RowText(1), "");
    ExpectColour(console, 1, 1, 80, kBlack);
    ExpectColour(console, 38, 1, 80, kBlack);
    EXPECT_EQ(console.KeysRead(), 0u);
}

TEST(ShowBanner, PrintsRowsTwoToFourInTheTextColourAndLeavesThePromptColourAtRow8) {
    MemoryConsole console(28);
    console.MoveCursor(15, 5);
    console.Write("left over");
    console.SetColours(kDarkGrey, kBrightWhite);
    ShowBanner(console, "   Stereoknit");
    EXPECT_EQ(console.RowText(1), "");
    EXPECT_EQ(console.RowText(2), "   Stereoknit");
    EXPECT_EQ(console.RowText(3), "   Copyright (C) 2026 The Stereorip and Stereoknit authors");
    EXPECT_EQ(console.RowText(4), "   Help: README.md and the manual pages that come with the programs");
    for (int row = 5; row <= 28; ++row) EXPECT_EQ(console.RowText(row), "") << row;
    ExpectColour(console, 2, 1, 13, kBlack);
    ExpectColour(console, 3, 1, 20, kBlack);
    ExpectColour(console, 4, 1, 20, kBlack);
    EXPECT_EQ(console.CursorRow(), 8);
    EXPECT_EQ(console.CursorColumn(), 1);
    EXPECT_EQ(CurrentForeground(console), kDarkGrey);
}

TEST(AskFileName, WritesThePromptAndEchoesTheAnswerAtEachToolsColumn) {
    struct Case {
        const char* name;
        std::string_view prompt;
        int row;
        int column;
    };
    const Case kCases[] = {
        {"join, left", kLeftPrompt, 8, kKnitColumn},
        {"join, right", kRightPrompt, 9, kKnitColumn},
        {"join, output", kOutputPrompt, 12, kKnitColumn},
        {"split", kRipPrompt, 8, kRipColumn},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(28);
        console.SetColours(kDarkGrey, kBrightWhite);
        console.AddText("a.wav");
        console.AddEnter();
        const Answer answer = AskFileName(console, c.prompt, c.row, c.column);
        EXPECT_EQ(answer.status, Answer::Status::Accepted);
        EXPECT_EQ(answer.text, "a.wav");
        EXPECT_EQ(answer.cells, 5u);
        const std::string expectedRow = std::string(c.prompt) +
                                        std::string(static_cast<std::size_t>(c.column) - 1 - c.prompt.size(), ' ') +
                                        "a.wav";
        EXPECT_EQ(console.RowText(c.row), expectedRow);
        ExpectColour(console, c.row, 1, static_cast<int>(c.prompt.size()), kDarkGrey);
        ExpectColour(console, c.row, c.column, c.column + 4, kBlack);
        EXPECT_EQ(console.CursorRow(), c.row + 1);
        EXPECT_EQ(console.CursorColumn(), 1);
        EXPECT_EQ(CurrentForeground(console), kDarkGrey);
    }
}

TEST(AskFileName, KeepsTheAnswerExactlyAsTyped) {
    MemoryConsole console(28);
    const std::string typed = "  \"my take\" 'b'.WAV  ";
    console.AddText(typed);
    console.AddEnter();
    EXPECT_EQ(AskFileName(console, kRipPrompt, 8, kRipColumn).text, typed);
}

TEST(AskFileName, ShowsTheTextCursorWhileReadingAndRestoresItAfter) {
    for (const bool visibleBefore : {false, true}) {
        SCOPED_TRACE(visibleBefore);
        MemoryConsole inner(28);
        WatchedConsole console(inner);
        (void)inner.SetCursorVisible(visibleBefore);
        inner.AddText("ab");
        inner.AddEnter();
        (void)AskFileName(console, kRipPrompt, 8, kRipColumn);
        EXPECT_EQ(console.visibleAtRead, (std::vector<bool>{true, true, true}));
        EXPECT_EQ(inner.CursorVisible(), visibleBefore);
    }
}

TEST(AskFileName, EndedInputReturnsAtOnceWithItsStatus) {
    MemoryConsole console(28);
    (void)console.SetCursorVisible(false);
    console.AddText("half");
    console.AddKey(Ended(129));
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.status, Answer::Status::Ended);
    EXPECT_EQ(answer.exitStatus, 129);
    EXPECT_EQ(console.KeysRead(), 5u);
    EXPECT_FALSE(console.CursorVisible());
}

TEST(AskFileName, IgnoresKeysThatCannotBePartOfAName) {
    MemoryConsole console(28);
    console.AddText("a");
    console.AddKey(MakeKey(Key::Kind::Other));
    console.AddKey(MakeKey(Key::Kind::Escape));
    console.AddKey(MakeKey(Key::Kind::Character, U'\t', "\t"));
    console.AddKey(MakeKey(Key::Kind::Character, 0x01, "\x01"));
    console.AddKey(MakeKey(Key::Kind::Character, 0x1B, "\x1B"));
    console.AddKey(MakeKey(Key::Kind::Character, 0x7F, "\x7F"));
    console.AddKey(MakeKey(Key::Kind::Character, 0x9B, "\xC2\x9B"));
    console.AddText("b");
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, "ab");
    EXPECT_EQ(console.RowText(8), std::string(kRipPrompt) + "  ab");
    EXPECT_EQ(console.Beeps(), 0);
}

TEST(AskFileName, BackspaceOnAnEmptyAnswerChangesNothing) {
    MemoryConsole console(28);
    console.MoveCursor(8, 60);
    console.Write("keep");
    console.AddBackspace();
    console.AddBackspace();
    console.AddText("x");
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, "x");
    EXPECT_EQ(console.RowText(8), std::string(kRipPrompt) + "  x" + std::string(32, ' ') + "keep");
}

TEST(AskFileName, BackspaceRemovesTheLastCharacterAndItsCell) {
    MemoryConsole console(28);
    console.AddText("abc");
    console.AddBackspace();
    console.AddText("d");
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    EXPECT_EQ(answer.text, "abd");
    EXPECT_EQ(answer.cells, 3u);
    EXPECT_EQ(CellsText(console, 8, kKnitColumn, 4), "abd ");
}

TEST(AskFileName, BackspaceAtColumn1OfAWrappedAnswerGoesBackToColumn80) {
    MemoryConsole console(28);
    // Columns 29 to 80 take 52 characters; the 53rd starts row 9.
    console.AddText(std::string(52, 'a') + "bc");
    console.AddBackspace();
    console.AddBackspace();
    console.AddBackspace();
    console.AddText("XY");
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    EXPECT_EQ(answer.text, std::string(51, 'a') + "XY");
    EXPECT_EQ(answer.cells, 53u);
    EXPECT_EQ(console.At(8, 79).character, U'a');
    EXPECT_EQ(console.At(8, 80).character, U'X');
    EXPECT_EQ(console.RowText(9), "Y");
    EXPECT_EQ(console.CursorRow(), 10);
}

TEST(AskFileName, BackspaceWorksAfterTheEchoScrolledTheLastRow) {
    MemoryConsole console(10);
    // The 52nd character fills column 80 of the last row and scrolls it up.
    console.AddText(std::string(52, 'a'));
    console.AddBackspace();
    console.AddText("Z");
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 10, kKnitColumn);
    EXPECT_EQ(answer.text, std::string(51, 'a') + "Z");
    EXPECT_EQ(answer.cells, 52u);
    // The answer ends in column 80 again: the cursor is on the row after it,
    // which that scroll brought, and no second scroll follows.
    EXPECT_EQ(console.RowText(9), std::string(kLeftPrompt) + "  " + std::string(51, 'a') + "Z");
    EXPECT_EQ(console.RowText(10), "");
    EXPECT_EQ(console.CursorRow(), 10);
}

TEST(AskFileName, BackspaceRemovesAWideCharacterWhole) {
    MemoryConsole console(28);
    console.AddText(std::string("a") + kWide);
    console.AddBackspace();
    console.AddText("b");
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, "ab");
    EXPECT_EQ(answer.cells, 2u);
    EXPECT_EQ(CellsText(console, 8, kRipColumn, 3), "ab ");
    EXPECT_FALSE(console.At(8, kRipColumn + 2).continuation);
}

TEST(AskFileName, BackspaceAfterAWideCharacterThatWrappedEarlyReturnsToColumn80) {
    MemoryConsole console(28);
    // 51 characters fill columns 29 to 79; the wide one cannot start in 80.
    console.AddText(std::string(51, 'a') + kWide);
    console.AddBackspace();
    console.AddText("z");
    console.AddBackspace();
    console.AddBackspace();
    console.AddText("q");
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    EXPECT_EQ(answer.text, std::string(50, 'a') + "q");
    EXPECT_EQ(console.At(8, 79).character, U'q');
    EXPECT_EQ(console.At(8, 80).character, U' ');
    EXPECT_EQ(console.RowText(9), "");
}

TEST(AskFileName, EchoesUtf8CharactersAndKeepsTheirBytes) {
    MemoryConsole console(28);
    const std::string typed = std::string("n\xC3\xA9") + kWide + "\xFF.wav";
    console.AddText(typed);
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, typed);
    EXPECT_EQ(answer.cells, 9u);
    EXPECT_EQ(console.At(8, 28).character, U'\u00E9');
    EXPECT_EQ(console.At(8, 29).character, U'\u4E2D');
    EXPECT_TRUE(console.At(8, 30).continuation);
    EXPECT_EQ(console.At(8, 31).character, U'\uFFFD');
    EXPECT_EQ(console.At(8, 32).character, U'.');
}

TEST(AskFileName, TakesNoMoreThan10000CharactersButBackspaceAndEnterStillWork) {
    MemoryConsole console(28);
    console.AddText(std::string(kMaxAnswerCharacters, 'a') + "bc");
    console.AddBackspace();
    console.AddText("d");
    console.AddText("e");
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    ASSERT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.text, std::string(kMaxAnswerCharacters - 1, 'a') + "d");
    EXPECT_EQ(console.KeysLeft(), 0u);
    // The echo scrolled the window: the last cell written holds the "d".
    const int row = console.CursorRow() - 1;
    const int lastColumn = static_cast<int>((kKnitColumn - 1 + kMaxAnswerCharacters - 1) % 80) + 1;
    EXPECT_EQ(console.At(row, lastColumn).character, U'd');
    EXPECT_EQ(console.At(row, lastColumn + 1).character, U' ');
}

TEST(AskFileName, CountsTheLimitInCharactersNotBytes) {
    MemoryConsole console(28);
    std::string typed;
    for (std::size_t i = 0; i < kMaxAnswerCharacters + 1; ++i) typed += "\xC3\xA9";
    console.AddText(typed);
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    EXPECT_EQ(answer.text.size(), 2 * kMaxAnswerCharacters);
}

// The next line goes on the row after the answer's last cell. An answer that
// ends in column 80 has already taken the cursor to the next row: no empty
// row follows it. On the last row that row came by a scroll.
TEST(AskFileName, LeavesTheCursorOnTheRowAfterTheAnswersLastCell) {
    struct Case {
        const char* name;
        int row;
        std::string typed;
        int backspaces;
        int cursorRow;
    };
    const Case cases[] = {
        {"51 cells from column 29", 8, std::string(51, 'a'), 0, 9},
        {"52 cells: ends in column 80", 8, std::string(52, 'a'), 0, 9},
        {"53 cells: one on the next row", 8, std::string(53, 'a'), 0, 10},
        {"53 cells less one", 8, std::string(53, 'a'), 1, 9},
        {"132 cells: ends in column 80 of the next row", 8, std::string(132, 'a'), 0, 10},
        {"empty", 8, "", 0, 9},
        {"ends in column 80 of the last row", 28, std::string(52, 'a'), 0, 28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(28);
        console.AddText(c.typed);
        for (int i = 0; i < c.backspaces; ++i) console.AddBackspace();
        console.AddEnter();
        ASSERT_EQ(AskFileName(console, kLeftPrompt, c.row, kKnitColumn).status, Answer::Status::Accepted);
        EXPECT_EQ(console.CursorRow(), c.cursorRow);
        EXPECT_EQ(console.CursorColumn(), 1);
    }
    MemoryConsole scrolled(28);
    scrolled.AddText(std::string(52, 'a'));
    scrolled.AddEnter();
    ASSERT_EQ(AskFileName(scrolled, kLeftPrompt, 28, kKnitColumn).status, Answer::Status::Accepted);
    EXPECT_EQ(scrolled.RowText(27), std::string(kLeftPrompt) + "  " + std::string(52, 'a'));
    EXPECT_EQ(scrolled.RowText(28), "");
}

TEST(WriteLine, EndsOnTheRowAfterTheLastCellWritten) {
    struct Case {
        const char* name;
        int column;
        std::size_t length;
        int cursorRow;
    };
    const Case cases[] = {
        {"53 cells from column 27", 27, 53, 11},
        {"54 cells: ends in column 80", 27, 54, 11},
        {"55 cells", 27, 55, 12},
        {"nothing", 27, 0, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(38);
        console.MoveCursor(10, c.column);
        WriteLine(console, std::string(c.length, 'n'));
        EXPECT_EQ(console.CursorRow(), c.cursorRow);
        EXPECT_EQ(console.CursorColumn(), 1);
    }
}

TEST(EraseAnswer, BlanksAWrappedAnswerAndItsNextCellInThePromptColour) {
    MemoryConsole console(28);
    console.MoveCursor(10, 1);
    console.Write(std::string(80, 'r'));
    console.AddText(std::string(60, 'w'));
    console.AddEnter();
    const Answer answer = AskFileName(console, kRightPrompt, 9, kKnitColumn);
    ASSERT_EQ(answer.cells, 60u);
    EraseAnswer(console, 9, kKnitColumn, answer.cells);
    EXPECT_EQ(console.RowText(9), kRightPrompt);
    // 52 blanks on row 9, then 8 for the wrapped part and one more.
    EXPECT_EQ(CellsText(console, 10, 1, 10), "         r");
    ExpectColour(console, 9, kKnitColumn, 80, kDarkGrey);
    ExpectColour(console, 10, 1, 9, kDarkGrey);
    EXPECT_EQ(console.CursorRow(), 11);
    EXPECT_EQ(console.CursorColumn(), 1);
    EXPECT_EQ(CurrentForeground(console), kDarkGrey);
}

TEST_F(DialogueFiles, AnExistingFileIsAcceptedWithoutABox) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddText(existing_);
    console.AddEnter();
    const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
    EXPECT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.input.name, existing_);
    EXPECT_EQ(answer.input.info.channels, 1);
    EXPECT_EQ(answer.input.info.dataSize, 8u);
    EXPECT_TRUE(toolkit.calls.empty());
    EXPECT_EQ(console.Beeps(), 0);
    // Nothing stays open or locked once the answer is taken.
    EXPECT_TRUE(OpenInputFile(existing_));
}

// A file that opens but whose header is refused shows its problem's text;
// then the answer is refused (Restart) or erased and asked again.
TEST_F(DialogueFiles, ARefusedHeaderShowsItsProblem) {
    const std::string stereo = (folder_ / "stereo.wav").string();
    const testwave::Bytes stereoBytes = testwave::WaveBuilder().Channels(2).Samples(testwave::CountingBytes(8)).Build();
    std::ofstream(stereo, std::ios::binary)
        .write(reinterpret_cast<const char*>(stereoBytes.data()), static_cast<std::streamsize>(stereoBytes.size()));
    const std::string text = (folder_ / "notes.wav").string();
    std::ofstream(text) << "not a WAV file at all, just words in a file named like one";
    struct Case {
        std::string answer;
        int channels;
        const char* message;
    };
    const Case cases[] = {
        {stereo, 1, "This is not a mono Wave file  "},
        {existing_, 2, "This is not a stereo Wave file  "},
        {text, 1, "This is not a Wave file  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.AddText(c.answer);
        console.AddEnter();
        console.AddEnter();
        const WaveAnswer restart =
            AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, c.channels, RetryPolicy::Restart);
        EXPECT_EQ(restart.status, Answer::Status::Refused);
        EXPECT_EQ(toolkit.messages, std::vector<std::string>{c.message});

        console.AddText(c.answer);
        console.AddEnter();
        console.AddEnter();
        console.AddText(c.channels == 1 ? existing_ : stereo);
        console.AddEnter();
        const WaveAnswer inPlace =
            AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, c.channels, RetryPolicy::AskAgainInPlace);
        EXPECT_EQ(inPlace.status, Answer::Status::Accepted);
        EXPECT_EQ(inPlace.input.info.channels, c.channels);
        EXPECT_EQ(toolkit.messages.size(), 2u);
        EXPECT_EQ(console.RowText(9), std::string(kRightPrompt) + " " + inPlace.input.name);
    }
}

TEST_F(DialogueFiles, RefusedNamesShowTheFileNotFoundBox) {
    const std::filesystem::path fifo = folder_ / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string answer;
    };
    const Case kCases[] = {
        {"empty answer", ""},
        {"missing file", missing_},
        {"directory", folder_.string()},
        {"FIFO", fifo.string()},
        {"existing name with a trailing blank", existing_ + " "},
        {"wildcard", (folder_ / "*.wav").string()},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        MemoryConsole inner(28);
        WatchedConsole console(inner);
        RecordingToolkit toolkit(&inner);
        inner.AddText(c.answer);
        inner.AddEnter();
        inner.AddEnter();
        const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
        EXPECT_EQ(answer.status, Answer::Status::Refused);
        EXPECT_EQ(console.events, std::vector<std::string>{"beep"});
        ASSERT_EQ(toolkit.messages.size(), 1u);
        EXPECT_EQ(toolkit.messages[0], "            File not found.\\n Please enter a valid filename  ");
        EXPECT_EQ(toolkit.captions[0], "  ERROR");
        EXPECT_EQ(
            toolkit.calls[0],
            "ConsoleMessageBox(            File not found.\\n Please enter a valid filename  , 0,   ERROR, 0, 0)");
        EXPECT_EQ(inner.KeysLeft(), 0u);
    }
}

TEST_F(DialogueFiles, ARestartShowsTheBannerAndAnEmptyPromptAgain) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddText(missing_);
    console.AddEnter();
    console.AddEnter();
    console.AddText(existing_);
    console.AddEnter();
    int attempts = 0;
    WaveAnswer answer;
    std::vector<std::string> screenBeforeSecondAnswer;
    do {
        ShowBanner(console, "   Stereorip");
        if (attempts == 1) screenBeforeSecondAnswer = Snapshot(console, 1, 28);
        answer = AskWaveFile(console, toolkit, kRipPrompt, 8, kRipColumn, 1, RetryPolicy::Restart);
        ++attempts;
    } while (answer.status == Answer::Status::Refused && attempts < 5);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(answer.input.name, existing_);
    ASSERT_EQ(screenBeforeSecondAnswer.size(), 28u);
    EXPECT_EQ(screenBeforeSecondAnswer[1], "   Stereorip");
    for (int row = 5; row <= 28; ++row) EXPECT_EQ(screenBeforeSecondAnswer[row - 1], "") << row;
}

TEST_F(DialogueFiles, AskingAgainInPlaceKeepsTheRowsAboveAndErasesEachRefusal) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    ShowBanner(console, "   Stereoknit");
    console.AddText(existing_);
    console.AddEnter();
    ASSERT_EQ(AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart).status,
              Answer::Status::Accepted);
    const std::vector<std::string> above = Snapshot(console, 1, 8);

    const std::string refusals[] = {missing_ + std::string(70, 'x'), "", missing_, "nope"};
    for (const std::string& refused : refusals) {
        console.AddText(refused);
        console.AddEnter();
        console.AddEnter();
    }
    console.AddText("b.wav");
    console.AddBackspace();
    console.AddBackspace();
    console.AddBackspace();
    console.AddBackspace();
    console.AddBackspace();
    console.AddText(existing_);
    console.AddEnter();
    const WaveAnswer answer =
        AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, 1, RetryPolicy::AskAgainInPlace);
    EXPECT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.input.name, existing_);
    EXPECT_EQ(toolkit.messages.size(), 4u);
    EXPECT_EQ(console.Beeps(), 4);
    EXPECT_EQ(Snapshot(console, 1, 8), above);
    const std::string expectedRow9 = std::string(kRightPrompt) + " " + existing_;
    EXPECT_EQ(console.RowText(9), expectedRow9.substr(0, 80));
    if (expectedRow9.size() <= 80) {
        EXPECT_EQ(console.RowText(10), "");
    }
    EXPECT_EQ(console.RowText(11), "");
    EXPECT_EQ(CurrentForeground(console), kDarkGrey);
}

TEST_F(DialogueFiles, InputEndingInsideTheBoxEndsAskingInPlace) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddText(missing_);
    console.AddEnter();
    console.AddKey(Ended(143));
    const WaveAnswer answer =
        AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, 1, RetryPolicy::AskAgainInPlace);
    EXPECT_EQ(answer.status, Answer::Status::Ended);
    EXPECT_EQ(answer.exitStatus, 143);
    EXPECT_EQ(toolkit.messages.size(), 1u);
}

TEST_F(DialogueFiles, AStopSignalThatClosesTheBoxEndsInsteadOfRestarting) {
    MemoryConsole inner(28);
    WatchedConsole console(inner);
    console.stopStatus = 143;
    RecordingToolkit toolkit(&inner);
    inner.AddText(missing_);
    inner.AddEnter();
    const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
    EXPECT_EQ(answer.status, Answer::Status::Ended);
    EXPECT_EQ(answer.exitStatus, 143);
}

// A file of zero-size chunks has one every 8 bytes: its walk is long, and a
// stop that comes during it ends the dialogue there, without a box.
TEST_F(DialogueFiles, AStopWhileAHostileHeaderIsWalkedEndsWithoutABox) {
    testwave::Bytes zeroChunks = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
    zeroChunks.resize(zeroChunks.size() + (1 << 16), 0);
    const std::string hostile = (folder_ / "zero chunks.wav").string();
    std::ofstream(hostile, std::ios::binary)
        .write(reinterpret_cast<const char*>(zeroChunks.data()), static_cast<std::streamsize>(zeroChunks.size()));
    for (const RetryPolicy policy : {RetryPolicy::Restart, RetryPolicy::AskAgainInPlace}) {
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.AddText(hostile);
        console.AddEnter();
        console.AddEnter();
        // Some blocks of chunk headers are read before the stop comes.
        console.RequestStop(130, 3);
        const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, policy);
        EXPECT_EQ(answer.status, Answer::Status::Ended);
        EXPECT_EQ(answer.exitStatus, 130);
        EXPECT_TRUE(toolkit.messages.empty());
        EXPECT_EQ(console.Beeps(), 0);
        EXPECT_EQ(console.KeysLeft(), 1u);
    }
}

TEST(ShowErrorBox, BeepsThenShowsTheMessageUnderTheErrorCaption) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddEnter();
    console.AddText("after");
    EXPECT_EQ(ShowErrorBox(console, toolkit, "This is not a mono Wave file  "), 0) << "a key closed it";
    EXPECT_EQ(console.Beeps(), 1);
    EXPECT_EQ(toolkit.calls,
              std::vector<std::string>{"ConsoleMessageBox(This is not a mono Wave file  , 0,   ERROR, 0, 0)"});
    EXPECT_EQ(console.KeysLeft(), 5u);
    for (int row = 1; row <= 28; ++row) EXPECT_EQ(console.RowText(row), "");
}

TEST(ShowErrorBox, ReturnsTheStopThatClosedIt) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.RequestStop(130);
    EXPECT_EQ(ShowErrorBox(console, toolkit, "This is not a mono Wave file  "), 130);
}

// Job-phase rows: where each line lands, given the row the dialogue left the
// cursor on, and each line's colour.
struct JobRows {
    const char* tool;
    int windowRows;
    int cursorRowAtStart;
    std::string_view readingStep;
    int reading, firstDone, writing, secondDone, jobTime, pressAnyKey;
};

class JobPhase : public testing::TestWithParam<JobRows> {};

TEST_P(JobPhase, PutsEachLineOnItsRow) {
    const JobRows& r = GetParam();
    MemoryConsole console(r.windowRows);
    console.SetColours(kDarkGrey, kBrightWhite);
    console.MoveCursor(r.cursorRowAtStart, 1);
    console.AddText("q");
    RecordingToolkit toolkit(&console);
    ScriptedJob job;
    EXPECT_EQ(RunJobPhase(console, toolkit, r.readingStep, job), 0);
    EXPECT_FALSE(console.CursorVisible());
    EXPECT_EQ(job.calls, (std::vector<std::string>{"move", "commit"}));
    EXPECT_TRUE(toolkit.messages.empty());

    EXPECT_EQ(console.RowText(r.reading), r.readingStep);
    EXPECT_EQ(console.RowText(r.firstDone), "   Done");
    EXPECT_EQ(console.RowText(r.writing), "   Writing output files...");
    EXPECT_EQ(console.RowText(r.secondDone), "   Done");
    EXPECT_EQ(console.RowText(r.pressAnyKey), "   press any key to quit");
    const std::string jobTime = console.RowText(r.jobTime);
    EXPECT_TRUE(std::regex_match(jobTime, std::regex(R"(   Job completed in (0|[1-9][0-9]*)?(\.[0-9])? seconds)")))
        << jobTime;
    for (int row = r.cursorRowAtStart; row <= r.windowRows; ++row) {
        if (row == r.reading || row == r.firstDone || row == r.writing || row == r.secondDone || row == r.jobTime ||
            row == r.pressAnyKey)
            continue;
        EXPECT_EQ(console.RowText(row), "") << row;
    }
    ExpectColour(console, r.reading, 1, static_cast<int>(r.readingStep.size()), kDarkGrey);
    ExpectColour(console, r.firstDone, 1, 7, kBlack);
    ExpectColour(console, r.writing, 1, 26, kDarkGrey);
    ExpectColour(console, r.secondDone, 1, 7, kBlack);
    ExpectColour(console, r.jobTime, 1, static_cast<int>(jobTime.size()), kBlack);
    ExpectColour(console, r.pressAnyKey, 1, 24, kDarkGrey);
    EXPECT_EQ(console.CursorRow(), r.pressAnyKey + 1);
    EXPECT_EQ(console.KeysLeft(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothTools, JobPhase,
                         testing::Values(JobRows{"join", 28, 13, "   Reading input files...", 17, 18, 20, 21, 25, 26},
                                         JobRows{"split", 38, 23, "   Reading input file...", 27, 28, 30, 31, 35, 36}),
                         [](const testing::TestParamInfo<JobRows>& info) { return std::string(info.param.tool); });

TEST(JobPhase, FollowsTheJoinDialogueFromRow12) {
    MemoryConsole console(28);
    ShowBanner(console, "   Stereoknit");
    for (const auto& [prompt, row] : {std::pair{kLeftPrompt, 8}, std::pair{kRightPrompt, 9}}) {
        console.AddText("x.wav");
        console.AddEnter();
        ASSERT_EQ(AskFileName(console, prompt, row, kKnitColumn).status, Answer::Status::Accepted);
    }
    console.LineBreak();
    console.LineBreak();
    EXPECT_EQ(console.CursorRow(), 12);
    console.AddText("out.wav");
    console.AddEnter();
    ASSERT_EQ(AskFileName(console, kOutputPrompt, console.CursorRow(), kKnitColumn).status, Answer::Status::Accepted);
    const JobClock clock = BeginJob(console, "   Reading input files...");
    EXPECT_EQ(console.RowText(12), std::string(kOutputPrompt) + std::string(8, ' ') + "out.wav");
    EXPECT_EQ(console.RowText(17), "   Reading input files...");
    for (int row = 13; row <= 16; ++row) EXPECT_EQ(console.RowText(row), "") << row;
    (void)clock;
}

TEST(FinishDialogue, EndedInputGivesItsStatus) {
    MemoryConsole console(28);
    console.MoveCursor(25, 1);
    console.AddKey(Ended(130));
    EXPECT_EQ(FinishDialogue(console, JobClock::Start()), 130);
    MemoryConsole empty(28);
    empty.MoveCursor(25, 1);
    EXPECT_EQ(FinishDialogue(empty, JobClock::Start()), 1);
}

TEST(FinishDialogue, AnyKeyEndsTheWaitWithStatus0) {
    const Key kKeys[] = {MakeKey(Key::Kind::Character, U'x', "x"), MakeKey(Key::Kind::Enter),
                         MakeKey(Key::Kind::Escape), MakeKey(Key::Kind::Other), MakeKey(Key::Kind::Backspace)};
    for (const Key& key : kKeys) {
        SCOPED_TRACE(static_cast<int>(key.kind));
        MemoryConsole console(28);
        console.MoveCursor(25, 1);
        console.AddKey(key);
        console.AddText("z");
        EXPECT_EQ(FinishDialogue(console, JobClock::Start()), 0);
        EXPECT_EQ(console.KeysLeft(), 1u);
    }
}

// After a failure "   press any key to quit" takes the row it has after a
// successful run, whichever step failed; the rows between stay empty.
TEST(RunJobPhase, PutsPressAnyKeyOnItsUsualRowWhicheverStepFailed) {
    struct Case {
        const char* name;
        int windowRows;
        int cursorRowAtStart;
        FailedStep failedStep;
        int stepRow;  // the row of the step the failure came in
        int pressAnyKey;
    };
    const Case cases[] = {
        {"join, reading", 28, 13, FailedStep::Reading, 17, 26},
        {"join, writing", 28, 13, FailedStep::Writing, 20, 26},
        {"split, reading", 38, 23, FailedStep::Reading, 27, 36},
        {"split, writing", 38, 23, FailedStep::Writing, 30, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(c.windowRows);
        RecordingToolkit toolkit(&console);
        console.MoveCursor(c.cursorRowAtStart, 1);
        console.AddEnter();  // closes the box
        console.AddText("k");
        ScriptedJob job;
        const IoError error{IoError::Operation::Write, "out.wav", ENOSPC, {}};
        (c.failedStep == FailedStep::Reading ? job.move : job.commit) = {error, 0};

        EXPECT_EQ(RunJobPhase(console, toolkit, "   Reading input files...", job), 1);
        EXPECT_EQ(toolkit.messages, std::vector<std::string>{error.Describe()});
        EXPECT_EQ(console.RowText(c.stepRow),
                  c.failedStep == FailedStep::Reading ? "   Reading input files..." : "   Writing output files...");
        for (int row = c.stepRow + 1; row < c.pressAnyKey; ++row) EXPECT_EQ(console.RowText(row), "") << row;
        EXPECT_EQ(console.RowText(c.pressAnyKey), "   press any key to quit");
        ExpectColour(console, c.pressAnyKey, 1, 24, kDarkGrey);
        EXPECT_EQ(console.KeysLeft(), 0u);
    }
}

TEST(RunJobPhase, EndsWithTheStatusOfInputEndedAtTheFinalKey) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddEnter();
    console.AddKey(Ended(129));
    ScriptedJob job;
    job.commit = {{IoError::Operation::Commit, "out.wav", EACCES, {}}, 0};
    EXPECT_EQ(RunJobPhase(console, toolkit, "   Reading input files...", job), 129);
}

// A stop signal reaches the job through its monitor; the phase then ends at
// once with the stop's status, without a box or the final key wait.
TEST(RunJobPhase, EndsAtOnceWhenTheJobStops) {
    for (const std::size_t checksBefore : {0u, 1u}) {
        SCOPED_TRACE(checksBefore);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.RequestStop(143, checksBefore);
        console.AddText("k");
        ScriptedJob job;
        EXPECT_EQ(RunJobPhase(console, toolkit, "   Reading input files...", job), 143);
        EXPECT_EQ(job.calls.size(), checksBefore + 1);
        EXPECT_TRUE(toolkit.messages.empty());
        EXPECT_EQ(console.KeysLeft(), 1u);
    }
}

TEST(FormatNumber, WritesTheDialoguesNumberFormat) {
    struct Case {
        double value;
        const char* text;
    };
    const Case kCases[] = {
        {3.0, " 3 "},
        {0.4, " .4 "},
        {0.0, " 0 "},
        {-0.0, " 0 "},
        {12.5, " 12.5 "},
        {100.0, " 100 "},
        {-0.5, "-.5 "},
        {-12.25, "-12.25 "},
        {44100.0, " 44100 "},
        {0.75, " .75 "},
        {1.0 / 3.0, " .333333333333333 "},
        {2.0 / 3.0, " .666666666666667 "},
        {123456789012345.0, " 123456789012345 "},
        {0.001, " .001 "},
        {4294967295.0, " 4294967295 "},
        {999999999999999.0, " 999999999999999 "},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatNumber(c.value), c.text);
    }
}

TEST(RoundHalfEven, RoundsExactHalvesToTheEvenDigit) {
    struct Case {
        double value;
        int decimals;
        double rounded;
    };
    const Case kCases[] = {
        {12.25, 1, 12.2}, {0.04, 1, 0.0},   {0.4, 1, 0.4},    {2.5, 0, 2.0},   {3.5, 0, 4.0},
        {-2.5, 0, -2.0},  {0.125, 2, 0.12}, {0.375, 2, 0.38}, {10.0, 2, 10.0}, {0.75, 2, 0.75},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.value << " to " << c.decimals);
        EXPECT_DOUBLE_EQ(RoundHalfEven(c.value, c.decimals), c.rounded);
    }
    EXPECT_EQ(FormatNumber(RoundHalfEven(12.25, 1)), " 12.2 ");
    EXPECT_EQ(FormatNumber(RoundHalfEven(0.04, 1)), " 0 ");
    EXPECT_EQ(FormatNumber(RoundHalfEven(-0.04, 1)), " 0 ");
}

// Tab, pastes and the partner file, against a scratch folder.
class NameEntry : public DialogueFiles {
protected:
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    void Touch(const std::string& name) const { WriteWave((folder_ / name).string()); }
};

TEST_F(NameEntry, TabCompletesAUniqueNameAsIfTyped) {
    MemoryConsole console(28);
    console.AddText(Path("ta"));
    console.AddTab();
    console.AddBackspace();
    console.AddText("v");
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, existing_);
    EXPECT_EQ(console.RowText(8), std::string(kRipPrompt) + "  " + existing_);
    EXPECT_EQ(answer.cells, existing_.size());
    EXPECT_FALSE(answer.pasted);
    EXPECT_EQ(console.Beeps(), 0);
}

TEST_F(NameEntry, SeveralMatchesShareTheirPrefixThenASecondTabListsThem) {
    Touch("take 2.wav");
    Touch("notes.txt");
    MemoryConsole console(28);
    console.MoveCursor(10, 1);
    console.Write("later row");
    console.AddText(Path("t"));
    console.AddTab();  // completes the shared "ake "
    console.AddTab();  // lists both names
    console.AddText("2");
    console.AddTab();
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, Path("take 2.wav"));
    EXPECT_EQ(console.LastOverlayRow(), 9);
    EXPECT_EQ(console.LastOverlayLines(), std::vector<std::string>{"   take 1.wav  take 2.wav"});
    // Gone at the next key; the rows beneath keep their cells.
    EXPECT_EQ(console.OverlaysShown(), 1);
    EXPECT_EQ(console.OverlayRow(), 0);
    EXPECT_EQ(console.RowText(9), "");
    EXPECT_EQ(console.RowText(10), "later row");
    EXPECT_EQ(console.Beeps(), 0);
}

TEST_F(NameEntry, ASecondTabWithoutProgressListsAndTheFirstRingsTheBell) {
    Touch("take 2.wav");
    MemoryConsole console(28);
    console.AddText(Path("take "));
    console.AddTab();
    console.AddTab();
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, Path("take "));
    EXPECT_EQ(console.Beeps(), 1);
    EXPECT_EQ(console.OverlaysShown(), 1);
    EXPECT_EQ(console.OverlayRow(), 0);
}

TEST_F(NameEntry, FoldersGetASlashAndCompleteInside) {
    std::filesystem::create_directory(folder_ / "Sessions");
    std::ofstream(folder_ / "Sessions" / "mix.wav") << "RIFF";
    MemoryConsole console(28);
    console.AddText(Path("S"));
    console.AddTab();
    console.AddTab();
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, Path("Sessions/mix.wav"));
}

TEST_F(NameEntry, NamesWithSpacesAndUtf8CompleteByteForByte) {
    const std::string name = "k\xC3\xA4se \xE6\x97\xA5\xE6\x9C\xAC.wav";
    Touch(name);
    MemoryConsole console(28);
    console.AddText(Path("k"));
    console.AddTab();
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, Path(name));
    EXPECT_EQ(console.RowText(8), std::string(kRipPrompt) + "  " + Path(name));
    // ä takes 2 bytes and 1 cell, 日 and 本 3 bytes and 2 cells each.
    EXPECT_EQ(answer.cells, Path(name).size() - 3);
}

TEST_F(NameEntry, NoMatchRingsTheBellAndChangesNothing) {
    MemoryConsole console(28);
    console.AddText(Path("zz"));
    console.AddTab();
    console.AddTab();
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, Path("zz"));
    EXPECT_EQ(console.RowText(8), std::string(kRipPrompt) + "  " + Path("zz"));
    EXPECT_EQ(console.RowText(9), "");
    EXPECT_EQ(console.Beeps(), 2);
    EXPECT_EQ(console.OverlaysShown(), 0);
}

TEST(AskFileName, TakesAPasteAsTypedCharactersWithoutControlCharacters) {
    MemoryConsole console(28);
    console.AddPaste(" 'my take.wav' \r\n\x1B[A");
    console.AddEnter();
    const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(answer.text, " 'my take.wav' [A");
    EXPECT_TRUE(answer.pasted);
    EXPECT_EQ(console.RowText(8), std::string(kRipPrompt) + "   'my take.wav' [A");
}

TEST(AskFileName, AnAnswerIsPastedOnlyWhenOnePasteIsAllOfIt) {
    struct Case {
        const char* name;
        std::vector<Key> keys;
        bool pasted;
    };
    const Key paste = MakeKey(Key::Kind::Paste, 0, "p.wav");
    const Key typed = MakeKey(Key::Kind::Character, U'x', "x");
    const Key backspace = MakeKey(Key::Kind::Backspace);
    const Key arrow = MakeKey(Key::Kind::Other);
    const Case kCases[] = {
        {"one paste", {paste}, true},
        {"one paste and an arrow", {arrow, paste, arrow}, true},
        {"typed then erased, then a paste", {typed, backspace, paste}, true},
        {"typed", {typed}, false},
        {"typed before the paste", {typed, paste}, false},
        {"typed after the paste", {paste, typed}, false},
        {"edited after the paste", {paste, backspace}, false},
        {"two pastes", {paste, paste}, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(28);
        for (const Key& key : c.keys) console.AddKey(key);
        console.AddEnter();
        EXPECT_EQ(AskFileName(console, kRipPrompt, 8, kRipColumn).pasted, c.pasted);
    }
}

TEST(AskFileName, MarksPastesOnlyWhileReadingTheAnswer) {
    MemoryConsole console(28);
    console.AddText("a");
    console.AddEnter();
    (void)AskFileName(console, kRipPrompt, 8, kRipColumn);
    EXPECT_EQ(console.PasteMarkingAtKeys(), (std::vector<bool>{true, true}));
    EXPECT_FALSE(console.PasteMarking());

    MemoryConsole ended(28);
    ended.AddKey(Ended(143));
    EXPECT_EQ(AskFileName(ended, kRipPrompt, 8, kRipColumn).status, Answer::Status::Ended);
    EXPECT_FALSE(ended.PasteMarking());
}

TEST_F(NameEntry, APastedShellWordOpensTheFileItNames) {
    const std::string quotedPath = "'" + existing_ + "' \n";
    const std::string escapedPath = std::regex_replace(existing_, std::regex(" "), "\\ ");
    for (const std::string& pasted : {quotedPath, "\"" + existing_ + "\"", escapedPath,
                                      "file://" + std::regex_replace(existing_, std::regex(" "), "%20")}) {
        SCOPED_TRACE(pasted);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.AddPaste(pasted);
        console.AddEnter();
        const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
        EXPECT_EQ(answer.status, Answer::Status::Accepted);
        EXPECT_EQ(answer.input.name, existing_);
        EXPECT_TRUE(toolkit.calls.empty());
    }
}

TEST_F(NameEntry, AnExactNameWithQuotesWinsOverItsShellReading) {
    const std::string quotedName = "'take 1.wav'";
    Touch(quotedName);
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddPaste(Path(quotedName));
    console.AddEnter();
    const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
    EXPECT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.input.name, Path(quotedName));
}

TEST_F(NameEntry, QuotesTypedByHandArePartOfTheName) {
    struct Case {
        const char* name;
        bool typedAfterPaste;
    };
    for (const Case& c : {Case{"typed", false}, Case{"pasted, then a character typed", true}}) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        const std::string quoted = "'" + existing_;
        if (c.typedAfterPaste) {
            console.AddPaste(quoted);
        } else {
            console.AddText(quoted);
        }
        console.AddText("'");
        console.AddEnter();
        console.AddEnter();  // closes the box
        const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
        EXPECT_EQ(answer.status, Answer::Status::Refused);
        EXPECT_EQ(toolkit.messages, std::vector<std::string>{std::string(kFileNotFoundMessage)});
    }
}

TEST_F(NameEntry, APasteWhoseShellReadingNamesNoFileIsRefused) {
    for (const std::string& pasted : {"'" + missing_ + "'", "'" + existing_, existing_ + " " + existing_}) {
        SCOPED_TRACE(pasted);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.AddPaste(pasted);
        console.AddEnter();
        console.AddEnter();
        const WaveAnswer answer = AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart);
        EXPECT_EQ(answer.status, Answer::Status::Refused);
        EXPECT_EQ(toolkit.messages.size(), 1u);
    }
}

TEST_F(NameEntry, TabOnAnEmptyAnswerProposesThePartnerFile) {
    struct Case {
        const char* left;
        const char* right;
    };
    const Case kCases[] = {
        {"take left channel.wav", "take right channel.wav"},
        {"take.L.wav", "take.R.wav"},
        {"take.l.wav", "take.r.wav"},
        {"take_L.wav", "take_R.wav"},
        {"take_l.wav", "take_r.wav"},
        {"take-L.wav", "take-R.wav"},
        {"take-l.WAV", "take-r.WAV"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.left);
        Touch(c.left);
        Touch(c.right);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.AddTab();
        console.AddEnter();
        const WaveAnswer answer =
            AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, 1, RetryPolicy::AskAgainInPlace, Path(c.left));
        EXPECT_EQ(answer.status, Answer::Status::Accepted);
        EXPECT_EQ(answer.input.name, Path(c.right));
        EXPECT_EQ(console.RowText(9), std::string(kRightPrompt) + " " + Path(c.right));
        EXPECT_EQ(console.Beeps(), 0);
    }
}

TEST_F(NameEntry, TheProposedPartnerCanBeEdited) {
    Touch("take.L.wav");
    Touch("take.R.wav");
    Touch("take.R.wave");
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddTab();
    console.AddText("e");
    console.AddEnter();
    const WaveAnswer answer = AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, 1,
                                          RetryPolicy::AskAgainInPlace, Path("take.L.wav"));
    EXPECT_EQ(answer.input.name, Path("take.R.wave"));
}

TEST_F(NameEntry, NoPartnerIsProposedWhenItDoesNotExist) {
    Touch("take.L.wav");
    Touch("other.wav");
    // Without a partner Tab completes from the current folder: make that ours.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddTab();
    console.AddEnter();
    console.AddEnter();  // closes the box
    console.AddKey(Ended(1));
    const WaveAnswer answer = AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, 1,
                                          RetryPolicy::AskAgainInPlace, Path("take.L.wav"));
    std::filesystem::current_path(previous);
    EXPECT_EQ(answer.status, Answer::Status::Ended);
    // Several names share nothing: the bell, an empty answer, the box.
    EXPECT_EQ(console.Beeps(), 2);
    EXPECT_EQ(toolkit.messages.size(), 1u);
}

// HOME set to the scratch folder, and the current folder another one, for
// names that start with "~/".
class HomeFolderNames : public NameEntry {
protected:
    void SetUp() override {
        NameEntry::SetUp();
        const char* home = std::getenv("HOME");
        if (home != nullptr) savedHome_ = home;
        previousFolder_ = std::filesystem::current_path();
        std::filesystem::create_directory(folder_ / "here");
        std::filesystem::current_path(folder_ / "here");
        ::setenv("HOME", folder_.c_str(), 1);
    }
    void TearDown() override {
        std::filesystem::current_path(previousFolder_);
        if (savedHome_) {
            ::setenv("HOME", savedHome_->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
        NameEntry::TearDown();
    }

    WaveAnswer AskLeft(MemoryConsole& console) {
        RecordingToolkit toolkit(&console);
        const WaveAnswer answer =
            AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::AskAgainInPlace);
        boxes_ = toolkit.messages.size();
        return answer;
    }

    std::optional<std::string> savedHome_;
    std::filesystem::path previousFolder_;
    std::size_t boxes_ = 0;
};

TEST_F(HomeFolderNames, ATildeNameNotFoundAsTypedOpensInTheHomeFolder) {
    MemoryConsole console(28);
    console.AddText("~/take 1.wav");
    console.AddEnter();
    const WaveAnswer answer = AskLeft(console);
    EXPECT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.input.name, existing_);
    EXPECT_EQ(boxes_, 0u);
}

TEST_F(HomeFolderNames, AFolderNamedTildeHereWinsAsTyped) {
    std::filesystem::create_directory(folder_ / "here" / "~");
    WriteWave((folder_ / "here" / "~" / "take 1.wav").string());
    MemoryConsole console(28);
    console.AddText("~/take 1.wav");
    console.AddEnter();
    const WaveAnswer answer = AskLeft(console);
    EXPECT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.input.name, "~/take 1.wav");
}

TEST_F(HomeFolderNames, ATildeNameFoundNowhereIsRefused) {
    MemoryConsole console(28);
    console.AddText("~/absent.wav");
    console.AddEnter();
    console.AddEnter();  // closes the box
    console.AddKey(Ended(1));
    EXPECT_EQ(AskLeft(console).status, Answer::Status::Ended);
    EXPECT_EQ(boxes_, 1u);
}

TEST_F(HomeFolderNames, TabCompletesInTheHomeFolderAndKeepsTheTilde) {
    std::filesystem::create_directory(folder_ / "sub");
    MemoryConsole console(28);
    console.AddText("~/ta");
    console.AddTab();
    console.AddEnter();
    EXPECT_EQ(AskFileName(console, kRipPrompt, 8, kRipColumn).text, "~/take 1.wav");
    EXPECT_EQ(console.Beeps(), 0);

    MemoryConsole inFolder(28);
    inFolder.AddText("~/s");
    inFolder.AddTab();
    inFolder.AddEnter();
    EXPECT_EQ(AskFileName(inFolder, kRipPrompt, 8, kRipColumn).text, "~/sub/");
}

// Returns the row `prompt` and `answer` make from `column` on.
std::string AnswerRow(std::string_view prompt, int column, std::string_view answer) {
    std::string row(prompt);
    if (answer.empty()) return row;
    row.resize(static_cast<std::size_t>(column - 1), ' ');
    return row + std::string(answer);
}

// Each editing key as the user presses it (LineEditorTest holds the edits'
// edge cases): the text that Enter takes, the row that shows it, its cells,
// and the line after it wherever the cursor was.
TEST(AskFileName, EditsTheAnswerWhereTheCursorIs) {
    using K = Key::Kind;
    struct Step {
        const char* text = nullptr;   // typed, or
        K kind = K::Other;            // a key of this kind
        const char* paste = nullptr;  // or pasted
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::string answer;
    };
    const auto T = [](const char* text) { return Step{text, K::Other, nullptr}; };
    const auto P = [](const char* text) { return Step{nullptr, K::Other, text}; };
    const auto Press = [](K kind) { return Step{nullptr, kind, nullptr}; };
    const Case cases[] = {
        {"Home, then typing", {T("abcd"), Press(K::Home), T("X")}, "Xabcd"},
        {"Ctrl-A, then typing", {T("abcd"), Press(K::CtrlA), T("X")}, "Xabcd"},
        {"Left twice, then typing", {T("abcd"), Press(K::Left), Press(K::Left), T("XY")}, "abXYcd"},
        {"End and Ctrl-E go back",
         {T("ab"), Press(K::Home), Press(K::End), T("c"), Press(K::Home), Press(K::CtrlE), T("d")},
         "abcd"},
        {"Backspace inside", {T("abcd"), Press(K::Left), Press(K::Backspace)}, "abd"},
        {"Delete inside", {T("abcd"), Press(K::Home), Press(K::Delete)}, "bcd"},
        {"Ctrl-D inside", {T("abcd"), Press(K::Left), Press(K::CtrlD)}, "abc"},
        {"Ctrl-K", {T("abcd"), Press(K::Left), Press(K::Left), Press(K::CtrlK)}, "ab"},
        {"Ctrl-U", {T("abcd"), Press(K::Left), Press(K::CtrlU)}, "d"},
        {"Ctrl-W", {T("my take.wav"), Press(K::Left), Press(K::Left), Press(K::Left), Press(K::CtrlW)}, "my wav"},
        {"a paste inside", {T("a.wav"), Press(K::Home), P("takes/")}, "takes/a.wav"},
        {"Enter with the cursor at the start", {T("abcd"), Press(K::Home)}, "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(28);
        for (const Step& step : c.steps) {
            if (step.text != nullptr)
                console.AddText(step.text);
            else if (step.paste != nullptr)
                console.AddPaste(step.paste);
            else
                console.AddKey(step.kind);
        }
        console.AddEnter();
        const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
        ASSERT_EQ(answer.status, Answer::Status::Accepted);
        EXPECT_EQ(answer.text, c.answer);
        EXPECT_EQ(console.RowText(8), AnswerRow(kRipPrompt, kRipColumn, c.answer));
        EXPECT_EQ(answer.cells, c.answer.size());
        EXPECT_EQ(console.CursorRow(), 9);
        EXPECT_EQ(console.CursorColumn(), 1);
        EXPECT_EQ(console.Beeps(), 0);
    }
}

// A typo at the start of a path that wraps onto the next row: fixed there,
// the rest moves along both rows, and the next line still goes below all.
TEST(AskFileName, FixesATypoAtTheStartOfAWrappedAnswer) {
    MemoryConsole console(28);
    const std::string path = "/hmoe/me/recordings/2024/" + std::string(40, 'r') + "/take.wav";
    console.AddText(path);
    console.AddKey(Key::Kind::Home);
    console.AddKey(Key::Kind::Right, 2);
    console.AddKey(Key::Kind::Delete, 2);
    console.AddText("om");
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    const std::string fixed = "/home/me/recordings/2024/" + std::string(40, 'r') + "/take.wav";
    EXPECT_EQ(answer.text, fixed);
    EXPECT_EQ(console.RowText(8), AnswerRow(kLeftPrompt, kKnitColumn, fixed.substr(0, 52)));
    EXPECT_EQ(console.RowText(9), fixed.substr(52));
    EXPECT_EQ(answer.cells, fixed.size());
    EXPECT_EQ(console.CursorRow(), 10);
    EXPECT_EQ(console.CursorColumn(), 1);
}

// Ctrl-D ends the program as the end of input does, but only on an empty
// answer; the keys after it are not read.
TEST(AskFileName, CtrlDOnAnEmptyAnswerEndsLikeTheEndOfInput) {
    for (const bool typedFirst : {false, true}) {
        SCOPED_TRACE(typedFirst ? "after typing and erasing" : "at once");
        MemoryConsole console(28);
        (void)console.SetCursorVisible(false);
        if (typedFirst) {
            console.AddText("ab");
            console.AddKey(Key::Kind::CtrlU);
        }
        console.AddKey(Key::Kind::CtrlD);
        console.AddText("more");
        const Answer answer = AskFileName(console, kRipPrompt, 8, kRipColumn);
        EXPECT_EQ(answer.status, Answer::Status::Ended);
        EXPECT_EQ(answer.exitStatus, 1);
        EXPECT_EQ(console.KeysLeft(), 4u);
        EXPECT_FALSE(console.CursorVisible());
        EXPECT_FALSE(console.PasteMarking());
        EXPECT_TRUE(console.AnswerHistory().empty());
    }
}

// Up and Down walk the answers given earlier on the console, newest first,
// each shown whole in place of the one before; a recalled answer can be
// edited, and Down ends on what was being typed.
TEST(AskFileName, UpAndDownRecallTheAnswersGivenEarlier) {
    MemoryConsole console(28);
    int row = 8;
    for (const char* earlier : {"first.wav", "second one.wav"}) {
        console.AddText(earlier);
        console.AddEnter();
        ASSERT_EQ(AskFileName(console, kLeftPrompt, row++, kKnitColumn).text, earlier);
    }
    const auto ShowsAfter = [&](std::vector<Key::Kind> keys, const std::string& expected) {
        for (const Key::Kind kind : keys) console.AddKey(kind);
        console.AddEnter();
        const Answer answer = AskFileName(console, kRightPrompt, row, kKnitColumn);
        EXPECT_EQ(answer.text, expected);
        EXPECT_EQ(console.RowText(row), AnswerRow(kRightPrompt, kKnitColumn, expected));
        ++row;
    };
    using K = Key::Kind;
    console.AddText("dr");
    ShowsAfter({K::Up}, "second one.wav");
    ShowsAfter({K::Up}, "second one.wav");
    ShowsAfter({K::Up, K::Up, K::Up, K::Up}, "first.wav");
    // The history is now first, second one, first.
    ShowsAfter({K::Up, K::Up, K::Down}, "first.wav");
    console.AddText("dr");
    ShowsAfter({K::Up, K::Up, K::Down, K::Down}, "dr");
    ShowsAfter({K::Down}, "");
    ShowsAfter({K::Up, K::Home, K::Delete}, "r");
    EXPECT_EQ(console.AnswerHistory(),
              (std::vector<HistoryEntry>{
                  {"first.wav", false}, {"second one.wav", false}, {"first.wav", false}, {"dr", false}, {"r", false}}));
}

// The answer refused a moment ago comes back with Up, to be mended rather
// than typed again.
TEST_F(DialogueFiles, UpAfterARefusalBringsTheRefusedAnswerBack) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddText(missing_);
    console.AddEnter();
    console.AddEnter();  // closes the box
    console.AddKey(Key::Kind::Up);
    console.AddKey(Key::Kind::Backspace, std::string("absent.wav").size());
    console.AddText("take 1.wav");
    console.AddEnter();
    const WaveAnswer answer =
        AskWaveFile(console, toolkit, kRightPrompt, 9, kKnitColumn, 1, RetryPolicy::AskAgainInPlace);
    EXPECT_EQ(answer.status, Answer::Status::Accepted);
    EXPECT_EQ(answer.input.name, existing_);
    EXPECT_EQ(toolkit.messages, std::vector<std::string>{std::string(kFileNotFoundMessage)});
    EXPECT_EQ(console.RowText(9), AnswerRow(kRightPrompt, kKnitColumn, existing_).substr(0, 80));
}

// A dropped file recalled as it was still opens as the shell word it is;
// once edited it is typed text, taken as it stands.
TEST_F(NameEntry, ARecalledPasteIsStillAPaste) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.AddPaste("'" + existing_ + "'");
    console.AddEnter();
    ASSERT_EQ(AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart).input.name,
              existing_);
    console.AddKey(Key::Kind::Up);
    console.AddEnter();
    EXPECT_EQ(AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart).input.name,
              existing_);
    console.AddKey(Key::Kind::Up);
    console.AddKey(Key::Kind::Backspace);
    console.AddText("'");
    console.AddEnter();
    console.AddEnter();  // closes the box
    EXPECT_EQ(AskWaveFile(console, toolkit, kLeftPrompt, 8, kKnitColumn, 1, RetryPolicy::Restart).status,
              Answer::Status::Refused);
}

TEST_F(NameEntry, TabCompletesTheTextBeforeTheCursor) {
    MemoryConsole console(28);
    console.AddText(Path("ta") + "-2");
    console.AddKey(Key::Kind::Left, 2);
    console.AddTab();
    console.AddEnter();
    const Answer answer = AskFileName(console, kLeftPrompt, 8, kKnitColumn);
    EXPECT_EQ(answer.text, existing_ + "-2");
    EXPECT_EQ(console.Beeps(), 0);
}

// A job that reports, in its first phase, `reports` progress values each
// after the console's clock moved on, and notes the step row each time.
class ProgressJob final : public Job {
public:
    struct Report {
        double secondsLater;
        uint64_t done;
    };
    ProgressJob(MemoryConsole& console, int stepRow, std::vector<Report> reports)
        : console_(console), stepRow_(stepRow), reports_(std::move(reports)) {}
    JobResult MoveSamples(JobMonitor& monitor) override {
        for (const Report& report : reports_) {
            console_.AdvanceClock(report.secondsLater);
            monitor.Progress(report.done, kTotal);
            rows.push_back(console_.RowText(stepRow_));
            cursors.emplace_back(console_.CursorRow(), console_.CursorColumn());
        }
        return {};
    }
    JobResult CommitOutputs(JobMonitor&) override { return {}; }
    std::vector<std::string> CommittedOutputs() const override { return {}; }

    static constexpr uint64_t kTotal = 2000;
    std::vector<std::string> rows;
    std::vector<std::pair<int, int>> cursors;

private:
    MemoryConsole& console_;
    int stepRow_;
    std::vector<Report> reports_;
};

// The percentage shows only once the step has run for over a second, is
// rewritten only when it changes, keeps the cursor where it was, and goes
// before "   Done".
TEST(RunJobPhase, ShowsTheStepsPercentageAfterASecondAndTakesItOffWhenDone) {
    MemoryConsole console(28);
    RecordingToolkit toolkit(&console);
    console.MoveCursor(13, 1);
    console.AddText("k");
    ProgressJob job(console, 17, {{0.0, 0}, {1.0, 500}, {0.25, 840}, {0.25, 841}, {1.0, 2000}});
    const std::string step = "   Reading input files...";

    EXPECT_EQ(RunJobPhase(console, toolkit, step, job), 0);
    EXPECT_EQ(job.rows, (std::vector<std::string>{step, step, step + "  42%", step + "  42%", step + " 100%"}));
    for (const auto& cursor : job.cursors) EXPECT_EQ(cursor, std::make_pair(18, 1));
    EXPECT_EQ(console.RowText(17), step);
    EXPECT_EQ(console.RowText(18), "   Done");
    EXPECT_EQ(console.RowText(20), "   Writing output files...");
    ExpectColour(console, 17, 1, 25, kDarkGrey);
}

// What the shell keeps after the run: a line per output put in place, then
// the error of a failure without its blanks; control characters in a name
// are shown as "?", and a stop leaves nothing.
TEST(RunJobPhase, LeavesInTheShellWhatTheJobWrote) {
    const IoError full{IoError::Operation::Write, "take1 right channel.wav", ENOSPC, {}};
    using Line = MemoryConsole::ShellLine;
    struct Case {
        const char* name;
        std::vector<std::string> committed;
        JobResult move;
        JobResult commit;
        std::vector<Line> lines;
    };
    const Case cases[] = {
        {"both written",
         {"take1 left channel.wav", "take1 right channel.wav"},
         {},
         {},
         {{ShellStream::Output, "wrote 'take1 left channel.wav'"},
          {ShellStream::Output, "wrote 'take1 right channel.wav'"}}},
        {"one written, then a failure",
         {"take1 left channel.wav"},
         {},
         {full, 0},
         {{ShellStream::Output, "wrote 'take1 left channel.wav'"},
          {ShellStream::Error, "Cannot write 'take1 right channel.wav': No space left on device"}}},
        {"failure while moving",
         {},
         {full, 0},
         {},
         {{ShellStream::Error, "Cannot write 'take1 right channel.wav': No space left on device"}}},
        {"control characters",
         {"a\x1B[2J\x07"
          "b\xC2\x9B.wav"},
         {},
         {},
         {{ShellStream::Output, "wrote 'a?[2J?b?.wav'"}}},
        {"stopped", {}, {{}, 130}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console(28);
        RecordingToolkit toolkit(&console);
        console.AddEnter();
        console.AddText("k");
        ScriptedJob job;
        job.committed = c.committed;
        job.move = c.move;
        job.commit = c.commit;
        (void)RunJobPhase(console, toolkit, "   Reading input files...", job);
        EXPECT_EQ(console.ShellLines(), c.lines);
    }
}

}  // namespace
}  // namespace stereotools
