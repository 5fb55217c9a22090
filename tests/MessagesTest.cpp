#include "cli/Messages.h"

#include <gtest/gtest.h>

#include <string>

namespace stereotools {
namespace {

TEST(CliText, EveryMessageHasItsText) {
    struct Case {
        CliMessage message;
        const char* text;
    };
    const Case cases[] = {
        {CliMessage::FileNotFound, "File not found. ({})"},
        {CliMessage::OutputExists, "'{}' exists; use --force to replace it"},
        {CliMessage::OutputTwice, "'{}' is written by '{}' earlier in this run"},
        {CliMessage::OutputFolder, "Cannot use as output folder: {}"},
        {CliMessage::NotAFolder, "Not a folder"},
        {CliMessage::Wrote, "wrote '{}'"},
        {CliMessage::WroteTwo, "wrote '{}' and '{}'"},
        {CliMessage::WouldWrite, "would write '{}'"},
        {CliMessage::WouldWriteTwo, "would write '{}' and '{}'"},
        {CliMessage::Facts,
         "{}: channels {}, sample rate {} Hz, resolution {} bits, length {} samples, duration {} seconds"},
        {CliMessage::Progress, "{} of {} files, {}%, {} MB/s"},
        {CliMessage::UsageHint, "Try '{} --help' for more information."},
        {CliMessage::OutputFailed, "write error: {}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // Filled with "{}" itself, each text comes back as it stands.
        EXPECT_EQ(CliText(c.message, {"{}", "{}", "{}", "{}", "{}", "{}"}), c.text);
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
