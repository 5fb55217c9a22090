#include "console/CellGrid.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace stereotools {
namespace {

constexpr const char* kWide = "\xE4\xB8\xAD";  // 中, two cells
constexpr char32_t kWideCharacter = U'\u4E2D';

TEST(CellGridWrite, PutsCharactersInTheCurrentColoursAndAdvances) {
    CellGrid grid(5);
    grid.MoveCursor(2, 3);
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.Write("ab");
    EXPECT_EQ(grid.At(2, 3), (GridCell{U'a', kDarkGrey, kBrightWhite, false}));
    EXPECT_EQ(grid.At(2, 4), (GridCell{U'b', kDarkGrey, kBrightWhite, false}));
    EXPECT_EQ(grid.At(2, 5), GridCell{});
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 5);
    EXPECT_EQ(grid.RowText(2), "  ab");
}

TEST(CellGridWrite, WrapsAtOnceWhenColumn80Fills) {
    CellGrid grid(5);
    grid.MoveCursor(2, 71);
    grid.Write(std::string(10, 'x'));
    EXPECT_EQ(grid.At(2, 80).character, U'x');
    // The cursor is on the next row before anything is written there.
    EXPECT_EQ(grid.CursorRow(), 3);
    EXPECT_EQ(grid.CursorColumn(), 1);
    EXPECT_EQ(grid.RowText(3), "");
    grid.Write("yz");
    EXPECT_EQ(grid.RowText(3), "yz");
}

TEST(CellGridWrite, Column79LeavesTheCursorOnItsRow) {
    CellGrid grid(3);
    grid.Write(std::string(79, 'x'));
    EXPECT_EQ(grid.CursorRow(), 1);
    EXPECT_EQ(grid.CursorColumn(), 80);
}

TEST(CellGridWrite, FillingColumn80OfTheLastRowScrollsAtOnce) {
    CellGrid grid(3);
    grid.Write("top");
    grid.MoveCursor(3, 1);
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.Write(std::string(80, 'L'));
    EXPECT_EQ(grid.CursorRow(), 3);
    EXPECT_EQ(grid.CursorColumn(), 1);
    EXPECT_EQ(grid.RowText(1), "");
    EXPECT_EQ(grid.RowText(2), std::string(80, 'L'));
    EXPECT_EQ(grid.RowText(3), "");
    EXPECT_EQ(grid.At(3, 1).foreground, kDarkGrey);
    EXPECT_EQ(grid.At(3, 80).foreground, kDarkGrey);
}

TEST(CellGridWrite, ShowsEachInvalidByteAsOneReplacementCell) {
    CellGrid grid(2);
    grid.Write("a\xFF\xE2\x82z");
    EXPECT_EQ(grid.At(1, 2).character, U'\uFFFD');
    EXPECT_EQ(grid.At(1, 3).character, U'\uFFFD');
    EXPECT_EQ(grid.At(1, 4).character, U'\uFFFD');
    EXPECT_EQ(grid.At(1, 5).character, U'z');
    EXPECT_EQ(grid.CursorColumn(), 6);
}

TEST(CellGridWrite, MeasuresCharactersTheSameWhateverTheLocale) {
    // In the C locale wcwidth knows no wide characters; the grid must not care.
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    CellGrid grid(2);
    grid.Write(std::string(kWide) + "\xF0\x9F\x8C\xA1");  // 中 and the thermometer, shown as text
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_TRUE(grid.At(1, 2).continuation);
    EXPECT_EQ(grid.At(1, 3).character, U'\U0001F321');
    EXPECT_EQ(grid.CursorColumn(), 4);
}

TEST(CellGridWide, TakesTwoCells) {
    CellGrid grid(3);
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.Write(std::string("a") + kWide + "b");
    EXPECT_EQ(grid.At(1, 2), (GridCell{kWideCharacter, kDarkGrey, kBrightWhite, false}));
    EXPECT_EQ(grid.At(1, 3), (GridCell{U' ', kDarkGrey, kBrightWhite, true}));
    EXPECT_EQ(grid.At(1, 4).character, U'b');
    EXPECT_EQ(grid.CursorColumn(), 5);
    EXPECT_EQ(grid.RowText(1), std::string("a") + kWide + "b");
}

TEST(CellGridWide, FillsColumns79And80ThenWraps) {
    CellGrid grid(3);
    grid.MoveCursor(1, 79);
    grid.Write(kWide);
    EXPECT_EQ(grid.At(1, 79).character, kWideCharacter);
    EXPECT_TRUE(grid.At(1, 80).continuation);
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 1);
}

