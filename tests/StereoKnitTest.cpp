#include "stereoknit/StereoKnit.h"

#include "console/Dialogue.h"
#include "support/ForwardingConsole.h"
#include "support/MemoryConsole.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace stereoknit {
namespace {

using stereotools::kBlack;
using stereotools::kDarkGrey;
using testwave::Bytes;
using testwave::CountingBytes;
using testwave::ScopedWorkingDirectory;
using testwave::TempFolder;
using testwave::WaveBuilder;

constexpr int kRows = 28;
constexpr std::string_view kLeftPrompt = "   Left channel Wave file?";
constexpr std::string_view kRightPrompt = "   Right channel Wave file?";
constexpr std::string_view kOutputPrompt = "   Output Wave file?";
constexpr std::string_view kNotMono = "This is not a mono Wave file  ";
constexpr std::string_view kRatesDiffer = "These two files have incompatible sample rates  ";
constexpr std::string_view kDepthsDiffer = "These two files have incompatible bit depths  ";
constexpr std::string_view kFormatsDiffer = "These two files have incompatible audio formats  ";

// Returns `prompt` with `answer` from column 29, as the row shows it.
std::string AnswerRow(std::string_view prompt, std::string_view answer) {
    std::string row(prompt);
    if (answer.empty()) return row;
    row.resize(28, ' ');
    return row + std::string(answer);
}

// One run of the join dialogue on a 28-row console with scripted keys.
struct KnitSession {
    stereotools::MemoryConsole console{kRows};
    stereotools::RecordingToolkit toolkit{&console};

    void Answer(std::string_view text) {
        console.AddText(text);
        console.AddEnter();
    }
    void Answers(std::string_view left, std::string_view right, std::string_view output) {
        Answer(left);
        Answer(right);
        Answer(output);
    }
    void CloseBox() { console.AddEnter(); }
    void PressFinalKey() { console.AddText("q"); }
    int Run() { return RunJoinDialogue(console, toolkit); }

