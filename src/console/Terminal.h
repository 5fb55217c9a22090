#pragma once

#include "Console.h"
#include "ConsoleToolkit.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace stereotools {

// Returns true when standard input and output are both terminals.
[[nodiscard]] bool HaveInteractiveTerminal();

// The console on a real terminal through ncursesw: a logical 80-column
// window (a CellGrid) on the alternate screen, shown through a viewport that
// follows the cursor when the terminal is smaller. Restore() puts the
// terminal back as it was found and is safe to call more than once; the
// destructor calls it.
class TerminalConsole final : public Console {
public:
    TerminalConsole();
    ~TerminalConsole() override;
    TerminalConsole(const TerminalConsole&) = delete;
    TerminalConsole& operator=(const TerminalConsole&) = delete;

    [[nodiscard]] int Rows() const override;
    void SetRows(int rows) override;
    void Clear() override;
    void SetColours(int foreground, int background) override;
    void MoveCursor(int row, int column) override;
    [[nodiscard]] int CursorRow() const override;
    [[nodiscard]] int CursorColumn() const override;
    void Write(std::string_view text) override;
    void LineBreak() override;
    bool SetCursorVisible(bool visible) override;
    [[nodiscard]] Key ReadKey() override;
    void Beep() override;
    [[nodiscard]] int CellWidth(char32_t character) const override;
    void Flush() override;
    [[nodiscard]] int PendingStop() const override;
    // Turns bracketed paste on or off; Restore and a crash turn it off.
    void SetPasteMarking(bool on) override;
    void ShowOverlay(int row, const std::vector<std::string>& lines, int foreground, int background) override;
    void HideOverlay() override;
    // Keeps `line` for RunOnTerminal to print once the terminal is restored.
    void LeaveInShell(ShellStream stream, std::string line) override;
    // Returns the lines left for the shell, in order.
    [[nodiscard]] const std::vector<std::pair<ShellStream, std::string>>& ShellLines() const { return shellLines_; }

    // Sets the window title where the terminal takes one; Restore gives the old one back.
    void SetTitle(const std::string& title);
    // Asks the terminal for a window of `rows` by `columns` cells; Restore asks for the old size.
    void RequestWindowSize(int rows, int columns);
    // Draws a modal box with `caption`, `message` (the two characters
    // backslash and n break the line) and an OK button over the centre of the
    // window, laid out by LayOutMessageBox; returns on Enter, Space or Escape,
    // or when input ends, and repaints what lay beneath.
    void ShowMessageBox(const std::string& message, const std::string& caption);
    // Leaves the alternate screen and puts back modes, title and size.
    void Restore();

private:
    struct State;
    std::unique_ptr<State> state_;
    std::vector<std::pair<ShellStream, std::string>> shellLines_;
};

// The toolkit on a terminal: title, window size and message box go to
// `terminal`; the other calls have nothing to do there.
class TerminalToolkit final : public ConsoleToolkit {
public:
    explicit TerminalToolkit(TerminalConsole& terminal) : terminal_(terminal) {}
    void InitConsoleTools(void*, int, int, int, int32_t*, int) override {}
    void ConsoleToolBar(int, int) override {}
    void ConsoleTitle(std::string title) override;
    void ConsoleIcon(int) override {}
    void DeleteWindowMenuItem(int) override {}
    void Console80x(int rows) override;
    void ConsoleMove(int, int) override {}
    void ConsoleMessageBox(std::string message, int, std::string caption, int, int) override;

private:
    TerminalConsole& terminal_;
};

// Runs `run` on the terminal: without an interactive terminal prints one
// line on standard error (which also points to the command line) and
// returns 2; otherwise opens the terminal console, runs the dialogue and
// restores the terminal on every way out, then prints the lines the
// dialogue left for the shell, each after `programName` and ": ".
[[nodiscard]] int RunOnTerminal(const char* programName, int (*run)(Console&, ConsoleToolkit&));

}  // namespace stereotools
