#include "MessageBoxLayout.h"

#include "CellWidth.h"
#include "system/Utf8.h"

#include <algorithm>

namespace stereotools {
namespace {

// Smallest screen that holds a box: two borders and the button row, and the
// borders with "< OK" between them.
constexpr int kMinBoxRows = 3;
constexpr int kMinBoxColumns = 6;
// Narrower screens get no blank column beside the text.
constexpr int kMinPaddedColumns = 12;
constexpr char32_t kEllipsis = U'\u2026';

bool IsBlank(const BoxGlyph& glyph) { return glyph.character == U' '; }

BoxLine GlyphsOf(std::string_view text) {
    BoxLine line;
    for (const Utf8Character& character : SplitUtf8(text))
        line.push_back({character.codePoint, WideCellWidth(character.codePoint)});
    return line;
}

// Returns the longest start of `line` that fits in `cells`.
BoxLine Truncated(BoxLine line, int cells) {
    int used = 0;
    auto end = line.begin();
    while (end != line.end() && used + end->width <= cells) used += (end++)->width;
    line.erase(end, line.end());
    return line;
}

}  // namespace

int LineWidth(const BoxLine& line) {
    int width = 0;
    for (const BoxGlyph& glyph : line) width += glyph.width;
    return width;
}

std::vector<BoxLine> SplitMessage(std::string_view message) {
    std::vector<BoxLine> paragraphs(1);
    const BoxLine glyphs = GlyphsOf(message);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const char32_t c = glyphs[i].character;
        if (c == U'\\' && i + 1 < glyphs.size() && glyphs[i + 1].character == U'n') {
            paragraphs.emplace_back();
            ++i;
            continue;
        }
        if (c == U'\n') {
            paragraphs.emplace_back();
            continue;
        }
        paragraphs.back().push_back(glyphs[i]);
    }
    return paragraphs;
}

std::vector<BoxLine> WrapParagraph(const BoxLine& paragraph, int width) {
    std::vector<BoxLine> lines;
    BoxLine line;
    int used = 0;
    for (const BoxGlyph& glyph : paragraph) {
        if (used + glyph.width > width && !line.empty()) {
            const auto blank = std::find_if(line.rbegin(), line.rend(), IsBlank);
            if (blank != line.rend() && blank.base() - 1 != line.begin()) {
                const auto cut = blank.base() - 1;
                BoxLine rest(cut + 1, line.end());
                line.erase(cut, line.end());
                // Leading blanks that do not fit before the first word are dropped.
                if (!std::all_of(line.begin(), line.end(), IsBlank)) lines.push_back(std::move(line));
                line = std::move(rest);
            } else {
                lines.push_back(std::move(line));
                line.clear();
            }
            used = LineWidth(line);
        }
        if (glyph.width > width) continue;
        line.push_back(glyph);
        used += glyph.width;
    }
    lines.push_back(std::move(line));
    return lines;
}

MessageBoxLayout LayOutMessageBox(std::string_view message, std::string_view caption, int screenRows,
                                  int screenColumns) {
    MessageBoxLayout box;
    if (screenRows < kMinBoxRows || screenColumns < kMinBoxColumns) return box;
    box.shown = true;
    const int padding = screenColumns >= kMinPaddedColumns ? 1 : 0;
    const int maxInner = screenColumns - 2 - 2 * padding;

    BoxLine captionLine = GlyphsOf(caption);
    if (!captionLine.empty()) captionLine.push_back({U' ', 1});
    const BoxLine button = GlyphsOf("< OK >");

    for (const BoxLine& paragraph : SplitMessage(message)) {
        for (BoxLine& line : WrapParagraph(paragraph, maxInner)) box.lines.push_back(std::move(line));
    }

    // Rows: top border, the text, a blank, the button, bottom border.
    const int textRows = screenRows - 3;
    const int lineCount = static_cast<int>(box.lines.size());
    const bool blankRow = textRows > lineCount;
    const int shownLines = std::min(lineCount, blankRow ? textRows - 1 : textRows);
    if (shownLines < lineCount) {
        box.lines.resize(static_cast<std::size_t>(shownLines));
        if (!box.lines.empty()) {
            BoxLine& last = box.lines.back();
            while (!last.empty() && LineWidth(last) + 1 > maxInner) last.pop_back();
            last.push_back({kEllipsis, 1});
        }
    }

    int inner = std::max(LineWidth(button), LineWidth(captionLine) + 1);
    for (const BoxLine& line : box.lines) inner = std::max(inner, LineWidth(line));
    inner = std::min(inner, maxInner);
    box.height = 3 + shownLines + (blankRow ? 1 : 0);
    box.width = inner + 2 + 2 * padding;
    box.top = (screenRows - box.height) / 2;
    box.left = (screenColumns - box.width) / 2;
    box.caption = Truncated(std::move(captionLine), box.width - 2);
    box.textColumn = 1 + padding;
    box.buttonRow = box.height - 2;
    // In the narrowest boxes the button is cut rather than drawn over the border.
    box.buttonColumn = std::max(1, (box.width - LineWidth(button)) / 2);
    box.button = Truncated(button, box.width - 1 - box.buttonColumn);
    return box;
}

}  // namespace stereotools
