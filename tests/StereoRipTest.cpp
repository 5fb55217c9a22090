#include "stereorip/StereoRip.h"

#include "console/Dialogue.h"
#include "support/ForwardingConsole.h"
#include "support/MemoryConsole.h"
#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stereorip {
namespace {

using stereotools::kBlack;
using stereotools::kDarkGrey;
using testconsole::ActingConsole;
using testwave::Bytes;
using testwave::CountingBytes;
using testwave::ScopedWorkingDirectory;
using testwave::TempFolder;
using testwave::WaveBuilder;

constexpr int kRows = 38;
constexpr std::string_view kPrompt = "   Wave file to process?";
constexpr std::string_view kNotStereo = "This is not a stereo Wave file  ";

// Returns `prefix` padded with blanks up to `column`, then `text`: a row's
// text with `text` starting at `column`.
std::string Place(std::string_view prefix, int column, std::string_view text) {
    std::string row(prefix);
    row.resize(static_cast<std::size_t>(column - 1), ' ');
    return row + std::string(text);
}

std::string PromptRow(std::string_view answer) {
    return answer.empty() ? std::string(kPrompt) : Place(kPrompt, 27, answer);
}

// One run of the split dialogue: a 38-row console with scripted keys and a
// toolkit whose error box takes the key that closes it.
struct RipSession {
    stereotools::MemoryConsole console{kRows};
    stereotools::RecordingToolkit toolkit{&console};

    void Answer(std::string_view text) {
        console.AddText(text);
        console.AddEnter();
    }
    void CloseBox() { console.AddEnter(); }
    void PressFinalKey() { console.AddText("q"); }
    int Run() { return RunSplitDialogue(console, toolkit); }

