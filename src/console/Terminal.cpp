#include "Terminal.h"

#include "Utf8.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncursesw/curses.h>
#include <ncursesw/term.h>
// term.h names every capability as a macro; these two clash with plain words.
#undef columns
#undef lines

#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace stereotools {

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

// What the crash handler writes to put the terminal back: built while the
// terminal is open, so the handler itself only calls tcsetattr and write.
char gCrashText[512];
volatile std::sig_atomic_t gCrashLength = 0;
struct termios gSavedTermios;
volatile std::sig_atomic_t gHaveSavedTermios = 0;

constexpr std::array kStopSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::array kCrashSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kEscapeDelayMs = 25;
// Key codes of our own for the marks a terminal puts around pasted text.
constexpr int kPasteBeginCode = KEY_MAX + 1;
constexpr int kPasteEndCode = KEY_MAX + 2;
constexpr const char* kPasteBeginMark = "\033[200~";
constexpr const char* kPasteEndMark = "\033[201~";
constexpr const char* kPasteMarkingOn = "\033[?2004h";
constexpr const char* kPasteMarkingOff = "\033[?2004l";
// A paste whose end mark has not come after this long of silence ends there.
constexpr int kPasteSilenceMs = 2000;
// Pasted bytes kept: far more than the longest answer takes.
constexpr std::size_t kMaxPasteBytes = 1 << 16;
// Largest window side we accept or ask the terminal for, in cells.
constexpr int kMaxWindowSide = 1000;

extern "C" void RecordStopSignal(int signal) { gStopSignal = signal; }

extern "C" void RestoreTerminalAndDie(int signal) {
    if (gHaveSavedTermios) tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTermios);
    std::size_t done = 0;
    const auto length = static_cast<std::size_t>(gCrashLength);
    while (done < length) {
        ssize_t n = write(STDOUT_FILENO, gCrashText + done, length - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    // SA_RESETHAND put the default action back; SA_NODEFER lets it act now.
    raise(signal);
}

// Writes all of `text` to the terminal, past ncurses' own output buffer.
void WriteToTerminal(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
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

struct Cell {
    char32_t character = U' ';
    int foreground = kBlack;
    int background = kBrightWhite;
    bool continuation = false;  // right half of a wide character
};

// One character of the message box: what to draw and the cells it takes.
struct BoxGlyph {
    char32_t character = U' ';
    int width = 1;
};
using BoxLine = std::vector<BoxGlyph>;

int DisplayWidth(char32_t character) {
    const int width = wcwidth(static_cast<wchar_t>(character));
    return width == 2 ? 2 : 1;
}

// Fills `text` with the wide characters that show `character` in one cell
// (or two for a wide one) without letting a control code reach the terminal.
void GlyphText(char32_t character, wchar_t (&text)[3]) {
    const int width = wcwidth(static_cast<wchar_t>(character));
    if (width < 0) {
        text[0] = L'\uFFFD';
        text[1] = 0;
    } else if (width == 0) {
        // A combining mark shows over a blank of its own.
        text[0] = L' ';
        text[1] = static_cast<wchar_t>(character);
        text[2] = 0;
        return;
    } else {
        text[0] = static_cast<wchar_t>(character);
        text[1] = 0;
    }
    text[2] = 0;
}

std::vector<BoxLine> SplitMessage(const std::string& message) {
    std::vector<BoxLine> paragraphs(1);
    const auto characters = SplitUtf8(message);
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const char32_t c = characters[i].codePoint;
        if (c == U'\\' && i + 1 < characters.size() && characters[i + 1].codePoint == U'n') {
            paragraphs.emplace_back();
            ++i;
            continue;
        }
        if (c == U'\n') {
            paragraphs.emplace_back();
            continue;
        }
        paragraphs.back().push_back({c, DisplayWidth(c)});
    }
    return paragraphs;
}

int LineWidth(const BoxLine& line) {
    int width = 0;
    for (const auto& glyph : line) width += glyph.width;
    return width;
}

// Breaks `paragraph` into lines of at most `width` cells, at a blank where
// one is at hand, else in the middle of a word.
void WrapParagraph(const BoxLine& paragraph, int width, std::vector<BoxLine>& lines) {
    BoxLine line;
    int used = 0;
    for (const auto& glyph : paragraph) {
        if (used + glyph.width > width && !line.empty()) {
            auto blank =
                std::find_if(line.rbegin(), line.rend(), [](const BoxGlyph& g) { return g.character == U' '; });
            if (blank != line.rend() && blank.base() - 1 != line.begin()) {
                auto cut = blank.base() - 1;
                BoxLine rest(cut + 1, line.end());
                line.erase(cut, line.end());
                // Leading blanks that do not fit before the first word are dropped.
                const bool onlyBlanks =
                    std::all_of(line.begin(), line.end(), [](const BoxGlyph& g) { return g.character == U' '; });
                if (!onlyBlanks) lines.push_back(std::move(line));
                line = std::move(rest);
            } else {
                lines.push_back(std::move(line));
                line.clear();
            }
            used = LineWidth(line);
        }
        if (glyph.width > width) continue;  // a wide character in a one-cell box
        line.push_back(glyph);
        used += glyph.width;
    }
    lines.push_back(std::move(line));
}

}  // namespace

