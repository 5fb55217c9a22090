#pragma once

#include "Console.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// Most characters an answer holds.
constexpr std::size_t kMaxAnswerCharacters = 10000;

// One character of an answer: its bytes exactly as typed (an invalid byte
// stands alone) and the cells it takes on screen.
struct AnswerCharacter {
    std::string bytes;
    int width = 1;  // 1 or 2
    bool operator==(const AnswerCharacter&) const = default;
};

// Returns whether an answer may hold `character`: C0 and C1 control codes
// and DEL would act on the terminal instead of showing.
[[nodiscard]] bool IsPrintable(char32_t character);

// Returns the characters of `text` that an answer may hold (IsPrintable),
// each with its width on `console`.
[[nodiscard]] std::vector<AnswerCharacter> ToAnswerCharacters(const Console& console, std::string_view text);

// The text of an answer being typed and a cursor in it, with the edits the
// dialogue's keys make. Knows nothing of the screen. The cursor counts the
// characters before it: 0 at the start, Size() at the end.
class LineEditor {
public:
    explicit LineEditor(std::size_t limit = kMaxAnswerCharacters) : limit_(limit) {}

    [[nodiscard]] const std::vector<AnswerCharacter>& Characters() const { return characters_; }
    [[nodiscard]] std::size_t Size() const { return characters_.size(); }
    [[nodiscard]] bool Empty() const { return characters_.empty(); }
    [[nodiscard]] std::size_t Cursor() const { return cursor_; }
    // Returns the answer's bytes.
    [[nodiscard]] std::string Text() const;
    // Returns the bytes before the cursor: the part Tab completes.
    [[nodiscard]] std::string TextBeforeCursor() const;
    // Returns the first character that may have changed since the last
    // call (Size() when none did), and starts counting afresh.
    [[nodiscard]] std::size_t TakeFirstChange();

    // Inserts `characters` at the cursor, as many as the limit leaves room
    // for, and puts the cursor after them. Returns how many were taken.
    std::size_t Insert(std::span<const AnswerCharacter> characters);
    // Replaces the whole text, as far as the limit allows, and puts the
    // cursor at its end.
    void Replace(std::span<const AnswerCharacter> characters);

    // Each move returns whether the cursor moved.
    bool MoveLeft();
    bool MoveRight();
    bool MoveToStart();
    bool MoveToEnd();

    // Each removal returns whether the text changed; the cursor stays
    // before the character that followed what was removed.
    bool DeleteBefore();      // the character before the cursor (Backspace)
    bool DeleteAt();          // the character under the cursor (Delete)
    bool DeleteToEnd();       // from the cursor to the end (Ctrl-K)
    bool DeleteToStart();     // from the start to the cursor (Ctrl-U)
    bool DeleteWordBefore();  // blanks before the cursor, then the word before them, as the shell's Ctrl-W

private:
    std::size_t limit_;
    std::vector<AnswerCharacter> characters_;
    std::size_t cursor_ = 0;
    std::size_t firstChange_ = 0;
};

// Adds `entry` to `history` as its newest answer, unless it is empty or the
// same as the newest one already there.
void AddToHistory(std::vector<HistoryEntry>& history, HistoryEntry entry);

// Steps through a run's answers for one question: Older from the newest to
// the oldest, Newer back again and at last to the answer that was being
// typed before the first step, as the shell's Up and Down do. Changes made
// to a recalled answer are dropped when stepping away from it.
class HistoryWalk {
public:
    explicit HistoryWalk(const std::vector<HistoryEntry>& history) : history_(history), position_(history.size()) {}
    // Returns the answer one older than the one shown, keeping `shown` when
    // it is the answer being typed; nothing when the oldest is shown.
    [[nodiscard]] std::optional<HistoryEntry> Older(const HistoryEntry& shown);
    // Returns the answer one newer than the one shown, or the answer being
    // typed after the newest; nothing when that is shown.
    [[nodiscard]] std::optional<HistoryEntry> Newer();

private:
    const std::vector<HistoryEntry>& history_;
    std::size_t position_;  // the entry shown; history_.size() for the answer being typed
    HistoryEntry typed_;
};

// Shows a LineEditor's text on a console from a fixed first cell, as typed
// text lies there: each character where the console's Write puts it (a
// 2-cell character that would start in column 80 starts the next row), the
// window scrolling when the text passes its last row, and the console's
// cursor on the editor's cursor. Each Show writes only from the editor's
// first change on and blanks what the text no longer covers, so typing and
// Backspace at the end write what a plain echo would. Parts of the text
// scrolled off the top stay off; a cursor there shows on row 1.
class AnswerEcho {
public:
    // Starts an empty echo at (row, column), where the console's cursor is.
    AnswerEcho(Console& console, int row, int column);

    // Brings the screen and the console's cursor in line with `editor`,
    // taking its changes (LineEditor::TakeFirstChange).
    void Show(LineEditor& editor);
    // Puts the console's cursor after the text's last cell.
    void MoveToEnd();
    // Returns the cells from the first one to the end of the text, a cell
    // skipped by an early wrap included.
    [[nodiscard]] std::size_t Cells() const { return offsets_.back(); }
    // Returns the row the cursor takes after the text's last cell.
    [[nodiscard]] int EndRow() const { return RowOf(offsets_.back()); }

private:
    [[nodiscard]] int RowOf(std::size_t offset) const;
    [[nodiscard]] int ColumnOf(std::size_t offset) const;
    // Returns the offset after a character of `width` cells written at `offset`.
    [[nodiscard]] std::size_t After(std::size_t offset, int width) const;
    // Moves the console's cursor to `offset` unless it is there; an offset
    // above the window goes to row 1.
    void MoveTo(std::size_t offset);
    // Writes `characters` from `first` on, then blanks the cells up to
    // `oldEnd` that the text no longer covers.
    void Rewrite(const std::vector<AnswerCharacter>& characters, std::size_t first, std::size_t oldEnd);

    Console& console_;
    int row_;     // the first cell's row; below 1 once the text scrolled it away
    int column_;  // the first cell's column
    // offsets_[i]: cells from the first cell to where character i starts,
    // before any early wrap; offsets_.back() is the end of the text.
    std::vector<std::size_t> offsets_{0};
};

}  // namespace stereotools
