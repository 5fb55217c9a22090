#include "system/Text.h"

#include <gtest/gtest.h>

namespace {

using stereotools::EndsWithNoCase;
using stereotools::IsControlCharacter;
using stereotools::TrimBlanks;

TEST(TrimBlanks, DropsTheBlanksAroundOnly) {
    EXPECT_EQ(TrimBlanks("  This is not a Wave file  "), "This is not a Wave file");
    EXPECT_EQ(TrimBlanks("Cannot write 'a  b.wav': No space left on device  "),
              "Cannot write 'a  b.wav': No space left on device");
    EXPECT_EQ(TrimBlanks("\tkept\t"), "\tkept\t") << "only spaces are blanks here";
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks(""), "");
}

TEST(EndsWithNoCase, IgnoresTheCaseOfAsciiLettersOnly) {
    EXPECT_TRUE(EndsWithNoCase("take.WAV", ".wav"));
    EXPECT_TRUE(EndsWithNoCase("take.Wave", ".wave"));
    EXPECT_TRUE(EndsWithNoCase(".wav", ".wav"));
    EXPECT_FALSE(EndsWithNoCase("wav", ".wav")) << "shorter than the ending";
    EXPECT_FALSE(EndsWithNoCase("take.wav ", ".wav"));
    EXPECT_FALSE(EndsWithNoCase("take.w\xC3\xA1v", ".wav"));
}

TEST(IsControlCharacter, TakesC0DeleteAndC1) {
    for (char32_t c = 0; c < 0x20; ++c) EXPECT_TRUE(IsControlCharacter(c)) << static_cast<int>(c);
    for (char32_t c = 0x7F; c < 0xA0; ++c) EXPECT_TRUE(IsControlCharacter(c)) << static_cast<int>(c);
    for (char32_t c : {U' ', U'~', U'\u00A0', U'\u00E9', U'\u4E2D', U'\U0001F600'}) {
        EXPECT_FALSE(IsControlCharacter(c)) << static_cast<int>(c);
    }
}

}  // namespace

namespace {

enum class Colour { Red, Green, Blue };

TEST(TextOf, FindsTheRowOfAKeyAndNothingForAMissingOne) {
    constexpr stereotools::TextEntry<Colour> table[] = {{Colour::Red, "red"}, {Colour::Blue, "blue"}};
    EXPECT_STREQ(stereotools::TextOf(table, Colour::Red), "red");
    EXPECT_STREQ(stereotools::TextOf(table, Colour::Blue), "blue");
    EXPECT_STREQ(stereotools::TextOf(table, Colour::Green), "");
}

}  // namespace
