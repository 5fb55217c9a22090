#include "support/ChildRun.h"
#include "support/TestWave.h"
#include "system/Signals.h"
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

// Every signal whose default action ends the program without a fault.
const std::vector<int> kEndingSignals = {SIGINT,    SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM,
                                         SIGVTALRM, SIGXCPU, SIGPWR, SIGPROF, SIGIO,   SIGSTKFLT};
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

TEST(CrashStep, IsTakenAfterTheOutputsAreRemovedThenTheProgramDies) {
    for (int signal : kCrashSignals) {
        SCOPED_TRACE(signal);
        const ChildRun run = RunInChild([signal] {
            InstallSignalHandlers();
            SetCrashStep([] { (void)!::write(STDOUT_FILENO, "step", 4); });
            raise(signal);
            return 0;
        });
        ASSERT_TRUE(WIFSIGNALED(run.status));
        EXPECT_EQ(WTERMSIG(run.status), signal);
        EXPECT_EQ(run.output, "step");
    }
    const ChildRun none = RunInChild([] {
        InstallSignalHandlers();
        SetCrashStep([] { (void)!::write(STDOUT_FILENO, "step", 4); });
        SetCrashStep(nullptr);
        raise(SIGSEGV);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(none.status));
    EXPECT_EQ(none.output, "");
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