    // Returns the first row whose text is `text`, or 0.
    int FindRow(std::string_view text) const {
        for (int row = 1; row <= kRows; ++row)
            if (console.RowText(row) == text) return row;
        return 0;
    }
};

// A temporary folder the test works in, and a session on it.
class StereoRipRun : public ::testing::Test {
protected:
    TempFolder folder;
    ScopedWorkingDirectory cwd{folder.Path()};
    RipSession session;
};

// Returns the bytes of one channel of interleaved `samples`: sample `channel`
// (0 left, 1 right) of each frame, `width` bytes each.
Bytes ChannelOf(const Bytes& samples, unsigned width, unsigned channel) {
    Bytes out;
    for (std::size_t frame = 0; (frame + 1) * 2 * width <= samples.size(); ++frame) {
        const std::size_t first = frame * 2 * width + channel * width;
        out.insert(out.end(), samples.begin() + static_cast<long>(first),
                   samples.begin() + static_cast<long>(first + width));
    }
    return out;
}

// Returns the canonical mono file a split gives: byteRate and blockAlign of a
// well-formed stereo input halved, which is rate x width and width.
Bytes MonoFile(uint16_t tag, uint32_t rate, uint16_t bits, Bytes samples) {
    return WaveBuilder().Tag(tag).Channels(1).Rate(rate).Bits(bits).Samples(std::move(samples)).Build();
}

Bytes StereoFile(uint16_t bits, uint32_t rate, Bytes samples, uint16_t tag = 1) {
    return WaveBuilder().Tag(tag).Channels(2).Rate(rate).Bits(bits).Samples(std::move(samples)).Build();
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(StereoRipRun, Splits16BitFileWithEveryRowOfTheScreen) {
    const Bytes samples = CountingBytes(800);
    folder.Write("take1.wav", StereoFile(16, 200, samples));
    session.Answer("take1.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);

    std::vector<std::string> expected(kRows + 1);
    expected[2] = "   Stereorip";
    expected[8] = PromptRow("take1.wav");
    expected[11] = "                          FILE DATA";
    expected[13] = "                          Channels     2";
    expected[14] = "                          Sample rate  200 Hz";
    expected[15] = "                          Resolution   16 bits";
    expected[16] = "                          Length       200 samples";
    expected[17] = "                          Duration     1 seconds";
    expected[21] = Place("   Output files will be:", 27, "take1 left channel.wav");
    expected[22] = Place("", 27, "take1 right channel.wav");
    expected[27] = "   Reading input file...";
    expected[28] = "   Done";
    expected[30] = "   Writing output files...";
    expected[31] = "   Done";
    expected[36] = "   press any key to quit";
    for (int row = 5; row <= kRows; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const std::string text = session.console.RowText(row);
        if (row == 35) {
            EXPECT_TRUE(text.starts_with("   Job completed in ") && text.ends_with(" seconds")) << text;
            continue;
        }
        EXPECT_EQ(text, expected[static_cast<std::size_t>(row)]);
    }
    EXPECT_EQ(session.console.At(14, 40).character, U'2');  // digits from column 40
    EXPECT_EQ(session.console.At(14, 39).character, U' ');

    struct Colour {
        int row, column, foreground;
    };
    const Colour colours[] = {
        {2, 4, kBlack},      {8, 4, kDarkGrey},   {8, 27, kBlack},     {11, 27, kBlack},
        {13, 27, kDarkGrey}, {14, 40, kDarkGrey}, {17, 27, kDarkGrey}, {21, 4, kDarkGrey},
        {21, 27, kBlack},    {22, 27, kBlack},    {27, 4, kDarkGrey},  {28, 4, kBlack},
        {30, 4, kDarkGrey},  {31, 4, kBlack},     {35, 4, kBlack},     {36, 4, kDarkGrey},
    };
    for (const Colour& c : colours) {
        SCOPED_TRACE("row " + std::to_string(c.row) + " column " + std::to_string(c.column));
        EXPECT_EQ(session.console.At(c.row, c.column).foreground, c.foreground);
        EXPECT_EQ(session.console.At(c.row, c.column).background, stereotools::kBrightWhite);
    }
    EXPECT_FALSE(session.console.CursorVisible());
    EXPECT_EQ(session.console.CursorRow(), 37);
    EXPECT_TRUE(session.toolkit.messages.empty());
    EXPECT_EQ(session.console.KeysLeft(), 0u);

    const auto left = folder.Read("take1 left channel.wav");
    const auto right = folder.Read("take1 right channel.wav");
    ASSERT_TRUE(left && right);
    EXPECT_EQ(left->size(), 444u);
    EXPECT_EQ(right->size(), 444u);
    EXPECT_EQ(*left, MonoFile(1, 200, 16, ChannelOf(samples, 2, 0)));
    EXPECT_EQ(*right, MonoFile(1, 200, 16, ChannelOf(samples, 2, 1)));
    EXPECT_EQ(folder.Names(), Sorted({"take1.wav", "take1 left channel.wav", "take1 right channel.wav"}));
}

TEST_F(StereoRipRun, OpensItsWindowOnce) {
    folder.Write("mono.wav", WaveBuilder().Channels(1).Samples(CountingBytes(8)).Build());
    folder.Write("take1.wav", StereoFile(16, 200, CountingBytes(8)));
    session.Answer("mono.wav");
    session.CloseBox();
    session.Answer("take1.wav");
    session.PressFinalKey();
    ASSERT_EQ(session.Run(), 0);
    const auto& calls = session.toolkit.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ConsoleTitle(Stereorip)"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Console80x(38)"), 1);
}

// Names too long for their rows wrap and push the later lines down; none is
// written over. Here every line moves down two rows, and the line break after
// "press any key" on the last row scrolls the window up one.
TEST_F(StereoRipRun, MovesTheLaterLinesBelowWrappedNames) {
    const std::string stem(41, 'x');
    const std::string left = stem + " left channel.wav";    // 58 characters from column 27
    const std::string right = stem + " right channel.wav";  // 59
    folder.Write(stem + ".wav", StereoFile(16, 200, CountingBytes(8)));
    session.Answer(stem + ".wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(session.console.RowText(10), "                          FILE DATA");
    EXPECT_EQ(session.console.RowText(20), Place("   Output files will be:", 27, left.substr(0, 54)));
    EXPECT_EQ(session.console.RowText(21), left.substr(54));
    EXPECT_EQ(session.console.RowText(22), Place("", 27, right.substr(0, 54)));
    EXPECT_EQ(session.console.RowText(23), right.substr(54));
    EXPECT_EQ(session.console.RowText(28), "   Reading input file...");
    EXPECT_EQ(session.console.RowText(32), "   Done");
    EXPECT_EQ(session.console.RowText(37), "   press any key to quit");
    EXPECT_TRUE(folder.Read(left) && folder.Read(right));
}

// Each depth and kind of file the split takes: the panel's Resolution and
// Length, and both outputs byte for byte.
struct SplitCase {
    const char* name;
    Bytes input;
    uint16_t outputTag;
    uint32_t rate;
    uint16_t bits;
    Bytes left;   // expected samples of the left output
    Bytes right;  // expected samples of the right output
    std::string lengthRow;
    std::string durationRow;
};

std::vector<SplitCase> SplitCases() {
    std::vector<SplitCase> cases;
    cases.push_back({"8-bit example",
                     StereoFile(8, 8000, {10, 20, 11, 21, 12, 22}),
                     1,
                     8000,
                     8,
                     {10, 11, 12},
                     {20, 21, 22},
                     "                          Length       3 samples",
                     ""});
    const Bytes s24 = CountingBytes(60);
    cases.push_back({"24-bit 500 Hz", StereoFile(24, 500, s24), 1, 500, 24, ChannelOf(s24, 3, 0), ChannelOf(s24, 3, 1),
                     "                          Length       10 samples",
                     "                          Duration     .02 seconds"});
    const Bytes s32 = CountingBytes(64, 0x80);
    cases.push_back({"32-bit float keeps tag 3", StereoFile(32, 48000, s32, 3), 3, 48000, 32, ChannelOf(s32, 4, 0),
                     ChannelOf(s32, 4, 1), "                          Length       8 samples", ""});
    cases.push_back({"32-bit integer keeps tag 1", StereoFile(32, 48000, s32, 1), 1, 48000, 32, ChannelOf(s32, 4, 0),
                     ChannelOf(s32, 4, 1), "", ""});
    const Bytes s12 = CountingBytes(24);
    cases.push_back({"12-bit in 2-byte containers", StereoFile(12, 22050, s12), 1, 22050, 12, ChannelOf(s12, 2, 0),
                     ChannelOf(s12, 2, 1), "                          Length       6 samples", ""});
    const Bytes s64 = CountingBytes(64);
    cases.push_back({"64-bit float", StereoFile(64, 96000, s64, 3), 3, 96000, 64, ChannelOf(s64, 8, 0),
                     ChannelOf(s64, 8, 1), "                          Length       4 samples", ""});
    const Bytes s20 = CountingBytes(36);
    cases.push_back({"20-bit in 3-byte containers", StereoFile(20, 44100, s20), 1, 44100, 20, ChannelOf(s20, 3, 0),
                     ChannelOf(s20, 3, 1), "", ""});
    cases.push_back(
        {"extensible 24-bit PCM",
         WaveBuilder().Channels(2).Rate(96000).Bits(24).Extensible(testwave::kPcmSubFormat).Samples(s24).Build(), 1,
         96000, 24, ChannelOf(s24, 3, 0), ChannelOf(s24, 3, 1), "", ""});
    cases.push_back(
        {"extensible 32-bit float",
         WaveBuilder().Channels(2).Rate(48000).Bits(32).Extensible(testwave::kFloatSubFormat).Samples(s32).Build(), 3,
         48000, 32, ChannelOf(s32, 4, 0), ChannelOf(s32, 4, 1), "", ""});
    // An odd-sized LIST chunk (with its pad byte) before the data and a chunk
    // after it: neither is audio.
    const Bytes s16 = CountingBytes(40);
    cases.push_back({"chunks around the data",
                     WaveBuilder()
                         .Channels(2)
                         .Rate(44100)
                         .ChunkBeforeData("LIST", Bytes(5, 0xAA))
                         .Samples(s16)
                         .ChunkAfterData("junk", Bytes(12, 0xBB))
                         .Build(),
                     1, 44100, 16, ChannelOf(s16, 2, 0), ChannelOf(s16, 2, 1),
                     "                          Length       10 samples", ""});
    // 400 of the 800 declared bytes exist: the rest of each channel is zero.
    Bytes present = CountingBytes(400);
    Bytes padded = present;
    padded.resize(800, 0);
    cases.push_back({"declared size beyond the end of the file",
                     WaveBuilder().Channels(2).Rate(200).DataSize(800).Samples(present).Build(), 1, 200, 16,
                     ChannelOf(padded, 2, 0), ChannelOf(padded, 2, 1),
                     "                          Length       200 samples",
                     "                          Duration     1 seconds"});
    // 14 bytes are 3.5 frames, rounded to 4: the last right sample lies past
    // the data chunk and is zero, never the chunk that follows; each header
    // states the 8 bytes that follow it.
    const Bytes s14 = CountingBytes(14);
    Bytes s14Padded = s14;
    s14Padded.resize(16, 0);
    cases.push_back({"data not a whole number of frames",
                     WaveBuilder().Channels(2).Rate(200).Samples(s14).ChunkAfterData("junk", Bytes(8, 0xCC)).Build(), 1,
                     200, 16, ChannelOf(s14Padded, 2, 0), ChannelOf(s14Padded, 2, 1),
                     "                          Length       4 samples", ""});
    return cases;
}

TEST(RunSplitDialogue, SplitsEveryKindOfStereoFileExactly) {
    for (const SplitCase& c : SplitCases()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        folder.Write("in.wav", c.input);
        RipSession session;
        session.Answer("in.wav");
        session.PressFinalKey();

        ASSERT_EQ(session.Run(), 0);
        EXPECT_TRUE(session.toolkit.messages.empty());
        EXPECT_EQ(session.console.RowText(15),
                  "                          Resolution   " + std::to_string(c.bits) + " bits");
        if (!c.lengthRow.empty()) {
            EXPECT_EQ(session.console.RowText(16), c.lengthRow);
        }
        if (!c.durationRow.empty()) {
            EXPECT_EQ(session.console.RowText(17), c.durationRow);
        }
        EXPECT_EQ(folder.Read("in left channel.wav"), MonoFile(c.outputTag, c.rate, c.bits, c.left));
        EXPECT_EQ(folder.Read("in right channel.wav"), MonoFile(c.outputTag, c.rate, c.bits, c.right));
        EXPECT_EQ(folder.Names(), Sorted({"in.wav", "in left channel.wav", "in right channel.wav"}));
    }
}

TEST_F(StereoRipRun, ReplacesLongerOutputToItsExactLength) {
    const Bytes samples = CountingBytes(800);
    folder.Write("take1.wav", StereoFile(16, 200, samples));
    folder.Write("take1 left channel.wav", Bytes(2000, 0xEE));
    session.Answer("take1.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(folder.Read("take1 left channel.wav"), MonoFile(1, 200, 16, ChannelOf(samples, 2, 0)));
    EXPECT_EQ(folder.Read("take1 right channel.wav"), MonoFile(1, 200, 16, ChannelOf(samples, 2, 1)));
    EXPECT_EQ(folder.Names(), Sorted({"take1.wav", "take1 left channel.wav", "take1 right channel.wav"}));
}

// Each refusal shows its box, then clears the screen and asks again with an
// empty answer; no file is created.
TEST(RunSplitDialogue, RefusalsRestartTheDialogue) {
    struct Refusal {
        const char* name;
        Bytes file;  // empty: the answer names no file
        std::string message;
    };
    const Refusal refusals[] = {
        {"missing file", {}, std::string(stereotools::kFileNotFoundMessage)},
        {"mono file", WaveBuilder().Channels(1).Samples(CountingBytes(8)).Build(), std::string(kNotStereo)},
        {"not a Wave file", WaveBuilder().FormType("AVI ").Channels(2).Build(), "This is not a Wave file  "},
        {"neither PCM nor float", WaveBuilder().Tag(2).Channels(2).Build(),
         "This is not a PCM or float format Wave file  "},
        {"bit depth 0", WaveBuilder().Channels(2).Bits(0).BlockAlign(4).Build(),
         "This Wave file has an unsupported bit depth  "},
        {"bit depth 65", WaveBuilder().Channels(2).Bits(65).Build(), "This Wave file has an unsupported bit depth  "},
        {"sample rate 0", WaveBuilder().Channels(2).Rate(0).Build(), "This Wave file has an invalid sample rate  "},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        if (!r.file.empty()) folder.Write("refused-take.wav", r.file);
        const std::vector<std::string> before = folder.Names();
        RipSession session;
        session.Answer("refused-take.wav");
        session.CloseBox();

        // The script ends at the second prompt, which shows the screen after the restart.
        EXPECT_EQ(session.Run(), 1);
        EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{r.message});
        EXPECT_EQ(session.toolkit.captions, std::vector<std::string>{"  ERROR"});
        EXPECT_EQ(session.console.Beeps(), 1);
        EXPECT_EQ(session.console.RowText(2), "   Stereorip");
        EXPECT_EQ(session.console.RowText(8), kPrompt);
        for (int row = 9; row <= kRows; ++row) EXPECT_EQ(session.console.RowText(row), "") << "row " << row;
        EXPECT_EQ(folder.Names(), before);
    }
}

TEST_F(StereoRipRun, SplitsTheFileNamedAfterAMonoOne) {
    const Bytes samples = CountingBytes(8);
    folder.Write("mono.wav", WaveBuilder().Channels(1).Samples(CountingBytes(8)).Build());
    folder.Write("take1.wav", StereoFile(16, 200, samples));
    session.Answer("mono.wav");
    session.CloseBox();
    session.Answer("take1.wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{std::string(kNotStereo)});
    EXPECT_EQ(session.console.RowText(8), PromptRow("take1.wav"));
    EXPECT_EQ(folder.Read("take1 left channel.wav"), MonoFile(1, 200, 16, ChannelOf(samples, 2, 0)));
    EXPECT_EQ(folder.Read("take1 right channel.wav"), MonoFile(1, 200, 16, ChannelOf(samples, 2, 1)));
}

// Returns the box text of an output the job could not create for `reason`.
std::string CannotCreate(std::string_view name, int reason) {
    return "Cannot create '" + std::string(name) + "': " + std::strerror(reason) + "  ";
}

// A console that keeps the screen's rows as they are when a box beeps.
class BoxWatchingConsole final : public testconsole::ForwardingConsole {
public:
    using ForwardingConsole::ForwardingConsole;
    void Beep() override {
        for (int row = 1; row <= kRows; ++row) rowsAtBox.push_back(inner_.RowText(row));
        inner_.Beep();
    }
    std::vector<std::string> rowsAtBox;
};

// An input whose output name is taken by a folder is refused right after
// its header, before the FILE DATA panel, in the words the job would use,
// and the dialogue starts over; the next input is split. Nothing is changed.
TEST(RunSplitDialogue, RefusesAnInputWhoseOutputsCannotBeWritten) {
    struct Blocked {
        const char* directory;  // the output name taken by a directory
        const char* existing;   // the other output, present before the run
    };
    const Blocked cases[] = {
        {"take1 left channel.wav", "take1 right channel.wav"},
        {"take1 right channel.wav", "take1 left channel.wav"},
    };
    for (const Blocked& c : cases) {
        SCOPED_TRACE(c.directory);
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        folder.Write("take1.wav", StereoFile(16, 200, CountingBytes(800)));
        folder.Write("take2.wav", StereoFile(16, 200, CountingBytes(800)));
        ASSERT_TRUE(std::filesystem::create_directory(folder.Path(c.directory)));
        const Bytes old(100, 0x55);
        folder.Write(c.existing, old);
        RipSession session;
        BoxWatchingConsole console(session.console);
        session.Answer("take1.wav");
        session.CloseBox();
        session.Answer("take2.wav");
        session.PressFinalKey();

        EXPECT_EQ(RunSplitDialogue(console, session.toolkit), 0);
        EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{CannotCreate(c.directory, EISDIR)});
        ASSERT_EQ(console.rowsAtBox.size(), static_cast<std::size_t>(kRows));
        EXPECT_EQ(console.rowsAtBox[7], PromptRow("take1.wav"));
        for (int row = 9; row <= kRows; ++row) EXPECT_EQ(console.rowsAtBox[row - 1], "") << "row " << row;
        EXPECT_EQ(session.console.RowText(8), PromptRow("take2.wav"));
        EXPECT_EQ(folder.Read(c.existing), old);
        EXPECT_TRUE(std::filesystem::is_empty(folder.Path(c.directory)));
        EXPECT_TRUE(folder.Read("take2 left channel.wav"));
        EXPECT_TRUE(folder.Read("take2 right channel.wav"));
    }
}

// An output that a folder took after the check: the job's box names it and
// says why, no step is shown as done, the dialogue still ends on the key
// wait with status 1, and every file stays as it was.
TEST_F(StereoRipRun, ReportsAnOutputThatCannotBeCreatedWhenTheJobRuns) {
    folder.Write("take1.wav", StereoFile(16, 200, CountingBytes(800)));
    const Bytes old(100, 0x55);
    folder.Write("take1 right channel.wav", old);
    ActingConsole console(session.console, "   Reading input file...", [&] {
        ASSERT_TRUE(std::filesystem::create_directory(folder.Path("take1 left channel.wav")));
    });
    session.Answer("take1.wav");
    session.CloseBox();
    session.PressFinalKey();

    EXPECT_EQ(RunSplitDialogue(console, session.toolkit), 1);
    EXPECT_EQ(session.toolkit.messages, std::vector<std::string>{CannotCreate("take1 left channel.wav", EISDIR)});
    EXPECT_EQ(session.console.RowText(27), "   Reading input file...");
    // The rows of the missing lines stay empty: "press any key" keeps its row.
    for (int row = 28; row <= 35; ++row) EXPECT_EQ(session.console.RowText(row), "") << "row " << row;
    EXPECT_EQ(session.console.RowText(36), "   press any key to quit");
    EXPECT_EQ(session.console.KeysLeft(), 0u);
    EXPECT_EQ(folder.Names(), Sorted({"take1 left channel.wav", "take1 right channel.wav", "take1.wav"}));
    EXPECT_EQ(folder.Read("take1 right channel.wav"), old);
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path("take1 left channel.wav")));
}

