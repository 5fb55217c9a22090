#include "jobs/ChannelNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace stereotools {
namespace {

TEST(DeriveChannelFileNames, CutsTheLastFourCharacters) {
    struct Case {
        const char* input;
        const char* stem;
    };
    const Case cases[] = {
        {"take1.wav", "take1"},
        {"take1.wave", "take1."},
        {"abc", "abc"},
        {"abcd", ""},
        {"a", "a"},
        {"", ""},
        {"sessions/day 2/take1.wav", "sessions/day 2/take1"},
        {"/abs/x.wav", "/abs/x"},
        {"Gr\xC3\xBC\xC3\x9F" "e.wav", "Gr\xC3\xBC\xC3\x9F" "e"},     // Grüße.wav
        {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", ""},                      // äöüß: four characters, eight bytes
        {"x\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97\xE5\xB9\xB4", "x"},    // x and four wide characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const ChannelFileNames names = DeriveChannelFileNames(c.input);
        EXPECT_EQ(names.left, std::string(c.stem) + " left channel.wav");
        EXPECT_EQ(names.right, std::string(c.stem) + " right channel.wav");
    }
}

// The cut never reaches into the folder part: the outputs stay beside the
// input, whatever the length of its last component.
TEST(DeriveChannelFileNames, CutsOnlyTheNameAfterTheLastSlash) {
    struct Case {
        const char* input;
        const char* stem;
    };
    const Case cases[] = {
        {"d/abc", "d/abc"},
        {"/srv/a/b/xyz", "/srv/a/b/xyz"},
        {"d/abcd", "d/"},
        {"x/.wav", "x/"},
        {"./ab", "./ab"},
        {"dir.wave/ab", "dir.wave/ab"},
        {"dir/", "dir/"},
        {"d/\xC3\xA4\xC3\xB6", "d/\xC3\xA4\xC3\xB6"},            // d/äö: two characters
        {"d/\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "d/"},            // d/äöüß
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const ChannelFileNames names = DeriveChannelFileNames(c.input);
        EXPECT_EQ(names.left, std::string(c.stem) + " left channel.wav");
        EXPECT_EQ(names.right, std::string(c.stem) + " right channel.wav");
    }
}

// A byte that is no part of a well-formed UTF-8 sequence shows as one cell
// on the console, so it counts as one character.
TEST(DeriveChannelFileNames, CountsEachInvalidByteAsOneCharacter) {
    struct Case {
        const char* name;
        std::string input;
        std::string stem;
    };
    const Case cases[] = {
        {"stray byte", "take\xFF.wav", "take\xFF"},
        {"continuation bytes alone", "ab\x80\x80\x80", "a"},
        {"overlong form", "x\xC0\xAF.w", "x"},
        {"surrogate", "x\xED\xA0\x80.", "x"},
        {"sequence cut short", "ab\xE4\xB8", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DeriveChannelFileNames(c.input).left, c.stem + " left channel.wav");
    }
}

// Stereo keeps its left and right names; more channels are numbered from
// 1, padded to the digits of the count so that they sort in order.
TEST(DeriveSplitFileNames, NumbersTheChannelsOfManyChannelFiles) {
    EXPECT_EQ(DeriveSplitFileNames("dir/take1.wav", 2),
              (std::vector<std::string>{"dir/take1 left channel.wav", "dir/take1 right channel.wav"}));
    EXPECT_EQ(DeriveSplitFileNames("dir/take1.wav", 3),
              (std::vector<std::string>{"dir/take1 channel 1.wav", "dir/take1 channel 2.wav", "dir/take1 channel 3.wav"}));
    const std::vector<std::string> sixteen = DeriveSplitFileNames("T01.WAV", 16);
    ASSERT_EQ(sixteen.size(), 16u);
    EXPECT_EQ(sixteen[0], "T01 channel 01.wav");
    EXPECT_EQ(sixteen[9], "T01 channel 10.wav");
    EXPECT_TRUE(std::is_sorted(sixteen.begin(), sixteen.end()));
    const std::vector<std::string> most = DeriveSplitFileNames("abc", 65535);
    EXPECT_EQ(most.front(), "abc channel 00001.wav");
    EXPECT_EQ(most.back(), "abc channel 65535.wav");
}

TEST(PartnerName, GivesTheRightNameForEachNamingPair) {
    struct Case {
        const char* left;
        const char* right;
    };
    const Case kCases[] = {
        {"take 1 left channel.wav", "take 1 right channel.wav"},
        {"/home/me/take left channel.wav", "/home/me/take right channel.wav"},
        {"take.L.wav", "take.R.wav"},
        {"take.l.wav", "take.r.wav"},
        {"take_L.wav", "take_R.wav"},
        {"take_l.WAV", "take_r.WAV"},
        {"take-L.wav", "take-R.wav"},
        {"take-l.wave", "take-r.wave"},
        {"dir.L/take.L.Wav", "dir.L/take.R.Wav"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.left);
        EXPECT_EQ(PartnerName(c.left), c.right);
    }
}

TEST(PartnerName, GivesNothingForNamesThatPairWithNothing) {
    for (const char* left : {"", "take.wav", "takeL.wav", "take.L.txt", ".L.wav", "take.R.wav", "L.wav",
                             "take left channel.WAV", "take.L", "take left.wav"}) {
        SCOPED_TRACE(left);
        EXPECT_EQ(PartnerName(left), "");
    }
}

TEST(PairChannelFiles, PairsEachLeftNameWithItsPartnerAndTheJoinedName) {
    struct Case {
        const char* left;
        const char* right;
        const char* joined;
    };
    const Case kCases[] = {
        {"take 1 left channel.wav", "take 1 right channel.wav", "take 1.wav"},
        {"d/take left channel.wav", "d/take right channel.wav", "d/take.wav"},
        {"take.L.wav", "take.R.wav", "take.wav"},
        {"take.l.WAV", "take.r.WAV", "take.wav"},
        {"take_L.wav", "take_R.wav", "take.wav"},
        {"take-l.wav", "take-r.wav", "take.wav"},
        {"take-L.wave", "take-R.wave", "take.wav"},
        {"dir.L/take.L.Wav", "dir.L/take.R.Wav", "dir.L/take.wav"},
        {"a.b_L.wav", "a.b_R.wav", "a.b.wav"},
        {"take Left Channel.wav", "take Right Channel.wav", "take.wav"},
        {"take LEFT CHANNEL.WAV", "take RIGHT CHANNEL.WAV", "take.wav"},
        {"take left channel.wave", "take right channel.wave", "take.wav"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.left);
        const ChannelPair pair = PairChannelFiles(c.left);
        EXPECT_EQ(pair.problem, PairProblem::None);
        EXPECT_EQ(pair.right, c.right);
        EXPECT_EQ(pair.joined, c.joined);
    }
}

TEST(PairChannelFiles, RefusesARightHalfAndANameWithoutPartner) {
    struct Case {
        const char* name;
        PairProblem problem;
    };
    const Case kCases[] = {
        {"take right channel.wav", PairProblem::RightHalf},
        {"take Right Channel.WAVE", PairProblem::RightHalf},
        {"take.R.wav", PairProblem::RightHalf},
        {"take_r.wav", PairProblem::RightHalf},
        {"take-R.WAVE", PairProblem::RightHalf},
        {"take.wav", PairProblem::NoPartner},
        {"takeL.wav", PairProblem::NoPartner},
        {"take.L.txt", PairProblem::NoPartner},
        {"take left channel.txt", PairProblem::NoPartner},
        {"take.X.wav", PairProblem::NoPartner},
        {"", PairProblem::NoPartner},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const ChannelPair pair = PairChannelFiles(c.name);
        EXPECT_EQ(pair.problem, c.problem);
        EXPECT_EQ(pair.right, "");
        EXPECT_EQ(pair.joined, "");
    }
}

TEST(PairProblemMessage, EveryRefusalHasItsText) {
    EXPECT_EQ(PairProblemMessage(PairProblem::None), "");
    EXPECT_EQ(PairProblemMessage(PairProblem::RightHalf),
              "This is the right channel file of a pair: name its left channel file");
    EXPECT_EQ(PairProblemMessage(PairProblem::NoPartner),
              "This name pairs with no right channel file "
              "(NAME left channel.wav, NAME.L.wav, NAME_L.wav, NAME-L.wav)");
}

}  // namespace
}  // namespace stereotools
