#include "console/KeyDecoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace stereotools {
namespace {

// The letters of the Ctrl keys the manual's KEYS section lists as keys of
// their own (an item header such as ".BR Home \", \" Ctrl\\-A"), in order.
std::string ManualCtrlLetters() {
    std::ifstream manual(std::string(STEREOTOOLS_DOC_DIR) + "/stereorip.1");
    std::string line;
    bool inKeys = false;
    std::set<char> letters;
    while (std::getline(manual, line)) {
        if (line.starts_with(".SH")) inKeys = line == ".SH KEYS";
        if (!inKeys || !line.starts_with(".B")) continue;
        for (std::size_t at = line.find("Ctrl\\-"); at != std::string::npos; at = line.find("Ctrl\\-", at + 1)) {
            if (at + 6 < line.size()) letters.insert(line[at + 6]);
        }
    }
    return {letters.begin(), letters.end()};
}

// Ctrl and a letter sends the letter's code less 0x40. Exactly the Ctrl
// keys the manual lists decode to a Ctrl key, each to its own, in the order
// of their letters; the codes that are keys of their own (Tab is Ctrl-I,
// Enter Ctrl-J or Ctrl-M, Backspace Ctrl-H) keep their names.
TEST(KeyForCharacter, DecodesTheCtrlKeysTheManualLists) {
    const std::string documented = ManualCtrlLetters();
    ASSERT_FALSE(documented.empty()) << "no Ctrl keys found in the manual";
    const std::map<char, Key::Kind> ownKeys = {{'H', Key::Kind::Backspace},
                                               {'I', Key::Kind::Tab},
                                               {'J', Key::Kind::Enter},
                                               {'M', Key::Kind::Enter}};
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        SCOPED_TRACE(letter);
        const Key key = KeyForCharacter(static_cast<char32_t>(letter - 0x40));
        EXPECT_EQ(key.bytes, "");
        const std::size_t listed = documented.find(letter);
        if (const auto own = ownKeys.find(letter); own != ownKeys.end()) {
            EXPECT_EQ(key.kind, own->second);
        } else if (listed != std::string::npos) {
            EXPECT_EQ(static_cast<int>(key.kind), static_cast<int>(Key::Kind::CtrlA) + static_cast<int>(listed));
        } else {
            EXPECT_EQ(key.kind, Key::Kind::Other);
        }
    }
    EXPECT_EQ(KeyForCharacter(0x7F).kind, Key::Kind::Backspace);  // what most terminals send for Backspace
    EXPECT_EQ(KeyForCharacter(0x1B).kind, Key::Kind::Escape);
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