bool HaveInteractiveTerminal() { return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1; }

void InstallSignalHandlers() {
    struct sigaction stop {};
    stop.sa_handler = RecordStopSignal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no SA_RESTART: a blocking read must return
    for (int signal : kStopSignals) sigaction(signal, &stop, nullptr);

    struct sigaction crash {};
    crash.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&crash.sa_mask);
    crash.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int signal : kCrashSignals) sigaction(signal, &crash, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Past a file-size limit write() must fail with EFBIG, so the job reports
    // it and removes its temporary files, instead of the signal killing us.
    sigaction(SIGXFSZ, &ignore, nullptr);
}

int PendingStopSignal() { return static_cast<int>(gStopSignal); }

int ExitStatusForSignal(int signal) { return 128 + signal; }

struct TerminalConsole::State {
    SCREEN* screen = nullptr;
    WINDOW* pad = nullptr;        // the logical window, Rows() x 80
    WINDOW* boxWindow = nullptr;  // the message box while one is shown
    bool open = false;
    bool restored = false;

    int rows = 25;
    std::vector<Cell> cells;
    std::vector<bool> dirtyRows;
    int row = 1;
    int column = 1;
    int foreground = kBlack;
    int background = kBrightWhite;
    bool cursorVisible = true;

    int viewTop = 0;   // first pad row on the screen
    int viewLeft = 0;  // first pad column on the screen
    bool backgroundDirty = true;

    int colourCount = 0;
    std::array<short, 256> pairs{};
    short nextPair = 1;

    bool boxShown = false;
    bool boxDirty = false;
    std::string boxMessage;
    std::string boxCaption;

    bool ended = false;
    Key endedKey;

    bool titleCapable = false;
    bool titlePushed = false;
    bool sizeRequested = false;
    int originalRows = 0;
    int originalColumns = 0;
    bool hasAlternateScreen = false;
    std::string resetText;  // attributes, colours, cursor, keypad, alternate screen
    bool pasteMarking = false;  // the terminal marks pastes now

    int overlayRow = 0;  // first row of the overlay; 0 when none is shown
    std::vector<std::string> overlayLines;
    int overlayForeground = kDarkGrey;
    int overlayBackground = kBrightWhite;

    Cell& At(int r, int c) { return cells[static_cast<std::size_t>((r - 1) * kWindowColumns + (c - 1))]; }

    void ArmCrashRestore();
    void Look(int fg, int bg, attr_t& attrs, short& pair);
    void PaintRow(int r);
    void PaintOverlayRow(int r);
    void MarkOverlayRows();
    void PaintBackground();
    void DrawBox();
    void FollowCursor(int viewRows, int viewColumns);
    void Present();
    void HandleResize();
    void ScrollUp();
    void NextRow();
    void Put(char32_t character);
    Key End(int status);
    enum class Wait { Ready, TimedOut, Ended };
    Wait WaitForInput(int timeoutMs);
    Key ReadPaste();
};