int RefuseRightRename(int fromFolder, const char* from, int toFolder, const char* to) {
    if (std::string_view(to).ends_with("right channel.wav")) {
        errno = EACCES;
        return -1;
    }
    return stereotools::SystemFileCalls().renameat(fromFolder, from, toFolder, to);
}

TEST_F(StereoRipRun, KeepsTheLeftOutputWhenTheRightCannotBePutInPlace) {
    const Bytes samples = CountingBytes(800);
    folder.Write("take1.wav", StereoFile(16, 200, samples));
    stereotools::FileCalls calls = stereotools::SystemFileCalls();
    calls.renameat = RefuseRightRename;
    testwave::ScopedFileCalls fake(calls);
    session.Answer("take1.wav");
    session.CloseBox();
    session.PressFinalKey();

    EXPECT_EQ(session.Run(), 1);
    ASSERT_EQ(session.toolkit.messages.size(), 1u);
    const std::string& message = session.toolkit.messages[0];
    EXPECT_NE(message.find("'take1 right channel.wav'"), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(EACCES)), std::string::npos) << message;
    EXPECT_EQ(session.console.RowText(28), "   Done");
    EXPECT_EQ(session.console.RowText(30), "   Writing output files...");
    EXPECT_EQ(session.console.RowText(31), "");
    EXPECT_EQ(session.console.RowText(35), "");
    EXPECT_EQ(session.console.RowText(36), "   press any key to quit");
    EXPECT_EQ(folder.Read("take1 left channel.wav"), MonoFile(1, 200, 16, ChannelOf(samples, 2, 0)));
    EXPECT_EQ(folder.Names(), Sorted({"take1.wav", "take1 left channel.wav"}));
}

