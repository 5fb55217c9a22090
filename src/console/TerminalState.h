#pragma once

// The state behind TerminalConsole, shared by the terminal's own source
// files (Terminal.cpp, TerminalInput.cpp) and by no one else: this and those
// files are the only ones that see ncursesw.

#include "CellGrid.h"
#include "Terminal.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncursesw/curses.h>
#include <ncursesw/term.h>
// term.h names every capability as a macro; these two clash with plain words.
#undef columns
#undef lines

#include <array>
#include <string>
#include <vector>

namespace stereotools {

struct TerminalConsole::State {
    SCREEN* screen = nullptr;
    WINDOW* pad = nullptr;        // the logical window, grid.Rows() x 80
    WINDOW* boxWindow = nullptr;  // the message box while one is shown
    bool open = false;
    bool restored = false;

    CellGrid grid;
    // The cells last painted on the pad, row by row, and whether the pad row
    // still shows them (an overlay or a resize makes it repaint).
    std::vector<GridCell> painted;
    std::vector<bool> paintedValid;
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
    std::string resetText;      // attributes, colours, cursor, keypad, alternate screen
    bool pasteMarking = false;  // the terminal marks pastes now

    int overlayRow = 0;  // first row of the overlay; 0 when none is shown
    std::vector<std::string> overlayLines;
    int overlayForeground = kDarkGrey;
    int overlayBackground = kBrightWhite;

    // Terminal.cpp: the screen.
    void ArmCrashRestore();
    void Look(int fg, int bg, attr_t& attrs, short& pair);
    void RepaintAll();
    void PaintRow(int r);
    void PaintOverlayRow(int r);
    void MarkOverlayRows();
    void PaintBackground();
    void DrawBox();
    void FollowCursor(int viewRows, int viewColumns);
    void Present();
    void HandleResize();

    // TerminalInput.cpp: keys and pastes.
    // Reads what wget_wch would, but keeps the exact bytes of a character in
    // `bytes`, and gives a byte of no UTF-8 sequence as U+FFFD with that one
    // byte instead of dropping it and the bytes after it.
    int ReadCharacter(wint_t& code, std::string& bytes);
    Key End(int status);
    enum class Wait { Ready, TimedOut, Ended };
    Wait WaitForInput(int timeoutMs);
    Key ReadPaste();
};

// Teaches ncurses the marks a terminal puts around pasted text.
void DefinePasteKeys();

}  // namespace stereotools
