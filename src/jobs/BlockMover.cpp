#include "BlockMover.h"

#include "system/Cores.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include <pthread.h>
#include <signal.h>

namespace stereotools {
namespace {

// A job of fewer blocks runs on the caller alone: it would end before a
// helper thread had started (a thread and an idle core to wake) and paid
// for itself. Measured: from 8 MiB on, two threads were faster.
constexpr uint64_t kMinBlocksForHelper = 8;

// How often a caller that waits for the helper asks whether to stop.
constexpr std::chrono::milliseconds kStopPollInterval{50};

// What the two threads of a job share: how far the helper is, and how the
// job ends when it ends early.
class SharedRun {
public:
    // Ends both threads' work early with `result`, unless an earlier end stands.
    void Abort(JobResult result) {
        std::lock_guard lock(mutex_);
        if (!aborted_.load()) result_ = std::move(result);
        aborted_ = true;
    }
    [[nodiscard]] bool Aborted() const { return aborted_.load(); }

    void HelperMoved() { ++helperBlocks_; }
    [[nodiscard]] uint64_t HelperBlocks() const { return helperBlocks_.load(); }

    void HelperDone() {
        std::lock_guard lock(mutex_);
        helperDone_ = true;
        done_.notify_all();
    }
    // Returns whether the helper finished within `wait`.
    [[nodiscard]] bool WaitForHelper(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        return done_.wait_for(lock, wait, [&] { return helperDone_; });
    }

    // Returns how the run ended; read once both threads are done.
    [[nodiscard]] JobResult Result() {
        std::lock_guard lock(mutex_);
        return result_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::atomic<bool> aborted_{false};
    std::atomic<uint64_t> helperBlocks_{0};
    bool helperDone_ = false;  // guarded by mutex_
    JobResult result_;         // guarded by mutex_
};

// Blocks, while it lives, the signals a thread started meanwhile should
// not take: all but those a fault raises in the thread itself. A helper
// then never runs a handler, and signals reach the threads the program
// set up for them.
class HelperSignalMask {
public:
    HelperSignalMask() {
        sigset_t blocked;
        sigfillset(&blocked);
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&blocked, fault);
        pthread_sigmask(SIG_BLOCK, &blocked, &saved_);
    }
    ~HelperSignalMask() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    HelperSignalMask(const HelperSignalMask&) = delete;
    HelperSignalMask& operator=(const HelperSignalMask&) = delete;

private:
    sigset_t saved_;
};

// Moves blocks [first, end) on the helper thread until done or aborted.
void RunHelper(BlockWork& work, ChannelBlocks& block, uint64_t first, uint64_t end, SharedRun& run) {
    for (uint64_t index = first; index < end && !run.Aborted(); ++index) {
        if (IoError error = work.Move(1, index, block)) {
            run.Abort({std::move(error), 0});
            break;
        }
        run.HelperMoved();
    }
    if (!run.Aborted()) {
        if (IoError error = work.Finish(1)) run.Abort({std::move(error), 0});
    }
    run.HelperDone();
}

}  // namespace

unsigned ThreadsPerJob(unsigned concurrentJobs) {
    const unsigned cores = UsableCores();
    return cores >= 2 * std::max(1u, concurrentJobs) ? 2 : 1;
}

JobResult MoveBlocks(const BlockPlan& plan, BlockWork& work, JobMonitor& monitor, const IoError& memoryError) {
    ChannelBlocks own(plan.sampleWidth, plan.channels, plan.split);
    if (!own.Allocated()) return {memoryError, 0};
    monitor.Progress(0, plan.totalBytes);

    SharedRun run;
    uint64_t ownEnd = plan.blocks;
    std::unique_ptr<ChannelBlocks> helperBlock;
    std::thread helper;
    if (plan.threads >= 2 && plan.blocks >= kMinBlocksForHelper) {
        helperBlock.reset(new (std::nothrow) ChannelBlocks(plan.sampleWidth, plan.channels, plan.split));
        // Without memory or a thread for the helper the caller does it all,
        // as on a single core.
        if (helperBlock && helperBlock->Allocated()) {
            const uint64_t half = (plan.blocks + 1) / 2;
            try {
                const HelperSignalMask mask;
                helper =
                    std::thread(RunHelper, std::ref(work), std::ref(*helperBlock), half, plan.blocks, std::ref(run));
                ownEnd = half;
            } catch (const std::system_error&) {}
        }
    }
    uint64_t ownDone = 0;
    uint64_t reported = 0;
    const auto report = [&] {
        const uint64_t done = (ownDone + run.HelperBlocks()) * plan.bytesPerBlock;
        // The total is told once, when every block is written.
        if (done > reported && done < plan.totalBytes) monitor.Progress(done, plan.totalBytes);
        reported = std::max(reported, done);
    };
    for (uint64_t index = 0; index < ownEnd && !run.Aborted(); ++index) {
        if (const int stop = monitor.PendingStop()) {
            run.Abort({{}, stop});
            break;
        }
        if (IoError error = work.Move(0, index, own)) {
            run.Abort({std::move(error), 0});
            break;
        }
        ++ownDone;
        report();
    }
    if (!run.Aborted()) {
        if (IoError error = work.Finish(0)) run.Abort({std::move(error), 0});
    }
    if (helper.joinable()) {
        while (!run.WaitForHelper(kStopPollInterval)) {
            if (const int stop = monitor.PendingStop()) run.Abort({{}, stop});
            if (!run.Aborted()) report();
        }
        helper.join();
    }
    JobResult result = run.Result();
    if (result && plan.blocks > 0) monitor.Progress(plan.totalBytes, plan.totalBytes);
    return result;
}

}  // namespace stereotools
