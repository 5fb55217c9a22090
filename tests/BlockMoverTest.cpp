#include "jobs/BlockMover.h"

#include "support/OneCore.h"
#include "support/TestJobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <signal.h>

namespace stereotools {
namespace {

using testjobs::ScriptedMonitor;

// Work that records which thread moved which block, and fails the block
// `failAt` if set.
class RecordingWork final : public BlockWork {
public:
    explicit RecordingWork(std::optional<uint64_t> failAt = std::nullopt) : failAt_(failAt) {}

    IoError Move(unsigned thread, uint64_t index, ChannelBlocks& block) override {
        // Every block arrives with buffers of its own thread, whole.
        EXPECT_TRUE(block.Allocated());
        block.interleaved.Data()[0] = static_cast<uint8_t>(index);
        {
            std::lock_guard lock(mutex_);
            moves.emplace_back(thread, index);
        }
        if (failAt_ && index == *failAt_) return {IoError::Operation::Write, "out.wav", ENOSPC, {}};
        return {};
    }

    std::vector<std::pair<unsigned, uint64_t>> moves;  // (thread, block) in the order they ended

private:
    std::optional<uint64_t> failAt_;
    std::mutex mutex_;
};

BlockPlan Plan(uint64_t blocks, unsigned threads) {
    BlockPlan plan;
    plan.blocks = blocks;
    plan.sampleWidth = 2;
    plan.bytesPerBlock = 100;
    plan.totalBytes = blocks == 0 ? 0 : blocks * 100 - 30;  // the last block is short
    plan.threads = threads;
    return plan;
}

const IoError kNoMemory{IoError::Operation::Memory, "in.wav", ENOMEM, {}};

// Alone, the caller moves every block in order and tells the progress
// after each but the last, then the total.
TEST(MoveBlocks, AloneMovesEveryBlockInOrder) {
    RecordingWork work;
    ScriptedMonitor monitor;
    ASSERT_TRUE(MoveBlocks(Plan(3, 1), work, monitor, kNoMemory));
    EXPECT_EQ(work.moves, (std::vector<std::pair<unsigned, uint64_t>>{{0, 0}, {0, 1}, {0, 2}}));
    EXPECT_EQ(monitor.progress,
              (std::vector<std::pair<uint64_t, uint64_t>>{{0, 270}, {100, 270}, {200, 270}, {270, 270}}));
}

// With two threads the caller moves the first half and the helper the
// second, each block once; the progress only grows and ends at the total.
TEST(MoveBlocks, TwoThreadsShareTheBlocksInHalves) {
    for (const uint64_t blocks : {8u, 9u, 16u}) {
        SCOPED_TRACE(blocks);
        RecordingWork work;
        ScriptedMonitor monitor;
        ASSERT_TRUE(MoveBlocks(Plan(blocks, 2), work, monitor, kNoMemory));
        ASSERT_EQ(work.moves.size(), blocks);
        std::vector<unsigned> mover(blocks, 9);
        for (const auto& [thread, index] : work.moves) mover[index] = thread;
        const uint64_t half = (blocks + 1) / 2;
        for (uint64_t index = 0; index < blocks; ++index) EXPECT_EQ(mover[index], index < half ? 0u : 1u) << index;
        ASSERT_GE(monitor.progress.size(), 2u);
        EXPECT_EQ(monitor.progress.front().first, 0u);
        EXPECT_EQ(monitor.progress.back().first, blocks * 100 - 30);
        for (std::size_t i = 1; i < monitor.progress.size(); ++i) {
            EXPECT_GT(monitor.progress[i].first, monitor.progress[i - 1].first);
        }
    }
}

// A short job is never shared: the caller does it alone.
TEST(MoveBlocks, ShortJobsRunOnTheCallerAlone) {
    for (const uint64_t blocks : {1u, 7u}) {
        RecordingWork work;
        ScriptedMonitor monitor;
        ASSERT_TRUE(MoveBlocks(Plan(blocks, 2), work, monitor, kNoMemory));
        ASSERT_EQ(work.moves.size(), blocks);
        for (uint64_t index = 0; index < blocks; ++index) {
            EXPECT_EQ(work.moves[index], (std::pair<unsigned, uint64_t>{0, index}));
        }
    }

    RecordingWork none;
    ScriptedMonitor quiet;
    ASSERT_TRUE(MoveBlocks(Plan(0, 2), none, quiet, kNoMemory));
    EXPECT_TRUE(none.moves.empty());
    EXPECT_EQ(quiet.progress, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}}));
}

