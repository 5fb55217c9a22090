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
        {"Gr\xC3\xBC\xC3\x9F"
         "e.wav",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},                                                       // Grüße.wav
        {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", ""},                    // äöüß: four characters, eight bytes
        {"x\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97\xE5\xB9\xB4", "x"},  // x and four wide characters
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
        {"d/\xC3\xA4\xC3\xB6", "d/\xC3\xA4\xC3\xB6"},  // d/äö: two characters
        {"d/\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "d/"},  // d/äöüß
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
        {"stray byte", "take\xFF.wav", "take\xFF"}, {"continuation bytes alone", "ab\x80\x80\x80", "a"},
        {"overlong form", "x\xC0\xAF.w", "x"},      {"surrogate", "x\xED\xA0\x80.", "x"},
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
              (std::vector<std::string>{"dir/take1 channel 1.wav", "dir/take1 channel 2.wav",
                                        "dir/take1 channel 3.wav"}));
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

using Names = std::vector<std::string>;

TEST(TemplateSplitFileNames, FillsTheNameAndThePaddedNumber) {
    const unsigned two[] = {1, 2};
    EXPECT_EQ(TemplateSplitFileNames("{name}_{n}.wav", "T01.WAV", 2, two), (Names{"T01_1.wav", "T01_2.wav"}));
    const unsigned some[] = {1, 10, 16};
    EXPECT_EQ(TemplateSplitFileNames("{name}_Tr{n}.wav", "in/Scene001-T001.wav", 16, some),
              (Names{"in/Scene001-T001_Tr01.wav", "in/Scene001-T001_Tr10.wav", "in/Scene001-T001_Tr16.wav"}));
    // {name} is cut as the default names cut it: the last four characters, not the folder.
    const unsigned third[] = {3};
    EXPECT_EQ(TemplateSplitFileNames("{n}-{name}-{n}.WAV", "a.b/take.wave", 3, third), (Names{"a.b/3-take.-3.WAV"}));
    EXPECT_EQ(TemplateSplitFileNames("{name}", "abc", 3, third), (Names{"abc"}));
    // Braces that make no field stay as they are.
    EXPECT_EQ(TemplateSplitFileNames("{ {n}} {}.wav", "x.wav", 3, third), (Names{"{ 3} {}.wav"}));
}

TEST(SafeTrackName, ReplacesWhatAFileNameCannotHold) {
    EXPECT_EQ(SafeTrackName("Boom"), "Boom");
    EXPECT_EQ(SafeTrackName("Lav 1/2"), "Lav 1_2");
    EXPECT_EQ(SafeTrackName("a\tb\x7F\n"), "a_b__");
    // C1 controls, encoded in UTF-8, are controls too; other letters stay.
    EXPECT_EQ(SafeTrackName("x\xC2\x85y\xC3\xA9"), "x_y\xC3\xA9");
    // Leading dots would hide the file, or name "." and "..": only those go.
    EXPECT_EQ(SafeTrackName(".."), "__");
    EXPECT_EQ(SafeTrackName("..a.b."), "__a.b.");
    EXPECT_EQ(SafeTrackName(""), "");
}

TEST(SafeTrackName, CutsLongNamesBetweenCharacters) {
    EXPECT_EQ(SafeTrackName(std::string(300, 'a')), std::string(kMaxTrackNameBytes, 'a'));
    // 199 bytes, then a two-byte letter that does not fit whole.
    const std::string cut = SafeTrackName(std::string(199, 'a') + "\xC3\xA9z");
    EXPECT_EQ(cut, std::string(199, 'a'));
    const std::string fits = SafeTrackName(std::string(198, 'a') + "\xC3\xA9z");
    EXPECT_EQ(fits, std::string(198, 'a') + "\xC3\xA9");
}

TEST(TemplateSplitFileNames, NamesOutputsByTheirTracks) {
    const unsigned all[] = {1, 2, 3};
    const Names tracks = {"Boom", "Lav1", "Mix/L"};
    EXPECT_EQ(TemplateSplitFileNames("{name}_{track}.wav", "in/T01.WAV", 3, all, tracks),
              (Names{"in/T01_Boom.wav", "in/T01_Lav1.wav", "in/T01_Mix_L.wav"}));
    // A channel with no name, or beyond the names given, takes its number padded as {n}.
    const unsigned some[] = {2, 11};
    const Names unnamed = {"A", ""};
    EXPECT_EQ(TemplateSplitFileNames("{track}.wav", "x.wav", 12, some, unnamed), (Names{"02.wav", "11.wav"}));
}

TEST(TemplateSplitFileNames, TellsClashingNamesApartByChannelNumber) {
    const unsigned all[] = {1, 2, 3, 4};
    // Every output of a clash gets its number, before ".wav" in any case.
    const Names lavs = {"Lav", "Boom", "Lav", "Lav"};
    EXPECT_EQ(TemplateSplitFileNames("{name}_{track}.WAV", "T01.wav", 4, all, lavs),
              (Names{"T01_Lav_1.WAV", "T01_Boom.WAV", "T01_Lav_3.WAV", "T01_Lav_4.WAV"}));
    // A name that is another channel's padded number clashes as well.
    const unsigned two[] = {1, 2};
    const Names numbered = {"", "1"};
    EXPECT_EQ(TemplateSplitFileNames("{track}", "T01.wav", 2, two, numbered), (Names{"1_1", "1_2"}));
    // Names made safe can meet: "a/b" and "a_b" are one name.
    const Names folded = {"a/b", "a_b"};
    EXPECT_EQ(TemplateSplitFileNames("{track}.wav", "d/T.wav", 2, two, folded), (Names{"d/a_b_1.wav", "d/a_b_2.wav"}));
}

TEST(NameTemplateProblem, RefusesWhatCannotNameAnOutput) {
    EXPECT_EQ(NameTemplateProblem("{name}_{n}.wav"), "");
    EXPECT_EQ(NameTemplateProblem("fixed.wav"), "");
    EXPECT_EQ(NameTemplateProblem(""), "the name template is empty");
    EXPECT_EQ(NameTemplateProblem("out/{name}_{n}.wav"), "the name template holds a '/'");
    EXPECT_EQ(NameTemplateProblem("{name}_{N}.wav"), "unknown field '{N}' in the name template");
    EXPECT_EQ(NameTemplateProblem("{name}_{track}.wav"), "");
    EXPECT_EQ(NameTemplateProblem("{name}_{tracks}.wav"), "unknown field '{tracks}' in the name template");
    EXPECT_TRUE(TemplateHasField("a{n}b", "n"));
    EXPECT_FALSE(TemplateHasField("a{name}b", "n"));
    EXPECT_FALSE(TemplateHasField("a{ n}b", "n"));
}

TEST(GroupTakes, GroupsEachNamingStyleInChannelOrder) {
    const Names names = {
        "T01_2.WAV",          "T01_1.WAV",
        "mix channel 03.wav", "Scene001-T001_Tr1.wav",
        "mix channel 01.wav", "Scene001-T001_TR2.Wave",
        "mix channel 02.wav", "dir/T01_1.wav",
        "dir/T01_2.wav",      "T01 channel 1.wav",
        "T01 channel 2.wav",
    };
    const std::vector<Take> takes = GroupTakes(names);
    struct Expected {
        Names files;
        std::string joined;
    };
    // In the order of each take's first file; a folder, NAME and style make a take.
    const Expected expected[] = {
        {{"T01_1.WAV", "T01_2.WAV"}, "T01.wav"},
        {{"mix channel 01.wav", "mix channel 02.wav", "mix channel 03.wav"}, "mix.wav"},
        {{"Scene001-T001_Tr1.wav", "Scene001-T001_TR2.Wave"}, "Scene001-T001.wav"},
        {{"dir/T01_1.wav", "dir/T01_2.wav"}, "dir/T01.wav"},
        {{"T01 channel 1.wav", "T01 channel 2.wav"}, "T01.wav"},
    };
    ASSERT_EQ(takes.size(), std::size(expected));
    for (std::size_t i = 0; i < takes.size(); ++i) {
        SCOPED_TRACE(expected[i].joined);
        EXPECT_EQ(takes[i].problem, TakeProblem::None);
        EXPECT_EQ(takes[i].files, expected[i].files);
        EXPECT_EQ(takes[i].joined, expected[i].joined);
    }
}

TEST(GroupTakes, NumbersChannelsAsNumbersNotAsText) {
    Names names;
    for (int k = 12; k >= 1; --k) names.push_back("t_" + std::to_string(k) + ".wav");
    const std::vector<Take> takes = GroupTakes(names);
    ASSERT_EQ(takes.size(), 1u);
    EXPECT_EQ(takes[0].files.front(), "t_1.wav");
    EXPECT_EQ(takes[0].files[9], "t_10.wav");
    EXPECT_EQ(takes[0].files.back(), "t_12.wav");
}

TEST(GroupTakes, RefusesGapsTwinsLoneFilesAndUnnumberedNames) {
    struct Case {
        const char* name;
        Names names;
        TakeProblem problem;
        unsigned channel;
        std::string message;
    };
    const Case cases[] = {
        {"a gap",
         {"t_1.wav", "t_2.wav", "t_4.wav"},
         TakeProblem::MissingChannel,
         3,
         "Channel 3 of this take is missing"},
        {"no first", {"t_2.wav", "t_3.wav"}, TakeProblem::MissingChannel, 1, "Channel 1 of this take is missing"},
        {"a number twice",
         {"t_1.wav", "t_01.wav", "t_2.wav"},
         TakeProblem::ChannelTwice,
         1,
         "Channel 1 of this take is named twice"},
        {"a file twice",
         {"t_1.wav", "t_2.wav", "t_2.wav"},
         TakeProblem::ChannelTwice,
         2,
         "Channel 2 of this take is named twice"},
        {"a lone file", {"t_1.wav"}, TakeProblem::LoneFile, 0, "This is the only file of its take"},
        {"no number",
         {"take.wav"},
         TakeProblem::NoChannelNumber,
         0,
         "This name ends in no channel number of a take (NAME channel K.wav, NAME_K.wav, NAME_TrK.wav)"},
        {"channel 0", {"t_0.wav"}, TakeProblem::NoChannelNumber, 0, ""},
        {"no NAME", {"_1.wav"}, TakeProblem::NoChannelNumber, 0, ""},
        {"no extension", {"t_1.aiff"}, TakeProblem::NoChannelNumber, 0, ""},
        {"past the most channels", {"t_65536.wav"}, TakeProblem::NoChannelNumber, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Take> takes = GroupTakes(c.names);
        ASSERT_EQ(takes.size(), 1u);
        EXPECT_EQ(takes[0].problem, c.problem);
        EXPECT_EQ(takes[0].channel, c.channel);
        if (!c.message.empty()) {
            EXPECT_EQ(TakeProblemMessage(takes[0]), c.message);
        }
    }
    EXPECT_EQ(TakeProblemMessage(Take{}), "");
}

}  // namespace
}  // namespace stereotools
