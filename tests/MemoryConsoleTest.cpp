#include "console/MemoryConsole.h"

#include <gtest/gtest.h>

#include <string>

namespace stereotools {
namespace {

constexpr const char* kWide = "\xE4\xB8\xAD";  // 中, two cells

TEST(MemoryConsoleWrite, PutsCharactersInTheCurrentColours) {
    MemoryConsole console(5);
    console.MoveCursor(2, 3);
    console.SetColours(kDarkGrey, kBrightWhite);
    console.Write("ab");
    EXPECT_EQ(console.At(2, 3).character, U'a');
    EXPECT_EQ(console.At(2, 4).character, U'b');
    EXPECT_EQ(console.At(2, 4).foreground, kDarkGrey);
    EXPECT_EQ(console.At(2, 4).background, kBrightWhite);
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 5);
    EXPECT_EQ(console.RowText(2), "  ab");
}

TEST(MemoryConsoleWrite, WrapsAtOnceAfterColumn80) {
    MemoryConsole console(5);
    console.MoveCursor(2, 71);
    console.Write(std::string(10, 'x'));
    EXPECT_EQ(console.At(2, 80).character, U'x');
    EXPECT_EQ(console.CursorRow(), 3);
    EXPECT_EQ(console.CursorColumn(), 1);
    console.Write("yz");
    EXPECT_EQ(console.RowText(3), "yz");
}

TEST(MemoryConsoleWrite, ScrollsWhenColumn80OfTheLastRowFills) {
    MemoryConsole console(3);
    console.Write("top");
    console.MoveCursor(3, 1);
    console.SetColours(kDarkGrey, kBrightWhite);
    console.Write(std::string(80, 'L'));
    EXPECT_EQ(console.CursorRow(), 3);
    EXPECT_EQ(console.CursorColumn(), 1);
    EXPECT_EQ(console.RowText(1), "");
    EXPECT_EQ(console.RowText(2), std::string(80, 'L'));
    EXPECT_EQ(console.RowText(3), "");
    EXPECT_EQ(console.At(3, 1).foreground, kDarkGrey);
}

TEST(MemoryConsoleWrite, ShowsEachInvalidByteAsOneReplacementCell) {
    MemoryConsole console(2);
    console.Write("a\xFF\xE2\x82z");
    EXPECT_EQ(console.At(1, 2).character, U'\uFFFD');
    EXPECT_EQ(console.At(1, 3).character, U'\uFFFD');
    EXPECT_EQ(console.At(1, 4).character, U'\uFFFD');
    EXPECT_EQ(console.At(1, 5).character, U'z');
    EXPECT_EQ(console.CursorColumn(), 6);
}

TEST(MemoryConsoleWide, TakesTwoCells) {
    MemoryConsole console(3);
    console.Write(std::string("a") + kWide + "b");
    EXPECT_EQ(console.At(1, 2).character, U'\u4E2D');
    EXPECT_FALSE(console.At(1, 2).continuation);
    EXPECT_TRUE(console.At(1, 3).continuation);
    EXPECT_EQ(console.At(1, 4).character, U'b');
    EXPECT_EQ(console.CursorColumn(), 5);
    EXPECT_EQ(console.RowText(1), std::string("a") + kWide + "b");
}

TEST(MemoryConsoleWide, FillsColumns79And80ThenWraps) {
    MemoryConsole console(3);
    console.MoveCursor(1, 79);
    console.Write(kWide);
    EXPECT_EQ(console.At(1, 79).character, U'\u4E2D');
    EXPECT_TRUE(console.At(1, 80).continuation);
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 1);
}

TEST(MemoryConsoleWide, WrapsBeforeStartingInColumn80) {
    MemoryConsole console(3);
    console.MoveCursor(1, 80);
    console.Write("q");
    console.MoveCursor(1, 80);
    console.Write(kWide);
    EXPECT_EQ(console.At(1, 80).character, U'q');
    EXPECT_EQ(console.At(2, 1).character, U'\u4E2D');
    EXPECT_TRUE(console.At(2, 2).continuation);
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 3);
}

