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
    EXPECT_EQ(CliText(CliMessage::WroteTwo, {"'a left channel.wav'", "'a right channel.wav'"}),
              "wrote 'a left channel.wav' and 'a right channel.wav'");
    EXPECT_EQ(CliText(CliMessage::Wrote, {"{}"}), "wrote {}") << "a value is never read as a hole";
    EXPECT_EQ(CliText(CliMessage::WroteTwo, {"a"}), "wrote a and ") << "a missing value is empty";
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
