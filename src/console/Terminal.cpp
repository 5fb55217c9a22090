#include "CellWidth.h"
#include "CrashRestore.h"
#include "MessageBoxLayout.h"
#include "TerminalState.h"
#include "system/Signals.h"
#include "system/Utf8.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

namespace stereotools {
namespace {

constexpr int kEscapeDelayMs = 25;
constexpr int kLastColour = 15;
constexpr int kPaletteColours = 16;
constexpr const char* kPasteMarkingOn = "\033[?2004h";
constexpr const char* kPasteMarkingOff = "\033[?2004l";
// xterm window operations: keep the title on the terminal's stack, take it
// back, and set the window's text size.
constexpr const char* kPushTitle = "\033[22;0t";
constexpr const char* kPopTitle = "\033[23;0t";
constexpr const char* kSetTitle = "\033]0;";
constexpr const char* kEndTitle = "\a";
// Largest window side we ask the terminal for, in cells.
constexpr int kMaxWindowSide = 1000;

// Returns the xterm request for a window of `rows` by `columns` cells.
std::string WindowSizeText(int rows, int columns) {
    return "\033[8;" + std::to_string(rows) + ";" + std::to_string(columns) + "t";
}

// Writes all of `text` to the terminal, past ncurses' own output buffer.
void WriteToTerminal(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string* gCaptureTarget = nullptr;

extern "C" int CaptureTerminalByte(int byte) {
    if (gCaptureTarget != nullptr) gCaptureTarget->push_back(static_cast<char>(byte));
    return byte;
}

// Returns terminfo string capability `name` expanded without padding, or "".
std::string CapabilityText(const char* name) {
    char* value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<char*>(-1)) return {};
    std::string text;
    gCaptureTarget = &text;
    tputs(value, 1, CaptureTerminalByte);
    gCaptureTarget = nullptr;
    return text;
}

bool HasCapability(const char* name) {
    char* value = tigetstr(name);
    return value != nullptr && value != reinterpret_cast<char*>(-1);
}

// Console palette order is blue, green, red in bits 0..2; ANSI order is red,
// green, blue.
short TerminalColour(int palette) {
    const int low = palette & 7;
    const int swapped = ((low & 1) << 2) | (low & 2) | ((low & 4) >> 2);
    return static_cast<short>(swapped | (palette & 8));
}

// What the terminal draws for one character: at most three wide characters
// and the cells they take there.
struct Glyph {
    wchar_t text[3] = {0, 0, 0};
    int cells = 1;
};

// Returns what to draw for `character`, which the grid gives `cells` cells:
// never a control code, and never wider than `cells` on the terminal, so
// that what the terminal shows stays where the grid has it.
Glyph GlyphFor(char32_t character, int cells) {
    Glyph glyph;
    const int width = wcwidth(static_cast<wchar_t>(character));
    if (width == 0) {
        // A combining mark shows over a blank of its own.
        glyph.text[0] = L' ';
        glyph.text[1] = static_cast<wchar_t>(character);
    } else if (width < 0 || width > cells) {
        glyph.text[0] = L'\uFFFD';
    } else {
        glyph.text[0] = static_cast<wchar_t>(character);
        glyph.cells = width;
    }
    return glyph;
}

// Draws `character` at (y, x) of `window` over the `cells` cells the grid
// gives it.
void DrawCharacter(WINDOW* window, int y, int x, char32_t character, int cells, attr_t attrs, short pair) {
    const Glyph glyph = GlyphFor(character, cells);
    cchar_t cell;
    setcchar(&cell, glyph.text, attrs, pair, nullptr);
    mvwadd_wchnstr(window, y, x, &cell, 1);
    // Where the terminal draws the character narrower than the grid has it,
    // the rest of its cells show blanks.
    const wchar_t blankText[] = {L' ', 0};
    cchar_t blank;
    setcchar(&blank, blankText, attrs, pair, nullptr);
    for (int i = glyph.cells; i < cells; ++i) mvwadd_wchnstr(window, y, x + i, &blank, 1);
}

// Draws `line` from (y, x) of `window`.
void DrawLine(WINDOW* window, int y, int x, const BoxLine& line, attr_t attrs, short pair) {
    for (const BoxGlyph& glyph : line) {
        DrawCharacter(window, y, x, glyph.character, glyph.width, attrs, pair);
        x += glyph.width;
    }
}

}  // namespace

bool HaveInteractiveTerminal() { return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1; }

void TerminalConsole::State::ArmCrashRestore() {
    std::string text = pasteMarking ? kPasteMarkingOff : "";
    text += resetText;
    if (titlePushed) text += kPopTitle;
    if (sizeRequested && originalRows > 0 && originalColumns > 0) text += WindowSizeText(originalRows, originalColumns);
    SetCrashRestoreText(text);
}

void TerminalConsole::State::Look(int fg, int bg, attr_t& attrs, short& pair) {
    attrs = A_NORMAL;
    pair = 0;
    if (colourCount == 0) {
        if (fg == kDarkGrey) attrs = A_DIM;
        return;
    }
    short termFg = TerminalColour(fg);
    short termBg = TerminalColour(bg);
    if (colourCount < kPaletteColours) {
        // Eight colours: the bright background becomes its plain colour,
        // dark grey is dimmed black and other bright text is bold.
        if (fg == kDarkGrey)
            attrs = A_DIM;
        else if (fg >= 8)
            attrs = A_BOLD;
        termFg = static_cast<short>(termFg & 7);
        termBg = static_cast<short>(termBg & 7);
    }
    const auto index = static_cast<std::size_t>(termFg * kPaletteColours + termBg);
    if (pairs[index] == 0 && nextPair < COLOR_PAIRS) {
        if (init_pair(nextPair, termFg, termBg) == OK) pairs[index] = nextPair++;
    }
    pair = pairs[index];
}

void TerminalConsole::State::RepaintAll() { std::fill(paintedValid.begin(), paintedValid.end(), false); }

void TerminalConsole::State::PaintRow(int r) {
    if (overlayRow > 0 && r >= overlayRow && r < overlayRow + static_cast<int>(overlayLines.size())) {
        PaintOverlayRow(r);
        return;
    }
    for (int c = 1; c <= kWindowColumns; ++c) {
        const GridCell& cell = grid.At(r, c);
        if (cell.continuation) continue;
        attr_t attrs = A_NORMAL;
        short pair = 0;
        Look(cell.foreground, cell.background, attrs, pair);
        const int cells = grid.At(r, c + 1).continuation ? 2 : 1;
        DrawCharacter(pad, r - 1, c - 1, cell.character, cells, attrs, pair);
    }
}

void TerminalConsole::State::PaintOverlayRow(int r) {
    attr_t attrs = A_NORMAL;
    short pair = 0;
    Look(overlayForeground, overlayBackground, attrs, pair);
    int c = 1;
    for (const Utf8Character& character : SplitUtf8(overlayLines[static_cast<std::size_t>(r - overlayRow)])) {
        const int width = WideCellWidth(character.codePoint);
        if (c + width - 1 > kWindowColumns) break;
        DrawCharacter(pad, r - 1, c - 1, character.codePoint, width, attrs, pair);
        c += width;
    }
    // The overlay covers its whole row.
    for (; c <= kWindowColumns; ++c) DrawCharacter(pad, r - 1, c - 1, U' ', 1, attrs, pair);
}

void TerminalConsole::State::MarkOverlayRows() {
    const int end = overlayRow + static_cast<int>(overlayLines.size());
    for (int r = overlayRow; r > 0 && r < end && r <= grid.Rows(); ++r)
        paintedValid[static_cast<std::size_t>(r - 1)] = false;
}

void TerminalConsole::State::PaintBackground() {
    attr_t attrs = A_NORMAL;
    short pair = 0;
    Look(kBlack, kBrightWhite, attrs, pair);
    wbkgdset(stdscr, ' ' | attrs | static_cast<chtype>(COLOR_PAIR(pair)));
    werase(stdscr);
    wnoutrefresh(stdscr);
}

void TerminalConsole::State::FollowCursor(int viewRows, int viewColumns) {
    const int row = grid.CursorRow();
    const int column = grid.CursorColumn();
    if (row - 1 < viewTop) viewTop = row - 1;
    if (row - 1 >= viewTop + viewRows) viewTop = row - viewRows;
    viewTop = std::clamp(viewTop, 0, grid.Rows() - viewRows);
    // Keep both halves of a wide character under the cursor in view.
    const int lastColumn = std::min(column + 1, kWindowColumns);
    if (column - 1 < viewLeft) viewLeft = column - 1;
    if (lastColumn - 1 >= viewLeft + viewColumns) viewLeft = lastColumn - viewColumns;
    viewLeft = std::clamp(viewLeft, 0, kWindowColumns - viewColumns);
}

void TerminalConsole::State::DrawBox() {
    if (boxWindow != nullptr) {
        delwin(boxWindow);
        boxWindow = nullptr;
    }
    boxDirty = false;
    const MessageBoxLayout box =
        LayOutMessageBox(boxMessage, boxCaption, std::min(LINES, grid.Rows()), std::min(COLS, kWindowColumns));
    if (!box.shown) return;
    boxWindow = newwin(box.height, box.width, box.top, box.left);
    if (boxWindow == nullptr) return;

    attr_t attrs = A_NORMAL;
    short pair = 0;
    Look(kBlack, kBrightWhite, attrs, pair);
    wbkgdset(boxWindow, ' ' | attrs | static_cast<chtype>(COLOR_PAIR(pair)));
    werase(boxWindow);
    wattr_set(boxWindow, attrs, pair, nullptr);
    box_set(boxWindow, nullptr, nullptr);

    DrawLine(boxWindow, 0, 1, box.caption, attrs | A_BOLD, pair);
    for (std::size_t i = 0; i < box.lines.size(); ++i)
        DrawLine(boxWindow, 1 + static_cast<int>(i), box.textColumn, box.lines[i], attrs, pair);
    DrawLine(boxWindow, box.buttonRow, box.buttonColumn, box.button, attrs | A_REVERSE, pair);
    // The cursor rests on the O of OK.
    wmove(boxWindow, box.buttonRow, box.buttonColumn + 2);
}

void TerminalConsole::State::Present() {
    if (!open) return;
    for (int r = 1; r <= grid.Rows(); ++r) {
        const auto index = static_cast<std::size_t>(r - 1);
        const auto cells = grid.RowCells(r);
        const auto shown = painted.begin() + static_cast<std::ptrdiff_t>(index * kWindowColumns);
        if (paintedValid[index] && std::equal(cells.begin(), cells.end(), shown)) continue;
        PaintRow(r);
        std::copy(cells.begin(), cells.end(), shown);
        paintedValid[index] = true;
    }
    if (backgroundDirty) {
        PaintBackground();
        touchwin(pad);
        backgroundDirty = false;
    }
    const int viewRows = std::min(LINES, grid.Rows());
    const int viewColumns = std::min(COLS, kWindowColumns);
    if (viewRows > 0 && viewColumns > 0) {
        FollowCursor(viewRows, viewColumns);
        wmove(pad, grid.CursorRow() - 1, grid.CursorColumn() - 1);
        pnoutrefresh(pad, viewTop, viewLeft, 0, 0, viewRows - 1, viewColumns - 1);
    }
    if (boxShown) {
        if (boxDirty) DrawBox();
        if (boxWindow != nullptr) {
            touchwin(boxWindow);
            wnoutrefresh(boxWindow);
        }
    }
    doupdate();
}

void TerminalConsole::State::HandleResize() {
    if (getmaxy(pad) != grid.Rows() || getmaxx(pad) != kWindowColumns) wresize(pad, grid.Rows(), kWindowColumns);
    RepaintAll();
    backgroundDirty = true;
    boxDirty = boxShown;
    // Show as much of the window from its top-left as the cursor allows.
    viewTop = 0;
    viewLeft = 0;
    clearok(curscr, TRUE);
    Present();
}

TerminalConsole::TerminalConsole() : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.painted.assign(static_cast<std::size_t>(s.grid.Rows()) * kWindowColumns, GridCell{});
    s.paintedValid.assign(static_cast<std::size_t>(s.grid.Rows()), false);