TEST(CellGridWide, WrapsBeforeStartingInColumn80) {
    CellGrid grid(3);
    grid.MoveCursor(1, 80);
    grid.Write("q");
    grid.MoveCursor(1, 80);
    grid.Write(kWide);
    EXPECT_EQ(grid.At(1, 80).character, U'q');
    EXPECT_EQ(grid.At(2, 1).character, kWideCharacter);
    EXPECT_TRUE(grid.At(2, 2).continuation);
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 3);
}

TEST(CellGridWide, WrappingFromColumn80OfTheLastRowScrolls) {
    CellGrid grid(2);
    grid.MoveCursor(2, 80);
    grid.Write("q");
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 1);
    EXPECT_EQ(grid.At(1, 80).character, U'q');
    grid.MoveCursor(2, 80);
    grid.Write(kWide);
    EXPECT_EQ(grid.At(1, 80).character, U' ');
    EXPECT_EQ(grid.At(2, 1).character, kWideCharacter);
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 3);
}

TEST(CellGridWide, ScrollingKeepsBothHalves) {
    CellGrid grid(2);
    grid.MoveCursor(2, 5);
    grid.Write(kWide);
    grid.LineBreak();
    EXPECT_EQ(grid.At(1, 5).character, kWideCharacter);
    EXPECT_TRUE(grid.At(1, 6).continuation);
    EXPECT_EQ(grid.RowText(2), "");
}

TEST(CellGridWide, OverwritingTheRightHalfBlanksTheLeftInItsOwnColours) {
    CellGrid grid(2);
    grid.Write(kWide);
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.MoveCursor(1, 2);
    grid.Write("r");
    EXPECT_EQ(grid.At(1, 1), (GridCell{U' ', kBlack, kBrightWhite, false}));
    EXPECT_EQ(grid.At(1, 2), (GridCell{U'r', kDarkGrey, kBrightWhite, false}));
    EXPECT_EQ(grid.RowText(1), " r");
}

TEST(CellGridWide, OverwritingTheLeftHalfBlanksTheRightInItsOwnColours) {
    CellGrid grid(2);
    grid.MoveCursor(1, 5);
    grid.Write(kWide);
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.MoveCursor(1, 5);
    grid.Write("l");
    EXPECT_EQ(grid.At(1, 5).character, U'l');
    EXPECT_EQ(grid.At(1, 6), (GridCell{U' ', kBlack, kBrightWhite, false}));
    EXPECT_EQ(grid.RowText(1), "    l");
}

TEST(CellGridWide, AWideCharacterAcrossTwoOthersBlanksTheirOuterHalves) {
    CellGrid grid(2);
    grid.Write(std::string(kWide) + kWide);
    grid.MoveCursor(1, 2);
    grid.Write("\xE6\x97\xA5");  // 日 over the right half of one and the left half of the next
    EXPECT_EQ(grid.At(1, 1).character, U' ');
    EXPECT_EQ(grid.At(1, 2).character, U'\u65E5');
    EXPECT_TRUE(grid.At(1, 3).continuation);
    EXPECT_EQ(grid.At(1, 4), GridCell{});
    EXPECT_EQ(grid.RowText(1), " \xE6\x97\xA5");
}

TEST(CellGridWide, OverwritingTheRightHalfInColumn80BlanksColumn79) {
    CellGrid grid(3);
    grid.MoveCursor(1, 79);
    grid.Write(kWide);
    grid.MoveCursor(1, 80);
    grid.Write("e");
    EXPECT_EQ(grid.At(1, 79).character, U' ');
    EXPECT_EQ(grid.At(1, 80).character, U'e');
    EXPECT_FALSE(grid.At(1, 80).continuation);
}

TEST(CellGridLineBreak, GoesToColumn1OfTheNextRow) {
    CellGrid grid(3);
    grid.MoveCursor(1, 40);
    grid.LineBreak();
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 1);
}

TEST(CellGridLineBreak, ScrollsOnTheLastRowInTheCurrentColours) {
    CellGrid grid(3);
    grid.Write("one");
    grid.LineBreak();
    grid.Write("two");
    grid.LineBreak();
    grid.Write("three");
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.LineBreak();
    EXPECT_EQ(grid.CursorRow(), 3);
    EXPECT_EQ(grid.CursorColumn(), 1);
    EXPECT_EQ(grid.RowText(1), "two");
    EXPECT_EQ(grid.RowText(2), "three");
    EXPECT_EQ(grid.RowText(3), "");
    EXPECT_EQ(grid.At(3, 80).foreground, kDarkGrey);
    EXPECT_EQ(grid.At(2, 1).foreground, kBlack);
}