// A failed block ends the run with its error, on whichever thread it
// failed: that thread moves no block after it, and the total is never told.
TEST(MoveBlocks, EndsWithTheErrorOfAFailedBlockOnEitherThread) {
    for (const uint64_t failAt : {0u, 1u, 5u, 6u, 11u}) {
        SCOPED_TRACE(failAt);
        RecordingWork work(failAt);
        ScriptedMonitor monitor;
        const JobResult result = MoveBlocks(Plan(12, 2), work, monitor, kNoMemory);
        EXPECT_EQ(result.error.errorNumber, ENOSPC);
        EXPECT_EQ(result.stopStatus, 0);
        const unsigned failedThread = failAt < 6 ? 0 : 1;
        for (const auto& [thread, index] : work.moves) {
            if (thread == failedThread) {
                EXPECT_LE(index, failAt);
            }
        }
        EXPECT_NE(monitor.progress.back().first, 12u * 100 - 30);
    }
}

// A stop asked for before a block ends the run with its status and moves
// no block after it on the caller's thread.
TEST(MoveBlocks, StopsWhenAskedBeforeABlock) {
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        RecordingWork work;
        ScriptedMonitor monitor(143, 1);
        const JobResult result = MoveBlocks(Plan(10, threads), work, monitor, kNoMemory);
        EXPECT_EQ(result.stopStatus, 143);
        EXPECT_FALSE(result.error);
        std::size_t callerBlocks = 0;
        for (const auto& move : work.moves) callerBlocks += move.first == 0;
        EXPECT_EQ(callerBlocks, 1u);
    }
}

// Work whose helper blocks take long: a stop must not wait for them.
class SlowHelperWork final : public BlockWork {
public:
    IoError Move(unsigned thread, uint64_t, ChannelBlocks&) override {
        if (thread == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++helperMoves;
        }
        return {};
    }
    std::atomic<int> helperMoves{0};
};

// Once its own half is done the caller still answers a stop while the
// helper works, and the helper starts no block after the stop.
TEST(MoveBlocks, AnswersAStopWhileWaitingForTheHelper) {
    SlowHelperWork work;
    // Checks: one before each of the caller's 50 blocks, then while waiting.
    ScriptedMonitor monitor(130, 52);
    const JobResult result = MoveBlocks(Plan(100, 2), work, monitor, kNoMemory);
    EXPECT_EQ(result.stopStatus, 130);
    EXPECT_LT(work.helperMoves.load(), 50);
}

// Work that notes whether the helper thread takes stop signals and faults.
class SignalMaskWork final : public BlockWork {
public:
    IoError Move(unsigned thread, uint64_t, ChannelBlocks&) override {
        if (thread == 1) {
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            stopsBlocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
            faultsOpen = sigismember(&mask, SIGSEGV) == 0 && sigismember(&mask, SIGBUS) == 0;
        }
        return {};
    }
    std::atomic<bool> stopsBlocked{false};
    std::atomic<bool> faultsOpen{false};
};

// Stop signals reach the caller's thread (or the program's watcher), never
// the helper; a fault in the helper still reaches the crash handler. The
// caller's own mask is as it was.
TEST(MoveBlocks, LeavesSignalsToTheThreadsThatTakeThem) {
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, nullptr, &before);
    SignalMaskWork work;
    ScriptedMonitor monitor;
    ASSERT_TRUE(MoveBlocks(Plan(8, 2), work, monitor, kNoMemory));
    EXPECT_TRUE(work.stopsBlocked.load());
    EXPECT_TRUE(work.faultsOpen.load());
    sigset_t after;
    pthread_sigmask(SIG_BLOCK, nullptr, &after);
    EXPECT_EQ(sigismember(&after, SIGINT), sigismember(&before, SIGINT));
    EXPECT_EQ(sigismember(&after, SIGTERM), sigismember(&before, SIGTERM));
}

TEST(ThreadsPerJob, GivesTwoThreadsOnlyWhileEachJobHasTwoCores) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    const auto cores = static_cast<unsigned>(CPU_COUNT(&allowed));
    EXPECT_EQ(ThreadsPerJob(1), cores >= 2 ? 2u : 1u);
    EXPECT_EQ(ThreadsPerJob(0), ThreadsPerJob(1));
    EXPECT_EQ(ThreadsPerJob(cores), 1u);
}

// A process held to one core (taskset, a container's CPU set) moves its
// samples on one thread, however many cores the machine has: a helper
// would only take turns with it.
TEST(ThreadsPerJob, CountsOnlyTheCoresTheProcessMayRunOn) {
    const testwave::ScopedOneCore pinned;
    ASSERT_TRUE(pinned.Held());
    EXPECT_EQ(ThreadsPerJob(1), 1u);
}

