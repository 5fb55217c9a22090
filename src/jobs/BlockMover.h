#pragma once

#include "Job.h"
#include "SampleBlock.h"

#include <cstdint>

namespace stereotools {

// What a job does to each block of its samples.
class BlockWork {
public:
    virtual ~BlockWork() = default;
    // Reads block `index` into `block`, rearranges its samples and writes
    // them to their places in the outputs, on thread `thread` (0 the
    // caller, 1 the helper). Called from both threads at once, for different
    // blocks. Returns an empty error, or the one the job ends with.
    [[nodiscard]] virtual IoError Move(unsigned thread, uint64_t index, ChannelBlocks& block) = 0;
    // Ends the work of thread `thread` once it has moved all its blocks.
    // Returns an empty error, or the one the job ends with.
    [[nodiscard]] virtual IoError Finish(unsigned thread) {
        (void)thread;
        return {};
    }
};

// How a job's samples are moved by MoveBlocks.
struct BlockPlan {
    uint64_t blocks = 0;         // blocks to move
    unsigned sampleWidth = 1;    // bytes per sample: sizes the buffers
    unsigned channels = 2;       // samples per frame: sizes the buffers
    bool split = false;          // buffers sized for a split (BlockBytes)
    uint64_t bytesPerBlock = 0;  // sample bytes a whole block moves, for the progress
    uint64_t totalBytes = 0;     // sample bytes the job moves in all
    unsigned threads = 1;        // 2: a helper thread moves the second half of the blocks
};

// Returns the threads each of `concurrentJobs` jobs running at once should
// move its samples with: 2 while the process may run on two cores for each
// (its CPU affinity counts, not the machine's cores), else 1.
[[nodiscard]] unsigned ThreadsPerJob(unsigned concurrentJobs);

// Moves the blocks of `plan` in order, each thread through its own buffers
// so that a block is read, rearranged and written while it is in that
// core's cache; with two threads the caller takes the first half and a
// helper the second (the caller alone for a short job, or when no thread
// can be had), each ending with BlockWork::Finish. Tells
// `monitor` the progress (0 first, then after each of the caller's blocks,
// the total last once all is written) and asks it before each of the
// caller's blocks, and while the caller waits for the helper, whether to
// stop; both only from the calling thread. Returns success, the stop, the
// first error of `work`, or `memoryError` when the buffers cannot be had.
[[nodiscard]] JobResult MoveBlocks(const BlockPlan& plan, BlockWork& work, JobMonitor& monitor,
                                   const IoError& memoryError);

}  // namespace stereotools