TEST(CellGridClear, BlanksEveryCellInTheCurrentColoursAndHomesTheCursor) {
    CellGrid grid(4);
    grid.MoveCursor(3, 7);
    grid.Write(std::string("text") + kWide);
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.Clear();
    EXPECT_EQ(grid.CursorRow(), 1);
    EXPECT_EQ(grid.CursorColumn(), 1);
    for (int row = 1; row <= 4; ++row) {
        for (const GridCell& cell : grid.RowCells(row))
            ASSERT_EQ(cell, (GridCell{U' ', kDarkGrey, kBrightWhite, false}));
    }
}

TEST(CellGridColours, AreClampedToThePalette) {
    CellGrid grid(1);
    grid.SetColours(-1, 16);
    EXPECT_EQ(grid.Foreground(), 0);
    EXPECT_EQ(grid.Background(), 15);
    grid.Write("c");
    EXPECT_EQ(grid.At(1, 1), (GridCell{U'c', 0, 15, false}));
}

TEST(CellGridCursor, MoveClampsToTheWindow) {
    CellGrid grid(4);
    grid.MoveCursor(9, 99);
    EXPECT_EQ(grid.CursorRow(), 4);
    EXPECT_EQ(grid.CursorColumn(), kWindowColumns);
    grid.MoveCursor(0, -3);
    EXPECT_EQ(grid.CursorRow(), 1);
    EXPECT_EQ(grid.CursorColumn(), 1);
}

TEST(CellGridRows, ShrinkingKeepsTheTopRowsAndClampsTheCursor) {
    CellGrid grid(3);
    grid.Write("kept");
    grid.MoveCursor(3, 5);
    grid.Write("gone");
    grid.SetRows(2);
    EXPECT_EQ(grid.Rows(), 2);
    EXPECT_EQ(grid.CursorRow(), 2);
    EXPECT_EQ(grid.CursorColumn(), 9);
    EXPECT_EQ(grid.RowText(1), "kept");
    EXPECT_EQ(grid.RowText(3), "");
    // Growing again brings no old row back.
    grid.SetRows(3);
    EXPECT_EQ(grid.RowText(3), "");
}

TEST(CellGridRows, GrowingAddsBlankRowsInTheCurrentColours) {
    CellGrid grid(2);
    grid.Write("kept");
    grid.SetColours(kDarkGrey, kBrightWhite);
    grid.SetRows(6);
    EXPECT_EQ(grid.Rows(), 6);
    EXPECT_EQ(grid.RowText(1), "kept");
    EXPECT_EQ(grid.At(1, 1).foreground, kBlack);
    EXPECT_EQ(grid.At(6, 80), (GridCell{U' ', kDarkGrey, kBrightWhite, false}));
    EXPECT_EQ(grid.CursorRow(), 1);
    grid.MoveCursor(6, 80);
    grid.Write("z");
    // Column 80 of the new last row scrolls, as on any last row.
    EXPECT_EQ(grid.CursorRow(), 6);
    EXPECT_EQ(grid.At(5, 80).character, U'z');
    EXPECT_EQ(grid.RowText(6), "");
}

TEST(CellGridRows, CountIsClampedToOneUpToTheMost) {
    CellGrid grid(0);
    EXPECT_EQ(grid.Rows(), 1);
    grid.SetRows(-5);
    EXPECT_EQ(grid.Rows(), 1);
    grid.SetRows(kMaxWindowRows + 1);
    EXPECT_EQ(grid.Rows(), kMaxWindowRows);
    grid.MoveCursor(kMaxWindowRows, 80);
    grid.Write("x");
    EXPECT_EQ(grid.At(kMaxWindowRows - 1, 80).character, U'x');
}

TEST(CellGridAt, GivesABlankOutsideTheWindow) {
    CellGrid grid(2);
    grid.SetColours(kDarkGrey, kBlack);
    grid.Clear();
    for (const auto& [row, column] : {std::pair{0, 1}, {3, 1}, {1, 0}, {1, 81}}) {
        SCOPED_TRACE(testing::Message() << row << "," << column);
        EXPECT_EQ(grid.At(row, column), GridCell{});
    }
    EXPECT_EQ(grid.RowText(0), "");
    EXPECT_EQ(grid.RowText(3), "");
}

}  // namespace
}  // namespace stereotools
