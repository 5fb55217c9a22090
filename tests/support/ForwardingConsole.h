#pragma once

// A console that hands every call to a MemoryConsole, for tests that watch
// or act on single calls: derive from it and override those. ActingConsole
// runs an action once, just before a given text is shown.

#include "support/MemoryConsole.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testconsole {

class ForwardingConsole : public stereotools::Console {
public:
    explicit ForwardingConsole(stereotools::MemoryConsole& inner) : inner_(inner) {}

    int Rows() const override { return inner_.Rows(); }
    void SetRows(int rows) override { inner_.SetRows(rows); }
    void Clear() override { inner_.Clear(); }
    void SetColours(int foreground, int background) override { inner_.SetColours(foreground, background); }
    void MoveCursor(int row, int column) override { inner_.MoveCursor(row, column); }
    int CursorRow() const override { return inner_.CursorRow(); }
    int CursorColumn() const override { return inner_.CursorColumn(); }
    void Write(std::string_view text) override { inner_.Write(text); }
    void LineBreak() override { inner_.LineBreak(); }
    bool SetCursorVisible(bool visible) override { return inner_.SetCursorVisible(visible); }
    stereotools::Key ReadKey() override { return inner_.ReadKey(); }
    void Beep() override { inner_.Beep(); }
    int CellWidth(char32_t character) const override { return inner_.CellWidth(character); }
    void Flush() override { inner_.Flush(); }
    void SetPasteMarking(bool on) override { inner_.SetPasteMarking(on); }
    void ShowOverlay(int row, const std::vector<std::string>& lines, int foreground, int background) override {
        inner_.ShowOverlay(row, lines, foreground, background);
    }
    void HideOverlay() override { inner_.HideOverlay(); }
    int PendingStop() const override { return inner_.PendingStop(); }
    double Seconds() const override { return inner_.Seconds(); }
    void LeaveInShell(stereotools::ShellStream stream, std::string line) override {
        inner_.LeaveInShell(stream, std::move(line));
    }

protected:
    stereotools::MemoryConsole& inner_;
};

// A console that runs `action` once, just before it shows `text`.
class ActingConsole final : public ForwardingConsole {
public:
    ActingConsole(stereotools::MemoryConsole& inner, std::string text, std::function<void()> action)
        : ForwardingConsole(inner), text_(std::move(text)), action_(std::move(action)) {}
    void Write(std::string_view text) override {
        if (text == text_ && action_) std::exchange(action_, nullptr)();
        inner_.Write(text);
    }

private:
    std::string text_;
    std::function<void()> action_;
};

}  // namespace testconsole
