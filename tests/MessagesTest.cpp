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

}  // namespace
}  // namespace stereotools