    int FindRow(std::string_view text) const {
        for (int row = 1; row <= kRows; ++row)
            if (console.RowText(row) == text) return row;
        return 0;
    }
};

class StereoKnitRun : public ::testing::Test {
protected:
    TempFolder folder;
    ScopedWorkingDirectory cwd{folder.Path()};
    KnitSession session;
};

Bytes MonoFile(uint16_t bits, uint32_t rate, Bytes samples, uint16_t tag = 1) {
    return WaveBuilder().Tag(tag).Channels(1).Rate(rate).Bits(bits).Samples(std::move(samples)).Build();
}

// Returns the joined samples of two channels of `width`-byte samples: frames
// up to the longer channel, zero where a channel has no byte, cut at twice
// the longer channel's bytes.
Bytes Interleaved(const Bytes& left, const Bytes& right, unsigned width) {
    const std::size_t longer = std::max(left.size(), right.size());
    Bytes out;
    for (std::size_t frame = 0; frame * width < longer; ++frame) {
        for (const Bytes* channel : {&left, &right}) {
            for (std::size_t i = frame * width; i < (frame + 1) * width; ++i)
                out.push_back(i < channel->size() ? (*channel)[i] : 0);
        }
    }
    out.resize(2 * longer);
    return out;
}

// Returns the stereo file a join gives: the right input's fields, channels
// 2, byteRate and blockAlign doubled.
Bytes StereoFile(uint16_t tag, uint32_t rate, uint16_t bits, uint32_t rightByteRate, uint16_t rightBlockAlign,
                 Bytes samples) {
    return WaveBuilder()
        .Tag(tag)
        .Channels(2)
        .Rate(rate)
        .Bits(bits)
        .ByteRate(2 * rightByteRate)
        .BlockAlign(static_cast<uint16_t>(2 * rightBlockAlign))
        .Samples(std::move(samples))
        .Build();
}

uint32_t Le(const Bytes& bytes, std::size_t offset, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= uint32_t{bytes[offset + static_cast<std::size_t>(i)]} << (8 * i);
    return value;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(StereoKnitRun, JoinsTheTwoInputsWithEveryRowOfTheScreen) {
    // 16-bit inputs with byteRate 200 and blockAlign 2, of 100 and 120 data bytes.
    const Bytes left = CountingBytes(100, 1);
    const Bytes right = CountingBytes(120, 0x81);
    folder.Write("left.wav", MonoFile(16, 100, left));
    folder.Write("right.wav", MonoFile(16, 100, right));
    session.Answers("left.wav", "right.wav", "joined.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);

    const auto joined = folder.Read("joined.wav");
    ASSERT_TRUE(joined);
    ASSERT_EQ(joined->size(), 284u);
    EXPECT_EQ(Le(*joined, 4, 4), 276u);   // RIFF size
    EXPECT_EQ(Le(*joined, 16, 4), 16u);   // fmt size
    EXPECT_EQ(Le(*joined, 20, 2), 1u);    // format tag
    EXPECT_EQ(Le(*joined, 22, 2), 2u);    // channels
    EXPECT_EQ(Le(*joined, 24, 4), 100u);  // sample rate
    EXPECT_EQ(Le(*joined, 28, 4), 400u);  // byte rate
    EXPECT_EQ(Le(*joined, 32, 2), 4u);    // block align
    EXPECT_EQ(Le(*joined, 34, 2), 16u);   // bits
    EXPECT_EQ(Le(*joined, 40, 4), 240u);  // data size
    EXPECT_EQ(*joined, StereoFile(1, 100, 16, 200, 2, Interleaved(left, right, 2)));
    // Frame 50 on: the left sample is zero fill, the right one still the input's.
    EXPECT_EQ((*joined)[44 + 50 * 4], 0);
    EXPECT_EQ((*joined)[44 + 50 * 4 + 2], right[100]);

    std::vector<std::string> expected(kRows + 1);
    expected[2] = "   Stereoknit";
    expected[8] = AnswerRow(kLeftPrompt, "left.wav");
    expected[9] = AnswerRow(kRightPrompt, "right.wav");
    expected[12] = AnswerRow(kOutputPrompt, "joined.wav");
    expected[17] = "   Reading input files...";
    expected[18] = "   Done";
    expected[20] = "   Writing output files...";
    expected[21] = "   Done";
    expected[26] = "   press any key to quit";
    for (int row = 5; row <= kRows; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const std::string text = session.console.RowText(row);
        if (row == 25) {
            EXPECT_TRUE(text.starts_with("   Job completed in ") && text.ends_with(" seconds")) << text;
            continue;
        }
        EXPECT_EQ(text, expected[static_cast<std::size_t>(row)]);
    }
    struct Colour {
        int row, column, foreground;
    };
    const Colour colours[] = {
        {2, 4, kBlack},     {8, 4, kDarkGrey}, {8, 29, kBlack},    {9, 4, kDarkGrey}, {9, 29, kBlack},
        {12, 4, kDarkGrey}, {12, 29, kBlack},  {17, 4, kDarkGrey}, {18, 4, kBlack},   {20, 4, kDarkGrey},
        {21, 4, kBlack},    {25, 4, kBlack},   {26, 4, kDarkGrey},
    };
    for (const Colour& c : colours) {
        SCOPED_TRACE("row " + std::to_string(c.row) + " column " + std::to_string(c.column));
        EXPECT_EQ(session.console.At(c.row, c.column).foreground, c.foreground);
        EXPECT_EQ(session.console.At(c.row, c.column).background, stereotools::kBrightWhite);
    }
    EXPECT_FALSE(session.console.CursorVisible());
    EXPECT_EQ(session.console.CursorRow(), 27);
    EXPECT_TRUE(session.toolkit.messages.empty());
    const auto& calls = session.toolkit.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ConsoleTitle(Stereoknit)"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Console80x(28)"), 1);
    EXPECT_EQ(folder.Names(), Sorted({"left.wav", "right.wav", "joined.wav"}));
}

// Pairs of inputs and the exact file their join gives.
struct JoinCase {
    const char* name;
    Bytes leftFile;
    Bytes rightFile;
    Bytes expected;
};

std::vector<JoinCase> JoinCases() {
    std::vector<JoinCase> cases;
    const Bytes long16 = CountingBytes(200, 1);
    const Bytes short16 = CountingBytes(120, 0x91);
    cases.push_back({"left longer", MonoFile(16, 44100, long16), MonoFile(16, 44100, short16),
                     StereoFile(1, 44100, 16, 88200, 2, Interleaved(long16, short16, 2))});
    cases.push_back({"right longer", MonoFile(16, 44100, short16), MonoFile(16, 44100, long16),
                     StereoFile(1, 44100, 16, 88200, 2, Interleaved(short16, long16, 2))});
    // 8-bit silence is 128, but the fill is the byte 0.
    cases.push_back({"8-bit fill is 0", MonoFile(8, 8000, {0x80, 0x81, 0x82}), MonoFile(8, 8000, {1, 2, 3, 4, 5}),
                     StereoFile(1, 8000, 8, 8000, 1, {0x80, 1, 0x81, 2, 0x82, 3, 0, 4, 0, 5})});
    // D = 5 is not a whole number of 16-bit samples: the output is cut at 10 bytes.
    cases.push_back({"data not a whole number of samples", MonoFile(16, 100, {1, 2, 3, 4, 5}),
                     MonoFile(16, 100, {11, 12, 13, 14}),
                     StereoFile(1, 100, 16, 200, 2, {1, 2, 11, 12, 3, 4, 13, 14, 5, 0})});
    const Bytes a24 = CountingBytes(30, 1);
    const Bytes b24 = CountingBytes(30, 0x41);
    cases.push_back({"24-bit", MonoFile(24, 48000, a24), MonoFile(24, 48000, b24),
                     StereoFile(1, 48000, 24, 144000, 3, Interleaved(a24, b24, 3))});
    const Bytes a32 = CountingBytes(32, 1);
    const Bytes b32 = CountingBytes(16, 0x41);
    cases.push_back({"32-bit float keeps tag 3", MonoFile(32, 96000, a32, 3), MonoFile(32, 96000, b32, 3),
                     StereoFile(3, 96000, 32, 384000, 4, Interleaved(a32, b32, 4))});
    cases.push_back({"64-bit float", MonoFile(64, 44100, a32, 3), MonoFile(64, 44100, b32, 3),
                     StereoFile(3, 44100, 64, 352800, 8, Interleaved(a32, b32, 8))});
    const Bytes a12 = CountingBytes(10, 1);
    const Bytes b12 = CountingBytes(6, 0x41);
    cases.push_back({"12-bit in 2-byte containers", MonoFile(12, 22050, a12), MonoFile(12, 22050, b12),
                     StereoFile(1, 22050, 12, 44100, 2, Interleaved(a12, b12, 2))});
    cases.push_back(
        {"both empty", MonoFile(16, 44100, {}), MonoFile(16, 44100, {}), StereoFile(1, 44100, 16, 88200, 2, {})});
    // The output's byteRate and blockAlign are the right input's doubled, never recomputed.
    cases.push_back({"right byteRate 0", MonoFile(16, 100, {1, 2}),
                     WaveBuilder().Rate(100).ByteRate(0).BlockAlign(7).Samples({3, 4}).Build(),
                     StereoFile(1, 100, 16, 0, 7, {1, 2, 3, 4})});
    // The chunk after the shorter input's data is not audio: zeros fill its channel.
    cases.push_back({"chunk after the shorter data",
                     WaveBuilder().Rate(100).Samples({1, 2}).ChunkAfterData("junk", Bytes(100, 0xEE)).Build(),
                     WaveBuilder().Rate(100).ChunkBeforeData("LIST", Bytes(9, 0xDD)).Samples({5, 6, 7, 8}).Build(),
                     StereoFile(1, 100, 16, 200, 2, {1, 2, 5, 6, 0, 0, 7, 8})});
    cases.push_back({"chunk after the shorter right data", WaveBuilder().Rate(100).Samples({1, 2, 3, 4, 5, 6}).Build(),
                     WaveBuilder().Rate(100).Samples({7, 8}).ChunkAfterData("LIST", Bytes(20, 0xEE)).Build(),
                     StereoFile(1, 100, 16, 200, 2, {1, 2, 7, 8, 3, 4, 0, 0, 5, 6, 0, 0})});
    cases.push_back({"extensible 24-bit",
                     WaveBuilder().Rate(48000).Bits(24).Extensible(testwave::kPcmSubFormat).Samples(a24).Build(),
                     MonoFile(24, 48000, b24), StereoFile(1, 48000, 24, 144000, 3, Interleaved(a24, b24, 3))});
    return cases;
}

TEST(RunJoinDialogue, JoinsEveryKindOfPairExactly) {
    for (const JoinCase& c : JoinCases()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        folder.Write("l.wav", c.leftFile);
        folder.Write("r.wav", c.rightFile);
        KnitSession session;
        session.Answers("l.wav", "r.wav", "out.wav");
        session.PressFinalKey();

        ASSERT_EQ(session.Run(), 0);
        EXPECT_TRUE(session.toolkit.messages.empty());
        EXPECT_EQ(folder.Read("out.wav"), c.expected);
        EXPECT_EQ(folder.Names(), Sorted({"l.wav", "r.wav", "out.wav"}));
    }
}

// A pair that cannot be joined shows its box, then the dialogue starts over
// with both answers dropped.
TEST(RunJoinDialogue, IncompatiblePairsRestartTheDialogue) {
    struct Case {
        const char* name;
        Bytes left;
        Bytes right;
        std::string_view message;
    };
    const Case cases[] = {
        {"rates", MonoFile(16, 44100, {1, 2}), MonoFile(16, 48000, {1, 2}), kRatesDiffer},
        {"rates and depths", MonoFile(16, 44100, {1, 2}), MonoFile(24, 48000, {1, 2, 3}), kRatesDiffer},
        {"depths", MonoFile(16, 44100, {1, 2}), MonoFile(24, 44100, {1, 2, 3}), kDepthsDiffer},
        {"formats", MonoFile(32, 44100, {1, 2, 3, 4}, 1), MonoFile(32, 44100, {1, 2, 3, 4}, 3), kFormatsDiffer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        folder.Write("left.wav", c.left);
        folder.Write("right.wav", c.right);
        const std::vector<std::string> before = folder.Names();
        KnitSession session;
        session.Answer("left.wav");
        session.Answer("right.wav");
        session.CloseBox();

        // The script ends at the left prompt asked again.
        EXPECT_EQ(session.Run(), 1);
        EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{std::string(c.message)});
        EXPECT_EQ(session.console.RowText(2), "   Stereoknit");
        EXPECT_EQ(session.console.RowText(8), kLeftPrompt);
        for (int row = 9; row <= kRows; ++row) EXPECT_EQ(session.console.RowText(row), "") << "row " << row;
        EXPECT_EQ(folder.Names(), before);
    }
}

TEST_F(StereoKnitRun, AsksForBothFilesAgainAfterARateMismatch) {
    const Bytes a = CountingBytes(8, 1);
    const Bytes b = CountingBytes(8, 0x41);
    folder.Write("a.wav", MonoFile(16, 44100, a));
    folder.Write("b48.wav", MonoFile(16, 48000, b));
    folder.Write("b.wav", MonoFile(16, 44100, b));
    session.Answer("a.wav");
    session.Answer("b48.wav");
    session.CloseBox();
    session.Answers("a.wav", "b.wav", "ab.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{std::string(kRatesDiffer)});
    EXPECT_EQ(session.console.RowText(9), AnswerRow(kRightPrompt, "b.wav"));
    EXPECT_EQ(folder.Read("ab.wav"), StereoFile(1, 44100, 16, 88200, 2, Interleaved(a, b, 2)));
}

TEST_F(StereoKnitRun, AsksForTheRightFileAgainInPlace) {
    const Bytes a = CountingBytes(8, 1);
    const Bytes b = CountingBytes(8, 0x41);
    folder.Write("left.wav", MonoFile(16, 44100, a));
    folder.Write("a stereo recording.wav", WaveBuilder().Channels(2).Samples(CountingBytes(8)).Build());
    folder.Write("r.wav", MonoFile(16, 44100, b));
    session.Answer("left.wav");
    session.Answer("a stereo recording.wav");
    session.CloseBox();
    session.Answer("a stereo recording.wav");
    session.CloseBox();
    session.Answer("no such recording.wav");
    session.CloseBox();
    session.Answer("r.wav");
    session.Answer("out.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(session.toolkit.messages, (std::vector<std::string>{std::string(kNotMono), std::string(kNotMono),
                                                                  std::string(stereotools::kFileNotFoundMessage)}));
    EXPECT_EQ(session.console.RowText(8), AnswerRow(kLeftPrompt, "left.wav"));
    EXPECT_EQ(session.console.RowText(9), AnswerRow(kRightPrompt, "r.wav"));
    EXPECT_EQ(session.console.RowText(10), "");
    EXPECT_EQ(session.console.RowText(12), AnswerRow(kOutputPrompt, "out.wav"));
    EXPECT_EQ(session.console.RowText(17), "   Reading input files...");
    EXPECT_EQ(folder.Read("out.wav"), StereoFile(1, 44100, 16, 88200, 2, Interleaved(a, b, 2)));
}

