#include "console/KeyDecoding.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace stereotools {
namespace {

TEST(KeyForCharacter, NamesTheEditingKeys) {
    struct Case {
        char32_t code;
        Key::Kind kind;
    };
    const Case kCases[] = {
        {U'\r', Key::Kind::Enter}, {U'\n', Key::Kind::Enter},  {0x7F, Key::Kind::Backspace},
        {0x08, Key::Kind::Backspace}, {0x1B, Key::Kind::Escape}, {U'\t', Key::Kind::Tab},
        {0x01, Key::Kind::CtrlA},     {0x04, Key::Kind::CtrlD},  {0x05, Key::Kind::CtrlE},
        {0x0B, Key::Kind::CtrlK},     {0x15, Key::Kind::CtrlU},  {0x17, Key::Kind::CtrlW},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<uint32_t>(c.code));
        const Key key = KeyForCharacter(c.code);
        EXPECT_EQ(key.kind, c.kind);
        EXPECT_EQ(key.bytes, "");
    }
}

TEST(KeyForCharacter, GivesOtherForControlCodesThatAreNoCharacter) {
    for (char32_t code : {char32_t{0x00}, char32_t{0x03}, char32_t{0x1F}, char32_t{0x80}, char32_t{0x9F}}) {
        SCOPED_TRACE(static_cast<uint32_t>(code));
        const Key key = KeyForCharacter(code);
        EXPECT_EQ(key.kind, Key::Kind::Other);
        EXPECT_EQ(key.bytes, "");
    }
}

TEST(KeyForCharacter, GivesPrintableCharactersWithTheirBytes) {
    struct Case {
        char32_t code;
        const char* bytes;
    };
    const Case kCases[] = {
        {U' ', " "}, {U'~', "~"}, {0xA0, "\xC2\xA0"}, {0x4E2D, "\xE4\xB8\xAD"}, {0x1F600, "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<uint32_t>(c.code));
        const Key key = KeyForCharacter(c.code);
        EXPECT_EQ(key.kind, Key::Kind::Character);
        EXPECT_EQ(key.character, c.code);
        EXPECT_EQ(key.bytes, c.bytes);
    }
}

TEST(KeyForCharacter, GivesTheReplacementForValuesThatAreNoCharacter) {
    for (char32_t code : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}}) {
        SCOPED_TRACE(static_cast<uint32_t>(code));
        const Key key = KeyForCharacter(code);
        EXPECT_EQ(key.kind, Key::Kind::Character);
        EXPECT_EQ(key.character, U'\uFFFD');
        EXPECT_EQ(key.bytes, "\xEF\xBF\xBD");
    }
}

}  // namespace
}  // namespace stereotools
