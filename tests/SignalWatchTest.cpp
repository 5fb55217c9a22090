#include "cli/SignalWatch.h"

#include "system/Signals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace stereotools {
namespace {

bool Blocked(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// A stop sent to the process reaches the watch, not the handler, even with
// other threads running.
TEST(SignalWatch, TakesAStopSignalOnItsOwnThread) {
    InstallSignalHandlers();
    const SignalWatch watch;
    std::thread worker([] { EXPECT_TRUE(Blocked(SIGINT)) << "a thread started later blocks the stops too"; });
    worker.join();
    EXPECT_EQ(watch.StopStatus(), 0);

    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (watch.StopStatus() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(watch.StopStatus(), 128 + SIGTERM);
    EXPECT_EQ(PendingStopSignal(), 0) << "the handler never ran";
}

// As under nohup, or in a script's background job: the signal stays
// ignored, and the watch still ends.
TEST(SignalWatch, PassesOverASignalTheProgramWasStartedIgnoring) {
    signal(SIGHUP, SIG_IGN);
    signal(SIGINT, SIG_IGN);
    InstallSignalHandlers();
    {
        const SignalWatch watch;
        ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
        ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
        ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (watch.StopStatus() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(watch.StopStatus(), 128 + SIGUSR1);
    }
    {
        const SignalWatch watch;
        ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(watch.StopStatus(), 0);
    }
}

TEST(SignalWatch, EndsWithoutAStopAndPutsTheMaskBack) {
    InstallSignalHandlers();
    ASSERT_FALSE(Blocked(SIGINT));
    {
        const SignalWatch watch;
        EXPECT_TRUE(Blocked(SIGINT));
        EXPECT_TRUE(Blocked(SIGHUP));
    }
    EXPECT_FALSE(Blocked(SIGINT));
    EXPECT_EQ(PendingStopSignal(), 0) << "the wake-up call at the end is no stop";
}

}  // namespace
}  // namespace stereotools