    std::setlocale(LC_ALL, "");
    // The dialogue and the terminal speak UTF-8 even where the locale does not.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");

    SaveTerminalModes();
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        s.originalRows = size.ws_row;
        s.originalColumns = size.ws_col;
    }

    set_escdelay(kEscapeDelayMs);
    s.screen = newterm(nullptr, stdout, stdin);
    if (s.screen == nullptr) return;
    s.open = true;
    cbreak();
    noecho();
    nonl();
    if (has_colors() && start_color() == OK) s.colourCount = COLORS;

    s.pad = newpad(s.grid.Rows(), kWindowColumns);
    if (s.pad == nullptr) {
        endwin();
        delscreen(s.screen);
        s.screen = nullptr;
        s.open = false;
        return;
    }
    keypad(s.pad, TRUE);
    nodelay(s.pad, TRUE);
    DefinePasteKeys();

    s.hasAlternateScreen = HasCapability("smcup");
    s.titleCapable = tigetflag("XT") > 0 || HasCapability("tsl") || std::strncmp(termname(), "xterm", 5) == 0;
    s.resetText = CapabilityText("sgr0") + CapabilityText("op") + CapabilityText("cnorm") + CapabilityText("rmkx") +
                  CapabilityText("rmcup");
    s.ArmCrashRestore();
    s.Present();
}

