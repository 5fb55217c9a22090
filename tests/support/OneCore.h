#pragma once

#include <sched.h>

namespace testwave {

// Holds the calling thread to the first core it may run on for the
// object's lifetime, as `taskset -c` holds a process; what the thread asks
// of its affinity is then what a pinned process sees.
class ScopedOneCore {
public:
    ScopedOneCore() {
        held_ = sched_getaffinity(0, sizeof saved_, &saved_) == 0;
        if (!held_) return;
        int first = 0;
        while (!CPU_ISSET(first, &saved_)) ++first;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        held_ = sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~ScopedOneCore() {
        if (held_) sched_setaffinity(0, sizeof saved_, &saved_);
    }
    ScopedOneCore(const ScopedOneCore&) = delete;
    ScopedOneCore& operator=(const ScopedOneCore&) = delete;

    // Returns whether the thread is held to one core.
    [[nodiscard]] bool Held() const { return held_; }

private:
    cpu_set_t saved_;
    bool held_ = false;
};

}  // namespace testwave
