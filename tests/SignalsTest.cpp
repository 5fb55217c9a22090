#include "jobs/Signals.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace stereotools {
namespace {

// What a child process did: its standard output and how it ended.
struct ChildRun {
    std::string output;
    int status = 0;
};

// Runs `body` in a child process whose standard output is a pipe; the child
// exits with what `body` returns, unless a signal ends it first.
template <typename Body>
ChildRun RunInChild(Body body) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        _exit(body());
    }
    close(pipeEnds[1]);
    ChildRun run;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    waitpid(child, &run.status, 0);
    return run;
}

TEST(StopSignals, AreRecordedAndDoNotEndTheProgram) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        const ChildRun run = RunInChild([signal] {
            InstallSignalHandlers();
            if (PendingStopSignal() != 0) return 2;
            raise(signal);
            return PendingStopSignal() == signal ? 0 : 3;
        });
        ASSERT_TRUE(WIFEXITED(run.status));
        EXPECT_EQ(WEXITSTATUS(run.status), 0);
    }
    EXPECT_EQ(ExitStatusForSignal(SIGTERM), 143);
    EXPECT_EQ(ExitStatusForSignal(SIGINT), 130);
}

TEST(StopSignals, AreAllInTheSetBlockedAroundAWait) {
    const sigset_t stops = StopSignalSet();
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) EXPECT_EQ(sigismember(&stops, signal), 1) << signal;
    EXPECT_EQ(sigismember(&stops, SIGSEGV), 0);
}

TEST(InstallSignalHandlers, IgnoresBrokenPipesAndFileSizeLimits) {
    const ChildRun run = RunInChild([] {
        InstallSignalHandlers();
        raise(SIGPIPE);
        raise(SIGXFSZ);
        return 0;
    });
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

TEST(CrashRestore, WritesTheTextThenDiesOfTheSameSignal) {
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
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