TerminalConsole::~TerminalConsole() { Restore(); }

int TerminalConsole::Rows() const { return state_->grid.Rows(); }

void TerminalConsole::SetRows(int rows) {
    State& s = *state_;
    if (std::clamp(rows, 1, kMaxWindowRows) == s.grid.Rows()) return;
    s.grid.SetRows(rows);
    const int kept = s.grid.Rows();
    s.painted.assign(static_cast<std::size_t>(kept) * kWindowColumns, GridCell{});
    s.paintedValid.assign(static_cast<std::size_t>(kept), false);
    if (s.open) {
        wresize(s.pad, kept, kWindowColumns);
        s.backgroundDirty = true;
        s.boxDirty = s.boxShown;
    }
    s.Present();
}

void TerminalConsole::Clear() {
    state_->grid.Clear();
    state_->Present();
}

void TerminalConsole::SetColours(int foreground, int background) { state_->grid.SetColours(foreground, background); }

void TerminalConsole::MoveCursor(int row, int column) {
    state_->grid.MoveCursor(row, column);
    state_->Present();
}

int TerminalConsole::CursorRow() const { return state_->grid.CursorRow(); }

int TerminalConsole::CursorColumn() const { return state_->grid.CursorColumn(); }

void TerminalConsole::Write(std::string_view text) {
    state_->grid.Write(text);
    state_->Present();
}