void TerminalConsole::State::ArmCrashRestore() {
    std::string text = pasteMarking ? kPasteMarkingOff : "";
    text += resetText;
    if (titlePushed) text += "\033[23;0t";
    if (sizeRequested && originalRows > 0 && originalColumns > 0)
        text += "\033[8;" + std::to_string(originalRows) + ";" + std::to_string(originalColumns) + "t";
    gCrashLength = 0;
    const std::size_t length = std::min(text.size(), sizeof gCrashText);
    std::memcpy(gCrashText, text.data(), length);
    gCrashLength = static_cast<std::sig_atomic_t>(length);
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
    if (colourCount < 16) {
        // Eight colours: the bright background becomes its plain colour,
        // dark grey is dimmed black and other bright text is bold.
        if (fg == kDarkGrey)
            attrs = A_DIM;
        else if (fg >= 8)
            attrs = A_BOLD;
        termFg = static_cast<short>(termFg & 7);
        termBg = static_cast<short>(termBg & 7);
    }
    const auto index = static_cast<std::size_t>(termFg * 16 + termBg);
    if (pairs[index] == 0 && nextPair < COLOR_PAIRS) {
        if (init_pair(nextPair, termFg, termBg) == OK) pairs[index] = nextPair++;
    }
    pair = pairs[index];
}

void TerminalConsole::State::PaintRow(int r) {
    if (overlayRow > 0 && r >= overlayRow && r < overlayRow + static_cast<int>(overlayLines.size())) {
        PaintOverlayRow(r);
        return;
    }
    for (int c = 1; c <= kWindowColumns; ++c) {
        const Cell& cell = At(r, c);
        if (cell.continuation) continue;
        attr_t attrs = A_NORMAL;
        short pair = 0;
        Look(cell.foreground, cell.background, attrs, pair);
        wchar_t text[3];
        GlyphText(cell.character, text);
        cchar_t glyph;
        setcchar(&glyph, text, attrs, pair, nullptr);
        mvwadd_wchnstr(pad, r - 1, c - 1, &glyph, 1);
    }
}

void TerminalConsole::State::PaintOverlayRow(int r) {
    attr_t attrs = A_NORMAL;
    short pair = 0;
    Look(overlayForeground, overlayBackground, attrs, pair);
    auto paint = [&](int c, char32_t character) {
        wchar_t text[3];
        GlyphText(character, text);
        cchar_t glyph;
        setcchar(&glyph, text, attrs, pair, nullptr);
        mvwadd_wchnstr(pad, r - 1, c - 1, &glyph, 1);
    };
    int c = 1;
    for (const auto& character : SplitUtf8(overlayLines[static_cast<std::size_t>(r - overlayRow)])) {
        const int width = DisplayWidth(character.codePoint);
        if (c + width - 1 > kWindowColumns) break;
        paint(c, character.codePoint);
        c += width;
    }
    // The overlay covers its whole row.
    for (; c <= kWindowColumns; ++c) paint(c, U' ');
}

void TerminalConsole::State::MarkOverlayRows() {
    for (int r = overlayRow; r > 0 && r < overlayRow + static_cast<int>(overlayLines.size()) && r <= rows; ++r)
        dirtyRows[static_cast<std::size_t>(r - 1)] = true;
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
    if (row - 1 < viewTop) viewTop = row - 1;
    if (row - 1 >= viewTop + viewRows) viewTop = row - viewRows;
    viewTop = std::clamp(viewTop, 0, rows - viewRows);
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
    const int visibleRows = std::min(LINES, rows);
    const int visibleColumns = std::min(COLS, kWindowColumns);
    // A border, one blank each side of the text, and a button row.
    if (visibleRows < 3 || visibleColumns < 6) return;
    const int padding = visibleColumns >= 12 ? 1 : 0;
    const int maxInner = visibleColumns - 2 - 2 * padding;

    BoxLine caption;
    for (const auto& ch : SplitUtf8(boxCaption)) caption.push_back({ch.codePoint, DisplayWidth(ch.codePoint)});
    if (!caption.empty()) caption.push_back({U' ', 1});
    static const BoxLine button{{U'<', 1}, {U' ', 1}, {U'O', 1}, {U'K', 1}, {U' ', 1}, {U'>', 1}};

    std::vector<BoxLine> lines;
    for (const auto& paragraph : SplitMessage(boxMessage)) WrapParagraph(paragraph, maxInner, lines);

    // Rows: top border, the text, a blank, the button, bottom border.
    const int spare = visibleRows - 3;
    const bool blankRow = spare > static_cast<int>(lines.size());
    const int shownLines = std::min(static_cast<int>(lines.size()), blankRow ? spare - 1 : spare);
    if (shownLines < static_cast<int>(lines.size())) {
        lines.resize(static_cast<std::size_t>(shownLines));
        if (!lines.empty()) {
            BoxLine& last = lines.back();
            while (!last.empty() && LineWidth(last) + 1 > maxInner) last.pop_back();
            last.push_back({U'\u2026', 1});
        }
    }

    int inner = std::max(LineWidth(button), LineWidth(caption) + 1);
    for (const auto& line : lines) inner = std::max(inner, LineWidth(line));
    inner = std::min(inner, maxInner);
    const int height = 3 + shownLines + (blankRow ? 1 : 0);
    const int width = inner + 2 + 2 * padding;
    const int top = (visibleRows - height) / 2;
    const int left = (visibleColumns - width) / 2;
    boxWindow = newwin(height, width, top, left);
    if (boxWindow == nullptr) return;

    attr_t attrs = A_NORMAL;
    short pair = 0;
    Look(kBlack, kBrightWhite, attrs, pair);
    wbkgdset(boxWindow, ' ' | attrs | static_cast<chtype>(COLOR_PAIR(pair)));
    werase(boxWindow);
    wattr_set(boxWindow, attrs, pair, nullptr);
    box_set(boxWindow, nullptr, nullptr);

    auto drawLine = [&](int y, int x, const BoxLine& line, int limit, attr_t extra) {
        int used = 0;
        for (const auto& glyph : line) {
            if (used + glyph.width > limit) break;
            wchar_t text[3];
            GlyphText(glyph.character, text);
            cchar_t cell;
            setcchar(&cell, text, attrs | extra, pair, nullptr);
            mvwadd_wchnstr(boxWindow, y, x + used, &cell, 1);
            used += glyph.width;
        }
    };
    drawLine(0, 1, caption, width - 2, A_BOLD);
    for (int i = 0; i < shownLines; ++i)
        drawLine(1 + i, 1 + padding, lines[static_cast<std::size_t>(i)], inner, A_NORMAL);
    drawLine(height - 2, (width - LineWidth(button)) / 2, button, width - 2, A_REVERSE);
    wmove(boxWindow, height - 2, (width - LineWidth(button)) / 2 + 2);
}

