#pragma once

// Helpers for tests of the jobs:
//   ScriptedMonitor  records the progress a job reports and stops it at the
//                    check a test chooses.
//   Accept           checks an input file as a front end does before a job.

#include "jobs/Job.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

// Returns `path` checked as a front end checks it before a job; fails the
// test when the file is refused.
inline stereotools::JobInput Accept(const std::string& path, int channels) {
    const stereotools::InputCheck check = stereotools::CheckInput(path, channels);
    EXPECT_TRUE(check) << path << ": " << check.error.Describe() << " problem " << static_cast<int>(check.problem);
    return check.input;
}

}  // namespace testjobs
