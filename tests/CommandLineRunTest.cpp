#include "cli/CommandLineRun.h"

#include "support/TestWave.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace stereotools {
namespace {

using testwave::CountingBytes;
using testwave::WaveBuilder;

// Runs `tool` on `arguments` as main() would. Returns the exit status.
int RunTool(Tool tool, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ToolName(tool));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return RunCommandLine(tool, static_cast<int>(arguments.size()), argv.data());
}

// Fake commit calls that refuse to put a right-channel output in place.
struct RefuseRightOutputs {
    static bool IsRight(const char* name) {
        return std::string_view(name).find("right channel") != std::string_view::npos;
    }
    static int RenameAt(int fromFolder, const char* from, int toFolder, const char* to) {
        if (IsRight(to)) {
            errno = EIO;
            return -1;
        }
        return SystemFileCalls().renameat(fromFolder, from, toFolder, to);
    }
    static int RenameAt2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
        if (IsRight(to)) {
            errno = EIO;
            return -1;
        }
        return SystemFileCalls().renameat2(fromFolder, from, toFolder, to, flags);
    }
    static FileCalls Calls() {
        FileCalls fake = SystemFileCalls();
        fake.renameat = RenameAt;
        fake.renameat2 = RenameAt2;
        return fake;
    }
};

class CommandLineRun : public testwave::WithTempFolder {};

// A split whose right output fails at its commit has put the left in
// place: standard output names it, standard error says what failed.
TEST_F(CommandLineRun, NamesTheOutputASplitWroteBeforeItFailed) {
    const std::string input = folder.Write("take.wav", WaveBuilder().Channels(2).Samples(CountingBytes(64)).Build());
    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "replacing" : "new outputs");
        std::vector<std::string> arguments = {input};
        if (force) arguments.insert(arguments.begin(), "-f");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = 0;
        {
            const testwave::ScopedFileCalls faults(RefuseRightOutputs::Calls());
            status = RunTool(Tool::Split, arguments);
        }
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, 1);
        EXPECT_EQ(out, "stereorip: wrote '" + folder.Path("take left channel.wav") + "'\n");
        EXPECT_EQ(err, "stereorip: " + input + ": Cannot write '" + folder.Path("take right channel.wav") +
                           "': Input/output error\n");
        EXPECT_TRUE(folder.Read("take left channel.wav"));
        EXPECT_FALSE(folder.Read("take right channel.wav"));
    }
}

}  // namespace
}  // namespace stereotools