void TerminalConsole::State::Present() {
    if (!open) return;
    for (int r = 1; r <= rows; ++r) {
        if (!dirtyRows[static_cast<std::size_t>(r - 1)]) continue;
        PaintRow(r);
        dirtyRows[static_cast<std::size_t>(r - 1)] = false;
    }
    if (backgroundDirty) {
        PaintBackground();
        touchwin(pad);
        backgroundDirty = false;
    }
    const int viewRows = std::min(LINES, rows);
    const int viewColumns = std::min(COLS, kWindowColumns);
    if (viewRows > 0 && viewColumns > 0) {
        FollowCursor(viewRows, viewColumns);
        wmove(pad, row - 1, column - 1);
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
    if (getmaxy(pad) != rows || getmaxx(pad) != kWindowColumns) wresize(pad, rows, kWindowColumns);
    std::fill(dirtyRows.begin(), dirtyRows.end(), true);
    backgroundDirty = true;
    boxDirty = boxShown;
    // Show as much of the window from its top-left as the cursor allows.
    viewTop = 0;
    viewLeft = 0;
    clearok(curscr, TRUE);
    Present();
}

void TerminalConsole::State::ScrollUp() {
    std::move(cells.begin() + kWindowColumns, cells.end(), cells.begin());
    for (int c = 1; c <= kWindowColumns; ++c) At(rows, c) = Cell{U' ', foreground, background, false};
    std::fill(dirtyRows.begin(), dirtyRows.end(), true);
}

void TerminalConsole::State::NextRow() {
    column = 1;
    if (row < rows) {
        ++row;
    } else {
        ScrollUp();
    }
}

void TerminalConsole::State::Put(char32_t character) {
    const int width = DisplayWidth(character);
    // A wide character that does not fit in the last column starts the next row.
    if (column + width - 1 > kWindowColumns) NextRow();
    // Writing over half of a wide character blanks its other half.
    if (At(row, column).continuation && column > 1) At(row, column - 1).character = U' ';
    const int after = column + width;
    if (after <= kWindowColumns && At(row, after).continuation) {
        At(row, after).character = U' ';
        At(row, after).continuation = false;
    }
    At(row, column) = Cell{character, foreground, background, false};
    if (width == 2) At(row, column + 1) = Cell{U' ', foreground, background, true};
    dirtyRows[static_cast<std::size_t>(row - 1)] = true;
    column += width;
    if (column > kWindowColumns) NextRow();
}

Key TerminalConsole::State::End(int status) {
    ended = true;
    endedKey = Key{};
    endedKey.kind = Key::Kind::Ended;
    endedKey.exitStatus = status;
    return endedKey;
}

TerminalConsole::State::Wait TerminalConsole::State::WaitForInput(int timeoutMs) {
    // The stop signals are blocked between the check and the wait so none is
    // missed; a pending one returns Ready for the caller to see it.
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : kStopSignals) sigaddset(&stops, signal);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stops, &previous);
    if (PendingStopSignal() != 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return Wait::Ready;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    timespec limit{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    const int ready = ppoll(&input, 1, timeoutMs < 0 ? nullptr : &limit, &previous);
    const int error = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (ready < 0) return error == EINTR ? Wait::Ready : Wait::Ended;
    if (ready == 0) return Wait::TimedOut;
    if ((input.revents & (POLLERR | POLLNVAL)) != 0) return Wait::Ended;
    if ((input.revents & POLLIN) != 0) {
        // Readable with nothing to read is the end of the input.
        int waiting = 0;
        if (ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting == 0) return Wait::Ended;
        return Wait::Ready;
    }
    if ((input.revents & POLLHUP) != 0) return Wait::Ended;
    return Wait::Ready;
}

Key TerminalConsole::State::ReadPaste() {
    Key paste;
    paste.kind = Key::Kind::Paste;
    for (;;) {
        if (int signal = PendingStopSignal()) return End(ExitStatusForSignal(signal));
        wint_t code = 0;
        const int got = wget_wch(pad, &code);
        if (got == KEY_CODE_YES) {
            if (static_cast<int>(code) == kPasteEndCode) return paste;
            if (code == KEY_RESIZE) HandleResize();
            // Other keys inside a paste carry no text.
            continue;
        }
        if (got == OK) {
            if (paste.bytes.size() < kMaxPasteBytes) paste.bytes += EncodeUtf8(static_cast<char32_t>(code));
            continue;
        }
        const Wait wait = WaitForInput(kPasteSilenceMs);
        if (wait == Wait::Ended) return End(1);
        // The end mark got lost: what came is the paste.
        if (wait == Wait::TimedOut) return paste;
    }
}

TerminalConsole::TerminalConsole() : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.cells.assign(static_cast<std::size_t>(s.rows * kWindowColumns), Cell{});
    s.dirtyRows.assign(static_cast<std::size_t>(s.rows), true);

    std::setlocale(LC_ALL, "");
    // The dialogue and the terminal speak UTF-8 even where the locale does not.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");

    if (tcgetattr(STDIN_FILENO, &gSavedTermios) == 0) gHaveSavedTermios = 1;
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

    s.pad = newpad(s.rows, kWindowColumns);
    if (s.pad == nullptr) {
        endwin();
        delscreen(s.screen);
        s.screen = nullptr;
        s.open = false;
        return;
    }
    keypad(s.pad, TRUE);
    nodelay(s.pad, TRUE);
    define_key(kPasteBeginMark, kPasteBeginCode);
    define_key(kPasteEndMark, kPasteEndCode);

    s.hasAlternateScreen = HasCapability("smcup");
    s.titleCapable = tigetflag("XT") > 0 || HasCapability("tsl") || std::strncmp(termname(), "xterm", 5) == 0;
    s.resetText = CapabilityText("sgr0") + CapabilityText("op") + CapabilityText("cnorm") + CapabilityText("rmkx") +
                  CapabilityText("rmcup");
    s.ArmCrashRestore();
    s.Present();
}