void TerminalConsole::LineBreak() {
    state_->grid.LineBreak();
    state_->Present();
}

bool TerminalConsole::SetCursorVisible(bool visible) {
    State& s = *state_;
    const bool before = s.cursorVisible;
    s.cursorVisible = visible;
    if (s.open && !s.boxShown) curs_set(visible ? 1 : 0);
    return before;
}

void TerminalConsole::Beep() {
    if (state_->open) beep();
}

int TerminalConsole::CellWidth(char32_t character) const { return WideCellWidth(character); }

void TerminalConsole::Flush() { state_->Present(); }

void TerminalConsole::SetPasteMarking(bool on) {
    State& s = *state_;
    if (!s.open || s.restored || s.pasteMarking == on) return;
    s.pasteMarking = on;
    // Armed before the mode goes on, so that a crash turns it off again.
    s.ArmCrashRestore();
    WriteToTerminal(on ? kPasteMarkingOn : kPasteMarkingOff);
    s.ArmCrashRestore();
}

void TerminalConsole::ShowOverlay(int row, const std::vector<std::string>& lines, int foreground, int background) {
    State& s = *state_;
    s.MarkOverlayRows();
    const int rows = s.grid.Rows();
    s.overlayRow = row >= 1 && row <= rows ? row : 0;
    const std::size_t fits = s.overlayRow > 0 ? static_cast<std::size_t>(rows - row + 1) : 0;
    s.overlayLines.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(fits, lines.size())));
    s.overlayForeground = std::clamp(foreground, 0, kLastColour);
    s.overlayBackground = std::clamp(background, 0, kLastColour);
    s.MarkOverlayRows();
    s.Present();
}

void TerminalConsole::HideOverlay() {
    State& s = *state_;
    if (s.overlayRow == 0) return;
    s.MarkOverlayRows();
    s.overlayRow = 0;
    s.overlayLines.clear();
    s.Present();
}

int TerminalConsole::PendingStop() const {
    const int signal = PendingStopSignal();
    return signal != 0 ? ExitStatusForSignal(signal) : 0;
}

void TerminalConsole::LeaveInShell(ShellStream stream, std::string line) {
    shellLines_.emplace_back(stream, std::move(line));
}

