#include "MemoryConsole.h"

#include "Utf8.h"

#include <algorithm>
#include <utility>

namespace stereotools {

MemoryConsole::MemoryConsole(int rows) : rows_(std::max(rows, 1)) {
    cells_.assign(static_cast<std::size_t>(rows_) * kWindowColumns, Cell{});
}

MemoryConsole::Cell& MemoryConsole::CellAt(int row, int column) {
    return cells_[static_cast<std::size_t>(row - 1) * kWindowColumns + static_cast<std::size_t>(column - 1)];
}

const MemoryConsole::Cell& MemoryConsole::At(int row, int column) const {
    static const Cell kOutside{};
    if (row < 1 || row > rows_ || column < 1 || column > kWindowColumns) return kOutside;
    return cells_[static_cast<std::size_t>(row - 1) * kWindowColumns + static_cast<std::size_t>(column - 1)];
}

void MemoryConsole::SetRows(int rows) {
    rows_ = std::max(rows, 1);
    cells_.resize(static_cast<std::size_t>(rows_) * kWindowColumns, Cell{U' ', foreground_, background_, false});
    row_ = std::min(row_, rows_);
}

void MemoryConsole::Clear() {
    std::fill(cells_.begin(), cells_.end(), Cell{U' ', foreground_, background_, false});
    row_ = 1;
    column_ = 1;
}

void MemoryConsole::SetColours(int foreground, int background) {
    foreground_ = foreground;
    background_ = background;
}

void MemoryConsole::MoveCursor(int row, int column) {
    row_ = std::clamp(row, 1, rows_);
    column_ = std::clamp(column, 1, kWindowColumns);
}

void MemoryConsole::Write(std::string_view text) {
    for (const Utf8Character& character : SplitUtf8(text)) {
        const int width = CellWidth(character.codePoint);
        if (width == 2 && column_ == kWindowColumns) NextRow();
        PutCharacter(character.codePoint, width);
        Advance(width);
    }
}

void MemoryConsole::PutCharacter(char32_t character, int width) {
    const Cell blank{U' ', foreground_, background_, false};
    // A wide character cut in half by this write loses its other half.
    if (CellAt(row_, column_).continuation && column_ > 1) CellAt(row_, column_ - 1) = blank;
    const int last = column_ + width - 1;
    if (last < kWindowColumns && CellAt(row_, last + 1).continuation) CellAt(row_, last + 1) = blank;

    CellAt(row_, column_) = Cell{character, foreground_, background_, false};
    if (width == 2) CellAt(row_, column_ + 1) = Cell{U' ', foreground_, background_, true};
}

void MemoryConsole::Advance(int cells) {
    column_ += cells;
    if (column_ > kWindowColumns) NextRow();
}

void MemoryConsole::NextRow() {
    column_ = 1;
    if (row_ == rows_) {
        ScrollUp();
        return;
    }
    ++row_;
}

void MemoryConsole::LineBreak() { NextRow(); }

void MemoryConsole::ScrollUp() {
    std::move(cells_.begin() + kWindowColumns, cells_.end(), cells_.begin());
    std::fill(cells_.end() - kWindowColumns, cells_.end(), Cell{U' ', foreground_, background_, false});
}

bool MemoryConsole::SetCursorVisible(bool visible) { return std::exchange(cursorVisible_, visible); }

Key MemoryConsole::ReadKey() {
    ++keysRead_;
    pasteMarkingAtKeys_.push_back(pasteMarking_);
    if (ended_ || keys_.empty()) {
        Key ended;
        ended.kind = Key::Kind::Ended;
        ended.exitStatus = endedStatus_;
        ended_ = true;
        return ended;
    }
    Key key = std::move(keys_.front());
    keys_.pop_front();
    if (key.kind == Key::Kind::Ended) {
        ended_ = true;
        endedStatus_ = key.exitStatus;
    }
    return key;
}

int MemoryConsole::PendingStop() const {
    if (stopStatus_ == 0) return 0;
    return stopChecks_++ < stopAfterChecks_ ? 0 : stopStatus_;
}

void MemoryConsole::RequestStop(int status, std::size_t afterChecks) {
    stopStatus_ = status;
    stopAfterChecks_ = afterChecks;
    stopChecks_ = 0;
}

int MemoryConsole::CellWidth(char32_t character) const { return WideCellWidth(character); }

void MemoryConsole::AddKey(Key key) { keys_.push_back(std::move(key)); }

void MemoryConsole::AddText(std::string_view utf8) {
    for (const Utf8Character& character : SplitUtf8(utf8)) {
        Key key;
        key.kind = Key::Kind::Character;
        key.character = character.codePoint;
        key.bytes = std::string(utf8.substr(character.offset, character.length));
        keys_.push_back(std::move(key));
    }
}

void MemoryConsole::AddEnter() {
    Key key;
    key.kind = Key::Kind::Enter;
    keys_.push_back(std::move(key));
}

void MemoryConsole::AddBackspace() {
    Key key;
    key.kind = Key::Kind::Backspace;
    keys_.push_back(std::move(key));
}

void MemoryConsole::AddTab() {
    Key key;
    key.kind = Key::Kind::Tab;
    keys_.push_back(std::move(key));
}

void MemoryConsole::AddPaste(std::string_view text) {
    Key key;
    key.kind = Key::Kind::Paste;
    key.bytes = std::string(text);
    keys_.push_back(std::move(key));
}

void MemoryConsole::ShowOverlay(int row, const std::vector<std::string>& lines, int, int) {
    overlayRow_ = row;
    lastOverlayRow_ = row;
    lastOverlayLines_ = lines;
    ++overlaysShown_;
}

void MemoryConsole::HideOverlay() { overlayRow_ = 0; }

std::string MemoryConsole::RowText(int row) const {
    std::string text;
    if (row < 1 || row > rows_) return text;
    for (int column = 1; column <= kWindowColumns; ++column) {
        const Cell& cell = At(row, column);
        if (!cell.continuation) text += EncodeUtf8(cell.character);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

namespace {

std::string ShowPointer(const void* pointer) { return pointer == nullptr ? "nullptr" : "instance"; }

std::string ShowPointer(const int32_t* pointer) {
    if (pointer == nullptr) return "nullptr";
    std::string shown = "&";
    shown += std::to_string(*pointer);
    return shown;
}

}  // namespace

void RecordingToolkit::InitConsoleTools(void* instance, int a, int b, int c, int32_t* flags, int d) {
    calls.push_back("InitConsoleTools(" + ShowPointer(static_cast<const void*>(instance)) + ", " + std::to_string(a) +
                    ", " + std::to_string(b) + ", " + std::to_string(c) + ", " + ShowPointer(flags) + ", " +
                    std::to_string(d) + ")");
}

void RecordingToolkit::ConsoleToolBar(int a, int b) {
    calls.push_back("ConsoleToolBar(" + std::to_string(a) + ", " + std::to_string(b) + ")");
}

void RecordingToolkit::ConsoleTitle(std::string title) { calls.push_back("ConsoleTitle(" + title + ")"); }

void RecordingToolkit::ConsoleIcon(int iconId) { calls.push_back("ConsoleIcon(" + std::to_string(iconId) + ")"); }

void RecordingToolkit::DeleteWindowMenuItem(int item) {
    calls.push_back("DeleteWindowMenuItem(" + std::to_string(item) + ")");
}

void RecordingToolkit::Console80x(int rows) { calls.push_back("Console80x(" + std::to_string(rows) + ")"); }

void RecordingToolkit::ConsoleMove(int x, int y) {
    calls.push_back("ConsoleMove(" + std::to_string(x) + ", " + std::to_string(y) + ")");
}

void RecordingToolkit::ConsoleMessageBox(std::string message, int a, std::string caption, int b, int c) {
    calls.push_back("ConsoleMessageBox(" + message + ", " + std::to_string(a) + ", " + caption + ", " +
                    std::to_string(b) + ", " + std::to_string(c) + ")");
    messages.push_back(std::move(message));
    captions.push_back(std::move(caption));
    if (console_ == nullptr) return;
    for (;;) {
        const Key key = console_->ReadKey();
        if (key.kind == Key::Kind::Enter || key.kind == Key::Kind::Escape || key.kind == Key::Kind::Ended) return;
        if (key.kind == Key::Kind::Character && key.character == U' ') return;
    }
}

}  // namespace stereotools