TerminalConsole::~TerminalConsole() { Restore(); }

int TerminalConsole::Rows() const { return state_->rows; }

void TerminalConsole::SetRows(int rows) {
    State& s = *state_;
    if (rows < 1 || rows > kMaxWindowSide || rows == s.rows) return;
    std::vector<Cell> cells(static_cast<std::size_t>(rows * kWindowColumns),
                            Cell{U' ', s.foreground, s.background, false});
    const int kept = std::min(rows, s.rows);
    std::copy_n(s.cells.begin(), kept * kWindowColumns, cells.begin());
    s.cells = std::move(cells);
    s.rows = rows;
    s.dirtyRows.assign(static_cast<std::size_t>(rows), true);
    s.row = std::min(s.row, rows);
    if (s.open) {
        wresize(s.pad, rows, kWindowColumns);
        s.backgroundDirty = true;
        s.boxDirty = s.boxShown;
    }
    s.Present();
}

void TerminalConsole::Clear() {
    State& s = *state_;
    std::fill(s.cells.begin(), s.cells.end(), Cell{U' ', s.foreground, s.background, false});
    std::fill(s.dirtyRows.begin(), s.dirtyRows.end(), true);
    s.row = 1;
    s.column = 1;
    s.Present();
}

void TerminalConsole::SetColours(int foreground, int background) {
    state_->foreground = std::clamp(foreground, 0, 15);
    state_->background = std::clamp(background, 0, 15);
}