TEST_F(StereoKnitRun, ErasesARefusedRightAnswerAndKeepsTheLeftOne) {
    folder.Write("left.wav", MonoFile(16, 44100, {1, 2}));
    folder.Write("a stereo recording.wav", WaveBuilder().Channels(2).Samples(CountingBytes(8)).Build());
    session.Answer("left.wav");
    session.Answer("a stereo recording.wav");
    session.CloseBox();

    EXPECT_EQ(session.Run(), 1);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{std::string(kNotMono)});
    EXPECT_EQ(session.console.RowText(2), "   Stereoknit");
    EXPECT_EQ(session.console.RowText(8), AnswerRow(kLeftPrompt, "left.wav"));
    EXPECT_EQ(session.console.RowText(9), kRightPrompt);
    for (int row = 10; row <= kRows; ++row) EXPECT_EQ(session.console.RowText(row), "") << "row " << row;
}

TEST_F(StereoKnitRun, RestartsAfterAStereoLeftFile) {
    folder.Write("a stereo recording.wav", WaveBuilder().Channels(2).Samples(CountingBytes(8)).Build());
    session.Answer("a stereo recording.wav");
    session.CloseBox();

    EXPECT_EQ(session.Run(), 1);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{std::string(kNotMono)});
    EXPECT_EQ(session.console.RowText(8), kLeftPrompt);
    EXPECT_EQ(session.console.RowText(9), "");
}

