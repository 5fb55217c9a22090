#include "console/LineEditor.h"

#include "support/MemoryConsole.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace stereotools {
namespace {

constexpr const char* kWide = "\xE4\xB8\xAD";  // 中, two cells

// Returns `text` as characters of one cell each (ASCII).
std::vector<AnswerCharacter> Narrow(const std::string& text) {
    std::vector<AnswerCharacter> characters;
    for (char c : text) characters.push_back({std::string(1, c), 1});
    return characters;
}

LineEditor EditorWith(const std::string& text, std::size_t cursor) {
    LineEditor editor;
    editor.Insert(Narrow(text));
    while (editor.Cursor() > cursor) editor.MoveLeft();
    return editor;
}

// Every key's edit on "ab cd" with the cursor at its start, in its middle
// (after "ab") and at its end.
TEST(LineEditor, EditsAtTheStartTheMiddleAndTheEnd) {
    struct Case {
        const char* name;
        std::function<bool(LineEditor&)> edit;
        std::size_t cursor;
        const char* text;  // after the edit
        std::size_t cursorAfter;
        bool changed;  // what the edit returns
    };
    const auto insertX = [](LineEditor& e) { return e.Insert(Narrow("X")) == 1; };
    const auto left = [](LineEditor& e) { return e.MoveLeft(); };
    const auto right = [](LineEditor& e) { return e.MoveRight(); };
    const auto start = [](LineEditor& e) { return e.MoveToStart(); };
    const auto end = [](LineEditor& e) { return e.MoveToEnd(); };
    const auto backspace = [](LineEditor& e) { return e.DeleteBefore(); };
    const auto del = [](LineEditor& e) { return e.DeleteAt(); };
    const auto toEnd = [](LineEditor& e) { return e.DeleteToEnd(); };
    const auto toStart = [](LineEditor& e) { return e.DeleteToStart(); };
    const auto word = [](LineEditor& e) { return e.DeleteWordBefore(); };
    const Case cases[] = {
        {"insert at start", insertX, 0, "Xab cd", 1, true},
        {"insert in middle", insertX, 2, "abX cd", 3, true},
        {"insert at end", insertX, 5, "ab cdX", 6, true},
        {"left at start", left, 0, "ab cd", 0, false},
        {"left in middle", left, 2, "ab cd", 1, true},
        {"right in middle", right, 2, "ab cd", 3, true},
        {"right at end", right, 5, "ab cd", 5, false},
        {"home from middle", start, 2, "ab cd", 0, true},
        {"home at start", start, 0, "ab cd", 0, false},
        {"end from middle", end, 2, "ab cd", 5, true},
        {"end at end", end, 5, "ab cd", 5, false},
        {"backspace at start", backspace, 0, "ab cd", 0, false},
        {"backspace in middle", backspace, 2, "a cd", 1, true},
        {"backspace at end", backspace, 5, "ab c", 4, true},
        {"delete at start", del, 0, "b cd", 0, true},
        {"delete in middle", del, 2, "abcd", 2, true},
        {"delete at end", del, 5, "ab cd", 5, false},
        {"ctrl-k at start", toEnd, 0, "", 0, true},
        {"ctrl-k in middle", toEnd, 2, "ab", 2, true},
        {"ctrl-k at end", toEnd, 5, "ab cd", 5, false},
        {"ctrl-u at start", toStart, 0, "ab cd", 0, false},
        {"ctrl-u in middle", toStart, 2, " cd", 0, true},
        {"ctrl-u at end", toStart, 5, "", 0, true},
        {"ctrl-w at start", word, 0, "ab cd", 0, false},
        {"ctrl-w in middle", word, 2, " cd", 0, true},
        {"ctrl-w at end", word, 5, "ab ", 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineEditor editor = EditorWith("ab cd", c.cursor);
        EXPECT_EQ(c.edit(editor), c.changed);
        EXPECT_EQ(editor.Text(), c.text);
        EXPECT_EQ(editor.Cursor(), c.cursorAfter);
    }
}

// As the shell's Ctrl-W: the blanks before the cursor go with the word
// before them; a "/" is part of a word.
TEST(LineEditor, CtrlWTakesBlanksThenTheWordBeforeThem) {
    LineEditor editor = EditorWith("my takes/take 1  .wav", 16);
    ASSERT_EQ(editor.TextBeforeCursor(), "my takes/take 1 ");
    EXPECT_TRUE(editor.DeleteWordBefore());
    EXPECT_EQ(editor.Text(), "my takes/take  .wav");
    EXPECT_TRUE(editor.DeleteWordBefore());
    EXPECT_EQ(editor.Text(), "my  .wav");
    EXPECT_EQ(editor.Cursor(), 3u);
}

TEST(LineEditor, TakesNoMoreThanItsLimitWhereverTheCursorIs) {
    LineEditor editor(5);
    EXPECT_EQ(editor.Insert(Narrow("abc")), 3u);
    editor.MoveToStart();
    EXPECT_EQ(editor.Insert(Narrow("XYZ")), 2u);
    EXPECT_EQ(editor.Text(), "XYabc");
    EXPECT_EQ(editor.Cursor(), 2u);
    EXPECT_EQ(editor.Insert(Narrow("Q")), 0u);
    editor.Replace(Narrow("0123456789"));
    EXPECT_EQ(editor.Text(), "01234");
    EXPECT_EQ(editor.Cursor(), 5u);
}

// What an echo must rewrite: from the first character an edit touched.
TEST(LineEditor, KeepsTheFirstChangeUntilItIsTaken) {
    LineEditor editor;
    editor.Insert(Narrow("abcdef"));
    EXPECT_EQ(editor.TakeFirstChange(), 0u);
    EXPECT_EQ(editor.TakeFirstChange(), 6u) << "nothing changed since";
    editor.MoveToStart();
    editor.MoveRight();
    EXPECT_EQ(editor.TakeFirstChange(), 6u) << "moves change no character";
    editor.DeleteAt();
    editor.MoveToEnd();
    editor.DeleteBefore();
    EXPECT_EQ(editor.TakeFirstChange(), 1u) << "the lower of two edits";
    editor.Replace(Narrow("acdXY"));
    EXPECT_EQ(editor.TakeFirstChange(), 3u) << "a recalled text changes only where it differs";
}

TEST(AddToHistory, KeepsAnswersOldestFirstWithoutEmptyOnesOrRepeats) {
    std::vector<HistoryEntry> history;
    AddToHistory(history, {"a.wav", false});
    AddToHistory(history, {"", false});
    AddToHistory(history, {"b.wav", true});
    AddToHistory(history, {"b.wav", false});
    AddToHistory(history, {"a.wav", false});
    EXPECT_EQ(history, (std::vector<HistoryEntry>{{"a.wav", false}, {"b.wav", true}, {"a.wav", false}}));
}

// Up goes from the newest to the oldest and stops there; Down comes back and
// ends on what was being typed, which Up kept.
TEST(HistoryWalk, StepsNewestFirstAndBackToTheAnswerBeingTyped) {
    const std::vector<HistoryEntry> history = {{"old.wav", false}, {"'new .wav'", true}};
    HistoryWalk walk(history);
    EXPECT_EQ(walk.Newer(), std::nullopt);
    EXPECT_EQ(walk.Older({"half", false}), (HistoryEntry{"'new .wav'", true}));
    EXPECT_EQ(walk.Older({"'new .wav' edited", false}), (HistoryEntry{"old.wav", false}));
    EXPECT_EQ(walk.Older({"old.wav", false}), std::nullopt);
    EXPECT_EQ(walk.Newer(), (HistoryEntry{"'new .wav'", true})) << "an edit to a recalled answer is dropped";
    EXPECT_EQ(walk.Newer(), (HistoryEntry{"half", false}));
    EXPECT_EQ(walk.Newer(), std::nullopt);

    const std::vector<HistoryEntry> none;
    HistoryWalk empty(none);
    EXPECT_EQ(empty.Older({"typed", false}), std::nullopt);
}

// An echo from column 29 of row 8 on a 10-row console: 52 cells fit on the
// first row, 80 on each row after it.
class AnswerEchoTest : public testing::Test {
protected:
    static constexpr int kRow = 8;
    static constexpr int kColumn = 29;

    void SetUp() override { console.MoveCursor(kRow, kColumn); }
    void Type(const std::string& text) {
        editor.Insert(ToAnswerCharacters(console, text));
        echo.Show(editor);
    }
    // Returns what the echo shows: from the first cell to its last, rows joined.
    std::string Shown() const {
        std::string text;
        for (int row = kRow; row <= console.Rows(); ++row) {
            const std::string line = console.RowText(row);
            text += row == kRow ? (line.size() >= kColumn ? line.substr(kColumn - 1) : "") : line;
        }
        return text;
    }

    MemoryConsole console{10};
    LineEditor editor;
    AnswerEcho echo{console, kRow, kColumn};
};

TEST_F(AnswerEchoTest, RewritesTheRestAfterAnEditInTheMiddleAndPutsTheCursorOnIt) {
    Type("abcdef");
    editor.MoveToStart();
    editor.MoveRight();
    editor.MoveRight();
    Type("XY");
    EXPECT_EQ(console.RowText(kRow), std::string(kColumn - 1, ' ') + "abXYcdef");
    EXPECT_EQ(console.CursorColumn(), kColumn + 4);
    editor.DeleteToEnd();
    echo.Show(editor);
    EXPECT_EQ(console.RowText(kRow), std::string(kColumn - 1, ' ') + "abXY");
    EXPECT_EQ(echo.Cells(), 4u);
    EXPECT_EQ(console.CursorColumn(), kColumn + 4);
}

// Characters move across the wrap both ways, the row below empties when the
// text shrinks back onto one row, and the cursor follows its character.
TEST_F(AnswerEchoTest, MovesCharactersAcrossTheWrap) {
    const std::string text = std::string(51, 'a') + "bc";
    Type(text);
    ASSERT_EQ(console.RowText(kRow + 1), "c");
    editor.MoveToStart();
    Type("X");
    EXPECT_EQ(console.At(kRow, 80).character, U'a');
    EXPECT_EQ(console.RowText(kRow + 1), "bc");
    EXPECT_EQ(Shown(), "X" + text);
    editor.MoveToEnd();
    editor.MoveLeft();
    echo.Show(editor);
    EXPECT_EQ(console.CursorRow(), kRow + 1);
    EXPECT_EQ(console.CursorColumn(), 2);
    editor.MoveToStart();
    editor.DeleteAt();
    editor.DeleteAt();
    echo.Show(editor);
    EXPECT_EQ(Shown(), text.substr(1));
    EXPECT_EQ(console.RowText(kRow + 1), "");
    EXPECT_EQ(echo.Cells(), 52u);
    EXPECT_EQ(echo.EndRow(), kRow + 1);
    EXPECT_EQ(console.CursorRow(), kRow);
    EXPECT_EQ(console.CursorColumn(), kColumn);
}

// A wide character moved into column 80 starts the next row instead, and
// column 80 no longer shows the character that stood there; moved back, it
// leaves no half behind.
TEST_F(AnswerEchoTest, WrapsAWideCharacterMovedIntoColumn80Early) {
    Type(std::string(51, 'a') + "b" + kWide + "z");
    ASSERT_EQ(console.At(kRow, 80).character, U'b');
    ASSERT_EQ(console.At(kRow + 1, 1).character, U'\u4E2D');
    editor.MoveLeft();
    editor.MoveLeft();
    editor.MoveLeft();
    editor.DeleteAt();
    echo.Show(editor);
    EXPECT_EQ(console.At(kRow, 80).character, U' ');
    EXPECT_EQ(console.At(kRow + 1, 1).character, U'\u4E2D');
    EXPECT_TRUE(console.At(kRow + 1, 2).continuation);
    EXPECT_EQ(console.At(kRow + 1, 3).character, U'z');
    EXPECT_EQ(echo.Cells(), 55u);
    editor.DeleteBefore();
    echo.Show(editor);
    EXPECT_EQ(console.At(kRow, 79).character, U'\u4E2D');
    EXPECT_TRUE(console.At(kRow, 80).continuation);
    EXPECT_EQ(console.RowText(kRow + 1), "z");
    EXPECT_EQ(echo.Cells(), 53u);
    EXPECT_EQ(console.CursorColumn(), 79);
}

// Text pushed past the last row scrolls the window; later edits still land
// on the right cells.
TEST_F(AnswerEchoTest, KeepsItsPlaceWhenAnEditScrollsTheWindow) {
    Type(std::string(52 + 2 * 80 - 1, 'a'));
    ASSERT_EQ(console.CursorRow(), 10);
    ASSERT_EQ(console.CursorColumn(), 80);
    editor.MoveToStart();
    Type("XY");
    EXPECT_EQ(console.RowText(10), "a");
    EXPECT_EQ(console.RowText(7).substr(kColumn - 1, 3), "XYa");
    EXPECT_EQ(console.CursorRow(), 7);
    EXPECT_EQ(console.CursorColumn(), kColumn + 2);
    editor.MoveToEnd();
    editor.DeleteBefore();
    echo.Show(editor);
    EXPECT_EQ(console.RowText(10), "");
    EXPECT_EQ(console.CursorRow(), 10);
    EXPECT_EQ(console.CursorColumn(), 1);
}

}  // namespace
}  // namespace stereotools
