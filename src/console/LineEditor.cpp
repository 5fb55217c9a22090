#include "LineEditor.h"

#include "system/Text.h"
#include "system/Utf8.h"

#include <algorithm>
#include <utility>

namespace stereotools {
namespace {

constexpr char kBlank = ' ';

bool IsBlank(const AnswerCharacter& character) { return character.bytes.size() == 1 && character.bytes[0] == kBlank; }

}  // namespace

bool IsPrintable(char32_t character) { return !IsControlCharacter(character); }

std::vector<AnswerCharacter> ToAnswerCharacters(const Console& console, std::string_view text) {
    std::vector<AnswerCharacter> characters;
    for (const Utf8Character& character : SplitUtf8(text)) {
        if (!IsPrintable(character.codePoint)) continue;
        characters.push_back(
            {std::string(text.substr(character.offset, character.length)), console.CellWidth(character.codePoint)});
    }
    return characters;
}

std::string LineEditor::Text() const {
    std::string text;
    for (const AnswerCharacter& character : characters_) text += character.bytes;
    return text;
}

std::string LineEditor::TextBeforeCursor() const {
    std::string text;
    for (std::size_t i = 0; i < cursor_; ++i) text += characters_[i].bytes;
    return text;
}

std::size_t LineEditor::TakeFirstChange() { return std::exchange(firstChange_, characters_.size()); }

std::size_t LineEditor::Insert(std::span<const AnswerCharacter> characters) {
    const std::size_t taken = std::min(characters.size(), limit_ - std::min(limit_, characters_.size()));
    if (taken == 0) return 0;
    characters_.insert(characters_.begin() + static_cast<std::ptrdiff_t>(cursor_), characters.begin(),
                       characters.begin() + static_cast<std::ptrdiff_t>(taken));
    firstChange_ = std::min(firstChange_, cursor_);
    cursor_ += taken;
    return taken;
}

void LineEditor::Replace(std::span<const AnswerCharacter> characters) {
    const std::size_t taken = std::min(characters.size(), limit_);
    // Only what differs counts as changed, so an echo keeps a shared start.
    std::size_t same = 0;
    while (same < taken && same < characters_.size() && characters_[same] == characters[same]) ++same;
    characters_.assign(characters.begin(), characters.begin() + static_cast<std::ptrdiff_t>(taken));
    firstChange_ = std::min(firstChange_, same);
    cursor_ = characters_.size();
}

bool LineEditor::MoveLeft() {
    if (cursor_ == 0) return false;
    --cursor_;
    return true;
}

bool LineEditor::MoveRight() {
    if (cursor_ == characters_.size()) return false;
    ++cursor_;
    return true;
}

bool LineEditor::MoveToStart() { return std::exchange(cursor_, 0) != 0; }

bool LineEditor::MoveToEnd() { return std::exchange(cursor_, characters_.size()) != characters_.size(); }

bool LineEditor::DeleteBefore() {
    if (cursor_ == 0) return false;
    --cursor_;
    return DeleteAt();
}

bool LineEditor::DeleteAt() {
    if (cursor_ == characters_.size()) return false;
    characters_.erase(characters_.begin() + static_cast<std::ptrdiff_t>(cursor_));
    firstChange_ = std::min(firstChange_, cursor_);
    return true;
}

bool LineEditor::DeleteToEnd() {
    if (cursor_ == characters_.size()) return false;
    characters_.resize(cursor_);
    firstChange_ = std::min(firstChange_, cursor_);
    return true;
}

bool LineEditor::DeleteToStart() {
    if (cursor_ == 0) return false;
    characters_.erase(characters_.begin(), characters_.begin() + static_cast<std::ptrdiff_t>(cursor_));
    cursor_ = 0;
    firstChange_ = 0;
    return true;
}

bool LineEditor::DeleteWordBefore() {
    std::size_t start = cursor_;
    while (start > 0 && IsBlank(characters_[start - 1])) --start;
    while (start > 0 && !IsBlank(characters_[start - 1])) --start;
    if (start == cursor_) return false;
    characters_.erase(characters_.begin() + static_cast<std::ptrdiff_t>(start),
                      characters_.begin() + static_cast<std::ptrdiff_t>(cursor_));
    cursor_ = start;
    firstChange_ = std::min(firstChange_, start);
    return true;
}

void AddToHistory(std::vector<HistoryEntry>& history, HistoryEntry entry) {
    if (entry.text.empty() || (!history.empty() && history.back().text == entry.text)) return;
    history.push_back(std::move(entry));
}

std::optional<HistoryEntry> HistoryWalk::Older(const HistoryEntry& shown) {
    if (position_ == 0) return std::nullopt;
    if (position_ == history_.size()) typed_ = shown;
    return history_[--position_];
}

std::optional<HistoryEntry> HistoryWalk::Newer() {
    if (position_ == history_.size()) return std::nullopt;
    return ++position_ == history_.size() ? typed_ : history_[position_];
}

AnswerEcho::AnswerEcho(Console& console, int row, int column) : console_(console), row_(row), column_(column) {}

int AnswerEcho::RowOf(std::size_t offset) const {
    return row_ + static_cast<int>((static_cast<std::size_t>(column_ - 1) + offset) / kWindowColumns);
}

int AnswerEcho::ColumnOf(std::size_t offset) const {
    return static_cast<int>((static_cast<std::size_t>(column_ - 1) + offset) % kWindowColumns) + 1;
}

std::size_t AnswerEcho::After(std::size_t offset, int width) const {
    // A 2-cell character cannot start in column 80: it goes to the next row.
    if (width == 2 && ColumnOf(offset) == kWindowColumns) ++offset;
    return offset + static_cast<std::size_t>(width);
}

void AnswerEcho::MoveTo(std::size_t offset) {
    const int row = std::max(RowOf(offset), 1);
    const int column = RowOf(offset) < 1 ? 1 : ColumnOf(offset);
    if (console_.CursorRow() != row || console_.CursorColumn() != column) console_.MoveCursor(row, column);
}

void AnswerEcho::Show(LineEditor& editor) {
    const std::vector<AnswerCharacter>& characters = editor.Characters();
    const std::size_t first = std::min(editor.TakeFirstChange(), offsets_.size() - 1);
    if (first < offsets_.size() - 1 || first < characters.size()) {
        const std::size_t oldEnd = offsets_.back();
        offsets_.resize(first + 1);
        for (std::size_t i = first; i < characters.size(); ++i)
            offsets_.push_back(After(offsets_.back(), characters[i].width));
        Rewrite(characters, first, oldEnd);
    }
    MoveTo(offsets_[editor.Cursor()]);
}

void AnswerEcho::MoveToEnd() { MoveTo(offsets_.back()); }

void AnswerEcho::Rewrite(const std::vector<AnswerCharacter>& characters, std::size_t first, std::size_t oldEnd) {
    for (std::size_t i = first; i < characters.size(); ++i) {
        const std::size_t offset = offsets_[i];
        // What scrolled off the top cannot be written again.
        if (RowOf(offset) < 1) continue;
        MoveTo(offset);
        // An early wrap leaves column 80 as it was: blank what an earlier,
        // longer text left there. Past the old end it is blank already.
        if (offsets_[i + 1] - offset > static_cast<std::size_t>(characters[i].width) && offset < oldEnd)
            console_.Write(std::string(1, kBlank));
        console_.Write(characters[i].bytes);
        // The window scrolls when the text passes its last row; the cursor
        // then stands that many rows above where the text says.
        const int expectedRow = RowOf(offsets_[i + 1]);
        if (console_.CursorRow() < expectedRow) row_ -= expectedRow - console_.CursorRow();
    }
    const std::size_t newEnd = offsets_.back();
    if (newEnd >= oldEnd) return;
    // Cells above the window are gone; blank from row 1 on.
    const std::size_t firstOnScreen =
        row_ >= 1 ? 0 : static_cast<std::size_t>(1 - row_) * kWindowColumns - static_cast<std::size_t>(column_ - 1);
    const std::size_t from = std::max(newEnd, firstOnScreen);
    if (from >= oldEnd) return;
    MoveTo(from);
    console_.Write(std::string(oldEnd - from, kBlank));
}

}  // namespace stereotools