// The right prompt goes on the row after the left answer's last cell. An
// answer of exactly 52 characters from column 29 ends in column 80 and
// leaves every later line on its row; a longer one wraps and moves the later
// prompts and lines down instead of being written over.
// A console whose stop signal arrives once the script has run out: here,
// while the last box is open, which the signal then closes.
class StopAtScriptEnd final : public testconsole::ForwardingConsole {
public:
    using ForwardingConsole::ForwardingConsole;
    int PendingStop() const override { return inner_.KeysLeft() == 0 ? 130 : 0; }
};

TEST(RunJoinDialogue, AStopThatClosesTheCompatibilityBoxEndsTheProgram) {
    TempFolder folder;
    ScopedWorkingDirectory cwd(folder.Path());
    folder.Write("left.wav", MonoFile(16, 44100, {1, 2}));
    folder.Write("right.wav", MonoFile(16, 48000, {1, 2}));
    KnitSession session;
    session.Answer("left.wav");
    session.Answer("right.wav");
    session.CloseBox();
    StopAtScriptEnd console(session.console);

    EXPECT_EQ(RunJoinDialogue(console, session.toolkit), 130);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{std::string(kRatesDiffer)});
    EXPECT_EQ(session.console.RowText(8), AnswerRow(kLeftPrompt, "left.wav")) << "the dialogue did not start again";
}

