#include "support/MemoryConsole.h"

#include <gtest/gtest.h>

#include <string>

namespace stereotools {
namespace {

TEST(MemoryConsoleWrite, ShowsTheGridThroughAtRowTextAndTheCursor) {
    MemoryConsole console(5);
    console.MoveCursor(2, 3);
    console.SetColours(kDarkGrey, kBrightWhite);
    console.Write("ab");
    EXPECT_EQ(console.At(2, 3).character, U'a');
    EXPECT_EQ(console.At(2, 4).character, U'b');
    EXPECT_EQ(console.At(2, 4).foreground, kDarkGrey);
    EXPECT_EQ(console.At(2, 4).background, kBrightWhite);
    EXPECT_EQ(console.CursorRow(), 2);
    EXPECT_EQ(console.CursorColumn(), 5);
    EXPECT_EQ(console.RowText(2), "  ab");
}

TEST(MemoryConsoleOverlay, LeavesTheCellsBeneathItAlone) {
    MemoryConsole console(5);
    console.MoveCursor(3, 1);
    console.Write("beneath");
    console.ShowOverlay(3, {"over one", "over two"}, kDarkGrey, kBrightWhite);
    EXPECT_EQ(console.OverlayRow(), 3);
    EXPECT_EQ(console.RowText(3), "beneath");
    EXPECT_EQ(console.RowText(4), "");
    console.HideOverlay();
    EXPECT_EQ(console.OverlayRow(), 0);
    EXPECT_EQ(console.LastOverlayRow(), 3);
    EXPECT_EQ(console.LastOverlayLines(), (std::vector<std::string>{"over one", "over two"}));
    EXPECT_EQ(console.OverlaysShown(), 1);
}

TEST(MemoryConsoleCursor, VisibilityReportsTheEarlierState) {
    MemoryConsole console;
    EXPECT_TRUE(console.SetCursorVisible(false));
    EXPECT_FALSE(console.CursorVisible());
    EXPECT_FALSE(console.SetCursorVisible(true));
    EXPECT_TRUE(console.CursorVisible());
}

TEST(MemoryConsoleKeys, ReturnsScriptedKeysThenEndedForever) {
    MemoryConsole console;
    console.AddText("a\xC3\xA9");
    console.AddEnter();
    console.AddBackspace();
    const Key a = console.ReadKey();
    EXPECT_EQ(a.kind, Key::Kind::Character);
    EXPECT_EQ(a.character, U'a');
    EXPECT_EQ(a.bytes, "a");
    const Key e = console.ReadKey();
    EXPECT_EQ(e.character, U'\u00E9');
    EXPECT_EQ(e.bytes, "\xC3\xA9");
    EXPECT_EQ(console.ReadKey().kind, Key::Kind::Enter);
    EXPECT_EQ(console.ReadKey().kind, Key::Kind::Backspace);
    for (int i = 0; i < 3; ++i) {
        const Key ended = console.ReadKey();
        EXPECT_EQ(ended.kind, Key::Kind::Ended);
        EXPECT_EQ(ended.exitStatus, 1);
    }
}

TEST(MemoryConsoleKeys, AScriptedEndedStaysEndedWithItsStatus) {
    MemoryConsole console;
    Key hangup;
    hangup.kind = Key::Kind::Ended;
    hangup.exitStatus = 129;
    console.AddKey(hangup);
    console.AddText("x");
    EXPECT_EQ(console.ReadKey().exitStatus, 129);
    const Key next = console.ReadKey();
    EXPECT_EQ(next.kind, Key::Kind::Ended);
    EXPECT_EQ(next.exitStatus, 129);
}

TEST(MemoryConsoleKeys, AddTextKeepsInvalidBytesAsTheirOwnKeys) {
    MemoryConsole console;
    console.AddText(
        "\xFF"
        "b");
    const Key invalid = console.ReadKey();
    EXPECT_EQ(invalid.character, U'\uFFFD');
    EXPECT_EQ(invalid.bytes, "\xFF");
    EXPECT_EQ(console.ReadKey().bytes, "b");
}

TEST(RecordingToolkit, MessageBoxClosesOnlyOnEnterSpaceEscapeOrEnded) {
    struct Case {
        const char* name;
        Key closer;
    };
    Key enter;
    enter.kind = Key::Kind::Enter;
    Key space;
    space.kind = Key::Kind::Character;
    space.character = U' ';
    space.bytes = " ";
    Key escape;
    escape.kind = Key::Kind::Escape;
    Key ended;
    ended.kind = Key::Kind::Ended;
    const Case kCases[] = {{"Enter", enter}, {"Space", space}, {"Escape", escape}, {"Ended", ended}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        MemoryConsole console;
        RecordingToolkit toolkit(&console);
        console.AddText("xy");
        Key arrow;
        arrow.kind = Key::Kind::Other;
        console.AddKey(arrow);
        console.AddBackspace();
        console.AddKey(c.closer);
        console.AddText("after");
        toolkit.ConsoleMessageBox("message", 0, "caption", 0, 0);
        EXPECT_EQ(console.KeysRead(), 5u);
        EXPECT_EQ(toolkit.messages, std::vector<std::string>{"message"});
        EXPECT_EQ(toolkit.calls, std::vector<std::string>{"ConsoleMessageBox(message, 0, caption, 0, 0)"});
    }
}

TEST(RecordingToolkit, MessageBoxWithoutConsoleReturnsAtOnce) {
    RecordingToolkit toolkit;
    toolkit.ConsoleMessageBox("m", 0, "c", 0, 0);
    EXPECT_EQ(toolkit.captions, std::vector<std::string>{"c"});
}

}  // namespace
}  // namespace stereotools