// A stereo block is the most frames a power of two that fits: more than
// half the block's bytes, whole vectors of every width.
TEST(BlockFrames, FillsABlockWithAPowerOfTwoOfFramesOfEveryWidth) {
    for (unsigned width = 1; width <= 8; ++width) {
        SCOPED_TRACE(width);
        const std::size_t frames = BlockFrames(width);
        EXPECT_TRUE(std::has_single_bit(frames));
        EXPECT_EQ(frames * width % 64, 0u);
        EXPECT_LE(frames * 2 * width, kSampleBlockBytes);
        EXPECT_GT(frames * 2 * width, kSampleBlockBytes / 2);
    }
}

// The three buffers of a block are page-aligned and apart, and two blocks
// alive at once never share memory, also when one is reused.
TEST(ChannelBlocks, GivesEachBlockBuffersOfItsOwn) {
    const auto check = [](ChannelBlocks& block, unsigned width) {
        ASSERT_TRUE(block.Allocated());
        const std::size_t channelBytes = block.frames * width;
        for (const SampleBuffer* buffer : {&block.interleaved, &block.left, &block.right}) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer->Data()) % 4096, 0u);
        }
        EXPECT_GE(block.left.Data(), block.interleaved.Data() + 2 * channelBytes);
        EXPECT_GE(block.right.Data(), block.left.Data() + channelBytes);
        std::fill_n(block.interleaved.Data(), 2 * channelBytes, uint8_t{1});
        std::fill_n(block.left.Data(), channelBytes, uint8_t{2});
        std::fill_n(block.right.Data(), channelBytes, uint8_t{3});
    };
    for (int round = 0; round < 3; ++round) {
        ChannelBlocks first(8);
        ChannelBlocks second(3);
        check(first, 8);
        check(second, 3);
        EXPECT_EQ(first.interleaved.Data()[2 * first.frames * 8 - 1], 1);
        const uint8_t* a = first.interleaved.Data();
        const uint8_t* b = second.interleaved.Data();
        EXPECT_TRUE(a + 2 * kSampleBlockBytes <= b || b + 2 * kSampleBlockBytes <= a);
    }
}

// Blocks of many channels: the interleaved frames (a split's piece) and
// every channel's share fit their buffers without overlapping, a block spans
// at most 9 MiB, its buffers' leads and a cache line per channel up to 64
// (two threads of a 64-channel job stay under 19 MiB), every share is
// aligned for the kernels' vector stores, and up to 64 channels no two
// shares start at one offset into a page (stores to all of them at one
// offset would contend for one cache set).
TEST(ChannelBlocks, HoldsManyChannelsWithinTheirMemory) {
    for (const unsigned channels : {3u, 6u, 16u, 24u, 64u, 1000u, 65535u}) {
        for (const auto& [width, split] : {std::pair{1u, false}, {3u, false}, {8u, false}, {1u, true}, {3u, true}}) {
            SCOPED_TRACE(std::to_string(channels) + " channels of " + std::to_string(width) + " bytes" +
                         (split ? ", split" : ""));
            ChannelBlocks block(width, channels, split);
            ASSERT_TRUE(block.Allocated());
            ASSERT_EQ(block.channels.size(), channels);
            const std::size_t share = block.frames * width;
            EXPECT_GE(block.frames, 1u);
            EXPECT_LE(share * channels, BlockBytes(channels, split));
            const std::size_t read = split ? std::min(block.frames, SplitPieceFrames(width, channels)) : block.frames;
            EXPECT_LE(read * width * channels, kSampleBlockBytes * (split ? 1 : 4));
            const uint8_t* end = block.interleaved.Data() + read * width * channels;
            std::set<uintptr_t> pageOffsets;
            for (const SampleBuffer& channel : block.channels) {
                EXPECT_GE(channel.Data(), end);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(channel.Data()) % 64, 0u);
                pageOffsets.insert(reinterpret_cast<uintptr_t>(channel.Data()) % 4096);
                end = channel.Data() + share;
            }
            if (channels <= 64) {
                EXPECT_EQ(pageOffsets.size(), channels);
            }
            EXPECT_LE(end - block.interleaved.Data(),
                      (std::ptrdiff_t{9} << 20) +
                          static_cast<std::ptrdiff_t>(channels * (BufferLead(channels) + (channels <= 64 ? 64 : 0))));
            std::fill(block.interleaved.Data(), block.interleaved.Data() + read * width * channels, uint8_t{1});
            std::fill(block.channels.back().Data(), block.channels.back().Data() + share, uint8_t{2});
        }
    }
    // Stereo blocks are as they always were: 1 MiB of frames, whole vectors.
    EXPECT_EQ(BlockBytes(2), kSampleBlockBytes);
    EXPECT_EQ(BlockFrames(3, 2), BlockFrames(3));
}

}  // namespace
}  // namespace stereotools