TEST(RunJoinDialogue, AsksForTheRightFileOnTheRowAfterTheLeftAnswer) {
    struct Case {
        std::size_t length;  // of the left answer
        int rightRow;
    };
    for (const Case& c : {Case{52, 9}, Case{60, 10}}) {
        SCOPED_TRACE(c.length);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        const std::string leftName = std::string(c.length - 4, 'l') + ".wav";
        const Bytes a = CountingBytes(8, 1);
        const Bytes b = CountingBytes(8, 0x41);
        folder.Write(leftName, MonoFile(16, 44100, a));
        folder.Write("r.wav", MonoFile(16, 44100, b));
        KnitSession session;
        session.Answers(leftName, "r.wav", "o.wav");
        session.PressFinalKey();

        ASSERT_EQ(session.Run(), 0);
        const int shift = c.rightRow - 9;
        EXPECT_EQ(session.console.RowText(8), AnswerRow(kLeftPrompt, leftName.substr(0, 52)));
        if (shift > 0) {
            EXPECT_EQ(session.console.RowText(9), leftName.substr(52));
        }
        EXPECT_EQ(session.console.RowText(c.rightRow), AnswerRow(kRightPrompt, "r.wav"));
        EXPECT_EQ(session.console.RowText(12 + shift), AnswerRow(kOutputPrompt, "o.wav"));
        EXPECT_EQ(session.console.RowText(17 + shift), "   Reading input files...");
        EXPECT_EQ(session.console.RowText(26 + shift), "   press any key to quit");
        EXPECT_EQ(folder.Read("o.wav"), StereoFile(1, 44100, 16, 88200, 2, Interleaved(a, b, 2)));
    }
}

