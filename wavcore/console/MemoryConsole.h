#pragma once

#include "Console.h"
#include "ConsoleToolkit.h"

#include <deque>
#include <string>
#include <vector>

namespace wavcore {

// A console held in memory: a grid of cells with character and colours, a
// cursor that wraps and scrolls like the terminal's, and keys from a script.
// When the script runs out, ReadKey returns Ended with status 1.
class MemoryConsole final : public Console {
public:
    struct Cell {
        char32_t character = U' ';
        int foreground = kBlack;
        int background = kBrightWhite;
        bool continuation = false;  // right half of a wide character
    };

    explicit MemoryConsole(int rows = 25);

    [[nodiscard]] int Rows() const override { return rows_; }
    void SetRows(int rows) override;
    void Clear() override;
    void SetColours(int foreground, int background) override;
    void MoveCursor(int row, int column) override;
    [[nodiscard]] int CursorRow() const override { return row_; }
    [[nodiscard]] int CursorColumn() const override { return column_; }
    void Write(std::string_view text) override;
    void LineBreak() override;
    bool SetCursorVisible(bool visible) override;
    [[nodiscard]] Key ReadKey() override;
    void Beep() override { ++beeps_; }
    [[nodiscard]] int CellWidth(char32_t character) const override;

    // Script: keys are returned in the order they were added.
    void AddKey(Key key);
    void AddText(std::string_view utf8);  // one Character key per character
    void AddEnter();
    void AddBackspace();

    [[nodiscard]] const Cell& At(int row, int column) const;
    // Returns row `row` as UTF-8, trailing blanks removed.
    [[nodiscard]] std::string RowText(int row) const;
    [[nodiscard]] int Beeps() const { return beeps_; }
    [[nodiscard]] bool CursorVisible() const { return cursorVisible_; }
    [[nodiscard]] std::size_t KeysLeft() const { return keys_.size(); }

private:
    void Advance(int cells);
    void ScrollUp();

    int rows_;
    std::vector<Cell> cells_;
    int row_ = 1;
    int column_ = 1;
    int foreground_ = kBlack;
    int background_ = kBrightWhite;
    bool cursorVisible_ = true;
    int beeps_ = 0;
    std::deque<Key> keys_;
};

// A toolkit that records every call as a line of text, for tests of the
// call order. Its message box takes the next key from `console` (when one
// is given) as the key that closes it.
class RecordingToolkit final : public ConsoleToolkit {
public:
    explicit RecordingToolkit(Console* console = nullptr) : console_(console) {}
    void InitConsoleTools(void* instance, int a, int b, int c, int32_t* flags, int d) override;
    void ConsoleToolBar(int a, int b) override;
    void ConsoleTitle(std::string title) override;
    void ConsoleIcon(int iconId) override;
    void DeleteWindowMenuItem(int item) override;
    void Console80x(int rows) override;
    void ConsoleMove(int x, int y) override;
    void ConsoleMessageBox(std::string message, int a, std::string caption, int b, int c) override;

    // Calls in order, e.g. "ConsoleTitle(Stereorip)", "Console80x(38)".
    std::vector<std::string> calls;
    // The message texts passed to ConsoleMessageBox, in order.
    std::vector<std::string> messages;

private:
    Console* console_;
};

}  // namespace wavcore
