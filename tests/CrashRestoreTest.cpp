#include "console/CrashRestore.h"
#include "support/ChildRun.h"
#include "system/Signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace stereotools {
namespace {

TEST(CrashRestore, WritesTheTextThenDiesOfTheSameSignal) {
    for (int signal : kCrashSignals) {
        SCOPED_TRACE(signal);
        const ChildRun run = RunInChild([signal] {
            InstallSignalHandlers();
            SetCrashRestoreText("\033[?1049l restored");
            raise(signal);
            return 0;
        });
        ASSERT_TRUE(WIFSIGNALED(run.status));
        EXPECT_EQ(WTERMSIG(run.status), signal);
        EXPECT_EQ(run.output, "\033[?1049l restored");
    }
}

TEST(CrashRestore, WritesNothingOnceCleared) {
    const ChildRun run = RunInChild([] {
        InstallSignalHandlers();
        SetCrashRestoreText("restore");
        ClearCrashRestoreText();
        raise(SIGSEGV);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(run.status));
    EXPECT_EQ(WTERMSIG(run.status), SIGSEGV);
    EXPECT_EQ(run.output, "");
}

TEST(CrashRestore, KeepsOnlyTheFirstBytesOfAnOverlongText) {
    const std::string text(kMaxCrashRestoreBytes + 100, 'r');
    const ChildRun run = RunInChild([&text] {
        InstallSignalHandlers();
        SetCrashRestoreText(text);
        raise(SIGABRT);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(run.status));
    EXPECT_EQ(run.output, text.substr(0, kMaxCrashRestoreBytes));
}

}  // namespace
}  // namespace stereotools