TEST(MemoryConsoleWide, WrappingFromColumn80OfTheLastRowScrolls) {
    MemoryConsole console(2);
    console.MoveCursor(2, 80);
    console.Write(std::string("q"));
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 1);
    EXPECT_EQ(console.At(1, 80).character, U'q');
    console.MoveCursor(2, 80);
    console.Write(kWide);
    EXPECT_EQ(console.At(1, 80).character, U' ');
    EXPECT_EQ(console.At(2, 1).character, U'\u4E2D');
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 3);
}

TEST(MemoryConsoleWide, OverwritingEitherHalfBlanksTheOther) {
    MemoryConsole console(2);
    console.Write(kWide);
    console.MoveCursor(1, 2);
    console.Write("r");
    EXPECT_EQ(console.At(1, 1).character, U' ');
    EXPECT_EQ(console.At(1, 2).character, U'r');

    console.MoveCursor(2, 5);
    console.Write(kWide);
    console.MoveCursor(2, 5);
    console.Write("l");
    EXPECT_EQ(console.At(2, 5).character, U'l');
    EXPECT_FALSE(console.At(2, 6).continuation);
    EXPECT_EQ(console.RowText(2), "    l");
}

TEST(MemoryConsoleLineBreak, GoesToColumn1OfTheNextRow) {
    MemoryConsole console(3);
    console.MoveCursor(1, 40);
    console.LineBreak();
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 1);
}

TEST(MemoryConsoleLineBreak, ScrollsOnTheLastRowInTheCurrentColours) {
    MemoryConsole console(3);
    console.Write("one");
    console.LineBreak();
    console.Write("two");
    console.LineBreak();
    console.Write("three");
    console.SetColours(kDarkGrey, kBrightWhite);
    console.LineBreak();
    EXPECT_EQ(console.CursorRow(), 3);
    EXPECT_EQ(console.CursorColumn(), 1);
    EXPECT_EQ(console.RowText(1), "two");
    EXPECT_EQ(console.RowText(2), "three");
    EXPECT_EQ(console.RowText(3), "");
    EXPECT_EQ(console.At(3, 80).foreground, kDarkGrey);
    EXPECT_EQ(console.At(2, 1).foreground, kBlack);
}

TEST(MemoryConsoleClear, BlanksEveryCellInTheCurrentColoursAndHomesTheCursor) {
    MemoryConsole console(4);
    console.MoveCursor(3, 7);
    console.Write("text");
    console.SetColours(kDarkGrey, kBrightWhite);
    console.Clear();
    EXPECT_EQ(console.CursorRow(), 1);
    EXPECT_EQ(console.CursorColumn(), 1);
    for (int row = 1; row <= 4; ++row) {
        for (int column = 1; column <= kWindowColumns; ++column) {
            const MemoryConsole::Cell& cell = console.At(row, column);
            ASSERT_EQ(cell.character, U' ');
            ASSERT_EQ(cell.foreground, kDarkGrey);
            ASSERT_EQ(cell.background, kBrightWhite);
        }
    }
}

TEST(MemoryConsoleCursor, MoveClampsToTheWindow) {
    MemoryConsole console(4);
    console.MoveCursor(9, 99);
    EXPECT_EQ(console.CursorRow(), 4);
    EXPECT_EQ(console.CursorColumn(), kWindowColumns);
    console.MoveCursor(0, -3);
    EXPECT_EQ(console.CursorRow(), 1);
    EXPECT_EQ(console.CursorColumn(), 1);
}

TEST(MemoryConsoleCursor, VisibilityReportsTheEarlierState) {
    MemoryConsole console;
    EXPECT_TRUE(console.SetCursorVisible(false));
    EXPECT_FALSE(console.CursorVisible());
    EXPECT_FALSE(console.SetCursorVisible(true));
    EXPECT_TRUE(console.CursorVisible());
}