void TerminalConsole::SetTitle(const std::string& title) {
    State& s = *state_;
    if (!s.open || !s.titleCapable) return;
    std::string text;
    if (!s.titlePushed) text += kPushTitle;
    text += kSetTitle;
    for (char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) text.push_back(c);
    }
    text += kEndTitle;
    s.titlePushed = true;
    s.ArmCrashRestore();
    WriteToTerminal(text);
}

void TerminalConsole::RequestWindowSize(int rows, int columns) {
    State& s = *state_;
    if (!s.open || !s.titleCapable || rows < 1 || rows > kMaxWindowSide || columns < 1 || columns > kMaxWindowSide)
        return;
    s.sizeRequested = true;
    s.ArmCrashRestore();
    WriteToTerminal(WindowSizeText(rows, columns));
}

void TerminalConsole::ShowMessageBox(const std::string& message, const std::string& caption) {
    State& s = *state_;
    if (!s.open || s.ended) return;
    s.boxShown = true;
    s.boxDirty = true;
    s.boxMessage = message;
    s.boxCaption = caption;
    curs_set(0);
    for (;;) {
        const Key key = ReadKey();
        if (key.kind == Key::Kind::Enter || key.kind == Key::Kind::Escape || key.kind == Key::Kind::Ended) break;
        if (key.kind == Key::Kind::Character && key.character == U' ') break;
    }
    s.boxShown = false;
    if (s.boxWindow != nullptr) {
        delwin(s.boxWindow);
        s.boxWindow = nullptr;
    }
    if (s.restored) return;
    // Put back exactly what lay beneath the box.
    touchwin(stdscr);
    wnoutrefresh(stdscr);
    touchwin(s.pad);
    curs_set(s.cursorVisible ? 1 : 0);
    s.Present();
}

void TerminalConsole::Restore() {
    State& s = *state_;
    if (!s.open || s.restored) return;
    s.restored = true;
    s.boxShown = false;
    if (s.boxWindow != nullptr) delwin(s.boxWindow);
    s.boxWindow = nullptr;
    if (!s.hasAlternateScreen) {
        // Without an alternate screen, at least leave no window behind.
        wbkgdset(stdscr, ' ' | A_NORMAL);
        werase(stdscr);
        wnoutrefresh(stdscr);
        doupdate();
    }
    curs_set(1);
    endwin();
    std::string text;
    if (s.pasteMarking) text += kPasteMarkingOff;
    s.pasteMarking = false;
    if (s.titlePushed) text += kPopTitle;
    if (s.sizeRequested && s.originalRows > 0 && s.originalColumns > 0)
        text += WindowSizeText(s.originalRows, s.originalColumns);
    WriteToTerminal(text);
    ClearCrashRestoreText();
    delwin(s.pad);
    s.pad = nullptr;
    delscreen(s.screen);
    s.screen = nullptr;
    s.open = false;
}

void TerminalToolkit::ConsoleTitle(std::string title) { terminal_.SetTitle(title); }

void TerminalToolkit::Console80x(int rows) {
    terminal_.RequestWindowSize(rows, kWindowColumns);
    terminal_.SetRows(rows);
}

void TerminalToolkit::ConsoleMessageBox(std::string message, int, std::string caption, int, int) {
    terminal_.ShowMessageBox(message, caption);
}

int RunOnTerminal(const char* programName, int (*run)(Console&, ConsoleToolkit&)) {
    if (!HaveInteractiveTerminal()) {
        std::fprintf(stderr,
                     "%s: needs an interactive terminal (standard input and output must be a terminal);"
                     " name files on the command line to run without one (see '%s --help')\n",
                     programName, programName);
        return 2;
    }
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) {
        const char* type = std::getenv("TERM");
        std::fprintf(stderr, "%s: cannot use the terminal: unknown terminal type '%s'\n", programName,
                     type != nullptr ? type : "");
        return 2;
    }
    del_curterm(cur_term);
    InstallSignalHandlers();
    TerminalConsole console;
    TerminalToolkit toolkit(console);
    const int status = run(console, toolkit);
    console.Restore();
    // The window's rows went with the alternate screen; these lines stay in
    // the shell's scrollback.
    for (const auto& [stream, line] : console.ShellLines()) {
        std::FILE* out = stream == ShellStream::Error ? stderr : stdout;
        std::fprintf(out, "%s: %s\n", programName, line.c_str());
        std::fflush(out);
    }
    return status;
}

}  // namespace stereotools
