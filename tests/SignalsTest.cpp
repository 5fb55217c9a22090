#include "system/Signals.h"
#include "support/TestWave.h"
#include "system/UnfinishedOutputs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

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

// Every signal whose default action ends the program without a fault.
const std::vector<int> kEndingSignals = {SIGINT,    SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM,
                                         SIGVTALRM, SIGXCPU, SIGPWR, SIGPROF, SIGIO,   SIGSTKFLT};
const std::vector<int> kCrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP};

TEST(StopSignals, AreRecordedAndDoNotEndTheProgram) {
    for (int signal : kEndingSignals) {
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
    for (int signal : kEndingSignals) EXPECT_EQ(sigismember(&stops, signal), 1) << signal;
    for (int signal : kCrashSignals) EXPECT_EQ(sigismember(&stops, signal), 0) << signal;
}

TEST(StopSignals, StayIgnoredWhenTheProgramWasStartedIgnoringThem) {
    // As under nohup, or in a script's background job.
    const ChildRun run = RunInChild([] {
        signal(SIGHUP, SIG_IGN);
        signal(SIGINT, SIG_IGN);
        InstallSignalHandlers();
        raise(SIGHUP);
        raise(SIGINT);
        if (PendingStopSignal() != 0) return 2;
        raise(SIGTERM);
        return PendingStopSignal() == SIGTERM ? 0 : 3;
    });
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
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

class CrashCleanUp : public testwave::WithTempFolder {};

TEST_F(CrashCleanUp, RemovesTheUnfinishedOutputsBeforeDying) {
    for (int signal : kCrashSignals) {
        SCOPED_TRACE(signal);
        folder.Write(".take.wav.unfinished", {1, 2, 3});
        folder.Write(".take.wav.released", {4});
        const ChildRun run = RunInChild([this, signal] {
            InstallSignalHandlers();
            const int at = ::open(folder.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            const int unfinished = RecordUnfinishedOutput(at, ".take.wav.unfinished");
            const int released = RecordUnfinishedOutput(at, ".take.wav.released");
            if (unfinished < 0 || released < 0) return 2;
            ReleaseUnfinishedOutput(released);
            raise(signal);
            return 0;
        });
        ASSERT_TRUE(WIFSIGNALED(run.status));
        EXPECT_EQ(WTERMSIG(run.status), signal);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{".take.wav.released"});
    }
}

}  // namespace
}  // namespace stereotools
