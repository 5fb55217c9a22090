#include "cli/Messages.h"

#include <gtest/gtest.h>

#include <string>

namespace stereotools {
namespace {

// The texts themselves are checked where the programs print them.
TEST(CliText, EveryMessageHasAText) {
    for (int message = 0; message <= static_cast<int>(CliMessage::OutputFailed); ++message) {
        SCOPED_TRACE(message);
        EXPECT_NE(CliText(static_cast<CliMessage>(message)), "");
    }
}

TEST(CliText, FillsTheValuesInOrder) {
    EXPECT_EQ(CliText(CliMessage::Incompatible, {"Differ", "1", "2", " Hz"}), "Differ (1 and 2 Hz)");
    EXPECT_EQ(CliText(CliMessage::Wrote, {"{}"}), "wrote {}") << "a value is never read as a hole";
    EXPECT_EQ(CliText(CliMessage::Incompatible, {"a"}), "a ( and )") << "a missing value is empty";
}

// A stereo split's line stays "wrote 'L' and 'R'".
TEST(NameList, JoinsQuotedNamesAsAnEnglishList) {
    EXPECT_EQ(NameList({"a.wav"}), "'a.wav'");
    EXPECT_EQ(NameList({"a left channel.wav", "a right channel.wav"}),
              "'a left channel.wav' and 'a right channel.wav'");
    EXPECT_EQ(NameList({"x 1.wav", "it's.wav", "x 3.wav"}), "'x 1.wav', 'it'\\''s.wav' and 'x 3.wav'");
    EXPECT_EQ(NumberList({2}), "2");
    EXPECT_EQ(NumberList({2, 4}), "2 and 4");
    EXPECT_EQ(NumberList({1, 2, 16}), "1, 2 and 16");
}

// One shell word for the name; the command-line tests have bash read such words back.
TEST(QuotedName, QuotesAsTheShellEscapeStyleDoes) {
    struct Case {
        std::string name;
        const char* quoted;
    };
    const Case cases[] = {
        {"take 1 left channel.wav", "'take 1 left channel.wav'"},
        {"new\nline", "'new'$'\\n''line'"},
        {"\x1B[2Jwiped.wav", "$'\\033''[2Jwiped.wav'"},
        {"tab\t", "'tab'$'\\t'"},
        {"it's.wav", "'it'\\''s.wav'"},
        {"caf\xC3\xA9.wav", "'caf\xC3\xA9.wav'"},
        {"bad\xFF.wav", "'bad'$'\\377''.wav'"},
        {"c1\xC2\x9B", "'c1'$'\\302\\233'"},
        {"", "''"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quoted);
        EXPECT_EQ(QuotedName(c.name), c.quoted);
    }
}

TEST(NameForLine, QuotesOnlyNamesThatNeedIt) {
    EXPECT_EQ(NameForLine("my take's.wav"), "my take's.wav");
    EXPECT_EQ(NameForLine("new\nline.wav"), "'new'$'\\n''line.wav'");
}

}  // namespace
}  // namespace stereotools