// A left name of exactly 54 cells from column 27 ends in column 80: the
// right name starts on the next row, 22. Its 55th cell wraps onto row 23 and
// moves the later lines down one row.
TEST_F(StereoRipRun, PutsTheRightNameBelowALeftNameThatEndsInColumn80) {
    const std::string stem(37, 's');
    const std::string left = stem + " left channel.wav";
    const std::string right = stem + " right channel.wav";
    ASSERT_EQ(left.size(), 54u);
    folder.Write(stem + ".wav", StereoFile(16, 200, CountingBytes(8)));
    session.Answer(stem + ".wav");
    session.PressFinalKey();

    ASSERT_EQ(session.Run(), 0);
    EXPECT_EQ(session.console.RowText(21), Place("   Output files will be:", 27, left));
    EXPECT_EQ(session.console.RowText(22), Place("", 27, right.substr(0, 54)));
    EXPECT_EQ(session.console.RowText(23), right.substr(54));
    EXPECT_EQ(session.console.RowText(28), "   Reading input file...");
    EXPECT_EQ(session.console.RowText(37), "   press any key to quit");
}

// The input re-saved with a LIST chunk before its data after the dialogue
// accepted it and before the job opened it: no byte of the chunk is split
// as a sample. The job refuses the file by name and writes nothing.
TEST_F(StereoRipRun, RefusesAnInputThatChangedAfterItWasAccepted) {
    const Bytes samples = CountingBytes(800);
    folder.Write("take1.wav", StereoFile(16, 200, samples));
    const Bytes resaved =
        WaveBuilder().Channels(2).Rate(200).ChunkBeforeData("LIST", Bytes(40, 'L')).Samples(samples).Build();
    ActingConsole console(session.console, "   Reading input file...", [&] { folder.Write("take1.wav", resaved); });
    session.Answer("take1.wav");
    session.CloseBox();
    session.PressFinalKey();

    EXPECT_EQ(RunSplitDialogue(console, session.toolkit), 1);
    EXPECT_EQ(session.toolkit.messages,
              std::vector<std::string>{"Cannot read 'take1.wav': the file changed after it was checked  "});
    EXPECT_EQ(session.console.RowText(36), "   press any key to quit");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"take1.wav"});
    EXPECT_EQ(folder.Read("take1.wav"), resaved);
}

// A stop signal during the job ends the run with its status and leaves
// neither output nor a temporary file, in the reading step (first check) or
// the writing step (the check after the one block).
TEST(RunSplitDialogue, StopDuringTheJobLeavesNoOutput) {
    for (const std::size_t checksBefore : {0u, 1u}) {
        SCOPED_TRACE("stop after " + std::to_string(checksBefore) + " checks");
        TempFolder folder;
        ScopedWorkingDirectory cwd(folder.Path());
        folder.Write("take1.wav", StereoFile(16, 200, CountingBytes(800)));
        RipSession session;
        session.console.RequestStop(143, checksBefore);
        session.Answer("take1.wav");
        session.PressFinalKey();

        EXPECT_EQ(session.Run(), 143);
        EXPECT_EQ(session.FindRow("   press any key to quit"), 0);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"take1.wav"});
    }
}

}  // namespace
}  // namespace stereorip
