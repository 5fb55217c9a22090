#pragma once

#include "console/CellGrid.h"
#include "console/Console.h"
#include "console/ConsoleToolkit.h"

#include <deque>
#include <string>
#include <vector>

namespace stereotools {

// A console held in memory: a CellGrid (whose rules it follows), keys from a
// script, and a record of what was asked of it.
//
// An overlay (ShowOverlay) is kept apart from the cells: At and RowText
// show the cells beneath it.
//
// When the script runs out ReadKey returns Ended with status 1. Once it has
// returned Ended (scripted or not) it returns that same Ended at every call.
//
// Its clock stands still until a test moves it (AdvanceClock), and the lines
// left for the shell are kept in order (ShellLines).
class MemoryConsole final : public Console {
public:
    using Cell = GridCell;

    explicit MemoryConsole(int rows = 25);

    [[nodiscard]] int Rows() const override { return grid_.Rows(); }
    void SetRows(int rows) override { grid_.SetRows(rows); }
    void Clear() override { grid_.Clear(); }
    void SetColours(int foreground, int background) override { grid_.SetColours(foreground, background); }
    void MoveCursor(int row, int column) override { grid_.MoveCursor(row, column); }
    [[nodiscard]] int CursorRow() const override { return grid_.CursorRow(); }
    [[nodiscard]] int CursorColumn() const override { return grid_.CursorColumn(); }
    void Write(std::string_view text) override { grid_.Write(text); }
    void LineBreak() override { grid_.LineBreak(); }
    bool SetCursorVisible(bool visible) override;
    [[nodiscard]] Key ReadKey() override;
    void Beep() override { ++beeps_; }
    [[nodiscard]] int CellWidth(char32_t character) const override;
    void Flush() override {}
    [[nodiscard]] int PendingStop() const override;
    void SetPasteMarking(bool on) override { pasteMarking_ = on; }
    void ShowOverlay(int row, const std::vector<std::string>& lines, int foreground, int background) override;
    void HideOverlay() override;
    [[nodiscard]] double Seconds() const override { return seconds_; }
    void LeaveInShell(ShellStream stream, std::string line) override;

    // Script: keys are returned in the order they were added.
    void AddKey(Key key);
    void AddKey(Key::Kind kind, std::size_t times = 1);  // keys without character or bytes
    void AddText(std::string_view utf8);                 // one Character key per character
    void AddEnter();
    void AddBackspace();
    void AddTab();
    void AddPaste(std::string_view text);  // one Paste key holding `text`
    // Makes PendingStop return `status` from its (afterChecks + 1)-th call on,
    // as a stop signal arriving during a job would; 0 until then.
    void RequestStop(int status, std::size_t afterChecks = 0);
    // Moves the clock Seconds reads forward.
    void AdvanceClock(double seconds) { seconds_ += seconds; }

    // One line left for the shell.
    struct ShellLine {
        ShellStream stream;
        std::string text;
        bool operator==(const ShellLine&) const = default;
    };

    // Returns the cell at (row, column); a blank for a position outside the window.
    [[nodiscard]] const Cell& At(int row, int column) const { return grid_.At(row, column); }
    // Returns row `row` as UTF-8, trailing blanks removed.
    [[nodiscard]] std::string RowText(int row) const { return grid_.RowText(row); }
    [[nodiscard]] int Beeps() const { return beeps_; }
    [[nodiscard]] bool CursorVisible() const { return cursorVisible_; }
    [[nodiscard]] std::size_t KeysLeft() const { return keys_.size(); }
    // Returns how many keys ReadKey has handed out (the Ended ones included).
    [[nodiscard]] std::size_t KeysRead() const { return keysRead_; }
    // Returns whether pastes are being marked now.
    [[nodiscard]] bool PasteMarking() const { return pasteMarking_; }
    // Returns the overlay's first row, 0 when none is shown now.
    [[nodiscard]] int OverlayRow() const { return overlayRow_; }
    // Returns the first row and the lines of the last overlay shown, also after it was hidden.
    [[nodiscard]] int LastOverlayRow() const { return lastOverlayRow_; }
    [[nodiscard]] const std::vector<std::string>& LastOverlayLines() const { return lastOverlayLines_; }
    // Returns how many times an overlay was shown.
    [[nodiscard]] int OverlaysShown() const { return overlaysShown_; }
    // Returns the lines left for the shell, in order.
    [[nodiscard]] const std::vector<ShellLine>& ShellLines() const { return shellLines_; }
    // Returns, for every key ReadKey handed out, whether pastes were marked then.
    [[nodiscard]] const std::vector<bool>& PasteMarkingAtKeys() const { return pasteMarkingAtKeys_; }

private:
    CellGrid grid_;
    bool cursorVisible_ = true;
    int beeps_ = 0;
    std::deque<Key> keys_;
    std::size_t keysRead_ = 0;
    bool ended_ = false;
    int endedStatus_ = 1;
    int stopStatus_ = 0;
    std::size_t stopAfterChecks_ = 0;
    mutable std::size_t stopChecks_ = 0;
    bool pasteMarking_ = false;
    std::vector<bool> pasteMarkingAtKeys_;
    int overlayRow_ = 0;
    int lastOverlayRow_ = 0;
    std::vector<std::string> lastOverlayLines_;
    int overlaysShown_ = 0;
    double seconds_ = 0;
    std::vector<ShellLine> shellLines_;
};

// A toolkit that records every call as a line of text, for tests of the
// call order. Its message box takes keys from `console` (when one is given)
// until one that closes the box: Enter, Space, Escape, or Ended.
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

    // Calls in order, e.g. "ConsoleTitle(Stereorip)", "Console80x(38)",
    // "InitConsoleTools(nullptr, 0, 0, 0, &0, 0)" (a pointer shows as
    // "nullptr", or "&" and the value it points at),
    // "ConsoleMessageBox(<message>, 0, <caption>, 0, 0)".
    std::vector<std::string> calls;
    // The message texts passed to ConsoleMessageBox, in order.
    std::vector<std::string> messages;
    // The captions passed to ConsoleMessageBox, in order.
    std::vector<std::string> captions;

private:
    Console* console_;
};

}  // namespace stereotools