void TerminalConsole::MoveCursor(int row, int column) {
    State& s = *state_;
    s.row = std::clamp(row, 1, s.rows);
    s.column = std::clamp(column, 1, kWindowColumns);
    s.Present();
}

int TerminalConsole::CursorRow() const { return state_->row; }

int TerminalConsole::CursorColumn() const { return state_->column; }

void TerminalConsole::Write(std::string_view text) {
    State& s = *state_;
    for (const auto& character : SplitUtf8(text)) s.Put(character.codePoint);
    s.Present();
}

void TerminalConsole::LineBreak() {
    State& s = *state_;
    s.NextRow();
    s.Present();
}

bool TerminalConsole::SetCursorVisible(bool visible) {
    State& s = *state_;
    const bool before = s.cursorVisible;
    s.cursorVisible = visible;
    if (s.open && !s.boxShown) curs_set(visible ? 1 : 0);
    return before;
}

Key TerminalConsole::ReadKey() {
    State& s = *state_;
    if (s.ended) return s.endedKey;
    if (!s.open) return s.End(1);
    for (;;) {
        if (int signal = PendingStopSignal()) return s.End(ExitStatusForSignal(signal));
        s.Present();
        wint_t code = 0;
        const int got = wget_wch(s.pad, &code);
        if (got == KEY_CODE_YES) {
            if (code == KEY_RESIZE) {
                s.HandleResize();
                continue;
            }
            if (static_cast<int>(code) == kPasteBeginCode) return s.ReadPaste();
            Key key;
            if (code == KEY_ENTER) key.kind = Key::Kind::Enter;
            if (code == KEY_BACKSPACE) key.kind = Key::Kind::Backspace;
            return key;
        }
        if (got == OK) {
            Key key;
            if (code == L'\n' || code == L'\r') {
                key.kind = Key::Kind::Enter;
            } else if (code == 127 || code == 8) {
                key.kind = Key::Kind::Backspace;
            } else if (code == 27) {
                key.kind = Key::Kind::Escape;
            } else if (code == L'\t') {
                key.kind = Key::Kind::Tab;
            } else if (code >= 32 && !(code >= 0x7F && code < 0xA0)) {
                key.kind = Key::Kind::Character;
                key.character = static_cast<char32_t>(code);
                key.bytes = EncodeUtf8(key.character);
            }
            return key;
        }
        // Nothing is buffered: sleep until input or a signal.
        if (s.WaitForInput(-1) == State::Wait::Ended) return s.End(1);
    }
}

void TerminalConsole::Beep() {
    if (state_->open) beep();
}

int TerminalConsole::CellWidth(char32_t character) const { return DisplayWidth(character); }

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
    s.overlayRow = row >= 1 && row <= s.rows ? row : 0;
    const std::size_t fits = s.overlayRow > 0 ? static_cast<std::size_t>(s.rows - row + 1) : 0;
    s.overlayLines.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(fits, lines.size())));
    s.overlayForeground = std::clamp(foreground, 0, 15);
    s.overlayBackground = std::clamp(background, 0, 15);
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

void TerminalConsole::SetTitle(const std::string& title) {
    State& s = *state_;
    if (!s.open || !s.titleCapable) return;
    std::string text;
    if (!s.titlePushed) text += "\033[22;0t";
    text += "\033]0;";
    for (char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) text.push_back(c);
    }
    text += "\a";
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
    WriteToTerminal("\033[8;" + std::to_string(rows) + ";" + std::to_string(columns) + "t");
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
    if (s.titlePushed) text += "\033[23;0t";
    if (s.sizeRequested && s.originalRows > 0 && s.originalColumns > 0)
        text += "\033[8;" + std::to_string(s.originalRows) + ";" + std::to_string(s.originalColumns) + "t";
    WriteToTerminal(text);
    gCrashLength = 0;
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
        std::fprintf(stderr, "%s: needs an interactive terminal (standard input and output must be a terminal)\n",
                     programName);
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
    return status;
}

}  // namespace stereotools
