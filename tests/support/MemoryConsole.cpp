#include "MemoryConsole.h"

#include "console/CellWidth.h"
#include "system/Utf8.h"

#include <utility>

namespace stereotools {

MemoryConsole::MemoryConsole(int rows) : grid_(rows) {}

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

void MemoryConsole::AddKey(Key::Kind kind, std::size_t times) {
    for (std::size_t i = 0; i < times; ++i) {
        Key key;
        key.kind = kind;
        keys_.push_back(std::move(key));
    }
}

void MemoryConsole::LeaveInShell(ShellStream stream, std::string line) {
    shellLines_.push_back({stream, std::move(line)});
}

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
