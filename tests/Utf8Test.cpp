#include "system/Utf8.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace stereotools {
namespace {

std::vector<char32_t> CodePoints(std::string_view text) {
    std::vector<char32_t> out;
    for (const Utf8Character& c : SplitUtf8(text)) out.push_back(c.codePoint);
    return out;
}

TEST(SplitUtf8, GivesOffsetsAndLengthsOfMixedText) {
    const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\xB5z";  // a é 中 🎵 z
    const std::vector<Utf8Character> characters = SplitUtf8(text);
    ASSERT_EQ(characters.size(), 5u);
    const std::vector<Utf8Character> expected = {
        {U'a', 0, 1}, {U'\u00E9', 1, 2}, {U'\u4E2D', 3, 3}, {U'\U0001F3B5', 6, 4}, {U'z', 10, 1}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(characters[i].codePoint, expected[i].codePoint);
        EXPECT_EQ(characters[i].offset, expected[i].offset);
        EXPECT_EQ(characters[i].length, expected[i].length);
    }
}

TEST(SplitUtf8, EmptyTextHasNoCharacters) { EXPECT_TRUE(SplitUtf8("").empty()); }

TEST(SplitUtf8, ReplacesEachByteOfAnIllFormedSequence) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case kIllFormed[] = {
        {"overlong 2-byte NUL", "\xC0\x80"},
        {"overlong 2-byte lead C1", "\xC1\xBF"},
        {"overlong 3-byte", "\xE0\x80\xAF"},
        {"overlong 4-byte", "\xF0\x8F\xBF\xBF"},
        {"high surrogate", "\xED\xA0\x80"},
        {"low surrogate", "\xED\xBF\xBF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"lead F5", "\xF5\x80\x80\x80"},
        {"lead FF", "\xFF"},
        {"lone continuation", "\x80"},
        {"truncated 3-byte", "\xE2\x82"},
        {"truncated 4-byte", "\xF0\x9F\x8E"},
    };
    for (const Case& c : kIllFormed) {
        SCOPED_TRACE(c.name);
        const std::vector<Utf8Character> characters = SplitUtf8(c.bytes);
        ASSERT_EQ(characters.size(), c.bytes.size());
        for (std::size_t i = 0; i < characters.size(); ++i) {
            EXPECT_EQ(characters[i].codePoint, U'\uFFFD');
            EXPECT_EQ(characters[i].offset, i);
            EXPECT_EQ(characters[i].length, 1u);
        }
    }
}

TEST(SplitUtf8, ResumesAfterATruncatedSequence) {
    // A sequence cut short by the next character must not swallow it.
    EXPECT_EQ(CodePoints("\xE2\x82"
                         "A\xC3"),
              (std::vector<char32_t>{U'\uFFFD', U'\uFFFD', U'A', U'\uFFFD'}));
    EXPECT_EQ(CodePoints("\xE4\xB8\xC3\xA9"), (std::vector<char32_t>{U'\uFFFD', U'\uFFFD', U'\u00E9'}));
}

TEST(SplitUtf8, KeepsEveryByteInExactlyOneCharacter) {
    const std::string text = "x\xFF\xC3\xA9\xED\xA0\x80\xF0\x9F\x8E\xB5\xE2";
    std::size_t next = 0;
    for (const Utf8Character& c : SplitUtf8(text)) {
        EXPECT_EQ(c.offset, next);
        next += c.length;
    }
    EXPECT_EQ(next, text.size());
}

// The first and last code points of each encoding length, and those next to
// the surrogate gap, decode and encode back to the same bytes.
struct Boundary {
    char32_t codePoint;
    std::string bytes;
};

class Utf8Boundary : public testing::TestWithParam<Boundary> {};

TEST_P(Utf8Boundary, DecodesAndEncodesTheSameBytes) {
    const Boundary& b = GetParam();
    const std::vector<Utf8Character> characters = SplitUtf8(b.bytes);
    ASSERT_EQ(characters.size(), 1u);
    EXPECT_EQ(characters[0].codePoint, b.codePoint);
    EXPECT_EQ(characters[0].length, b.bytes.size());
    EXPECT_EQ(EncodeUtf8(b.codePoint), b.bytes);
}

INSTANTIATE_TEST_SUITE_P(EncodingLengths, Utf8Boundary,
                         testing::Values(Boundary{0x00, std::string(1, '\0')}, Boundary{0x7F, "\x7F"},
                                         Boundary{0x80, "\xC2\x80"}, Boundary{0x7FF, "\xDF\xBF"},
                                         Boundary{0x800, "\xE0\xA0\x80"}, Boundary{0xD7FF, "\xED\x9F\xBF"},
                                         Boundary{0xE000, "\xEE\x80\x80"}, Boundary{0xFFFF, "\xEF\xBF\xBF"},
                                         Boundary{0x10000, "\xF0\x90\x80\x80"},
                                         Boundary{0x10FFFF, "\xF4\x8F\xBF\xBF"}));

TEST(EncodeUtf8, GivesTheReplacementForCodePointsWithoutEncoding) {
    EXPECT_EQ(EncodeUtf8(0xD800), "\xEF\xBF\xBD");
    EXPECT_EQ(EncodeUtf8(0xDFFF), "\xEF\xBF\xBD");
    EXPECT_EQ(EncodeUtf8(0x110000), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace stereotools

namespace {

// Every encoding starts with a byte whose class gives its length, and the
// rest are continuation bytes; bytes that start no encoding count as one.
TEST(Utf8ByteClasses, AgreeWithEveryEncoding) {
    std::array<bool, 256> leads{};
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const std::string bytes = stereotools::EncodeUtf8(c);
        const auto lead = static_cast<unsigned char>(bytes[0]);
        leads[lead] = true;
        ASSERT_EQ(stereotools::Utf8SequenceLength(lead), bytes.size()) << static_cast<uint32_t>(c);
        ASSERT_FALSE(stereotools::IsUtf8Continuation(lead));
        for (std::size_t i = 1; i < bytes.size(); ++i) {
            ASSERT_TRUE(stereotools::IsUtf8Continuation(static_cast<unsigned char>(bytes[i])));
        }
    }
    for (int b = 0; b < 256; ++b) {
        if (leads[static_cast<std::size_t>(b)]) continue;
        EXPECT_EQ(stereotools::Utf8SequenceLength(static_cast<unsigned char>(b)), 1u) << b;
    }
}

}  // namespace
