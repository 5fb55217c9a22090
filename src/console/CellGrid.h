#pragma once

#include "Console.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// Most rows a window may have.
constexpr int kMaxWindowRows = 1000;

// One cell of the window.
struct GridCell {
    char32_t character = U' ';
    int foreground = kBlack;
    int background = kBrightWhite;
    bool continuation = false;  // right half of a wide character; `character` is a blank

    bool operator==(const GridCell&) const = default;
};

// The cells of a window 80 columns wide, with a cursor and current colours.
// Both consoles keep their window in one, so these rules are the ones every
// console of these programs follows:
//
// - Write takes the text character by character (SplitUtf8); an invalid byte
//   is one U+FFFD cell. A character takes WideCellWidth cells (1 or 2) in the
//   current colours and advances the cursor by that many columns.
// - Immediate wrap: once a character has filled column 80 the cursor is at
//   column 1 of the next row at once; on the last row the window scrolls up
//   one row at that moment and the cursor stays on the last row, column 1.
// - A 2-cell character that would start in column 80 wraps first (with the
//   scroll above on the last row); column 80 keeps what it held.
// - Writing over either half of a 2-cell character turns its other half into
//   a blank that keeps its colours.
// - LineBreak puts the cursor at column 1 of the next row; on the last row
//   the window scrolls up one row instead and the cursor goes to column 1.
// - A scroll drops the top row and adds a blank last row in the current colours.
// - Clear blanks every cell in the current colours; the cursor goes to (1, 1).
// - Colours are clamped to the palette (0 to 15).
// - MoveCursor clamps its position to the window.
// - SetRows clamps the count to 1..kMaxWindowRows, keeps the top rows that
//   remain, adds blank rows in the current colours and clamps the cursor.
class CellGrid {
public:
    explicit CellGrid(int rows = 25);

    [[nodiscard]] int Rows() const { return rows_; }
    void SetRows(int rows);
    void Clear();
    void SetColours(int foreground, int background);
    [[nodiscard]] int Foreground() const { return foreground_; }
    [[nodiscard]] int Background() const { return background_; }
    void MoveCursor(int row, int column);
    [[nodiscard]] int CursorRow() const { return row_; }
    [[nodiscard]] int CursorColumn() const { return column_; }
    void Write(std::string_view text);
    void LineBreak();

    // Returns the cell at (row, column); a blank for a position outside the window.
    [[nodiscard]] const GridCell& At(int row, int column) const;
    // Returns the 80 cells of row `row`, which must lie in the window.
    [[nodiscard]] std::span<const GridCell> RowCells(int row) const;
    // Returns row `row` as UTF-8, trailing blanks removed; "" outside the window.
    [[nodiscard]] std::string RowText(int row) const;

private:
    GridCell& CellAt(int row, int column);
    void Put(char32_t character, int width);
    void NextRow();
    void ScrollUp();
    [[nodiscard]] GridCell Blank() const { return GridCell{U' ', foreground_, background_, false}; }

    int rows_;
    std::vector<GridCell> cells_;
    int row_ = 1;
    int column_ = 1;
    int foreground_ = kBlack;
    int background_ = kBrightWhite;
};

}  // namespace stereotools
