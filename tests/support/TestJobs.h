#pragma once

// Helpers for tests of the jobs:
//   ScriptedMonitor  records the progress a job reports and stops it at the
//                    check a test chooses.
//   Accept           checks an input file as a front end does before a job.
//   FailingSampleWrites  file calls whose sample writes fail from one on.

#include "jobs/Job.h"
#include "system/FileIo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace testjobs {

class ScriptedMonitor final : public stereotools::JobMonitor {
public:
    ScriptedMonitor() = default;
    // Makes PendingStop return `status` from its (afterChecks + 1)-th call on.
    ScriptedMonitor(int status, std::size_t afterChecks) : stopStatus_(status), stopAfter_(afterChecks) {}

    void Progress(uint64_t done, uint64_t total) override { progress.emplace_back(done, total); }
    int PendingStop() const override { return checks_++ >= stopAfter_ ? stopStatus_ : 0; }

    std::vector<std::pair<uint64_t, uint64_t>> progress;  // (done, total) in the order reported

private:
    int stopStatus_ = 0;
    std::size_t stopAfter_ = 0;
    mutable std::size_t checks_ = 0;
};

// Fails the sample writes from the `failAt`-th on (counted from 1, on
// both threads together) with ENOSPC.
struct FailingSampleWrites {
    static inline std::atomic<int> calls{0};
    static inline int failAt = 0;
    static ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
        if (++calls >= failAt) {
            errno = ENOSPC;
            return -1;
        }
        return ::pwrite(fd, buffer, count, offset);
    }
    static stereotools::FileCalls Calls(int first) {
        calls = 0;
        failAt = first;
        stereotools::FileCalls fake = stereotools::SystemFileCalls();
        fake.pwrite = Pwrite;
        return fake;
    }
};

// Returns `path` checked as a front end checks it before a job; fails the
// test when the file is refused.
inline stereotools::JobInput Accept(const std::string& path, int channels) {
    const stereotools::InputCheck check = stereotools::CheckInput(path, channels);
    EXPECT_TRUE(check) << path << ": " << check.error.Describe() << " problem " << static_cast<int>(check.problem);
    return check.input;
}

}  // namespace testjobs
