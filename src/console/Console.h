#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {

// Console palette numbers the dialogue uses.
constexpr int kBlack = 0;
constexpr int kDarkGrey = 8;
constexpr int kBrightWhite = 15;
constexpr int kWindowColumns = 80;

// One key press as the dialogue sees it.
struct Key {
    enum class Kind {
        Character,  // a printable character: `character` and its UTF-8 `bytes`
        Enter,
        Backspace,
        Escape,
        Tab,
        Paste,  // a whole bracketed paste: `bytes` holds the pasted text
        Left,
        Right,
        Up,
        Down,
        Home,
        End,
        Delete,  // the key that removes the character under the cursor
        CtrlA,
        CtrlD,
        CtrlE,
        CtrlK,
        CtrlU,
        CtrlW,
        Other,  // other control codes and function keys: no character
        Ended,  // input ended or a signal asked the program to stop
    };
    Kind kind = Kind::Other;
    char32_t character = 0;
    std::string bytes;   // exact bytes of a Character (also invalid UTF-8) or a Paste
    int exitStatus = 0;  // with Ended: the status the program ends with
};

// One answer given earlier in a run, as Up and Down recall it.
struct HistoryEntry {
    std::string text;     // the answer's bytes
    bool pasted = false;  // it came whole from one paste (Answer::pasted)
    bool operator==(const HistoryEntry&) const = default;
};

// Where a line left for the shell goes.
enum class ShellStream { Output, Error };

// The console services the dialogue needs: a window of 80 columns by
// Rows() rows of cells, each with a character and palette colours, and a
// cursor. Positions are (row, column), both from 1.
class Console {
public:
    virtual ~Console() = default;
    // Returns the window's number of rows.
    [[nodiscard]] virtual int Rows() const = 0;
    // Sets the window's number of rows (the window stays 80 columns wide).
    virtual void SetRows(int rows) = 0;
    // Blanks every cell in the current colours and puts the cursor at (1, 1).
    virtual void Clear() = 0;
    virtual void SetColours(int foreground, int background) = 0;
    virtual void MoveCursor(int row, int column) = 0;
    [[nodiscard]] virtual int CursorRow() const = 0;
    [[nodiscard]] virtual int CursorColumn() const = 0;
    // Writes UTF-8 text at the cursor in the current colours. The cursor
    // advances by each character's width, continues at column 1 of the next
    // row after column 80, and the window scrolls up one row when that
    // happens on the last row. Invalid bytes show as U+FFFD, one cell each.
    virtual void Write(std::string_view text) = 0;
    // Moves the cursor to column 1 of the next row, scrolling on the last row.
    virtual void LineBreak() = 0;
    // Shows or hides the text cursor. Returns whether it was visible before.
    virtual bool SetCursorVisible(bool visible) = 0;
    // Waits for the next key press and returns it. Once input has ended or a
    // stop signal arrived, returns Ended at every call.
    [[nodiscard]] virtual Key ReadKey() = 0;
    // Plays the default message sound.
    virtual void Beep() = 0;
    // Returns how many cells `character` takes (1 or 2).
    [[nodiscard]] virtual int CellWidth(char32_t character) const = 0;
    // Puts everything written so far on the screen.
    virtual void Flush() {}
    // Asks the terminal to mark pasted text, so that a paste arrives as one
    // Paste key, while `on`; a console without pastes ignores it.
    virtual void SetPasteMarking(bool on) { (void)on; }
    // Shows `lines` over the rows from `row` on, each over the whole row in
    // the given colours, without changing the window's cells; rows past the
    // last are not shown. Replaces an earlier overlay.
    virtual void ShowOverlay(int row, const std::vector<std::string>& lines, int foreground, int background) {
        (void)row, (void)lines, (void)foreground, (void)background;
    }
    // Removes the overlay: the rows show their cells again.
    virtual void HideOverlay() {}
    // Returns the exit status a stop signal that arrived asks for, or 0.
    // Long jobs call it between blocks of work.
    [[nodiscard]] virtual int PendingStop() const { return 0; }
    // Returns the seconds of a monotonic clock, for how long a step has run.
    [[nodiscard]] virtual double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    // Keeps `line` to be printed on `stream`, after the program's name, once
    // the terminal is back as it was, so that the shell's scrollback says
    // what the run did; a console without a shell drops it.
    virtual void LeaveInShell(ShellStream stream, std::string line) { (void)stream, (void)line; }

    // Returns the answers given on this console, oldest first: what Up and
    // Down recall. They last as long as the console, one run.
    [[nodiscard]] std::vector<HistoryEntry>& AnswerHistory() { return answerHistory_; }

private:
    std::vector<HistoryEntry> answerHistory_;
};

}  // namespace stereotools
