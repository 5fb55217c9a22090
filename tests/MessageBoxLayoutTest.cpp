#include "console/MessageBoxLayout.h"

#include "system/Utf8.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace stereotools {
namespace {

// The refusal the dialogue shows: the backslash and n are two characters.
constexpr const char* kNotFound = "            File not found.\\n Please enter a valid filename  ";
constexpr const char* kNotFoundFirst = "            File not found.";
constexpr const char* kNotFoundSecond = " Please enter a valid filename  ";
constexpr const char* kCaption = "  ERROR";

std::string Text(const BoxLine& line) {
    std::string text;
    for (const BoxGlyph& glyph : line) text += EncodeUtf8(glyph.character);
    return text;
}

std::vector<std::string> Texts(const std::vector<BoxLine>& lines) {
    std::vector<std::string> texts;
    for (const BoxLine& line : lines) texts.push_back(Text(line));
    return texts;
}

BoxLine Line(const std::string& text) { return SplitMessage(text).front(); }

TEST(SplitMessage, BreaksAtBackslashNAndAtLineBreaks) {
    EXPECT_EQ(Texts(SplitMessage(kNotFound)), (std::vector<std::string>{kNotFoundFirst, kNotFoundSecond}));
    EXPECT_EQ(Texts(SplitMessage("a\nb\\nc")), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Texts(SplitMessage("end\\n")), (std::vector<std::string>{"end", ""}));
    EXPECT_EQ(Texts(SplitMessage("")), (std::vector<std::string>{""}));
}

TEST(SplitMessage, KeepsABackslashNotFollowedByN) {
    EXPECT_EQ(Texts(SplitMessage("C:\\temp\\")), (std::vector<std::string>{"C:\\temp\\"}));
    EXPECT_EQ(Texts(SplitMessage("\\\\n")), (std::vector<std::string>{"\\", ""}));
}

TEST(SplitMessage, GivesWideCharactersTwoCells) {
    const BoxLine line = Line("a\xE4\xB8\xAD\xFF");
    ASSERT_EQ(line.size(), 3u);
    EXPECT_EQ(line[1].width, 2);
    EXPECT_EQ(line[2].character, U'\uFFFD');
    EXPECT_EQ(LineWidth(line), 4);
}

TEST(WrapParagraph, KeepsALineThatFits) {
    EXPECT_EQ(Texts(WrapParagraph(Line("exactly ten"), 11)), (std::vector<std::string>{"exactly ten"}));
    EXPECT_EQ(Texts(WrapParagraph(Line(""), 5)), (std::vector<std::string>{""}));
}

TEST(WrapParagraph, BreaksAtTheLastBlankThatFitsAndDropsIt) {
    EXPECT_EQ(Texts(WrapParagraph(Line("one two three"), 9)), (std::vector<std::string>{"one two", "three"}));
    EXPECT_EQ(Texts(WrapParagraph(Line(kNotFoundSecond), 26)),
              (std::vector<std::string>{" Please enter a valid", "filename  "}));
}

TEST(WrapParagraph, BreaksALongWordWhereTheLineIsFull) {
    EXPECT_EQ(Texts(WrapParagraph(Line("abcdefghij"), 4)), (std::vector<std::string>{"abcd", "efgh", "ij"}));
}

TEST(WrapParagraph, DropsLeadingBlanksThatDoNotFitBeforeTheFirstWord) {
    EXPECT_EQ(Texts(WrapParagraph(Line("   abcdef"), 5)), (std::vector<std::string>{"abcde", "f"}));
}

TEST(WrapParagraph, NeverSplitsAWideCharacter) {
    const auto lines = WrapParagraph(Line("abcd\xE4\xB8\xAD"), 5);
    EXPECT_EQ(Texts(lines), (std::vector<std::string>{"abcd", "\xE4\xB8\xAD"}));
    // Too wide for any line: left out.
    EXPECT_EQ(Texts(WrapParagraph(Line("\xE4\xB8\xAD"
                                       "a"),
                                  1)),
              (std::vector<std::string>{"a"}));
}

TEST(LayOutMessageBox, SizesTheRefusalFromItsTextAndCentresIt) {
    const MessageBoxLayout box = LayOutMessageBox(kNotFound, kCaption, 38, 80);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(Texts(box.lines), (std::vector<std::string>{kNotFoundFirst, kNotFoundSecond}));
    // The widest line (32 cells), a blank column and a border each side.
    EXPECT_EQ(box.width, 36);
    // Border, two lines, a blank row, the button row, border.
    EXPECT_EQ(box.height, 6);
    EXPECT_EQ(box.top, 16);
    EXPECT_EQ(box.left, 22);
    EXPECT_EQ(box.textColumn, 2);
    EXPECT_EQ(Text(box.caption), "  ERROR ");
    EXPECT_EQ(Text(box.button), "< OK >");
    EXPECT_EQ(box.buttonRow, 4);
    EXPECT_EQ(box.buttonColumn, 15);

    const MessageBoxLayout knit = LayOutMessageBox(kNotFound, kCaption, 28, 80);
    EXPECT_EQ(knit.top, 11);
    EXPECT_EQ(knit.left, 22);
}

TEST(LayOutMessageBox, WrapsTheTextOnANarrowScreen) {
    const MessageBoxLayout box = LayOutMessageBox(kNotFound, kCaption, 20, 30);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(Texts(box.lines),
              (std::vector<std::string>{"            File not", "found.", " Please enter a valid", "filename  "}));
    EXPECT_EQ(box.width, 25);
    EXPECT_EQ(box.height, 8);
    EXPECT_EQ(box.left, 2);
    EXPECT_EQ(box.top, 6);
}

TEST(LayOutMessageBox, IsAsWideAsTheButtonOrTheCaptionNeeds) {
    EXPECT_EQ(LayOutMessageBox("", "", 25, 80).width, 10);
    EXPECT_EQ(LayOutMessageBox("x", "A long caption", 25, 80).width, 20);
}

TEST(LayOutMessageBox, GivesUpTheBlankRowBeforeAnyText) {
    const char* message = "one\\ntwo\\nthree\\nfour";
    const MessageBoxLayout roomy = LayOutMessageBox(message, kCaption, 8, 80);
    EXPECT_EQ(roomy.height, 8);
    EXPECT_EQ(roomy.buttonRow, 6);
    const MessageBoxLayout tight = LayOutMessageBox(message, kCaption, 7, 80);
    EXPECT_EQ(tight.height, 7);
    EXPECT_EQ(tight.buttonRow, 5);
    EXPECT_EQ(Texts(tight.lines), (std::vector<std::string>{"one", "two", "three", "four"}));
}

TEST(LayOutMessageBox, EndsTextWithoutRoomWithAnEllipsis) {
    const MessageBoxLayout box = LayOutMessageBox("one\\ntwo\\nthree\\nfour", kCaption, 6, 80);
    EXPECT_EQ(Texts(box.lines), (std::vector<std::string>{"one", "two", "three\u2026"}));
    EXPECT_EQ(box.height, 6);
    EXPECT_EQ(box.top, 0);

    // A full last line gives up its last character to the ellipsis.
    const MessageBoxLayout full = LayOutMessageBox("abcdefgh\\nxyz", "", 4, 12);
    EXPECT_EQ(Texts(full.lines), (std::vector<std::string>{"abcdefg\u2026"}));

    // With only the borders and the button, no text at all.
    EXPECT_TRUE(LayOutMessageBox("text", kCaption, 3, 80).lines.empty());
}

TEST(LayOutMessageBox, ShowsNothingUnder3RowsOr6Columns) {
    EXPECT_FALSE(LayOutMessageBox(kNotFound, kCaption, 2, 80).shown);
    EXPECT_FALSE(LayOutMessageBox(kNotFound, kCaption, 38, 5).shown);
    EXPECT_FALSE(LayOutMessageBox(kNotFound, kCaption, 0, 0).shown);
    EXPECT_TRUE(LayOutMessageBox(kNotFound, kCaption, 3, 6).shown);
}

TEST(LayOutMessageBox, KeepsEverythingInsideTheBorderAndTheBoxOnTheScreen) {
    const char* kMessages[] = {kNotFound, "",
                               "Cannot write '\xE6\x97\xA5\xE6\x9C\xAC left channel.wav': No space left"};
    for (const char* message : kMessages) {
        for (int rows = 3; rows <= 40; ++rows) {
            for (int columns = 6; columns <= 80; ++columns) {
                SCOPED_TRACE(testing::Message() << message << " " << rows << "x" << columns);
                const MessageBoxLayout box = LayOutMessageBox(message, kCaption, rows, columns);
                ASSERT_TRUE(box.shown);
                ASSERT_GE(box.top, 0);
                ASSERT_GE(box.left, 0);
                ASSERT_LE(box.top + box.height, rows);
                ASSERT_LE(box.left + box.width, columns);
                ASSERT_LE(std::abs(2 * box.top - (rows - box.height)), 1);
                ASSERT_LE(std::abs(2 * box.left - (columns - box.width)), 1);
                ASSERT_LE(1 + LineWidth(box.caption), box.width - 1);
                ASSERT_LE(1 + static_cast<int>(box.lines.size()), box.buttonRow);
                for (const BoxLine& line : box.lines) ASSERT_LE(box.textColumn + LineWidth(line), box.width - 1);
                ASSERT_GE(box.buttonColumn, 1);
                ASSERT_LE(box.buttonColumn + LineWidth(box.button), box.width - 1);
                ASSERT_EQ(box.buttonRow, box.height - 2);
            }
        }
    }
}

TEST(LayOutMessageBox, CutsTheButtonRatherThanItsBorderInTheNarrowestBox) {
    const MessageBoxLayout box = LayOutMessageBox("", "", 3, 6);
    EXPECT_EQ(box.width, 6);
    EXPECT_EQ(box.buttonColumn, 1);
    EXPECT_EQ(Text(box.button), "< OK");
}

}  // namespace
}  // namespace stereotools