TEST(MemoryConsoleRows, SetRowsKeepsTheTopRowsAndClampsTheCursor) {
    MemoryConsole console(3);
    console.Write("kept");
    console.MoveCursor(3, 5);
    console.SetRows(2);
    EXPECT_EQ(console.Rows(), 2);
    EXPECT_EQ(console.CursorRow(), 2);
    console.SetRows(6);
    EXPECT_EQ(console.RowText(1), "kept");
    EXPECT_EQ(console.RowText(6), "");
    console.MoveCursor(6, 1);
    console.Write("z");
    EXPECT_EQ(console.At(6, 1).character, U'z');
}

TEST(MemoryConsoleKeys, ReturnsScriptedKeysThenEndedForever) {
    MemoryConsole console;
    console.AddText("a\xC3\xA9");
    console.AddEnter();
    console.AddBackspace();
    const Key a = console.ReadKey();
    EXPECT_EQ(a.kind, Key::Kind::Character);
    EXPECT_EQ(a.character, U'a');
    EXPECT_EQ(a.bytes, "a");
    const Key e = console.ReadKey();
    EXPECT_EQ(e.character, U'\u00E9');
    EXPECT_EQ(e.bytes, "\xC3\xA9");
    EXPECT_EQ(console.ReadKey().kind, Key::Kind::Enter);
    EXPECT_EQ(console.ReadKey().kind, Key::Kind::Backspace);
    for (int i = 0; i < 3; ++i) {
        const Key ended = console.ReadKey();
        EXPECT_EQ(ended.kind, Key::Kind::Ended);
        EXPECT_EQ(ended.exitStatus, 1);
    }
}

TEST(MemoryConsoleKeys, AScriptedEndedStaysEndedWithItsStatus) {
    MemoryConsole console;
    Key hangup;
    hangup.kind = Key::Kind::Ended;
    hangup.exitStatus = 129;
    console.AddKey(hangup);
    console.AddText("x");
    EXPECT_EQ(console.ReadKey().exitStatus, 129);
    const Key next = console.ReadKey();
    EXPECT_EQ(next.kind, Key::Kind::Ended);
    EXPECT_EQ(next.exitStatus, 129);
}

TEST(MemoryConsoleKeys, AddTextKeepsInvalidBytesAsTheirOwnKeys) {
    MemoryConsole console;
    console.AddText("\xFF" "b");
    const Key invalid = console.ReadKey();
    EXPECT_EQ(invalid.character, U'\uFFFD');
    EXPECT_EQ(invalid.bytes, "\xFF");
    EXPECT_EQ(console.ReadKey().bytes, "b");
}

TEST(RecordingToolkit, MessageBoxClosesOnlyOnEnterSpaceEscapeOrEnded) {
    struct Case {
        const char* name;
        Key closer;
    };
    Key enter;
    enter.kind = Key::Kind::Enter;
    Key space;
    space.kind = Key::Kind::Character;
    space.character = U' ';
    space.bytes = " ";
    Key escape;
    escape.kind = Key::Kind::Escape;
    Key ended;
    ended.kind = Key::Kind::Ended;
    const Case kCases[] = {{"Enter", enter}, {"Space", space}, {"Escape", escape}, {"Ended", ended}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console;
        RecordingToolkit toolkit(&console);
        console.AddText("xy");
        Key arrow;
        arrow.kind = Key::Kind::Other;
        console.AddKey(arrow);
        console.AddBackspace();
        console.AddKey(c.closer);
        console.AddText("after");
        toolkit.ConsoleMessageBox("message", 0, "caption", 0, 0);
        EXPECT_EQ(console.KeysRead(), 5u);
        EXPECT_EQ(toolkit.messages, std::vector<std::string>{"message"});
        EXPECT_EQ(toolkit.calls, std::vector<std::string>{"ConsoleMessageBox(message, 0, caption, 0, 0)"});
    }
}

TEST(RecordingToolkit, MessageBoxWithoutConsoleReturnsAtOnce) {
    RecordingToolkit toolkit;
    toolkit.ConsoleMessageBox("m", 0, "c", 0, 0);
    EXPECT_EQ(toolkit.captions, std::vector<std::string>{"c"});
}

}  // namespace
}  // namespace stereotools