TEST_F(StereoKnitRun, ReplacesTheLeftInputNamedAsOutput) {
    const Bytes a = CountingBytes(40, 1);
    const Bytes b = CountingBytes(60, 0x41);
    folder.Write("take.wav", MonoFile(16, 44100, a));
    const Bytes rightFile = MonoFile(16, 44100, b);
    folder.Write("right.wav", rightFile);
    session.Answers("take.wav", "right.wav", "take.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_TRUE(session.toolkit.messages.empty());
    EXPECT_EQ(folder.Read("take.wav"), StereoFile(1, 44100, 16, 88200, 2, Interleaved(a, b, 2)));
    EXPECT_EQ(folder.Read("right.wav"), rightFile);
    EXPECT_EQ(folder.Names(), Sorted({"take.wav", "right.wav"}));
}

TEST_F(StereoKnitRun, JoinsOneFileWithItself) {
    const Bytes a = CountingBytes(24, 1);
    folder.Write("a.wav", MonoFile(24, 48000, a));
    session.Answers("a.wav", "a.wav", "aa.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(folder.Read("aa.wav"), StereoFile(1, 48000, 24, 144000, 3, Interleaved(a, a, 3)));
}

// Returns the box text of an output the job could not create for `reason`.
std::string CannotCreate(std::string_view name, int reason) {
    return "Cannot create '" + std::string(name) + "': " + std::strerror(reason) + "  ";
}

// An output answer the job could not write is refused at its prompt, in the
// words the job would use (an empty one with the file-not-found box): the
// answer is erased, wrapped rows included, and asked for again on row 12,
// the two inputs staying accepted. Nothing is created or changed.
TEST(RunJoinDialogue, RefusesAnOutputAtItsPromptAndAsksAgainInPlace) {
    const std::string longMissing = "no folder/" + std::string(60, 'o') + ".wav";
    struct Case {
        const char* name;
        std::string answer;
        std::string message;
    };
    const Case cases[] = {
        {"folder that does not exist", "no folder/out.wav", CannotCreate("no folder/out.wav", ENOENT)},
        {"wrapped answer in a missing folder", longMissing, CannotCreate(longMissing, ENOENT)},
        {"empty answer", "", std::string(stereotools::kFileNotFoundMessage)},
        {"a directory", "a folder", CannotCreate("a folder", EISDIR)},
        {"a folder part that is a file", "left.wav/out.wav", CannotCreate("left.wav/out.wav", ENOTDIR)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        const Bytes left = CountingBytes(8, 1);
        const Bytes right = CountingBytes(8, 0x41);
        folder.Write("left.wav", MonoFile(16, 44100, left));
        folder.Write("right.wav", MonoFile(16, 44100, right));
        ASSERT_TRUE(std::filesystem::create_directory(folder.Path("a folder")));
        KnitSession session;
        session.Answers("left.wav", "right.wav", c.answer);
        session.CloseBox();
        session.Answer("out.wav");
        session.PressFinalKey();

        EXPECT_EQ(session.Run(), 0);
        EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(session.console.RowText(8), AnswerRow(kLeftPrompt, "left.wav"));
        EXPECT_EQ(session.console.RowText(9), AnswerRow(kRightPrompt, "right.wav"));
        EXPECT_EQ(session.console.RowText(12), AnswerRow(kOutputPrompt, "out.wav"));
        for (int row = 13; row <= 16; ++row) EXPECT_EQ(session.console.RowText(row), "") << "row " << row;
        EXPECT_EQ(session.console.RowText(17), "   Reading input files...");
        EXPECT_EQ(session.console.KeysLeft(), 0u);
        EXPECT_EQ(folder.Names(), Sorted({"a folder", "left.wav", "out.wav", "right.wav"}));
        EXPECT_EQ(folder.Read("out.wav"), StereoFile(1, 44100, 16, 88200, 2, Interleaved(left, right, 2)));
        EXPECT_TRUE(std::filesystem::is_empty(folder.Path("a folder")));
    }
}

// An output whose folder went after the check: the job's box names it and
// says why, no step is shown as done, the run ends on the key wait with
// status 1, and nothing is created or changed.
TEST_F(StereoKnitRun, ReportsAnOutputThatCannotBeCreatedWhenTheJobRuns) {
    folder.Write("left.wav", MonoFile(16, 44100, CountingBytes(8)));
    folder.Write("right.wav", MonoFile(16, 44100, CountingBytes(8)));
    ASSERT_TRUE(std::filesystem::create_directory(folder.Path("takes")));
    testconsole::ActingConsole console(session.console, "   Reading input files...",
                                       [&] { std::filesystem::remove(folder.Path("takes")); });
    session.Answers("left.wav", "right.wav", "takes/out.wav");
    session.CloseBox();
    session.PressFinalKey();

    EXPECT_EQ(RunJoinDialogue(console, session.toolkit), 1);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{CannotCreate("takes/out.wav", ENOENT)});
    EXPECT_EQ(session.console.RowText(17), "   Reading input files...");
    // The rows of the missing lines stay empty: "press any key" keeps its row.
    for (int row = 18; row <= 25; ++row) EXPECT_EQ(session.console.RowText(row), "") << "row " << row;
    EXPECT_EQ(session.console.RowText(26), "   press any key to quit");
    EXPECT_EQ(session.console.KeysLeft(), 0u);
    EXPECT_EQ(folder.Names(), Sorted({"left.wav", "right.wav"}));
}

ssize_t DiskFull(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}

int RefuseRename(int, const char*, int, const char*) {
    errno = EACCES;
    return -1;
}

// A write or the final rename failing: the existing output, here the left
// input itself, stays as it was and no temporary file is left.
TEST(RunJoinDialogue, KeepsTheOldFileWhenTheOutputFails) {
    struct Case {
        const char* name;
        stereotools::FileCalls calls;
        int errorNumber;
        bool writingShown;  // whether the failure comes in the writing step
    };
    stereotools::FileCalls diskFull = stereotools::SystemFileCalls();
    diskFull.write = DiskFull;
    stereotools::FileCalls noRename = stereotools::SystemFileCalls();
    noRename.renameat = RefuseRename;
    const Case cases[] = {
        {"disk full", diskFull, ENOSPC, false},
        {"rename refused", noRename, EACCES, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        const Bytes leftFile = MonoFile(16, 44100, CountingBytes(8));
        folder.Write("left.wav", leftFile);
        folder.Write("right.wav", MonoFile(16, 44100, CountingBytes(8)));
        KnitSession session;
        session.Answers("left.wav", "right.wav", "left.wav");
        session.CloseBox();
        session.PressFinalKey();

        int status = 0;
        {
            testwave::ScopedFileCalls fake(c.calls);
            status = session.Run();
        }
        EXPECT_EQ(status, 1);
        ASSERT_EQ(session.toolkit.messages.size(), 1u);
        const std::string& message = session.toolkit.messages[0];
        EXPECT_NE(message.find("'left.wav'"), std::string::npos) << message;
        EXPECT_NE(message.find(std::strerror(c.errorNumber)), std::string::npos) << message;
        EXPECT_EQ(session.console.RowText(18), c.writingShown ? "   Done" : "");
        if (c.writingShown) {
            EXPECT_EQ(session.console.RowText(20), "   Writing output files...");
            EXPECT_EQ(session.console.RowText(21), "");
            EXPECT_EQ(session.console.RowText(25), "");
            EXPECT_EQ(session.console.RowText(26), "   press any key to quit");
        } else {
            EXPECT_EQ(session.FindRow("   Done"), 0);
            EXPECT_EQ(session.console.RowText(26), "   press any key to quit");
        }
        EXPECT_EQ(folder.Read("left.wav"), leftFile);
        EXPECT_EQ(folder.Names(), Sorted({"left.wav", "right.wav"}));
    }
}

TEST(RunJoinDialogue, StopDuringTheJobLeavesNoOutput) {
    for (const std::size_t checksBefore : {0u, 1u}) {
        SCOPED_TRACE("stop after " + std::to_string(checksBefore) + " checks");
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        folder.Write("left.wav", MonoFile(16, 44100, CountingBytes(8)));
        folder.Write("right.wav", MonoFile(16, 44100, CountingBytes(8)));
        KnitSession session;
        session.console.RequestStop(130, checksBefore);
        session.Answers("left.wav", "right.wav", "out.wav");
        session.PressFinalKey();

        EXPECT_EQ(session.Run(), 130);
        EXPECT_EQ(session.FindRow("   press any key to quit"), 0);
        EXPECT_EQ(folder.Names(), Sorted({"left.wav", "right.wav"}));
    }
}

}  // namespace
}  // namespace stereoknit
