#include "CellGrid.h"

#include "CellWidth.h"
#include "system/Utf8.h"

#include <algorithm>

namespace stereotools {
namespace {

constexpr int kLastColour = 15;

std::size_t CellIndex(int row, int column) {
    return static_cast<std::size_t>(row - 1) * kWindowColumns + static_cast<std::size_t>(column - 1);
}

}  // namespace

CellGrid::CellGrid(int rows) : rows_(std::clamp(rows, 1, kMaxWindowRows)) {
    cells_.assign(static_cast<std::size_t>(rows_) * kWindowColumns, GridCell{});
}

void CellGrid::SetRows(int rows) {
    rows_ = std::clamp(rows, 1, kMaxWindowRows);
    cells_.resize(static_cast<std::size_t>(rows_) * kWindowColumns, Blank());
    row_ = std::min(row_, rows_);
}

void CellGrid::Clear() {
    std::fill(cells_.begin(), cells_.end(), Blank());
    row_ = 1;
    column_ = 1;
}

void CellGrid::SetColours(int foreground, int background) {
    foreground_ = std::clamp(foreground, 0, kLastColour);
    background_ = std::clamp(background, 0, kLastColour);
}

void CellGrid::MoveCursor(int row, int column) {
    row_ = std::clamp(row, 1, rows_);
    column_ = std::clamp(column, 1, kWindowColumns);
}

void CellGrid::Write(std::string_view text) {
    for (const Utf8Character& character : SplitUtf8(text)) {
        const int width = WideCellWidth(character.codePoint);
        if (column_ + width - 1 > kWindowColumns) NextRow();
        Put(character.codePoint, width);
        column_ += width;
        if (column_ > kWindowColumns) NextRow();
    }
}

void CellGrid::Put(char32_t character, int width) {
    // A wide character cut in half by this write loses its other half.
    if (CellAt(row_, column_).continuation && column_ > 1) CellAt(row_, column_ - 1).character = U' ';
    const int after = column_ + width;
    if (after <= kWindowColumns && CellAt(row_, after).continuation) {
        GridCell& orphan = CellAt(row_, after);
        orphan.character = U' ';
        orphan.continuation = false;
    }
    CellAt(row_, column_) = GridCell{character, foreground_, background_, false};
    if (width == 2) CellAt(row_, column_ + 1) = GridCell{U' ', foreground_, background_, true};
}

void CellGrid::LineBreak() { NextRow(); }

void CellGrid::NextRow() {
    column_ = 1;
    if (row_ == rows_) {
        ScrollUp();
        return;
    }
    ++row_;
}

void CellGrid::ScrollUp() {
    std::move(cells_.begin() + kWindowColumns, cells_.end(), cells_.begin());
    std::fill(cells_.end() - kWindowColumns, cells_.end(), Blank());
}

GridCell& CellGrid::CellAt(int row, int column) { return cells_[CellIndex(row, column)]; }

const GridCell& CellGrid::At(int row, int column) const {
    static const GridCell kOutside{};
    if (row < 1 || row > rows_ || column < 1 || column > kWindowColumns) return kOutside;
    return cells_[CellIndex(row, column)];
}

std::span<const GridCell> CellGrid::RowCells(int row) const {
    return std::span<const GridCell>(cells_).subspan(CellIndex(row, 1), kWindowColumns);
}

std::string CellGrid::RowText(int row) const {
    std::string text;
    if (row < 1 || row > rows_) return text;
    for (const GridCell& cell : RowCells(row)) {
        if (!cell.continuation) text += EncodeUtf8(cell.character);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

}  // namespace stereotools
