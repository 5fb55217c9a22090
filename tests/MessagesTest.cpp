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
    EXPECT_EQ(CliText(CliMessage::WroteTwo, {"a left channel.wav", "a right channel.wav"}),
              "wrote 'a left channel.wav' and 'a right channel.wav'");
    EXPECT_EQ(CliText(CliMessage::Wrote, {"{}"}), "wrote '{}'") << "a value is never read as a hole";
    EXPECT_EQ(CliText(CliMessage::WroteTwo, {"a"}), "wrote 'a' and ''") << "a missing value is empty";
}

TEST(TrimBlanks, DropsTheBlanksAroundOnly) {
    EXPECT_EQ(TrimBlanks("  This is not a Wave file  "), "This is not a Wave file");
    EXPECT_EQ(TrimBlanks("Cannot write 'a  b.wav': No space left on device  "),
              "Cannot write 'a  b.wav': No space left on device");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks(""), "");
}

}  // namespace
}  // namespace stereotools
