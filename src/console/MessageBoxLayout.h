#pragma once

#include <string_view>
#include <vector>

namespace stereotools {

// One character of the message box: what to draw and the cells it takes.
struct BoxGlyph {
    char32_t character = U' ';
    int width = 1;
};
using BoxLine = std::vector<BoxGlyph>;

// Where everything of a message box goes. Rows and columns count from 0:
// the box's own from its top-left corner (its border), the box's place on
// the screen from the screen's top-left cell.
struct MessageBoxLayout {
    bool shown = false;          // false when the screen is too small for a box
    int top = 0;                 // screen row of the top border
    int left = 0;                // screen column of the left border
    int height = 0;              // rows, both borders included
    int width = 0;               // columns, both borders included
    BoxLine caption;             // drawn bold on the top border from column 1
    std::vector<BoxLine> lines;  // the text, on rows 1.. from column textColumn
    int textColumn = 1;
    BoxLine button;  // drawn reversed on row buttonRow from buttonColumn
    int buttonRow = 0;
    int buttonColumn = 0;
};

// Returns the cells `line` takes.
[[nodiscard]] int LineWidth(const BoxLine& line);
// Returns the paragraphs of `message`: it breaks at a line break and at the
// two characters backslash and n, which are dropped. Each character takes
// WideCellWidth cells.
[[nodiscard]] std::vector<BoxLine> SplitMessage(std::string_view message);
// Returns `paragraph` broken into lines of at most `width` cells: at the last
// blank that lets the line fit (the blank is dropped, and so is a line of
// only blanks before it), else in the middle of a word. A character wider
// than `width` is left out. An empty paragraph gives one empty line.
[[nodiscard]] std::vector<BoxLine> WrapParagraph(const BoxLine& paragraph, int width);
// Returns the layout of a box with `caption`, `message` (split and wrapped as
// above) and an "< OK >" button, centred on a screen of `screenRows` by
// `screenColumns` cells. The box is as wide as its widest line, caption or
// button needs, keeps a border and one blank column each side of the text
// (none under 12 columns), and a blank row above the button when there is
// room. Text that has no room ends at the last row that has, with an
// ellipsis. Nothing is shown under 3 rows or 6 columns.
[[nodiscard]] MessageBoxLayout LayOutMessageBox(std::string_view message, std::string_view caption, int screenRows,
                                                int screenColumns);

}  // namespace stereotools
