#include "console/NameCompletion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace stereotools {
namespace {

std::vector<FolderEntry> Files(std::initializer_list<const char*> names) {
    std::vector<FolderEntry> entries;
    for (const char* name : names) {
        std::string text = name;
        const bool isFolder = text.ends_with('/');
        if (isFolder) text.pop_back();
        entries.push_back({text, isFolder});
    }
    return entries;
}

TEST(CompleteName, CompletesLikeAShell) {
    struct Case {
        const char* name;
        std::string partial;
        std::vector<FolderEntry> entries;
        Completion::Outcome outcome;
        std::string addition;
        std::vector<std::string> choices;
    };
    using O = Completion::Outcome;
    const Case kCases[] = {
        {"unique file", "ta", Files({"take 1.wav", "other.wav"}), O::Unique, "ke 1.wav", {}},
        {"unique folder gets a slash", "Ses", Files({"Sessions/", "take.wav"}), O::Unique, "sions/", {}},
        {"already complete", "take.wav", Files({"take.wav"}), O::Unique, "", {}},
        {"common prefix",
         "t",
         Files({"take 1.wav", "take 2.wav", "x.wav"}),
         O::Several,
         "ake ",
         {"take 1.wav", "take 2.wav"}},
        {"nothing more shared",
         "take ",
         Files({"take 1.wav", "take 2.wav"}),
         O::Several,
         "",
         {"take 1.wav", "take 2.wav"}},
        {"folders listed with a slash", "", Files({"a.wav", "b/"}), O::Several, "", {"a.wav", "b/"}},
        {"empty partial offers everything",
         "",
         Files({"mix.wav", "mix.WAVE"}),
         O::Several,
         "mix.",
         {"mix.WAVE", "mix.wav"}},
        {"WAV files before other files", "take", Files({"take.wav", "take.txt"}), O::Unique, ".wav", {}},
        {"other files when nothing else matches", "notes", Files({"notes.txt", "take.wav"}), O::Unique, ".txt", {}},
        {"matching is case sensitive", "Take", Files({"take.wav"}), O::NoMatch, "", {}},
        {"no match", "zz", Files({"take.wav", "folder/"}), O::NoMatch, "", {}},
        {"empty folder", "", {}, O::NoMatch, "", {}},
        {"hidden names only after a dot", "", Files({".hidden.wav", "shown.wav"}), O::Unique, "shown.wav", {}},
        {"hidden names after a dot", ".h", Files({".hidden.wav", "shown.wav"}), O::Unique, "idden.wav", {}},
        {"names with control characters are skipped", "t", Files({"t\n1.wav", "t2.wav"}), O::Unique, "2.wav", {}},
        {"UTF-8 names byte for byte",
         "k",
         Files({"k\xC3\xA4se \xE6\x97\xA5.wav"}),
         O::Unique,
         "\xC3\xA4se \xE6\x97\xA5.wav",
         {}},
        // é and è share their first byte: half a character must not be added.
        {"shared part stops before a split character",
         "c",
         Files({"caf\xC3\xA9.wav", "caf\xC3\xA8.wav"}),
         O::Several,
         "af",
         {"caf\xC3\xA8.wav", "caf\xC3\xA9.wav"}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<FolderEntry> entries = c.entries;
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        const Completion completion = CompleteName(c.partial, entries);
        EXPECT_EQ(completion.outcome, c.outcome);
        EXPECT_EQ(completion.addition, c.addition);
        EXPECT_EQ(completion.choices, c.choices);
    }
}

TEST(SplitLastComponent, CutsAfterTheLastSlash) {
    struct Case {
        std::string answer;
        std::string folder;
        std::string last;
    };
    const Case kCases[] = {
        {"", "", ""},         {"take", "", "take"}, {"/", "/", ""}, {"/home/me/My ta", "/home/me/", "My ta"},
        {"a//b", "a//", "b"}, {"dir/", "dir/", ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.answer);
        const NameParts parts = SplitLastComponent(c.answer);
        EXPECT_EQ(parts.folder, c.folder);
        EXPECT_EQ(parts.last, c.last);
    }
}

TEST(InHomeFolder, ReadsALeadingTildeSlashAsTheHomeFolder) {
    EXPECT_EQ(InHomeFolder("~/take.wav", "/home/ana"), "/home/ana/take.wav");
    EXPECT_EQ(InHomeFolder("~/take.wav", "/home/ana/"), "/home/ana/take.wav");
    EXPECT_EQ(InHomeFolder("~/", "/"), "/");
    EXPECT_EQ(InHomeFolder("~/a/~/b.wav", "/h"), "/h/a/~/b.wav");
    // Only a leading "~/", and only with a home folder to put there.
    for (const char* name : {"take.wav", "~", "~take.wav", "~ana/take.wav", "a/~/take.wav", "/~/take.wav"}) {
        EXPECT_EQ(InHomeFolder(name, "/home/ana"), std::nullopt) << name;
    }
    EXPECT_EQ(InHomeFolder("~/take.wav", nullptr), std::nullopt);
    EXPECT_EQ(InHomeFolder("~/take.wav", ""), std::nullopt);
}

TEST(IsWaveName, AcceptsWavAndWaveInAnyCase) {
    for (const char* name : {"a.wav", "a.WAV", "b.Wave", ".wav", "x y.wAvE"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(IsWaveName(name));
    }
    for (const char* name : {"", "wav", "a.wav.txt", "a.wa", "a.waves", "a_wav"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsWaveName(name));
    }
}

TEST(ReadShellWord, RemovesQuotesAndEscapesAsAShellDoes) {
    struct Case {
        const char* name;
        std::string text;
        std::string word;
    };
    const Case kCases[] = {
        {"single quotes and a trailing blank", "'/home/me/My take.wav' ", "/home/me/My take.wav"},
        {"double quotes", "\"/tmp/a b.wav\"", "/tmp/a b.wav"},
        {"backslash escapes", "/tmp/My\\ take\\ \\(2\\).wav", "/tmp/My take (2).wav"},
        {"blanks around", "  \t/tmp/x.wav\r\n", "/tmp/x.wav"},
        {"quote inside single quotes", "'it'\\''s.wav'", "it's.wav"},
        {"backslash kept in single quotes", "'a\\b.wav'", "a\\b.wav"},
        {"double quote escapes", "\"a\\\"b\\\\c\\$d\\x.wav\"", "a\"b\\c$d\\x.wav"},
        {"quoted parts joined", "/tmp/'a b'\" c\".wav", "/tmp/a b c.wav"},
        {"plain word", "take.wav", "take.wav"},
        {"UTF-8 kept", "'k\xC3\xA4se.wav'", "k\xC3\xA4se.wav"},
        {"file URI", "file:///home/me/My%20take%E2%80%99s.wav", "/home/me/My take\xE2\x80\x99s.wav"},
        {"file URI on localhost", "'file://localhost/tmp/a.wav'", "/tmp/a.wav"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::string> word = ReadShellWord(c.text);
        ASSERT_TRUE(word.has_value());
        EXPECT_EQ(*word, c.word);
    }
}

TEST(ReadShellWord, RefusesWhatIsNotOneWord) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case kCases[] = {
        {"empty", ""},
        {"blanks only", "   "},
        {"empty quotes", "''"},
        {"two words", "/tmp/a.wav /tmp/b.wav"},
        {"open single quote", "'/tmp/a.wav"},
        {"open double quote", "\"/tmp/a.wav"},
        {"lone backslash at the end", "a.wav\\"},
        {"file URI of another host", "file://server/a.wav"},
        {"broken escape", "file:///tmp/a%2.wav"},
        {"escape at the end", "file:///tmp/a%"},
        {"NUL escape", "file:///tmp/a%00.wav"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ReadShellWord(c.text).has_value());
    }
}

TEST(LayOutChoices, ListsColumnByColumn) {
    const std::vector<std::string> choices = {"a.wav", "bb.wav", "c/", "d.wav", "e.wav"};
    // Widest name 6 cells, plus 2: three columns fit in 22 cells after the indent.
    const std::vector<std::string> rows = LayOutChoices(choices, 25, 3, 10);
    const std::vector<std::string> expected = {"   a.wav   c/      e.wav", "   bb.wav  d.wav"};
    EXPECT_EQ(rows, expected);
}

TEST(LayOutChoices, SaysHowManyNamesDoNotFit) {
    std::vector<std::string> choices;
    for (int i = 0; i < 10; ++i) choices.push_back("take " + std::to_string(i) + ".wav");
    // One column of 10: two rows are left, the last for the count.
    const std::vector<std::string> rows = LayOutChoices(choices, 14, 0, 2);
    const std::vector<std::string> expected = {"take 0.wav", "... 9 more"};
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(LayOutChoices(choices, 80, 3, 0).empty());
}

TEST(LayOutChoices, CutsANameWiderThanTheRow) {
    const std::vector<std::string> rows = LayOutChoices({std::string(30, 'x') + ".wav", "y.wav"}, 13, 3, 5);
    const std::vector<std::string> expected = {"   xxxxxxxxx\xE2\x80\xA6", "   y.wav"};
    EXPECT_EQ(rows, expected);
}

class ListFolderTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/namecompletiontest-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path folder_;
};

TEST_F(ListFolderTest, ListsNamesSortedWithFoldersAndLinksToThemMarked) {
    std::ofstream(folder_ / "b take.wav") << "x";
    std::ofstream(folder_ / "a.txt") << "x";
    std::filesystem::create_directory(folder_ / "c folder");
    std::filesystem::create_directory_symlink(folder_ / "c folder", folder_ / "d link");
    std::filesystem::create_symlink(folder_ / "a.txt", folder_ / "e link.wav");
    const std::vector<FolderEntry> entries = ListFolder(folder_.string() + "/");
    ASSERT_EQ(entries.size(), 5u);
    const std::vector<std::pair<std::string, bool>> expected = {
        {"a.txt", false}, {"b take.wav", false}, {"c folder", true}, {"d link", true}, {"e link.wav", false}};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].name, expected[i].first);
        EXPECT_EQ(entries[i].isFolder, expected[i].second);
    }
}

TEST_F(ListFolderTest, GivesNothingForAFolderThatCannotBeRead) {
    EXPECT_TRUE(ListFolder((folder_ / "absent").string()).empty());
    std::ofstream(folder_ / "file.wav") << "x";
    EXPECT_TRUE(ListFolder((folder_ / "file.wav").string()).empty());
}

}  // namespace
}  // namespace stereotools
